// The reader's escape-command protocol: connection state, connection and reset, track data, and
// configuration commands. Results are the reader protocol's integers:
//   48 ('0') done / success, a port number for the connection commands, 0 no reply yet,
//   -1 not connected or link failure, -2..-4 missing or unexpected replies (per command),
//   kTooLong when the data cannot be carried (nothing is sent then).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "carddata/track_codec.h"
#include "carddata/track_format.h"
#include "device/reader_link.h"

namespace tollwick {

inline constexpr uint8_t kEsc = 0x1B;
inline constexpr int kReaderOk = 48;
// The write block would not fit the link's output queue, or a text exceeds a track.
inline constexpr int kTooLong = -5;
// Results of ReceiveTracks.
inline constexpr int kSplitFailed = 49;
inline constexpr int kNoSwipe = -2;

enum Coercivity : int { kLoCo = 0, kHiCo = 1 };

// Three zero-terminated texts to write; WriteTracks upper-cases them in place.
using TrackTexts = std::array<TrackBuffer, 3>;

class ReaderCommands {
  public:
    explicit ReaderCommands(ReaderLink& link) : link_(link) {}

    // --- Connection and reset ---
    int ConnectScan();
    int ConnectPort(int port);
    int ResetReader();
    int StartRawRead();
    int WaitWriteStatus();

    // --- Track data ---
    // 48 block received and split; 49 split failed; -2 no byte within 350 ms; -1 not connected.
    // lengths, when given, gets the bytes each track brought (see SplitReadBlock).
    int ReceiveTracks(CardTracks& card, TrackLengths* lengths = nullptr);
    int WriteTracks(TrackTexts& texts, const TrackSet& settings);

    // --- Configuration ---
    int EraseTracks(uint8_t mask);
    int WaitEraseStatus();
    int SetTrack2Density(bool high);
    int SetHiCo();
    int SetLoCo();
    int QueryCoercivity(int& result);
    void BeepOn();
    void BeepOff();
    // Stores the version text at the start of buffer (at most capacity - 1 bytes, so the text
    // stays terminated by the caller's zeros); bytes beyond are read and dropped.
    int ReadVersion(char* buffer, std::size_t capacity);

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
    int SimpleReplyCommand(uint8_t command, uint8_t& reply);
    int TakeStatusReply();
};

}  // namespace tollwick
