#include "carddata/track_inspector.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "carddata/track_codec.h"

namespace tollwick {
namespace {

// Zeros kept after a stream, so that an 8-bit window can be read at any character a walk may
// reach: the end sentinel one character past the recorded bits, the LRC after it.
constexpr int kPadBits = 40;
// Data characters a reading needs before it can stand without idle bits after it, and before a
// repair counts: short frames inside noise decode by chance.
constexpr int kMinDataAfterNoise = 4;
constexpr int kMinRepairedData = 3;
// Data characters a reading without a parity check needs, outside the configured format: only
// its LRC checks it, and four bits of LRC pass one frame of noise in sixteen.
constexpr int kMinUncheckedData = 8;
// How far before the first failing character a slip is looked for, in characters.
constexpr int kSlipWindowCharacters = 8;
// A frame is short, and what follows it worth a word, from this many bits of activity on.
constexpr int kActivityBits = 64;
constexpr int kNowhere = std::numeric_limits<int>::max() / 2;

// A bit stream as one reading takes it (forward or reversed, as read or inverted), followed by
// idle zeros. window_[p] holds bits p..p+7 with bit p in bit 0, so a character of bpc bits
// beginning at p is window_[p] masked to bpc bits: the first bit read is its lowest.
class View {
  public:
    // limitBits: the bits an end sentinel may begin in, as the decode counts them (the recorded
    // bytes); 0 to take the bits up to the last one bit.
    View(const std::string& bits, bool reversed, bool inverted, int limitBits = 0) {
        length_ = static_cast<int>(bits.size());
        bits_.assign(bits.size() + std::size_t{kPadBits}, 0);
        for (int i = 0; i < length_; ++i) {
            const char c = bits[static_cast<std::size_t>(reversed ? length_ - 1 - i : i)];
            bits_[static_cast<std::size_t>(i)] = static_cast<uint8_t>((c == '1') != inverted);
        }
        window_.assign(bits_.size(), 0);
        unsigned next = 0;
        for (std::size_t i = bits_.size(); i-- > 0;) {
            next = ((next << 1) | bits_[i]) & 0xFFu;
            window_[i] = static_cast<uint8_t>(next);
        }
        onesBefore_.assign(static_cast<std::size_t>(length_) + 1, 0);
        for (int i = 0; i < length_; ++i) {
            const int one = bits_[static_cast<std::size_t>(i)];
            onesBefore_[static_cast<std::size_t>(i) + 1] =
                onesBefore_[static_cast<std::size_t>(i)] + one;
            if (one) {
                if (firstOne_ < 0) firstOne_ = i;
                dataEnd_ = i + 1;
            }
        }
        limitBits_ = limitBits > 0 ? limitBits : dataEnd_;
        // One bits where a track can begin: among the first stray ones, or after idle bits.
        int zeros = kGuardBits;
        for (int i = 0; i < length_; ++i) {
            if (bits_[static_cast<std::size_t>(i)] == 0) {
                ++zeros;
                continue;
            }
            if (zeros >= kGuardBits || onesBefore_[static_cast<std::size_t>(i)] <= kMaxStrayOnes) {
                oneStarts_.push_back(i);
            }
            zeros = 0;
        }
    }

