// The command line's shared parts: global options, the checks that say in words what is wrong,
// and the seconds of --timeout.
#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "carddata/data_type.h"

namespace tollwick {

struct GlobalOptions {
    bool simulate = false;
    std::string deckPath;
    int card = 1;
    bool cardGiven = false;
    std::string profilePath;
    std::string format = "iso";
    bool json = false;
    bool quiet = false;  // batch commands: no per-card lines, only the summary
    std::string device;  // --device: a reader's path or serial number (see list)
    int readers = 1;     // --readers: how many virtual readers (--simulate)
    int pace = -1;       // --pace: ms from arming to the virtual swipe; -1: the default
    bool mask = false;   // account numbers masked in everything the run prints
};

void AddGlobalOptions(CLI::App& app, GlobalOptions& options);
// What the parser cannot see: options that only make sense together. The message, or nothing.
std::optional<std::string> CheckGlobalOptions(const GlobalOptions& options);

DataType FormatType(const GlobalOptions& options);

// Checks for options and arguments. CLI11 puts the option's name and ": " before the message;
// the error printer turns that into "--card must be from 1 to 2147483647".
// A whole number from min to max, in decimal digits.
CLI::Validator WholeNumber(long long min, long long max);
// One of the listed words.
CLI::Validator OneOf(std::initializer_list<std::string_view> words);
// A file name: not empty ("--deck needs a file name"); an empty one would mean no file at all.
CLI::Validator FileName();

// A number in decimal digits with at most one point ("5", "0.25", ".5", "5."); nothing for
// anything else (a sign, spaces, an exponent, hex, inf, nan).
std::optional<double> DecimalNumber(std::string_view text);

// Seconds to wait for a swipe: 0 is no limit; at most a day.
inline constexpr double kMaxTimeoutSeconds = 86400;
inline constexpr double kDefaultTimeoutSeconds = 30;
void AddTimeoutOption(CLI::App& command, double& seconds);

// "30 s", "0.5 s", "1.25 s".
std::string FormatSeconds(double seconds);

// The time a wait of --timeout seconds may take: none for 0 (no limit).
std::optional<std::chrono::milliseconds> TimeoutOf(double seconds);

}  // namespace tollwick
