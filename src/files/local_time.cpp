#include "files/local_time.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace tollwick {
namespace {

// std::localtime and std::gmtime share a static result on some platforms; the reentrant forms
// differ by platform (localtime_r, localtime_s). One lock keeps this standard and safe.
std::mutex gTimeLock;

long long SecondsAsIfUtc(const std::tm& t) {
    using namespace std::chrono;
    const sys_days date = year(t.tm_year + 1900) / month(static_cast<unsigned>(t.tm_mon + 1)) /
                          day(static_cast<unsigned>(t.tm_mday));
    return date.time_since_epoch().count() * 86400LL + t.tm_hour * 3600LL + t.tm_min * 60LL +
           t.tm_sec;
}

}  // namespace

LocalTime ToLocalTime(std::time_t when) {
    LocalTime local;
    std::tm utc{};
    {
        std::lock_guard lock(gTimeLock);
        if (const std::tm* fields = std::localtime(&when)) local.fields = *fields;
        if (const std::tm* fields = std::gmtime(&when)) utc = *fields;
    }
    local.utcOffsetMinutes =
        static_cast<int>((SecondsAsIfUtc(local.fields) - SecondsAsIfUtc(utc)) / 60);
    return local;
}

std::string IsoLocalTime(std::chrono::system_clock::time_point when) {
    const LocalTime local = ToLocalTime(std::chrono::system_clock::to_time_t(when));
    const std::tm& t = local.fields;
    const int offset = std::abs(local.utcOffsetMinutes);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  local.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

}  // namespace tollwick
