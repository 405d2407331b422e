#include "cli/json_output.h"

#include "files/card_export.h"

namespace tollwick {
const char* TrackStatusName(TrackStatus status) {
    switch (status) {
        case TrackStatus::kOk:
            return "ok";
        case TrackStatus::kEmpty:
            return "empty";
        case TrackStatus::kError:
            return "error";
    }
    return "error";
}

std::string JsonLine(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

nlohmann::ordered_json ErrorJson(int exitStatus, std::string_view message) {
    return {{"type", "error"}, {"exit_status", exitStatus}, {"message", message}};
}

nlohmann::ordered_json TrackJson(const TrackResult& track) {
    nlohmann::ordered_json out = {{"text", track.text}, {"status", TrackStatusName(track.status)}};
    if (track.status == TrackStatus::kError) out["raw"] = track.raw;
    return out;
}

nlohmann::ordered_json InfoJson(const StartupConnection& details, int track2Density) {
    nlohmann::ordered_json coercivity = nullptr;
    if (details.coercivity) coercivity = *details.coercivity == kHiCo ? "hi" : "lo";
    nlohmann::ordered_json firmware = nullptr;
    if (details.versionRead) firmware = details.version;
    return {{"type", "info"},
            {"port", details.port},
            {"connection", ConnectionLine(details.port, details.version)},
            {"firmware", firmware},
            {"coercivity", coercivity},
            {"track2_density", track2Density},
            {"density_confirmed", details.densityResult == CardStatus::kDone},
            {"beep_supported", details.beepSupported}};
}

nlohmann::ordered_json ReadCardJson(int card, const CardResult& tracks,
                                    std::optional<bool> recorded) {
    nlohmann::ordered_json out = {{"type", "card"},
                                  {"card", card},
                                  {"track1", TrackJson(tracks[0])},
                                  {"track2", TrackJson(tracks[1])},
                                  {"track3", TrackJson(tracks[2])}};
    if (recorded) out["recorded"] = *recorded;
    return out;
}

nlohmann::ordered_json WriteCardJson(int card, const TrackTexts& texts, bool written,
                                     std::string_view error) {
    nlohmann::ordered_json out = {{"type", "card"}, {"card", card}};
    for (std::size_t t = 0; t < 3; ++t) {
        TrackResult track;
        track.text = texts[t];
        track.status = texts[t].empty() ? TrackStatus::kEmpty : TrackStatus::kOk;
        out["track" + std::to_string(t + 1)] = TrackJson(track);
    }
    out["written"] = written;
    if (!written) out["error"] = error;
    return out;
}

void AddVerifyJson(nlohmann::ordered_json& card, std::optional<uint8_t> differingTracks) {
    nlohmann::ordered_json tracks = nlohmann::ordered_json::array();
    if (differingTracks) {
        for (int t = 0; t < 3; ++t) {
            if (*differingTracks & (1u << t)) tracks.push_back(t + 1);
        }
    }
    card["verified"] = differingTracks ? nlohmann::ordered_json(*differingTracks == 0) : nullptr;
    card["verify_failed_tracks"] = std::move(tracks);
}

nlohmann::ordered_json EraseCardJson(int card, uint8_t mask) {
    nlohmann::ordered_json tracks = nlohmann::ordered_json::array();
    for (int t = 0; t < 3; ++t) {
        if (mask & (1u << t)) tracks.push_back(t + 1);
    }
    return {{"type", "card"}, {"card", card}, {"erased", tracks}};
}

void MarkUncertain(nlohmann::ordered_json& card) {
    if (card.contains("written")) card["written"] = nullptr;
    card["uncertain"] = true;
}

nlohmann::ordered_json InspectionJson(int track, const TrackInspection& in) {
    nlohmann::ordered_json characters = nlohmann::ordered_json::array();
    for (std::size_t k = 0; k < in.characters.size(); ++k) {
        const InspectedCharacter& c = in.characters[k];
        characters.push_back(
            {{"index", k},
             {"offset", c.bitOffset},
             {"bits", CharacterBits(in, c)},
             {"code", c.masked ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(c.code)},
             {"char", std::string(1, c.text)},
             {"parity", ParityVerdictName(c.parity)},
             {"lrc", c.lrc},
             {"role", CharacterRoleName(c.role)}});
    }
    nlohmann::ordered_json failure = nullptr;
    if (in.failure) {
        failure = {{"kind", FailureKindName(in.failure->kind)},
                   {"position", in.failure->position},
                   {"bit", in.failure->bitOffset}};
    }
    nlohmann::ordered_json repair = nullptr;
    if (in.repair) {
        repair = {{"kind", RepairKindName(in.repair->kind)},
                  {"bit", in.repair->bit},
                  {"last_bit", in.repair->lastBit},
                  {"character", in.repair->character},
                  {"text", in.repair->text}};
    }
    nlohmann::ordered_json candidates = nlohmann::ordered_json::array();
    for (const TrackCandidate& c : in.candidates) {
        candidates.push_back({{"bpc", c.format.bpc},
                              {"parity", ParityName(c.format.parity)},
                              {"direction", DirectionName(c.direction)},
                              {"polarity", PolarityName(c.polarity)},
                              {"start_bit", c.startBit},
                              {"checked", c.checked},
                              {"text", c.text}});
    }
    const char* verdict = in.blank ? "blank" : in.decodes ? "good" : "fails";
    return {{"type", "track_inspection"},
            {"track", track},
            {"format", TrackFormatJson(in.settings)},
            {"verdict", verdict},
            {"text", in.decodes && !in.blank ? nlohmann::ordered_json(in.text) : nullptr},
            {"finding", FindingName(in.finding)},
            {"explanation", VerdictText(in)},
            {"bits", in.bits},
            {"leading_zero_bits", in.leadingZeroBits},
            {"trailing_zero_bits", in.trailingZeroBits},
            {"start_bit", in.startBit >= 0 ? nlohmann::ordered_json(in.startBit) : nullptr},
            {"stray_ones", in.strayOnes},
            {"characters", std::move(characters)},
            {"failure", std::move(failure)},
            {"repair", std::move(repair)},
            {"candidates", std::move(candidates)}};
}

nlohmann::ordered_json SettingJson(std::string_view name, const nlohmann::ordered_json& value) {
    return {{"type", "setting"}, {"name", name}, {"value", value}};
}

nlohmann::ordered_json EncodedJson(std::string_view text, std::string_view hex) {
    return {{"type", "encoded"}, {"text", text}, {"hex", hex}};
}

nlohmann::ordered_json DecodedJson(std::string_view hex, const TrackResult& track) {
    return {{"type", "decoded"}, {"hex", hex}, {"track", TrackJson(track)}};
}

nlohmann::ordered_json SummaryJson(const BatchSummary& summary) {
    nlohmann::ordered_json out = {{"type", "summary"},
                                  {"cards_done", summary.cardsDone},
                                  {"cards_failed", summary.cardsFailed}};
    if (summary.cardsUncertain) out["cards_uncertain"] = *summary.cardsUncertain;
    out["interrupted"] = summary.interrupted;
    out["exit_status"] = summary.exitStatus;
    for (const auto& [key, value] : summary.extra.items()) out[key] = value;
    return out;
}

}  // namespace tollwick
