// The track inspector on tracks written by the program's own encoder, then shifted, turned,
// inverted, cut and damaged as other readers, dirty heads and worn cards deliver them. Its verdict
// is always the program's own decode; what it adds is checked against the damage done.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "carddata/hex.h"
#include "carddata/track_codec.h"
#include "carddata/track_inspector.h"
#include "track_bits.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::BitsOf;
using testing::BytesOf;
using testing::Recorded;

constexpr TrackSettings kIso1{7, kParityOdd, '%', '?'};
constexpr TrackSettings kIso2{5, kParityOdd, ';', '?'};

// The frame's bits alone: start sentinel, text, end sentinel and LRC, no fill bits.
std::string FrameBits(std::string_view text, const TrackSettings& s) {
    return BitsOf(Recorded(text, s)).substr(0, (text.size() + 3) * s.bpc);
}

std::string Zeros(std::size_t n) {
    return std::string(n, '0');
}
std::string Flipped(std::string bits, const std::vector<int>& at) {
    for (int b : at) bits[static_cast<std::size_t>(b)] ^= 1;  // '0' <-> '1'
    return bits;
}
std::string Reversed(std::string bits) {
    std::reverse(bits.begin(), bits.end());
    return bits;
}
std::string Inverted(std::string bits) {
    for (char& c : bits) c = c == '1' ? '0' : '1';
    return bits;
}

TrackInspection Inspect(const std::string& bits, const TrackSettings& s) {
    return InspectTrack(BytesOf(bits), s);
}
Bytes FromHex(std::string_view hex) {
    Bytes bytes(hex.size() / 2);
    HexToBytes(std::string(hex).c_str(), static_cast<int>(hex.size()), bytes.data());
    return bytes;
}

// The program's own read of the same bytes: its text, or "{ERROR}".
std::string ProgramRead(const Bytes& bytes, const TrackSettings& s) {
    TrackBuffer buffer{};
    std::memcpy(buffer.data(), bytes.data(), std::min(bytes.size(), kTrackBufferSize - 1));
    return DecodeTrack(buffer, s) == TrackDecode::kFailed ? "{ERROR}" : std::string(buffer.data());
}

std::string Describe(const TrackCandidate& c) {
    return std::to_string(c.format.bpc) + " " + std::string(ParityName(c.format.parity)) + " " +
           std::string(DirectionName(c.direction)) + " " + std::string(PolarityName(c.polarity)) +
           " " + c.text;
}
// Where the decode fails ("parity 4@20": character 4, bit 20) or "decodes", and how the inspection
// cut the stream: the start bit, the zeros before and after the data, the indexes of the end
// sentinel and LRC, and each character's role by its first letter, '!' after one whose parity is
// wrong.
std::string Cut(const TrackInspection& in) {
    std::string out = in.failure ? std::string(FailureKindName(in.failure->kind)) + " " +
                                       std::to_string(in.failure->position) + "@" +
                                       std::to_string(in.failure->bitOffset)
                      : in.decodes ? "decodes"
                                   : "no failure";
    out += ", start " + std::to_string(in.startBit) + " zeros " +
           std::to_string(in.leadingZeroBits) + "/" + std::to_string(in.trailingZeroBits) + " es " +
           std::to_string(in.endSentinelIndex) + " lrc " + std::to_string(in.lrcIndex) + " ";
    for (const InspectedCharacter& c : in.characters) {
        out += CharacterRoleName(c.role)[0];
        if (c.parity == ParityVerdict::kBad) out += '!';
    }
    return out;
}
// The best reading, or "none".
std::string First(const TrackInspection& in) {
    return in.candidates.empty() ? "none" : Describe(in.candidates[0]);
}

