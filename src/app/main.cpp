// tollwick: the desktop program for the VK3300S magnetic stripe card reader/writer.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/desktop_session.h"
#include "app/message_box_seam.h"
#include "app/screenshot_demo.h"
#include "app/virtual_reader_window.h"
#include "device/hid_backend.h"
#include "device/virtual/deck.h"
#include "device/virtual/virtual_reader.h"
#include "settings/profile_store.h"

namespace {

constexpr int kUsageError = 2;

int Usage(const QString& text) {
    std::fprintf(stderr, "tollwick: %s\n", qPrintable(text));
    return kUsageError;
}

std::filesystem::path PathOf(const QString& text) {
    return std::filesystem::path(text.toStdString());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tollwick"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads, writes, copies and compares magnetic stripe cards on the VK3300S."));
    parser.addHelpOption();
    const QCommandLineOption profileOption(
        QStringLiteral("profile"), QStringLiteral("Settings file to use."), QStringLiteral("FILE"));
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"),
        QStringLiteral("Run on the virtual reader, with a window to swipe its cards."));
    const QCommandLineOption deckOption(
        QStringLiteral("deck"),
        QStringLiteral("With --simulate: keep the virtual cards in this JSON file (created with "
                       "sample cards when missing, saved after every card written or erased)."),
        QStringLiteral("FILE"));
    QCommandLineOption demoOption(
        QStringLiteral("screenshot-demo"),
        QStringLiteral("Save pictures of the windows into DIR, then quit."), QStringLiteral("DIR"));
    demoOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(profileOption);
    parser.addOption(simulateOption);
    parser.addOption(deckOption);
    parser.addOption(demoOption);
    parser.process(app);

    const bool demo = parser.isSet(demoOption);
    const bool simulate = parser.isSet(simulateOption) || demo;
    if (parser.isSet(deckOption) && !simulate)
        return Usage(QStringLiteral("--deck needs --simulate"));

    tollwick::ProfileStore profile(parser.isSet(profileOption) ? PathOf(parser.value(profileOption))
                                                               : tollwick::DefaultProfilePath());

    // The virtual reader and its window, when simulating; the reader outlives the session.
    std::unique_ptr<tollwick::VirtualReader> virtualReader;
    std::optional<std::filesystem::path> deckFile;
    std::unique_ptr<tollwick::HidBackend> backend;
    if (simulate) {
        tollwick::Deck deck = tollwick::SampleDeck();
        if (parser.isSet(deckOption)) {
            deckFile = PathOf(parser.value(deckOption));
            std::string error;
            auto loaded = tollwick::LoadOrCreateDeck(*deckFile, &error);
            if (!loaded) {
                std::fprintf(stderr, "tollwick: cannot use the deck %s: %s\n",
                             deckFile->string().c_str(), error.c_str());
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

    std::unique_ptr<tollwick::VirtualReaderWindow> readerWindow;
    if (virtualReader) {
        readerWindow = std::make_unique<tollwick::VirtualReaderWindow>(*virtualReader, deckFile);
        readerWindow->JoinMainWindow(session->Window());
        // Beside the main window, on its left when there is room.
        const QRect main = session->Window().frameGeometry();
        readerWindow->adjustSize();
        readerWindow->move(std::max(0, main.left() - readerWindow->frameGeometry().width() - 8),
                           main.top());
        readerWindow->show();
    }

    session->Start();
    if (demo) {
        tollwick::StartScreenshotDemo(*session, readerWindow.get(), parser.value(demoOption));
    }
    const int result = QApplication::exec();

    // The worker goes first: nothing may change a card once the reader's window is gone.
    session->Stop();
    readerWindow.reset();
    session.reset();
    return result;
}
