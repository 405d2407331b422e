// Track templates: the text of a track, without sentinels, filled from the columns of a record.
//
//   {column}       the record's value of that column
//   {row}          the record's number in the data file (from 1)
//   {luhn:column}  the column's digits with their Luhn check digit appended; blanks and hyphens
//                  in the value are left out ("4111 1111 1111 111" gives 4111111111111111)
//
// Everything else is taken as it stands. No track alphabet holds a brace, so '{' always opens a
// field and a '}' outside one is a mistake. The text is put in capitals, as the write sends it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "issuance/data_records.h"

namespace tollwick {

class TrackTemplate {
  public:
    // Parses a template against the data file's columns. Nothing, with the reason in `error`,
    // when it names a column the file does not have, or a brace is not closed or not opened.
    static std::optional<TrackTemplate> Parse(std::string_view text,
                                              const std::vector<std::string>& columns,
                                              std::string& error);

    // The track text for one record, in capitals. Nothing, with the reason in `error` (naming
    // the column, never the row), when the record has no value for a column used, or a {luhn:}
    // value is not made of digits.
    std::optional<std::string> Expand(const DataRecord& record, std::string& error) const;

    const std::string& Source() const { return source_; }

  private:
    struct Part {
        enum class Kind { kText, kColumn, kRow, kLuhn };
        Kind kind = Kind::kText;
        std::string text;        // kText: the text; kColumn, kLuhn: the column's name
        std::size_t column = 0;  // kColumn, kLuhn
    };
    std::string source_;
    std::vector<Part> parts_;
};

// The Luhn (mod 10) check digit that makes digits + it pass the check. '\0' when `digits` is
// empty or holds anything but '0' to '9'.
char LuhnCheckDigit(std::string_view digits);

}  // namespace tollwick
