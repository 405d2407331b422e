#include "issuance/card_maker.h"

#include <charconv>

#include "carddata/text_filter.h"

namespace tollwick {
namespace {

std::optional<long long> RowNumber(std::string_view text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<RowRange> ParseRowRange(const std::string& text, std::string& error) {
    const std::size_t dash = text.find('-');
    const std::string_view all(text);
    const auto first = RowNumber(all.substr(0, dash));
    std::optional<long long> last;
    if (dash == std::string::npos) {
        last = first;
    } else if (dash + 1 == text.size()) {
        last = -1;
    } else {
        last = RowNumber(all.substr(dash + 1));
    }
    if (!first || !last) {
        error = "must be rows A-B, A- or A, counted from 1";
        return std::nullopt;
    }
    if (*last >= 0 && *last < *first) {
        error = "ends before it begins";
        return std::nullopt;
    }
    return RowRange{*first, *last};
}

std::string TrackSetText(const TrackSet& set) {
    std::string text;
    for (const TrackSettings& track : set) {
        if (!text.empty()) text += ';';
        text += std::to_string(track.bpc) + "," + std::to_string(track.parity) + "," +
                track.startSentinel + "," + track.endSentinel;
    }
    return text;
}

std::optional<CardMaker> CardMaker::Make(const std::array<std::string, 3>& templates,
                                         const std::vector<std::string>& columns, DataType type,
                                         const DataTypeLayout& layout, std::string& error) {
    CardMaker maker;
    maker.type_ = type;
    maker.layout_ = layout;
    bool any = false;
    for (std::size_t t = 0; t < 3; ++t) {
        if (templates[t].empty()) continue;
        std::string why;
        maker.templates_[t] = TrackTemplate::Parse(templates[t], columns, why);
        if (!maker.templates_[t]) {
            error = "--track" + std::to_string(t + 1) + ": " + why;
            return std::nullopt;
        }
        any = true;
    }
    if (!any) {
        error = "no track to write: give --track1, --track2 or --track3";
        return std::nullopt;
    }
    return maker;
}

std::optional<TrackTexts> CardMaker::Texts(const DataRecord& record, std::string& error) const {
    TrackTexts texts;
    for (std::size_t t = 0; t < 3; ++t) {
        if (!templates_[t]) continue;
        const std::string track = "track " + std::to_string(t + 1) + ": ";
        std::string why;
        auto text = templates_[t]->Expand(record, why);
        if (!text) {
            error = track + why;
            return std::nullopt;
        }
        const TrackSettings& settings = layout_.settings[t];
        const int limit = layout_.limits[t];
        if (auto fault = FindTrackTextFault(*text, settings, type_, limit)) {
            error = track + TrackTextFaultText(*fault, *text, settings, type_, limit);
            return std::nullopt;
        }
        texts[t] = std::move(*text);
    }
    return texts;
}

RecordSource::Item RecordSource::Next() {
    std::lock_guard lock(mutex_);
    Item item;
    DataRecord record;
    while (!ended_) {
        std::string error;
        const RecordStatus status = reader_.Next(record, error);
        if (status == RecordStatus::kEnd) break;
        if (status == RecordStatus::kBadFile) {
            ended_ = true;
            item.kind = Item::Kind::kBroken;
            item.problem = error;
            return item;
        }
        if (rows_.Past(record.row)) break;
        if (!rows_.Contains(record.row)) continue;
        item.row = record.row;
        if (status == RecordStatus::kBadRecord) {
            item.kind = Item::Kind::kProblem;
            item.problem = error;
            return item;
        }
        if (auto texts = maker_.Texts(record, error)) {
            item.kind = Item::Kind::kCard;
            item.texts = std::move(*texts);
        } else {
            item.kind = Item::Kind::kProblem;
            item.problem = "row " + std::to_string(record.row) + " (line " +
                           std::to_string(record.line) + "), " + error;
        }
        return item;
    }
    ended_ = true;
    item.kind = Item::Kind::kEnd;
    return item;
}

}  // namespace tollwick
