// The few platform operations the report channel needs, so that the channel runs unchanged over
// hidapi or over the virtual reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tollwick {

struct HidDeviceInfo {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string serial{};  // the serial number the device gives (ASCII), empty when none
};

// One open HID interface. Reports carry the report id in byte 0 in both directions.
class HidDevice {
  public:
    virtual ~HidDevice() = default;
    // Report lengths in bytes, report id included; 0 when they cannot be had (device gone).
    // An input length of 0 from a live device means "as long as each report arrives".
    virtual int InputReportLength() = 0;
    virtual int OutputReportLength() = 0;
    // Writes one output report; false on failure or when the timeout expires.
    virtual bool WriteReport(const uint8_t* report, std::size_t length, int timeoutMs) = 0;
    // Reads one whole input report into buffer (buffer[0] gets the report id, 0 for unnumbered
    // reports). Returns its length, report id included; 0 on timeout; -1 on failure.
    virtual int ReadReport(uint8_t* buffer, std::size_t capacity, int timeoutMs) = 0;
};

class HidBackend {
  public:
    virtual ~HidBackend() = default;
    // The present HID interfaces with this vendor and product, in the system's order.
    virtual std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) = 0;
    virtual std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) = 0;
};

// hidapi: hidraw on Linux, the Windows HID API on Windows. Not thread-safe for one device: one
// thread at a time.
std::unique_ptr<HidBackend> MakeHidapiBackend();

// What keeps a reader that the system lists from being opened, as the end of a message: on
// Linux the permissions of its /dev/hidraw node (which the udev rule grants), on Windows another
// program that holds it.
const char* ReaderAccessHint();

}  // namespace tollwick
