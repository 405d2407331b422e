// Figures of the track inspector on made-up damage, for the record rather than as a test:
//   - how often noise yields a reading (a candidate) or an explanation that sounds good (stray
//     bits, a repaired bit, another reading), on 10,000 random streams and 10,000 bursty ones;
//   - the fraction of single-bit errors whose bit is named and whose repair is the text written;
//   - the fraction of bit slips (one bit lost or doubled) located and repaired to the text;
//   - the slowest input met, and the mean time per track.
// Seeded: the same figures on every run.  tollwick_inspect_figures [streams]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "carddata/track_codec.h"
#include "carddata/track_format.h"
#include "carddata/track_inspector.h"

namespace {

using tollwick::Finding;
using tollwick::TrackInspection;
using tollwick::TrackSettings;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes Pack(const std::string& bits) {
    Bytes bytes((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') bytes[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
    }
    return bytes;
}

std::string FrameBits(const std::string& text, const TrackSettings& s) {
    std::string bits;
    const Bytes written = tollwick::EncodeTrack(text, s).value();
    for (uint8_t b : written) {
        for (int i = 0; i < 8; ++i) bits.push_back(((b >> i) & 1) ? '1' : '0');
    }
    return bits.substr(0, (text.size() + 3) * s.bpc);
}

// Times per track: each input is inspected three times and keeps its fastest time, since a
// shared machine stalls now and then.
struct Timing {
    double totalMs = 0;
    double slowestMs = 0;
    long count = 0;
};

TrackInspection Timed(const Bytes& bytes, const TrackSettings& s, Timing& t) {
    double best = 1e9;
    TrackInspection in;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        in = tollwick::InspectTrack(bytes, s);
        best =
            std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    t.totalMs += best;
    t.slowestMs = std::max(t.slowestMs, best);
    ++t.count;
    return in;
}

bool SoundsGood(const TrackInspection& in) {
    return in.finding == Finding::kStrayBits || in.finding == Finding::kBitError ||
           in.finding == Finding::kBitSlip || in.finding == Finding::kOtherReading;
}

// A stream as a reader delivers it: from its first one bit on.
std::string FromFirstOne(std::string bits) {
    const std::size_t first = bits.find('1');
    return first == std::string::npos ? "1" : bits.substr(first);
}

void Noise(const char* name, int streams, bool bursty, std::mt19937& random, Timing& t) {
    int candidates = 0;
    int goodSounding = 0;
    int programDecodes = 0;
    std::uniform_int_distribution<int> bit(0, 1);
    for (int n = 0; n < streams; ++n) {
        std::string bits;
        if (!bursty) {
            const int length = std::uniform_int_distribution<int>(40, 800)(random);
            for (int i = 0; i < length; ++i) bits.push_back(bit(random) ? '1' : '0');
        } else {
            const int bursts = std::uniform_int_distribution<int>(2, 8)(random);
            for (int b = 0; b < bursts; ++b) {
                bits += std::string(std::uniform_int_distribution<int>(16, 80)(random), '0');
                const int length = std::uniform_int_distribution<int>(8, 60)(random);
                for (int i = 0; i < length; ++i) bits.push_back(bit(random) ? '1' : '0');
            }
            bits += std::string(24, '0');
        }
        const TrackSettings& s = tollwick::kIsoTrackSet[n % 2];
        const TrackInspection in = Timed(Pack(FromFirstOne(bits)), s, t);
        if (in.decodes) ++programDecodes;
        if (!in.decodes && !in.candidates.empty()) {
            ++candidates;
            if (std::getenv("FIGURES_DEBUG")) {
                const auto& c = in.candidates.front();
                std::printf("%s: %d bits %s %s %s checked %d start %d\n", name, c.format.bpc,
                            std::string(tollwick::DirectionName(c.direction)).c_str(),
                            std::string(tollwick::PolarityName(c.polarity)).c_str(), c.text.c_str(),
                            c.checked, c.startBit);
            }
        }
        if (!in.decodes && SoundsGood(in)) ++goodSounding;
    }
    std::printf(
        "%-22s %6d streams: %5.2f %% with a candidate, %5.2f %% with a good-sounding "
        "explanation (the program's own read accepts %.2f %%)\n",
        name, streams, 100.0 * candidates / streams, 100.0 * goodSounding / streams,
        100.0 * programDecodes / streams);
}

std::string RandomText(std::mt19937& random, const TrackSettings& s) {
    const bool narrow = s.bpc < 6;
    const std::string alphabet = narrow ? "0123456789=" : "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ^/";
    const int length = narrow ? std::uniform_int_distribution<int>(8, 37)(random)
                              : std::uniform_int_distribution<int>(10, 76)(random);
    std::string text;
    for (int i = 0; i < length; ++i) {
        text.push_back(
            alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)]);
    }
    return text;
}

