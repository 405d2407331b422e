// Bit-level analysis of one track as read: why the program's decode of it succeeds or fails, in
// words an operator can act on, and which formats, swipe directions and bit polarities decode it.
//
// The verdict is the program's own: InspectTrack runs DecodeTrack (DecodeRawTrack for raw bytes)
// on the bytes and takes its result and text as they are. Everything else is explanation: where
// the decode fails, stray bits before the start sentinel, a wrong bit or a bit slip located by the
// parity and LRC checks (with the reading it repairs, marked as a repair), a swipe that ended
// early, a track weak all over, and the readings in other formats, directions and polarities.
//
// The analysis is plain data for the command-line tool (which turns it into JSON) and for the
// Inspector window (which draws it); RenderInspection gives readable lines for a terminal.
//
// Suggested JSON per track, with the names the functions below give:
//   {"track": n, "verdict": "good"|"fails"|"blank", "text": decoded text | null,
//    "explanation": ExplanationText, "finding": FindingName,
//    "bits": bits, "leading_zero_bits": n, "trailing_zero_bits": n, "start_bit": n | null,
//    "characters": [{"index": k, "offset": bitOffset, "bits": CharacterBits(...), "code": code,
//                    "char": text, "parity": ParityVerdictName, "lrc": lrc,
//                    "role": CharacterRoleName}],
//    "failure": {"kind": FailureKindName, "position": position, "bit": bitOffset} | null,
//    "repair": {"kind": RepairKindName, "bit": bit, "character": k, "text": text} | null,
//    "candidates": [{"bpc": n, "parity": ParityName, "direction": DirectionName,
//                    "polarity": PolarityName, "checked": bool, "text": text}]}
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

// Bytes of one track the inspector looks at: what a track buffer holds and the program's decode
// reads (255); more are ignored.
inline constexpr std::size_t kMaxInspectedBytes = kTrackBufferSize - 1;
// Characters a decoded track text may hold, sentinels included (a track buffer less its
// terminator).
inline constexpr int kMaxTrackTextLength = 255;
// Idle bits that mark where a track can begin or has ended: a start sentinel pattern with ones
// right before it, or a frame with ones right after it, is inside other bits.
inline constexpr int kGuardBits = 16;
// One bits before a start sentinel that still count as stray bits (a dirty head, a scratch)
// rather than data: more than this is a recording, not noise.
inline constexpr int kMaxStrayOnes = 8;

enum class ParityVerdict : uint8_t { kNone, kOk, kBad };  // kNone: the format checks no parity

enum class CharacterRole : uint8_t {
    kStartSentinel,
    kData,
    kEndSentinel,
    kLrc,
    kUnframed,  // the read does not begin with the start sentinel and none was found after it
};

struct InspectedCharacter {
    int bitOffset = 0;  // where the character begins in the bit stream
    int bitCount = 0;   // bits of the stream in it: fewer than bpc where the stream ends (the
                        // missing bits read as zeros, as the program's decode reads them)
    uint8_t code = 0;   // the bpc bits, the first one read in bit 0 (parity bit included)
    char text = 0;      // the text character of the code ('*' where an account number is masked)
    ParityVerdict parity = ParityVerdict::kNone;
    uint8_t lrc = 0;  // running LRC: exclusive-or of the data bits up to this character included
    CharacterRole role = CharacterRole::kData;
    bool masked = false;  // part of an account number, masked (MaskAccountNumbers)
};

// Where the program's decode fails, as it cuts the track: from bit 0, bpc bits per character.
enum class FailureKind : uint8_t {
    kParity,         // position: the first character (up to the LRC) whose parity is wrong
    kLrc,            // position: the LRC character
    kNoEndSentinel,  // position: the characters searched
    kTooLong,        // position: 255, the first character the track text cannot hold
};

struct TrackFailure {
    FailureKind kind = FailureKind::kParity;
    int position = 0;   // character index from bit 0
    int bitOffset = 0;  // where that character begins in the bit stream

    friend bool operator==(const TrackFailure&, const TrackFailure&) = default;
};

enum class SwipeDirection : uint8_t { kForward, kReversed };  // reversed: the bit stream backwards
enum class BitPolarity : uint8_t { kNormal, kInverted };      // inverted: ones are the idle level

