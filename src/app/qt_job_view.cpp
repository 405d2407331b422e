#include "app/qt_job_view.h"

#include <QRadioButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "app/swipe_dlg.h"

namespace tollwick {
namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QColor ColourOf(SwipeColour colour) {
    switch (colour) {
        case SwipeColour::kBlue:
            return CSwipeDlg::kReadColour;
        case SwipeColour::kRed:
            return CSwipeDlg::kWriteColour;
        case SwipeColour::kDarkGreen:
            return CSwipeDlg::kCompareTargetColour;
    }
    return CSwipeDlg::kReadColour;
}

}  // namespace

QtJobView::QtJobView(CTollwickDlg& window, Clock& clock, QObject* parent)
    : QObject(parent), window_(window), clock_(clock) {}

QtJobView::~QtJobView() = default;

void QtJobView::SetMessage(const std::string& text) {
    OnWindow([this, text] { window_.SetMessage(Text(text)); });
}

void QtJobView::SetMessageLineDirectly(const std::string& text) {
    OnWindow([this, text] { window_.SetMessageLineDirectly(Text(text)); });
}

void QtJobView::ShowTracks(const TrackTexts& texts) {
    OnWindow([this, texts] { window_.ShowTracks(texts[0], texts[1], texts[2]); });
}

TrackTexts QtJobView::FetchTracks() {
    if (!OnWindowThread()) return {};
    return window_.FetchTracks();
}

void QtJobView::EnableJobButtons(bool on) {
    OnWindow([this, on] {
        window_.EnableJobButtons(on);
        // Setup talks to the reader from the window: it waits until the worker has ended.
        if (on && running_) ApplyEnable(mainid::kSetup, true);
    });
}

void QtJobView::EnableControls(std::span<const int> ids, bool on) {
    OnWindow([this, ids, on] {
        for (int id : ids) ApplyEnable(id, on);
    });
}

void QtJobView::EnableReaderControls(bool on) {
    EnableControls(CTollwickDlg::kReaderControlIds, on);
}

void QtJobView::EnableSetup(bool on) {
    static constexpr int kSetup[] = {mainid::kSetup};
    EnableControls(kSetup, on);
}

void QtJobView::EnableBeeper(bool on) {
    EnableControls(CTollwickDlg::kBeeperControlIds, on);
}

void QtJobView::ApplyEnable(int id, bool on) {
    const auto* held = std::find(kLinkControls.begin(), kLinkControls.end(), id);
    if (running_ && held != kLinkControls.end()) {
        held_[static_cast<std::size_t>(held - kLinkControls.begin())] = on;
        window_.EnableControl(id, false);
        return;
    }
    window_.EnableControl(id, on);
}

void QtJobView::EnableWindow(bool on) {
    OnWindow([this, on] { window_.EnableWindow(on); });
}

void QtJobView::SetConnectionLine(const std::string& text) {
    OnWindow([this, text] { window_.SetConnectionLine(Text(text)); });
}

void QtJobView::SelectHiCo() {
    // Checking the button sends nothing: only a click sends the command.
    OnWindow([this] {
        if (auto* hiCo = window_.ControlAs<QRadioButton>(mainid::kHiCo)) hiCo->setChecked(true);
    });
}

void QtJobView::Repaint() {
    OnWindow([this] { window_.update(); });
}

void QtJobView::EndAsOk() {
    OnWindow([this] { window_.EndAsOk(); });
}

void QtJobView::JobRunning(bool running) {
    OnWindow([this, running] {
        if (running == running_) return;
        if (running) {
            for (std::size_t i = 0; i < kLinkControls.size(); ++i) {
                const QWidget* control = window_.Control(kLinkControls[i]);
                held_[i] = control != nullptr && control->isEnabled();
            }
            running_ = true;
            for (int id : kLinkControls) window_.EnableControl(id, false);
        } else {
            running_ = false;
            for (std::size_t i = 0; i < kLinkControls.size(); ++i) {
                window_.EnableControl(kLinkControls[i], held_[i]);
            }
        }
    });
}

void QtJobView::ShowBox(const std::string& text) {
    window_.ShowMessageBox(Text(text));
}

void QtJobView::MessageBox(const std::string& text, std::stop_token stop) {
    if (OnWindowThread()) {
        ShowBox(text);
        return;
    }
    struct Pending {
        std::promise<void> closed;
        std::atomic<bool> abandoned{false};
    };
    auto pending = std::make_shared<Pending>();
    std::future<void> closed = pending->closed.get_future();
    // Should this view go before the box was shown, the post is dropped with its promise and the
    // future reports a broken promise: the worker does not wait for a box that never comes.
    QMetaObject::invokeMethod(
        this,
        [this, pending, text] {
            if (!pending->abandoned.load(std::memory_order_acquire)) ShowBox(text);
            pending->closed.set_value();
        },
        Qt::QueuedConnection);
    while (closed.wait_for(std::chrono::milliseconds(kStopPollMs)) != std::future_status::ready) {
        if (stop.stop_requested()) {
            pending->abandoned.store(true, std::memory_order_release);
            return;
        }
    }
}

void QtJobView::SetSwipeTitle(const std::string& title) {
    OnWindow([this, title] { window_.SwipeWindow().SetTitle(Text(title)); });
}

void QtJobView::SetSwipeColour(SwipeColour colour) {
    OnWindow([this, colour] { window_.SwipeWindow().SetFillColour(ColourOf(colour)); });
}

void QtJobView::SetSwipeLines(const std::string& line1, const std::string& line2,
                              const std::string& count) {
    OnWindow([this, line1, line2, count] {
        window_.SwipeWindow().SetLines(Text(line1), Text(line2), Text(count));
    });
}

void QtJobView::SetSwipeLine1(const std::string& text) {
    OnWindow([this, text] { window_.SwipeWindow().SetLine(CSwipeDlg::kFirstLine, Text(text)); });
}

void QtJobView::SetSwipeCount(const std::string& text) {
    OnWindow([this, text] { window_.SwipeWindow().SetLine(CSwipeDlg::kCountLine, Text(text)); });
}

void QtJobView::ShowSwipe(bool show) {
    OnWindow([this, show] { window_.SwipeWindow().setVisible(show); });
}

void QtJobView::CentreSwipe() {
    OnWindow([this] { window_.SwipeWindow().CentreOnScreen(); });
}

void QtJobView::CloseSwipe() {
    // Hidden, not closed: closing the swipe window is the operator's Cancel.
    OnWindow([this] { window_.SwipeWindow().hide(); });
}

void QtJobView::Sleep(int milliseconds) {
    // The monitor pauses on the window thread (the swipe window's blink): paint what the tick
    // has changed so far, such as the track boxes, before the pause rather than after it.
    if (OnWindowThread() && window_.isVisible()) window_.repaint();
    clock_.SleepFor(std::chrono::milliseconds(std::max(milliseconds, 0)));
}

void QtJobView::ExpectSameCardAgain() {
    OnWindow([this] { emit SameCardExpected(); });
}

}  // namespace tollwick
