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
// A faint recording (a Lo-Co write on a Hi-Co card) loses this share of its one bits per swipe.
constexpr double kFaintDropout = 0.25;

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
    bool WriteReport(const uint8_t* report, std::size_t length, int timeoutMs) override {
        if (reader_.HostWrite(generation_, report, length, timeoutMs)) return true;
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
    : options_(std::move(options)), clock_(clock), jitter_(options_.seed) {
    SetDeckLocked(std::move(deck));
}

VirtualReader::~VirtualReader() = default;

Deck VirtualReader::GetDeck() const {
    std::lock_guard lock(mutex_);
    return deck_;
}

void VirtualReader::SetDeck(Deck deck) {
    std::lock_guard lock(mutex_);
    SetDeckLocked(std::move(deck));
}

void VirtualReader::SetDeckLocked(Deck deck) {
    deck_ = std::move(deck);
    lastChange_.assign(deck_.cards.size(), 0);
    faultRandom_.seed(deck_.seed);
    inputBuffer_ = InputBufferReports(deck_, deck_.cards.size());
}

void VirtualReader::SetDeckFaults(const FaultRates& faults) {
    std::lock_guard lock(mutex_);
    deck_.faults = faults;
    inputBuffer_ = InputBufferReports(deck_, deck_.cards.size());
}

bool VirtualReader::SetCardFaults(std::size_t index, const FaultRates& faults) {
    std::lock_guard lock(mutex_);
    if (index >= deck_.cards.size()) return false;
    deck_.cards[index].faults = faults;
    return true;
}

void VirtualReader::SetSeed(uint32_t seed) {
    std::lock_guard lock(mutex_);
    deck_.seed = seed;
    faultRandom_.seed(seed);
}

void VirtualReader::SetBusyNext(std::chrono::milliseconds busy) {
    std::lock_guard lock(mutex_);
    busyNext_ = busy;
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

bool VirtualReader::RefreshCard(const CardChange& change, const VirtualCard& card) {
    std::lock_guard lock(mutex_);
    if (change.index >= deck_.cards.size() || lastChange_[change.index] != change.sequence)
        return false;
    deck_.cards[change.index] = card;
    return true;
}

void VirtualReader::EventLocked() {
    ++events_;
    inputReady_.notify_all();
}

bool VirtualReader::Swipe(std::size_t index) {
    std::vector<CardChange> changed;
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
    outputTimes_.clear();
    return std::exchange(outputLog_, {});
}

std::vector<Clock::TimePoint> VirtualReader::OutputTimes() const {
    std::lock_guard lock(mutex_);
    return outputTimes_;
}

void VirtualReader::SetOnCardChanged(std::function<void(const CardChange&)> callback) {
    std::lock_guard lock(mutex_);
    onCardChanged_ = std::move(callback);
}

void VirtualReader::NotifyChanged(const std::vector<CardChange>& changed) {
    std::function<void(const CardChange&)> callback;
    {
        std::lock_guard lock(mutex_);
        callback = onCardChanged_;
    }
    if (!callback) return;
    for (const CardChange& change : changed) callback(change);
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

bool VirtualReader::HostWrite(uint64_t generation, const uint8_t* report, std::size_t length,
                              int timeoutMs) {
    std::unique_lock lock(mutex_);
    if (!plugged_ || generation != generation_) return false;
    // A busy reader does not take the report; the host gives up after its timeout.
    if (busyNext_) busyUntil_ = clock_.Now() + *std::exchange(busyNext_, std::nullopt);
    if (clock_.Now() < busyUntil_) {
        const auto giveUp = clock_.Now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        const bool accepted = busyUntil_ <= giveUp;
        clock_.WaitUntil(lock, inputReady_, accepted ? busyUntil_ : giveUp, [] { return false; });
        if (!accepted || !plugged_ || generation != generation_) return false;
    }
    outputLog_.emplace_back(report, report + length);
    const auto now = clock_.Now();
    outputTimes_.push_back(now);
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
    std::vector<CardChange> changed;
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
            DropUnreadLocked(now);
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

// Reports that came while nobody read wait in a buffer of inputBuffer_ reports; those that came
// when it was full are lost (hidraw keeps the first, not the last).
void VirtualReader::DropUnreadLocked(Clock::TimePoint now) {
    std::size_t waiting = 0;
    for (auto it = input_.begin(); it != input_.end() && it->availableAt <= now;) {
        if (++waiting > static_cast<std::size_t>(std::max(inputBuffer_, 1))) {
            it = input_.erase(it);
        } else {
            ++it;
        }
    }
}

// --- Command handling ---

void VirtualReader::TakeByteLocked(uint8_t byte) {
    if (command_.empty()) {
        if (byte == kEscByte) command_.push_back(byte);  // fill bytes between commands are ignored
        return;
    }
    command_.push_back(byte);
    if (CommandCompleteLocked()) {
        // A card's own buffer holds only for its own replies.
        inputBuffer_ = InputBufferReports(deck_, deck_.cards.size());
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
    ReplyLocked(std::move(bytes), ReplyTiming{});
}

void VirtualReader::ReplyLocked(std::vector<uint8_t> bytes, const ReplyTiming& timing) {
    if (silent_ || bytes.empty()) return;
    if (wrongReplies_ && bytes.size() >= 2) bytes[1] = '!';
    // Every report is the full input length: report id 0, stream bytes, zero fill. One report
    // leaves per poll interval, after those already on their way.
    const std::size_t length =
        static_cast<std::size_t>(std::clamp(options_.inputReportLength, 2, 200));
    const std::size_t perReport = length - 1;
    const auto ready = clock_.Now() + replyDelay_ + timing.delay;
    const auto stall = std::exchange(stallNext_, std::nullopt);
    const auto jitter = options_.pollJitter.count();
    const std::size_t first = input_.size();
    // With a gap the first byte goes alone, in a report of its own.
    std::vector<std::pair<std::size_t, std::size_t>> parts;  // [begin, end) of the bytes
    if (timing.gapAfterFirstByte && bytes.size() > 1) {
        parts = {{0, 1}, {1, bytes.size()}};
    } else {
        parts = {{0, bytes.size()}};
    }
    std::size_t index = 0;
    for (std::size_t part = 0; part < parts.size(); ++part) {
        for (std::size_t pos = parts[part].first; pos < parts[part].second;
             pos += perReport, ++index) {
            auto at = std::max(ready, lastReportAt_) + options_.pollInterval;
            if (part > 0 && pos == parts[part].first)
                at = lastReportAt_ + *timing.gapAfterFirstByte;
            if (jitter > 0)
                at += std::chrono::microseconds(jitter_.Between(0, static_cast<int>(jitter)));
            if (stall && index == stall->first) at += stall->second;
            lastReportAt_ = at;
            Report report{std::vector<uint8_t>(length, 0), at};
            const std::size_t n = std::min(perReport, parts[part].second - pos);
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(pos), n,
                        report.bytes.begin() + 1);
            input_.push_back(std::move(report));
        }
    }
    // A program that is busy elsewhere finds the whole reply waiting when it next reads.
    if (timing.late) {
        for (std::size_t i = first; i < input_.size(); ++i) input_[i].availableAt = lastReportAt_;
    }
}

bool VirtualReader::HappensLocked(std::size_t index, Fault fault) {
    const double chance = FaultChance(deck_, index, fault);
    if (chance <= 0) return false;
    if (chance >= 1) return true;
    return std::uniform_real_distribution<double>(0, 1)(faultRandom_) < chance;
}

int VirtualReader::DrawLocked(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(faultRandom_);
}

void VirtualReader::StatusLocked(std::size_t index, uint8_t status) {
    ReplyTiming timing;
    if (HappensLocked(index, Fault::kSlowStatus))
        timing.delay = std::chrono::milliseconds(DrawLocked(20, 400));
    if (HappensLocked(index, Fault::kStatusGap))
        timing.gapAfterFirstByte = std::chrono::milliseconds(DrawLocked(1, 349));
    timing.late = HappensLocked(index, Fault::kLateRead);
    if (HappensLocked(index, Fault::kNotAccepted))
        busyNext_ = std::chrono::milliseconds(DrawLocked(60, 200));
    ReplyLocked({kEscByte, status}, timing);
}

TrackSwipe VirtualReader::FaultedSwipeLocked(std::size_t index, std::size_t track,
                                             std::optional<double> cutAt) {
    const VirtualCard& card = deck_.cards[index];
    const std::vector<uint8_t>& recorded = card.tracks[track];
    const int dataBits = RecordedDataBits(recorded);
    TrackSwipe swipe;
    swipe.reversed = card.reversed;
    swipe.capacityBits = CapacityBitsLocked(track);
    swipe.leadingZeros = jitter_.LeadingZeros();
    swipe.trailingZeros = jitter_.TrailingZeros();
    swipe.cutAt = cutAt;
    if (card.weakSpot && card.weakSpot->track == static_cast<int>(track) &&
        HappensLocked(index, Fault::kWeak)) {
        swipe.flippedBits.push_back(card.weakSpot->bit);
    }
    if (dataBits == 0) return swipe;  // a blank track brings no dirt of its own
    const double bitErrors = FaultChance(deck_, index, Fault::kBitErrors);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int bit = 0; bit < dataBits; ++bit) {
        const bool one = (recorded[static_cast<std::size_t>(bit) / 8] >> (7 - bit % 8)) & 1u;
        if ((bitErrors > 0 && unit(faultRandom_) < bitErrors) ||
            (card.faint[track] && one && unit(faultRandom_) < kFaintDropout)) {
            swipe.flippedBits.push_back(bit);
        }
    }
    if (HappensLocked(index, Fault::kSlip))
        swipe.slip = BitSlip{DrawLocked(0, dataBits - 1), DrawLocked(0, 1) == 1};
    auto burst = [this](int maxBits) {
        std::vector<bool> bits(static_cast<std::size_t>(DrawLocked(1, maxBits)));
        for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = i == 0 || DrawLocked(0, 1) == 1;
        return bits;
    };
    if (HappensLocked(index, Fault::kNoiseBefore)) {
        swipe.noiseBefore = burst(8);
        swipe.gapBefore = DrawLocked(0, 24);
    }
    if (HappensLocked(index, Fault::kNoiseAfter)) {
        // At least 8 zeros: past the last character, whose bits end in at most 6 zeros.
        swipe.noiseAfter = burst(64);
        swipe.gapAfter = DrawLocked(8, 32);
    }
    return swipe;
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

bool VirtualReader::SwipeLocked(std::size_t index, std::vector<CardChange>& changed) {
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
            // The head leaves every track at the same point of the card: somewhere in its data.
            std::optional<double> cutAt;
            if (HappensLocked(index, Fault::kPartial)) {
                double dataShare = 0;
                for (std::size_t t = 0; t < 3; ++t) {
                    dataShare =
                        std::max(dataShare, static_cast<double>(RecordedDataBits(card.tracks[t])) /
                                                std::max(CapacityBitsLocked(t), 1));
                }
                if (dataShare > 0)
                    cutAt = std::uniform_real_distribution<double>(0, dataShare)(faultRandom_);
            }
            std::array<std::vector<uint8_t>, 3> sent;
            for (std::size_t t = 0; t < 3; ++t)
                sent[t] = PlayTrack(card.tracks[t], FaultedSwipeLocked(index, t, cutAt));
            const bool wrong = wrongReplies_;
            wrongReplies_ = false;  // the read block carries data, not a reply byte
            inputBuffer_ = InputBufferReports(deck_, index);
            ReplyTiming timing;
            timing.late = HappensLocked(index, Fault::kLateRead);
            ReplyLocked(BuildReadBlock(sent), timing);
            wrongReplies_ = wrong;
            if (HappensLocked(index, Fault::kNotAccepted))
                busyNext_ = std::chrono::milliseconds(DrawLocked(60, 200));
            break;
        }
        case Armed::kWrite: {
            inputBuffer_ = InputBufferReports(deck_, index);
            if (rejectWrites_ || std::exchange(rejectNext_, false)) {
                StatusLocked(index, 'A');
                break;
            }
            // Only what fits the stripe at the track's density is recorded. A track sent with
            // no data is left as it was. A Lo-Co field does not turn a Hi-Co stripe over: a
            // track that holds data keeps it, a blank one takes a faint copy.
            const bool tooWeak = !highCoercivity_ && IsHighCoercivity(deck_, index);
            CardChange change;
            for (std::size_t t = 0; t < 3; ++t) {
                if (pendingWrite_[t].empty()) continue;
                if (tooWeak && RecordedDataBits(card.tracks[t]) > 0) continue;
                change.tracks[t] =
                    TrackChange{RecordTrack(pendingWrite_[t], CapacityBitsLocked(t)), tooWeak};
            }
            changed.push_back(ChangeLocked(index, std::move(change)));
            StatusLocked(index, '0');
            break;
        }
        case Armed::kErase: {
            inputBuffer_ = InputBufferReports(deck_, index);
            const bool tooWeak = !highCoercivity_ && IsHighCoercivity(deck_, index);
            CardChange change;
            for (std::size_t t = 0; t < 3; ++t) {
                if (!(pendingEraseMask_ & (1u << t)) || tooWeak) continue;
                change.tracks[t] = TrackChange{};
            }
            changed.push_back(ChangeLocked(index, std::move(change)));
            StatusLocked(index, '0');
            break;
        }
    }
    return true;
}

CardChange VirtualReader::ChangeLocked(std::size_t index, CardChange change) {
    change.index = index;
    change.sequence = ++changeCount_;
    lastChange_[index] = change.sequence;
    ApplyCardChange(deck_.cards[index], change);
    return change;
}

void VirtualReader::RunDueAutoSwipeLocked(std::vector<CardChange>& changed) {
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
