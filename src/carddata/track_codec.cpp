#include "carddata/track_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "carddata/hex.h"

namespace tollwick {
namespace {

constexpr uint8_t kEsc = 0x1B;

bool HasParityBit(int bpc) {
    return bpc == 5 || bpc == 7;
}
uint8_t ParityBitOf(int bpc) {
    return bpc == 5 ? 0x10 : 0x40;
}
uint8_t DataMask(int bpc) {
    return bpc < 6 ? 0x0F : 0x3F;
}
bool EvenOnes(uint8_t v) {
    return std::popcount(static_cast<unsigned>(v)) % 2 == 0;
}

// Data characters and the LRC: odd parity sets the bit when the ones are even, even parity
// when they are odd, and no parity adds nothing.
uint8_t WithDataParity(uint8_t code, int bpc, int parity) {
    if (!HasParityBit(bpc)) return code;
    if (parity == kParityOdd && EvenOnes(code)) return code | ParityBitOf(bpc);
    if (parity == kParityEven && !EvenOnes(code)) return code | ParityBitOf(bpc);
    return code;
}

// Sentinels follow the data rule, except that with no parity they still get a bit when their
// ones are odd: that is how the reader's own format writes them.
uint8_t WithSentinelParity(uint8_t code, int bpc, int parity) {
    if (!HasParityBit(bpc)) return code;
    if (parity == kParityOdd) return EvenOnes(code) ? code | ParityBitOf(bpc) : code;
    return EvenOnes(code) ? code : code | ParityBitOf(bpc);
}

// With 4 or 6 bits per character there is no room for a parity bit.
int EffectiveParity(const TrackSettings& s) {
    return (s.bpc == 4 || s.bpc == 6) ? int{kParityNone} : int{s.parity};
}

char TextOfCode(uint8_t code, int checkClass) {
    return checkClass == 5 ? static_cast<char>((code & 0x0F) + 0x30)
                           : static_cast<char>((code & 0x3F) + 0x20);
}

}  // namespace

uint8_t ReverseBits(uint8_t byte) {
    uint8_t out = 0;
    for (int i = 0; i < 8; ++i) {
        if (byte & (1u << i)) out |= static_cast<uint8_t>(0x80u >> i);
    }
    return out;
}

uint8_t CharacterCode(char ch, int bpc) {
    const int base = bpc < 6 ? 0x30 : 0x20;
    return static_cast<uint8_t>((static_cast<uint8_t>(ch) - base) & DataMask(bpc));
}

uint8_t SentinelCode(char sentinel, const TrackSettings& settings) {
    return WithSentinelParity(CharacterCode(sentinel, settings.bpc), settings.bpc,
                              EffectiveParity(settings));
}

std::optional<std::vector<uint8_t>> EncodeTrack(std::string_view text,
                                                const TrackSettings& settings) {
    if (text.empty()) return std::vector<uint8_t>{};
    if (text.size() + 3 > kMaxEncodedCharacters) return std::nullopt;
    const int bpc = settings.bpc;
    if (bpc < 4 || bpc > 8) return std::nullopt;
    const int parity = EffectiveParity(settings);
    const uint8_t mask = DataMask(bpc);

    std::vector<uint8_t> codes;
    codes.reserve(text.size() + 3);
    codes.push_back(SentinelCode(settings.startSentinel, settings));
    for (char ch : text) codes.push_back(WithDataParity(CharacterCode(ch, bpc), bpc, parity));
    codes.push_back(SentinelCode(settings.endSentinel, settings));
    uint8_t lrc = 0;
    for (uint8_t code : codes) lrc ^= code & mask;
    codes.push_back(WithDataParity(lrc, bpc, parity));

    // Least significant bit of each code first, from bit 0 of the first byte upward.
    std::vector<uint8_t> bytes((codes.size() * static_cast<std::size_t>(bpc) + 7) / 8, 0);
    std::size_t bit = 0;
    for (uint8_t code : codes) {
        for (int i = 0; i < bpc; ++i, ++bit) {
            if (code & (1u << i)) bytes[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
        }
    }
    return bytes;
}

std::optional<std::vector<uint8_t>> EncodeRawTrack(std::string_view hexText) {
    const std::size_t count = hexText.size() / 2;
    if (count > 255) return std::nullopt;
    std::vector<uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const char pair[3] = {hexText[2 * i], hexText[2 * i + 1], 0};
        uint8_t value = 0;
        HexToBytes(pair, 2, &value);
        bytes[i] = ReverseBits(value);
    }
    return bytes;
}

bool DecodeRawTrack(TrackBuffer& buffer) {
    const std::size_t n = RawLength(buffer);
    if (2 * n + 1 > buffer.size()) return true;
    uint8_t raw[kTrackBufferSize];
    std::memcpy(raw, buffer.data(), n);
    BytesToHex(raw, static_cast<int>(n), buffer.data());
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(2 * n), buffer.end(), 0);
    return false;
}

