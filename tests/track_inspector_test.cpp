// The track inspector on tracks written by the program's own encoder, then shifted, turned,
// inverted and damaged as other readers and worn cards deliver them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "carddata/track_codec.h"
#include "carddata/track_inspector.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr TrackSettings kIso1{7, kParityOdd, '%', '?'};
constexpr TrackSettings kIso2{5, kParityOdd, ';', '?'};

// The bits of a track as the reader returns it: the first bit is bit 7 of the first byte.
std::string BitsOf(const Bytes& readOrder) {
    std::string bits;
    for (uint8_t byte : readOrder) {
        for (int b = 7; b >= 0; --b) bits.push_back(((byte >> b) & 1) ? '1' : '0');
    }
    return bits;
}

// A text written by the program and read back: the written bytes with each byte's bit order
// reversed.
Bytes Recorded(std::string_view text, const TrackSettings& s) {
    Bytes bytes = EncodeTrack(text, s).value();
    for (uint8_t& b : bytes) b = ReverseBits(b);
    return bytes;
}

// The frame's bits alone: start sentinel, text, end sentinel and LRC, no fill bits.
std::string FrameBits(std::string_view text, const TrackSettings& s) {
    return BitsOf(Recorded(text, s)).substr(0, (text.size() + 3) * s.bpc);
}

std::string Zeros(std::size_t n) {
    return std::string(n, '0');
}
std::string Reversed(std::string bits) {
    std::reverse(bits.begin(), bits.end());
    return bits;
}
std::string Inverted(std::string bits) {
    for (char& c : bits) c = c == '1' ? '0' : '1';
    return bits;
}

