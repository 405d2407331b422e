// Track encoding and decoding, checked against known bit patterns of the reader's raw mode.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "carddata/hex.h"
#include "carddata/track_codec.h"
#include "track_bits.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;

TrackBuffer RawBuffer(const Bytes& bytes) {
    TrackBuffer buffer{};
    std::memcpy(buffer.data(), bytes.data(), bytes.size());
    return buffer;
}

constexpr TrackSettings kTrack2Iso{5, kParityOdd, ';', '?'};
constexpr TrackSettings kTrack1Iso{7, kParityOdd, '%', '?'};

TEST(Codec, KnownBitPatterns) {
    EXPECT_EQ(EncodeTrack("1234", kTrack2Iso), (Bytes{0x2B, 0x88, 0x49, 0x3E, 0x04}));
    EXPECT_EQ(EncodeTrack("A1", kTrack1Iso), (Bytes{0xC5, 0x70, 0xF4, 0xA3, 0x02}));
    EXPECT_EQ(EncodeTrack("", kTrack2Iso), Bytes{});
    // Even parity: the LRC's data bits are 0 and it gets no parity bit (the 35th bit).
    EXPECT_EQ(EncodeTrack("1234", {5, kParityEven, ';', '?'}).value()[4] & 0x04, 0);
    // With no parity, data characters carry no bit but sentinels still get one when their ones
    // are odd: ';' (1011) gets 0x10, '?' (1111) does not.
    EXPECT_EQ(SentinelCode(';', {5, kParityNone, ';', '?'}), 0x1B);
    EXPECT_EQ(SentinelCode('?', {5, kParityNone, ';', '?'}), 0x0F);
    // 4 and 6 bits per character never carry a parity bit, whatever the parity code.
    EXPECT_EQ(SentinelCode(';', {4, kParityOdd, ';', '?'}), 0x0B);
    EXPECT_EQ(SentinelCode('%', {6, kParityEven, '%', '?'}), 0x05);

    TrackBuffer buffer = RawBuffer({0xD4, 0x11, 0x92, 0x7C, 0x20});
    EXPECT_EQ(DecodeTrack(buffer, kTrack2Iso), TrackDecode::kDecoded);
    EXPECT_STREQ(buffer.data(), ";1234?");
    TrackBuffer empty{};
    EXPECT_EQ(DecodeTrack(empty, kTrack2Iso), TrackDecode::kDecoded);
    EXPECT_STREQ(empty.data(), "{NO DATA}");
    // '~' has the 6-bit code of '>': it is written and found as that code, and the text ends
    // there instead of running on into the LRC and leftover bits.
    const TrackSettings tilde{7, kParityOdd, '%', '~'};
    buffer = RawBuffer(testing::Recorded("AB", tilde));
    ASSERT_EQ(DecodeTrack(buffer, tilde), TrackDecode::kDecoded);
    EXPECT_STREQ(buffer.data(), "%AB>");
}

TEST(Codec, RawType) {
    // Bytes to hex text (none: an empty text, not a placeholder), and read text given back to
    // the writer is the same bit stream again.
    const TrackSet raw{{{8, 0, '%', '?'}, {8, 0, ';', '?'}, {8, 0, ';', '?'}}};
    const Bytes stream = {0x3C, 0x00, 0xFF, 0x81};
    CardTracks card;
    card.track[0] = RawBuffer({0x01, 0xA0, 0x00, 0x00});
    card.track[2] = RawBuffer(stream);
    EXPECT_EQ(DecodeTracks(card, raw), 0);
    EXPECT_EQ(card.Text(0), "01A0");
    EXPECT_EQ(card.Text(1), "");
    EXPECT_EQ(*EncodeRawTrack(std::string(card.Text(2))),
              stream);  // its bytes read alike either way
    const Bytes kReversed = {0x80, 0xC4, 0xA2, 0xE6, 0x91, 0xD5, 0xB3, 0xF7, 0x80};
    // Hex digits of either case, each byte bit-reversed; any other character reads as F, an odd
    // last digit is dropped; 255 bytes at most.
    for (const auto& [hex, bytes] :
         {std::pair<std::string, std::optional<Bytes>>{"01a0", Bytes{0x80, 0x05}},
          {"0123456789abCDEF01", kReversed},
          {"ABC", Bytes{0xD5}},
          {"G1", Bytes{0x8F}},
          {std::string(511, 'f'), Bytes(255, 0xFF)},
          {std::string(512, '0'), std::nullopt}}) {
        EXPECT_EQ(EncodeRawTrack(hex), bytes) << hex;
        uint8_t out[kMaxTrackBytes];
        EXPECT_EQ(EncodeRawTrackInto(hex, out, sizeof out), bytes ? bytes->size() : kEncodeFailed);
    }
    Bytes run = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01};
    ReverseBits(run.data(), run.data(), run.size());  // in place, eight bytes at a time
    EXPECT_EQ(run, kReversed);

    // 128 bytes would make 256 characters: refused, not cut; 127 make 254.
    card.track[1] = RawBuffer(Bytes(128, 0x11));
    card.track[2] = RawBuffer(Bytes(127, 0x11));
    EXPECT_EQ(DecodeTracks(card, raw), 2);
    EXPECT_EQ(card.Text(2), std::string(254, '1'));
}

