// A short scripted run on the virtual reader that saves pictures of the windows for the
// documentation: the main window once the reader is ready, the swipe window during a Read, the
// virtual reader's window, the Inspector and its Fields pane, and Verify after write on a weak
// card. Ends the program when done (exit status 1 when a step never came).
#pragma once

#include <QString>

namespace tollwick {

class DesktopSession;
class VirtualReaderWindow;

void StartScreenshotDemo(DesktopSession& session, VirtualReaderWindow* readerWindow,
                         const QString& directory);

}  // namespace tollwick
