// The local time that card files, CSV rows and exports carry, with its offset from UTC.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace tollwick {

struct LocalTime {
    std::tm fields{};          // the local calendar date and time
    int utcOffsetMinutes = 0;  // east of UTC positive: +60 for UTC+01:00
};

// `when` in the local time zone in force (TZ, or the system's zone). The offset is the difference
// between the local and the UTC calendar time of the same moment, so no platform's "%z" (which
// Windows' C library fills with the zone's name) is needed.
LocalTime ToLocalTime(std::time_t when);

// "2026-12-07T12:54:32+01:00": ISO 8601 local time with its offset from UTC.
std::string IsoLocalTime(std::chrono::system_clock::time_point when);

}  // namespace tollwick
