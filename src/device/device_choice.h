// One reader among several: a backend that shows only the reader a user named, by its path or
// its serial number, so that everything that takes "the first reader" takes that one.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "device/hid_backend.h"

namespace tollwick {

class ChosenDeviceBackend final : public HidBackend {
  public:
    // `inner` is shared by the readers of one program (it may be used from several threads:
    // its enumeration is taken one call at a time).
    ChosenDeviceBackend(std::shared_ptr<HidBackend> inner, std::string pathOrSerial);

    // The devices whose path or serial number is the one chosen.
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override;
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override;

  private:
    std::shared_ptr<HidBackend> inner_;
    std::string choice_;
};

}  // namespace tollwick
