// The manual page names what the program offers: every entry of the main window's context menu,
// every shortcut, and the virtual reader's controls, read from the program itself.
#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QRegularExpression>

#include "app/virtual_reader_window.h"
#include "app_rig.h"

namespace tollwick::testing {
namespace {

// The page's text as man shows it, near enough: roff requests, font changes and escapes gone,
// one blank between words.
QString ManualText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(file.readAll());
    text.remove(QRegularExpression(QStringLiteral(R"(^\.\\".*$)"),
                                   QRegularExpression::MultilineOption));  // comments
    text.replace(QRegularExpression(QStringLiteral(R"(^\.[A-Z]{1,2}\b ?)"),
                                    QRegularExpression::MultilineOption),
                 QString());  // .B, .BR, .TP ...
    text.remove(QRegularExpression(QStringLiteral(R"(\\f(\[[^\]]*\]|\(..|.))")));
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    text.remove(QStringLiteral("\\&"));
    text.remove(u'"');
    return text.simplified();
}

// "&Inspector…" -> "Inspector…", "&Swipe (F5)" -> "Swipe".
QString EntryText(QString text) {
    text.remove(QRegularExpression(QStringLiteral(R"(&(?!&))")));
    text.remove(QRegularExpression(QStringLiteral(R"( \(.*\)$)")));
    return text;
}

class ManualTest : public SessionTest {};

TEST_F(ManualTest, EveryMenuEntryShortcutAndReaderControlIsInTheManual) {
    const QString manual = ManualText(QStringLiteral(TOLLWICK_MANUAL_PAGE));
    ASSERT_FALSE(manual.isEmpty());
    StartReady();
    VirtualReaderWindow readerWindow(*reader, std::nullopt);
    readerWindow.JoinMainWindow(Window());

    QStringList wanted;
    const std::vector<QAction*> menu = Window().ContextMenuActions();
    EXPECT_GE(menu.size(), 4u);  // Inspector, Export, Verify, the Virtual reader
    for (QAction* action : menu) wanted << EntryText(action->text());
    for (QAction* action : Window().actions()) {
        for (const QKeySequence& key : action->shortcuts())
            wanted << key.toString(QKeySequence::PortableText);
    }
    EXPECT_TRUE(wanted.contains("F5") && wanted.contains("Ctrl+I"));
    for (QAbstractButton* control : readerWindow.findChildren<QAbstractButton*>())
        wanted << EntryText(control->text());
    for (const QString& entry : wanted) {
        EXPECT_TRUE(manual.contains(entry)) << entry.toStdString();
    }
}

}  // namespace
}  // namespace tollwick::testing
