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

int RecordedDataBits(const std::vector<uint8_t>& recorded) {
    for (std::size_t byte = recorded.size(); byte-- > 0;) {
        if (recorded[byte] == 0) continue;
        int bit = 7;
        while (((recorded[byte] >> (7 - bit)) & 1u) == 0) --bit;
        return static_cast<int>(byte * 8) + bit + 1;
    }
    return 0;
}

std::vector<uint8_t> PlayTrack(const std::vector<uint8_t>& recorded, const TrackSwipe& swipe) {
    // The head's view, edge to edge: leading zeros, the recording area, trailing zeros.
    const std::size_t leading = static_cast<std::size_t>(std::max(swipe.leadingZeros, 0));
    std::size_t area =
        std::max(recorded.size() * 8, static_cast<std::size_t>(std::max(swipe.capacityBits, 0)));
    std::vector<bool> head(leading, false);
    head.reserve(leading + area + static_cast<std::size_t>(std::max(swipe.trailingZeros, 0)) + 1);
    for (std::size_t bit = 0; bit < area; ++bit)
        head.push_back(bit < recorded.size() * 8 && BitAt(recorded, bit));
    for (int bit : swipe.flippedBits) {
        if (bit >= 0 && static_cast<std::size_t>(bit) < area)
            head[leading + static_cast<std::size_t>(bit)].flip();
    }
    if (swipe.slip && swipe.slip->bit >= 0 && static_cast<std::size_t>(swipe.slip->bit) < area) {
        const auto at = head.begin() + static_cast<std::ptrdiff_t>(leading) + swipe.slip->bit;
        if (swipe.slip->doubled) {
            head.insert(at, *at);
            ++area;
        } else {
            head.erase(at);
            --area;
        }
    }
    head.insert(head.end(), static_cast<std::size_t>(std::max(swipe.trailingZeros, 0)), false);
    if (swipe.reversed) std::reverse(head.begin(), head.end());
    if (swipe.cutAt) {
        const std::size_t areaStart = swipe.reversed ? head.size() - leading - area : leading;
        const double share = std::clamp(*swipe.cutAt, 0.0, 1.0);
        head.resize(areaStart + static_cast<std::size_t>(share * static_cast<double>(area)));
    }

    // The reader locks onto the first one bit: of the noise, when there is noise before the data.
    std::vector<bool> stream(std::find(head.begin(), head.end(), true), head.end());
    if (!swipe.noiseAfter.empty() && !swipe.cutAt && !stream.empty()) {
        const auto last = std::find(stream.rbegin(), stream.rend(), true);
        std::size_t at = static_cast<std::size_t>(stream.rend() - last) +
                         static_cast<std::size_t>(std::max(swipe.gapAfter, 0));
        if (stream.size() < at + swipe.noiseAfter.size())
            stream.resize(at + swipe.noiseAfter.size(), false);
        for (bool one : swipe.noiseAfter) {
            stream[at] = stream[at] || one;
            ++at;
        }
    }
    if (!swipe.noiseBefore.empty()) {
        std::vector<bool> before = swipe.noiseBefore;
        before.front() = true;  // a burst begins where the reader first sees a one
        before.insert(before.end(), static_cast<std::size_t>(std::max(swipe.gapBefore, 0)), false);
        stream.insert(stream.begin(), before.begin(), before.end());
    }

    std::vector<uint8_t> sent;
    for (std::size_t bit = 0; bit < stream.size() && bit < kMaxTrackBytes * 8; ++bit) {
        if (bit % 8 == 0) sent.push_back(0);
        if (stream[bit]) sent.back() |= static_cast<uint8_t>(0x80u >> (bit % 8));
    }
    return sent;
}

}  // namespace tollwick
