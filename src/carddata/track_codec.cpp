#include "carddata/track_codec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "carddata/hex.h"

namespace tollwick {
namespace {

constexpr uint8_t kEsc = 0x1B;

// ---- Bytes as 64-bit little-endian words ----------------------------------------------------

[[maybe_unused]] constexpr uint64_t SwapBytes(uint64_t v) {
    uint64_t out = 0;
    for (int i = 0; i < 8; ++i) out = (out << 8) | ((v >> (8 * i)) & 0xFF);
    return out;
}

uint64_t LoadLittleEndian(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = SwapBytes(v);
    return v;
}

void StoreLittleEndian(uint8_t* p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) v = SwapBytes(v);
    std::memcpy(p, &v, sizeof v);
}

// Bit 7 of each of the eight bytes becomes bit 0, bit 6 bit 1, and so on.
constexpr uint64_t ReverseBitsOfEachByte(uint64_t v) {
    v = ((v >> 1) & 0x5555555555555555u) | ((v & 0x5555555555555555u) << 1);
    v = ((v >> 2) & 0x3333333333333333u) | ((v & 0x3333333333333333u) << 2);
    return ((v >> 4) & 0x0F0F0F0F0F0F0F0Fu) | ((v & 0x0F0F0F0F0F0F0F0Fu) << 4);
}

constexpr std::array<uint8_t, 256> kReversedByte = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) table[b] = static_cast<uint8_t>(ReverseBitsOfEachByte(b));
    return table;
}();

// Value of a hexadecimal digit of either case; every other character reads as 'F'.
constexpr std::array<uint8_t, 256> kDigitValue = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned ch = 0; ch < 256; ++ch) {
        uint8_t value = 15;
        if (ch >= '0' && ch <= '9') value = static_cast<uint8_t>(ch - '0');
        if (ch >= 'A' && ch <= 'F') value = static_cast<uint8_t>(ch - 'A' + 10);
        if (ch >= 'a' && ch <= 'f') value = static_cast<uint8_t>(ch - 'a' + 10);
        table[ch] = value;
    }
    return table;
}();

// ---- Character tables -----------------------------------------------------------------------
//
// Tracks below 6 bits per character use the narrow alphabet ('0' = code 0, 4 data bits, parity
// bit 0x10 with 5 bits), the others the wide one (' ' = code 0, 6 data bits, parity bit 0x40
// with 7 bits).

struct CharacterClass {
    uint8_t base;       // text character of code 0
    uint8_t dataMask;   // data bits of a code
    uint8_t parityBit;  // parity bit of a code, with 5 or 7 bits per character
    uint8_t checkMask;  // bits whose ones a read check counts: the data bits and the parity bit
};
constexpr CharacterClass kNarrow{0x30, 0x0F, 0x10, 0x1F};
constexpr CharacterClass kWide{0x20, 0x3F, 0x40, 0x7F};

constexpr const CharacterClass& ClassOf(int bpc) {
    return bpc < 6 ? kNarrow : kWide;
}

constexpr bool HasParityBit(int bpc) {
    return bpc == 5 || bpc == 7;
}

constexpr bool EvenOnes(unsigned v) {
    return std::popcount(v) % 2 == 0;
}

// How a written code gets its parity bit: never; when its ones are even (odd parity); when they
// are odd (even parity).
enum ParityBitRule : uint8_t { kNoBit, kBitWhenEven, kBitWhenOdd, kBitRules };

// Data characters and the LRC: odd parity sets the bit when the ones are even, even parity
// when they are odd, and any other code adds nothing. With 4, 6 or 8 bits per character there
// is no parity bit.
constexpr ParityBitRule DataRule(const TrackSettings& s) {
    if (!HasParityBit(s.bpc)) return kNoBit;
    if (s.parity == kParityOdd) return kBitWhenEven;
    if (s.parity == kParityEven) return kBitWhenOdd;
    return kNoBit;
}

// Sentinels follow the data rule, except that with no parity they still get a bit when their
// ones are odd: that is how the reader's own format writes them.
constexpr ParityBitRule SentinelRule(const TrackSettings& s) {
    if (!HasParityBit(s.bpc)) return kNoBit;
    return s.parity == kParityOdd ? kBitWhenEven : kBitWhenOdd;
}

