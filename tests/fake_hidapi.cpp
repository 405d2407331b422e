// The hidapi functions the backend calls, over FakeHidapi.
#include "fake_hidapi.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace tollwick::testing {

FakeHidapi& Fake() {
    static FakeHidapi fake;
    return fake;
}

}  // namespace tollwick::testing

using tollwick::testing::Fake;

// A hidraw node does not come back after the cable was pulled: a handle from before is dead.
struct hid_device_ {
    int generation = 0;
    bool Dead() const { return Fake().pulled || generation != Fake().generation; }
};

extern "C" {

int hid_init(void) {
    ++Fake().initialised;
    return 0;
}

int hid_exit(void) {
    --Fake().initialised;
    return 0;
}

struct hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    if (Fake().pulled) return nullptr;
    for (const auto& entry : Fake().interfaces) {
        if ((vendor_id != 0 && entry.vendorId != vendor_id) ||
            (product_id != 0 && entry.productId != product_id)) {
            continue;
        }
        auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(entry.path.c_str());
        info->vendor_id = entry.vendorId;
        info->product_id = entry.productId;
        *tail = info;
        tail = &info->next;
    }
    return head;
}

void hid_free_enumeration(struct hid_device_info* devs) {
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs);
        devs = next;
    }
}

hid_device* hid_open_path(const char* path) {
    Fake().opened.emplace_back(path);
    if (Fake().pulled) return nullptr;
    const auto& all = Fake().interfaces;
    const auto it = std::find_if(all.begin(), all.end(),
                                 [path](const auto& entry) { return entry.path == path; });
    if (it == all.end() || !it->openable) return nullptr;
    ++Fake().open;
    return new hid_device_{Fake().generation};
}

void hid_close(hid_device* dev) {
    --Fake().open;
    delete dev;
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    if (dev->Dead()) return -1;
    Fake().written.emplace_back(data, data + length);
    if (Fake().onWrite) Fake().onWrite(Fake().written.back());
    return static_cast<int>(length);
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int /*milliseconds*/) {
    if (Fake().onRead) Fake().onRead();
    if (dev->Dead()) return -1;
    if (Fake().input.empty()) return 0;
    const std::vector<uint8_t> report = Fake().input.front();
    Fake().input.pop_front();
    const std::size_t n = std::min(length, report.size());
    std::memcpy(data, report.data(), n);
    return static_cast<int>(n);
}

}  // extern "C"
