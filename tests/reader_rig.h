// The reader on a bench, for every level of tests: a HID backend whose device answers from a
// script (tests put input reports in and read the output reports the channel sent), a tap on the
// virtual reader's link that can refuse look-ups and fault a reply, the reader commands over the
// virtual reader on virtual time, the test deck, and the one bounded wait.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "carddata/track_codec.h"
#include "device/clock.h"
#include "device/hid_backend.h"
#include "device/reader_commands.h"
#include "device/virtual/virtual_reader.h"

namespace tollwick::testing {

using namespace std::chrono_literals;

class ScriptedDevice;

// The scripted device's state, and the backend that finds and opens it.
struct ScriptedState final : HidBackend {
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

    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        std::vector<HidDeviceInfo> found;
        for (const auto& d : devices) {
            if (d.vendorId == vendorId && d.productId == productId) found.push_back(d);
        }
        return found;
    }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override;
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

inline std::unique_ptr<HidDevice> ScriptedState::Open(const HidDeviceInfo& info) {
    opened.push_back(info.path);
    if (std::find(unopenable.begin(), unopenable.end(), info.path) != unopenable.end()) {
        return nullptr;
    }
    return std::make_unique<ScriptedDevice>(*this);
}

// The reader commands over a scripted device that answers the connection test.
struct ScriptedRig {
    ScriptedRig() { s.Reply({0x1B, 'y'}); }
    ScriptedState s;
    ReaderLink link{s, s.clock};
    ReaderCommands commands{link};

    // Connects on port 1 and forgets what that sent.
    bool Connect() {
        const bool found = commands.ConnectPort(1) == 1;
        s.output.clear();
        return found;
    }
};

// Generous: long enough for any reader wait, short enough to end a hung test.
inline constexpr auto kBound = 3s;

// Checks `done` until it holds (true) or `bound` has passed (false), running `pause` in between:
// a sleep, or on a window's thread its event loop.
inline bool WaitFor(
    const std::function<bool()>& done, std::chrono::milliseconds bound = kBound,
    const std::function<void()>& pause = [] { std::this_thread::sleep_for(2ms); }) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        pause();
    }
    return true;
}

// The host's side of the virtual reader's link, with two things a test needs: it knows when the
// host listens for the reader's answer to a card (a read of 350 ms is under way), and it can
// fault the reader's answer after its first input report (the middle of a read block).
class TapBackend final : public HidBackend {
  public:
    enum class MidReply { kNone, kUnplug, kReplug, kSilence, kWrongByte };

    TapBackend(VirtualReader& reader, HidBackend& inner) : reader_(reader), inner_(inner) {}

    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        if (refusals_.fetch_sub(1) > 0) return {};
        return inner_.Enumerate(vendorId, productId);
    }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        auto device = inner_.Open(info);
        return device ? std::make_unique<Device>(*this, std::move(device)) : nullptr;
    }

    // The next `count` look-ups find nothing: a stored port on which no reader answers.
    void RefuseLookups(int count) { refusals_ = count; }
    // The host waits for a swipe or a status: a card swiped now is answered to it.
    bool Listening() const { return longReads_.load() > 0; }
    // The fault hits the reply to the next card, after its first report.
    void FaultNextReply(MidReply fault) {
        std::lock_guard lock(mutex_);
        fault_ = fault;
        seenFirst_ = false;
    }

  private:
    class Device final : public HidDevice {
      public:
        Device(TapBackend& tap, std::unique_ptr<HidDevice> inner)
            : tap_(tap), inner_(std::move(inner)) {}
        int InputReportLength() override { return inner_->InputReportLength(); }
        int OutputReportLength() override { return inner_->OutputReportLength(); }
        bool WriteReport(const uint8_t* report, std::size_t length, int timeoutMs) override {
            return inner_->WriteReport(report, length, timeoutMs);
        }
        int ReadReport(uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
            const int listening = timeoutMs >= 300 ? 1 : 0;
            tap_.longReads_ += listening;
            const int got = tap_.Read(*inner_, buffer, capacity, timeoutMs);
            tap_.longReads_ -= listening;
            return got;
        }

      private:
        TapBackend& tap_;
        std::unique_ptr<HidDevice> inner_;
    };

    VirtualReader& reader_;
    HidBackend& inner_;
    std::atomic<int> refusals_{0};
    std::atomic<int> longReads_{0};
    std::mutex mutex_;
    MidReply fault_ = MidReply::kNone;
    bool seenFirst_ = false;

    int Read(HidDevice& device, uint8_t* buffer, std::size_t capacity, int timeoutMs) {
        std::unique_lock lock(mutex_);
        // The rest of a silenced reply never reaches the host: its reports, paced as they come,
        // are taken here until the reader has sent them all.
        if (seenFirst_ && fault_ == MidReply::kSilence) {
            while (device.ReadReport(buffer, capacity, 20) > 0) {
            }
            fault_ = MidReply::kNone;
        }
        lock.unlock();
        const int got = device.ReadReport(buffer, capacity, timeoutMs);
        lock.lock();
        if (got <= 0 || fault_ == MidReply::kNone) return got;
        if (!seenFirst_) {
            seenFirst_ = true;
            if (fault_ == MidReply::kUnplug || fault_ == MidReply::kReplug) {
                reader_.Unplug();
                if (fault_ == MidReply::kReplug) reader_.Plug();
                fault_ = MidReply::kNone;
            }
        } else if (fault_ == MidReply::kWrongByte) {
            if (got > 1) buffer[1] ^= 0x10;  // one flipped bit in the reply
            fault_ = MidReply::kNone;
        }
        return got;
    }
};