void Damage(int tracks, std::mt19937& random, Timing& t) {
    int flips = 0, flipsNamed = 0, flipsLikeCut = 0;
    int slips = 0, slipsLocated = 0, slipsAsFlip = 0;
    for (int n = 0; n < tracks; ++n) {
        const TrackSettings& s = tollwick::kIsoTrackSet[n % 2];
        const std::string text = RandomText(random, s);
        const std::string written = std::string(1, s.startSentinel) + text + s.endSentinel;
        const std::string frame = FrameBits(text, s);
        const int at =
            std::uniform_int_distribution<int>(0, static_cast<int>(frame.size()) - 1)(random);

        std::string flipped = frame + std::string(24, '0');
        flipped[static_cast<std::size_t>(at)] ^= 1;
        ++flips;
        if (flipped.find('1', static_cast<std::size_t>(at)) == std::string::npos) {
            ++flipsLikeCut;  // the last one bit lost: what a swipe that stopped there looks like
        }
        const TrackInspection f = Timed(Pack(FromFirstOne(flipped)), s, t);
        const int shift = static_cast<int>(flipped.find('1'));
        if (f.finding == Finding::kBitError && f.repair->bit + shift == at &&
            f.repair->text == written) {
            ++flipsNamed;
        } else if (std::getenv("FIGURES_DEBUG")) {
            std::printf("flip %d of %s: %s\n", at, written.c_str(),
                        tollwick::VerdictText(f).c_str());
        }

        std::string slipped = frame;
        const bool lost = n % 4 < 2;
        const int p = std::max(at, 1);
        if (lost) {
            slipped.erase(static_cast<std::size_t>(p), 1);
        } else {
            slipped.insert(static_cast<std::size_t>(p), 1, slipped[static_cast<std::size_t>(p)]);
        }
        slipped += std::string(24, '0');
        ++slips;
        const TrackInspection sl = Timed(Pack(slipped), s, t);
        if (sl.finding == Finding::kBitSlip && sl.repair->text == written && sl.repair->bit <= p &&
            p <= sl.repair->lastBit + 1) {
            ++slipsLocated;
        } else if (sl.finding == Finding::kBitError && sl.repair->text == written) {
            ++slipsAsFlip;  // a slip at the frame's end that one flipped bit also explains
        }
    }
    std::printf(
        "single-bit errors      %6d tracks: %5.2f %% named and repaired exactly "
        "(%.2f %% were the last one bit, which reads as a swipe that ended there)\n",
        flips, 100.0 * flipsNamed / flips, 100.0 * flipsLikeCut / flips);
    std::printf(
        "bit slips              %6d tracks: %5.2f %% located and repaired exactly, "
        "%.2f %% repaired as one wrong bit\n",
        slips, 100.0 * slipsLocated / slips, 100.0 * slipsAsFlip / slips);
}

// The inputs that cost most: a whole track of start sentinels and no end sentinel, alternating
// bits, all ones, a long track of every kind of damage.
void Worst(Timing& t) {
    std::string sentinels;
    while (sentinels.size() < 8 * tollwick::kMaxInspectedBytes) sentinels += "11010";
    std::string alternating;
    while (alternating.size() < 8 * tollwick::kMaxInspectedBytes) alternating += "10";
    for (const std::string& bits :
         {sentinels, alternating, std::string(8 * tollwick::kMaxInspectedBytes, '1')}) {
        for (const TrackSettings& s : tollwick::kIsoTrackSet) {
            Bytes bytes = Pack(bits);
            bytes.resize(tollwick::kMaxInspectedBytes);
            Timed(bytes, s, t);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int streams = argc > 1 ? std::atoi(argv[1]) : 10000;
    std::mt19937 random(20261207);
    Timing noise, damage, worst;
    Noise("random noise", streams, false, random, noise);
    Noise("bursty noise", streams, true, random, noise);
    Damage(streams, random, damage);
    Worst(worst);
    std::printf(
        "time per track: %.3f ms mean on noise, %.3f ms on damaged tracks; slowest %.3f ms "
        "(noise), %.3f ms (damage), %.3f ms (worst cases)\n",
        noise.totalMs / noise.count, damage.totalMs / damage.count, noise.slowestMs,
        damage.slowestMs, worst.slowestMs);
    return 0;
}
