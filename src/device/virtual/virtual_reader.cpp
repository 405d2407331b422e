#include "device/virtual/virtual_reader.h"

#include <algorithm>
#include <string>
#include <utility>

#include "carddata/track_codec.h"

namespace tollwick {
namespace {

constexpr uint8_t kEscByte = 0x1B;
// A command left incomplete this long is dropped, as the reader's own input timeout does.
constexpr auto kCommandTimeout = std::chrono::milliseconds(100);
// After a write or erase command the host listens 50 ms for an immediate refusal; no hand swipes
// a card that fast, and a status sent within it would be taken for one.
constexpr auto kHostListenGuard = std::chrono::milliseconds(80);
constexpr int kFixedTrackDensity = 210;
constexpr int kOutputReportLength = 9;

}  // namespace

// A host handle on the reader, as hidapi gives one on hidraw: it goes stale when the reader is
// unplugged or plugged in again; a stale handle fails its next read or write and from then on
// reports an output length of 0.
class VirtualDevice final : public HidDevice {
  public:
    VirtualDevice(VirtualReader& reader, uint64_t generation)
        : reader_(reader), generation_(generation) {}
    int InputReportLength() override { return reader_.HostInputReportLength(generation_); }
    int OutputReportLength() override {
        return reader_.HostOutputReportLength(generation_, failed_);
    }
    bool WriteReport(const uint8_t* report, std::size_t length, int /*timeoutMs*/) override {
        if (reader_.HostWrite(generation_, report, length)) return true;
        failed_ = true;
        return false;
    }
    int ReadReport(uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
        const int result = reader_.HostRead(generation_, buffer, capacity, timeoutMs);
        if (result < 0) failed_ = true;
        return result;
    }

  private:
    VirtualReader& reader_;
    uint64_t generation_;
    bool failed_ = false;
};

VirtualReader::VirtualReader() : VirtualReader(Options{}, SampleDeck()) {}

VirtualReader::VirtualReader(Options options, Deck deck, Clock& clock)
    : options_(std::move(options)), clock_(clock), deck_(std::move(deck)), jitter_(options_.seed) {}

VirtualReader::~VirtualReader() = default;

Deck VirtualReader::GetDeck() const {
    std::lock_guard lock(mutex_);
    return deck_;
}

void VirtualReader::SetDeck(Deck deck) {
    std::lock_guard lock(mutex_);
    deck_ = std::move(deck);
}

std::size_t VirtualReader::CardCount() const {
    std::lock_guard lock(mutex_);
    return deck_.cards.size();
}

std::optional<VirtualCard> VirtualReader::Card(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= deck_.cards.size()) return std::nullopt;
    return deck_.cards[index];
}

void VirtualReader::EventLocked() {
    ++events_;
    inputReady_.notify_all();
}

bool VirtualReader::Swipe(std::size_t index) {
    std::vector<std::size_t> changed;
    bool done = false;
    {
        std::lock_guard lock(mutex_);
        done = SwipeLocked(index, changed);
        EventLocked();
    }
    NotifyChanged(changed);
    return done;
}

void VirtualReader::SetAutoSwipe(std::optional<std::size_t> firstCard,
                                 std::chrono::milliseconds delay, bool advance) {
    std::lock_guard lock(mutex_);
    autoCard_ = firstCard;
    autoDelay_ = delay;
    autoAdvance_ = advance;
    autoSwipeAt_.reset();
    if (autoCard_ && armed_ != Armed::kIdle) autoSwipeAt_ = clock_.Now() + autoDelay_;
    EventLocked();
}

std::optional<std::size_t> VirtualReader::NextAutoSwipeCard() const {
    std::lock_guard lock(mutex_);
    return autoCard_;
}

void VirtualReader::Unplug() {
    std::lock_guard lock(mutex_);
    plugged_ = false;
    input_.clear();
    command_.clear();
    armed_ = Armed::kIdle;
    autoSwipeAt_.reset();
    EventLocked();
}

void VirtualReader::Plug() {
    std::lock_guard lock(mutex_);
    if (plugged_) return;
    plugged_ = true;
    ++generation_;
    EventLocked();
}

bool VirtualReader::IsPlugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

void VirtualReader::SetSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void VirtualReader::SetWrongReplies(bool wrong) {
    std::lock_guard lock(mutex_);
    wrongReplies_ = wrong;
}

void VirtualReader::SetRejectWrites(bool reject) {
    std::lock_guard lock(mutex_);
    rejectWrites_ = reject;
}

void VirtualReader::SetRejectErases(bool reject) {
    std::lock_guard lock(mutex_);
    rejectErases_ = reject;
}