TEST(Hex, Conversions) {
    const uint8_t bytes[] = {0x00, 0x9F, 0xA0, 0xFF};
    char text[9] = "x";
    BytesToHex(bytes, 0, text);
    EXPECT_STREQ(text, "");
    BytesToHex(bytes, 4, text);
    EXPECT_STREQ(text, "009FA0FF");
    // Either case; a character that is not a digit reads as F, and so does an odd end's zero.
    uint8_t out[2] = {};
    for (auto [hex, first, second] :
         {std::tuple{"1a2B", 0x1A, 0x2B}, {"G1", 0xF1, 0x2B}, {"ABC", 0xAB, 0xCF}}) {
        HexToBytes(hex, static_cast<int>(std::strlen(hex)), out);
        EXPECT_EQ(out[0], first) << hex;
        EXPECT_EQ(out[1], second) << hex;
    }
}

TEST(Split, ReadBlocks) {
    // The reader's block followed by any number of zero fill bytes splits to the same tracks;
    // a track's clocking zeros after its data are delivered with it.
    const Bytes block =
        BuildReadBlock({Bytes{0x1B, 0x01, 0x00, 0x7F}, Bytes{0x80, 0, 0}, Bytes(255, 0x1B)});
    for (std::size_t fill = 0; fill < 200; ++fill) {
        Bytes padded = block;
        padded.resize(block.size() + fill, 0);
        CardTracks card;
        TrackLengths lengths{};
        ASSERT_EQ(SplitReadBlock(padded.data(), padded.size(), card, &lengths), SplitResult::kOk)
            << fill;
        EXPECT_EQ(lengths, (TrackLengths{4, 3, 255}));
        EXPECT_EQ(RawLength(card.track[1]), 1u);
    }

    CardTracks card;
    // Only a track-1 block: tracks 2 and 3 decode as no data, whatever the card held before.
    card.SetText(1, "LAST CARD");
    const Bytes onlyTrack1 = {0x1B, 's', 0x1B, 0x01, 0x02, 0xAA, 0xBB, 0x00, '?', 0x1C, '0'};
    ASSERT_EQ(SplitReadBlock(onlyTrack1.data(), onlyTrack1.size(), card), SplitResult::kOk);
    EXPECT_EQ(RawLength(card.track[0]), 2u);
    EXPECT_EQ(RawLength(card.track[1]), 0u);

    // A bad header leaves the buffers untouched.
    card.SetText(1, "KEEP");
    const Bytes bad = {0x1B, 'x', 0x1B, 0x01, 0x01, 0x22, 0, 0, 0, 0};
    EXPECT_EQ(SplitReadBlock(bad.data(), bad.size(), card), SplitResult::kBadHeader);
    EXPECT_EQ(card.Text(1), "KEEP");

    // A length running past the bytes received copies only what was received.
    const Bytes truncated = {0x1B, 's', 0x1B, 0x01, 0xFF, 0x11, 0x22, 0x33, 0x44, 0x55};
    TrackLengths lengths{9, 9, 9};
    EXPECT_EQ(SplitReadBlock(truncated.data(), truncated.size(), card, &lengths), SplitResult::kOk);
    EXPECT_EQ(lengths, (TrackLengths{5, 0, 0}));
}

}  // namespace
}  // namespace tollwick
