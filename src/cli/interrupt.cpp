#include "cli/interrupt.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace tollwick {
namespace {

std::atomic<bool> gInterrupted{false};
std::stop_source gInterruptStop;

class InterruptibleDevice final : public HidDevice {
  public:
    InterruptibleDevice(std::unique_ptr<HidDevice> inner, const std::atomic<bool>& flag)
        : inner_(std::move(inner)), flag_(flag) {}

    int InputReportLength() override { return inner_->InputReportLength(); }
    int OutputReportLength() override { return inner_->OutputReportLength(); }
    bool WriteReport(const uint8_t* report, std::size_t length, int timeoutMs) override {
        return inner_->WriteReport(report, length, timeoutMs);
    }
    int ReadReport(uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
        using Clock = std::chrono::steady_clock;
        if (flag_) return 0;
        if (timeoutMs >= 0 && timeoutMs <= kInterruptSliceMs) {
            return inner_->ReadReport(buffer, capacity, timeoutMs);
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int slice = kInterruptSliceMs;
            if (timeoutMs >= 0) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
                if (left.count() <= 0) return 0;
                slice = static_cast<int>(std::min<long long>(left.count(), kInterruptSliceMs));
            }
            const int got = inner_->ReadReport(buffer, capacity, slice);
            if (got != 0) return got;
            if (flag_) return 0;
        }
    }

  private:
    std::unique_ptr<HidDevice> inner_;
    const std::atomic<bool>& flag_;
};

}  // namespace

bool Interrupted() {
    return gInterrupted.load(std::memory_order_acquire);
}

std::stop_token InterruptStop() {
    return gInterruptStop.get_token();
}

void TakeInterrupt() {
    if (gInterrupted.exchange(true, std::memory_order_acq_rel)) {
        std::fputs("tollwick-cli: interrupted again, stopping now\n", stderr);
        std::fflush(stderr);
        std::_Exit(130);
    }
    gInterruptStop.request_stop();
}

InterruptibleBackend::InterruptibleBackend(std::unique_ptr<HidBackend> inner)
    : InterruptibleBackend(std::move(inner), gInterrupted) {}

InterruptibleBackend::InterruptibleBackend(std::unique_ptr<HidBackend> inner,
                                           const std::atomic<bool>& flag)
    : inner_(std::move(inner)), flag_(flag) {}

std::vector<HidDeviceInfo> InterruptibleBackend::Enumerate(uint16_t vendorId, uint16_t productId) {
    if (flag_) return {};
    return inner_->Enumerate(vendorId, productId);
}

std::unique_ptr<HidDevice> InterruptibleBackend::Open(const HidDeviceInfo& info) {
    if (flag_) return nullptr;
    auto device = inner_->Open(info);
    if (!device) return nullptr;
    return std::make_unique<InterruptibleDevice>(std::move(device), flag_);
}

}  // namespace tollwick