// One way of reading the track that decodes with a matching LRC (and good parity where the
// format has a parity bit).
struct TrackCandidate {
    TrackSettings format;  // bpc, parity (none for 4 and 6 bits), sentinels searched for
    SwipeDirection direction = SwipeDirection::kForward;
    BitPolarity polarity = BitPolarity::kNormal;
    int startBit = 0;  // start sentinel's offset in the stream turned and inverted as read here
    std::string text;  // start sentinel, data, end sentinel, as the program shows a read track
    bool configured = false;  // the track's configured format
    bool iso = false;         // 7 bits odd '%'..'?' or 5 bits odd ';'..'?'
    bool checked = false;     // the format has a parity bit: a reading without one is weak
};

// What explains the read, most telling first (see InspectTrack).
enum class Finding : uint8_t {
    kDecodes,       // the read decodes (also a blank track and raw bytes)
    kStrayBits,     // fails: stray one bits before the start sentinel, the frame after them good
    kBitError,      // fails: one wrong bit, located by parity and LRC (repair holds it)
    kBitSlip,       // fails: a lost or an extra bit, located by parity and LRC (repair holds it)
    kEndedEarly,    // fails: the swipe ended before the end sentinel or inside a character
    kOtherReading,  // fails: candidates[0] reads it backwards, inverted or in another format
    kWeak,          // fails: parity failures spread over the whole track
    kFailure,       // fails: the decode's failure, nothing more to say
};

enum class RepairKind : uint8_t {
    kFlip,   // bit `bit` reads `reads` and should read the other value
    kLost,   // a bit of value `reads` is missing before bit `bit`
    kExtra,  // bit `bit` is one bit too many
};

// A reading repaired by changing one bit: never the read, always shown as a repair.
struct BitRepair {
    RepairKind kind = RepairKind::kFlip;
    int bit = 0;        // in the stream as read
    int lastBit = 0;    // a slip in a run of equal bits fits anywhere in bit..lastBit
    int character = 0;  // the character (index from the start sentinel) the bit is in
    char reads = '0';   // kFlip: what the bit reads; kLost: the missing bit's value
    std::string text;   // the repaired reading: start sentinel to end sentinel
};

struct TrackInspection {
    TrackSettings settings;        // the configured format, as given
    std::string bits;              // '0' and '1' in read order (bit 7 of the first byte first)
    std::size_t ignoredBytes = 0;  // bytes beyond kMaxInspectedBytes, not looked at
    int leadingZeroBits = 0;       // zeros before the first one bit (all bits of a blank stream)
    int trailingZeroBits = 0;      // zeros after the last one bit (0 for a blank stream)
    bool blank = false;       // no one bit at all: nothing recorded, as the program's "{NO DATA}"
    bool formatKnown = true;  // false for a configured bpc outside 4..7 (Raw Type): no cut

    // The verdict: the program's decode of these bytes in the configured format.
    bool decodes = false;
    std::string text;  // the decode's text when it decodes ("{NO DATA}" when blank; hex for raw)
    std::optional<TrackFailure> failure;  // where the decode fails; nothing when it decodes

    // The explanation.
    Finding finding = Finding::kDecodes;
    // The characters shown, cut at the configured bpc from the start sentinel at startBit: bit 0
    // when the read begins with it, later after stray bits; from bit 0 and unframed when the
    // read does not begin with one and none follows stray bits. Up to the LRC, or without an end
    // sentinel up to the last one bit.
    int startBit = -1;
    int strayOnes = 0;      // one bits before startBit
    int strayNearest = 0;   // bits from the nearest of them to the start sentinel
    int strayFarthest = 0;  // bits from the farthest of them to the start sentinel
    std::vector<InspectedCharacter> characters;
    int endSentinelIndex = -1;  // index into characters, -1 when none was found
    int lrcIndex = -1;
    std::optional<BitRepair> repair;  // kBitError, kBitSlip
    int endedAfter = 0;               // kEndedEarly: the characters read before the swipe ended
    int weakCharacters = 0;           // kWeak: characters failing their parity...
    int weakOf = 0;                   // ... of this many
    int activityBits = 0;  // bits up to the last one bit after the frame's LRC; worth a word when
                           // a short frame is followed by much more (see ActivityNote)
    // Every format, direction and polarity that decodes, best first (see InspectTrack).
    std::vector<TrackCandidate> candidates;
};

