#include "device/reader_commands.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tollwick {
namespace {

// Every reply byte is awaited on its own; these are the reader's waits, each for its purpose.
constexpr uint16_t kTestTimeoutMs = 150;   // each byte of the answer to the connection test
constexpr uint16_t kReplyTimeoutMs = 350;  // each byte of a status or reply
constexpr uint16_t kVersionGapMs = 350;    // the silence that ends the version text
constexpr uint16_t kBlockGapMs = 50;       // the silence that ends a read block
constexpr uint16_t kEraseListenMs = 50;    // a byte this soon after an erase is a refusal
constexpr uint16_t kDiscardGapMs = 50;     // bytes dropped until this much silence
constexpr int kScanTries = 50;

}  // namespace

bool ReaderCommands::Send(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) link_.LinkPutByte(CurrentPort(), b);
    if (link_.LinkFlush(CurrentPort()) != 0) {
        MarkDisconnected();
        return false;
    }
    return true;
}

bool ReaderCommands::Get(uint8_t& byte, uint16_t timeoutMs) {
    return link_.LinkGetByte(CurrentPort(), &byte, timeoutMs) == 0;
}

void ReaderCommands::DiscardUntilGap(uint16_t timeoutMs) {
    uint8_t byte = 0;
    while (Get(byte, timeoutMs)) {
    }
}

int ReaderCommands::TestReader(int port) {
    link_.LinkPutByte(port, kEsc);
    link_.LinkPutByte(port, 'e');
    if (link_.LinkFlush(port) != 0) return -1;
    link_.LinkWaitInput(port, kReplyTimeoutMs);
    uint8_t byte = 0;
    if (link_.LinkGetByte(port, &byte, kTestTimeoutMs) != 0 || byte != kEsc) return 0;
    if (link_.LinkGetByte(port, &byte, kTestTimeoutMs) != 0 || byte != 'y') {
        link_.LinkClose(port);
        return 0;
    }
    return 1;
}

void ReaderCommands::Connected(int port) {
    link_.GetClock().SleepFor(std::chrono::milliseconds(5));
    currentPort_.store(port, std::memory_order_release);
    writePending_ = -1;
    erasePending_ = -1;
    // A failed reset has marked the reader gone already: the next command says so.
    static_cast<void>(ResetReader());
}

int ReaderCommands::ConnectPort(int port) {
    if (link_.LinkOpen(port, 9600, 8, 0) != 0 || TestReader(port) != 1) {
        MarkDisconnected();
        return -1;
    }
    Connected(port);
    return port;
}

int ReaderCommands::ConnectScan() {
    for (int port = 1; port <= kScanTries; ++port) {
        if (link_.LinkOpen(port, 9600, 8, 0) != 0) continue;
        const int answered = TestReader(port);
        if (answered < 0) {
            MarkDisconnected();
            return -1;
        }
        if (answered == 1) {
            Connected(port);
            return port;
        }
    }
    return -1;
}

CommandStatus ReaderCommands::ResetReader() {
    if (!IsConnected()) return CommandStatus::kFailed;
    if (!Send({kEsc, 'a'})) return CommandStatus::kFailed;
    writePending_ = -1;
    erasePending_ = -1;
    return CommandStatus::kOk;
}

CommandStatus ReaderCommands::StartRawRead() {
    if (!IsConnected()) return CommandStatus::kFailed;
    if (!Send({kEsc, 'm'})) return CommandStatus::kFailed;
    return CommandStatus::kOk;
}

CardStatus ReaderCommands::WaitWriteStatus() {
    if (writePending_ == -1) return CardStatus::kNotPending;
    link_.LinkWaitInput(CurrentPort(), kReplyTimeoutMs);
    uint8_t first = 0;
    uint8_t second = 0;
    if (!Get(first, kReplyTimeoutMs)) return CardStatus::kNoReplyYet;
    if (!Get(second, kReplyTimeoutMs)) return CardStatus::kNoReplyYet;
    return (first == kEsc && second == '0') ? CardStatus::kDone : CardStatus::kRejected;
}

