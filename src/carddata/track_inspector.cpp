#include "carddata/track_inspector.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <utility>

#include "carddata/track_codec.h"

namespace tollwick {
namespace {

// Zeros kept after a stream, so that an 8-bit window can be read at any character that begins
// inside the stream or right after it (the LRC may run past the last bit).
constexpr int kPadBits = 24;

// A bit stream as one candidate reads it (forward or reversed, as read or inverted), followed by
// idle zeros. window_[p] holds bits p..p+7 with bit p in bit 0, so a character of bpc bits
// beginning at p is window_[p] masked to bpc bits: the first bit read is its lowest.
class View {
  public:
    View(const std::string& bits, bool reversed, bool inverted) {
        length_ = static_cast<int>(bits.size());
        std::vector<uint8_t> b(static_cast<std::size_t>(length_ + kPadBits), 0);
        for (int i = 0; i < length_; ++i) {
            const char c = bits[static_cast<std::size_t>(reversed ? length_ - 1 - i : i)];
            b[static_cast<std::size_t>(i)] = static_cast<uint8_t>((c == '1') != inverted);
        }
        window_.assign(b.size(), 0);
        unsigned next = 0;
        for (std::size_t i = b.size(); i-- > 0;) {
            next = ((next << 1) | b[i]) & 0xFFu;
            window_[i] = static_cast<uint8_t>(next);
        }
        onesBefore_.assign(static_cast<std::size_t>(length_) + 1, 0);
        for (int i = 0; i < length_; ++i) {
            const int one = b[static_cast<std::size_t>(i)];
            onesBefore_[static_cast<std::size_t>(i) + 1] =
                onesBefore_[static_cast<std::size_t>(i)] + one;
            if (one) {
                if (firstOne_ < 0) firstOne_ = i;
                dataEnd_ = i + 1;
            }
        }
    }

    int Length() const { return length_; }
    int DataEnd() const { return dataEnd_; }  // one past the last one bit; 0 when there is none
    int FirstOne() const { return firstOne_; }
    uint8_t Code(int at, uint8_t mask) const {
        return static_cast<uint8_t>(window_[static_cast<std::size_t>(at)] & mask);
    }
    // One bits in [from, to), both clamped to the stream.
    int OnesIn(int from, int to) const {
        from = std::clamp(from, 0, length_);
        to = std::clamp(to, 0, length_);
        if (to <= from) return 0;
        return onesBefore_[static_cast<std::size_t>(to)] -
               onesBefore_[static_cast<std::size_t>(from)];
    }

