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

// Streams in read order: bit k is bit 7 - k % 8 of byte k / 8.
struct Bit {
    static unsigned At(const void* p, std::size_t k) {
        return (static_cast<const uint8_t*>(p)[k / 8] >> (7 - k % 8)) & 1u;
    }
    static void Flip(uint8_t* p, std::size_t k) {
        p[k / 8] ^= static_cast<uint8_t>(0x80u >> (k % 8));
    }
    static uint8_t Reverse(uint8_t b) { return Pack({b}, 8)[0]; }
    // Codes of bpc bits, each from its low bit up, after some zero bits: bytes in read order.
    static Bytes Pack(const Bytes& codes, int bpc, std::size_t leadingZeros = 0) {
        Bytes bytes((leadingZeros + codes.size() * static_cast<std::size_t>(bpc) + 7) / 8, 0);
        std::size_t k = leadingZeros;
        for (uint8_t code : codes) {
            for (int i = 0; i < bpc; ++i, ++k) {
                if ((code >> i) & 1u) Flip(bytes.data(), k);
            }
        }
        return bytes;
    }
};

namespace model {

std::size_t RawLength(const TrackBuffer& buffer) {
    std::size_t n = buffer.size();
    while (n > 0 && buffer[n - 1] == 0) --n;
    return n;
}

// Narrow tracks (below 6 bits) have 4 data bits, wide ones 6; only 5 and 7 carry a parity bit.
uint8_t DataMask(int bpc) {
    return bpc < 6 ? 0x0F : 0x3F;
}
// Odd sets the parity bit on even ones, even on odd ones; any other parity code gives data
// characters and the LRC none, and sentinels the bit on odd ones.
uint8_t WithParity(uint8_t code, int bpc, int parity, bool sentinel = false) {
    const uint8_t bit = bpc == 5 ? 0x10 : bpc == 7 ? 0x40 : 0;
    const bool even = std::popcount(code) % 2 == 0;
    if (parity == kParityOdd) return even ? code | bit : code;
    return (parity == kParityEven || sentinel) && !even ? code | bit : code;
}
uint8_t Code(char ch, int bpc) {
    return static_cast<uint8_t>((static_cast<uint8_t>(ch) - (bpc < 6 ? 0x30 : 0x20)) &
                                DataMask(bpc));
}
uint8_t SentinelCode(char sentinel, const TrackSettings& s) {
    return WithParity(Code(sentinel, s.bpc), s.bpc, s.parity, true);
}

// Written order: least significant bit of each code first, from bit 0 of the first byte up.
std::optional<Bytes> Encode(std::string_view text, const TrackSettings& s) {
    if (text.empty()) return Bytes{};
    const int bpc = s.bpc;
    if (text.size() + 3 > 255 || bpc < 4 || bpc > 8) return std::nullopt;
    Bytes codes = {model::SentinelCode(s.startSentinel, s)};
    for (char ch : text) codes.push_back(WithParity(Code(ch, bpc), bpc, s.parity));
    codes.push_back(model::SentinelCode(s.endSentinel, s));
    uint8_t lrc = 0;
    for (uint8_t code : codes) lrc ^= code & DataMask(bpc);
    codes.push_back(WithParity(lrc, bpc, s.parity));
    Bytes bytes = Bit::Pack(codes, bpc);
    for (uint8_t& b : bytes) b = Bit::Reverse(b);
    return bytes;
}

void SetText(TrackBuffer& buffer, std::string_view text) {
    buffer.fill(0);
    std::memcpy(buffer.data(), text.data(), text.size());
}

bool Decode(TrackBuffer& buffer, const TrackSettings& s) {
    const std::size_t bits = RawLength(buffer) * 8;
    const int bpc = s.bpc;
    if (bits > 0 && (bpc < 4 || bpc > 8)) return true;
    const auto perChar = static_cast<std::size_t>(bpc);
    if (bits == 0 || bits / perChar == 0) {
        SetText(buffer, kNoDataText);
        return false;
    }
    // Characters of bpc bits, each from its low bit up; the slots after the bits stay zero.
    uint8_t area[kTrackBufferSize * 2 + 2] = {};
    for (std::size_t k = 0; k < bits; ++k)
        area[k / perChar] |= static_cast<uint8_t>(Bit::At(buffer.data(), k) << (k % perChar));
    // The end sentinel is searched through the character the bits end in and one more.
    const std::size_t searched = (bits + perChar - 1) / perChar + 1;
    const auto found = static_cast<std::size_t>(
        std::find(area, area + searched, model::SentinelCode(s.endSentinel, s)) - area);
    if (found == searched || found + 1 > kTrackBufferSize - 1) return true;

    const bool narrow = bpc <= 5;
    const uint8_t checked = narrow ? 0x1F : 0x7F;
    const bool checkParity = (bpc == 5 || bpc == 7) && s.parity <= kParityEven;
    uint8_t lrc = 0;
    std::string text;
    for (std::size_t i = 0; i < found + 2; ++i) {  // up to the end sentinel, and the LRC
        lrc ^= area[i] & DataMask(bpc);
        const bool even = std::popcount(static_cast<uint8_t>(area[i] & checked)) % 2 == 0;
        if (checkParity && (s.parity == kParityOdd ? even : !even)) return true;
        text += static_cast<char>((area[i] & DataMask(bpc)) + (narrow ? 0x30 : 0x20));
    }
    if (lrc != 0) return true;
    const std::size_t at = text.find(s.endSentinel);
    SetText(buffer, text.substr(0, at == std::string::npos ? found + 1 : at + 1));
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

TrackSettings RandomSettings(Random& random, int bpc) {
    TrackSettings s;
    s.bpc = static_cast<uint8_t>(bpc);
    // Odd, even, none, and now and then a code outside the list.
    s.parity = static_cast<uint8_t>(random.OneIn(8) ? 3 + random.Below(253) : random.Below(3));
    s.startSentinel =
        random.OneIn(16) ? static_cast<char>(random.Byte()) : random.Pick(StartSentinelList(bpc));
    // The end lists, '~' (outside the wide alphabet) more often, and any byte at all.
    const std::size_t pick = random.Below(16);
    s.endSentinel = pick == 0   ? static_cast<char>(random.Byte())
                    : pick <= 2 ? '~'
                                : random.Pick(EndSentinelList(bpc));
    return s;
}

constexpr std::string_view kWideAlphabet =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";

// Texts of the track's alphabet, some around the 252-character limit, some with any bytes.
std::string RandomText(Random& random, int bpc) {
    std::string text(random.OneIn(16) ? 240 + random.Below(20) : random.Below(110), ' ');
    const bool anyByte = random.OneIn(8);
    for (char& ch : text) {
        ch = anyByte && random.OneIn(4) ? static_cast<char>(random.Byte())
                                        : random.Pick(bpc < 6 ? kNarrowAlphabet : kWideAlphabet);
    }
    return text;
}

// A bit stream for the decoder: a good track, a stream of chosen codes, random bytes or mostly
// zeros, then perhaps damaged, cut short or ended with zero bytes.
TrackBuffer RandomStream(Random& random, const TrackSettings& s,
                         const std::optional<Bytes>& written) {
    Bytes bytes;
    const int bpc = std::clamp<int>(s.bpc, 1, 8);
    switch (random.Below(5)) {
        case 0:
        case 1:  // a written track as read back (its bytes as codes of 8), perhaps after zeros
            if (written) bytes = Bit::Pack(*written, 8, random.OneIn(4) ? 1 + random.Below(15) : 0);
            break;
        case 2: {  // codes with the end sentinel somewhere, often late, parity right or not
            const std::size_t endAt = random.OneIn(4) ? 240 + random.Below(40) : random.Below(120);
            const uint8_t endCode = model::SentinelCode(s.endSentinel, s);
            const auto codeMask = static_cast<uint8_t>((1u << bpc) - 1);
            Bytes codes;
            uint8_t lrc = 0;
            for (std::size_t i = 0; i < endAt; ++i) {
                auto code = static_cast<uint8_t>(random.Byte() & codeMask);
                if (!random.OneIn(8))
                    code = model::WithParity(code & model::DataMask(bpc), bpc, s.parity);
                if (code == endCode && !random.OneIn(4)) code ^= 1;
                lrc ^= code & model::DataMask(bpc);
                codes.push_back(code);
            }
            codes.push_back(endCode);
            lrc ^= endCode & model::DataMask(bpc);
            if (!random.OneIn(3)) codes.push_back(model::WithParity(lrc, bpc, s.parity));
            for (std::size_t i = random.Below(4); i > 0; --i)
                codes.push_back(random.Byte() & codeMask);
            bytes = Bit::Pack(codes, bpc, random.OneIn(4) ? random.Below(8) : 0);
            break;
        }
        case 3:  // random bytes, up to a full buffer with no zero at its end
            bytes.resize(random.OneIn(16)  ? 256
                         : random.OneIn(8) ? random.Below(257)
                                           : random.Below(80));
            for (uint8_t& b : bytes) b = random.Byte();
            break;
        default:  // mostly zeros: codes of 0 (and sentinels whose code is 0) everywhere
            bytes.resize(1 + (random.OneIn(4) ? random.Below(256) : random.Below(40)), 0);
            for (std::size_t i = random.Below(6); i > 0; --i)
                Bit::Flip(bytes.data(), random.Below(bytes.size() * 8));
            break;
    }
    if (bytes.size() > kTrackBufferSize) bytes.resize(kTrackBufferSize);
    if (!bytes.empty()) {
        for (std::size_t i = random.OneIn(4) ? 1 + random.Below(3) : 0; i > 0; --i)
            Bit::Flip(bytes.data(), random.Below(bytes.size() * 8));        // damage
        if (random.OneIn(6)) bytes.resize(random.Below(bytes.size() + 1));  // cut short
        if (random.OneIn(6) && !bytes.empty()) {                            // last bits lost
            for (std::size_t k = random.Below(bytes.size() * 8 + 1); k < bytes.size() * 8; ++k) {
                if (Bit::At(bytes.data(), k)) Bit::Flip(bytes.data(), k);
            }
        }
    }
    TrackBuffer buffer{};
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    return buffer;
}

std::string Describe(const TrackSettings& s, std::string_view text, const TrackBuffer& input) {
    std::ostringstream out;
    out << "bpc " << int{s.bpc} << " parity " << int{s.parity} << " sentinels 0x" << std::hex
        << int{static_cast<uint8_t>(s.startSentinel)} << " 0x"
        << int{static_cast<uint8_t>(s.endSentinel)} << "\ntext \"" << text << "\"\ninput "
        << BytesToHexString(Bytes(input.begin(), input.begin() + model::RawLength(input)));
    return out.str();
}

// Encodes text both ways, through the vector and through a buffer of a random capacity; then
// decodes the same stream both ways. The first difference, or nothing.
std::string Differences(Random& random, const TrackSettings& s, const std::string& text) {
    const auto expected = model::Encode(text, s);
    if (EncodeTrack(text, s) != expected) return "EncodeTrack differs\n" + Describe(s, text, {});
    // Into a buffer: exactly big enough, generous, or one byte short (refused, nothing written).
    uint8_t out[kMaxTrackBytes + 8];
    std::memset(out, 0xA5, sizeof out);
    const std::size_t needed = expected ? expected->size() : 0;
    std::size_t capacity = random.OneIn(4) ? needed : kMaxTrackBytes;
    if (random.OneIn(8) && needed > 0) capacity = needed - 1;
    const bool fits = expected && needed <= capacity;
    if (EncodeTrackInto(text, s, out, capacity) != (fits ? needed : kEncodeFailed) ||
        (fits && !std::equal(expected->begin(), expected->end(), out)) ||
        std::any_of(out + (fits ? needed : 0), std::end(out),
                    [](uint8_t b) { return b != 0xA5; })) {
        return "EncodeTrackInto differs, capacity " + std::to_string(capacity) + "\n" +
               Describe(s, text, {});
    }
    const TrackBuffer input = RandomStream(random, s, expected);
    TrackBuffer decoded = input;
    TrackBuffer modelled = input;
    const bool failed = DecodeTrack(decoded, s) == TrackDecode::kFailed;
    if (failed == model::Decode(modelled, s) && decoded == modelled) return "";
    return "DecodeTrack differs\n" + Describe(s, text, input);
}

constexpr int kCasesPerFormat = 100'000;

// Each width the table knows, and (0) widths outside 4..8, the first one past the table often.
class CodecEquivalence : public ::testing::TestWithParam<int> {};

TEST_P(CodecEquivalence, SameResultsAsTheBitByBitRules) {
    Random random(0x70117'1C00'0000u + static_cast<uint64_t>(GetParam()));
    for (int i = 0; i < (GetParam() ? kCasesPerFormat : 20'000); ++i) {
        int bpc = GetParam();
        TrackSettings s = RandomSettings(random, bpc ? bpc : 4 + static_cast<int>(random.Below(5)));
        if (bpc == 0) {
            bpc = static_cast<int>(random.OneIn(2)   ? random.Below(4)
                                   : random.OneIn(4) ? 9
                                                     : 9 + random.Below(247));
            s.bpc = static_cast<uint8_t>(bpc);
        }
        const std::string text = RandomText(random, GetParam() ? bpc : 7);
        ASSERT_EQ(Differences(random, s, text), "") << "case " << i;
        const char first = text.empty() ? 'A' : text[0];
        ASSERT_EQ(CharacterCode(first, bpc), model::Code(first, bpc));
    }
}

INSTANTIATE_TEST_SUITE_P(Bpc, CodecEquivalence, ::testing::Values(0, 4, 5, 6, 7, 8),
                         [](const auto& info) { return "Bpc" + std::to_string(info.param); });

}  // namespace
}  // namespace tollwick