// Written code of every byte value as a text character, by class and parity-bit rule.
using CodeTable = std::array<uint8_t, 256>;
constexpr CodeTable MakeCodeTable(const CharacterClass& c, ParityBitRule rule) {
    CodeTable table{};
    for (unsigned ch = 0; ch < 256; ++ch) {
        uint8_t code = static_cast<uint8_t>((ch - c.base) & c.dataMask);
        const bool even = EvenOnes(code);
        if ((rule == kBitWhenEven && even) || (rule == kBitWhenOdd && !even)) code |= c.parityBit;
        table[ch] = code;
    }
    return table;
}
constexpr std::array<std::array<CodeTable, kBitRules>, 2> kCodeTables = {{
    {MakeCodeTable(kNarrow, kNoBit), MakeCodeTable(kNarrow, kBitWhenEven),
     MakeCodeTable(kNarrow, kBitWhenOdd)},
    {MakeCodeTable(kWide, kNoBit), MakeCodeTable(kWide, kBitWhenEven),
     MakeCodeTable(kWide, kBitWhenOdd)},
}};

const CodeTable& CodeTableOf(int bpc, ParityBitRule rule) {
    return kCodeTables[bpc < 6 ? 0 : 1][rule];
}

// Text character of every read code, and whether it fails the read check, by class and check:
// none, an odd number of ones required (odd parity), an even number required (even parity).
enum ReadCheck : uint8_t { kNoCheck, kOddOnes, kEvenOnes, kReadChecks };
constexpr uint16_t kParityFailed = 0x100;  // above the text character
using TextTable = std::array<uint16_t, 256>;
constexpr TextTable MakeTextTable(const CharacterClass& c, ReadCheck check) {
    TextTable table{};
    for (unsigned code = 0; code < 256; ++code) {
        const bool even = EvenOnes(code & c.checkMask);
        const bool failed = (check == kOddOnes && even) || (check == kEvenOnes && !even);
        table[code] =
            static_cast<uint16_t>(((code & c.dataMask) + c.base) | (failed ? kParityFailed : 0));
    }
    return table;
}
constexpr std::array<std::array<TextTable, kReadChecks>, 2> kTextTables = {{
    {MakeTextTable(kNarrow, kNoCheck), MakeTextTable(kNarrow, kOddOnes),
     MakeTextTable(kNarrow, kEvenOnes)},
    {MakeTextTable(kWide, kNoCheck), MakeTextTable(kWide, kOddOnes),
     MakeTextTable(kWide, kEvenOnes)},
}};

// Only tracks with a parity bit are checked, and only for odd and even parity.
const TextTable& TextTableOf(const TrackSettings& s) {
    ReadCheck check = kNoCheck;
    if (HasParityBit(s.bpc) && s.parity == kParityOdd) check = kOddOnes;
    if (HasParityBit(s.bpc) && s.parity == kParityEven) check = kEvenOnes;
    return kTextTables[s.bpc < 6 ? 0 : 1][check];
}

// ---- Encoding -------------------------------------------------------------------------------

// Writes the low N bytes of v, least significant first.
template <unsigned N>
void StoreLowBytes(uint8_t* p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) v = SwapBytes(v);
    std::memcpy(p, &v, N);
}

