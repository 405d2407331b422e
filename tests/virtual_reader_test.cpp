// The virtual reader: recorded bit streams, auto-swipe, faults and the deck file.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "carddata/track_codec.h"
#include "device/reader_commands.h"
#include "device/virtual/virtual_reader.h"

namespace tollwick {
namespace {

using namespace std::chrono_literals;

TEST(VirtualReader, AutoSwipeAdvancesThroughTheDeck) {
    VirtualReader reader(VirtualReader::Options{}, SampleDeck());
    VirtualBackend backend(reader);
    ReaderLink link(backend);
    ReaderCommands commands(link);
    ASSERT_EQ(commands.ConnectScan(), 1);
    reader.SetAutoSwipe(3, 20ms, true);  // ISO, AAMVA, CA DMV samples in turn
    const char* expected[] = {";4000001234567899=29121010000000000000?",
                              ";6360141234567890=2912198001010?",
                              ";6360141234567891=2912198502020?"};
    for (const char* track2 : expected) {
        ASSERT_EQ(commands.StartRawRead(), kReaderOk);
        CardTracks card;
        int received = 0;
        for (int i = 0; i < 10 && received <= 0; ++i) received = commands.ReceiveTracks(card);
        ASSERT_EQ(received, kReaderOk);
        // Track 2 is ISO on every sample; tracks 1 and 3 differ by data type.
        DecodeTracks(card, kIsoTrackSet);
        EXPECT_EQ(card.Text(1), track2);
    }
    EXPECT_EQ(reader.NextAutoSwipeCard(), 6u);
}

TEST(VirtualReader, InstantAutoSwipeStillDeliversWriteAndEraseStatus) {
    VirtualReader reader;
    VirtualBackend backend(reader);
    ReaderLink link(backend);
    ReaderCommands commands(link);
    ASSERT_EQ(commands.ConnectScan(), 1);
    reader.SetAutoSwipe(3, 0ms, false);
    TrackTexts texts{};
    std::strcpy(texts[1].data(), "1234");
    ASSERT_EQ(commands.WriteTracks(texts, kIsoTrackSet), kReaderOk);
    int status = 0;
    for (int i = 0; i < 5 && status == 0; ++i) status = commands.WaitWriteStatus();
    EXPECT_EQ(status, kReaderOk);
    ASSERT_EQ(commands.EraseTracks(7), kReaderOk);
    status = 0;
    for (int i = 0; i < 5 && status == 0; ++i) status = commands.WaitEraseStatus();
    EXPECT_EQ(status, kReaderOk);
    EXPECT_TRUE(reader.Card(3)->tracks[1].empty());
}

TEST(VirtualReader, SwipeWithoutArmingReadsNothing) {
    VirtualReader reader;
    VirtualBackend backend(reader);
    ReaderLink link(backend);
    ReaderCommands commands(link);
    ASSERT_EQ(commands.ConnectScan(), 1);
    EXPECT_TRUE(reader.Swipe(0));
    CardTracks card;
    EXPECT_EQ(commands.ReceiveTracks(card), kNoSwipe);
    EXPECT_FALSE(reader.Swipe(99));
    // A reset disarms the reader.
    ASSERT_EQ(commands.StartRawRead(), kReaderOk);
    EXPECT_EQ(reader.ArmedFor(), VirtualReader::Armed::kRead);
    ASSERT_EQ(commands.ResetReader(), kReaderOk);
    EXPECT_EQ(reader.ArmedFor(), VirtualReader::Armed::kIdle);
}

TEST(VirtualReader, EmptyTrackInAWriteLeavesTheCardsTrack) {
    VirtualReader reader;
    VirtualBackend backend(reader);
    ReaderLink link(backend);
    ReaderCommands commands(link);
    ASSERT_EQ(commands.ConnectScan(), 1);
    const auto before = reader.Card(3)->tracks;
    TrackTexts texts{};
    std::strcpy(texts[0].data(), "NEW NAME");
    ASSERT_EQ(commands.WriteTracks(texts, kIsoTrackSet), kReaderOk);
    std::size_t changed = 99;
    reader.SetOnCardChanged([&changed](std::size_t index) { changed = index; });
    reader.Swipe(3);
    ASSERT_EQ(commands.WaitWriteStatus(), kReaderOk);
    EXPECT_EQ(changed, 3u);
    const auto after = reader.Card(3)->tracks;
    EXPECT_NE(after[0], before[0]);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_EQ(after[2], before[2]);
}

TEST(VirtualReader, RejectNextFailsOneWriteOrEraseOnly) {
    VirtualReader reader;
    VirtualBackend backend(reader);
    ReaderLink link(backend);
    ReaderCommands commands(link);
    ASSERT_EQ(commands.ConnectScan(), 1);
    TrackTexts texts{};
    std::strcpy(texts[1].data(), "1234");
    int changes = 0;
    reader.SetOnCardChanged([&changes](std::size_t) { ++changes; });

    reader.SetRejectNext(true);
    ASSERT_EQ(commands.WriteTracks(texts, kIsoTrackSet), kReaderOk);
    EXPECT_TRUE(reader.RejectNextPending());  // spent by the card, not by the command
    reader.Swipe(0);
    EXPECT_EQ(commands.WaitWriteStatus(), -2);
    EXPECT_FALSE(reader.RejectNextPending());
    ASSERT_EQ(commands.WriteTracks(texts, kIsoTrackSet), kReaderOk);
    reader.Swipe(0);
    EXPECT_EQ(commands.WaitWriteStatus(), kReaderOk);
    EXPECT_EQ(changes, 1);

    reader.SetRejectNext(true);
    EXPECT_EQ(commands.EraseTracks(2), -1);
    EXPECT_FALSE(reader.RejectNextPending());
    ASSERT_EQ(commands.EraseTracks(2), kReaderOk);
    reader.Swipe(0);
    EXPECT_EQ(commands.WaitEraseStatus(), kReaderOk);
    EXPECT_EQ(changes, 2);
}

TEST(Deck, JsonRoundTripAndBadFiles) {
    const Deck deck = SampleDeck();
    auto again = DeckFromJson(DeckToJson(deck));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->cards.size(), deck.cards.size());
    for (std::size_t i = 0; i < deck.cards.size(); ++i) {
        EXPECT_EQ(again->cards[i].name, deck.cards[i].name);
        EXPECT_EQ(again->cards[i].tracks, deck.cards[i].tracks);
    }
    std::string error;
    EXPECT_FALSE(DeckFromJson("{", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(DeckFromJson(R"({"cards": [{"track1": "ABC"}]})"));  // odd digits
    EXPECT_FALSE(DeckFromJson(R"({"cards": [{"track1": "ZZ"}]})"));   // not hex
    EXPECT_FALSE(DeckFromJson(R"({"cards": [{"track1": 5}]})"));
    EXPECT_FALSE(DeckFromJson(R"({"cards": [{"track1": ")" + std::string(512, 'A') + R"("}]})"));
    EXPECT_FALSE(DeckFromJson(R"([1, 2])"));
    auto named = DeckFromJson(R"({"cards": [{}, {"name": "X"}]})");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->cards[0].name, "Card 1");

    const auto dir =
        std::filesystem::temp_directory_path() / ("tollwick-deck-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    const auto path = dir / "sub" / "deck.json";
    auto created = LoadOrCreateDeck(path);
    ASSERT_TRUE(created);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
    std::ofstream(path) << "not json";
    EXPECT_FALSE(LoadOrCreateDeck(path, &error));
    EXPECT_NE(error.find("deck.json"), std::string::npos);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tollwick
