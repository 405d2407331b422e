// The table-driven codec against a plain bit-by-bit model of the track rules, on random texts and
// on damaged, truncated and random bit streams in every format: results must be identical, byte
// for byte, including every edge of the decoder (end sentinels outside the alphabet, the search
// running into the zero bits after a track, texts longer than a buffer holds).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "carddata/hex.h"
#include "carddata/track_codec.h"
#include "carddata/track_format.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- The model: one bit at a time, straight from the rules ----------------------------------

namespace model {

uint8_t ReverseBits(uint8_t byte) {
    unsigned out = 0;
    for (int i = 0; i < 8; ++i) out |= ((byte >> i) & 1u) << (7 - i);
    return static_cast<uint8_t>(out);
}

std::size_t RawLength(const TrackBuffer& buffer) {
    std::size_t n = buffer.size();
    while (n > 0 && buffer[n - 1] == 0) --n;
    return n;
}

// Only 5 and 7 bits per character carry a parity bit.
uint8_t ParityBit(int bpc) {
    return bpc == 5 ? 0x10 : bpc == 7 ? 0x40 : 0;
}
uint8_t DataMask(int bpc) {
    return bpc < 6 ? 0x0F : 0x3F;
}
bool EvenOnes(unsigned v) {
    return std::popcount(v) % 2 == 0;
}
uint8_t CharacterCode(char ch, int bpc) {
    const int base = bpc < 6 ? 0x30 : 0x20;
    return static_cast<uint8_t>((static_cast<uint8_t>(ch) - base) & DataMask(bpc));
}
// Odd sets the parity bit on even ones, even on odd ones; any other parity code gives data
// characters and the LRC none, and sentinels the bit on odd ones.
uint8_t WithParity(uint8_t code, int bpc, int parity, bool sentinel = false) {
    if (parity == kParityOdd) return EvenOnes(code) ? code | ParityBit(bpc) : code;
    if (parity == kParityEven || sentinel) return EvenOnes(code) ? code : code | ParityBit(bpc);
    return code;
}
uint8_t SentinelCode(char sentinel, const TrackSettings& s) {
    return WithParity(CharacterCode(sentinel, s.bpc), s.bpc, s.parity, true);
}

std::optional<Bytes> Encode(std::string_view text, const TrackSettings& s) {
    if (text.empty()) return Bytes{};
    if (text.size() + 3 > 255) return std::nullopt;
    const int bpc = s.bpc;
    if (bpc < 4 || bpc > 8) return std::nullopt;
    Bytes codes;
    codes.push_back(model::SentinelCode(s.startSentinel, s));
    for (char ch : text) codes.push_back(WithParity(CharacterCode(ch, bpc), bpc, s.parity));
    codes.push_back(model::SentinelCode(s.endSentinel, s));
    uint8_t lrc = 0;
    for (uint8_t code : codes) lrc ^= code & DataMask(bpc);
    codes.push_back(WithParity(lrc, bpc, s.parity));
    // Least significant bit of each code first, from bit 0 of the first byte upward.
    Bytes bytes((codes.size() * static_cast<std::size_t>(bpc) + 7) / 8, 0);
    std::size_t byte = 0;
    unsigned bit = 0;  // of the byte
    for (uint8_t code : codes) {
        for (int i = 0; i < bpc; ++i) {
            bytes[byte] |= static_cast<uint8_t>(((code >> i) & 1u) << bit);
            if (++bit == 8) {
                bit = 0;
                ++byte;
            }
        }
    }
    return bytes;
}

std::optional<Bytes> EncodeRaw(std::string_view hexText) {
    const std::size_t count = hexText.size() / 2;
    if (count > 255) return std::nullopt;
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const char pair[3] = {hexText[2 * i], hexText[2 * i + 1], 0};
        uint8_t value = 0;
        HexToBytes(pair, 2, &value);
        bytes[i] = ReverseBits(value);
    }
    return bytes;
}

void SetText(TrackBuffer& buffer, std::string_view text) {
    buffer.fill(0);
    std::memcpy(buffer.data(), text.data(), text.size());
}

