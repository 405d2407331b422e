// Bit-level analysis of one track as read: where the start sentinel sits, how the bit stream cuts
// into characters under the track's format, where and why the track fails, and which formats,
// swipe directions and bit polarities decode it.
//
// The analysis is plain data for the command-line tool (which turns it into JSON) and for the
// Inspector window (which draws it); RenderInspection gives readable lines for a terminal.
//
// Suggested JSON per track, with the names the functions below give:
//   {"track": n, "bits": bits, "leading_zero_bits": n, "trailing_zero_bits": n,
//    "characters": [{"index": k, "offset": bitOffset, "bits": CharacterBits(...), "code": code,
//                    "char": text, "parity": ParityVerdictName, "lrc": lrc,
//                    "role": CharacterRoleName}],
//    "failure": {"kind": FailureKindName, "position": position} | null,
//    "candidates": [{"bpc": n, "parity": ParityName, "direction": DirectionName,
//                    "polarity": PolarityName, "text": text}]}
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "carddata/track_format.h"

namespace tollwick {

// Bytes of one track the inspector looks at; more are ignored (a track from the reader holds at
// most 255, a whole read block 1024).
inline constexpr std::size_t kMaxInspectedBytes = 1024;
// Characters a decoded track text may hold, sentinels included (a track buffer less its
// terminator).
inline constexpr int kMaxTrackTextLength = 255;
// Idle bits a candidate needs before its start sentinel, and one without a parity check also after
// its LRC (fewer where the stream begins or ends).
inline constexpr int kGuardBits = 16;

enum class ParityVerdict : uint8_t { kNone, kOk, kBad };  // kNone: the format checks no parity

enum class CharacterRole : uint8_t {
    kStartSentinel,
    kData,
    kEndSentinel,
    kLrc,
    kUnframed,  // no start sentinel was found: characters cut from the first one bit
};

struct InspectedCharacter {
    int bitOffset = 0;  // where the character begins in the bit stream
    int bitCount = 0;   // bits of the stream in it: fewer than bpc where the stream ends (the
                        // missing bits read as zeros, as the program's decode reads them)
    uint8_t code = 0;   // the bpc bits, the first one read in bit 0 (parity bit included)
    char text = 0;      // the text character of the code
    ParityVerdict parity = ParityVerdict::kNone;
    uint8_t lrc = 0;  // running LRC: exclusive-or of the data bits up to this character included
    CharacterRole role = CharacterRole::kData;
};

enum class FailureKind : uint8_t {
    kParity,           // position: the character whose parity is wrong
    kLrc,              // position: the LRC character
    kNoEndSentinel,    // position: the number of characters up to the end of the recorded bits
    kNoStartSentinel,  // position: 0
    kTooLong,          // position: 255, the first character the track text cannot hold
};

struct TrackFailure {
    FailureKind kind = FailureKind::kParity;
    int position = 0;   // character index from the start sentinel (index 0)
    int bitOffset = 0;  // where that character begins in the bit stream

