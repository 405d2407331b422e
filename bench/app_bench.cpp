// Latency harness for the desktop program on the virtual reader, offscreen:
//   - start-up: from building the session to "Device READY" with the window enabled, and what
//     of it is not the reader's waits (time in input reads: the replies' reports at the reader's
//     pace, and the timeouts that end them) nor the fixed pauses of the connection (5 ms after
//     the reader answered, 100 ms at the end);
//   - read: from the swipe to the texts in the track boxes, and from the end of the read block
//     to the boxes: the block's reports arrive one per 1 ms poll, and the block ends 50 ms after
//     its last report (the gap that ends a block is the protocol's);
//   - CPU used by the whole program while a Read job waits for a swipe.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "app/desktop_session.h"
#include "app/message_box_seam.h"
#include "device/virtual/virtual_reader.h"
#include "settings/profile_store.h"

namespace {

using namespace tollwick;
using SteadyClock = std::chrono::steady_clock;

class SilentBoxes final : public MessageBoxSeam {
  public:
    void Inform(QWidget*, const QString&) override {}
};

// Adds up the time spent in input reads (the reader's waits: for a reply's next report, or a
// timeout), and notes when the last report came.
class WaitTimingBackend final : public HidBackend {
  public:
    explicit WaitTimingBackend(VirtualReader& reader) : inner_(reader) {}
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        return inner_.Enumerate(vendorId, productId);
    }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        auto device = inner_.Open(info);
        if (!device) return nullptr;
        return std::make_unique<Device>(std::move(device), waitedMs_, lastReportNs_);
    }
    double WaitedMs() const { return waitedMs_; }
    SteadyClock::time_point LastReport() const {
        return SteadyClock::time_point(std::chrono::nanoseconds(lastReportNs_.load()));
    }

  private:
    class Device final : public HidDevice {
      public:
        Device(std::unique_ptr<HidDevice> inner, double& waitedMs, std::atomic<int64_t>& lastNs)
            : inner_(std::move(inner)), waitedMs_(waitedMs), lastNs_(lastNs) {}
        int InputReportLength() override { return inner_->InputReportLength(); }
        int OutputReportLength() override { return inner_->OutputReportLength(); }
        bool WriteReport(const uint8_t* report, std::size_t length, int timeoutMs) override {
            return inner_->WriteReport(report, length, timeoutMs);
        }
        int ReadReport(uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
            const auto start = SteadyClock::now();
            const int got = inner_->ReadReport(buffer, capacity, timeoutMs);
            const auto end = SteadyClock::now();
            // The time in a read is the reader's: its replies leave one report per poll.
            waitedMs_ += std::chrono::duration<double, std::milli>(end - start).count();
            if (got > 0) {
                lastNs_.store(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(end.time_since_epoch())
                        .count());
            }
            return got;
        }

      private:
        std::unique_ptr<HidDevice> inner_;
        double& waitedMs_;
        std::atomic<int64_t>& lastNs_;
    };
    VirtualBackend inner_;
    double waitedMs_ = 0;
    std::atomic<int64_t> lastReportNs_{0};
};

// The connection sequence's own pauses: 5 ms once the reader answered, 100 ms at its end.
constexpr double kConnectionPausesMs = 105.0;

template <typename Condition>
bool Pump(Condition condition, int timeoutMs) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (SteadyClock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double p99 = ms[std::min(ms.size() - 1, (ms.size() * 99) / 100)];
    std::printf("%-44s n=%3zu  median %7.1f ms  p99 %7.1f ms\n", what, ms.size(), median, p99);
}

