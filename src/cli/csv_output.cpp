#include "cli/csv_output.h"

#include "files/card_export.h"

namespace tollwick {

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char ch : text) {
        if (ch == '"') quoted += '"';
        quoted += ch;
    }
    return quoted + "\"";
}

std::string CsvRow(const std::vector<std::string>& fields) {
    std::string row;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) row += ',';
        row += CsvField(fields[i]);
    }
    return row + "\r\n";
}

std::string CsvHeader() {
    std::vector<std::string> names = {"time", "card"};
    for (int t = 1; t <= 3; ++t) {
        const std::string track = "track" + std::to_string(t);
        names.insert(names.end(), {track, track + "_status", track + "_raw"});
    }
    return CsvRow(names);
}

std::string CsvCardRow(std::time_t when, int card, const CardResult& tracks) {
    std::vector<std::string> fields = {IsoLocalTime(std::chrono::system_clock::from_time_t(when)),
                                       std::to_string(card)};
    for (const TrackResult& track : tracks) {
        fields.push_back(track.text);
        fields.push_back(TrackStatusName(track.status));
        fields.push_back(track.status == TrackStatus::kError ? track.raw : "");
    }
    return CsvRow(fields);
}

}  // namespace tollwick