ReceiveResult ReaderCommands::ReceiveTracks(CardTracks& card, TrackLengths* lengths) {
    if (!IsConnected()) return ReceiveResult::kNotConnected;
    link_.LinkWaitInput(CurrentPort(), kReplyTimeoutMs);
    uint8_t block[kReadBlockCapacity];
    if (!Get(block[0], kReplyTimeoutMs)) return ReceiveResult::kNoSwipe;
    std::size_t n = 1;
    // The block ends at the first 50 ms gap; bytes beyond the buffer are not read.
    while (n < kReadBlockCapacity && Get(block[n], kBlockGapMs)) ++n;
    return SplitReadBlock(block, n, card, lengths) == SplitResult::kOk
               ? ReceiveResult::kReceived
               : ReceiveResult::kSplitFailed;
}

CommandStatus ReaderCommands::WriteTracks(TrackTexts& texts, const TrackSet& settings) {
    if (!IsConnected()) return CommandStatus::kFailed;
    // Taken as a track buffer holds them: up to the first zero, at most 255 characters.
    for (std::string& text : texts) {
        text.resize(std::min({text.find('\0'), text.size(), kMaxTrackText}));
        ToUpperAscii(text);
    }
    // Encode first: a track that cannot be carried, or a block larger than the link's queue,
    // is refused before anything is sent.
    std::array<std::array<uint8_t, kMaxTrackBytes>, 3> data;
    std::array<std::size_t, 3> lengths{};
    const bool raw = IsRawTrackSet(settings);
    std::size_t blockSize = 4;
    for (std::size_t t = 0; t < 3; ++t) {
        const std::string& text = texts[t];
        lengths[t] = raw ? EncodeRawTrackInto(text, data[t].data(), data[t].size())
                         : EncodeTrackInto(text, settings[t], data[t].data(), data[t].size());
        if (lengths[t] == kEncodeFailed) return CommandStatus::kTooLong;
        blockSize += 3 + lengths[t];
    }
    if (blockSize > kOutputQueueSize) return CommandStatus::kTooLong;

    if (link_.LinkOpen(CurrentPort(), 9600, 8, 0) != 0) {
        MarkDisconnected();
        return CommandStatus::kFailed;
    }
    const int port = CurrentPort();
    for (uint8_t b : {kEsc, uint8_t{'n'}, kEsc, uint8_t{'s'}}) link_.LinkPutByte(port, b);
    for (std::size_t t = 0; t < 3; ++t) {
        link_.LinkPutByte(port, kEsc);
        link_.LinkPutByte(port, static_cast<uint8_t>(t + 1));
        link_.LinkPutByte(port, static_cast<uint8_t>(lengths[t]));
        for (std::size_t i = 0; i < lengths[t]; ++i) link_.LinkPutByte(port, data[t][i]);
    }
    if (link_.LinkFlush(port) != 0) {
        MarkDisconnected();
        return CommandStatus::kFailed;
    }
    // Whatever the reader sends at once is dropped.
    link_.LinkWaitInput(port, kReplyTimeoutMs);
    DiscardUntilGap(kDiscardGapMs);
    writePending_ = 0;
    return CommandStatus::kOk;
}

CommandStatus ReaderCommands::EraseTracks(uint8_t mask) {
    if (!IsConnected()) return CommandStatus::kFailed;
    if (link_.LinkOpen(CurrentPort(), 9600, 8, 0) != 0) {
        MarkDisconnected();
        return CommandStatus::kFailed;
    }
    if (!Send({kEsc, 'c', mask})) return CommandStatus::kFailed;
    link_.LinkWaitInput(CurrentPort(), kReplyTimeoutMs);
    uint8_t byte = 0;
    // Silence means the reader took the command and waits for a card; any byte is a refusal.
    if (!Get(byte, kEraseListenMs)) {
        erasePending_ = 0;
        return CommandStatus::kOk;
    }
    if (!Get(byte, kDiscardGapMs)) return CommandStatus::kFailed;
    DiscardUntilGap(kDiscardGapMs);
    return CommandStatus::kFailed;
}

