// The desktop program's options, read before Qt starts so that --help, --version and mistakes
// are answered without a display.
#pragma once

#include <optional>
#include <string>

namespace tollwick {

struct CommandLine {
    bool help = false;
    bool version = false;
    bool simulate = false;
    std::optional<std::string> deck;
    std::optional<std::string> profile;
    std::optional<std::string> screenshotDir;  // hidden: pictures for the documentation
    std::string error;                         // one line; empty when the options are fine
};

// Reads argv[1..]. Options take their value as "--opt VALUE" or "--opt=VALUE"; the last of a
// repeated option counts. Anything else (unknown options, plain arguments, Qt's own options) is
// an error.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The text of --help, ending in a newline.
const std::string& CommandLineHelp();

// The entries of the manual page's OPTIONS section, in roff (.TP paragraphs), from the same
// table as the parser and --help.
std::string CommandLineManualOptions();

}  // namespace tollwick
