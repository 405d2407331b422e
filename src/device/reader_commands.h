// The reader's escape-command protocol: connection state, connection and reset, track data, and
// configuration commands. The connection commands return the port connected, or -1 when no
// reader answered; every other command one of the statuses of device/reader_status.h.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "carddata/track_codec.h"
#include "carddata/track_format.h"
#include "device/reader_link.h"
#include "device/reader_status.h"

namespace tollwick {

inline constexpr uint8_t kEsc = 0x1B;

enum Coercivity : int { kLoCo = 0, kHiCo = 1 };

class ReaderCommands {
  public:
    explicit ReaderCommands(ReaderLink& link) : link_(link) {}

    // --- Connection and reset ---
    // The port of the reader that answered the connection test (1 for the first try of a scan,
    // or the port given), -1 when none did.
    [[nodiscard]] int ConnectScan();
    [[nodiscard]] int ConnectPort(int port);
    // kOk, or kFailed when not connected or the link failed.
    [[nodiscard]] CommandStatus ResetReader();
    [[nodiscard]] CommandStatus StartRawRead();
    // kDone on ESC '0'; kNoReplyYet when a byte did not come within 350 ms; kRejected on any
    // other two bytes; kNotPending when no write was sent since the last connect or reset.
    [[nodiscard]] CardStatus WaitWriteStatus();

    // --- Track data ---
    // The read block of a swipe, taken apart into the track buffers of `card` (raw bytes, each
    // followed by a zero). lengths, when given, gets the bytes each track brought (see
    // SplitReadBlock).
    [[nodiscard]] ReceiveResult ReceiveTracks(CardTracks& card, TrackLengths* lengths = nullptr);
    // Encodes and sends the three texts; the reader records them on the next card swiped. Each
    // text is taken up to its first zero and at most 255 characters, and is left upper-cased
    // in place (also when the link then fails). kTooLong, with nothing sent, when a track
    // cannot be carried or the block would not fit the link's output queue.
    [[nodiscard]] CommandStatus WriteTracks(TrackTexts& texts, const TrackSet& settings);

    // --- Configuration ---
    // kOk: the reader waits for a card; kFailed: not connected, link failure, or a refusal.
    [[nodiscard]] CommandStatus EraseTracks(uint8_t mask);
    // As WaitWriteStatus, for an erase; a missing second byte is kRejected.
    [[nodiscard]] CardStatus WaitEraseStatus();
    [[nodiscard]] CardStatus SetTrack2Density(bool high);
    [[nodiscard]] CommandStatus SetHiCo();
    [[nodiscard]] CommandStatus SetLoCo();
    [[nodiscard]] CommandStatus QueryCoercivity(int& result);
    void BeepOn();
    void BeepOff();
    // Stores the version text at the start of buffer (at most capacity - 1 bytes, so the text
    // stays terminated by the caller's zeros); bytes beyond are read and dropped.
    [[nodiscard]] CommandStatus ReadVersion(char* buffer, std::size_t capacity);

    int CurrentPort() const { return currentPort_.load(std::memory_order_acquire); }
    bool IsConnected() const { return CurrentPort() >= 0; }
    int WritePending() const { return writePending_.load(); }
    int ErasePending() const { return erasePending_.load(); }

    ReaderLink& Link() { return link_; }

  private:
    ReaderLink& link_;
    std::atomic<int> currentPort_{-1};
    std::atomic<int> writePending_{-1};
    std::atomic<int> erasePending_{-1};

    // Queues ESC and the bytes, flushes; on a failed flush marks the reader disconnected.
    bool Send(std::initializer_list<uint8_t> bytes);
    bool Get(uint8_t& byte, uint16_t timeoutMs);
    void DiscardUntilGap(uint16_t timeoutMs);
    void MarkDisconnected() { currentPort_.store(-1, std::memory_order_release); }
    int TestReader(int port);  // the ESC 'e' exchange: 1 answered, 0 no answer, -1 flush failed
    void Connected(int port);
    CommandStatus SimpleReplyCommand(uint8_t command, uint8_t& reply);
    CardStatus TakeStatusReply();
};

}  // namespace tollwick