bool Decode(TrackBuffer& buffer, const TrackSettings& s) {
    const std::size_t n = RawLength(buffer);
    if (n == 0) {
        SetText(buffer, kNoDataText);
        return false;
    }
    const int bpc = s.bpc;
    if (bpc < 4 || bpc > 8) return true;
    const auto perChar = static_cast<std::size_t>(bpc);

    // Unpack most significant bit first, bpc bits per character, each from its low bit up;
    // the slots after the received bits stay zero.
    uint8_t area[kTrackBufferSize * 2 + 2] = {};
    const std::size_t totalBits = n * 8;
    std::size_t c = 0;  // character
    std::size_t i = 0;  // its bit
    for (std::size_t byte = 0; byte < n; ++byte) {
        for (int b = 7; b >= 0; --b) {
            area[c] |= static_cast<uint8_t>(((static_cast<uint8_t>(buffer[byte]) >> b) & 1u) << i);
            if (++i == perChar) {
                i = 0;
                ++c;
            }
        }
    }
    if (totalBits / perChar == 0) {
        SetText(buffer, kNoDataText);
        return false;
    }
    // The end sentinel is searched through the character the bits end in and one more.
    const std::size_t searched = (totalBits + perChar - 1) / perChar + 1;
    const uint8_t endCode = model::SentinelCode(s.endSentinel, s);
    std::size_t found = searched;
    for (std::size_t i = 0; i < searched; ++i) {
        if (area[i] == endCode) {
            found = i;
            break;
        }
    }
    if (found == searched || found + 1 > kTrackBufferSize - 1) return true;
    const std::size_t m = found + 2;  // up to the end sentinel, and the LRC

    const bool narrow = bpc <= 5;
    const uint8_t mask = narrow ? 0x0F : 0x3F;
    const uint8_t checked = narrow ? 0x1F : 0x7F;
    const bool checkParity = ParityBit(bpc) != 0 && s.parity <= kParityEven;
    uint8_t lrc = 0;
    char text[kTrackBufferSize];
    for (std::size_t i = 0; i < m; ++i) {
        const uint8_t code = area[i];
        lrc ^= code & mask;
        if (checkParity) {
            const bool even = EvenOnes(code & checked);
            if (s.parity == kParityOdd ? even : !even) return true;
        }
        text[i] = static_cast<char>((code & mask) + (narrow ? 0x30 : 0x20));
    }
    if (lrc != 0) return true;
    std::size_t length = found + 1;
    for (std::size_t i = 0; i < m; ++i) {
        if (text[i] == s.endSentinel) {
            length = i + 1;
            break;
        }
    }
    SetText(buffer, std::string_view(text, length));
    return false;
}

bool DecodeRaw(TrackBuffer& buffer) {
    const std::size_t n = RawLength(buffer);
    if (2 * n + 1 > buffer.size()) return true;
    std::string hex;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < n; ++i) {
        const auto byte = static_cast<uint8_t>(buffer[i]);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    SetText(buffer, hex);
    return false;
}

}  // namespace model

// ---- Random inputs --------------------------------------------------------------------------

// A small fixed-seed generator whose sequence is the same everywhere.
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
    bool OneIn(std::size_t n) { return Below(n) == 0; }
    uint8_t Byte() { return static_cast<uint8_t>(Next()); }
    char Pick(std::string_view from) { return from[Below(from.size())]; }

  private:
    uint64_t state_;
};

std::string_view AlphabetOf(int bpc) {
    static constexpr std::string_view kWide =
        " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    return bpc < 6 ? kNarrowAlphabet : kWide;
}

TrackSettings RandomSettings(Random& random, int bpc) {
    TrackSettings s;
    s.bpc = static_cast<uint8_t>(bpc);
    // Odd, even, none, and now and then a code outside the list.
    s.parity = random.OneIn(8) ? static_cast<uint8_t>(3 + random.Below(253))
                               : static_cast<uint8_t>(random.Below(3));
    s.startSentinel =
        random.OneIn(16) ? static_cast<char>(random.Byte()) : random.Pick(StartSentinelList(bpc));
    // The end lists, '~' (outside the wide alphabet) more often, and any byte at all.
    const std::size_t pick = random.Below(16);
    if (pick == 0) {
        s.endSentinel = static_cast<char>(random.Byte());
    } else if (pick <= 2) {
        s.endSentinel = '~';
    } else {
        s.endSentinel = random.Pick(EndSentinelList(bpc));
    }
    return s;
}

std::string RandomText(Random& random, int bpc) {
    std::size_t length = random.Below(110);
    if (random.OneIn(16)) length = 240 + random.Below(20);  // around the 252-character limit
    std::string text(length, ' ');
    const bool anyByte = random.OneIn(8);
    for (char& ch : text) {
        ch = anyByte && random.OneIn(4) ? static_cast<char>(random.Byte())
                                        : random.Pick(AlphabetOf(bpc));
    }
    return text;
}