CardStatus ReaderCommands::WaitEraseStatus() {
    if (erasePending_ == -1) return CardStatus::kNotPending;
    return TakeStatusReply();
}

// A status reply: kDone on ESC '0'; kNoReplyYet when no first byte came; kRejected when the
// second byte did not come or the reply was anything else (the rest of it is taken and dropped).
CardStatus ReaderCommands::TakeStatusReply() {
    link_.LinkWaitInput(CurrentPort(), kReplyTimeoutMs);
    uint8_t first = 0;
    uint8_t second = 0;
    if (!Get(first, kReplyTimeoutMs)) return CardStatus::kNoReplyYet;
    if (!Get(second, kReplyTimeoutMs)) return CardStatus::kRejected;
    if (first == kEsc && second == '0') return CardStatus::kDone;
    DiscardUntilGap(kDiscardGapMs);
    return CardStatus::kRejected;
}

CardStatus ReaderCommands::SetTrack2Density(bool high) {
    if (!IsConnected()) return CardStatus::kNotPending;
    if (link_.LinkOpen(CurrentPort(), 9600, 8, 0) != 0) {
        MarkDisconnected();
        return CardStatus::kNotPending;
    }
    if (!Send({kEsc, 'b', static_cast<uint8_t>(high ? 0xD2 : 0x4B)})) {
        return CardStatus::kNotPending;
    }
    return TakeStatusReply();
}

// Sends ESC and the command byte and takes the ESC and the reply byte: kOk with the reply byte,
// kNoReply when the first byte is missing or not ESC, kBadReply when the second is missing,
// kFailed when not connected.
CommandStatus ReaderCommands::SimpleReplyCommand(uint8_t command, uint8_t& reply) {
    if (!IsConnected()) return CommandStatus::kFailed;
    if (!Send({kEsc, command})) return CommandStatus::kFailed;
    link_.LinkWaitInput(CurrentPort(), kReplyTimeoutMs);
    uint8_t first = 0;
    if (!Get(first, kReplyTimeoutMs) || first != kEsc) return CommandStatus::kNoReply;
    if (!Get(reply, kReplyTimeoutMs)) return CommandStatus::kBadReply;
    return CommandStatus::kOk;
}

CommandStatus ReaderCommands::SetHiCo() {
    uint8_t reply = 0;
    const CommandStatus result = SimpleReplyCommand('x', reply);
    if (result != CommandStatus::kOk) return result;
    return reply == 0x00 ? CommandStatus::kOk : CommandStatus::kBadReply;
}

CommandStatus ReaderCommands::SetLoCo() {
    uint8_t reply = 0;
    const CommandStatus result = SimpleReplyCommand('y', reply);
    if (result != CommandStatus::kOk) return result;
    return reply == 0x00 ? CommandStatus::kOk : CommandStatus::kBadReply;
}

CommandStatus ReaderCommands::QueryCoercivity(int& result) {
    uint8_t reply = 0;
    const CommandStatus status = SimpleReplyCommand('d', reply);
    if (status != CommandStatus::kOk) return status;
    if (reply == 'H') {
        result = kHiCo;
    } else if (reply == 'L') {
        result = kLoCo;
    } else {
        return CommandStatus::kBadReply;
    }
    return CommandStatus::kOk;
}

void ReaderCommands::BeepOn() {
    if (IsConnected()) Send({kEsc, 0x88});
}

void ReaderCommands::BeepOff() {
    if (IsConnected()) Send({kEsc, 0x89});
}

CommandStatus ReaderCommands::ReadVersion(char* buffer, std::size_t capacity) {
    uint8_t reply = 0;
    const CommandStatus status = SimpleReplyCommand('v', reply);
    if (status != CommandStatus::kOk) return status;
    if (reply != 'R') return CommandStatus::kBadReply;
    std::size_t stored = 0;
    uint8_t byte = 0;
    // The text ends at the first 350 ms gap; fill bytes of the last report come with it.
    while (Get(byte, kVersionGapMs)) {
        if (stored + 1 < capacity) buffer[stored++] = static_cast<char>(byte);
    }
    return CommandStatus::kOk;
}

}  // namespace tollwick