TEST(TrackInspector, GoodTrackAsTheReaderDeliversIt) {
    // ;1234? in ISO track 2, the bytes the reader returns for it (first bit in bit 7).
    const TrackInspection in = InspectTrack(Bytes{0xD4, 0x11, 0x92, 0x7C, 0x20}, kIso2);
    EXPECT_EQ(in.bits, "1101010000010001100100100111110000100000");
    EXPECT_EQ(Cut(in), "decodes, start 0 zeros 0/5 es 5 lrc 6 sddddel");
    EXPECT_EQ(in.text, ";1234?");
    EXPECT_EQ(VerdictText(in), "good: ;1234?");
    // '3' at bit 15, with its parity bit, and the LRC so far.
    const InspectedCharacter& three = in.characters[3];
    EXPECT_EQ(std::tuple(three.bitOffset, CharacterBits(in, three), three.code, three.text,
                         three.parity, three.lrc),
              std::tuple(15, "11001", 0x13, '3', ParityVerdict::kOk, 0x0B ^ 0x01 ^ 0x02 ^ 0x03));
    EXPECT_EQ(in.characters[6].lrc, 0);
    // Only that one: inverted, this stream's characters all have even parity, and reversed it
    // holds short runs that decode by chance; neither has idle bits around it.
    ASSERT_EQ(in.candidates.size(), 1u);
    EXPECT_EQ(First(in), "5 odd forward normal ;1234?");
    EXPECT_TRUE(in.candidates[0].configured);

    // Reversed, this track 1 holds ';2?' in 5 bits with even parity, directly followed by more
    // data; and track 2 ';5?' also reads as ';:>?' in 4 bits without parity.
    const std::string text1 = "JDIF58618H1E9I5J71FJJADBDHC702G0D9";
    const TrackInspection one = InspectTrack(Recorded(text1, kIso1), kIso1);
    EXPECT_EQ(one.candidates.size(), 1u);
    EXPECT_EQ(First(one), "7 odd forward normal %" + text1 + "?");
    const TrackInspection five = InspectTrack(Recorded("5", kIso2), kIso2);
    EXPECT_EQ(five.candidates.size(), 1u);
    EXPECT_EQ(First(five), "5 odd forward normal ;5?");
}

// What operators saw, each the way they typed it.
TEST(TrackInspector, VerdictIsTheProgramsReadAndSaysWhatLiesAroundIt) {
    const std::pair<const char*, const char*> cases[] = {
        // A stray bit 21 bits before an intact ;1234?: the program's read fails, so does the
        // inspector's verdict, and it says what decodes after the noise.
        {"800006A08C93E1",
         "the read fails: 1 stray bit 21 bits before the start sentinel; after it the track "
         "reads ;1234? with parity and LRC correct"},
        // Noise close to the data: still found.
        {"81A82324F840",
         "the read fails: 1 stray bit 7 bits before the start sentinel; after it the track reads "
         ";1234? with parity and LRC correct"},
        // A swipe that stopped inside character 12 is no parity error.
        {"D56B5AD6B5AD6B5A",
         "the read fails: the swipe ended early after 12 characters, before the end sentinel"},
    };
    for (const auto& [hex, verdict] : cases) {
        const TrackInspection in = InspectTrack(FromHex(hex), kIso2);
        EXPECT_EQ(ProgramRead(FromHex(hex), kIso2), "{ERROR}") << hex;
        EXPECT_FALSE(in.decodes) << hex;
        EXPECT_EQ(VerdictText(in), verdict) << hex;
    }

    // Stray bits at any distance before the start sentinel, from none between to far away;
    // three of them are counted with their distances.
    const std::string frame = FrameBits("1234", kIso2);
    for (int gap = 0; gap <= 40; ++gap) {
        const TrackInspection in =
            Inspect("1" + Zeros(static_cast<std::size_t>(gap)) + frame, kIso2);
        EXPECT_EQ(std::tuple(in.decodes, in.finding, in.startBit, in.strayNearest),
                  std::tuple(false, Finding::kStrayBits, gap + 1, gap + 1))
            << gap << " " << VerdictText(in);
    }
    const TrackInspection three = Inspect("1001" + Zeros(30) + "1" + Zeros(4) + frame, kIso2);
    EXPECT_EQ(VerdictText(three),
              "the read fails: 3 stray bits, 5 to 39 bits, before the start sentinel; after it "
              "the track reads ;1234? with parity and LRC correct");

    // Clocking zeros before the data reach the decode only from a hand-made stream.
    const TrackInspection zeros = Inspect(Zeros(13) + frame, kIso2);
    EXPECT_FALSE(zeros.decodes);
    EXPECT_EQ(zeros.finding, Finding::kStrayBits);
    EXPECT_EQ(First(zeros), "5 odd forward normal ;1234?");

    // A good read followed by much more: said, the verdict still the read's.
    std::string noise;
    for (int i = 0; i < 420; ++i) noise += (i * 7 % 5 == 0 || i % 11 == 3) ? '1' : '0';
    noise.back() = '1';
    const TrackInspection busy = Inspect(FrameBits("12", kIso2) + noise, kIso2);
    EXPECT_TRUE(busy.decodes);
    EXPECT_EQ(VerdictText(busy),
              "good: ;12?; but 4 characters, then 420 bits of activity after the end sentinel");
    EXPECT_EQ(ActivityNote(Inspect(FrameBits("12", kIso2) + "1", kIso2)), "");
}

