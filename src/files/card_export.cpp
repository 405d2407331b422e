#include "files/card_export.h"

#include <nlohmann/json.hpp>

#include "carddata/account_mask.h"
#include "carddata/card_fields.h"
#include "carddata/hex.h"
#include "carddata/track_inspector.h"
#include "files/user_file.h"

namespace tollwick {
namespace {

using Json = nlohmann::ordered_json;

Json TrackJson(const CardCapture& capture, int t, bool showAccountNumbers) {
    const auto i = static_cast<std::size_t>(t);
    const std::string_view text = capture.card.Text(t);
    const bool failed = (capture.card.trackErrors & (1u << t)) != 0;
    const bool empty = !failed && (text.empty() || text == kNoDataText);
    const char* status = failed ? "error" : empty ? "empty" : "ok";
    const std::string shown = showAccountNumbers ? std::string(text) : MaskAccountNumbers(text);
    return {{"text", failed || empty ? std::string() : shown},
            {"status", status},
            {"raw", BytesToHexString(capture.raw[i])},
            {"format", TrackFormatJson(capture.settings[i])}};
}

}  // namespace

Json CardFieldsJson(const std::optional<CardFields>& fields) {
    if (!fields) return nullptr;
    Json out = {{"format", fields->format}, {"description", fields->description},
                {"card", Json::object()},   {"track1", Json::object()},
                {"track2", Json::object()}, {"track3", Json::object()}};
    for (const Field& field : fields->fields) {
        Json& group =
            out[field.track == 0 ? std::string("card") : "track" + std::to_string(field.track)];
        if (field.kind == FieldKind::kFlag) {
            group[field.key] = field.value == "true";
        } else {
            group[field.key] = field.value;
        }
        if (!field.explanation.empty()) group[field.key + "_explanation"] = field.explanation;
        if (field.malformed) group[field.key + "_malformed"] = true;
    }
    return out;
}

Json TrackFormatJson(const TrackSettings& settings) {
    if (settings.bpc < 4 || settings.bpc > 7) return {{"bpc", settings.bpc}};
    // 4 and 6 bits per character carry no parity bit.
    const bool checked = settings.bpc == 5 || settings.bpc == 7;
    return {{"bpc", settings.bpc},
            {"parity", checked ? ParityName(settings.parity) : "none"},
            {"start_sentinel", std::string(1, settings.startSentinel)},
            {"end_sentinel", std::string(1, settings.endSentinel)}};
}

std::string CardExportJson(const CardCapture& capture, bool showAccountNumbers) {
    Json out = {{"type", "card"},
                {"time", IsoLocalTime(capture.time)},
                {"data_type", DataTypeName(capture.type)}};
    for (int t = 0; t < 3; ++t) {
        out["track" + std::to_string(t + 1)] = TrackJson(capture, t, showAccountNumbers);
    }
    const TrackTexts texts = capture.card.Texts();
    out["fields"] = CardFieldsJson(ParseCardFields(texts, showAccountNumbers));
    if (capture.blockDamaged) out["read_block_damaged"] = true;
    return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool ExportCard(const std::filesystem::path& path, const CardCapture& capture, std::string* error,
                bool showAccountNumbers) {
    const std::string json = CardExportJson(capture, showAccountNumbers);
    return ReplaceFileWith(path, json, error);
}

}  // namespace tollwick