    int Length() const { return length_; }
    int Padded() const { return static_cast<int>(bits_.size()); }
    int DataEnd() const { return dataEnd_; }  // one past the last one bit; 0 when there is none
    int FirstOne() const { return firstOne_; }
    int LimitBits() const { return limitBits_; }
    // The one bits where a track can begin (CanBegin), in order.
    const std::vector<int>& OneStarts() const { return oneStarts_; }
    int Bit(int at) const {
        return at >= 0 && at < Padded() ? bits_[static_cast<std::size_t>(at)] : 0;
    }
    uint8_t Code(int at, uint8_t mask) const {
        if (at < 0 || at >= Padded()) return 0;
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
    int limitBits_ = 0;
    std::vector<uint8_t> bits_;
    std::vector<uint8_t> window_;
    std::vector<int> onesBefore_;
    std::vector<int> oneStarts_;
};

enum Group { kConfiguredGroup = 0, kIsoGroup = 1, kOtherGroup = 2 };

// One format as the walks use it.
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
    // The sentinel code as the decode searches for it, from the settings as given.
    f.startCode = SentinelCode(given.startSentinel, given);
    f.endCode = SentinelCode(given.endSentinel, given);
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

// Characters the end sentinel is searched among from a frame beginning at `start`: those that
// begin inside the limit bits and one more (which reads as zeros past them), and no more than a
// track text holds.
int SearchedCharacters(int limitBits, int start, int bpc) {
    return std::min(CeilDiv(std::max(limitBits - start, 0), bpc) + 1, kMaxTrackTextLength);
}

// ---- Walks ----------------------------------------------------------------------------------

struct Walk {
    std::optional<TrackFailure> failure;  // positions count from the frame's start
    int endIndex = -1;  // the end sentinel's character index, -1 when none was found
};

// The decode of a frame beginning at `start`, over characters given by code(k): the first end
// sentinel among the searched characters (from character 0 with endAtFirst, as the program's
// decode takes it, else from character 1), then the parity of every character up to the LRC,
// then the LRC. dataChars: characters the recorded bits reach beyond the text limit (for
// kTooLong).
template <typename CodeAt>
Walk WalkFrame(CodeAt code, const Format& f, int start, int searched, bool endAtFirst,
               int dataChars) {
    const int bpc = f.settings.bpc;
    Walk w;
    for (int k = endAtFirst ? 0 : 1; k < searched; ++k) {
        if (code(k) == f.endCode) {
            w.endIndex = k;
            break;
        }
    }
    if (w.endIndex < 0) {
        if (searched >= kMaxTrackTextLength && dataChars > kMaxTrackTextLength) {
            w.failure = TrackFailure{FailureKind::kTooLong, kMaxTrackTextLength,
                                     start + kMaxTrackTextLength * bpc};
        } else {
            w.failure = TrackFailure{FailureKind::kNoEndSentinel, searched, start + searched * bpc};
        }
        return w;
    }
    uint8_t lrc = 0;
    for (int k = 0; k <= w.endIndex + 1; ++k) {
        const uint8_t c = code(k);
        if (BadParity(f, c)) {
            w.failure = TrackFailure{FailureKind::kParity, k, start + k * bpc};
            return w;
        }
        lrc ^= c & f.dataMask;
    }
    if ((lrc & f.dataMask) != 0) {
        w.failure = TrackFailure{FailureKind::kLrc, w.endIndex + 1, start + (w.endIndex + 1) * bpc};
    }
    return w;
}

// Whether a frame decodes, stopping at the first bad parity on the way to the end sentinel: the
// quick test of the repair searches. Returns the end sentinel's index, or -1.
template <typename CodeAt>
int FrameDecodes(CodeAt code, const Format& f, int searched) {
    uint8_t lrc = 0;
    for (int k = 0; k < searched; ++k) {
        const uint8_t c = code(k);
        if (BadParity(f, c)) return -1;
        lrc ^= c & f.dataMask;
        if (k > 0 && c == f.endCode) {
            const uint8_t check = code(k + 1);
            if (BadParity(f, check) || ((lrc ^ check) & f.dataMask) != 0) return -1;
            return k;
        }
    }
    return -1;
}

// The text of a decoded frame: start sentinel to end sentinel.
template <typename CodeAt>
std::string FrameText(CodeAt code, int bpc, int endIndex) {
    std::string text;
    text.reserve(static_cast<std::size_t>(endIndex) + 1);
    for (int k = 0; k <= endIndex; ++k) text.push_back(TextOf(code(k), bpc));
    return text;
}

auto ViewCodes(const View& v, const Format& f, int start) {
    return [&v, &f, start](int k) { return v.Code(start + k * f.settings.bpc, f.codeMask); };
}

// ---- The candidate scan ---------------------------------------------------------------------

// Running tables of one view in one format, so that a frame from any start is judged at once:
// per bit position q, the next end sentinel and the next bad parity among the characters at q,
// q + bpc, ...; and the exclusive-or of the data bits of the characters at q, q - bpc, ... .
class FrameTables {
  public:
    void Build(const View& v, const Format& f) {
        bpc_ = f.settings.bpc;
        const int n = v.Padded() - 8;
        nextEnd_.assign(static_cast<std::size_t>(n), kNowhere);
        nextBad_.assign(static_cast<std::size_t>(n), kNowhere);
        xor_.assign(static_cast<std::size_t>(n), 0);
        for (int q = n - 1; q >= 0; --q) {
            const uint8_t code = v.Code(q, f.codeMask);
            const int after = q + bpc_;
            const auto at = static_cast<std::size_t>(q);
            const auto next = static_cast<std::size_t>(after);  // read only when after < n
            nextEnd_[at] = code == f.endCode ? q : after < n ? nextEnd_[next] : kNowhere;
            nextBad_[at] = BadParity(f, code) ? q : after < n ? nextBad_[next] : kNowhere;
        }
        const auto width = static_cast<std::size_t>(bpc_);
        for (int q = 0; q < n; ++q) {
            const auto at = static_cast<std::size_t>(q);
            const uint8_t data = v.Code(q, f.dataMask);
            xor_[at] = static_cast<uint8_t>(data ^ (q >= bpc_ ? xor_[at - width] : 0));
        }
        size_ = n;
    }

    // The end sentinel's index when the frame from `start` decodes within `searched`
    // characters, else -1.
    int Decodes(int start, int searched, uint8_t dataMask) const {
        const int first = start + bpc_;
        if (first >= size_) return -1;
        const int end = nextEnd_[static_cast<std::size_t>(first)];
        if (end == kNowhere || (end - start) / bpc_ >= searched) return -1;
        const int lrcAt = end + bpc_;
        if (lrcAt >= size_) return -1;
        if (nextBad_[static_cast<std::size_t>(start)] <= lrcAt) return -1;
        const uint8_t before = start >= bpc_ ? xor_[static_cast<std::size_t>(start - bpc_)] : 0;
        if (((xor_[static_cast<std::size_t>(lrcAt)] ^ before) & dataMask) != 0) return -1;
        return (end - start) / bpc_;
    }

