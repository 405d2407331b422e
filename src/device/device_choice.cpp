#include "device/device_choice.h"

namespace tollwick {
namespace {

std::mutex gEnumerateMutex;  // hidapi's enumeration is not meant for two threads at once

}  // namespace

ChosenDeviceBackend::ChosenDeviceBackend(std::shared_ptr<HidBackend> inner,
                                         std::string pathOrSerial)
    : inner_(std::move(inner)), choice_(std::move(pathOrSerial)) {}

std::vector<HidDeviceInfo> ChosenDeviceBackend::Enumerate(uint16_t vendorId, uint16_t productId) {
    std::vector<HidDeviceInfo> all;
    {
        std::lock_guard lock(gEnumerateMutex);
        all = inner_->Enumerate(vendorId, productId);
    }
    std::vector<HidDeviceInfo> chosen;
    for (HidDeviceInfo& info : all) {
        if (info.path == choice_ || (!info.serial.empty() && info.serial == choice_)) {
            chosen.push_back(std::move(info));
        }
    }
    return chosen;
}

std::unique_ptr<HidDevice> ChosenDeviceBackend::Open(const HidDeviceInfo& info) {
    return inner_->Open(info);
}

}  // namespace tollwick
