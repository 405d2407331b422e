// tollwick: the desktop program for the VK3300S magnetic stripe card reader/writer.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_program.h"
#include "files/utf8_path.h"
#include "tollwick_version.h"

namespace {

constexpr int kUsageError = 2;
int Usage(const std::string& text) {
    std::fprintf(stderr, "tollwick: %s\n", text.c_str());
    return kUsageError;
}

// Exit status of --help and --version: 0, or 1 when the text could not be written.
int Printed(const char* text) {
    return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Before QApplication, which needs a display: --help, --version and mistakes need none. The
    // arguments as UTF-8 (on Windows from the UTF-16 command line).
    const std::vector<std::string> arguments = tollwick::Utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    const tollwick::CommandLine options =
        tollwick::ParseCommandLine(static_cast<int>(pointers.size()), pointers.data());
    if (!options.error.empty()) return Usage(options.error);
    if (options.help) return Printed(tollwick::CommandLineHelp().c_str());
    if (options.version) {
        return Printed((std::string("tollwick ") + tollwick::kTollwickVersion + "\n").c_str());
    }

    return tollwick::RunDesktopProgram(argc, argv, options);
}
