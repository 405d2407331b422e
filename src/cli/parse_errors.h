// What is wrong with a command line, in one line and in tollwick-cli's own words: the parser's
// errors, and what it let through unparsed (an unknown option, an argument no command takes),
// with the option or command meant when one is close ("unknown option --timout (did you mean
// --timeout?)").
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollwick {

// The parser leaves what it does not know to us: every command takes extras, so that an unknown
// option is named by this file rather than in the parser's words. Call once every command is
// added.
void LeaveUnknownArgumentsToUs(CLI::App& app);

// After a parse: the first unknown option, else the first argument no command takes, in words.
// Nothing when every argument was taken.
std::optional<std::string> UnknownArgumentProblem(CLI::App& app);

// The line for a parse error. An unknown option among the arguments is named first: it is
// likely the cause ("erase --track 1" lacks --tracks because --track is no option).
std::string ParseErrorLine(const CLI::ParseError& error, CLI::App& app);

// The names closest to `typed` among `names`: those `typed` begins, else those the fewest slips
// away (a letter left out, added, changed, or two swapped), in the order given, at most four.
// A slip is allowed from three letters typed, two from five, three from nine. Leading dashes and
// case are not counted. Empty when none is close.
std::vector<std::string> CloseNames(std::string_view typed, const std::vector<std::string>& names);

}  // namespace tollwick