TEST(TrackInspector, ACutSwipeEndedEarlyAndOneWrongLostOrExtraBitIsNamedAndRepaired) {
    for (const auto& [text, s] :
         {std::pair<std::string, TrackSettings>{"4000001234567899=2912101", kIso2},
          {"B4000001234567899^TOLLWICK/CARD^2912101", kIso1}}) {
        const std::string frame = FrameBits(text, s);
        // Every place a swipe can stop, with the reader's zero fill: the read decodes (what is
        // missing read as zeros anyway) or ended early, never a parity error. Where a recording
        // stops cannot be told from zeros: the characters up to the last one bit count.
        for (std::size_t cut = 1; cut < frame.size(); ++cut) {
            const TrackInspection in = Inspect(frame.substr(0, cut), s);
            if (in.decodes) continue;
            EXPECT_EQ(in.finding, Finding::kEndedEarly) << cut << ": " << VerdictText(in);
            EXPECT_LE(in.endedAfter, static_cast<int>(cut) / s.bpc) << cut;
            EXPECT_GE(in.endedAfter, static_cast<int>(cut) / s.bpc - 1) << cut;
        }
        // Every bit flipped: parity and LRC name the bit, and the repaired reading is the one
        // written, marked as a repair; the last one bit lost looks like a swipe that stopped.
        const std::string written = std::string(1, s.startSentinel) + text + s.endSentinel;
        for (std::size_t bit = 0; bit < frame.size(); ++bit) {
            std::string bits = frame + Zeros(16);
            bits[bit] ^= 1;
            const TrackInspection in = Inspect(bits, s);
            ASSERT_FALSE(in.decodes) << bit;
            if (bits.find('1', bit) == std::string::npos) {
                EXPECT_EQ(in.finding, Finding::kEndedEarly) << bit;
                continue;
            }
            ASSERT_EQ(in.finding, Finding::kBitError) << bit << ": " << VerdictText(in);
            EXPECT_EQ(std::tuple(in.repair->bit, in.repair->character, in.repair->text),
                      std::tuple(static_cast<int>(bit), static_cast<int>(bit) / s.bpc, written));
        }
    }
    // The only bit that makes parity and LRC agree turns the start sentinel into the end
    // sentinel ('?' in place of ';', the LRC written for it): no repair the read could take.
    const TrackInspection nowhere = Inspect(Flipped(FrameBits("1234", kIso2), {4, 32, 34}), kIso2);
    EXPECT_FALSE(nowhere.decodes);
    EXPECT_FALSE(nowhere.repair.has_value()) << VerdictText(nowhere);
    EXPECT_EQ(VerdictText(Inspect(Flipped(FrameBits("12345678", kIso2) + Zeros(8), {42}), kIso2)),
              "the read fails: bit 42, in character 8, reads 1 and should read 0; repaired, the "
              "track reads ;12345678? with parity and LRC correct (a repair, not the read)");

    const std::string frame = FrameBits("4000001234567899=2912101", kIso2);
    const std::string written = ";4000001234567899=2912101?";
    // Bit 61 lost (in the run 0 at 60..61), and bit 43 doubled.
    for (const auto& [kind, at] : {std::pair{RepairKind::kLost, 61}, {RepairKind::kExtra, 43}}) {
        std::string bits = frame;
        const auto where = static_cast<std::size_t>(at);
        kind == RepairKind::kLost ? bits.erase(where, 1) : bits.insert(where, 1, frame[where]);
        const TrackInspection in = Inspect(bits + Zeros(16), kIso2);
        ASSERT_EQ(in.finding, Finding::kBitSlip) << VerdictText(in);
        EXPECT_EQ(std::pair(in.repair->kind, in.repair->text), std::pair(kind, written));
        EXPECT_TRUE(in.repair->bit <= at && at <= in.repair->lastBit) << in.repair->bit;
        EXPECT_EQ(VerdictText(in).find("missing") != std::string::npos, kind == RepairKind::kLost)
            << VerdictText(in);
    }
}