// Cards of the sample deck.
namespace sample {
inline constexpr std::size_t kBlank = 0;           // blank cards 0 to 2
inline constexpr std::size_t kIsoCard = 3;         // a well-formed ISO card
inline constexpr std::size_t kRawCard = 6;         // raw bytes
inline constexpr std::size_t kDamagedCard = 7;     // one bit of track 2 flipped
inline constexpr std::size_t kBackwardsCard = 10;  // written well, swiped backwards
inline constexpr std::size_t kWeakSpotCard = 11;   // bit 42 of track 2 always reads wrong
// The sample card named `name` (the cards of the dirt are known by name).
inline std::size_t CardNamed(const std::string& name) {
    const Deck deck = SampleDeck();
    for (std::size_t i = 0; i < deck.cards.size(); ++i) {
        if (deck.cards[i].name == name) return i;
    }
    return deck.cards.size();
}
}  // namespace sample

// The texts a virtual card carries, read with the ISO formats unless told; the tracks that failed
// as DecodeTracks gives them in `errors`.
inline TrackTexts TextsOnCard(const VirtualCard& virtualCard,
                              const TrackSet& settings = kIsoTrackSet, uint8_t* errors = nullptr) {
    CardTracks card;
    for (int t = 0; t < 3; ++t) {
        const auto& bits = virtualCard.tracks[static_cast<std::size_t>(t)];
        std::copy_n(bits.begin(), std::min<std::size_t>(bits.size(), kTrackBufferSize - 1),
                    card.track[t].begin());
    }
    const uint8_t failed = DecodeTracks(card, settings);
    if (errors != nullptr) *errors = failed;
    return {std::string(card.Text(0)), std::string(card.Text(1)), std::string(card.Text(2))};
}

struct VirtualRig {
    explicit VirtualRig(VirtualReader::Options options = {})
        : reader(options, SampleDeck(), clock) {}
    VirtualClock clock;
    VirtualReader reader;
    VirtualBackend backend{reader};
    TapBackend tap{reader, backend};
    ReaderLink link{tap, clock};
    ReaderCommands commands{link};

    // Connects and forgets what that sent.
    bool Connect() {
        const bool found = commands.ConnectScan() == 1;
        reader.TakeOutputReports();
        return found;
    }
    // Writes one card swiped after arming; the write status, or kNotPending when the write was
    // refused.
    CardStatus Write(const TrackSet& settings, const char* t1, const char* t2, const char* t3,
                     std::size_t card = 0) {
        TrackTexts texts{t1, t2, t3};
        if (commands.WriteTracks(texts, settings) != CommandStatus::kOk) {
            return CardStatus::kNotPending;
        }
        reader.Swipe(card);
        return commands.WaitWriteStatus();
    }
    // Reads one card swiped after arming; the result of ReceiveTracks.
    ReceiveResult ReadCard(std::size_t index, CardTracks& card) {
        if (commands.StartRawRead() != CommandStatus::kOk) return ReceiveResult::kNotConnected;
        reader.Swipe(index);
        return commands.ReceiveTracks(card);
    }
};

// A VirtualRig connected at once; each card read as it decodes.
struct ConnectedRig : VirtualRig {
    explicit ConnectedRig(VirtualReader::Options options = {}) : VirtualRig(options) {
        EXPECT_TRUE(Connect());
    }
    CardTracks Read(std::size_t card, const TrackSet& settings = kIsoTrackSet) {
        CardTracks decoded;
        EXPECT_EQ(ReadCard(card, decoded), ReceiveResult::kReceived);
        DecodeTracks(decoded, settings);
        return decoded;
    }
};

}  // namespace tollwick::testing