    friend bool operator==(const TrackFailure&, const TrackFailure&) = default;
};

enum class SwipeDirection : uint8_t { kForward, kReversed };  // reversed: the bit stream backwards
enum class BitPolarity : uint8_t { kNormal, kInverted };      // inverted: ones are the idle level

// One way of reading the track that decodes with good parity and LRC.
struct TrackCandidate {
    TrackSettings format;  // bpc, parity (none for 4 and 6 bits), sentinels searched for
    SwipeDirection direction = SwipeDirection::kForward;
    BitPolarity polarity = BitPolarity::kNormal;
    int startBit = 0;  // start sentinel's offset in the stream turned and inverted as read here
    std::string text;  // start sentinel, data, end sentinel, as the program shows a read track
    bool configured = false;  // the track's configured format
    bool iso = false;         // 7 bits odd '%'..'?' or 5 bits odd ';'..'?'
};

struct TrackInspection {
    TrackSettings settings;        // the configured format, as given
    std::string bits;              // '0' and '1' in read order (bit 7 of the first byte first)
    std::size_t ignoredBytes = 0;  // bytes beyond kMaxInspectedBytes, not looked at
    int leadingZeroBits = 0;       // zeros before the first one bit (all bits of a blank stream)
    int trailingZeroBits = 0;      // zeros after the last one bit (0 for a blank stream)
    bool blank = false;       // no one bit at all: nothing recorded, as the program's "{NO DATA}"
    bool formatKnown = true;  // false for a configured bpc outside 4..7 (Raw Type): no cut
    // Characters cut from the start sentinel at the configured bpc, forward, as read.
    int startBit = -1;        // start sentinel's offset, -1 when none was found
    int onesBeforeStart = 0;  // one bits before it (further back than kGuardBits): noise
    std::vector<InspectedCharacter> characters;
    int endSentinelIndex = -1;  // index into characters, -1 when none was found
    int lrcIndex = -1;
    std::optional<TrackFailure> failure;  // nothing when the track decodes
    std::string text;                     // the decoded text when it decodes (sentinels included)
    // Every format, direction and polarity that decodes, best first (see InspectTrack).
    std::vector<TrackCandidate> candidates;
};

// Analyses one track's raw bytes as read (the first bit is bit 7 of the first byte) under its
// configured format.
//
// The start sentinel is searched for at every bit offset where a track can begin: where the
// stream begins or after kGuardBits idle bits (a start sentinel pattern inside other bits is
// chance). Of those, the first from which the whole track decodes is taken, else the first. From
// there the stream is cut into characters up to the LRC (or, without an end sentinel, up to the
// last one bit), and the first failure along it is reported. Without a start sentinel the
// characters are cut from the first one bit. The end sentinel is the first one after the start
// sentinel that begins inside the recorded bits; one whose code is all zeros (such as '0' with
// 4 bits) cannot be told from clocking zeros and also counts at the first character after them,
// where the program's decode finds it.
//
// Candidates: bits per character 5, 7, 4, 6; parity odd, even, none (4 and 6 bits: none); the
// stream forward and reversed; as read and inverted. Sentinels searched for: the configured ones
// for every width of the configured character set (4 and 5 bits, or 6 and 7), and for every
// width the sentinels of the program's data types: ';' for 4 and 5 bits, '%' for 7, '%' and '!'
// (CA DMV) for 6; end sentinel '?'. A candidate is the first start sentinel from which the track
// decodes with at least one data character, good parity and a matching LRC, and kGuardBits idle
// bits before its start sentinel and after its LRC
// (fewer where the stream begins or ends): a short run of bits inside other data decodes by
// chance, and inverting a stream of 5 or 7 bits per character turns odd parity into even. When
// the track decodes under its configured format, that reading is a candidate whatever lies
// around it. A reading without a parity check (4 or 6 bits, or parity none) outside the
// configured format is dropped where a reading with one covers the same recorded bits: it is
// then a shadow of that reading (a 5-bit ISO track also reads as 4 bits from the same start
// sentinel now and then). Ranked: the
// configured format, then the ISO formats, then the rest; within each, forward before reversed,
// as read before inverted (forward as read, reversed as read, forward inverted, reversed
// inverted), then by width 5, 7, 4, 6 and parity odd, even, none. Candidates that give the same
// text from the same bits at the same width are listed once, at the better rank.
TrackInspection InspectTrack(std::span<const uint8_t> raw, const TrackSettings& settings);

// The bits of one character as read ('0'/'1', bitCount of them).
std::string CharacterBits(const TrackInspection& inspection, const InspectedCharacter& character);

std::string_view ParityName(uint8_t parity);  // "odd", "even", "none" (any other code: "none")
std::string_view ParityVerdictName(ParityVerdict verdict);  // "ok", "bad", "none"
std::string_view CharacterRoleName(
    CharacterRole role);                             // "start", "data", "end", "lrc", "unframed"
std::string_view FailureKindName(FailureKind kind);  // "parity", "lrc", "no_end_sentinel", ...
std::string_view DirectionName(SwipeDirection direction);  // "forward", "reversed"
std::string_view PolarityName(BitPolarity polarity);       // "normal", "inverted"

// Where and why a track fails, in words: "the parity of character 8 (bit 40) is wrong".
std::string FailureText(const TrackFailure& failure);

// The analysis as lines for a terminal: the bits grouped per character, one line per character
// with its code, text, parity verdict, running LRC and role, the verdict and the candidates.
std::vector<std::string> RenderInspection(const TrackInspection& inspection, int trackNumber);

}  // namespace tollwick
