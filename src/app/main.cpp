// tollwick: the desktop program for the VK3300S magnetic stripe card reader/writer.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_session.h"
#include "app/message_box_seam.h"
#include "app/screenshot_demo.h"
#include "app/virtual_reader_window.h"
#include "device/hid_backend.h"
#include "device/virtual/deck.h"
#include "device/virtual/virtual_reader.h"
#include "files/utf8_path.h"
#include "settings/profile_store.h"
#include "tollwick_version.h"

namespace {

constexpr int kUsageError = 2;
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

    if (DisplayMissing()) {
        std::fputs(kNoDisplayText, stderr);
        return kNoDisplay;
    }
    g_qtHandler = qInstallMessageHandler(StartUpMessages);
    g_startingQt = true;
    QApplication app(argc, argv);
    g_startingQt = false;
    QApplication::setApplicationName(QStringLiteral("Tollwick"));
    QApplication::setApplicationVersion(QString::fromLatin1(tollwick::kTollwickVersion));
    // Ties the windows to the menu entry and its icon on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tollwick.Tollwick"));

    const bool demo = options.screenshotDir.has_value();
    const bool simulate = options.simulate || demo;

    tollwick::ProfileStore profile(options.profile ? tollwick::PathFromUtf8(*options.profile)
                                                   : tollwick::DefaultProfilePath());

    // The virtual reader and its window, when simulating; the reader outlives the session.
    std::unique_ptr<tollwick::VirtualReader> virtualReader;
    std::optional<std::filesystem::path> deckFile;
    std::unique_ptr<tollwick::HidBackend> backend;
    if (simulate) {
        tollwick::Deck deck = tollwick::SampleDeck();
        if (options.deck) {
            deckFile = tollwick::PathFromUtf8(*options.deck);
            std::string error;
            auto loaded = tollwick::LoadOrCreateDeck(*deckFile, &error);
            if (!loaded) {
                std::fprintf(stderr, "tollwick: cannot use the deck %s: %s\n",
                             tollwick::PathToUtf8(*deckFile).c_str(), error.c_str());
                return 1;
            }
            deck = std::move(*loaded);
        }
        virtualReader = std::make_unique<tollwick::VirtualReader>(
            tollwick::VirtualReader::Options{}, std::move(deck));
        backend = std::make_unique<tollwick::VirtualBackend>(*virtualReader);
    } else {
        backend = tollwick::MakeHidapiBackend();
    }

    tollwick::QtMessageBoxSeam messageBoxes;
    auto session =
        std::make_unique<tollwick::DesktopSession>(std::move(backend), profile, messageBoxes);
    QObject::connect(&session->Window(), &QDialog::finished, &app, &QApplication::quit);
    // A run on the virtual reader keeps the real reader's settings as they are (the menu's
    // "Tollwick on the Virtual Reader" uses the user's own profile).
    if (simulate) session->Monitor().SetStoresAnsweringPort(false);

    std::unique_ptr<tollwick::VirtualReaderWindow> readerWindow;
    if (virtualReader) {
        readerWindow = std::make_unique<tollwick::VirtualReaderWindow>(*virtualReader, deckFile);
        readerWindow->JoinMainWindow(session->Window());
        // Verify after write: the hand puts the card just written through again.
        QObject::connect(&session->View(), &tollwick::QtJobView::SameCardExpected,
                         readerWindow.get(), &tollwick::VirtualReaderWindow::SwipeSameCardAgain);
        // Beside the main window, on its left when there is room.
        const QRect main = session->Window().frameGeometry();
        readerWindow->adjustSize();
        readerWindow->move(std::max(0, main.left() - readerWindow->frameGeometry().width() - 8),
                           main.top());
        readerWindow->show();
    }

    session->Start();
    if (demo) {
        tollwick::StartScreenshotDemo(*session, readerWindow.get(),
                                      QString::fromStdString(*options.screenshotDir));
    }
    const int result = QApplication::exec();

    // The worker goes first: nothing may change a card once the reader's window is gone.
    session->Stop();
    readerWindow.reset();
    session.reset();
    return result;
}
