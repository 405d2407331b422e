#include "issuance/track_template.h"

#include <algorithm>

#include "carddata/card_fields.h"

namespace tollwick {
namespace {

constexpr std::string_view kLuhnPrefix = "luhn:";

std::optional<std::size_t> ColumnIndex(const std::vector<std::string>& columns,
                                       std::string_view name) {
    const auto found = std::find(columns.begin(), columns.end(), name);
    if (found == columns.end()) return std::nullopt;
    return static_cast<std::size_t>(found - columns.begin());
}

std::string ColumnList(const std::vector<std::string>& columns) {
    std::string list;
    for (const std::string& column : columns) {
        if (!list.empty()) list += ", ";
        list += column;
    }
    return list;
}

void ToCapitals(std::string& text) {
    for (char& ch : text) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
}

}  // namespace

char LuhnCheckDigit(std::string_view digits) {
    if (digits.empty()) return '\0';
    std::string candidate(digits);
    candidate.push_back('0');
    for (char check = '0'; check <= '9'; ++check) {
        candidate.back() = check;
        if (LuhnValid(candidate)) return check;
    }
    return '\0';
}

std::optional<TrackTemplate> TrackTemplate::Parse(std::string_view text,
                                                  const std::vector<std::string>& columns,
                                                  std::string& error) {
    TrackTemplate result;
    result.source_ = text;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find_first_of("{}", at);
        if (open == std::string_view::npos) {
            result.parts_.push_back({Part::Kind::kText, std::string(text.substr(at)), 0});
            break;
        }
        if (text[open] == '}') {
            error = "a '}' at position " + std::to_string(open + 1) + " closes no field";
            return std::nullopt;
        }
        if (open > at) {
            result.parts_.push_back(
                {Part::Kind::kText, std::string(text.substr(at, open - at)), 0});
        }
        const std::size_t close = text.find('}', open);
        if (close == std::string_view::npos || text.find('{', open + 1) < close) {
            error = "the field opened at position " + std::to_string(open + 1) + " is not closed";
            return std::nullopt;
        }
        std::string_view name = text.substr(open + 1, close - open - 1);
        Part part;
        if (name == "row") {
            part.kind = Part::Kind::kRow;
        } else {
            part.kind = Part::Kind::kColumn;
            if (name.starts_with(kLuhnPrefix)) {
                part.kind = Part::Kind::kLuhn;
                name.remove_prefix(kLuhnPrefix.size());
            }
            const auto index = ColumnIndex(columns, name);
            if (!index) {
                error = "{" + std::string(text.substr(open + 1, close - open - 1)) +
                        "}: the data file has no column \"" + std::string(name) + "\" (it has " +
                        ColumnList(columns) + ")";
                return std::nullopt;
            }
            part.column = *index;
            part.text = name;
        }
        result.parts_.push_back(std::move(part));
        at = close + 1;
    }
    return result;
}

std::optional<std::string> TrackTemplate::Expand(const DataRecord& record,
                                                 std::string& error) const {
    std::string text;
    for (const Part& part : parts_) {
        if (part.kind == Part::Kind::kText) {
            text += part.text;
            continue;
        }
        if (part.kind == Part::Kind::kRow) {
            text += std::to_string(record.row);
            continue;
        }
        const std::string& name = part.text;
        if (part.column >= record.values.size() || !record.values[part.column]) {
            error = "no text or number for column \"" + name + "\"";
            return std::nullopt;
        }
        const std::string& value = *record.values[part.column];
        if (part.kind == Part::Kind::kColumn) {
            text += value;
            continue;
        }
        std::string digits;
        for (char ch : value) {
            if (ch != ' ' && ch != '-') digits.push_back(ch);
        }
        const char check = LuhnCheckDigit(digits);
        if (check == '\0') {
            error = std::string("{luhn:").append(name).append("}: \"").append(value);
            error += "\" is not a number";
            return std::nullopt;
        }
        text += digits;
        text.push_back(check);
    }
    ToCapitals(text);
    return text;
}

}  // namespace tollwick