// Writes the codes of a track: chars holds the start sentinel, the text and the end sentinel
// (count - 1 characters, then zeros up to a group of eight), and each gets its code from the
// data table, Bpc bits least significant bit first, into exactly (count * Bpc + 7) / 8 bytes of
// out. The two sentinels are then corrected by exclusive-or to their sentinel codes, and the
// LRC is formed from the exclusive-or of the codes and written after them. Eight codes make
// exactly Bpc bytes: each group of eight is gathered in a 64-bit accumulator, one code at a
// time.
template <unsigned Bpc>
void PackTrack(const uint8_t* chars, std::size_t count, const CodeTable& data,
               const CodeTable& sentinels, const CharacterClass& c, uint8_t* out) {
    const std::size_t groups = (count + 7) / 8;
    const std::size_t endSlot = count - 2;
    const std::size_t lrcSlot = count - 1;
    const auto fix = [&](uint8_t ch) { return static_cast<uint64_t>(data[ch] ^ sentinels[ch]); };
    const uint64_t startFix = fix(chars[0]);
    const uint64_t endFix = fix(chars[endSlot]) << (endSlot % 8 * Bpc);
    uint64_t columns = 0;  // exclusive-or of the groups: each code position's column
    for (std::size_t group = 0;; ++group, chars += 8, out += Bpc) {
        uint64_t accumulator = 0;
        for (unsigned j = 0; j < 8; ++j) accumulator |= uint64_t{data[chars[j]]} << (j * Bpc);
        if (group == 0) accumulator ^= startFix;
        if (group == endSlot / 8) accumulator ^= endFix;
        if (group + 1 < groups) {
            columns ^= accumulator;
            StoreLowBytes<Bpc>(out, accumulator);
            continue;
        }
        // The last group ends with the LRC: nothing counts from its place on.
        accumulator &= (uint64_t{1} << (lrcSlot % 8 * Bpc)) - 1;
        // Fold the eight columns into one code: the exclusive-or of every code so far.
        columns ^= accumulator;
        columns ^= columns >> (4 * Bpc);
        columns ^= columns >> (2 * Bpc);
        columns ^= columns >> Bpc;
        const uint8_t lrc = data[(columns & c.dataMask) + c.base];
        accumulator |= uint64_t{lrc} << (lrcSlot % 8 * Bpc);
        const std::size_t bytes = ((lrcSlot % 8 + 1) * Bpc + 7) / 8;
        for (std::size_t i = 0; i < bytes; ++i) {
            out[i] = static_cast<uint8_t>(accumulator >> (8 * i));
        }
        return;
    }
}

// ---- Decoding -------------------------------------------------------------------------------

struct Scan {
    std::size_t found;  // position of the end sentinel, or kNotFound
    uint32_t lrc;       // exclusive-or of the codes up to the end sentinel and the one after it
    uint32_t flags;     // kParityFailed when one of those codes failed its check
};
constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// Eight bytes of a track in read order (first bit in bit 7), as 64 bits in stream order (first
// bit in bit 0).
uint64_t LoadStreamBits(const uint8_t* raw) {
    return ReverseBitsOfEachByte(LoadLittleEndian(raw));
}

// One pass over the characters of a track: finds the first code equal to endCode below limit,
// converts every code up to it to text and folds it and the code after it (the LRC) into the
// exclusive-or and the check flags. Eight codes fill Bpc bytes: each group of eight is loaded
// into a 64-bit accumulator, which gives up one code at a time. raw holds the track in read
// order and must be readable, and zero after the track, up to nine bytes past its raw length.
template <unsigned Bpc>
Scan ScanCharacters(const uint8_t* raw, std::size_t limit, unsigned endCode, const TextTable& table,
                    char* text) {
    constexpr uint64_t kCodeMask = (uint64_t{1} << Bpc) - 1;
    uint32_t lrc = 0;
    uint32_t flags = 0;
    for (std::size_t group = 0; group * 8 < limit; ++group) {
        uint64_t accumulator = LoadStreamBits(raw + group * Bpc);
        for (unsigned j = 0; j < 8; ++j, accumulator >>= Bpc) {
            const auto code = static_cast<unsigned>(accumulator & kCodeMask);
            const uint16_t entry = table[code];
            text[group * 8 + j] = static_cast<char>(entry);
            flags |= entry;
            lrc ^= code;
            if (code == endCode) {
                const std::size_t found = group * 8 + j;
                if (found >= limit) return {kNotFound, 0, 0};
                const std::size_t next = (found + 1) * Bpc;
                const auto lrcCode = static_cast<unsigned>(
                    (LoadStreamBits(raw + next / 8) >> (next % 8)) & kCodeMask);
                return {found, lrc ^ lrcCode, flags | table[lrcCode]};
            }
        }
    }
    return {kNotFound, 0, 0};
}

Scan ScanCharacters(unsigned bpc, const uint8_t* raw, std::size_t limit, unsigned endCode,
                    const TextTable& table, char* text) {
    switch (bpc) {
        case 4:
            return ScanCharacters<4>(raw, limit, endCode, table, text);
        case 5:
            return ScanCharacters<5>(raw, limit, endCode, table, text);
        case 6:
            return ScanCharacters<6>(raw, limit, endCode, table, text);
        case 7:
            return ScanCharacters<7>(raw, limit, endCode, table, text);
        default:
            return ScanCharacters<8>(raw, limit, endCode, table, text);
    }
}

