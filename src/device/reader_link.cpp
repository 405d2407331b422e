#include "device/reader_link.h"

#include <algorithm>
#include <cstring>

namespace tollwick {

ReaderLink::ReaderLink(HidBackend& backend, Clock& clock) : backend_(backend), clock_(clock) {}
ReaderLink::~ReaderLink() = default;

// The index-th present interface of the reader that can be opened: an interface that cannot be
// opened (another driver holds it, or its node is not ours to open) is not counted, and the
// search goes on past it.
std::unique_ptr<HidDevice> ReaderLink::FindDevice(uint16_t vendorId, uint16_t productId,
                                                  int index) {
    if (index < 1) return nullptr;
    int matches = 0;
    for (const HidDeviceInfo& info : backend_.Enumerate(vendorId, productId)) {
        if (info.vendorId != vendorId || info.productId != productId) continue;
        std::unique_ptr<HidDevice> device = backend_.Open(info);
        if (!device) continue;
        if (++matches == index) return device;
    }
    return nullptr;
}

std::unique_ptr<HidDevice> ReaderLink::FindReader() {
    std::unique_ptr<HidDevice> device = FindDevice(kReaderVendorPrimary, kReaderProduct, 1);
    if (!device) device = FindDevice(kReaderVendorSecondary, kReaderProduct, 1);
    return device;
}

void ReaderLink::EmptyQueues() {
    ringFill_ = 0;
    ringRead_ = 0;
    queueCount_ = 0;
    queueOverflow_ = false;
}

int ReaderLink::LinkOpen(int /*portIgnored*/, int /*baudIgnored*/, int /*dataBitsIgnored*/,
                         int /*parityIgnored*/) {
    EmptyQueues();
    // The handle this replaces is never used again.
    device_ = FindReader();
    return device_ ? 0 : -1;
}

int ReaderLink::LinkPutByte(int /*portIgnored*/, uint8_t byte) {
    if (queueCount_ >= kOutputQueueSize) {
        queueOverflow_ = true;
        return -1;
    }
    queue_[queueCount_++] = byte;
    return 0;
}

int ReaderLink::LinkFlush(int /*portIgnored*/) {
    if (queueOverflow_) {
        EmptyQueues();
        return -1;
    }
    // Replies left over from earlier commands are thrown away here.
    if (device_) {
        uint8_t scratch[kMaxInputReportLength + 1];
        while (device_->ReadReport(scratch, sizeof scratch, 1) > 0) {
        }
    }
    for (std::size_t sent = 0; sent < queueCount_; sent += 8) {
        uint8_t report[kOutputReportLength] = {};
        const std::size_t n = std::min<std::size_t>(8, queueCount_ - sent);
        std::memcpy(report + 1, queue_.data() + sent, n);
        // An output length of 0 means the reader went away or was plugged in again.
        if (!device_ || device_->OutputReportLength() == 0) {
            if (sent > 0) {
                // Part of this command went to the handle that is gone; the rest must not follow
                // on a new one, where it would read as a command of its own.
                device_.reset();
                EmptyQueues();
                return -1;
            }
            // Nothing of the command has gone out yet: find the reader anew and send it whole.
            ringFill_ = 0;
            ringRead_ = 0;
            device_ = FindReader();
        }
        if (!device_ || !device_->WriteReport(report, kOutputReportLength, 50)) {
            device_.reset();
            return -1;
        }
    }
    EmptyQueues();
    return 0;
}

int ReaderLink::LinkGetByte(int /*portIgnored*/, uint8_t* byte, uint16_t timeoutMs) {
    if (ringRead_ != ringFill_) {
        *byte = ring_[ringRead_++];
        if (ringRead_ >= kInputRingSize) ringRead_ = ringFill_ = 0;
        return 0;
    }
    if (!device_) return kLinkNoByte;
    int length = device_->InputReportLength();
    // A device whose reports fall outside 2..200 bytes cannot be carried.
    if (length != 0 && (length < 2 || length > kMaxInputReportLength)) return kLinkNoByte;
    uint8_t scratch[kMaxInputReportLength + 1] = {};
    const int got =
        device_->ReadReport(scratch,
                            length != 0 ? static_cast<std::size_t>(length)
                                        : static_cast<std::size_t>(kMaxInputReportLength),
                            timeoutMs);
    if (got <= 0) return kLinkNoByte;
    if (length == 0) length = got;
    if (length < 2) return kLinkNoByte;
    *byte = scratch[1];
    std::memcpy(ring_.data(), scratch + 2, static_cast<std::size_t>(length - 2));
    ringFill_ = static_cast<uint16_t>(length - 2);
    ringRead_ = 0;
    return 0;
}

int ReaderLink::LinkWaitInput(int /*portIgnored*/, int /*timeoutMsIgnored*/) {
    return 0;
}

int ReaderLink::LinkClose(int /*portIgnored*/) {
    return 0;
}

}  // namespace tollwick
