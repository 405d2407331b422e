#include "device/virtual/card_stripe.h"

#include <algorithm>
#include <cmath>

namespace tollwick {
namespace {

constexpr std::size_t kMaxTrackBytes = 255;

bool BitAt(const std::vector<uint8_t>& readOrder, std::size_t bit) {
    return (readOrder[bit / 8] >> (7 - bit % 8)) & 1u;
}

}  // namespace

int TrackCapacityBits(int bitsPerInch) {
    return static_cast<int>(std::floor(kRecordingInches * bitsPerInch));
}

std::vector<uint8_t> RecordTrack(const std::vector<uint8_t>& writeOrder, int capacityBits) {
    const std::size_t bits =
        std::min(writeOrder.size() * 8, static_cast<std::size_t>(std::max(capacityBits, 0)));
    std::vector<uint8_t> recorded((bits + 7) / 8, 0);
    for (std::size_t bit = 0; bit < bits; ++bit) {
        if ((writeOrder[bit / 8] >> (bit % 8)) & 1u) {
            recorded[bit / 8] |= static_cast<uint8_t>(0x80u >> (bit % 8));
        }
    }
    return recorded;
}

std::vector<uint8_t> PlayTrack(const std::vector<uint8_t>& recorded, const TrackSwipe& swipe) {
    // The head's view, edge to edge: leading zeros, the recording area, trailing zeros.
    const std::size_t area =
        std::max(recorded.size() * 8, static_cast<std::size_t>(std::max(swipe.capacityBits, 0)));
    std::vector<bool> head;
    head.reserve(static_cast<std::size_t>(swipe.leadingZeros) + area +
                 static_cast<std::size_t>(swipe.trailingZeros));
    head.insert(head.end(), static_cast<std::size_t>(std::max(swipe.leadingZeros, 0)), false);
    for (std::size_t bit = 0; bit < area; ++bit) {
        bool one = bit < recorded.size() * 8 && BitAt(recorded, bit);
        if (swipe.weakBit && static_cast<std::size_t>(*swipe.weakBit) == bit) one = !one;
        head.push_back(one);
    }
    head.insert(head.end(), static_cast<std::size_t>(std::max(swipe.trailingZeros, 0)), false);
    if (swipe.reversed) std::reverse(head.begin(), head.end());

    const auto first = std::find(head.begin(), head.end(), true);
    std::vector<uint8_t> sent;
    std::size_t bit = 0;
    for (auto it = first; it != head.end() && sent.size() <= kMaxTrackBytes; ++it, ++bit) {
        if (bit % 8 == 0) sent.push_back(0);
        if (*it) sent.back() |= static_cast<uint8_t>(0x80u >> (bit % 8));
    }
    if (sent.size() > kMaxTrackBytes) sent.resize(kMaxTrackBytes);
    return sent;
}

}  // namespace tollwick