// Analyses one track's raw bytes as read (the first bit is bit 7 of the first byte) under its
// configured format.
//
// The verdict is DecodeTrack's (DecodeRawTrack's for bpc 8) on the first kMaxInspectedBytes
// bytes. The explanation, when the decode fails, is the first of these that holds:
//  1. kStrayBits: the read does not begin with the frame, but a start sentinel with at most
//     kMaxStrayOnes one bits before it (or kGuardBits idle bits) begins a frame that decodes;
//  2. kBitError: exactly one character of the frame fails its parity, and exactly one of its
//     bits, changed, makes the whole frame decode (parity and LRC): that bit is wrong;
//  3. kBitSlip: inserting or deleting one bit at exactly one place (up to a run of equal bits)
//     near the first failing character makes the frame decode;
//  4. kEndedEarly: no end sentinel, and every character before the last one bit has good parity;
//     or the stream ends inside the end sentinel or the LRC;
//  5. kOtherReading: the best candidate has a parity check and reads the track another way;
//  6. kWeak: at least 3 characters fail their parity, at least one in eight, spread over at least
//     half of the track;
//  7. kFailure.
// Repairs are searched for only in formats with a parity bit: without one the LRC tells the row
// of a wrong bit but not its character.
//
// Candidates: bits per character 5, 7, 4, 6; parity odd, even, none (4 and 6 bits: none); the
// stream forward and reversed; as read and inverted. Sentinels searched for: the configured ones
// for every width of the configured character set (4 and 5 bits, or 6 and 7), and for every
// width the sentinels of the program's data types: ';' for 4 and 5 bits, '%' for 7, '%' and '!'
// (CA DMV) for 6; end sentinel '?'. A candidate is the first start sentinel from which the track
// decodes with at least one data character, good parity and a matching LRC, where a track can
// begin: at most kMaxStrayOnes one bits or kGuardBits idle bits before it. Short frames inside
// noise decode by chance: a reading with fewer than 4 data characters needs kGuardBits idle
// bits after its LRC, and a reading without a parity check outside the configured format needs
// them too, 8 data characters, idle bits (or the stream's start) before it, and no run of
// kGuardBits zeros inside it.
// When the track decodes under its configured format, that reading is a candidate whatever
// lies around it. A reading without a parity check outside the configured format is dropped
// where a reading with one covers the same recorded bits. Ranked: the configured format, then
// the ISO formats, then the rest; within each, forward before reversed, as read before inverted,
// then by width 5, 7, 4, 6 and parity odd, even, none. Candidates that give the same text from
// the same bits at the same width are listed once, at the better rank.
//
// Every input takes time linear in its length: each (format, direction, polarity) is scanned
// once with running tables, and the slip search tries a bounded window of places.
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
std::string_view FindingName(Finding finding);     // "decodes", "stray_bits", "bit_error", ...
std::string_view RepairKindName(RepairKind kind);  // "flip", "lost", "extra"

// Where and why the decode fails, in its own cut: "the parity of character 8 (bit 40) is wrong".
std::string FailureText(const TrackFailure& failure);

// The verdict in one sentence: "good: ;1234?", "blank: no data recorded", or "the read fails: "
// and the explanation, e.g. "the read fails: 1 stray bit 7 bits before the start sentinel; after
// it the track reads ;1234? with parity and LRC correct".
std::string VerdictText(const TrackInspection& inspection);
// The explanation alone, without "good: " or "the read fails: ".
std::string ExplanationText(const TrackInspection& inspection);
// "4 characters, then 420 bits of activity after the end sentinel", or empty when a frame is not
// short for what follows it.
std::string ActivityNote(const TrackInspection& inspection);
// A wrong or slipped bit in words: "bit 42, in character 8, reads 0 and should read 1".
std::string RepairText(const BitRepair& repair);
// How a reading other than the configured forward one reads the track: "read backwards: the card
// was swiped backwards", "with ones and zeros swapped", "in 7 bits per character, odd parity".
std::string CandidateWay(const TrackCandidate& candidate);

// The analysis as lines for a terminal: the bits grouped per character, one line per character
// with its code, text, parity verdict, running LRC and role, the verdict and the candidates.
std::vector<std::string> RenderInspection(const TrackInspection& inspection, int trackNumber);

}  // namespace tollwick
