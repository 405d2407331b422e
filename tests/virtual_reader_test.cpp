// The virtual reader: recorded bit streams, auto-swipe, faults and the deck file.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "carddata/card_fields.h"
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
                              ";63601412345678=291219800101?", ";63601487654321=310319850215?"};
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

// The sample cards as the program reads them with the formats of their data type.
TEST(Deck, SampleCardsCarryTheFieldsOfTheirFormat) {
    constexpr TrackSet kAamva{
        {{7, kParityOdd, '%', '?'}, {5, kParityOdd, ';', '?'}, {7, kParityOdd, '%', '?'}}};
    constexpr TrackSet kCaDmv{
        {{6, kParityNone, '%', '?'}, {5, kParityOdd, ';', '?'}, {6, kParityNone, '!', '?'}}};
    const Deck deck = SampleDeck();
    auto fields = [&](std::size_t index, const TrackSet& settings) {
        CardTracks card;
        for (int t = 0; t < 3; ++t) {
            const auto& bits = deck.cards.at(index).tracks[static_cast<std::size_t>(t)];
            std::copy_n(bits.begin(), std::min<std::size_t>(bits.size(), kTrackBufferSize - 1),
                        card.track[t].begin());
        }
        DecodeTracks(card, settings);
        return ParseCardFields(
            {std::string(card.Text(0)), std::string(card.Text(1)), std::string(card.Text(2))});
    };
    auto value = [](const std::optional<CardFields>& card, int track, std::string_view key) {
        const Field* field = card ? card->Find(track, key) : nullptr;
        return field ? field->value : "<absent>";
    };
    for (std::size_t blank : {0u, 1u, 2u}) EXPECT_FALSE(fields(blank, kIsoTrackSet));
    EXPECT_FALSE(fields(6, kIsoTrackSet));  // raw bytes

    const auto iso = fields(3, kIsoTrackSet);
    EXPECT_EQ(value(iso, 2, "pan"), "400000******7899");
    EXPECT_EQ(value(iso, 2, "pan_luhn"), "true");
    EXPECT_EQ(value(iso, 0, "tracks_agree"), "true");

    const auto licence = fields(4, kAamva);
    EXPECT_EQ(value(licence, 1, "family_name"), "DOE");
    EXPECT_EQ(value(licence, 2, "id_number"), "12345678");
    EXPECT_EQ(value(licence, 3, "eye_colour"), "BLU");
    const auto caDmv = fields(5, kCaDmv);
    EXPECT_EQ(value(caDmv, 1, "city"), "SAN FRANCISCO");
    EXPECT_EQ(value(caDmv, 2, "birth_date"), "19850215");
    EXPECT_EQ(value(caDmv, 3, "postal_code"), "941021234");
    EXPECT_EQ(value(caDmv, 3, "hair_colour"), "BLK");
    // Read with the AAMVA formats, tracks 1 and 3 fail: track 2 alone still names a licence.
    const auto misread = fields(5, kAamva);
    EXPECT_EQ(value(misread, 1, "city"), "<absent>");
    EXPECT_EQ(value(misread, 3, "postal_code"), "<absent>");
    EXPECT_EQ(value(misread, 2, "id_number"), "87654321");

    const auto damaged = fields(7, kIsoTrackSet);  // track 1 still reads
    EXPECT_EQ(value(damaged, 1, "surname"), "DAMAGED");
    EXPECT_EQ(value(damaged, 0, "tracks_agree"), "<absent>");
    const auto badDigit = fields(8, kIsoTrackSet);
    EXPECT_EQ(value(badDigit, 1, "pan_luhn"), "false");
    EXPECT_EQ(value(badDigit, 1, "title"), "DR");
    const auto differ = fields(9, kIsoTrackSet);
    EXPECT_EQ(value(differ, 0, "tracks_agree"), "false");
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