TEST(TrackInspector, WeakTrackAndOtherWaysOfReadingIt) {
    // Every fourth character one bit wrong: weak all over, not just a first failure.
    std::string weak = FrameBits("4000001234567899=29121010000000000000", kIso2);
    for (std::size_t k = 2; k < 38; k += 4) weak[k * 5 + 1] ^= 1;
    const TrackInspection in = Inspect(weak + Zeros(8), kIso2);
    EXPECT_EQ(in.finding, Finding::kWeak);
    EXPECT_EQ(VerdictText(in),
              "the read fails: 9 of 40 characters fail their parity check, spread over the "
              "track: the track is weak, or was written at another coercivity or density");

    // Swiped backwards: said in words.
    const std::string track = FrameBits("4000001234567899=2912101", kIso2) + Zeros(20);
    const TrackInspection back = Inspect(Reversed(track), kIso2);
    EXPECT_EQ(back.finding, Finding::kOtherReading);
    EXPECT_EQ(VerdictText(back),
              "the read fails: read backwards, the track reads ;4000001234567899=2912101? with "
              "parity and LRC correct: the card was swiped backwards");
    // A reading with no parity check is never the answer on its own.
    const TrackInspection six =
        Inspect(Reversed(FrameBits("ABCDEFGHIJ", {6, kParityNone, '%', '?'}) + Zeros(20)), kIso2);
    EXPECT_EQ(six.finding, Finding::kFailure);
    EXPECT_NE(VerdictText(six).find("without a parity check that may be chance"), std::string::npos)
        << VerdictText(six);
}

TEST(TrackInspector, FirstFailureAsTheDecodeMeetsIt) {
    const std::string good = FrameBits("12345678", kIso2);  // characters 0..10: SS, 8, ES, LRC

    // One bit of character 4 and one of 7: the first, nothing is repaired, and the characters
    // are still cut up to the LRC; two bits of one data character keep its parity but not the
    // LRC; the end sentinel turned into another character with good parity ('?' 11111 -> 00111
    // '<'); the start sentinel damaged the same way (11010 -> 00010).
    const std::tuple<std::vector<int>, const char*, const char*> cases[] = {
        {{4 * 5 + 2, 7 * 5 + 1},
         "parity 4@20, start 0 zeros 0/9 es 9 lrc 10 sdddd!ddd!del",
         "the read fails: the parity of character 4 (bit 20) is wrong"},
        {{6 * 5, 6 * 5 + 1},
         "lrc 10@50, start 0 zeros 0/9 es 9 lrc 10 sddddddddel",
         "the read fails: the LRC (character 10, bit 50) does not match the data"},
        {{9 * 5, 9 * 5 + 1},
         "no_end_sentinel 13@65, start 0 zeros 0/9 es -1 lrc -1 sdddddddddd",
         "the read fails: the swipe ended early after 11 characters, before the end sentinel"},
        {{0, 1},
         "lrc 10@50, start -1 zeros 3/9 es -1 lrc -1 uuuuuuuuuuu",
         "the read fails: the read does not begin with the start sentinel ';'; the LRC "
         "(character 10, bit 50) does not match the data"},
    };
    for (const auto& [flipped, cut, verdict] : cases) {
        const TrackInspection in = Inspect(Flipped(good, flipped) + Zeros(8), kIso2);
        EXPECT_EQ(Cut(in), cut);
        EXPECT_EQ(VerdictText(in), verdict) << cut;
    }

    // A track in another format (even parity) holds the start sentinel's pattern inside its
    // data, but not where a track begins: no chance frame reads as good.
    TrackInspection in = InspectTrack(
        Recorded("4000001234567899=29121010000000000000", {5, kParityEven, ';', '?'}), kIso2);
    EXPECT_FALSE(in.decodes);
    EXPECT_NE(in.finding, Finding::kStrayBits);
    EXPECT_EQ(in.text, "");

    // No end sentinel within 255 characters, but one after: too long for a track.
    // Its end sentinel 11111 becomes 01110, '>' with good parity; the second's '2' 01000
    // becomes 11001, '3' with good parity.
    const std::string first = Flipped(FrameBits(std::string(200, '1'), kIso2), {1005, 1009});
    const std::string second = Flipped(FrameBits(std::string(100, '2'), kIso2), {250, 254});
    in = Inspect((first + second).substr(0, 8 * kMaxInspectedBytes), kIso2);
    EXPECT_EQ(Cut(in).substr(0, 42), "too_long 255@1275, start 0 zeros 0/8 es -1");
}

