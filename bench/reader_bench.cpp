// Latency of one simulated read and one simulated write on the virtual reader, from arming to
// result, through the same layers the workers use: ReaderCommands over ReaderLink over the
// virtual reader's HID backend. The card is swiped by the reader itself as soon as it is armed.
//
// Besides wall time the harness reports the time spent in input reads that ended without a
// report (the protocol's gap and reply timeouts), the workers' fixed pauses between status
// polls, and the process CPU time; what remains of the wall time is our own work and the
// scheduler's.
//
//   tollwick_reader_bench [iterations]     (default 50)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "carddata/track_codec.h"
#include "carddata/track_format.h"
#include "device/hid_backend.h"
#include "device/reader_commands.h"
#include "device/reader_link.h"
#include "device/virtual/virtual_reader.h"

namespace {

using Clock = std::chrono::steady_clock;
// Polls of one read or write before it counts as failed (each waits up to 350 ms).
constexpr int kMaxPolls = 10;
using tollwick::CardTracks;
using tollwick::ReaderCommands;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double CpuMs(std::clock_t start) {
    return 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

// Time spent in input reads, split by whether a report came.
struct ReadTimes {
    double timedOutMs = 0;  // waited the whole timeout: nothing came
    double drainMs = 0;     // of which the channel's 1 ms reads for stale input before a send
    double deliveredMs = 0;
};

class TimedDevice final : public tollwick::HidDevice {
  public:
    TimedDevice(std::unique_ptr<tollwick::HidDevice> inner, ReadTimes& times)
        : inner_(std::move(inner)), times_(times) {}
    int InputReportLength() override { return inner_->InputReportLength(); }
    int OutputReportLength() override { return inner_->OutputReportLength(); }
    bool WriteReport(const uint8_t* report, std::size_t length, int timeoutMs) override {
        return inner_->WriteReport(report, length, timeoutMs);
    }
    int ReadReport(uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
        const auto start = Clock::now();
        const int got = inner_->ReadReport(buffer, capacity, timeoutMs);
        const double ms = MsSince(start);
        if (got != 0) {
            times_.deliveredMs += ms;
        } else {
            times_.timedOutMs += ms;
            if (timeoutMs <= 1) times_.drainMs += ms;
        }
        return got;
    }

  private:
    std::unique_ptr<tollwick::HidDevice> inner_;
    ReadTimes& times_;
};

class TimedBackend final : public tollwick::HidBackend {
  public:
    TimedBackend(tollwick::HidBackend& inner, ReadTimes& times) : inner_(inner), times_(times) {}
    std::vector<tollwick::HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        return inner_.Enumerate(vendorId, productId);
    }
    std::unique_ptr<tollwick::HidDevice> Open(const tollwick::HidDeviceInfo& info) override {
        auto device = inner_.Open(info);
        if (!device) return nullptr;
        return std::make_unique<TimedDevice>(std::move(device), times_);
    }

  private:
    tollwick::HidBackend& inner_;
    ReadTimes& times_;
};

struct Sample {
    double wallMs = 0;
    double timedOutMs = 0;   // reads that waited out their timeout
    double drainMs = 0;      // of which stale-input reads before a send
    double deliveredMs = 0;  // reads that got a report: the reader's pace, one per poll
    double pauseMs = 0;      // the worker's pauses between status polls
    double cpuMs = 0;
};

struct Series {
    std::vector<Sample> samples;
    int failures = 0;
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * static_cast<double>(values.size() - 1);
    const auto low = static_cast<std::size_t>(std::floor(rank));
    const auto high = static_cast<std::size_t>(std::ceil(rank));
    return values[low] + (values[high] - values[low]) * (rank - static_cast<double>(low));
}

void Report(const char* name, const Series& series) {
    auto column = [&](double Sample::*field) {
        std::vector<double> values;
        for (const Sample& s : series.samples) values.push_back(s.*field);
        return values;
    };
    std::vector<double> own;
    for (const Sample& s : series.samples) {
        own.push_back(s.wallMs - s.timedOutMs - s.deliveredMs - s.pauseMs);
    }
    const auto wall = column(&Sample::wallMs);
    std::printf("%-6s n=%zu failures=%d\n", name, series.samples.size(), series.failures);
    std::printf("  wall                  median %8.3f ms   p99 %8.3f ms\n", Percentile(wall, 50),
                Percentile(wall, 99));
    std::printf("  protocol timeouts     median %8.3f ms   p99 %8.3f ms\n",
                Percentile(column(&Sample::timedOutMs), 50),
                Percentile(column(&Sample::timedOutMs), 99));
    std::printf("    of which drain      median %8.3f ms   p99 %8.3f ms\n",
                Percentile(column(&Sample::drainMs), 50), Percentile(column(&Sample::drainMs), 99));
    std::printf("  reports delivered     median %8.3f ms   p99 %8.3f ms\n",
                Percentile(column(&Sample::deliveredMs), 50),
                Percentile(column(&Sample::deliveredMs), 99));
    std::printf("  worker poll pauses    median %8.3f ms   p99 %8.3f ms\n",
                Percentile(column(&Sample::pauseMs), 50), Percentile(column(&Sample::pauseMs), 99));
    std::printf("  wall less waits       median %8.3f ms   p99 %8.3f ms\n", Percentile(own, 50),
                Percentile(own, 99));
    std::printf("  process CPU           median %8.3f ms   p99 %8.3f ms\n",
                Percentile(column(&Sample::cpuMs), 50), Percentile(column(&Sample::cpuMs), 99));
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

    tollwick::VirtualReader reader;  // the sample deck; card 0 is blank until the first write
    reader.SetAutoSwipe(0, std::chrono::milliseconds(0), false);
    tollwick::VirtualBackend virtualBackend(reader);
    ReadTimes times;
    TimedBackend backend(virtualBackend, times);
    tollwick::ReaderLink link(backend);
    ReaderCommands commands(link);
    if (commands.ConnectScan() < 0) {
        std::fprintf(stderr, "the virtual reader did not answer\n");
        return 1;
    }

    const tollwick::TrackSet& settings = tollwick::kIsoTrackSet;
    CardTracks written;
    written.SetText(0, "B4000001234567899^TOLLWICK/BENCHMARK CARD^2912101000000000000");
    written.SetText(1, "4000001234567899=29121010000000000000");
    written.SetText(2, "011234567890123445=724724000000000000030300000000000000000000");

    Series reads;
    Series writes;
    for (int i = 0; i < iterations; ++i) {
        // Write: send the block, then poll the status with the workers' 5 ms pause. WriteTracks
        // drops whatever the reader sends within its first 50 ms, so a card swiped by the
        // reader the moment it is armed would have its status dropped: the card is swiped as
        // soon as WriteTracks returns instead, the earliest moment the status is listened for.
        {
            tollwick::TrackTexts texts = written.Texts();
            reader.SetAutoSwipe(std::nullopt, std::chrono::milliseconds(0), false);
            times = {};
            Sample s;
            const auto start = Clock::now();
            const std::clock_t cpu = std::clock();
            const tollwick::CommandStatus result = commands.WriteTracks(texts, settings);
            tollwick::CardStatus status = tollwick::CardStatus::kNoReplyYet;
            if (result == tollwick::CommandStatus::kOk) {
                reader.Swipe(0);
                for (int poll = 0; poll < kMaxPolls; ++poll) {
                    status = commands.WaitWriteStatus();
                    if (status != tollwick::CardStatus::kNoReplyYet) break;
                    const auto pause = Clock::now();
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    s.pauseMs += MsSince(pause);
                }
            }
            s.wallMs = MsSince(start);
            s.cpuMs = CpuMs(cpu);
            s.timedOutMs = times.timedOutMs;
            s.drainMs = times.drainMs;
            s.deliveredMs = times.deliveredMs;
            writes.samples.push_back(s);
            if (result != tollwick::CommandStatus::kOk || status != tollwick::CardStatus::kDone) {
                ++writes.failures;
            }
            reader.SetAutoSwipe(0, std::chrono::milliseconds(0), false);
        }
        // Read: arm, poll until a block came, decode.
        {
            CardTracks card;
            times = {};
            Sample s;
            const auto start = Clock::now();
            const std::clock_t cpu = std::clock();
            uint8_t errors = 0xFF;
            if (commands.StartRawRead() == tollwick::CommandStatus::kOk) {
                auto result = tollwick::ReceiveResult::kNoSwipe;
                for (int poll = 0; poll < kMaxPolls; ++poll) {
                    result = commands.ReceiveTracks(card);
                    if (result != tollwick::ReceiveResult::kNoSwipe) break;
                }
                if (result == tollwick::ReceiveResult::kReceived) {
                    errors = tollwick::DecodeTracks(card, settings);
                }
            }
            s.wallMs = MsSince(start);
            s.cpuMs = CpuMs(cpu);
            s.timedOutMs = times.timedOutMs;
            s.drainMs = times.drainMs;
            s.deliveredMs = times.deliveredMs;
            reads.samples.push_back(s);
            bool same = errors == 0;
            for (int t = 0; t < 3 && same; ++t) {
                const std::string_view text = card.Text(t);
                same = text.size() == written.Text(t).size() + 2 &&
                       text.substr(1, text.size() - 2) == written.Text(t);
            }
            if (!same) ++reads.failures;
        }
    }

    std::printf(
        "virtual reader; read: card swiped when armed; write: card swiped when WriteTracks "
        "returns; %d iterations of each\n",
        iterations);
    Report("read", reads);
    Report("write", writes);
    return reads.failures + writes.failures == 0 ? 0 : 1;
}
