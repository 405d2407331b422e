// The desktop program once its options are read: Qt, the profile, the reader (the USB reader, or
// the virtual reader with its window), the session and its main window, until the window closes.
#pragma once

#include <functional>

#include "app/command_line.h"

namespace tollwick {

class DesktopSession;
class VirtualReaderWindow;

// Runs the program; its exit status. `started`, when given, runs once the session has started
// (the reader window is null without --simulate).
int RunDesktopProgram(
    int argc, char** argv, const CommandLine& options,
    const std::function<void(DesktopSession&, VirtualReaderWindow*)>& started = {});

}  // namespace tollwick