TEST(TrackInspector, EveryFormatIsFoundEveryWay) {
    // The format; false for sentinels the search does not try unless configured.
    const std::pair<TrackSettings, bool> cases[] = {
        {{4, kParityNone, ';', '?'}, true}, {{5, kParityOdd, ';', '?'}, true},
        {{5, kParityEven, ';', '?'}, true}, {{5, kParityNone, ';', '?'}, true},
        {{6, kParityNone, '%', '?'}, true}, {{6, kParityNone, '!', '?'}, true},
        {{7, kParityOdd, '%', '?'}, true},  {{7, kParityEven, '%', '?'}, true},
        {{7, kParityNone, '%', '?'}, true}, {{5, kParityEven, '=', '>'}, false},
        {{7, kParityOdd, 'A', ']'}, false},
    };
    for (const auto& [s, natural] : cases) {
        const std::string text = s.bpc < 6 ? "0123456789:<=" : "ABC 123/^XYZ";
        const std::string track = FrameBits(text, s) + Zeros(20);
        // Swiped backwards, captured inverted (a run of ones first), or both: the first candidate
        // when configured, and found by the search under the ISO track 2 format.
        for (const TrackSettings& configured : {s, kIso2}) {
            if (!natural && configured == kIso2) continue;
            for (int way = 0; way < 4; ++way) {
                std::string bits = (way & 1) ? Reversed(track) : track;
                if (way & 2) bits = Inverted(bits);
                const TrackInspection in = Inspect(bits, configured);
                EXPECT_EQ(in.decodes, ProgramRead(BytesOf(bits), configured) != "{ERROR}");
                const std::string expected = std::to_string(s.bpc) + " " +
                                             std::string(ParityName(s.parity)) +
                                             ((way & 1) ? " reversed" : " forward") +
                                             ((way & 2) ? " inverted " : " normal ") +
                                             s.startSentinel + text + s.endSentinel;
                const std::string where =
                    expected + " configured " + std::to_string(configured.bpc);
                if (configured == s && !in.decodes) {  // only a stream turned round fails
                    EXPECT_EQ(First(in), expected) << where;
                    EXPECT_NE(way, 0) << where;
                } else {
                    // A stream that begins with a run of ones may decode as "?" alone, as the
                    // program reads it; the reading is among the candidates all the same.
                    EXPECT_TRUE(std::any_of(
                        in.candidates.begin(), in.candidates.end(),
                        [&](const TrackCandidate& c) { return Describe(c) == expected; }))
                        << where;
                }
            }
        }
    }
}