// Codes packed as the reader plays a track back: first bit in bit 7 of the first byte.
Bytes PackReadOrder(const Bytes& codes, int bpc, std::size_t leadingZeros) {
    Bytes bytes((leadingZeros + codes.size() * static_cast<std::size_t>(bpc) + 7) / 8, 0);
    std::size_t bit = leadingZeros;
    for (uint8_t code : codes) {
        for (int i = 0; i < bpc; ++i, ++bit) {
            bytes[bit / 8] |= static_cast<uint8_t>(((code >> i) & 1u) << (7 - bit % 8));
        }
    }
    return bytes;
}

// A bit stream for the decoder: a good track, a stream of chosen codes, random bytes or mostly
// zeros, then perhaps damaged, cut short or ended with zero bytes.
TrackBuffer RandomStream(Random& random, const TrackSettings& s,
                         const std::optional<Bytes>& written) {
    Bytes bytes;
    const int bpc = std::clamp<int>(s.bpc, 1, 8);
    switch (random.Below(5)) {
        case 0:
        case 1: {  // a written track as read back, perhaps after some clocking zeros
            if (written) {
                for (uint8_t b : *written) bytes.push_back(model::ReverseBits(b));
            }
            if (random.OneIn(4)) {
                const std::size_t shift = 1 + random.Below(15);
                Bytes shifted(bytes.size() + 2, 0);
                for (std::size_t bit = 0; bit < bytes.size() * 8; ++bit) {
                    const unsigned one = (bytes[bit / 8] >> (7 - bit % 8)) & 1u;
                    const std::size_t to = bit + shift;
                    shifted[to / 8] |= static_cast<uint8_t>(one << (7 - to % 8));
                }
                bytes = shifted;
            }
            break;
        }
        case 2: {  // codes with the end sentinel somewhere, often late, parity right or not
            const std::size_t endAt = random.OneIn(4) ? 240 + random.Below(40) : random.Below(120);
            const uint8_t endCode = model::SentinelCode(s.endSentinel, s);
            const uint8_t codeMask = static_cast<uint8_t>((1u << bpc) - 1);
            Bytes codes;
            uint8_t lrc = 0;
            for (std::size_t i = 0; i < endAt; ++i) {
                uint8_t code = static_cast<uint8_t>(random.Byte() & codeMask);
                if (!random.OneIn(8)) {
                    code = model::WithParity(code & model::DataMask(bpc), bpc, s.parity);
                }
                if (code == endCode && !random.OneIn(4)) code ^= 1;
                lrc ^= code & model::DataMask(bpc);
                codes.push_back(code);
            }
            codes.push_back(endCode);
            lrc ^= endCode & model::DataMask(bpc);
            if (!random.OneIn(3)) codes.push_back(model::WithParity(lrc, bpc, s.parity));
            const std::size_t tail = random.Below(4);
            for (std::size_t i = 0; i < tail; ++i) codes.push_back(random.Byte() & codeMask);
            bytes = PackReadOrder(codes, bpc, random.OneIn(4) ? random.Below(8) : 0);
            break;
        }
        case 3: {  // random bytes, up to a full buffer with no zero at its end
            const bool full = random.OneIn(16);
            bytes.resize(full ? 256 : random.OneIn(8) ? random.Below(257) : random.Below(80));
            for (std::size_t i = 0; i < bytes.size(); i += 8) {
                const uint64_t eight = random.Next();
                std::memcpy(bytes.data() + i, &eight, std::min<std::size_t>(8, bytes.size() - i));
            }
            break;
        }
        default: {  // mostly zeros: codes of 0 (and sentinels whose code is 0) everywhere
            bytes.resize(1 + (random.OneIn(4) ? random.Below(256) : random.Below(40)), 0);
            const std::size_t ones = random.Below(6);
            for (std::size_t i = 0; i < ones; ++i) {
                bytes[random.Below(bytes.size())] |= static_cast<uint8_t>(1u << random.Below(8));
            }
            break;
        }
    }
    if (bytes.size() > kTrackBufferSize) bytes.resize(kTrackBufferSize);
    if (!bytes.empty()) {
        const std::size_t damage = random.Below(4) == 0 ? 1 + random.Below(3) : 0;
        for (std::size_t i = 0; i < damage; ++i) {
            const std::size_t bit = random.Below(bytes.size() * 8);
            bytes[bit / 8] ^= static_cast<uint8_t>(0x80u >> (bit % 8));
        }
        if (random.OneIn(6)) bytes.resize(random.Below(bytes.size() + 1));  // cut short
        if (random.OneIn(6) && !bytes.empty()) {                            // last bits lost
            const std::size_t keep = random.Below(bytes.size() * 8 + 1);
            for (std::size_t bit = keep; bit < bytes.size() * 8; ++bit) {
                bytes[bit / 8] &= static_cast<uint8_t>(~(0x80u >> (bit % 8)));
            }
        }
    }
    TrackBuffer buffer{};
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    return buffer;
}

