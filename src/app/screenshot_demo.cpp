#include "app/screenshot_demo.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "app/desktop_session.h"
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
        // The card read ends up in the track boxes before the program ends.
        steps.push_back(
            {"armed reader",
             [readerWindow] { return readerWindow->ArmedLine()->text().contains("to read"); },
             [readerWindow] { readerWindow->SwipeSelected(); }});
        steps.push_back(
            {"card read", [window] { return window->MessageText() == "Read Card<1> OK"; }, [] {}});
    }
    steps.push_back({"end", [] { return true; },
                     [window] {
                         // EXIT: the worker is stopped and the reader reset.
                         window->ControlAs<QAbstractButton>(mainid::kExit)->click();
                     }});
    new Demo(std::move(steps), window);
}

}  // namespace tollwick
