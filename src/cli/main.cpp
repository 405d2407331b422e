#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/console.h"
#include "cli/interrupt.h"
#include "files/utf8_path.h"

int main(int argc, char** argv) {
    // The interrupts are taken before anything else runs: a SIGTERM in the first milliseconds
    // then ends the run with 130 like any other, never the process by the signal itself.
    const tollwick::SignalWatch signals;
    tollwick::PrepareConsole();
    // Arguments as UTF-8 on every platform: on Windows from the UTF-16 command line, so that a
    // file name in any script reaches the disk as typed.
    std::vector<std::string> arguments = tollwick::Utf8Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return tollwick::RunCli(static_cast<int>(arguments.size()), pointers.data());
}
