// Rigs for the device tests: a HID backend whose device answers from a script (tests put input
// reports in and read the output reports the channel sent), and the reader commands over the
// virtual reader, both on virtual time.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/clock.h"
#include "device/hid_backend.h"
#include "device/reader_commands.h"
#include "device/virtual/virtual_reader.h"

namespace tollwick::testing {

struct ScriptedState {
    VirtualClock clock;  // reads that find nothing take their whole timeout, on virtual time
    std::vector<HidDeviceInfo> devices{{"scripted:0", 0x0801, 0x0005}};
    std::deque<std::vector<uint8_t>> input;  // whole reports, report id first
    std::vector<std::vector<uint8_t>> output;
    int inputLength = 9;
    bool failWrites = false;
    std::vector<std::string> opened;      // every path tried, in order
    std::vector<std::string> unopenable;  // paths that cannot be opened
    // After this many reports written, the output length reads as given (0: the device is gone).
    std::optional<std::pair<std::size_t, int>> outputLengthAfterWrites;
    std::deque<std::vector<uint8_t>> replies;  // one per output report, queued when it is written
    // Reports that arrive at a time to come, in order; a read waits for them on the clock.
    std::deque<std::pair<Clock::TimePoint, std::vector<uint8_t>>> later;

    // Queues stream bytes as reports of inputLength, zero-filled.
    void Reply(const std::vector<uint8_t>& bytes) { replies.push_back(bytes); }
    void Send(const std::vector<uint8_t>& bytes) {
        const std::size_t per = static_cast<std::size_t>(inputLength - 1);
        for (std::size_t pos = 0; pos < bytes.size(); pos += per) {
            std::vector<uint8_t> report(static_cast<std::size_t>(inputLength), 0);
            for (std::size_t i = 0; i < per && pos + i < bytes.size(); ++i)
                report[i + 1] = bytes[pos + i];
            input.push_back(report);
        }
    }
    // As Send, the reports arriving `after` from now.
    void SendAfter(std::chrono::milliseconds after, const std::vector<uint8_t>& bytes) {
        const std::size_t before = input.size();
        Send(bytes);
        for (std::size_t i = before; i < input.size(); ++i)
            later.emplace_back(clock.Now() + after, input[i]);
        input.resize(before);
    }
};

class ScriptedDevice final : public HidDevice {
  public:
    explicit ScriptedDevice(ScriptedState& s) : s_(s) {}
    int InputReportLength() override { return s_.inputLength; }
    int OutputReportLength() override {
        if (s_.outputLengthAfterWrites && s_.output.size() >= s_.outputLengthAfterWrites->first) {
            return s_.outputLengthAfterWrites->second;
        }
        return 9;
    }
    bool WriteReport(const uint8_t* report, std::size_t length, int) override {
        if (s_.failWrites) return false;
        s_.output.emplace_back(report, report + length);
        if (!s_.replies.empty()) {
            s_.Send(s_.replies.front());
            s_.replies.pop_front();
        }
        return true;
    }
    int ReadReport(uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
        const auto giveUp = s_.clock.Now() + std::chrono::milliseconds(timeoutMs);
        if (s_.input.empty() && !s_.later.empty() && s_.later.front().first <= giveUp) {
            s_.clock.Advance(std::max(s_.later.front().first - s_.clock.Now(), Clock::Duration{}));
            s_.input.push_back(s_.later.front().second);
            s_.later.pop_front();
        }
        if (s_.input.empty()) {
            s_.clock.Advance(std::chrono::milliseconds(timeoutMs));
            return 0;
        }
        const auto report = s_.input.front();
        s_.input.pop_front();
        for (std::size_t i = 0; i < report.size() && i < capacity; ++i) buffer[i] = report[i];
        return static_cast<int>(report.size());
    }

  private:
    ScriptedState& s_;
};

class ScriptedBackend final : public HidBackend {
  public:
    explicit ScriptedBackend(ScriptedState& s) : s_(s) {}
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        std::vector<HidDeviceInfo> found;
        for (const auto& d : s_.devices) {
            if (d.vendorId == vendorId && d.productId == productId) found.push_back(d);
        }
        return found;
    }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        s_.opened.push_back(info.path);
        const auto& no = s_.unopenable;
        if (std::find(no.begin(), no.end(), info.path) != no.end()) return nullptr;
        return std::make_unique<ScriptedDevice>(s_);
    }

  private:
    ScriptedState& s_;
};

inline TrackTexts Texts(const char* t1, const char* t2, const char* t3) {
    TrackTexts texts{};
    const char* from[] = {t1, t2, t3};
    for (std::size_t t = 0; t < 3; ++t) std::strcpy(texts[t].data(), from[t]);
    return texts;
}

struct VirtualRig {
    explicit VirtualRig(VirtualReader::Options options = {})
        : reader(options, SampleDeck(), clock) {}
    VirtualClock clock;
    VirtualReader reader;
    VirtualBackend backend{reader};
    ReaderLink link{backend, clock};
    ReaderCommands commands{link};

    // Connects and forgets what that sent.
    bool Connect() {
        const bool found = commands.ConnectScan() == 1;
        reader.TakeOutputReports();
        return found;
    }
    // Writes one card swiped after arming; the write status, or -1 when the write was refused.
    int Write(const TrackSet& settings, const char* t1, const char* t2, const char* t3,
              std::size_t card = 0) {
        TrackTexts texts = Texts(t1, t2, t3);
        if (commands.WriteTracks(texts, settings) != kReaderOk) return -1;
        reader.Swipe(card);
        return commands.WaitWriteStatus();
    }
    // Reads one card swiped after arming; the result of ReceiveTracks.
    int ReadCard(std::size_t index, CardTracks& card) {
        if (commands.StartRawRead() != kReaderOk) return -1;
        reader.Swipe(index);
        return commands.ReceiveTracks(card);
    }
};

}  // namespace tollwick::testing