void SetText(TrackBuffer& buffer, const char* text, std::size_t length) {
    std::memcpy(buffer.data(), text, length);
    std::memset(buffer.data() + length, 0, buffer.size() - length);
}

}  // namespace

uint8_t ReverseBits(uint8_t byte) {
    return kReversedByte[byte];
}

void ReverseBits(const uint8_t* in, uint8_t* out, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        StoreLittleEndian(out + i, ReverseBitsOfEachByte(LoadLittleEndian(in + i)));
    }
    for (; i < n; ++i) out[i] = kReversedByte[in[i]];
}

uint8_t CharacterCode(char ch, int bpc) {
    return CodeTableOf(bpc, kNoBit)[static_cast<uint8_t>(ch)];
}

uint8_t SentinelCode(char sentinel, const TrackSettings& settings) {
    return CodeTableOf(settings.bpc, SentinelRule(settings))[static_cast<uint8_t>(sentinel)];
}

std::size_t EncodeTrackInto(std::string_view text, const TrackSettings& settings, uint8_t* out,
                            std::size_t capacity) {
    if (text.empty()) return 0;
    if (text.size() + 3 > kMaxEncodedCharacters) return kEncodeFailed;
    const unsigned bpc = settings.bpc;
    if (bpc < 4 || bpc > 8) return kEncodeFailed;
    const std::size_t count = text.size() + 3;
    const std::size_t length = (count * bpc + 7) / 8;
    if (length > capacity) return kEncodeFailed;

    // Start sentinel, text, end sentinel, then zeros (the LRC's place) up to a group of eight.
    uint8_t chars[kMaxEncodedCharacters + 8];
    chars[0] = static_cast<uint8_t>(settings.startSentinel);
    std::memcpy(chars + 1, text.data(), text.size());
    chars[count - 2] = static_cast<uint8_t>(settings.endSentinel);
    std::memset(chars + count - 1, 0, 8);

    const CodeTable& data = CodeTableOf(static_cast<int>(bpc), DataRule(settings));
    const CodeTable& sentinels = CodeTableOf(static_cast<int>(bpc), SentinelRule(settings));
    const CharacterClass& c = ClassOf(static_cast<int>(bpc));
    switch (bpc) {
        case 4:
            PackTrack<4>(chars, count, data, sentinels, c, out);
            break;
        case 5:
            PackTrack<5>(chars, count, data, sentinels, c, out);
            break;
        case 6:
            PackTrack<6>(chars, count, data, sentinels, c, out);
            break;
        case 7:
            PackTrack<7>(chars, count, data, sentinels, c, out);
            break;
        default:
            PackTrack<8>(chars, count, data, sentinels, c, out);
            break;
    }
    return length;
}

std::optional<std::vector<uint8_t>> EncodeTrack(std::string_view text,
                                                const TrackSettings& settings) {
    uint8_t bytes[kMaxTrackBytes];
    const std::size_t length = EncodeTrackInto(text, settings, bytes, sizeof bytes);
    if (length == kEncodeFailed) return std::nullopt;
    return std::vector<uint8_t>(bytes, bytes + length);
}

std::size_t EncodeRawTrackInto(std::string_view hexText, uint8_t* out, std::size_t capacity) {
    const std::size_t count = hexText.size() / 2;
    if (count > kMaxTrackBytes || count > capacity) return kEncodeFailed;
    auto byteAt = [hexText](std::size_t i) {
        return static_cast<uint8_t>(kDigitValue[static_cast<uint8_t>(hexText[2 * i])] << 4 |
                                    kDigitValue[static_cast<uint8_t>(hexText[2 * i + 1])]);
    };
    // Eight bytes at a time gathered in a word, their bit order reversed together.
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t word = 0;
        for (unsigned j = 0; j < 8; ++j) word |= uint64_t{byteAt(i + j)} << (8 * j);
        StoreLittleEndian(out + i, ReverseBitsOfEachByte(word));
    }
    for (; i < count; ++i) out[i] = kReversedByte[byteAt(i)];
    return count;
}

