// The report channel: a serial-port-shaped byte stream over the reader's HID reports.
//
// Outgoing bytes are queued and sent as 9-byte output reports (report id 0 and 8 data bytes,
// the last report zero-filled); every byte of an input report after the report id is stream
// data, fill included. The port, baud rate, data bits and parity arguments are those of the
// serial port the reader once sat on: the calls keep them, and they have no effect (each is
// named ...Ignored).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "device/clock.h"
#include "device/hid_backend.h"

namespace tollwick {

inline constexpr uint16_t kReaderVendorPrimary = 0x0801;
inline constexpr uint16_t kReaderVendorSecondary = 0x0802;
inline constexpr uint16_t kReaderProduct = 0x0005;

inline constexpr std::size_t kOutputQueueSize = 512;
inline constexpr std::size_t kInputRingSize = 1024;
inline constexpr int kMaxInputReportLength = 200;
inline constexpr int kOutputReportLength = 9;

// LinkGetByte's result when nothing arrived in time.
inline constexpr int kLinkNoByte = 255;

class ReaderLink {
  public:
    explicit ReaderLink(HidBackend& backend, Clock& clock = SystemClock());
    ~ReaderLink();
    ReaderLink(const ReaderLink&) = delete;
    ReaderLink& operator=(const ReaderLink&) = delete;

    // 0 when a reader was found and opened, -1 when none was found. Empties both queues.
    int LinkOpen(int portIgnored, int baudIgnored, int dataBitsIgnored, int parityIgnored);
    // Queues one byte; 0. A byte beyond the 512-byte queue is refused with -1 and the next flush
    // then sends nothing, so a cut-off command never reaches the reader.
    int LinkPutByte(int portIgnored, uint8_t byte);
    // Drains stale input, sends the queue; 0, or -1 when a report write failed (handle dropped).
    // A reader that went away or was plugged in again is found anew before the first report;
    // the command in the queue is then sent whole. If it goes away in the middle of a command,
    // the flush fails rather than send the rest to a new handle.
    int LinkFlush(int portIgnored);
    // 0 with one stream byte in *byte; 255 when no report came within timeoutMs or the read failed.
    int LinkGetByte(int portIgnored, uint8_t* byte, uint16_t timeoutMs);
    // Returns at once: every LinkGetByte waits by its own timeout.
    int LinkWaitInput(int portIgnored, int timeoutMsIgnored);
    int LinkClose(int portIgnored);

    bool IsOpen() const { return device_ != nullptr; }
    // The time the link and the commands above it wait by.
    Clock& GetClock() const { return clock_; }

  private:
    HidBackend& backend_;
    Clock& clock_;
    std::unique_ptr<HidDevice> device_;
    std::array<uint8_t, kOutputQueueSize> queue_{};
    uint16_t queueCount_ = 0;
    bool queueOverflow_ = false;
    std::array<uint8_t, kInputRingSize> ring_{};
    uint16_t ringFill_ = 0;
    uint16_t ringRead_ = 0;

    std::unique_ptr<HidDevice> FindDevice(uint16_t vendorId, uint16_t productId, int index);
    std::unique_ptr<HidDevice> FindReader();
    void EmptyQueues();
};

}  // namespace tollwick