std::string Describe(const TrackSettings& s, std::string_view text, const TrackBuffer& input) {
    std::ostringstream out;
    out << "bpc " << int{s.bpc} << " parity " << int{s.parity} << " start 0x" << std::hex
        << int{static_cast<uint8_t>(s.startSentinel)} << " end 0x"
        << int{static_cast<uint8_t>(s.endSentinel)} << "\ntext \"" << text << "\"\ninput "
        << BytesToHexString(Bytes(input.begin(), input.begin() + model::RawLength(input)));
    return out.str();
}

// Encodes text both ways, through the vector and through a buffer of a random capacity; then
// decodes and trims the same stream both ways. Returns false (after a failure) on a difference.
bool SameResults(Random& random, const TrackSettings& s, const std::string& text) {
    const auto expected = model::Encode(text, s);
    if (EncodeTrack(text, s) != expected) {
        ADD_FAILURE() << "EncodeTrack differs\n" << Describe(s, text, {});
        return false;
    }
    // Into a buffer: exactly big enough, generous, or one byte short (refused, nothing written).
    uint8_t out[kMaxTrackBytes + 8];
    std::memset(out, 0xA5, sizeof out);
    const std::size_t needed = expected ? expected->size() : 0;
    std::size_t capacity = kMaxTrackBytes;
    if (random.OneIn(4)) capacity = needed;
    if (random.OneIn(8) && needed > 0) capacity = needed - 1;
    const std::size_t got = EncodeTrackInto(text, s, out, capacity);
    const bool fits = expected && expected->size() <= capacity;
    const std::size_t written = fits ? needed : 0;
    if (got != (fits ? needed : kEncodeFailed) ||
        (fits && !std::equal(expected->begin(), expected->end(), out)) ||
        std::any_of(out + written, out + sizeof out, [](uint8_t b) { return b != 0xA5; })) {
        ADD_FAILURE() << "EncodeTrackInto differs, capacity " << capacity << "\n"
                      << Describe(s, text, {});
        return false;
    }

    const TrackBuffer input = RandomStream(random, s, expected);
    TrackBuffer decoded = input;
    TrackBuffer modelled = input;
    const bool failed = DecodeTrack(decoded, s);
    if (failed != model::Decode(modelled, s) || decoded != modelled) {
        ADD_FAILURE() << "DecodeTrack differs\n" << Describe(s, text, input);
        return false;
    }
    return true;
}

constexpr int kCasesPerFormat = 100'000;

class CodecEquivalence : public ::testing::TestWithParam<int> {};

