#include "carddata/write_verify.h"

#include <algorithm>
#include <optional>

#include "carddata/track_codec.h"

namespace tollwick {
namespace {

// The bits from the first one bit to the last one, as '0' and '1' (bit 7 of a byte first).
std::string SignificantBits(std::span<const uint8_t> bytes) {
    std::string bits;
    bits.reserve(bytes.size() * 8);
    for (uint8_t byte : bytes) {
        for (int b = 7; b >= 0; --b) bits.push_back(((byte >> b) & 1) ? '1' : '0');
    }
    const std::size_t first = bits.find('1');
    if (first == std::string::npos) return {};
    return bits.substr(first, bits.rfind('1') - first + 1);
}

// The text of a track's bytes as read, decoded in its format; nothing when it fails its check.
std::optional<std::string> Decoded(std::span<const uint8_t> bytes, const TrackSettings& settings) {
    TrackBuffer buffer{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), buffer.size() - 1), buffer.begin());
    if (DecodeTrack(buffer, settings) == TrackDecode::kFailed) return std::nullopt;
    return std::string(buffer.data());
}

}  // namespace

bool TrackReadsAsWritten(std::string_view written, std::span<const uint8_t> read,
                         const TrackSettings& settings, bool rawType) {
    std::string text(written);
    ToUpperAscii(text);
    const std::optional<std::vector<uint8_t>> sent =
        rawType ? EncodeRawTrack(text) : EncodeTrack(text, settings);
    if (!sent) return false;  // nothing the write could send: it cannot be on the card
    if (sent->empty()) return true;
    std::vector<uint8_t> recorded(sent->size());  // the bytes in read order
    ReverseBits(sent->data(), recorded.data(), recorded.size());
    if (rawType) return SignificantBits(recorded) == SignificantBits(read);
    const std::optional<std::string> expected = Decoded(recorded, settings);
    const std::optional<std::string> got = Decoded(read, settings);
    return expected && got && *expected == *got;
}

uint8_t VerifyWrittenCard(const TrackTexts& written, const TrackBytes& read,
                          const TrackSet& formats) {
    const bool rawType = IsRawTrackSet(formats);
    uint8_t differ = 0;
    for (std::size_t t = 0; t < 3; ++t) {
        if (!TrackReadsAsWritten(written[t], read[t], formats[t], rawType)) {
            differ = static_cast<uint8_t>(differ | (1u << t));
        }
    }
    return differ;
}

std::string DifferingTracksText(uint8_t differing) {
    std::vector<std::string> numbers;
    for (int t = 0; t < 3; ++t) {
        if (differing & (1u << t)) numbers.push_back(std::to_string(t + 1));
    }
    if (numbers.empty()) return "no track differs";
    if (numbers.size() == 1) return "track " + numbers[0] + " differs";
    std::string list;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) list += i + 1 == numbers.size() ? " and " : ", ";
        list += numbers[i];
    }
    return "tracks " + list + " differ";
}

}  // namespace tollwick
