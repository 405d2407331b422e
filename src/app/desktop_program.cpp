#include "app/desktop_program.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/desktop_session.h"
#include "app/message_box_seam.h"
#include "app/virtual_reader_window.h"
#include "device/hid_backend.h"
#include "device/virtual/deck.h"
#include "device/virtual/virtual_reader.h"
#include "files/utf8_path.h"
#include "settings/profile_store.h"
#include "tollwick_version.h"

namespace tollwick {
namespace {

constexpr int kNoDisplay = 1;
constexpr char kNoDisplayText[] =
    "tollwick: no display: tollwick needs a graphical session; use tollwick-cli\n";

// Where Qt chooses its platform itself (no QT_QPA_PLATFORM), X11 and Wayland need a display to
// talk to; without one Qt's platform plugin aborts the program.
bool DisplayMissing() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return !set("QT_QPA_PLATFORM") && !set("DISPLAY") && !set("WAYLAND_DISPLAY");
#else
    return false;
#endif
}

// A display that is named but cannot be reached ends in a fatal message of Qt's platform plugin
// while QApplication starts: said in the program's words, with its own status, not by abort().
bool g_startingQt = false;
QtMessageHandler g_qtHandler = nullptr;
void StartUpMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (g_startingQt && type == QtFatalMsg) {
        std::fputs(kNoDisplayText, stderr);
        std::_Exit(kNoDisplay);
    }
    // "Could not load the Qt platform plugin": misleading when the display is what is missing.
    if (g_startingQt && context.category != nullptr &&
        std::strcmp(context.category, "qt.qpa.plugin") == 0)
        return;
    if (g_qtHandler != nullptr) g_qtHandler(type, context, text);
}

}  // namespace

int RunDesktopProgram(int argc, char** argv, const CommandLine& options,
                      const std::function<void(DesktopSession&, VirtualReaderWindow*)>& started) {
    if (DisplayMissing()) {
        std::fputs(kNoDisplayText, stderr);
        return kNoDisplay;
    }
    g_qtHandler = qInstallMessageHandler(StartUpMessages);
    g_startingQt = true;
    QApplication app(argc, argv);
    g_startingQt = false;
    QApplication::setApplicationName(QStringLiteral("Tollwick"));
    QApplication::setApplicationVersion(QString::fromLatin1(kTollwickVersion));
    // Ties the windows to the menu entry and its icon on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tollwick.Tollwick"));

    const bool simulate = options.simulate;

    ProfileStore profile(options.profile ? PathFromUtf8(*options.profile) : DefaultProfilePath());

    // The virtual reader and its window, when simulating; the reader outlives the session.
    std::unique_ptr<VirtualReader> virtualReader;
    std::optional<std::filesystem::path> deckFile;
    std::unique_ptr<HidBackend> backend;
    if (simulate) {
        Deck deck = SampleDeck();
        if (options.deck) {
            deckFile = PathFromUtf8(*options.deck);
            std::string error;
            auto loaded = LoadOrCreateDeck(*deckFile, &error);
            if (!loaded) {
                std::fprintf(stderr, "tollwick: cannot use the deck %s: %s\n",
                             PathToUtf8(*deckFile).c_str(), error.c_str());
                return 1;
            }
            deck = std::move(*loaded);
        }
        virtualReader = std::make_unique<VirtualReader>(VirtualReader::Options{}, std::move(deck));
        backend = std::make_unique<VirtualBackend>(*virtualReader);
    } else {
        backend = MakeHidapiBackend();
    }

    QtMessageBoxSeam messageBoxes;
    auto session = std::make_unique<DesktopSession>(std::move(backend), profile, messageBoxes);
    // A settings file that cannot be read is said, not passed over: the program runs on the
    // default settings and leaves the file as it is.
    if (const auto problem = profile.Problem()) {
        const std::string text =
            *problem + "; the default settings are in use and the file is left as it is";
        std::fprintf(stderr, "tollwick: %s\n", text.c_str());
        QTimer::singleShot(0, &session->Window(), [&messageBoxes, &session, text] {
            messageBoxes.Inform(&session->Window(), QString::fromStdString(text));
        });
    }
    QObject::connect(&session->Window(), &QDialog::finished, &app, &QApplication::quit);
    // A run on the virtual reader keeps the real reader's settings as they are (the menu's
    // "Tollwick on the Virtual Reader" uses the user's own profile).
    if (simulate) session->Monitor().SetStoresAnsweringPort(false);

    std::unique_ptr<VirtualReaderWindow> readerWindow;
    if (virtualReader) {
        readerWindow = std::make_unique<VirtualReaderWindow>(*virtualReader, deckFile);
        readerWindow->JoinMainWindow(session->Window());
        // Verify after write: the hand puts the card just written through again.
        QObject::connect(&session->View(), &QtJobView::SameCardExpected, readerWindow.get(),
                         &VirtualReaderWindow::SwipeSameCardAgain);
        // Beside the main window, on its left when there is room.
        const QRect main = session->Window().frameGeometry();
        readerWindow->adjustSize();
        readerWindow->move(std::max(0, main.left() - readerWindow->frameGeometry().width() - 8),
                           main.top());
        readerWindow->show();
    }

    session->Start();
    if (started) started(*session, readerWindow.get());
    const int result = QApplication::exec();

    // The worker goes first: nothing may change a card once the reader's window is gone.
    session->Stop();
    readerWindow.reset();
    session.reset();
    return result;
}

}  // namespace tollwick