  private:
    int bpc_ = 5;
    int size_ = 0;
    std::vector<int> nextEnd_;
    std::vector<int> nextBad_;
    std::vector<uint8_t> xor_;
};

// Where a track can begin: at most kMaxStrayOnes one bits before it, or kGuardBits idle bits.
bool CanBegin(const View& v, int p) {
    return v.OnesIn(0, p) <= kMaxStrayOnes || v.OnesIn(p - kGuardBits, p) == 0;
}

// Whether a decoded frame may stand: a short one needs idle bits after its LRC; one without a
// parity check needs them always, idle bits (or the stream's start) before it rather than stray
// ones, and some length, since only its LRC checks it.
bool MayStand(const View& v, const Format& f, int start, int endIndex) {
    const int data = endIndex - 1;
    // At the stream's start a byte's fill may stand before the frame.
    const bool clean = start <= 8 || v.OnesIn(start - kGuardBits, start) == 0;
    const bool shortForIt = data < (f.group == kConfiguredGroup ? 1 : kMinUncheckedData);
    if (!f.checked && (shortForIt || !clean)) return false;
    if (!f.checked && f.group != kConfiguredGroup) {
        // Zero characters pass no check of their own: a frame running through idle bits is
        // noise on both sides of them (in the configured format blanks and zeros are data).
        int zeros = 0;
        for (int at = start; at < start + (endIndex + 2) * f.settings.bpc; ++at) {
            zeros = v.Bit(at) ? 0 : zeros + 1;
            if (zeros >= kGuardBits) return false;
        }
    }
    const bool needsIdleAfter = !f.checked || data < kMinDataAfterNoise;
    if (!needsIdleAfter) return true;
    const int after = start + (endIndex + 2) * f.settings.bpc;
    return v.OnesIn(after, after + kGuardBits) == 0;
}

// The first start sentinel in view v from which format f decodes and may stand: its offset and
// end sentinel index, or nothing. Each start is walked until its first bad parity or its end
// sentinel, which on most streams is a character or two; should the walks together take more
// than a few passes over the stream (a stream built of start sentinels and good characters), the
// rest is judged with running tables, so that no stream costs more than linear time.
std::optional<std::pair<int, int>> FirstReading(const View& v, const Format& f,
                                                FrameTables& tables) {
    const int bpc = f.settings.bpc;
    int budget = 4 * (v.Padded() / bpc) + 64;  // characters walked before tables pay off
    bool built = false;
    // Start sentinels begin with a one bit (all of the program's lists do); any other is looked
    // for at every place a track can begin.
    std::vector<int> every;
    if ((f.startCode & 1) == 0) {
        for (int p = std::max(v.FirstOne(), 0); p < v.DataEnd(); ++p) {
            if (CanBegin(v, p)) every.push_back(p);
        }
    }
    for (const int p : (f.startCode & 1) ? v.OneStarts() : every) {
        if (v.Code(p, f.codeMask) != f.startCode) continue;
        const int searched = SearchedCharacters(v.LimitBits(), p, bpc);
        int end = -1;
        if (built) {
            end = tables.Decodes(p, searched, f.dataMask);
        } else {
            int steps = 0;
            const auto codes = [&v, &f, p, bpc, &steps](int k) {
                ++steps;
                return v.Code(p + k * bpc, f.codeMask);
            };
            end = FrameDecodes(codes, f, searched);
            budget -= steps;
            if (budget < 0) {
                tables.Build(v, f);
                built = true;
            }
        }
        if (end < 2 || !MayStand(v, f, p, end)) continue;
        return std::pair{p, end};
    }
    return std::nullopt;
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
    constexpr uint8_t kWidths[] = {5, 7, 4, 6};
    for (const uint8_t bpc : kWidths) {
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
    int from = 0;  // the bits of the stream as read that the frame covers: [from, to)
    int to = 0;
};

Ranked MakeCandidate(const View& v, int orientation, const Format& f, int order, int start,
                     int endIndex, std::string text) {
    Ranked r;
    r.candidate.format = f.settings;
    r.candidate.direction =
        (orientation & 1) ? SwipeDirection::kReversed : SwipeDirection::kForward;
    r.candidate.polarity = (orientation & 2) ? BitPolarity::kInverted : BitPolarity::kNormal;
    r.candidate.startBit = start;
    r.candidate.text = std::move(text);
    r.candidate.configured = f.group == kConfiguredGroup;
    r.candidate.iso = f.settings == kIsoTrackSet[0] || f.settings == kIsoTrackSet[1];
    r.candidate.checked = f.checked;
    r.group = f.group;
    r.orientation = orientation;
    r.order = order;
    const int end = std::min(start + (endIndex + 2) * f.settings.bpc, v.Length());
    r.from = (orientation & 1) ? v.Length() - end : start;
    r.to = (orientation & 1) ? v.Length() - start : end;
    return r;
}

// The candidates of a track. `decoded`: the program's own reading (start 0, end sentinel index,
// text) when the decode succeeds; it is a candidate whatever lies around it.
std::vector<TrackCandidate> SearchCandidates(
    const std::string& bits, int limitBits, const TrackSettings& configured,
    const std::optional<std::pair<int, std::string>>& decoded) {
    const std::vector<Format> formats = CandidateFormats(configured);
    std::vector<Ranked> found;
    FrameTables tables;
    // Orientation: bit 0 reversed, bit 1 inverted; numbered in rank order.
    for (int orientation = 0; orientation < 4; ++orientation) {
        const View v(bits, (orientation & 1) != 0, (orientation & 2) != 0,
                     orientation == 0 ? limitBits : 0);
        if (v.DataEnd() == 0) continue;
        for (std::size_t i = 0; i < formats.size(); ++i) {
            const Format& f = formats[i];
            if (orientation == 0 && decoded && f.group == kConfiguredGroup) {
                found.push_back(MakeCandidate(v, 0, f, 0, 0, decoded->first, decoded->second));
                continue;
            }
            if (auto reading = FirstReading(v, f, tables)) {
                const auto [start, end] = *reading;
                found.push_back(
                    MakeCandidate(v, orientation, f, static_cast<int>(i), start, end,
                                  FrameText(ViewCodes(v, f, start), f.settings.bpc, end)));
            }
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Ranked& a, const Ranked& b) {
        if (a.group != b.group) return a.group < b.group;
        if (a.orientation != b.orientation) return a.orientation < b.orientation;
        return a.order < b.order;
    });
    // A reading without a parity check is weak evidence: it is listed only where no reading with
    // one covers the same recorded bits, in any direction and polarity (a 5-bit ISO track, for
    // one, often also reads as 4 bits without parity from the same start sentinel).
    auto overruled = [&found](const Ranked& r) {
        if (r.candidate.checked || r.group == kConfiguredGroup) return false;
        return std::any_of(found.begin(), found.end(), [&r](const Ranked& other) {
            return other.candidate.checked && other.from < r.to && r.from < other.to;
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

// ---- Repairs --------------------------------------------------------------------------------

// Bits of the stream as read, changed at one place.
struct Changed {
    const View* v;
    RepairKind kind;
    int at;     // the bit flipped or deleted, or the place a bit is inserted before
    int value;  // the inserted bit

    int Bit(int i) const {
        switch (kind) {
            case RepairKind::kFlip:
                return v->Bit(i) ^ (i == at ? 1 : 0);
            case RepairKind::kExtra:
                return v->Bit(i < at ? i : i + 1);
            case RepairKind::kLost:
                return i < at ? v->Bit(i) : i == at ? value : v->Bit(i - 1);
        }
        return 0;
    }
    int Shift() const {
        return kind == RepairKind::kLost ? 1 : kind == RepairKind::kExtra ? -1 : 0;
    }
};

auto ChangedCodes(const Changed& c, int start, int bpc) {
    return [c, start, bpc](int k) {
        uint8_t code = 0;
        const int at = start + k * bpc;
        for (int b = 0; b < bpc; ++b) code |= static_cast<uint8_t>(c.Bit(at + b) << b);
        return code;
    };
}

// The first and last bit of the run of equal bits that holds bit `at`.
std::pair<int, int> RunAround(const View& v, int at) {
    int first = at;
    int last = at;
    while (first > 0 && v.Bit(first - 1) == v.Bit(at)) --first;
    while (last + 1 < v.Length() && v.Bit(last + 1) == v.Bit(at)) ++last;
    return {first, last};
}

// Tries one change; the repaired frame's end sentinel index, or -1. The repaired frame must
// begin with the start sentinel: a change that turns it into another character (the end
// sentinel, at worst, where the program's read would stop) repairs nothing the read could take.
int TryChange(const View& v, const Format& f, int start, const Changed& change) {
    const int bpc = f.settings.bpc;
    const auto codes = ChangedCodes(change, start, bpc);
    if (codes(0) != f.startCode) return -1;
    const int searched = SearchedCharacters(v.LimitBits() + change.Shift(), start, bpc);
    return FrameDecodes(codes, f, searched);
}

// Characters a track of this width rarely carries inside its data: the narrow set's separators
// and sentinels other than '=', the wide set's punctuation other than what names and
// addresses use.
int UnusualCharacters(std::string_view text, int bpc) {
    int n = 0;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        const char ch = text[i];
        const bool usual =
            bpc < 6 ? (ch >= '0' && ch <= '9') || ch == '='
                    : (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                          std::string_view(" ^/$.-,'&#").find(ch) != std::string_view::npos;
        if (!usual) ++n;
    }
    return n;
}

struct Found {
    BitRepair repair;
    int endIndex = 0;
};

// The one repair among those that make the frame decode: where several do, those that keep the
// end sentinel where the read has it, then those with the fewest unusual characters; nothing
// when that still leaves more than one.
std::optional<BitRepair> OnlyRepair(std::vector<Found> found, int readEnd, int bpc) {
    if (found.size() > 1 && readEnd >= 0) {
        std::vector<Found> same;
        for (const Found& f : found) {
            if (f.endIndex == readEnd) same.push_back(f);
        }
        if (!same.empty()) found = std::move(same);
    }
    if (found.size() > 1) {
        int fewest = std::numeric_limits<int>::max();
        for (const Found& f : found)
            fewest = std::min(fewest, UnusualCharacters(f.repair.text, bpc));
        std::erase_if(
            found, [&](const Found& f) { return UnusualCharacters(f.repair.text, bpc) > fewest; });
    }
    if (found.size() != 1) return std::nullopt;
    return found.front().repair;
}

// One wrong bit in the only character of the frame that fails its parity: the bit of it that
// makes the frame decode.
std::optional<BitRepair> FindBitError(const View& v, const Format& f, int start, int badIndex,
                                      int readEnd) {
    const int bpc = f.settings.bpc;
    std::vector<Found> found;
    for (int b = 0; b < bpc; ++b) {
        const int at = start + badIndex * bpc + b;
        if (at >= v.LimitBits()) break;  // past the recorded bits: the swipe ended, not a flip
        const Changed change{&v, RepairKind::kFlip, at, 0};
        const int end = TryChange(v, f, start, change);
        if (end < 0) continue;
        BitRepair r;
        r.kind = RepairKind::kFlip;
        r.bit = r.lastBit = at;
        r.character = badIndex;
        r.reads = v.Bit(at) ? '1' : '0';
        r.text = FrameText(ChangedCodes(change, start, bpc), bpc, end);
        found.push_back({std::move(r), end});
    }
    return OnlyRepair(std::move(found), readEnd, bpc);
}

// A lost or an extra bit before or in the first failing character (anchor): the place, up to a
// run of equal bits, where inserting or deleting a bit makes the frame decode.
std::optional<BitRepair> FindBitSlip(const View& v, const Format& f, int start, int anchor) {
    const int bpc = f.settings.bpc;
    const int from = start + std::max(1, anchor - kSlipWindowCharacters) * bpc;
    const int to = std::min(start + (anchor + 1) * bpc, v.DataEnd());
    std::vector<Found> found;
    for (int q = from; q < to; ++q) {
        for (const RepairKind kind : {RepairKind::kExtra, RepairKind::kLost}) {
            for (int value = 0; value < (kind == RepairKind::kLost ? 2 : 1); ++value) {
                // Deleting any bit of a run, or inserting a bit beside an equal one, gives the
                // same stream: each is tried at the first place only.
                if (q > from && kind == RepairKind::kExtra && v.Bit(q - 1) == v.Bit(q)) continue;
                if (q > from && kind == RepairKind::kLost && v.Bit(q - 1) == value) continue;
                const Changed change{&v, kind, q, value};
                const int end = TryChange(v, f, start, change);
                if (end < 0) continue;
                BitRepair r;
                r.kind = kind;
                r.bit = q;
                if (kind == RepairKind::kExtra) {
                    r.lastBit = RunAround(v, q).second;
                } else {
                    r.lastBit = v.Bit(q) == value ? RunAround(v, q).second + 1 : q;
                }
                r.character = (q - start) / bpc;
                r.reads = value ? '1' : '0';
                r.text = FrameText(ChangedCodes(change, start, bpc), bpc, end);
                found.push_back({std::move(r), end});
                if (found.size() > 8) return std::nullopt;  // no place stands out
            }
        }
    }
    return OnlyRepair(std::move(found), -1, bpc);
}

// ---- The explanation ------------------------------------------------------------------------

// The configured format's characters from `start`, up to the LRC, or without an end sentinel up
// to the last one bit (at most a track text's worth).
void CutCharacters(TrackInspection& out, const View& v, const Format& f, int start, bool framed,
                   int endIndex) {
    const int bpc = f.settings.bpc;
    int count = endIndex >= 0 ? endIndex + 2 : CeilDiv(std::max(v.DataEnd() - start, 0), bpc);
    count = std::min(count, kMaxTrackTextLength + 1);
    uint8_t lrc = 0;
    out.characters.clear();
    out.characters.reserve(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        InspectedCharacter c;
        c.bitOffset = start + k * bpc;
        c.bitCount = std::clamp(v.Length() - c.bitOffset, 0, bpc);
        c.code = v.Code(c.bitOffset, f.codeMask);
        c.text = TextOf(c.code, bpc);
        c.parity = !f.checked             ? ParityVerdict::kNone
                   : BadParity(f, c.code) ? ParityVerdict::kBad
                                          : ParityVerdict::kOk;
        lrc ^= c.code & f.dataMask;
        c.lrc = lrc;
        if (k == endIndex) {
            c.role = CharacterRole::kEndSentinel;
        } else if (endIndex >= 0 && k == endIndex + 1) {
            c.role = CharacterRole::kLrc;
        } else if (k == 0 && c.code == f.startCode) {
            c.role = CharacterRole::kStartSentinel;
        } else {
            c.role = framed ? CharacterRole::kData : CharacterRole::kUnframed;
        }
        out.characters.push_back(c);
    }
    out.startBit = framed ? start : -1;
    out.endSentinelIndex = endIndex >= 0 && endIndex < count ? endIndex : -1;
    out.lrcIndex = out.endSentinelIndex >= 0 && endIndex + 1 < count ? endIndex + 1 : -1;
}

// The read begins with the start sentinel: with it one bit wrong, or cut short inside it.
bool BeginsWithStart(const View& v, const Format& f) {
    const unsigned differ = v.Code(0, f.codeMask) ^ f.startCode;
    const unsigned recorded = (1u << std::min(v.DataEnd(), int{f.settings.bpc})) - 1;
    return std::popcount(differ) <= 1 || (differ & recorded) == 0;
}

// The character the last one bit is in, counted from start.
int LastDataCharacter(const View& v, int start, int bpc) {
    return std::max(v.DataEnd() - 1 - start, 0) / bpc;
}

// A swipe that ended before its end sentinel, or inside its end sentinel or LRC: the
// characters read whole before it ended, or -1 when the frame says otherwise. Where the
// recording stops cannot be told from zero bits: a character counts as read whole when it ends
// by the last one bit.
int EndedAfter(const View& v, const Format& f, int start, const Walk& walk) {
    const int bpc = f.settings.bpc;
    auto good = [&](int k) { return !BadParity(f, v.Code(start + k * bpc, f.codeMask)); };
    auto whole = [&](int k) { return start + (k + 1) * bpc <= v.DataEnd(); };
    if (walk.endIndex < 0) {
        if (walk.failure && walk.failure->kind == FailureKind::kTooLong) return -1;
        const int last = LastDataCharacter(v, start, bpc);
        for (int k = 0; k < last; ++k) {
            if (!good(k)) return -1;
        }
        return whole(last) && good(last) ? last + 1 : last;
    }
    // The end sentinel found, but the stream ends inside it or the LRC after it: the bits of
    // that character that came agree with what it should hold, and the rest did not come.
    if (!walk.failure || walk.failure->position < walk.endIndex) return -1;
    const int k = walk.failure->position;
    if (whole(k)) return -1;
    uint8_t expected = f.endCode;
    if (k > walk.endIndex) {
        uint8_t lrc = 0;
        for (int i = 0; i <= walk.endIndex; ++i) lrc ^= v.Code(start + i * bpc, f.dataMask);
        expected = lrc;
        const bool even = std::popcount(unsigned{lrc}) % 2 == 0;
        if (f.checked && (f.settings.parity == kParityOdd) == even) {
            expected |= static_cast<uint8_t>(1u << (bpc - 1));
        }
    }
    const int came = std::max(v.DataEnd() - (start + k * bpc), 0);
    const unsigned recorded = (1u << std::min(came, bpc)) - 1;
    if (((v.Code(start + k * bpc, f.codeMask) ^ expected) & recorded) != 0) return -1;
    return whole(walk.endIndex) && good(walk.endIndex) ? walk.endIndex + 1 : walk.endIndex;
}

// Parity failures spread over the whole frame: a weak track, or one written at another
// coercivity or density. Sets the counts and returns true when so.
bool Weak(TrackInspection& out, const View& v, const Format& f, int start) {
    if (!f.checked) return false;
    const int bpc = f.settings.bpc;
    const int count = std::min(LastDataCharacter(v, start, bpc) + 1, kMaxTrackTextLength);
    int bad = 0;
    int first = -1;
    int last = -1;
    for (int k = 0; k < count; ++k) {
        if (start + (k + 1) * bpc > v.Length()) break;  // an incomplete last character
        if (!BadParity(f, v.Code(start + k * bpc, f.codeMask))) continue;
        ++bad;
        if (first < 0) first = k;
        last = k;
    }
    if (bad < 3 || bad * 8 < count || (last - first + 1) * 2 < count) return false;
    out.weakCharacters = bad;
    out.weakOf = count;
    return true;
}

// Back to the characters as the program's read cuts them, from bit 0, when a start sentinel
// found after stray bits explains nothing.
void UndoFrame(TrackInspection& out, const View& v, const Format& f, const Walk& decode) {
    const bool begins = v.Code(0, f.codeMask) == f.startCode;
    CutCharacters(out, v, f, 0, begins, begins ? decode.endIndex : -1);
    out.strayOnes = out.strayNearest = out.strayFarthest = 0;
}

void Explain(TrackInspection& out, int limitBits) {
    const std::string& bits = out.bits;
    const View v(bits, false, false, limitBits);
    const Format f = MakeFormat(out.settings);
    const int bpc = f.settings.bpc;
    const int searchedFromStart = SearchedCharacters(limitBits, 0, bpc);
    const int dataChars = CeilDiv(v.DataEnd(), bpc);
    const Walk decode = WalkFrame(ViewCodes(v, f, 0), f, 0, searchedFromStart, true, dataChars);

    if (out.decodes) {
        out.finding = Finding::kDecodes;
        CutCharacters(out, v, f, 0, true, decode.endIndex);
        if (decode.endIndex >= 0) {
            const int after = (decode.endIndex + 2) * bpc;
            out.activityBits = std::max(v.DataEnd() - after, 0);
        }
        return;
    }
    // The decode's own failure, as it cut the track. Should the walk not see one, the decode
    // still had the last word: its failure is then told as at the start.
    out.failure = decode.failure.value_or(TrackFailure{FailureKind::kParity, 0, 0});

    // 1. Stray bits: the configured reading, forward, after them.
    // With the same code for both sentinels the program's read stops at the first character:
    // no frame after stray bits, nor a repaired one, would read as it says.
    const bool framesRead = f.startCode != f.endCode;
    FrameTables tables;
    if (auto reading = framesRead ? FirstReading(v, f, tables) : std::nullopt;
        reading && reading->first > 0) {
        const auto [start, end] = *reading;
        out.finding = Finding::kStrayBits;
        CutCharacters(out, v, f, start, true, end);
    }

    // Where the frame begins: bit 0 when the read begins with the start sentinel, else the
    // first start sentinel where a track can begin.
    int start = -1;
    if (out.finding == Finding::kStrayBits) {
        start = out.startBit;
    } else if (BeginsWithStart(v, f)) {
        start = 0;
    } else {
        for (int p = 1; p < v.DataEnd(); ++p) {
            if (v.Code(p, f.codeMask) == f.startCode && CanBegin(v, p)) {
                start = p;
                break;
            }
        }
    }
    if (start > 0) {
        out.strayOnes = v.OnesIn(0, start);
        out.strayFarthest = start - v.FirstOne();
        int nearest = start - 1;
        while (nearest > 0 && v.Bit(nearest) == 0) --nearest;
        out.strayNearest = start - nearest;
    }
    if (out.finding == Finding::kStrayBits) {
        const Walk frame = WalkFrame(ViewCodes(v, f, start), f, start,
                                     SearchedCharacters(limitBits, start, bpc), false, dataChars);
        out.activityBits = std::max(v.DataEnd() - (start + (frame.endIndex + 2) * bpc), 0);
        return;
    }

    const Walk frame =
        start >= 0 ? WalkFrame(ViewCodes(v, f, start), f, start,
                               SearchedCharacters(limitBits, start, bpc), start == 0, dataChars)
                   : decode;
    CutCharacters(out, v, f, std::max(start, 0), start >= 0, start >= 0 ? frame.endIndex : -1);

    // The read itself begins with the start sentinel: what is wrong lies in this frame, before
    // any other reading is looked at. After stray bits the frame may be chance, and another
    // reading with a parity check comes first.
    const bool readBegins = start == 0 && v.Code(0, f.codeMask) == f.startCode;
    const auto endedEarly = [&] {
        if (start < 0) return false;
        const int after = EndedAfter(v, f, start, frame);
        if (after < 0) return false;
        out.finding = Finding::kEndedEarly;
        out.endedAfter = after;
        return true;
    };
    const auto repaired = [&] {
        // A frame with no end sentinel within a track's length is not one bit away from one.
        const bool tooLong = frame.failure && frame.failure->kind == FailureKind::kTooLong;
        if (start < 0 || !f.checked || !framesRead || tooLong) return false;
        const int last = frame.endIndex >= 0
                             ? frame.endIndex + 1
                             : std::min(LastDataCharacter(v, start, bpc), kMaxTrackTextLength);
        std::vector<int> bad;
        for (int k = 0; k <= last && k <= kMaxTrackTextLength; ++k) {
            if (BadParity(f, v.Code(start + k * bpc, f.codeMask))) bad.push_back(k);
        }
        std::optional<BitRepair> repair;
        Finding kind = Finding::kBitError;
        if (bad.size() == 1) repair = FindBitError(v, f, start, bad.front(), frame.endIndex);
        if (!repair) {
            repair = FindBitSlip(v, f, start, !bad.empty() ? bad.front() : last);
            kind = Finding::kBitSlip;
        }
        if (!repair || static_cast<int>(repair->text.size()) - 2 < kMinRepairedData) return false;
        out.finding = kind;
        out.repair = std::move(repair);
        return true;
    };
    const auto otherReading = [&] {
        if (out.candidates.empty()) return false;
        const TrackCandidate& best = out.candidates.front();
        const bool mine = best.configured && best.direction == SwipeDirection::kForward &&
                          best.polarity == BitPolarity::kNormal;
        if (!best.checked || mine) return false;
        out.finding = Finding::kOtherReading;
        return true;
    };
    // 2 to 5: the swipe ended early (no end sentinel and nothing wrong before the last one bit,
    // or the stream ends inside the end sentinel or the LRC); one wrong bit, or one lost or extra
    // bit, located by parity and LRC; another reading with a parity check.
    if (readBegins && (endedEarly() || repaired())) return;
    if (!readBegins && !out.candidates.empty() && out.candidates.front().checked) {
        // A start sentinel after stray bits that explains nothing was chance: the characters
        // are shown as the program's read cuts them.
        if (otherReading()) {
            if (start > 0) UndoFrame(out, v, f, decode);
            return;
        }
    }
    if (otherReading()) return;
    if (!readBegins && (repaired() || endedEarly())) return;
    if (start > 0) {
        UndoFrame(out, v, f, decode);
        start = -1;
    }
    // 6. Weak everywhere, when nothing reads it.
    if (out.candidates.empty() && Weak(out, v, f, std::max(start, 0))) {
        out.finding = Finding::kWeak;
        return;
    }
    out.finding = Finding::kFailure;
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

    // The verdict: the program's decode of these bytes, exactly as a read decodes a track.
    TrackBuffer buffer{};
    if (n > 0) std::memcpy(buffer.data(), raw.data(), n);  // an empty track may have no bytes
    const int limitBits = static_cast<int>(RawLength(buffer) * 8);
    const bool failed = (settings.bpc == 8 ? DecodeRawTrack(buffer)
                                           : DecodeTrack(buffer, settings)) == TrackDecode::kFailed;
    out.decodes = !failed;
    if (out.decodes) out.text = buffer.data();
    if (failed && !out.formatKnown) {
        // Raw bytes that do not fit a track text as hex, or a width the decode cannot cut.
        out.failure = TrackFailure{FailureKind::kTooLong, static_cast<int>(n), 0};
        out.finding = Finding::kFailure;
    }
    if (out.blank) return out;

    std::optional<std::pair<int, std::string>> decoded;
    if (out.formatKnown && out.decodes) {
        const View v(out.bits, false, false, limitBits);
        const Format f = MakeFormat(settings);
        const Walk w =
            WalkFrame(ViewCodes(v, f, 0), f, 0, SearchedCharacters(limitBits, 0, settings.bpc),
                      true, CeilDiv(v.DataEnd(), settings.bpc));
        if (w.endIndex >= 0) decoded.emplace(w.endIndex, out.text);
    }
    out.candidates = SearchCandidates(out.bits, limitBits, settings, decoded);
    if (out.formatKnown) Explain(out, limitBits);
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

std::string_view FindingName(Finding finding) {
    switch (finding) {
        case Finding::kDecodes:
            return "decodes";
        case Finding::kStrayBits:
            return "stray_bits";
        case Finding::kBitError:
            return "bit_error";
        case Finding::kBitSlip:
            return "bit_slip";
        case Finding::kEndedEarly:
            return "ended_early";
        case Finding::kOtherReading:
            return "other_reading";
        case Finding::kWeak:
            return "weak";
        case Finding::kFailure:
            break;
    }
    return "failure";
}

std::string_view RepairKindName(RepairKind kind) {
    switch (kind) {
        case RepairKind::kFlip:
            return "flip";
        case RepairKind::kLost:
            return "lost";
        case RepairKind::kExtra:
            break;
    }
    return "extra";
}

namespace {

std::string Printf(const char* format, auto... args) {
    char line[200];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

std::string Plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string FormatName(const TrackSettings& s) {
    if (!BpcKnown(s.bpc)) return Printf("%d bpc: raw bytes, no characters", s.bpc);
    return Printf("%d bpc, %s parity, start '%c', end '%c'", s.bpc,
                  std::string(ParityName(Normalised(s).parity)).c_str(), s.startSentinel,
                  s.endSentinel);
}

// "with parity and LRC correct", or for a format without a parity bit the weaker claim.
std::string Checks(bool checked) {
    return checked ? "with parity and LRC correct"
                   : "with its LRC correct (no parity bit in this format: the reading may be "
                     "chance)";
}

std::string StrayText(const TrackInspection& in) {
    if (in.strayOnes == 0) {
        return Plural(in.startBit, "zero bit", "zero bits") +
               " before the start sentinel (a reader starts at the first one bit)";
    }
    std::string text = Plural(in.strayOnes, "stray bit", "stray bits");
    if (in.strayNearest == in.strayFarthest) {
        text += " " + std::to_string(in.strayNearest) + " bits";
    } else {
        text += ", " + std::to_string(in.strayNearest) + " to " + std::to_string(in.strayFarthest) +
                " bits,";
    }
    return text + " before the start sentinel";
}

bool FrameChecked(const TrackInspection& in) {
    const int bpc = in.settings.bpc;
    return (bpc == 5 || bpc == 7) && in.settings.parity <= kParityEven;
}

std::string FrameText(const TrackInspection& in) {
    std::string text;
    for (int k = 0; k <= in.endSentinelIndex; ++k) {
        text.push_back(in.characters[static_cast<std::size_t>(k)].text);
    }
    return text;
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
            return Printf("no end sentinel in the %d characters searched", f.position);
        case FailureKind::kTooLong:
            return Printf("no end sentinel within %d characters: too long for a track",
                          kMaxTrackTextLength);
    }
    return "";
}

std::string RepairText(const BitRepair& r) {
    const std::string where = r.lastBit > r.bit
                                  ? Printf("the run of bits %d to %d", r.bit, r.lastBit)
                                  : Printf("bit %d", r.bit);
    switch (r.kind) {
        case RepairKind::kFlip:
            return Printf("bit %d, in character %d, reads %c and should read %c", r.bit,
                          r.character, r.reads, r.reads == '1' ? '0' : '1');
        case RepairKind::kLost:
            return Printf("a %c bit is missing at %s, in character %d (a bit slip)", r.reads,
                          where.c_str(), r.character);
        case RepairKind::kExtra:
            return Printf("one bit too many at %s, in character %d (a bit slip)", where.c_str(),
                          r.character);
    }
    return "";
}

std::string CandidateWay(const TrackCandidate& c) {
    const bool reversed = c.direction == SwipeDirection::kReversed;
    const bool inverted = c.polarity == BitPolarity::kInverted;
    std::string way;
    if (reversed && inverted) {
        way = "read backwards with ones and zeros swapped";
    } else if (reversed) {
        way = "read backwards";
    } else if (inverted) {
        way = "with ones and zeros swapped";
    }
    if (!c.configured) {
        if (!way.empty()) way += ", ";
        way += Printf("in %d bits per character, %s", c.format.bpc,
                      c.format.parity == kParityOdd    ? "odd parity"
                      : c.format.parity == kParityEven ? "even parity"
                                                       : "no parity");
    }
    return way;
}

std::string ExplanationText(const TrackInspection& in) {
    if (in.blank) return "no data recorded";
    if (!in.formatKnown) {
        return in.decodes ? "raw bytes, as hex: " + in.text
                          : Printf("raw bytes: %zu bytes do not fit a track text as hex",
                                   in.bits.size() / 8);
    }
    if (in.decodes) return in.text;
    const std::string frameText = FrameText(in);
    const std::string stray = in.startBit > 0 ? StrayText(in) + "; after it " : "";
    switch (in.finding) {
        case Finding::kDecodes:
            break;
        case Finding::kStrayBits:
            return stray + "the track reads " + frameText + " " + Checks(FrameChecked(in));
        case Finding::kBitError:
        case Finding::kBitSlip: {
            std::string text = stray + RepairText(*in.repair);
            text += in.repair->kind == RepairKind::kFlip   ? "; repaired, the track reads "
                    : in.repair->kind == RepairKind::kLost ? "; with it put back the track reads "
                                                           : "; without it the track reads ";
            return text + in.repair->text + " with parity and LRC correct (a repair, not the read)";
        }
        case Finding::kEndedEarly:
            return stray + "the swipe ended early after " +
                   Plural(in.endedAfter, "character", "characters") +
                   (in.endSentinelIndex < 0 ? ", before the end sentinel" : "");
        case Finding::kOtherReading: {
            const TrackCandidate& c = in.candidates.front();
            std::string text = CandidateWay(c) + ", the track reads " + c.text + " " + Checks(true);
            if (c.direction == SwipeDirection::kReversed) text += ": the card was swiped backwards";
            if (c.polarity == BitPolarity::kInverted) {
                text += c.direction == SwipeDirection::kReversed ? ", and " : ": ";
                text += "the reader takes ones as the idle level";
            }
            if (c.direction == SwipeDirection::kForward && c.polarity == BitPolarity::kNormal) {
                text += ": the track was written in another format";
            }
            return text;
        }
        case Finding::kWeak:
            return Printf(
                "%d of %d characters fail their parity check, spread over the track: the "
                "track is weak, or was written at another coercivity or density",
                in.weakCharacters, in.weakOf);
        case Finding::kFailure:
            break;
    }
    std::string text;
    if (in.startBit < 0) {
        text = "the read does not begin with the start sentinel '" +
               std::string(1, in.settings.startSentinel) + "'; ";
    } else if (in.startBit > 0) {
        text = StrayText(in) + "; ";
    }
    text += in.failure ? FailureText(*in.failure) : "it fails its check";
    // A reading without a parity check is mentioned, never taken for the answer.
    if (!in.candidates.empty() && !in.candidates.front().checked) {
        const TrackCandidate& c = in.candidates.front();
        const std::string way = CandidateWay(c);
        text += "; " + (way.empty() ? std::string("from bit ") + std::to_string(c.startBit) : way) +
                ", it reads " + c.text + ", but without a parity check that may be chance";
    }
    return text;
}

std::string VerdictText(const TrackInspection& in) {
    if (in.blank) return "blank: " + ExplanationText(in);
    const std::string explanation = ExplanationText(in);
    if (!in.decodes) return "the read fails: " + explanation;
    std::string text = "good: " + explanation;
    if (const std::string note = ActivityNote(in); !note.empty()) text += "; but " + note;
    return text;
}

std::string ActivityNote(const TrackInspection& in) {
    if (in.endSentinelIndex < 0) return {};
    const int frameBits = (in.endSentinelIndex + 2) * std::max<int>(in.settings.bpc, 1);
    if (in.activityBits < kActivityBits || in.activityBits <= frameBits) return {};
    return Plural(in.endSentinelIndex + 1, "character", "characters") + ", then " +
           std::to_string(in.activityBits) + " bits of activity after the end sentinel";
}

std::vector<std::string> RenderInspection(const TrackInspection& in, int trackNumber) {
    std::vector<std::string> lines;
    lines.push_back(Printf("Track %d (%s)", trackNumber, FormatName(in.settings).c_str()));
    lines.push_back(Printf("  %zu bits as read, %d leading and %d trailing clocking zeros",
                           in.bits.size(), in.leadingZeroBits, in.trailingZeroBits));
    if (in.ignoredBytes > 0) {
        lines.push_back(
            Printf("  %zu bytes beyond the first %zu not inspected: a track holds "
                   "no more",
                   in.ignoredBytes, kMaxInspectedBytes));
    }
    if (in.blank) {
        lines.push_back("  " + VerdictText(in));
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
        if (c.role == CharacterRole::kStartSentinel) g.insert(0, "SS:");
        if (c.role == CharacterRole::kEndSentinel) g.insert(0, "ES:");
        if (c.role == CharacterRole::kLrc) g.insert(0, "LRC:");
        if (c.parity == ParityVerdict::kBad) g += "!";
        groups.push_back(g);
        cutEnd = c.bitOffset + c.bitCount;
    }
    if (!in.characters.empty() && cutEnd < static_cast<int>(in.bits.size())) {
        AddBracketed(std::string_view(in.bits).substr(static_cast<std::size_t>(cutEnd)), groups);
    }
    lines.push_back("  bits:");
    WrapGroups(groups, lines);

    if (in.formatKnown) {
        if (in.startBit >= 0) lines.push_back(Printf("  start sentinel at bit %d", in.startBit));
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
            const std::string code = c.masked ? "--  " : Printf("0x%02X", unsigned{c.code});
            if (in.repair && in.repair->character == static_cast<int>(k)) {
                role += in.repair->kind == RepairKind::kFlip ? "  <- wrong bit" : "  <- bit slip";
            }
            lines.push_back(Printf("    %3zu  %5d  %-7s  %s  %c     %-6s  0x%02X%s", k, c.bitOffset,
                                   CharacterBits(in, c).c_str(), code.c_str(), c.text,
                                   std::string(ParityVerdictName(c.parity)).c_str(),
                                   unsigned{c.lrc}, role.c_str()));
        }
    } else {
        lines.push_back("  not cut into characters: the configured format is raw bytes");
    }
    lines.push_back("  " + VerdictText(in));

    if (in.candidates.empty()) {
        lines.push_back("  candidates: none decode");
    } else {
        lines.push_back("  candidates:");
        for (std::size_t i = 0; i < in.candidates.size(); ++i) {
            const TrackCandidate& c = in.candidates[i];
            std::string tag = c.configured ? "  (configured)" : c.iso ? "  (ISO)" : "";
            if (!c.checked) tag += "  (no parity check)";
            lines.push_back(
                Printf("    %zu. %s, %s, %s, bit %d%s", i + 1, FormatName(c.format).c_str(),
                       std::string(DirectionName(c.direction)).c_str(),
                       std::string(PolarityName(c.polarity)).c_str(), c.startBit, tag.c_str()));
            lines.push_back("       " + c.text);
        }
    }
    return lines;
}

}  // namespace tollwick