bool DecodeTrack(TrackBuffer& buffer, const TrackSettings& settings) {
    const std::size_t n = RawLength(buffer);
    auto setText = [&buffer](std::string_view text) {
        buffer.fill(0);
        std::memcpy(buffer.data(), text.data(), text.size());
    };
    if (n == 0) {
        setText(kNoDataText);
        return false;
    }
    const int bpc = settings.bpc;
    if (bpc < 4 || bpc > 8) return true;

    // Unpack most significant bit first, bpc bits per character, each from its low bit up.
    // 255 bytes at 4 bits per character make 510 characters; the slots after them stay zero.
    uint8_t area[kTrackBufferSize * 2 + 2] = {};
    const std::size_t totalBits = n * 8;
    for (std::size_t bit = 0; bit < totalBits; ++bit) {
        const uint8_t byte = static_cast<uint8_t>(buffer[bit / 8]);
        if (byte & (0x80u >> (bit % 8))) {
            area[bit / static_cast<std::size_t>(bpc)] |=
                static_cast<uint8_t>(1u << (bit % static_cast<std::size_t>(bpc)));
        }
    }
    const std::size_t complete = totalBits / static_cast<std::size_t>(bpc);
    if (complete == 0) {
        setText(kNoDataText);
        return false;
    }

    // The buffer loses the track's trailing zero bytes, and with them the zero bits that may end
    // the end sentinel or the LRC; the area holds zeros there, so the search runs on through the
    // character the received bits end in and one more.
    const std::size_t searched =
        (totalBits + static_cast<std::size_t>(bpc) - 1) / static_cast<std::size_t>(bpc) + 1;
    const uint8_t endCode = SentinelCode(settings.endSentinel, settings);
    std::size_t found = searched;
    for (std::size_t i = 0; i < searched; ++i) {
        if (area[i] == endCode) {
            found = i;
            break;
        }
    }
    // The text runs up to the end sentinel and must fit the buffer; the LRC follows it.
    if (found == searched || found + 1 > kTrackBufferSize - 1) return true;
    const std::size_t m = found + 2;

    const int checkClass = bpc <= 5 ? 5 : 7;
    const uint8_t mask = checkClass == 5 ? 0x0F : 0x3F;
    const uint8_t parityMask = checkClass == 5 ? 0x1F : 0x7F;
    const bool checkParity = HasParityBit(bpc) && settings.parity <= kParityEven;
    uint8_t lrc = 0;
    char text[kTrackBufferSize * 2 + 2];
    for (std::size_t i = 0; i < m; ++i) {
        const uint8_t code = area[i];
        lrc ^= code & mask;
        if (checkParity) {
            const bool even = EvenOnes(code & parityMask);
            if (settings.parity == kParityOdd ? even : !even) return true;
        }
        text[i] = TextOfCode(code, checkClass);
    }
    if (lrc != 0) return true;

    // End the text after the first end-sentinel character; a sentinel outside the track's
    // alphabet never appears as itself, so the found position ends it then.
    std::size_t length = found + 1;
    for (std::size_t i = 0; i < m; ++i) {
        if (text[i] == settings.endSentinel) {
            length = i + 1;
            break;
        }
    }
    setText({text, length});
    return false;
}

uint8_t DecodeTracks(CardTracks& card, const TrackSet& settings) {
    uint8_t errors = 0;
    const bool raw = IsRawTrackSet(settings);
    for (int t = 0; t < 3; ++t) {
        const bool failed = raw ? DecodeRawTrack(card.track[static_cast<std::size_t>(t)])
                                : DecodeTrack(card.track[static_cast<std::size_t>(t)],
                                              settings[static_cast<std::size_t>(t)]);
        if (failed) errors |= static_cast<uint8_t>(1u << t);
    }
    card.trackErrors = errors;
    return errors;
}

SplitResult SplitReadBlock(const uint8_t* block, std::size_t n, CardTracks& card) {
    if (n < 2 || block[0] != kEsc || block[1] != 's') return SplitResult::kBadHeader;
    for (auto& buffer : card.track) buffer.fill(0);
    int previous = 0;
    std::size_t p = 2;
    while (p + 4 < n) {
        if (block[p] == kEsc) {
            const int number = p + 1 < n ? block[p + 1] : 0;
            const bool inOrder =
                number == 1 || (number == 2 && previous == 1) || (number == 3 && previous == 2);
            if (!inOrder) return SplitResult::kBadTrackOrder;
            const std::size_t length = p + 2 < n ? block[p + 2] : 0;
            // Only bytes actually received are copied; a length running past them is cut there.
            const std::size_t start = std::min(p + 3, n);
            const std::size_t available = std::min(length, n - start);
            TrackBuffer& buffer = card.track[static_cast<std::size_t>(number - 1)];
            buffer.fill(0);
            std::memcpy(buffer.data(), block + start, available);
            previous = number;
            p += length + 3;
        } else if (block[p] == 0x00) {
            break;
        } else {
            ++p;
        }
    }
    return SplitResult::kOk;
}

std::vector<uint8_t> BuildReadBlock(const std::array<std::vector<uint8_t>, 3>& tracks) {
    std::vector<uint8_t> block = {kEsc, 's'};
    for (int t = 0; t < 3; ++t) {
        const auto& data = tracks[static_cast<std::size_t>(t)];
        const std::size_t length = std::min<std::size_t>(data.size(), 255);
        block.push_back(kEsc);
        block.push_back(static_cast<uint8_t>(t + 1));
        block.push_back(static_cast<uint8_t>(length));
        block.insert(block.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
    }
    // The trailer begins with 0x00, so the split stops there however many fill bytes of the
    // last input report follow.
    const uint8_t trailer[4] = {0x00, '?', 0x1C, '0'};
    block.insert(block.end(), trailer, trailer + 4);
    return block;
}

}  // namespace tollwick
