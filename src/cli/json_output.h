// Every JSON object tollwick-cli prints, in one place (schema: docs/cli-json.md). One object per
// line; keys in snake_case; every object has a "type".
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carddata/card_fields.h"
#include "carddata/track_inspector.h"
#include "device/startup_connection.h"

namespace tollwick {

// One track as read or decoded. text is the decoded text, sentinels included; empty for an
// empty track and for a track that failed its check, whose bytes as read are in raw (hex).
enum class TrackStatus { kOk, kEmpty, kError };
struct TrackResult {
    TrackStatus status = TrackStatus::kEmpty;
    std::string text;
    std::string raw;
};
using CardResult = std::array<TrackResult, 3>;
const char* TrackStatusName(TrackStatus status);  // "ok", "empty", "error"

// The object as one line, newline included; bytes that are not UTF-8 become U+FFFD.
std::string JsonLine(const nlohmann::ordered_json& object);

nlohmann::ordered_json ErrorJson(int exitStatus, std::string_view message);
nlohmann::ordered_json TrackJson(const TrackResult& track);
nlohmann::ordered_json InfoJson(const StartupConnection& details, int track2Density);
// A card read; recorded only with --to-file.
nlohmann::ordered_json ReadCardJson(int card, const CardResult& tracks,
                                    std::optional<bool> recorded);
// A card written (or refused: written false, with the reason); texts as sent, no sentinels.
nlohmann::ordered_json WriteCardJson(int card, const TrackTexts& texts, bool written,
                                     std::string_view error = {});
// write --verify: "verified" (true, false, or null when no verify read was made) and
// "verify_failed_tracks" (numbers of the tracks that differ) added to a written card's object.
void AddVerifyJson(nlohmann::ordered_json& card, std::optional<uint8_t> differingTracks);
nlohmann::ordered_json EraseCardJson(int card, uint8_t mask);
// A card whose write or erase went out and whose status never came: "uncertain": true added,
// and "written" (when there) null, neither true nor false.
void MarkUncertain(nlohmann::ordered_json& card);
// inspect: one track's analysis.
nlohmann::ordered_json InspectionJson(int track, const TrackInspection& inspection);
nlohmann::ordered_json SettingJson(std::string_view name, const nlohmann::ordered_json& value);
nlohmann::ordered_json EncodedJson(std::string_view text, std::string_view hex);
nlohmann::ordered_json DecodedJson(std::string_view hex, const TrackResult& track);

// The last object of a batch (read --to-file, write --from-file), also when it stopped early.
struct BatchSummary {
    int cardsDone = 0;    // recorded in the card file, or written
    int cardsFailed = 0;  // read but not recorded, or refused by the reader
    // Written: the cards whose status never came ("cards_uncertain"; left out for reads).
    std::optional<int> cardsUncertain;
    bool interrupted = false;
    int exitStatus = 0;
    nlohmann::ordered_json extra = nlohmann::ordered_json::object();  // the command's own keys
};
nlohmann::ordered_json SummaryJson(const BatchSummary& summary);

}  // namespace tollwick