// Inspects a bit string, as read-order bytes with the last byte filled with zeros.
TrackInspection Inspect(const std::string& bits, const TrackSettings& s) {
    Bytes bytes((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') bytes[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
    }
    return InspectTrack(bytes, s);
}

std::string Describe(const TrackCandidate& c) {
    return std::to_string(c.format.bpc) + " " + std::string(ParityName(c.format.parity)) + " " +
           std::string(DirectionName(c.direction)) + " " + std::string(PolarityName(c.polarity)) +
           " " + c.text;
}
// The best reading, or "none".
std::string First(const TrackInspection& in) {
    return in.candidates.empty() ? "none" : Describe(in.candidates[0]);
}

TEST(TrackInspector, GoodTrackAsTheReaderDeliversIt) {
    // ;1234? in ISO track 2, the bytes the reader returns for it (first bit in bit 7).
    const TrackInspection in = InspectTrack(Bytes{0xD4, 0x11, 0x92, 0x7C, 0x20}, kIso2);
    EXPECT_EQ(in.bits, "1101010000010001100100100111110000100000");
    EXPECT_EQ(in.leadingZeroBits, 0);
    EXPECT_EQ(in.trailingZeroBits, 5);
    EXPECT_EQ(in.startBit, 0);
    EXPECT_FALSE(in.failure);
    EXPECT_EQ(in.text, ";1234?");
    std::string roles;
    for (const InspectedCharacter& c : in.characters) roles += CharacterRoleName(c.role)[0];
    EXPECT_EQ(roles, "sddddel");
    EXPECT_EQ(in.endSentinelIndex, 5);
    EXPECT_EQ(in.lrcIndex, 6);
    const InspectedCharacter& three = in.characters[3];
    EXPECT_EQ(three.bitOffset, 15);
    EXPECT_EQ(CharacterBits(in, three), "11001");
    EXPECT_EQ(three.code, 0x13);  // '3' with its parity bit
    EXPECT_EQ(three.text, '3');
    EXPECT_EQ(three.parity, ParityVerdict::kOk);
    EXPECT_EQ(three.lrc, 0x0B ^ 0x01 ^ 0x02 ^ 0x03);
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

TEST(TrackInspector, StartSentinelFoundAfterClockingZeros) {
    const std::string text = "B4000001234567899^TOLLWICK/CARD^2912101";
    const std::string good = "7 odd forward normal %" + text + "?";
    const std::string frame = FrameBits(text, kIso1);
    // 13 clocking zeros before (not a whole byte) and 30 after.
    const TrackInspection in = Inspect(Zeros(13) + frame + Zeros(30), kIso1);
    EXPECT_EQ(in.leadingZeroBits, 13);
    EXPECT_EQ(in.startBit, 13);
    EXPECT_EQ(in.onesBeforeStart, 0);
    EXPECT_FALSE(in.failure);
    EXPECT_EQ(in.text, "%" + text + "?");
    EXPECT_EQ(First(in), good);
    EXPECT_EQ(in.candidates[0].startBit, 13);

    // Noise right after the LRC: the track still decodes, and its reading is the first candidate.
    const TrackInspection tail = Inspect(frame + "0001", kIso1);
    EXPECT_FALSE(tail.failure);
    EXPECT_EQ(First(tail), good);

    // A damaged copy first, the good one after idle bits: the good one is taken.
    std::string damaged = frame;
    damaged[7 * 3 + 1] ^= 1;
    const TrackInspection second = Inspect(damaged + Zeros(20) + frame, kIso1);
    EXPECT_EQ(second.startBit, static_cast<int>(damaged.size()) + 20);
    EXPECT_FALSE(second.failure);

    // A noise bit before the start sentinel: still found, the noise counted.
    const TrackInspection noisy = Inspect(std::string(1, '1') + Zeros(20) + frame, kIso1);
    EXPECT_EQ(noisy.startBit, 21);
    EXPECT_EQ(noisy.onesBeforeStart, 1);
    EXPECT_FALSE(noisy.failure);
    EXPECT_EQ(First(noisy), good);
}

TEST(TrackInspector, FirstFailureAndItsPosition) {
    const std::string good = FrameBits("12345678", kIso2);  // characters 0..10: SS, 8, ES, LRC
    auto flip = [&](std::initializer_list<int> bitsToFlip) {
        std::string bits = good;
        for (int b : bitsToFlip) bits[static_cast<std::size_t>(b)] ^= 1;  // '0' <-> '1'
        return Inspect(bits + Zeros(8), kIso2);
    };

    // One bit of character 4 (a data character): parity there, although character 7 is bad too.
    TrackInspection in = flip({4 * 5 + 2, 7 * 5 + 1});
    EXPECT_EQ(in.failure, (TrackFailure{FailureKind::kParity, 4, 20}));
    EXPECT_EQ(in.characters[4].parity, ParityVerdict::kBad);
    EXPECT_EQ(in.characters[3].parity, ParityVerdict::kOk);
    EXPECT_EQ(in.lrcIndex, 10);  // the characters are still cut up to the LRC

    // Two bits of one data character keep its parity but not the LRC.
    EXPECT_EQ(flip({6 * 5, 6 * 5 + 1}).failure, (TrackFailure{FailureKind::kLrc, 10, 50}));

    // The end sentinel turned into another character with good parity ('?' 11111 -> 00111 '<').
    in = flip({9 * 5, 9 * 5 + 1});
    ASSERT_TRUE(in.failure);
    EXPECT_EQ(in.failure->kind, FailureKind::kNoEndSentinel);
    EXPECT_EQ(in.endSentinelIndex, -1);

    // The start sentinel damaged the same way (11010 -> 00010): none anywhere in the track.
    in = flip({0, 1});
    ASSERT_TRUE(in.failure);
    EXPECT_EQ(in.failure->kind, FailureKind::kNoStartSentinel);
    EXPECT_EQ(in.startBit, -1);
    EXPECT_EQ(in.characters.front().role, CharacterRole::kUnframed);
    EXPECT_EQ(in.characters.front().bitOffset, 3);  // cut from the first one bit

    // A track in another format (even parity) holds the start sentinel's pattern inside its
    // data, but not where a track begins: no start sentinel, and no chance frame reads as good.
    in = InspectTrack(Recorded("4000001234567899=29121010000000000000", {5, kParityEven, ';', '?'}),
                      kIso2);
    ASSERT_TRUE(in.failure);
    EXPECT_EQ(in.failure->kind, FailureKind::kNoStartSentinel);
    EXPECT_EQ(in.text, "");

    // No end sentinel within 255 characters, but one after: too long for a track. Two frames
    // back to back, the first without its end sentinel, the second with a wrong LRC (so that it
    // does not decode by itself).
    std::string first = FrameBits(std::string(200, '1'), kIso2);
    first[201 * 5] ^= 1;      // its end sentinel 11111 becomes 01111
    first[201 * 5 + 4] ^= 1;  // ... and 01110, '>' with good parity
    std::string second = FrameBits(std::string(100, '2'), kIso2);
    second[50 * 5] ^= 1;  // '2' 01000 becomes 11001, '3' with good parity
    second[50 * 5 + 4] ^= 1;
    in = Inspect(first + second, kIso2);
    EXPECT_EQ(in.failure, (TrackFailure{FailureKind::kTooLong, 255, 255 * 5}));
    EXPECT_EQ(in.endSentinelIndex, 203 + 101);
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
        const std::string track = Zeros(20) + FrameBits(text, s) + Zeros(20);
        // Swiped backwards, captured inverted (a run of ones first), or both: the first candidate
        // when configured, and found by the search under the ISO track 2 format.
        for (const TrackSettings& configured : {s, kIso2}) {
            if (!natural && configured == kIso2) continue;
            for (int way = 0; way < 4; ++way) {
                std::string bits = (way & 1) ? Reversed(track) : track;
                if (way & 2) bits = Inverted(bits);
                const TrackInspection in = Inspect(bits, configured);
                const std::string expected = std::to_string(s.bpc) + " " +
                                             std::string(ParityName(s.parity)) +
                                             ((way & 1) ? " reversed" : " forward") +
                                             ((way & 2) ? " inverted " : " normal ") +
                                             s.startSentinel + text + s.endSentinel;
                const std::string where =
                    expected + " configured " + std::to_string(configured.bpc);
                if (configured == s) {
                    EXPECT_EQ(First(in), expected) << where;
                    EXPECT_EQ(in.failure.has_value(), way != 0) << where;
                } else {
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
    EXPECT_FALSE(in.failure);
    EXPECT_EQ(in.text, ";1:0");
    EXPECT_EQ(in.lrcIndex, 4);
    EXPECT_EQ(First(Inspect(Reversed(bits), zeroEnd)), "5 even reversed normal ;1:0");
    // The same, but with one bits after the data where the end sentinel should be.
    std::string ones = bits;
    ones[16] = '1';
    EXPECT_TRUE(Inspect(ones, zeroEnd).failure);
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
    EXPECT_EQ(Describe(in.candidates[0]), "5 even forward normal ;123?");
    EXPECT_TRUE(in.candidates[0].configured);
    EXPECT_EQ(Describe(in.candidates[1]), "7 odd forward normal %ABC?");
    EXPECT_EQ(Describe(in.candidates[2]), "5 odd reversed normal ;999?");
    EXPECT_TRUE(in.candidates[1].iso && in.candidates[2].iso);
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
    EXPECT_TRUE(in.blank);
    EXPECT_EQ(in.ignoredBytes, 1100 - kMaxInspectedBytes);
    EXPECT_EQ(in.leadingZeroBits, static_cast<int>(8 * kMaxInspectedBytes));
    EXPECT_FALSE(in.failure);
    EXPECT_TRUE(in.candidates.empty());

    // Raw Type: nothing to cut, but the search still names the format on the card.
    in = InspectTrack(Recorded("1234", kIso2), TrackSettings{8, kParityOdd, ';', '?'});
    EXPECT_FALSE(in.formatKnown);
    EXPECT_TRUE(in.characters.empty());
    EXPECT_FALSE(in.failure);
    EXPECT_EQ(First(in), "5 odd forward normal ;1234?");

    std::string bits = FrameBits("1234", kIso2);
    bits[2 * 5] ^= 1;  // character 2
    std::string all;
    for (const std::string& line : RenderInspection(Inspect(Zeros(3) + bits, kIso2), 2))
        all += line + "\n";
    for (const char* shown : {"Track 2", "[000] SS:11010 10000 11000! 11001",
                              "fails: the parity of character 2 (bit 13)", "candidates: none"})
        EXPECT_NE(all.find(shown), std::string::npos) << shown << "\n" << all;
}

}  // namespace
}  // namespace tollwick
