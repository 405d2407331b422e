// Prints the OPTIONS entries of tollwick(1), in roff, from the desktop program's option table:
// the manual names exactly the options the program takes.
#include <cstdio>

#include "app/command_line.h"

int main() {
    return std::fputs(tollwick::CommandLineManualOptions().c_str(), stdout) >= 0 ? 0 : 1;
}