void VirtualReader::SetRejectNext(bool reject) {
    std::lock_guard lock(mutex_);
    rejectNext_ = reject;
}

bool VirtualReader::RejectNextPending() const {
    std::lock_guard lock(mutex_);
    return rejectNext_;
}

void VirtualReader::SetReplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    replyDelay_ = delay;
}

void VirtualReader::SetStallNext(std::size_t afterReports, std::chrono::milliseconds pause) {
    std::lock_guard lock(mutex_);
    stallNext_ = std::make_pair(afterReports, pause);
}

void VirtualReader::SetChatterAfterWrite(bool chatter) {
    std::lock_guard lock(mutex_);
    chatterAfterWrite_ = chatter;
}

void VirtualReader::SetPollInterval(std::chrono::microseconds interval,
                                    std::chrono::microseconds jitter) {
    std::lock_guard lock(mutex_);
    options_.pollInterval = interval;
    options_.pollJitter = jitter;
}

void VirtualReader::SetInputReportLength(int length) {
    std::lock_guard lock(mutex_);
    options_.inputReportLength = length;
}

VirtualReader::Armed VirtualReader::ArmedFor() const {
    std::lock_guard lock(mutex_);
    return armed_;
}

int VirtualReader::Density() const {
    std::lock_guard lock(mutex_);
    return density_;
}

bool VirtualReader::HighCoercivity() const {
    std::lock_guard lock(mutex_);
    return highCoercivity_;
}

bool VirtualReader::BeeperOn() const {
    std::lock_guard lock(mutex_);
    return beeper_;
}

std::vector<std::vector<uint8_t>> VirtualReader::TakeOutputReports() {
    std::lock_guard lock(mutex_);
    return std::exchange(outputLog_, {});
}

void VirtualReader::SetOnCardChanged(std::function<void(std::size_t)> callback) {
    std::lock_guard lock(mutex_);
    onCardChanged_ = std::move(callback);
}

void VirtualReader::NotifyChanged(const std::vector<std::size_t>& changed) {
    std::function<void(std::size_t)> callback;
    {
        std::lock_guard lock(mutex_);
        callback = onCardChanged_;
    }
    if (!callback) return;
    for (std::size_t index : changed) callback(index);
}

// --- Host side ---

int VirtualReader::HostInputReportLength(uint64_t generation) const {
    std::lock_guard lock(mutex_);
    if (!options_.reportLengthKnown) return 0;
    return (plugged_ && generation == generation_) ? options_.inputReportLength : 0;
}

int VirtualReader::HostOutputReportLength(uint64_t generation, bool failed) const {
    std::lock_guard lock(mutex_);
    // The Windows capabilities of a gone device cannot be had; hidapi on hidraw only learns of it
    // from a failed transfer.
    if (options_.reportLengthKnown) {
        return (plugged_ && generation == generation_) ? kOutputReportLength : 0;
    }
    return failed ? 0 : kOutputReportLength;
}

bool VirtualReader::HostWrite(uint64_t generation, const uint8_t* report, std::size_t length) {
    std::lock_guard lock(mutex_);
    if (!plugged_ || generation != generation_) return false;
    outputLog_.emplace_back(report, report + length);
    const auto now = clock_.Now();
    if (!command_.empty() && now - lastOutput_ > kCommandTimeout) command_.clear();
    lastOutput_ = now;
    // Every data byte of the report goes through the parser, fill included: the reader cannot
    // tell fill from data either.
    for (std::size_t i = 1; i < length; ++i) TakeByteLocked(report[i]);
    EventLocked();
    return true;
}

int VirtualReader::HostRead(uint64_t generation, uint8_t* buffer, std::size_t capacity,
                            int timeoutMs) {
    std::vector<std::size_t> changed;
    int result = 0;
    {
        std::unique_lock lock(mutex_);
        const auto deadline = clock_.Now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        for (;;) {
            if (!plugged_ || generation != generation_) {
                result = -1;
                break;
            }
            RunDueAutoSwipeLocked(changed);
            const auto now = clock_.Now();
            if (!input_.empty() && input_.front().availableAt <= now) {
                const Report& report = input_.front();
                const std::size_t n = std::min(report.bytes.size(), capacity);
                std::copy_n(report.bytes.begin(), n, buffer);
                result = static_cast<int>(n);
                input_.pop_front();
                break;
            }
            if (now >= deadline) break;
            auto wake = deadline;
            if (!input_.empty()) wake = std::min(wake, input_.front().availableAt);
            if (autoSwipeAt_) wake = std::min(wake, *autoSwipeAt_);
            const uint64_t seen = events_;
            clock_.WaitUntil(lock, inputReady_, wake, [this, seen] { return events_ != seen; });
        }
    }
    NotifyChanged(changed);
    return result;
}