TEST_P(CodecEquivalence, SameResultsAsTheBitByBitRules) {
    const int bpc = GetParam();
    Random random(0x70117'1C00'0000u + static_cast<uint64_t>(bpc));
    for (int i = 0; i < kCasesPerFormat; ++i) {
        const TrackSettings s = RandomSettings(random, bpc);
        const std::string text = RandomText(random, bpc);
        ASSERT_TRUE(SameResults(random, s, text)) << "case " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Bpc, CodecEquivalence, ::testing::Values(4, 5, 6, 7, 8),
                         [](const auto& info) { return "Bpc" + std::to_string(info.param); });

TEST(CodecEquivalenceOtherBpc, BitsPerCharacterOutsideFourToEight) {
    Random random(0xB9C);
    for (int i = 0; i < 20'000; ++i) {
        const int bpc = static_cast<int>(random.OneIn(2) ? random.Below(4) : 9 + random.Below(247));
        TrackSettings s = RandomSettings(random, 4 + static_cast<int>(random.Below(5)));
        s.bpc = static_cast<uint8_t>(bpc);
        const std::string text = RandomText(random, 7);
        ASSERT_TRUE(SameResults(random, s, text)) << "case " << i;
        ASSERT_EQ(CharacterCode(text.empty() ? 'A' : text[0], bpc),
                  model::CharacterCode(text.empty() ? 'A' : text[0], bpc));
    }
}

TEST(CodecEquivalenceEdges, EndSentinelInTheZerosAfterLongTracks) {
    // Tracks that fill the buffer up to its end, whose end sentinel has the code 0: the search
    // runs into the zero slots after the bits, and the LRC is read from beyond them.
    Random random(0xE0D);
    const TrackSettings zeroEnd[] = {{4, kParityOdd, ';', '0'},  {5, kParityEven, ';', '0'},
                                     {5, kParityNone, ';', '0'}, {6, kParityOdd, '%', ' '},
                                     {7, kParityEven, '%', ' '}, {8, kParityOdd, '%', ' '}};
    for (const TrackSettings& s : zeroEnd) {
        ASSERT_EQ(SentinelCode(s.endSentinel, s), 0);
        for (std::size_t n = 200; n <= kTrackBufferSize; ++n) {
            for (int fill = 0; fill < 4; ++fill) {
                TrackBuffer input{};
                for (std::size_t i = 0; i < n; ++i) {
                    input[i] = static_cast<char>(fill == 0 ? 0xFF : 1 + random.Below(255));
                }
                TrackBuffer decoded = input;
                TrackBuffer modelled = input;
                ASSERT_EQ(DecodeTrack(decoded, s), model::Decode(modelled, s))
                    << Describe(s, "", input);
                ASSERT_EQ(decoded, modelled) << Describe(s, "", input);
            }
        }
    }
}

TEST(CodecEquivalenceRawType, HexTextsReadBytesAndBitReversal) {
    Random random(0x8B17);
    for (int i = 0; i < kCasesPerFormat; ++i) {
        // Hexadecimal texts of any length up to past the limit, digits of either case and
        // characters that are not digits at all.
        std::string hex(random.OneIn(16) ? 500 + random.Below(20) : random.Below(160), '0');
        constexpr std::string_view kDigits = "0123456789ABCDEFabcdef";
        for (char& ch : hex) {
            const uint8_t r = random.Byte();
            ch = r < 16 ? static_cast<char>(random.Byte()) : kDigits[r % kDigits.size()];
        }
        const auto expected = model::EncodeRaw(hex);
        ASSERT_EQ(EncodeRawTrack(hex), expected) << hex;
        uint8_t out[kMaxTrackBytes];
        const std::size_t got = EncodeRawTrackInto(hex, out, sizeof out);
        ASSERT_EQ(got, expected ? expected->size() : kEncodeFailed) << hex;
        if (expected) {
            ASSERT_TRUE(std::equal(expected->begin(), expected->end(), out)) << hex;
        }

        // Read bytes to text: one track, and now and then a whole card.
        const TrackSettings rawSettings{8, 0, '%', '?'};
        const TrackBuffer bytes = RandomStream(random, rawSettings, expected);
        TrackBuffer one = bytes;
        TrackBuffer modelled = bytes;
        ASSERT_EQ(DecodeRawTrack(one), model::DecodeRaw(modelled))
            << Describe(rawSettings, hex, bytes);
        ASSERT_EQ(one, modelled) << Describe(rawSettings, hex, bytes);
        if (random.OneIn(8)) {
            CardTracks card;
            CardTracks cardModelled;
            uint8_t errors = 0;
            for (std::size_t t = 0; t < 3; ++t) {
                card.track[t] = cardModelled.track[t] = RandomStream(random, rawSettings, expected);
                if (model::DecodeRaw(cardModelled.track[t]))
                    errors |= static_cast<uint8_t>(1u << t);
            }
            ASSERT_EQ(DecodeTracks(card, {rawSettings, rawSettings, rawSettings}), errors);
            ASSERT_EQ(card.track, cardModelled.track);
        }

        // Bit reversal of any run of bytes, in place or not.
        const std::size_t n = random.OneIn(16) ? random.Below(bytes.size() + 1) : random.Below(40);
        const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
        uint8_t reversed[kTrackBufferSize];
        ReverseBits(in, reversed, n);
        for (std::size_t k = 0; k < n; ++k) {
            ASSERT_EQ(reversed[k], model::ReverseBits(in[k])) << "byte " << k << " of " << n;
            ASSERT_EQ(ReverseBits(in[k]), reversed[k]);
        }
        ReverseBits(reversed, reversed, n);
        ASSERT_TRUE(std::equal(reversed, reversed + n, in));
    }
}

}  // namespace
}  // namespace tollwick