std::optional<std::vector<uint8_t>> EncodeRawTrack(std::string_view hexText) {
    uint8_t bytes[kMaxTrackBytes];
    const std::size_t length = EncodeRawTrackInto(hexText, bytes, sizeof bytes);
    if (length == kEncodeFailed) return std::nullopt;
    return std::vector<uint8_t>(bytes, bytes + length);
}

TrackDecode DecodeRawTrack(TrackBuffer& buffer) {
    const std::size_t n = RawLength(buffer);
    if (2 * n + 1 > buffer.size()) return TrackDecode::kFailed;
    uint8_t raw[kTrackBufferSize];
    std::memcpy(raw, buffer.data(), n);
    BytesToHex(raw, static_cast<int>(n), buffer.data());
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(2 * n), buffer.end(), 0);
    return TrackDecode::kDecoded;
}

TrackDecode DecodeTrack(TrackBuffer& buffer, const TrackSettings& settings) {
    const std::size_t n = RawLength(buffer);
    if (n == 0) {
        SetText(buffer, kNoDataText.data(), kNoDataText.size());
        return TrackDecode::kDecoded;
    }
    const unsigned bpc = settings.bpc;
    if (bpc < 4 || bpc > 8) return TrackDecode::kFailed;

    // The scan reads up to nine bytes past the track's bytes, which must read as zero bits; the
    // buffer holds zeros after them, but a long track needs a copy with room after it.
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(buffer.data());
    uint8_t padded[kTrackBufferSize + 8];
    if (n + 9 > kTrackBufferSize) {
        std::memcpy(padded, buffer.data(), kTrackBufferSize);
        std::memset(padded + kTrackBufferSize, 0, 8);
        raw = padded;
    }

    // Only complete characters are received, but the buffer loses the track's trailing zero
    // bytes, and with them the zero bits that may end the end sentinel or the LRC: the search
    // runs on through the character the received bits end in and one more, which read as zero
    // past the bits. The text runs up to the end sentinel and must fit the buffer, so the
    // sentinel is found below position 255; the LRC follows it.
    const std::size_t totalBits = n * 8;
    const std::size_t searched = (totalBits + bpc - 1) / bpc + 1;
    const std::size_t limit = std::min(searched, kTrackBufferSize - 1);
    const TextTable& table = TextTableOf(settings);
    char text[kTrackBufferSize];
    const Scan scan =
        ScanCharacters(bpc, raw, limit, SentinelCode(settings.endSentinel, settings), table, text);
    if (scan.found == kNotFound) return TrackDecode::kFailed;
    if ((scan.flags & kParityFailed) || (scan.lrc & ClassOf(static_cast<int>(bpc)).dataMask)) {
        return TrackDecode::kFailed;
    }

    // End the text after the first end-sentinel character; a sentinel outside the track's
    // alphabet never appears as itself, so the found position ends it then.
    const void* end = std::memchr(text, settings.endSentinel, scan.found + 1);
    const std::size_t length =
        end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) + 1 : scan.found + 1;
    SetText(buffer, text, length);
    return TrackDecode::kDecoded;
}

uint8_t DecodeTracks(CardTracks& card, const TrackSet& settings) {
    uint8_t errors = 0;
    const bool raw = IsRawTrackSet(settings);
    for (int t = 0; t < 3; ++t) {
        const TrackDecode decoded = raw ? DecodeRawTrack(card.track[static_cast<std::size_t>(t)])
                                        : DecodeTrack(card.track[static_cast<std::size_t>(t)],
                                                      settings[static_cast<std::size_t>(t)]);
        if (decoded == TrackDecode::kFailed) errors |= static_cast<uint8_t>(1u << t);
    }
    card.trackErrors = errors;
    return errors;
}

SplitResult SplitReadBlock(const uint8_t* block, std::size_t n, CardTracks& card,
                           TrackLengths* lengths) {
    if (n < 2 || block[0] != kEsc || block[1] != 's') return SplitResult::kBadHeader;
    for (auto& buffer : card.track) buffer.fill(0);
    if (lengths != nullptr) lengths->fill(0);
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
            if (lengths != nullptr) (*lengths)[static_cast<std::size_t>(number - 1)] = available;
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

std::vector<uint8_t> BuildReadBlock(const TrackBytes& tracks) {
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