// --- Command handling ---

void VirtualReader::TakeByteLocked(uint8_t byte) {
    if (command_.empty()) {
        if (byte == kEscByte) command_.push_back(byte);  // fill bytes between commands are ignored
        return;
    }
    command_.push_back(byte);
    if (CommandCompleteLocked()) {
        ExecuteLocked();
        command_.clear();
    }
}

bool VirtualReader::CommandCompleteLocked() const {
    const std::size_t n = command_.size();
    if (n < 2) return false;
    switch (command_[1]) {
        case 'b':
        case 'c':
            return n >= 3;
        case 'n': {
            // ESC 'n' ESC 's' then three track sections: ESC, number, length, data.
            std::size_t pos = 2;
            if (n < pos + 2) return false;
            if (command_[2] != kEscByte || command_[3] != 's') return true;  // malformed: dropped
            pos += 2;
            for (int t = 1; t <= 3; ++t) {
                if (n < pos + 3) return false;
                if (command_[pos] != kEscByte || command_[pos + 1] != t) return true;
                const std::size_t length = command_[pos + 2];
                if (n < pos + 3 + length) return false;
                pos += 3 + length;
            }
            return true;
        }
        default:
            return true;
    }
}

void VirtualReader::ExecuteLocked() {
    switch (command_[1]) {
        case 'e':
            ReplyLocked({kEscByte, 'y'});
            break;
        case 'a':
            armed_ = Armed::kIdle;
            autoSwipeAt_.reset();
            break;
        case 'm':
            ArmLocked(Armed::kRead);
            break;
        case 'n': {
            std::array<std::vector<uint8_t>, 3> tracks;
            std::size_t pos = 4;
            for (std::size_t t = 0; t < 3; ++t) {
                if (pos + 3 > command_.size() || command_[pos] != kEscByte ||
                    command_[pos + 1] != t + 1) {
                    return;  // malformed block: nothing armed
                }
                const std::size_t length = command_[pos + 2];
                tracks[t].assign(command_.begin() + static_cast<std::ptrdiff_t>(pos + 3),
                                 command_.begin() + static_cast<std::ptrdiff_t>(pos + 3 + length));
                pos += 3 + length;
            }
            pendingWrite_ = std::move(tracks);
            ArmLocked(Armed::kWrite);
            if (chatterAfterWrite_) ReplyLocked({kEscByte, 'A'});
            break;
        }
        case 'c':
            if (rejectErases_ || std::exchange(rejectNext_, false)) {
                ReplyLocked({kEscByte, 'A'});
                break;
            }
            pendingEraseMask_ = command_[2];
            ArmLocked(Armed::kErase);
            break;
        case 'b':
            if (command_[2] == 0xD2 || command_[2] == 0x4B) {
                density_ = command_[2] == 0xD2 ? 210 : 75;
                ReplyLocked({kEscByte, '0'});
            } else {
                ReplyLocked({kEscByte, 'A'});
            }
            break;
        case 'x':
            highCoercivity_ = true;
            ReplyLocked({kEscByte, 0x00});
            break;
        case 'y':
            highCoercivity_ = false;
            ReplyLocked({kEscByte, 0x00});
            break;
        case 'd':
            ReplyLocked({kEscByte, static_cast<uint8_t>(highCoercivity_ ? 'H' : 'L')});
            break;
        case 0x88:
            beeper_ = true;
            break;
        case 0x89:
            beeper_ = false;
            break;
        case 'v': {
            std::vector<uint8_t> reply = {kEscByte, 'R'};
            reply.insert(reply.end(), options_.version.begin(), options_.version.end());
            ReplyLocked(std::move(reply));
            break;
        }
        default:
            break;  // unknown commands are ignored
    }
}

void VirtualReader::ReplyLocked(std::vector<uint8_t> bytes) {
    if (silent_ || bytes.empty()) return;
    if (wrongReplies_ && bytes.size() >= 2) bytes[1] = '!';
    // Every report is the full input length: report id 0, stream bytes, zero fill. One report
    // leaves per poll interval, after those already on their way.
    const std::size_t length =
        static_cast<std::size_t>(std::clamp(options_.inputReportLength, 2, 200));
    const std::size_t perReport = length - 1;
    const auto ready = clock_.Now() + replyDelay_;
    const auto stall = std::exchange(stallNext_, std::nullopt);
    const auto jitter = options_.pollJitter.count();
    std::size_t index = 0;
    for (std::size_t pos = 0; pos < bytes.size(); pos += perReport, ++index) {
        auto at = std::max(ready, lastReportAt_) + options_.pollInterval;
        if (jitter > 0)
            at += std::chrono::microseconds(jitter_.Between(0, static_cast<int>(jitter)));
        if (stall && index == stall->first) at += stall->second;
        lastReportAt_ = at;
        Report report{std::vector<uint8_t>(length, 0), at};
        const std::size_t n = std::min(perReport, bytes.size() - pos);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(pos), n, report.bytes.begin() + 1);
        input_.push_back(std::move(report));
    }
}

