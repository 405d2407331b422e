// The card jobs' view of the main window and its swipe window.
//
// Calls made on the window's thread act at once. Calls from the job worker are posted to the
// window's thread and run there in the order the worker made them; a worker never touches a
// widget. A message box asked for by the worker is shown on the window's thread while the worker
// waits for it to close, checking its stop token, so that a window thread that stops and joins
// the worker is never blocked by it.
#pragma once

#include <QObject>
#include <QThread>
#include <array>
#include <span>
#include <string>
#include <utility>

#include "app/tollwick_dlg.h"
#include "device/clock.h"
#include "jobs/job_view.h"

namespace tollwick {

class QtJobView final : public QObject, public JobView {
    Q_OBJECT
  public:
    // How often a worker waiting for its message box looks at its stop token.
    static constexpr int kStopPollMs = 5;

    // The monitor's pauses go by `clock`: the reader's, so that tests on virtual time run them
    // on virtual time too.
    explicit QtJobView(CTollwickDlg& window, Clock& clock = SystemClock(),
                       QObject* parent = nullptr);
    ~QtJobView() override;

    void SetMessage(const std::string& text) override;
    void SetMessageLineDirectly(const std::string& text) override;
    void ShowTracks(const TrackTexts& texts) override;
    // The window's thread only; elsewhere the result is three empty texts.
    TrackTexts FetchTracks() override;
    void EnableJobButtons(bool on) override;
    void EnableReaderControls(bool on) override;
    void EnableSetup(bool on) override;
    void EnableBeeper(bool on) override;
    void EnableWindow(bool on) override;
    void SetConnectionLine(const std::string& text) override;
    void SelectHiCo() override;
    void Repaint() override;
    void EndAsOk() override;
    void JobRunning(bool running) override;

    void MessageBox(const std::string& text, std::stop_token stop = {}) override;

    void SetSwipeTitle(const std::string& title) override;
    void SetSwipeColour(SwipeColour colour) override;
    void SetSwipeLines(const std::string& line1, const std::string& line2,
                       const std::string& count) override;
    void SetSwipeLine1(const std::string& text) override;
    void SetSwipeCount(const std::string& text) override;
    void ShowSwipe(bool show) override;
    void CentreSwipe() override;
    void CloseSwipe() override;

    void Sleep(int milliseconds) override;
    void ExpectSameCardAgain() override;

    bool JobIsRunning() const { return running_; }

  signals:
    // On the window's thread, in order with the worker's other calls: the reader waits for the
    // card just written to come through again (verify after write).
    void SameCardExpected();

  private:
    static constexpr auto& kLinkControls = CTollwickDlg::kLinkControlIds;

    CTollwickDlg& window_;
    Clock& clock_;
    bool running_ = false;
    // What the link controls are to show once the worker has ended: their state when it started,
    // changed by whatever enabled or disabled them meanwhile.
    std::array<bool, kLinkControls.size()> held_{};

    bool OnWindowThread() const { return QThread::currentThread() == thread(); }
    // Runs `action` now on the window thread, else posts it there behind earlier posts.
    template <class Action>
    void OnWindow(Action action) {
        if (OnWindowThread()) {
            action();
        } else {
            QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
        }
    }
    void ApplyEnable(int id, bool on);
    void EnableControls(std::span<const int> ids, bool on);
    void ShowBox(const std::string& text);
};

}  // namespace tollwick
