#include "screenshot_demo.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "app/bit_cells_view.h"
#include "app/card_tools.h"
#include "app/desktop_session.h"
#include "app/inspector_window.h"
#include "app/issue_window.h"
#include "app/setup_dlg.h"
#include "app/swipe_dlg.h"
#include "app/virtual_reader_window.h"

namespace tollwick {
namespace {

constexpr int kStepPollMs = 100;
constexpr int kStepLimitMs = 15000;
// Time for the window system to show and paint what a step changed.
constexpr int kSettleMs = 600;

struct Step {
    const char* what;
    std::function<bool()> ready;  // polled until true
    std::function<void()> act;
};

class Demo : public QObject {
  public:
    Demo(std::vector<Step> steps, QObject* parent) : QObject(parent), steps_(std::move(steps)) {
        timer_.setInterval(kStepPollMs);
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        deadline_.setRemainingTime(kStepLimitMs);
        timer_.start();
    }

  private:
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    QTimer timer_;
    QDeadlineTimer deadline_;
    bool settling_ = false;

    void Poll() {
        if (next_ >= steps_.size()) {
            timer_.stop();
            return;
        }
        Step& step = steps_[next_];
        if (!step.ready()) {
            if (deadline_.hasExpired()) {
                std::fprintf(stderr, "screenshot demo: no %s\n", step.what);
                timer_.stop();
                QApplication::exit(1);
            }
            return;
        }
        if (!settling_) {  // ready: let it paint before acting
            settling_ = true;
            timer_.stop();
            QTimer::singleShot(kSettleMs, this, [this] {
                timer_.start();
                Poll();
            });
            return;
        }
        settling_ = false;
        step.act();
        ++next_;
        deadline_.setRemainingTime(kStepLimitMs);
    }
};

void Save(QWidget* widget, const QString& file) {
    if (!widget->grab().save(file)) {
        std::fprintf(stderr, "screenshot demo: cannot write %s\n", qPrintable(file));
        QApplication::exit(1);
        return;
    }
    std::printf("%s\n", qPrintable(file));
    std::fflush(stdout);
}

// The message box the program shows now, if any.
QMessageBox* OpenBox() {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

// Closes the message box that is up (the operator's OK), if any.
void CloseBox() {
    if (QMessageBox* box = OpenBox()) box->accept();
}

}  // namespace

void StartScreenshotDemo(DesktopSession& session, VirtualReaderWindow* readerWindow,
                         const QString& directory) {
    QDir().mkpath(directory);
    const QDir dir(directory);
    CTollwickDlg* window = &session.Window();
    CSwipeDlg* swipe = &window->SwipeWindow();
    std::vector<Step> steps;
    steps.push_back(
        {"\"Device READY\"",
         [window] { return window->isEnabled() && window->MessageText() == "Device READY"; },
         [window, dir] {
             Save(window, dir.filePath("main-window.png"));
             window->ControlAs<QAbstractButton>(mainid::kRead)->click();
         }});
    steps.push_back({"swipe window", [swipe] { return swipe->isVisible(); },
                     [swipe, readerWindow, dir] {
                         Save(swipe, dir.filePath("swipe-window.png"));
                         if (readerWindow != nullptr) {
                             readerWindow->SelectCard(3);  // the ISO bank card
                             Save(readerWindow, dir.filePath("virtual-reader.png"));
                         }
                     }});
    if (readerWindow != nullptr) {
        const auto armedFor = [readerWindow](const char* what) {
            return [readerWindow, what] {
                return readerWindow->ArmedLine()->text().contains(QString::fromLatin1(what));
            };
        };
        const auto swipe = [readerWindow](int card) {
            return [readerWindow, card] {
                readerWindow->SelectCard(card);
                readerWindow->SwipeSelected();
            };
        };
        CardTools* tools = &session.Tools();
        InspectorWindow* inspector = &tools->Inspector();
        // The card read ends up in the track boxes, and in the Inspector with its fields.
        steps.push_back({"armed reader", armedFor("to read"), swipe(3)});
        steps.push_back({"card read",
                         [window] { return window->MessageText() == "Read Card<1> OK"; },
                         [tools] { tools->ShowInspector(); }});
        steps.push_back(
            {"Inspector", [inspector] { return inspector->isVisible(); },
             [inspector, dir] { Save(inspector->FieldsPane(), dir.filePath("fields.png")); }});
        // A card swiped backwards: track 1 fails, and the reversed reading decodes it.
        steps.push_back({"armed reader", armedFor("to read"), swipe(10)});
        steps.push_back(
            {"backwards card",
             [inspector] { return inspector->Verdict(1)->text().startsWith("The read fails"); },
             [inspector, dir] {
                 Save(inspector, dir.filePath("inspector.png"));
                 CloseBox();  // "Read Error!!"
             }});
        // A damaged track 2: the wrong bit, the character whose parity fails, the LRC, and the
        // repaired reading beside the read one.
        steps.push_back({"armed reader", armedFor("to read"), swipe(7)});
        steps.push_back(
            {"damaged card",
             [inspector] {
                 return inspector->Verdict(2)->text().contains("repaired") && OpenBox() != nullptr;
             },
             [inspector, dir] {
                 Save(inspector->Bits(2)->parentWidget(), dir.filePath("inspector-parity.png"));
                 CloseBox();
             }});
        // Verify after write on the card with a weak spot: written, read back, not verified.
        steps.push_back({"armed reader", armedFor("to read"), [window, tools] {
                             window->SwipeWindow().reject();  // Cancel
                             tools->SetVerifyAfterWrite(true);
                             window->ShowTracks("B123", "1234567890", "");
                             window->ControlAs<QAbstractButton>(mainid::kWrite)->click();
                         }});
        steps.push_back({"armed to write", armedFor("to write"), swipe(11)});
        steps.push_back({"verify prompt", armedFor("to read"), [swipe, window, dir] {
                             Save(&window->SwipeWindow(), dir.filePath("verify-swipe.png"));
                             swipe(11)();
                         }});
        steps.push_back({"failed verify", [] { return OpenBox() != nullptr; },
                         [window, dir] {
                             Save(window, dir.filePath("verify-failed.png"));
                             CloseBox();
                         }});
    }
    if (readerWindow != nullptr) {
        // Issue cards: a small member list on blank cards, the virtual reader swiping by itself.
        IssueWindow* issue = &session.Issue();
        const QString data = dir.filePath("members.csv");
        steps.push_back({"Issue cards", [window] { return window->isEnabled(); },
                         [&session, window, issue, readerWindow, data, dir] {
                             window->SwipeWindow().reject();  // Cancel the write job
                             QFile csv(data);
                             csv.open(QIODevice::WriteOnly);
                             csv.write(
                                 "name,pan,exp\n\"DOE/JANE\",4111 1111 1111 111,2812\n"
                                 "\"ROE/RICHARD\",5500 0000 0000 000,2901\n"
                                 "\"POE/EDGAR\",3400 0000 0000 00,2705\n"
                                 "\"LOVELACE/ADA\",6011 0000 0000 000,3011\n");
                             csv.close();
                             session.ShowIssue();
                             issue->OpenData(data);
                             issue->Template(0)->setText("B{luhn:pan}^{name}^{exp}");
                             issue->Template(1)->setText("{luhn:pan}={exp}");
                             issue->JournalPath()->setText(dir.filePath("members.journal"));
                             issue->Verify()->setChecked(true);
                             readerWindow->SelectCard(0);
                             readerWindow->SetAutoSwipe(true);
                             issue->Start();
                         }});
        steps.push_back({"cards issued", [issue] { return issue->Records()->rowCount() >= 4; },
                         [issue, readerWindow, dir] {
                             Save(issue, dir.filePath("issue-window.png"));
                             issue->Stop();
                             readerWindow->SetAutoSwipe(false);
                         }});
    }
    // Setup with the formats of the Raw type: every combo says "8" or "NONE", whole.
    CSetupDlg* setup = &window->SetupWindow();
    steps.push_back({"Setup", [window] { return window->isEnabled(); },
                     [window, setup] {
                         window->SwipeWindow().reject();  // Cancel, when a job runs
                         window->ControlAs<QAbstractButton>(mainid::kRawType)->click();
                         setup->Open();
                     }});
    steps.push_back({"Setup shown", [setup] { return setup->isVisible(); },
                     [setup, dir] {
                         Save(setup, dir.filePath("setup.png"));
                         setup->reject();
                     }});
    steps.push_back({"end", [] { return true; },
                     [window] {
                         // EXIT: the worker is stopped and the reader reset.
                         window->ControlAs<QAbstractButton>(mainid::kExit)->click();
                     }});
    new Demo(std::move(steps), window);
}

}  // namespace tollwick