void VirtualReader::ArmLocked(Armed what) {
    armed_ = what;
    autoSwipeAt_.reset();
    if (!autoCard_) return;
    auto delay = autoDelay_;
    if (what == Armed::kWrite || what == Armed::kErase) delay = std::max(delay, kHostListenGuard);
    autoSwipeAt_ = clock_.Now() + delay;
}

int VirtualReader::CapacityBitsLocked(std::size_t track) const {
    return TrackCapacityBits(track == 1 ? density_ : kFixedTrackDensity);
}

bool VirtualReader::SwipeLocked(std::size_t index, std::vector<std::size_t>& changed) {
    if (!plugged_ || index >= deck_.cards.size()) return false;
    VirtualCard& card = deck_.cards[index];
    const Armed was = armed_;
    armed_ = Armed::kIdle;
    autoSwipeAt_.reset();
    switch (was) {
        case Armed::kIdle:
            break;
        case Armed::kRead: {
            if (silent_) break;
            std::array<std::vector<uint8_t>, 3> sent;
            for (std::size_t t = 0; t < 3; ++t) {
                TrackSwipe swipe;
                swipe.reversed = card.reversed;
                if (card.weakSpot && card.weakSpot->track == static_cast<int>(t)) {
                    swipe.weakBit = card.weakSpot->bit;
                }
                swipe.capacityBits = CapacityBitsLocked(t);
                swipe.leadingZeros = jitter_.LeadingZeros();
                swipe.trailingZeros = jitter_.TrailingZeros();
                sent[t] = PlayTrack(card.tracks[t], swipe);
            }
            const bool wrong = wrongReplies_;
            wrongReplies_ = false;  // the read block carries data, not a reply byte
            ReplyLocked(BuildReadBlock(sent));
            wrongReplies_ = wrong;
            break;
        }
        case Armed::kWrite:
            if (rejectWrites_ || std::exchange(rejectNext_, false)) {
                ReplyLocked({kEscByte, 'A'});
                break;
            }
            // Only what fits the stripe at the track's density is recorded. A track sent with
            // no data is left as it was.
            for (std::size_t t = 0; t < 3; ++t) {
                if (pendingWrite_[t].empty()) continue;
                card.tracks[t] = RecordTrack(pendingWrite_[t], CapacityBitsLocked(t));
            }
            changed.push_back(index);
            ReplyLocked({kEscByte, '0'});
            break;
        case Armed::kErase:
            for (std::size_t t = 0; t < 3; ++t) {
                if (pendingEraseMask_ & (1u << t)) card.tracks[t].clear();
            }
            changed.push_back(index);
            ReplyLocked({kEscByte, '0'});
            break;
    }
    return true;
}

void VirtualReader::RunDueAutoSwipeLocked(std::vector<std::size_t>& changed) {
    if (!autoSwipeAt_ || clock_.Now() < *autoSwipeAt_) return;
    autoSwipeAt_.reset();
    if (!autoCard_ || armed_ == Armed::kIdle) return;
    const std::size_t card = *autoCard_;
    if (autoAdvance_) autoCard_ = card + 1;
    SwipeLocked(card, changed);
}

// --- Backend ---

std::vector<HidDeviceInfo> VirtualBackend::Enumerate(uint16_t vendorId, uint16_t productId) {
    std::vector<HidDeviceInfo> found;
    for (std::size_t i = 0; i < readers_.size(); ++i) {
        VirtualReader& reader = *readers_[i];
        std::lock_guard lock(reader.mutex_);
        if (!reader.plugged_) continue;
        if (reader.options_.vendorId != vendorId || reader.options_.productId != productId)
            continue;
        found.push_back({"virtual:" + std::to_string(i), vendorId, productId});
    }
    return found;
}

std::unique_ptr<HidDevice> VirtualBackend::Open(const HidDeviceInfo& info) {
    const std::string prefix = "virtual:";
    if (info.path.rfind(prefix, 0) != 0) return nullptr;
    const std::size_t index = std::stoul(info.path.substr(prefix.size()));
    if (index >= readers_.size()) return nullptr;
    VirtualReader& reader = *readers_[index];
    std::lock_guard lock(reader.mutex_);
    if (!reader.plugged_) return nullptr;
    return std::make_unique<VirtualDevice>(reader, reader.generation_);
}

}  // namespace tollwick
