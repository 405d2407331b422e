// read --csv: one row per card, quoted per RFC 4180 (CR LF line ends; a field holding a comma, a
// double quote, CR or LF is quoted, its quotes doubled).
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "cli/json_output.h"

namespace tollwick {

std::string CsvField(std::string_view text);
std::string CsvRow(const std::vector<std::string>& fields);  // CR LF included

// "time,card,track1,track1_status,track1_raw,...,track3_raw" and CR LF.
std::string CsvHeader();
// One card: its time, its number in the run, per track the text, the status (ok, empty, error)
// and for a failed track its bytes as read in hex.
std::string CsvCardRow(std::time_t when, int card, const CardResult& tracks);

}  // namespace tollwick
