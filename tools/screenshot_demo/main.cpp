// tollwick-screenshots: the desktop program on the virtual reader with its sample cards, driven by
// a script that saves pictures of its windows for the documentation, then ends. A tool of the
// documentation, not part of the program that is shipped.
// Usage: tollwick-screenshots PROFILE FOLDER
#include <QString>
#include <cstdio>

#include "app/command_line.h"
#include "app/desktop_program.h"
#include "screenshot_demo.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: tollwick-screenshots PROFILE FOLDER\n", stderr);
        return 2;
    }
    tollwick::CommandLine options;
    options.simulate = true;
    options.profile = argv[1];
    const QString folder = QString::fromLocal8Bit(argv[2]);
    // Qt is given the program's name only.
    return tollwick::RunDesktopProgram(
        1, argv, options,
        [folder](tollwick::DesktopSession& session, tollwick::VirtualReaderWindow* readerWindow) {
            tollwick::StartScreenshotDemo(session, readerWindow, folder);
        });
}
