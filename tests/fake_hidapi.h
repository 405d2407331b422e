// A link-time stand-in for the hidapi C library: the program's real hidapi backend is linked
// against these functions instead of libhidapi, and tests say what the system's HID devices do.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tollwick::testing {

struct FakeHidInterface {
    std::string path;
    uint16_t vendorId = 0x0801;
    uint16_t productId = 0x0005;
    bool openable = true;  // false: hid_open_path fails (another driver holds it, no permission)
};

// What the fake library's devices do; one per test (Reset between tests).
struct FakeHidapi {
    std::vector<FakeHidInterface> interfaces;
    // Input reports as hidraw delivers unnumbered reports: the data bytes without a report id.
    std::deque<std::vector<uint8_t>> input;
    // Every hid_write, as passed (report id first).
    std::vector<std::vector<uint8_t>> written;
    std::vector<std::string> opened;  // every hid_open_path, in order
    bool pulled = false;              // the cable is out: open handles fail every transfer
    int generation = 0;               // plugged in again: handles from before stay dead
    int open = 0;                     // handles not yet closed
    int initialised = 0;              // hid_init calls not yet matched by hid_exit
    // Called after each write; may queue a reply.
    std::function<void(const std::vector<uint8_t>&)> onWrite;
    // Called before each read (the cable may be pulled now).
    std::function<void()> onRead;
};

FakeHidapi& Fake();
inline void ResetFake() {
    Fake() = FakeHidapi{};
}
inline void PullCable() {
    Fake().pulled = true;
    Fake().input.clear();
}
inline void PlugCableIn() {
    Fake().pulled = false;
    ++Fake().generation;
}

}  // namespace tollwick::testing
