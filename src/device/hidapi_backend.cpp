#include <hidapi/hidapi.h>

#include <cstring>

#include "device/hid_backend.h"

namespace tollwick {
namespace {

// The reader's output reports: report id and 8 data bytes.
constexpr int kReaderOutputReportLength = 9;

class HidapiDevice final : public HidDevice {
  public:
    explicit HidapiDevice(hid_device* device) : device_(device) {}
    ~HidapiDevice() override { hid_close(device_); }

    // hidraw does not tell report lengths (Windows does, but the channel needs neither): each
    // read returns one whole report, so the channel takes the length of the report in hand.
    int InputReportLength() override { return 0; }
    int OutputReportLength() override { return failed_ ? 0 : kReaderOutputReportLength; }

    bool WriteReport(const uint8_t* report, std::size_t length, int /*timeoutMs*/) override {
        // hidapi takes the report id in byte 0 and drops it for unnumbered reports.
        const int written = hid_write(device_, report, length);
        if (written < 0) failed_ = true;
        return written >= 0;
    }

    int ReadReport(uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
        if (capacity < 2) return -1;
        // Unnumbered input reports arrive without their id: put the data after byte 0.
        const int n = hid_read_timeout(device_, buffer + 1, capacity - 1, timeoutMs);
        if (n < 0) {
            failed_ = true;
            return -1;
        }
        if (n == 0) return 0;
        buffer[0] = 0;
        return n + 1;
    }

  private:
    hid_device* device_;
    bool failed_ = false;
};

class HidapiBackend final : public HidBackend {
  public:
    HidapiBackend() { initialised_ = hid_init() == 0; }
    ~HidapiBackend() override {
        if (initialised_) hid_exit();
    }

    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        std::vector<HidDeviceInfo> found;
        if (!initialised_) return found;
        hid_device_info* list = hid_enumerate(vendorId, productId);
        for (hid_device_info* d = list; d != nullptr; d = d->next) {
            if (d->vendor_id == vendorId && d->product_id == productId && d->path != nullptr) {
                std::string serial;
                for (const wchar_t* c = d->serial_number; c != nullptr && *c != 0; ++c) {
                    serial.push_back(*c > 0x20 && *c < 0x7F ? static_cast<char>(*c) : '?');
                }
                found.push_back({d->path, d->vendor_id, d->product_id, serial});
            }
        }
        hid_free_enumeration(list);
        return found;
    }

    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        if (!initialised_) return nullptr;
        hid_device* device = hid_open_path(info.path.c_str());
        if (device == nullptr) return nullptr;
        return std::make_unique<HidapiDevice>(device);
    }

  private:
    bool initialised_ = false;
};

}  // namespace

std::unique_ptr<HidBackend> MakeHidapiBackend() {
    return std::make_unique<HidapiBackend>();
}

const char* ReaderAccessHint() {
#ifdef _WIN32
    return "close any other program that uses it, then unplug it and plug it in again";
#else
    return "check the permissions of its /dev/hidraw node (see README: udev rule)";
#endif
}

}  // namespace tollwick
