// tollwick: the desktop program for the VK3300S magnetic stripe card reader/writer.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include "jobs/format_state.h"
#include "app/message_box_seam.h"
#include "app/reader_control.h"
#include "app/tollwick_dlg.h"
#include "settings/profile_store.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tollwick"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption profileOption(
        QStringLiteral("profile"), QStringLiteral("Settings file to use."), QStringLiteral("FILE"));
    parser.addOption(profileOption);
    parser.process(app);

    const std::filesystem::path profilePath =
        parser.isSet(profileOption)
            ? std::filesystem::path(parser.value(profileOption).toStdString())
            : tollwick::DefaultProfilePath();
    tollwick::ProfileStore profile(profilePath);
    tollwick::FormatState format;
    tollwick::NoReaderControl reader;
    tollwick::QtMessageBoxSeam messageBoxes;

    tollwick::CTollwickDlg window({profile, reader, messageBoxes, format});
    QObject::connect(&window, &QDialog::finished, &app, &QApplication::quit);

    // Until the reader connection is wired in, the first tick finds no reader.
    QTimer::singleShot(50, &window, [&window] {
        using namespace tollwick::mainid;
        window.SetMessage(QStringLiteral("Not Connect Device"));
        window.EnableJobButtons(false);
        for (int id : {kHiCo, kLoCo, kIso, kUserType, kRawType, kAamva, kCaDmv}) {
            window.EnableControl(id, false);
        }
        window.EnableControl(kSetup, true);
        window.SetConnectionLine(QString());
        window.EnableWindow(true);
    });

    window.show();
    return QApplication::exec();
}
