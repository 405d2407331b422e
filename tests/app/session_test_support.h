// The whole program over the virtual reader, and bounded waits on the event loop.
#pragma once

#include <QDeadlineTimer>
#include <chrono>
#include <functional>
#include <thread>

#include "app/desktop_session.h"
#include "app/swipe_dlg.h"
#include "app_test_support.h"
#include "device/virtual/virtual_reader.h"

namespace tollwick::testing {

// Runs the event loop until `condition` holds or `ms` milliseconds have passed.
inline bool WaitUntil(const std::function<bool()>& condition, int ms = 5000) {
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(5);
    }
    return true;
}

// Waits without running the event loop: the window's thread is busy elsewhere.
inline bool WaitUntilOffLoop(const std::function<bool()>& condition, int ms = 5000) {
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The whole program over the virtual reader: window, job view, job monitor and its timer.
class SessionTest : public WindowTest {
  protected:
    static constexpr int kHandMs = 150;

    QTemporaryDir dir;
    VirtualClock virtualClock;
    // The reader's waits and the monitor's pauses: on virtual time, unless a test follows the
    // program in real time (set before Start).
    Clock* clock = &virtualClock;
    std::unique_ptr<ProfileStore> profile;
    std::unique_ptr<VirtualReader> reader;
    AnsweredMessageBoxes boxes;
    std::unique_ptr<DesktopSession> session;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        profile = std::make_unique<ProfileStore>(dir.filePath("Tollwick.ini").toStdString());
    }
    void TearDown() override {
        session.reset();  // stops the worker before the reader goes
        reader.reset();
    }

    // Starts the program; the first tick connects to the reader.
    void Start(VirtualReader::Options options = {}, bool plugged = true) {
        reader = std::make_unique<VirtualReader>(options, SampleDeck(), *clock);
        if (!plugged) reader->Unplug();
        session = std::make_unique<DesktopSession>(std::make_unique<VirtualBackend>(*reader),
                                                   *profile, boxes, *clock);
        session->Start();
    }
    // Starts and waits for the end of the connection attempt.
    void StartReady(VirtualReader::Options options = {}) {
        Start(std::move(options));
        ASSERT_TRUE(WaitUntil([this] { return Window().isEnabled(); }));
        ASSERT_EQ(Message(), "Device READY");
    }

    CTollwickDlg& Window() override { return session->Window(); }
    CSwipeDlg& Swipe() { return Window().SwipeWindow(); }
    QString SwipeLine(int line) { return Swipe().Line(line); }
    void CancelJob() { QTest::mouseClick(Swipe().Control(2), Qt::LeftButton); }

    // Waits until the reader waits for a card.
    bool WaitArmed(VirtualReader::Armed armed) {
        return WaitUntil([this, armed] { return reader->ArmedFor() == armed; });
    }
    // As WaitArmed, then as long again as a hand needs at the least: the program listens 50 ms
    // for an immediate refusal after a write or erase command, and a card swiped within that
    // time is answered too early for it.
    bool WaitReadyToSwipe(VirtualReader::Armed armed) {
        if (!WaitArmed(armed)) return false;
        QTest::qWait(kHandMs);
        return reader->ArmedFor() == armed;
    }
    bool WaitMessage(const QString& text) {
        return WaitUntil([this, text] { return Message() == text; });
    }
    bool WaitWorkerEnded() {
        return WaitUntil([this] { return !session->Monitor().WorkerActive(); });
    }
};

}  // namespace tollwick::testing