  private:
    int length_ = 0;
    int dataEnd_ = 0;
    int firstOne_ = -1;
    std::vector<uint8_t> window_;
    std::vector<int> onesBefore_;
};

enum Group { kConfiguredGroup = 0, kIsoGroup = 1, kOtherGroup = 2 };

// One format as the walk uses it.
struct Format {
    TrackSettings settings;  // parity normalised: none for 4 and 6 bits and for codes above 2
    uint8_t startCode = 0;
    uint8_t endCode = 0;
    uint8_t codeMask = 0;  // bpc bits
    uint8_t dataMask = 0;  // the bits the LRC covers
    bool checked = false;  // the format has a parity bit and checks it
    int group = kOtherGroup;
};

bool BpcKnown(int bpc) {
    return bpc >= 4 && bpc <= 7;
}

TrackSettings Normalised(TrackSettings s) {
    if (s.bpc == 4 || s.bpc == 6 || s.parity > kParityNone) s.parity = kParityNone;
    return s;
}

Format MakeFormat(const TrackSettings& given) {
    Format f;
    f.settings = Normalised(given);
    const int bpc = f.settings.bpc;
    f.startCode = SentinelCode(f.settings.startSentinel, f.settings);
    f.endCode = SentinelCode(f.settings.endSentinel, f.settings);
    f.codeMask = static_cast<uint8_t>((1u << bpc) - 1);
    f.dataMask = bpc < 6 ? 0x0F : 0x3F;
    f.checked = (bpc == 5 || bpc == 7) && f.settings.parity != kParityNone;
    return f;
}

bool BadParity(const Format& f, uint8_t code) {
    if (!f.checked) return false;
    const bool odd = std::popcount(static_cast<unsigned>(code)) % 2 == 1;
    return f.settings.parity == kParityOdd ? !odd : odd;
}

char TextOf(uint8_t code, int bpc) {
    return bpc <= 5 ? static_cast<char>((code & 0x0F) + 0x30)
                    : static_cast<char>((code & 0x3F) + 0x20);
}

int CeilDiv(int a, int b) {
    return (a + b - 1) / b;
}

// Where an end sentinel may begin: inside the recorded bits. One whose code is all zeros cannot
// be told from clocking zeros; it also counts at the first character after them, where the
// program's decode finds it.
int EndSentinelLimit(const View& v, const Format& f) {
    return v.DataEnd() + (f.endCode == 0 ? f.settings.bpc : 0);
}

// The first end sentinel among the characters from `at` on (step bpc) that may hold one; -1 when
// there is none. Returns a bit offset.
int EndSentinelFrom(const View& v, const Format& f, int at) {
    for (; at < EndSentinelLimit(v, f); at += f.settings.bpc) {
        if (v.Code(at, f.codeMask) == f.endCode) return at;
    }
    return -1;
}

struct Walk {
    std::optional<TrackFailure> failure;
    int endIndex = -1;  // the end sentinel's character index, when the walk reached it
};

// Walks the characters from a start sentinel at bit `start` until the track decodes or fails:
// parity of every character, the end sentinel (the first one after the start sentinel, beginning
// inside the recorded bits), the text limit, then the LRC's parity and value.
Walk WalkFrom(const View& v, const Format& f, int start) {
    const int bpc = f.settings.bpc;
    uint8_t lrc = 0;
    for (int k = 0;; ++k) {
        const int at = start + k * bpc;
        if (at >= v.DataEnd() && (k == 0 || at >= EndSentinelLimit(v, f))) {
            return {TrackFailure{FailureKind::kNoEndSentinel, k, at}};
        }
        if (k == kMaxTrackTextLength) {
            if (EndSentinelFrom(v, f, at) >= 0) return {TrackFailure{FailureKind::kTooLong, k, at}};
            return {TrackFailure{FailureKind::kNoEndSentinel, CeilDiv(v.DataEnd() - start, bpc),
                                 start + CeilDiv(v.DataEnd() - start, bpc) * bpc}};
        }
        const uint8_t code = v.Code(at, f.codeMask);
        if (BadParity(f, code)) return {TrackFailure{FailureKind::kParity, k, at}};
        lrc ^= code & f.dataMask;
        if (k > 0 && code == f.endCode) {
            const int lrcAt = at + bpc;
            const uint8_t check = v.Code(lrcAt, f.codeMask);
            if (BadParity(f, check)) return {TrackFailure{FailureKind::kParity, k + 1, lrcAt}, k};
            if (((lrc ^ check) & f.dataMask) != 0) {
                return {TrackFailure{FailureKind::kLrc, k + 1, lrcAt}, k};
            }
            return {std::nullopt, k};
        }
    }
}

// The text of a decoded frame: start sentinel to end sentinel.
std::string FrameText(const View& v, const Format& f, int start, int endIndex) {
    std::string text;
    text.reserve(static_cast<std::size_t>(endIndex) + 1);
    for (int k = 0; k <= endIndex; ++k) {
        text.push_back(TextOf(v.Code(start + k * f.settings.bpc, f.codeMask), f.settings.bpc));
    }
    return text;
}

// Formats the candidate search tries, configured format first, each once.
std::vector<Format> CandidateFormats(const TrackSettings& configured) {
    const TrackSettings mine = Normalised(configured);
    const bool known = BpcKnown(configured.bpc);
    std::vector<Format> formats;
    auto add = [&](const TrackSettings& s) {
        Format f = MakeFormat(s);
        for (const Format& other : formats) {
            if (other.settings == f.settings) return;
        }
        if (known && f.settings == mine) {
            f.group = kConfiguredGroup;
        } else if (f.settings == kIsoTrackSet[0] || f.settings == kIsoTrackSet[1]) {
            f.group = kIsoGroup;
        }
        formats.push_back(f);
    };
    if (known) add(configured);
    const bool narrowConfigured = configured.bpc < 6;
    for (uint8_t bpc : {5, 7, 4, 6}) {
        const bool withParity = bpc == 5 || bpc == 7;
        const std::string_view natural = bpc < 6 ? ";" : (bpc == 7 ? "%" : "%!");
        for (uint8_t parity : {kParityOdd, kParityEven, kParityNone}) {
            if (!withParity && parity != kParityNone) continue;
            if (known && narrowConfigured == (bpc < 6)) {
                add({bpc, parity, configured.startSentinel, configured.endSentinel});
            }
            for (char ss : natural) add({bpc, parity, ss, '?'});
        }
    }
    return formats;
}

struct Ranked {
    TrackCandidate candidate;
    int group = 0;
    int orientation = 0;
    int order = 0;
    bool checked = false;  // read with a parity check
    int from = 0;          // the bits of the stream as read that the frame covers: [from, to)
    int to = 0;
};

Ranked MakeCandidate(const View& v, int orientation, const Format& f, int order, int start,
                     int endIndex) {
    Ranked r;
    r.candidate.format = f.settings;
    r.candidate.direction =
        (orientation & 1) ? SwipeDirection::kReversed : SwipeDirection::kForward;
    r.candidate.polarity = (orientation & 2) ? BitPolarity::kInverted : BitPolarity::kNormal;
    r.candidate.startBit = start;
    r.candidate.text = FrameText(v, f, start, endIndex);
    r.candidate.configured = f.group == kConfiguredGroup;
    r.candidate.iso = f.settings == kIsoTrackSet[0] || f.settings == kIsoTrackSet[1];
    r.group = f.group;
    r.orientation = orientation;
    r.order = order;
    r.checked = f.checked;
    const int end = std::min(start + (endIndex + 2) * f.settings.bpc, v.Length());
    r.from = (orientation & 1) ? v.Length() - end : start;
    r.to = (orientation & 1) ? v.Length() - start : end;
    return r;
}

// Every candidate of one view: per format the first start sentinel from which the track decodes.
// `skipFirst`: the first format (the configured one) is already known to decode in this view.
void SearchView(const View& v, int orientation, const std::vector<Format>& formats, bool skipFirst,
                std::vector<Ranked>& out) {
    if (v.DataEnd() == 0) return;
    for (std::size_t i = skipFirst ? 1 : 0; i < formats.size(); ++i) {
        const Format& f = formats[i];
        const int bpc = f.settings.bpc;
        for (int p = 0; p < v.DataEnd(); ++p) {
            if (v.Code(p, f.codeMask) != f.startCode) continue;
            if (v.OnesIn(p - kGuardBits, p) != 0) continue;
            const Walk walk = WalkFrom(v, f, p);
            if (walk.failure || walk.endIndex < 2) continue;
            const int after = p + (walk.endIndex + 2) * bpc;
            if (v.OnesIn(after, after + kGuardBits) != 0) continue;
            out.push_back(MakeCandidate(v, orientation, f, static_cast<int>(i), p, walk.endIndex));
            break;
        }
    }
}

// The candidates of a track; `decoded`: where the configured format decodes forward as read, if
// it does (it is a candidate whatever lies around it).
std::vector<TrackCandidate> SearchCandidates(const std::string& bits,
                                             const TrackSettings& configured,
                                             std::optional<std::pair<int, int>> decoded) {
    const std::vector<Format> formats = CandidateFormats(configured);
    std::vector<Ranked> found;
    // Orientation: bit 0 reversed, bit 1 inverted; numbered in rank order.
    for (int orientation = 0; orientation < 4; ++orientation) {
        const View v(bits, (orientation & 1) != 0, (orientation & 2) != 0);
        const bool known = orientation == 0 && decoded.has_value();
        if (known) {
            found.push_back(
                MakeCandidate(v, 0, formats.front(), 0, decoded->first, decoded->second));
        }
        SearchView(v, orientation, formats, known, found);
    }
    std::sort(found.begin(), found.end(), [](const Ranked& a, const Ranked& b) {
        if (a.group != b.group) return a.group < b.group;
        if (a.orientation != b.orientation) return a.orientation < b.orientation;
        return a.order < b.order;
    });
    // A reading without a parity check is weak evidence: it is listed only where no reading with
    // one covers the same recorded bits, in any direction and polarity (a 5-bit ISO track, for
    // one, often also reads as 4 bits without parity from the same start sentinel).
    auto overruled = [&found](const Ranked& r) {
        if (r.checked || r.group == kConfiguredGroup) return false;
        return std::any_of(found.begin(), found.end(), [&r](const Ranked& other) {
            return other.checked && other.from < r.to && r.from < other.to;
        });
    };
    std::vector<TrackCandidate> candidates;
    for (Ranked& r : found) {
        if (overruled(r)) continue;
        const TrackCandidate& c = r.candidate;
        const bool duplicate =
            std::any_of(candidates.begin(), candidates.end(), [&](const TrackCandidate& kept) {
                return kept.direction == c.direction && kept.polarity == c.polarity &&
                       kept.format.bpc == c.format.bpc && kept.startBit == c.startBit &&
                       kept.text == c.text;
            });
        if (!duplicate) candidates.push_back(std::move(r.candidate));
    }
    return candidates;
}

// Cuts the configured format's characters, forward and as read, and finds the first failure.
void AnalyseConfigured(TrackInspection& out) {
    const View v(out.bits, false, false);
    const Format f = MakeFormat(out.settings);
    const int bpc = f.settings.bpc;

    // A start sentinel counts where a track can begin: after idle bits.
    int start = -1;
    std::optional<Walk> walk;
    for (int p = 0; p < v.DataEnd(); ++p) {
        if (v.Code(p, f.codeMask) != f.startCode) continue;
        if (v.OnesIn(p - kGuardBits, p) != 0) continue;
        Walk w = WalkFrom(v, f, p);
        if (!w.failure) {
            start = p;
            walk = w;
            break;
        }
        if (start < 0) {  // the first one, unless a later one decodes
            start = p;
            walk = w;
        }
    }

    int from = start;
    int count = 0;
    if (start >= 0) {
        out.startBit = start;
        out.onesBeforeStart = v.OnesIn(0, start);
        const int end = EndSentinelFrom(v, f, start + bpc);
        if (end >= 0) {
            out.endSentinelIndex = (end - start) / bpc;
            out.lrcIndex = out.endSentinelIndex + 1;
            count = out.lrcIndex + 1;
        } else {
            count = CeilDiv(v.DataEnd() - start, bpc);
        }
        out.failure = walk->failure;
    } else {
        from = v.FirstOne();
        count = CeilDiv(v.DataEnd() - from, bpc);
        out.failure = TrackFailure{FailureKind::kNoStartSentinel, 0, from};
    }

    uint8_t lrc = 0;
    out.characters.reserve(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        InspectedCharacter c;
        c.bitOffset = from + k * bpc;
        c.bitCount = std::clamp(v.Length() - c.bitOffset, 0, bpc);
        c.code = v.Code(c.bitOffset, f.codeMask);
        c.text = TextOf(c.code, bpc);
        c.parity = !f.checked             ? ParityVerdict::kNone
                   : BadParity(f, c.code) ? ParityVerdict::kBad
                                          : ParityVerdict::kOk;
        lrc ^= c.code & f.dataMask;
        c.lrc = lrc;
        if (start < 0) {
            c.role = CharacterRole::kUnframed;
        } else if (k == 0) {
            c.role = CharacterRole::kStartSentinel;
        } else if (k == out.endSentinelIndex) {
            c.role = CharacterRole::kEndSentinel;
        } else if (k == out.lrcIndex) {
            c.role = CharacterRole::kLrc;
        } else {
            c.role = CharacterRole::kData;
        }
        out.characters.push_back(c);
    }
    if (start >= 0 && !out.failure) {
        for (int k = 0; k <= out.endSentinelIndex; ++k) {
            out.text.push_back(out.characters[static_cast<std::size_t>(k)].text);
        }
    }
}

}  // namespace

TrackInspection InspectTrack(std::span<const uint8_t> raw, const TrackSettings& settings) {
    TrackInspection out;
    out.settings = settings;
    const std::size_t n = std::min(raw.size(), kMaxInspectedBytes);
    out.ignoredBytes = raw.size() - n;
    out.bits.reserve(n * 8);
    for (std::size_t i = 0; i < n; ++i) {
        for (int b = 7; b >= 0; --b) out.bits.push_back(((raw[i] >> b) & 1) ? '1' : '0');
    }
    const std::size_t first = out.bits.find('1');
    if (first == std::string::npos) {
        out.blank = true;
        out.leadingZeroBits = static_cast<int>(out.bits.size());
    } else {
        out.leadingZeroBits = static_cast<int>(first);
        out.trailingZeroBits = static_cast<int>(out.bits.size() - 1 - out.bits.rfind('1'));
    }
    out.formatKnown = BpcKnown(settings.bpc);
    if (out.formatKnown && !out.blank) AnalyseConfigured(out);
    if (!out.blank) {
        std::optional<std::pair<int, int>> decoded;
        if (out.formatKnown && !out.failure) decoded.emplace(out.startBit, out.endSentinelIndex);
        out.candidates = SearchCandidates(out.bits, settings, decoded);
    }
    return out;
}

std::string CharacterBits(const TrackInspection& inspection, const InspectedCharacter& character) {
    const std::size_t from = std::min(static_cast<std::size_t>(std::max(character.bitOffset, 0)),
                                      inspection.bits.size());
    return inspection.bits.substr(from, static_cast<std::size_t>(std::max(character.bitCount, 0)));
}

std::string_view ParityName(uint8_t parity) {
    switch (parity) {
        case kParityOdd:
            return "odd";
        case kParityEven:
            return "even";
        default:
            return "none";
    }
}

std::string_view ParityVerdictName(ParityVerdict verdict) {
    switch (verdict) {
        case ParityVerdict::kOk:
            return "ok";
        case ParityVerdict::kBad:
            return "bad";
        case ParityVerdict::kNone:
            break;
    }
    return "none";
}

std::string_view CharacterRoleName(CharacterRole role) {
    switch (role) {
        case CharacterRole::kStartSentinel:
            return "start";
        case CharacterRole::kData:
            return "data";
        case CharacterRole::kEndSentinel:
            return "end";
        case CharacterRole::kLrc:
            return "lrc";
        case CharacterRole::kUnframed:
            break;
    }
    return "unframed";
}

std::string_view FailureKindName(FailureKind kind) {
    switch (kind) {
        case FailureKind::kParity:
            return "parity";
        case FailureKind::kLrc:
            return "lrc";
        case FailureKind::kNoEndSentinel:
            return "no_end_sentinel";
        case FailureKind::kNoStartSentinel:
            return "no_start_sentinel";
        case FailureKind::kTooLong:
            break;
    }
    return "too_long";
}

std::string_view DirectionName(SwipeDirection direction) {
    return direction == SwipeDirection::kReversed ? "reversed" : "forward";
}

std::string_view PolarityName(BitPolarity polarity) {
    return polarity == BitPolarity::kInverted ? "inverted" : "normal";
}

namespace {

std::string Printf(const char* format, auto... args) {
    char line[160];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

std::string FormatName(const TrackSettings& s) {
    if (!BpcKnown(s.bpc)) return Printf("%d bpc: raw bytes, no characters", s.bpc);
    return Printf("%d bpc, %s parity, start '%c', end '%c'", s.bpc,
                  std::string(ParityName(Normalised(s).parity)).c_str(), s.startSentinel,
                  s.endSentinel);
}

// Bits outside the characters, in brackets, cut into pieces that fit a line.
void AddBracketed(std::string_view bits, std::vector<std::string>& groups) {
    constexpr std::size_t kPiece = 64;
    for (std::size_t i = 0; i < bits.size(); i += kPiece) {
        std::string g(i == 0 ? "[" : "");
        g += bits.substr(i, kPiece);
        if (i + kPiece >= bits.size()) g += ']';
        groups.push_back(std::move(g));
    }
}

// Appends groups to lines of at most 100 columns, each line indented.
void WrapGroups(const std::vector<std::string>& groups, std::vector<std::string>& lines) {
    constexpr std::size_t kWidth = 100;
    const std::string indent = "    ";
    std::string line = indent;
    for (const std::string& group : groups) {
        if (line.size() > indent.size() && line.size() + 1 + group.size() > kWidth) {
            lines.push_back(line);
            line = indent;
        }
        if (line.size() > indent.size()) line += ' ';
        line += group;
    }
    if (line.size() > indent.size()) lines.push_back(line);
}

}  // namespace

std::string FailureText(const TrackFailure& f) {
    switch (f.kind) {
        case FailureKind::kParity:
            return Printf("the parity of character %d (bit %d) is wrong", f.position, f.bitOffset);
        case FailureKind::kLrc:
            return Printf("the LRC (character %d, bit %d) does not match the data", f.position,
                          f.bitOffset);
        case FailureKind::kNoEndSentinel:
            return Printf("no end sentinel in the %d characters recorded", f.position);
        case FailureKind::kNoStartSentinel:
            return "no start sentinel in the track's format";
        case FailureKind::kTooLong:
            return Printf("no end sentinel within %d characters: too long for a track",
                          kMaxTrackTextLength);
    }
    return "";
}

std::vector<std::string> RenderInspection(const TrackInspection& in, int trackNumber) {
    std::vector<std::string> lines;
    lines.push_back(Printf("Track %d (%s)", trackNumber, FormatName(in.settings).c_str()));
    lines.push_back(Printf("  %zu bits as read, %d leading and %d trailing clocking zeros",
                           in.bits.size(), in.leadingZeroBits, in.trailingZeroBits));
    if (in.ignoredBytes > 0) {
        lines.push_back(Printf("  %zu bytes beyond the first %zu not inspected", in.ignoredBytes,
                               kMaxInspectedBytes));
    }
    if (in.blank) {
        lines.push_back("  blank: no data recorded");
        return lines;
    }

    // Bits grouped per character: [clocking zeros], SS: ... ES: LRC:, '!' after a bad parity.
    std::vector<std::string> groups;
    int cutEnd = 0;
    if (in.characters.empty()) {
        for (std::size_t i = 0; i < in.bits.size(); i += 8) groups.push_back(in.bits.substr(i, 8));
    } else if (in.characters.front().bitOffset > 0) {
        cutEnd = in.characters.front().bitOffset;
        AddBracketed(std::string_view(in.bits).substr(0, static_cast<std::size_t>(cutEnd)), groups);
    }
    for (const InspectedCharacter& c : in.characters) {
        std::string g = CharacterBits(in, c);
        if (c.role == CharacterRole::kStartSentinel) g = "SS:" + g;
        if (c.role == CharacterRole::kEndSentinel) g = "ES:" + g;
        if (c.role == CharacterRole::kLrc) g = "LRC:" + g;
        if (c.parity == ParityVerdict::kBad) g += "!";
        groups.push_back(g);
        cutEnd = c.bitOffset + c.bitCount;
    }
    if (!in.characters.empty() && cutEnd < static_cast<int>(in.bits.size())) {
        AddBracketed(std::string_view(in.bits).substr(static_cast<std::size_t>(cutEnd)), groups);
    }
    lines.push_back("  bits:");
    WrapGroups(groups, lines);

    if (!in.formatKnown) {
        lines.push_back("  not cut into characters: the configured format is raw bytes");
    } else {
        if (in.startBit >= 0) {
            lines.push_back(Printf("  start sentinel at bit %d", in.startBit));
            if (in.onesBeforeStart > 0) {
                lines.push_back(
                    Printf("  %d one bits before the start sentinel (noise)", in.onesBeforeStart));
            }
        }
        lines.push_back("      #    bit  bits     code  char  parity  LRC");
        for (std::size_t k = 0; k < in.characters.size(); ++k) {
            const InspectedCharacter& c = in.characters[k];
            std::string role;
            switch (c.role) {
                case CharacterRole::kStartSentinel:
                    role = "  start sentinel";
                    break;
                case CharacterRole::kEndSentinel:
                    role = "  end sentinel";
                    break;
                case CharacterRole::kLrc: {
                    const uint8_t expected = k > 0 ? in.characters[k - 1].lrc : 0;
                    role = Printf("  LRC (data bits should be 0x%02X)", unsigned{expected});
                    break;
                }
                default:
                    break;
            }
            lines.push_back(Printf("    %3zu  %5d  %-7s  0x%02X  %c     %-6s  0x%02X%s", k,
                                   c.bitOffset, CharacterBits(in, c).c_str(), unsigned{c.code},
                                   c.text, std::string(ParityVerdictName(c.parity)).c_str(),
                                   unsigned{c.lrc}, role.c_str()));
        }
        if (in.failure) {
            lines.push_back("  fails: " + FailureText(*in.failure));
        } else {
            lines.push_back("  good: " + in.text);
        }
    }

    if (in.candidates.empty()) {
        lines.push_back("  candidates: none decode");
    } else {
        lines.push_back("  candidates:");
        for (std::size_t i = 0; i < in.candidates.size(); ++i) {
            const TrackCandidate& c = in.candidates[i];
            const char* tag = c.configured ? "  (configured)" : c.iso ? "  (ISO)" : "";
            lines.push_back(Printf("    %zu. %s, %s, %s, bit %d%s", i + 1,
                                   FormatName(c.format).c_str(),
                                   std::string(DirectionName(c.direction)).c_str(),
                                   std::string(PolarityName(c.polarity)).c_str(), c.startBit, tag));
            lines.push_back("       " + c.text);
        }
    }
    return lines;
}

}  // namespace tollwick