TEST(TrackInspector, EndSentinelOfZeroBitsAfterTheData) {
    // '0' with even parity is 00000, and with this text the LRC is 00000 too: nothing recorded
    // after the data tells them from clocking zeros. The program's decode finds them there.
    const TrackSettings zeroEnd{5, kParityEven, ';', '0'};
    const std::string bits = BitsOf(Recorded("1:", zeroEnd));
    EXPECT_EQ(bits, "11011100010101000000000000000000");
    const TrackInspection in = Inspect(bits, zeroEnd);
    EXPECT_EQ(in.text, ";1:0");
    EXPECT_EQ(Cut(in), "decodes, start 0 zeros 0/18 es 3 lrc 4 sddel");
    // Reversed, the stream begins with zeros, and the program reads "0" from them; the reading
    // backwards is a candidate all the same.
    const TrackInspection back = Inspect(Reversed(bits), zeroEnd);
    EXPECT_EQ(back.text, "0");
    EXPECT_EQ(Describe(back.candidates.at(1)), "5 even reversed normal ;1:0");
    // The same, but with one bits after the data where the end sentinel should be.
    EXPECT_FALSE(Inspect(Flipped(bits, {16}), zeroEnd).decodes);
}

TEST(TrackInspector, CandidatesRankedConfiguredThenIsoThenTheRest) {
    const TrackSettings userType{5, kParityEven, ';', '?'};
    // Three recordings on one stream, far apart: ISO track 1 forward, the configured format
    // forward, ISO track 2 backwards.
    const std::string bits = Zeros(20) + FrameBits("ABC", kIso1) + Zeros(40) +
                             FrameBits("123", userType) + Zeros(40) +
                             Reversed(FrameBits("999", kIso2)) + Zeros(20);
    const TrackInspection in = Inspect(bits, userType);
    ASSERT_GE(in.candidates.size(), 3u);
    std::string top;  // the first three, marked "c" when configured and "i" when ISO
    for (const TrackCandidate& c : std::span(in.candidates).first(3))
        top += Describe(c) + (c.configured ? " c" : "") + (c.iso ? " i" : "") + "/";
    EXPECT_EQ(top,
              "5 even forward normal ;123? c/7 odd forward normal %ABC? i/5 odd reversed normal "
              ";999? i/");
    // The configured track also reads with no parity check: the same text from the same bits is
    // listed once, also when the configured format is the one without parity.
    for (const uint8_t parity : {kParityEven, kParityNone}) {
        const TrackInspection again = Inspect(bits, {5, parity, ';', '?'});
        EXPECT_EQ(First(again), "5 " + std::string(ParityName(parity)) + " forward normal ;123?");
        EXPECT_EQ(std::count_if(again.candidates.begin(), again.candidates.end(),
                                [](const TrackCandidate& c) { return c.text == ";123?"; }),
                  1);
    }
}

TEST(TrackInspector, BlankRawAndRendered) {
    TrackInspection in = InspectTrack(Bytes(1100, 0), kIso2);
    EXPECT_TRUE(in.blank && in.candidates.empty());
    EXPECT_EQ(in.text, kNoDataText);
    EXPECT_EQ(in.ignoredBytes, 1100 - kMaxInspectedBytes);
    EXPECT_EQ(Cut(in), "decodes, start -1 zeros " + std::to_string(8 * kMaxInspectedBytes) +
                           "/0 es -1 lrc -1 ");

    // Raw Type: the text is the decode's hex, and the search still names the format on the card.
    in = InspectTrack(Recorded("1234", kIso2), TrackSettings{8, kParityOdd, ';', '?'});
    EXPECT_FALSE(in.formatKnown);
    EXPECT_EQ(Cut(in), "decodes, start -1 zeros 0/5 es -1 lrc -1 ");  // no characters cut
    EXPECT_EQ(in.text, "D411927C20");
    EXPECT_EQ(First(in), "5 odd forward normal ;1234?");
    in = InspectTrack(Bytes(200, 0xAA), TrackSettings{8, kParityOdd, ';', '?'});
    EXPECT_FALSE(in.decodes);  // 200 bytes of hex do not fit a track text

    std::string all;  // bit 10 wrong, in character 2
    const std::string bits = Flipped(FrameBits("1234", kIso2), {10});
    for (const std::string& line : RenderInspection(Inspect(bits, kIso2), 2)) all += line + "\n";
    for (const char* shown :
         {"Track 2", "SS:11010 10000 11000! 11001", "<- wrong bit",
          "the read fails: bit 10, in character 2, reads 1 and should read 0", "candidates: none"})
        EXPECT_NE(all.find(shown), std::string::npos) << shown << "\n" << all;
}

}  // namespace
}  // namespace tollwick