// Notes when the track 1 box is painted showing a given text.
class PaintWatch final : public QObject {
  public:
    PaintWatch(QPlainTextEdit& edit) : edit_(edit) { edit_.viewport()->installEventFilter(this); }
    void Expect(const QString& text) {
        expected_ = text;
        painted_.reset();
    }
    std::optional<SteadyClock::time_point> Painted() const { return painted_; }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted_ && edit_.toPlainText() == expected_)
            painted_ = SteadyClock::now();
        return false;
    }

  private:
    QPlainTextEdit& edit_;
    QString expected_;
    std::optional<SteadyClock::time_point> painted_;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    QTemporaryDir dir;
    ProfileStore profile(dir.filePath("Tollwick.ini").toStdString());
    SilentBoxes boxes;

    // Start-up to "Device READY".
    std::vector<double> startup;
    std::vector<double> startupOwn;
    for (int i = 0; i < std::max(5, runs / 3); ++i) {
        VirtualReader reader(VirtualReader::Options{}, SampleDeck());
        QElapsedTimer timer;
        timer.start();
        auto backend = std::make_unique<WaitTimingBackend>(reader);
        const WaitTimingBackend& waits = *backend;
        DesktopSession session(std::move(backend), profile, boxes);
        session.Start();
        if (!Pump(
                [&] {
                    return session.Window().isEnabled() &&
                           session.Window().MessageText() == "Device READY";
                },
                5000)) {
            std::fprintf(stderr, "start-up did not reach Device READY\n");
            return 1;
        }
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        startup.push_back(ms);
        startupOwn.push_back(ms - waits.WaitedMs() - kConnectionPausesMs);
    }

    VirtualReader reader(VirtualReader::Options{}, SampleDeck());
    auto timedBackend = std::make_unique<WaitTimingBackend>(reader);
    const WaitTimingBackend& reports = *timedBackend;
    DesktopSession session(std::move(timedBackend), profile, boxes);
    session.Start();
    Pump([&] { return session.Window().isEnabled(); }, 5000);
    session.Monitor().LaunchRead();

    // CPU while the Read job waits for a swipe.
    Pump([&] { return reader.ArmedFor() == VirtualReader::Armed::kRead; }, 2000);
    const double cpu0 = CpuSeconds();
    const auto wall0 = SteadyClock::now();
    {
        QEventLoop idle;  // the program's own event loop, not a busy wait of this harness
        QTimer::singleShot(5000, &idle, &QEventLoop::quit);
        idle.exec();
    }
    const double cpuWaiting = CpuSeconds() - cpu0;
    const double wallWaiting = std::chrono::duration<double>(SteadyClock::now() - wall0).count();

    // Swipe to track boxes, alternating a blank card and the ISO card so that the boxes change.
    std::vector<double> swipeToBoxes;
    std::vector<double> blockEndToBoxes;
    PaintWatch watch(*qobject_cast<QPlainTextEdit*>(session.Window().Control(1005)));
    for (int i = 0; i < runs; ++i) {
        const std::size_t card = (i % 2 == 0) ? 3 : 0;
        const QString expected =
            card == 3 ? QString("%B4000001234567899^TOLLWICK/TEST CARD^2912101000000000000?")
                      : QString("{NO DATA}");
        if (!Pump([&] { return reader.ArmedFor() == VirtualReader::Armed::kRead; }, 3000)) break;
        watch.Expect(expected);
        const auto swiped = SteadyClock::now();
        reader.Swipe(card);
        if (!Pump([&] { return watch.Painted().has_value(); }, 3000)) {
            std::fprintf(stderr, "the card did not reach the track boxes\n");
            return 1;
        }
        const double ms =
            std::chrono::duration<double, std::milli>(*watch.Painted() - swiped).count();
        swipeToBoxes.push_back(ms);
        // The block ends once 50 ms have passed after its last report.
        const auto blockEnd = reports.LastReport() + std::chrono::milliseconds(50);
        blockEndToBoxes.push_back(
            std::chrono::duration<double, std::milli>(*watch.Painted() - blockEnd).count());
    }
    session.Monitor().CancelJob();

    std::printf("Desktop program on the virtual reader, offscreen\n");
    Report("start-up to \"Device READY\"", startup);
    Report("  of it beyond reader waits and pauses", startupOwn);
    Report("swipe to track boxes painted", swipeToBoxes);
    Report("end of read block (50 ms gap) to boxes", blockEndToBoxes);
    std::printf("%-44s %.1f ms CPU in %.1f s (%.2f %% of one core)\n",
                "CPU while a Read job waits for a swipe", cpuWaiting * 1000, wallWaiting,
                100.0 * cpuWaiting / wallWaiting);
    return 0;
}
