// "Export last card": one card read, saved as JSON for other tools, in the key style of the
// command-line tool's card objects (docs/cli-json.md):
//
//   {"type": "card", "time": "2026-12-07T12:54:32+01:00", "data_type": "iso",
//    "track1": {"text": "%B4000...?", "status": "ok", "raw": "A3...",
//               "format": {"bpc": 7, "parity": "odd", "start_sentinel": "%",
//                          "end_sentinel": "?"}},
//    "track2": {...}, "track3": {...},
//    "fields": FIELDS | null}
//
// Per track: "status" "ok" (decoded and checked), "empty" (no data) or "error" (failed its check
// in the formats it was read with); "text" the decoded text with its sentinels when "ok" (the
// hex digits with the Raw Type), else ""; "raw" every track's bytes as the reader delivered them,
// upper-case hex, the clocking zeros after the data included; "format" the format it was decoded
// with (only "bpc" for raw bytes). "fields" as the CLI's read --fields gives it. Account numbers
// are whole in the texts and fields when they are to be shown, else masked in both (the bytes
// as read are left as read). A read block that could not be split adds "read_block_damaged":
// true (every track then "error" without bytes).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "carddata/card_capture.h"
#include "carddata/card_fields.h"
#include "files/local_time.h"

namespace tollwick {

// A card's fields as an object (null for a card in no known format): "format", "description",
// then per place ("card", "track1".."track3") its fields by key, flags as booleans, each
// explanation beside its field as "<key>_explanation". The command-line tool prints the same.
nlohmann::ordered_json CardFieldsJson(const std::optional<CardFields>& fields);

// The format a track was decoded with: bpc, parity ("none" at 4 and 6 bits), sentinels; only
// "bpc" for raw bytes.
nlohmann::ordered_json TrackFormatJson(const TrackSettings& settings);

// The card as one JSON object, pretty-printed, ending in a line feed.
std::string CardExportJson(const CardCapture& capture, bool showAccountNumbers = true);

// Writes the card's JSON to `path`, replacing what the file held, in one step (a crash leaves
// the old file or the new one): through a new file in the same folder, created 0600 since it
// holds card data, and a rename (ReplaceFileWith, user_file.h), so that a link another user
// planted never leads the export into their file. False, with the reason in *error, when it
// could not be written.
bool ExportCard(const std::filesystem::path& path, const CardCapture& capture,
                std::string* error = nullptr, bool showAccountNumbers = true);

}  // namespace tollwick
