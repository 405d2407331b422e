// The virtual reader as the hardware behaves: paced reports, what a stripe holds, hidraw-like
// handles, refused writes, seeded faults, slow statuses, Lo-Co writes on Hi-Co cards, and the
// deck file (its rewrite keeps mode and link, and two processes lose nothing).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "carddata/card_fields.h"
#include "carddata/track_codec.h"
#include "device/reader_commands.h"
#include "device/virtual/virtual_reader.h"
#include "reader_rig.h"
#include "test_platform.h"

namespace tollwick {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using Rig = testing::ConnectedRig;

TEST(VirtualReader, ReportsLeaveOnePerPollInterval) {
    for (auto interval : {1ms, 10ms}) {
        Rig rig({.inputReportLength = 2});
        rig.reader.SetPollInterval(interval);
        char version[20] = {};
        const auto start = rig.clock.Now();
        ASSERT_EQ(rig.commands.ReadVersion(version, sizeof version), CommandStatus::kOk);
        // Nine one-byte reports, the first one interval after the command, then the 350 ms wait
        // that ends the text (after a 1 ms drain before the command).
        EXPECT_EQ(rig.clock.Now() - start, 1ms + 9 * interval + 350ms) << interval.count();
        EXPECT_STREQ(version, "EVU1.07");
    }
}

TEST(VirtualReader, ATrackHoldsWhatFitsItsStripe) {
    Rig rig;
    const std::string fits2(37, '5');  // 40 characters of 5 bits: 200 of track 2's 208 bits
    const std::string over2(41, '5');  // 220 bits
    const std::string over1(78, 'A');  // 81 characters of 7 bits: 567 bits fit 584 ...
    const std::string past1(81, 'A');  // ... 588 do not
    ASSERT_EQ(TrackCapacityBits(75), 208);
    ASSERT_EQ(TrackCapacityBits(210), 584);

    ASSERT_EQ(rig.commands.SetTrack2Density(false), CardStatus::kDone);
    ASSERT_EQ(rig.Write(kIsoTrackSet, over1.c_str(), fits2.c_str(), "", 0), CardStatus::kDone);
    CardTracks card = rig.Read(0);
    EXPECT_EQ(card.trackErrors, 0);
    EXPECT_EQ(card.Text(1), ";" + fits2 + "?");

    // Bits past the end of the stripe are not recorded: the card reads back damaged.
    ASSERT_EQ(rig.Write(kIsoTrackSet, past1.c_str(), over2.c_str(), "", 1), CardStatus::kDone);
    EXPECT_EQ(rig.Read(1).trackErrors, 0b011);

    // At 210 bits per inch track 2 holds the same text.
    ASSERT_EQ(rig.commands.SetTrack2Density(true), CardStatus::kDone);
    ASSERT_EQ(rig.Write(kIsoTrackSet, "", over2.c_str(), "", 1), CardStatus::kDone);
    card = rig.Read(1);
    EXPECT_EQ(card.trackErrors, 0b001);
    EXPECT_EQ(card.Text(1), ";" + over2 + "?");
}

TEST(VirtualReader, HandlesBehaveLikeHidapiOnHidraw) {
    VirtualClock clock;
    VirtualReader reader(VirtualReader::Options{}, SampleDeck(), clock);
    VirtualBackend backend(reader);
    auto devices = backend.Enumerate(0x0801, 0x0005);
    ASSERT_EQ(devices.size(), 1u);
    auto handle = backend.Open(devices[0]);
    EXPECT_EQ(handle->InputReportLength(), 0);  // hidraw tells no lengths
    EXPECT_EQ(handle->OutputReportLength(), 9);
    reader.Unplug();
    reader.Plug();
    // Stale, but it only shows when a transfer fails.
    EXPECT_EQ(handle->OutputReportLength(), 9);
    uint8_t buffer[200];
    EXPECT_EQ(handle->ReadReport(buffer, sizeof buffer, 10), -1);
    EXPECT_EQ(handle->OutputReportLength(), 0);
    const uint8_t report[9] = {0, 0x1B, 'a'};
    EXPECT_FALSE(handle->WriteReport(report, sizeof report, 50));
    auto fresh = backend.Open(backend.Enumerate(0x0801, 0x0005)[0]);
    EXPECT_TRUE(fresh->WriteReport(report, sizeof report, 50));

    // With the lengths given, as Windows HID capabilities give them, a gone handle says 0 at once.
    VirtualReader windows({.reportLengthKnown = true}, SampleDeck(), clock);
    VirtualBackend windowsBackend(windows);
    auto known = windowsBackend.Open(windowsBackend.Enumerate(0x0801, 0x0005)[0]);
    EXPECT_EQ(known->InputReportLength(), 9);
    windows.Unplug();
    EXPECT_EQ(std::pair(known->InputReportLength(), known->OutputReportLength()), std::pair(0, 0));
}

// Only an armed reader takes a card (that a reset disarms it, the job tests check).
TEST(VirtualReader, WritesChangeOnlyTheTracksSentAndFaultsFailOneCard) {
    Rig rig;
    EXPECT_TRUE(rig.reader.Swipe(0));
    CardTracks none;
    EXPECT_EQ(rig.commands.ReceiveTracks(none), ReceiveResult::kNoSwipe);
    EXPECT_FALSE(rig.reader.Swipe(99));
    const auto before = rig.reader.Card(3)->tracks;
    std::vector<CardChange> changed;
    rig.reader.SetOnCardChanged(
        [&changed](const CardChange& change) { changed.push_back(change); });
    ASSERT_EQ(rig.Write(kIsoTrackSet, "NEW NAME", "", "", 3), CardStatus::kDone);
    const auto after = rig.reader.Card(3)->tracks;
    EXPECT_NE(after[0], before[0]);
    EXPECT_EQ(std::tie(after[1], after[2]), std::tie(before[1], before[2]));
    // What the swipe did, and only that: track 1 of card 4.
    using Changes = decltype(CardChange::tracks);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].index, 3u);
    EXPECT_EQ(changed[0].tracks, (Changes{TrackChange{after[0]}, std::nullopt, std::nullopt}));

    rig.reader.SetRejectNext(true);
    TrackTexts texts{"", "1234", ""};
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kOk);
    EXPECT_TRUE(rig.reader.RejectNextPending());  // spent by the card, not by the command
    rig.reader.Swipe(0);
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kRejected);
    EXPECT_FALSE(rig.reader.RejectNextPending());
    EXPECT_EQ(rig.Write(kIsoTrackSet, "", "1234", "", 0), CardStatus::kDone);
    EXPECT_EQ(changed.size(), 2u);

    rig.reader.SetRejectNext(true);
    EXPECT_EQ(rig.commands.EraseTracks(2), CommandStatus::kFailed);
    EXPECT_FALSE(rig.reader.RejectNextPending());
    ASSERT_EQ(rig.commands.EraseTracks(2), CommandStatus::kOk);  // track 2 only
    rig.reader.Swipe(3);
    EXPECT_EQ(rig.commands.WaitEraseStatus(), CardStatus::kDone);
    ASSERT_EQ(changed.size(), 3u);
    EXPECT_EQ(changed[2].tracks, (Changes{std::nullopt, TrackChange{}, std::nullopt}));
    EXPECT_TRUE(rig.reader.Card(3)->tracks[1].empty());
    EXPECT_EQ(rig.reader.Card(3)->tracks[2], before[2]);
}

// The sample cards as the program reads them with the formats of their data type (the CLI tests
// read the bank cards' and the licence's fields).
TEST(VirtualReader, SampleCardsAreInTheFormatsTheyStandFor) {
    constexpr TrackSet kAamva{
        {{7, kParityOdd, '%', '?'}, {5, kParityOdd, ';', '?'}, {7, kParityOdd, '%', '?'}}};
    constexpr TrackSet kCaDmv{
        {{6, kParityNone, '%', '?'}, {5, kParityOdd, ';', '?'}, {6, kParityNone, '!', '?'}}};
    const Deck deck = SampleDeck();
    auto format = [&](std::size_t index, const TrackSet& settings) -> std::string {
        uint8_t errors = 0;
        const auto fields =
            ParseCardFields(testing::TextsOnCard(deck.cards.at(index), settings, &errors));
        return (fields ? fields->format : "none") + " " + std::to_string(errors);
    };
    for (std::size_t blank : {0u, 1u, 2u}) EXPECT_EQ(format(blank, kIsoTrackSet), "none 0");
    EXPECT_EQ(format(3, kIsoTrackSet), "iso7813 0");
    EXPECT_EQ(format(4, kAamva), "aamva 0");
    EXPECT_EQ(format(5, kCaDmv), "aamva 0");
    EXPECT_EQ(format(5, kAamva), "aamva 5");       // tracks 1 and 3 fail; track 2 names a licence
    EXPECT_EQ(format(6, kIsoTrackSet), "none 7");  // raw bytes
}

// --- The dirt of real cards and readers (what each dirty card does to a read: the fault matrix)
// ---

using testing::sample::CardNamed;

// The faults are drawn from the deck's seed: the same deck plays the same swipes, another seed
// others. A deck-wide chance holds for every card that sets none; a card's own wins.
TEST(VirtualReader, TheDeckSeedsItsFaultsAndCardsOverrideTheDeck) {
    auto swipes = [](const Deck& deck, std::size_t card) {
        Rig rig;
        rig.reader.SetDeck(deck);
        std::vector<TrackBuffer> track2;  // as the reader sent it
        for (int i = 0; i < 5; ++i) {
            CardTracks raw;
            EXPECT_EQ(rig.ReadCard(card, raw), ReceiveResult::kReceived);
            track2.push_back(raw.track[1]);
        }
        return track2;
    };
    const std::size_t noisy = CardNamed("Stray bits before the start sentinel");
    Deck deck = SampleDeck();
    EXPECT_EQ(swipes(deck, noisy), swipes(deck, noisy));
    Deck reseeded = deck;
    reseeded.seed = 2;
    EXPECT_NE(swipes(deck, noisy), swipes(reseeded, noisy));

    Rig rig;
    deck.faults[Fault::kNoiseBefore] = 1;
    deck.cards[3].faults[Fault::kNoiseBefore] = 0;
    rig.reader.SetDeck(deck);
    EXPECT_EQ(rig.Read(3).trackErrors, 0);
    EXPECT_EQ(rig.Read(9).trackErrors, 0b011);
    rig.reader.SetDeckFaults({});
    EXPECT_EQ(rig.Read(9).trackErrors, 0);
}

// A write or erase answers 20 to 400 ms after the card; status bytes apart come 1 to 349 ms
// apart, and on reports of more than one byte the first is filled with zeros.
TEST(VirtualReader, StatusesComeLateAndApart) {
    // Arms a write (else an erase), swipes `card`: the status and how long it took to come whole.
    const auto status = [](Rig& rig, bool write, std::size_t card) {
        TrackTexts texts{"", "1234", ""};
        EXPECT_EQ(
            write ? rig.commands.WriteTracks(texts, kIsoTrackSet) : rig.commands.EraseTracks(2),
            CommandStatus::kOk);
        EXPECT_TRUE(rig.reader.Swipe(card));
        const auto start = rig.clock.Now();
        CardStatus got = CardStatus::kNoReplyYet;
        while (got == CardStatus::kNoReplyYet) {
            got = write ? rig.commands.WaitWriteStatus() : rig.commands.WaitEraseStatus();
        }
        return std::pair(got, rig.clock.Now() - start);
    };
    Rig rig;
    Rig byByte({.inputReportLength = 2});
    std::vector<Clock::Duration> waits, gaps;
    for (int i = 0; i < 10; ++i) {
        const auto [written, wait] = status(rig, true, CardNamed("Slow to write or erase"));
        const auto [erased, gap] = status(byByte, false, CardNamed("Status bytes apart"));
        EXPECT_EQ(std::pair(written, erased), std::pair(CardStatus::kDone, CardStatus::kDone));
        waits.push_back(wait);
        gaps.push_back(gap - 1ms);
    }
    const auto [shortest, longest] = std::minmax_element(waits.begin(), waits.end());
    EXPECT_GE(*shortest, 21ms);  // 20 ms at least, and the 1 ms poll
    EXPECT_LE(*longest, 401ms);
    EXPECT_GE(*longest - *shortest, 100ms);
    EXPECT_GE(*std::max_element(gaps.begin(), gaps.end()), 200ms);
    EXPECT_LE(*std::max_element(gaps.begin(), gaps.end()), 349ms);
    // On reports of 9 bytes the first status byte comes with zeros: the reply is no ESC '0'.
    EXPECT_EQ(status(rig, false, CardNamed("Status bytes apart")).first, CardStatus::kRejected);
}

// A Lo-Co write does not turn a Hi-Co stripe over: a track with data keeps it, a blank track
// takes a faint copy that reads weak. At Hi-Co the same write takes.
TEST(VirtualReader, ALoCoWriteDoesNotTakeOnAHiCoCard) {
    Rig rig;
    const std::size_t hiCo = CardNamed("Hi-Co card, Lo-Co writes do not take");
    const auto before = rig.reader.Card(hiCo)->tracks;
    ASSERT_EQ(rig.commands.SetLoCo(), CommandStatus::kOk);
    EXPECT_EQ(rig.Write(kIsoTrackSet, "NEW", "", "123", hiCo),
              CardStatus::kDone);  // the reader cannot tell
    EXPECT_EQ(rig.reader.Card(hiCo)->tracks[0], before[0]);
    ASSERT_EQ(rig.commands.EraseTracks(1), CommandStatus::kOk);
    rig.reader.Swipe(hiCo);
    EXPECT_EQ(rig.commands.WaitEraseStatus(), CardStatus::kDone);
    EXPECT_EQ(rig.reader.Card(hiCo)->tracks[0], before[0]);
    int weak = 0;
    for (int i = 0; i < 10; ++i) weak += (rig.Read(hiCo).trackErrors & 4) != 0;
    EXPECT_GE(weak, 8);  // the faint track 3, blank before
    EXPECT_EQ(rig.Read(hiCo).Text(0), rig.Read(3).Text(0));

    ASSERT_EQ(rig.commands.SetHiCo(), CommandStatus::kOk);
    EXPECT_EQ(rig.Write(kIsoTrackSet, "NEW", "", "123", hiCo), CardStatus::kDone);
    const CardTracks card = rig.Read(hiCo);
    EXPECT_EQ(std::tuple(card.trackErrors, card.Text(0), card.Text(2)),
              std::tuple(0, "%NEW?", ";123?"));
    // A Lo-Co card takes a Lo-Co write.
    ASSERT_EQ(rig.commands.SetLoCo(), CommandStatus::kOk);
    EXPECT_EQ(rig.Write(kIsoTrackSet, "LO", "", "", 3), CardStatus::kDone);
    EXPECT_EQ(rig.Read(3).Text(0), "%LO?");
}

// --- The deck file ---

// Files beside a deck: none on POSIX, the lock's sidecar on Windows.
#ifdef _WIN32
constexpr std::ptrdiff_t kFilesPerDeck = 2;
#else
constexpr std::ptrdiff_t kFilesPerDeck = 1;
#endif

// Each deck test in a scratch folder of its own.
class DeckFile : public ::testing::Test {
  protected:
    testing::ScratchFolder folder_{"tollwick-deck"};
    fs::path dir_ = folder_.path();
};

TEST_F(DeckFile, JsonRoundTripAndBadFiles) {
    // Every field of the sample deck (names, tracks, a reversed and a weak card) comes back.
    const std::string json = DeckToJson(SampleDeck());
    const auto again = DeckFromJson(json);
    ASSERT_TRUE(again);
    EXPECT_EQ(DeckToJson(*again), json);
    EXPECT_TRUE(again->cards[10].reversed && again->cards[11].weakSpot);
    std::string error;
    for (const std::string& bad : std::vector<std::string>{
             "{", R"({"cards": [{"track1": "ABC"}]})", R"({"cards": [{"track1": "ZZ"}]})",
             R"({"cards": [{"track1": 5}]})", R"([1, 2])", R"({"cards": [{"reversed": 1}]})",
             R"({"cards": [{"weak_spot": {"track": 4, "bit": 1}}]})",
             R"({"cards": [{"weak_spot": {"track": 1}}]})", R"({"seed": -1, "cards": []})",
             R"({"cards": [{"track1": ")" + std::string(512, 'A') + R"("}]})",
             R"({"faults": {"noise": 1}, "cards": []})", R"({"cards": [{"faults": []}]})",
             R"({"faults": {"input_buffer": 0}, "cards": []})",
             R"({"cards": [{"faults": {"partial": 1.5}}]})",
             R"({"cards": [{"faint_tracks": [4]}]})"}) {
        error.clear();
        EXPECT_FALSE(DeckFromJson(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    // A deck without dirt is written without the newer keys, as older programs wrote it.
    Deck clean = *again;
    clean.cards.resize(12);
    EXPECT_EQ(DeckToJson(clean).find("faults"), std::string::npos);
    EXPECT_EQ(DeckToJson(clean).find("seed"), std::string::npos);
    // Keys this program does not know come back as they were; a zero byte makes no deck.
    const auto other = DeckFromJson(
        R"({"note": {"by": "me"}, "cards": [{"name": "X", "color": [1, "two"]}], "z": 1})");
    ASSERT_TRUE(other);
    const auto back = DeckFromJson(DeckToJson(*other));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->otherKeys,
              (std::map<std::string, std::string>{{"note", R"({"by":"me"})"}, {"z", "1"}}));
    EXPECT_EQ(back->cards[0].otherKeys.at("color"), R"([1,"two"])");
    EXPECT_FALSE(DeckFromJson(std::string(R"({"cards": []})") + '\0' + "more", &error));
    EXPECT_NE(error.find("zero byte"), std::string::npos) << error;
    auto named = DeckFromJson(R"({"cards": [{}, {"name": "X"}]})");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->cards[0].name, "Card 1");

    // No folder is made for a deck: a missing one is said.
    const auto path = dir_ / "sub" / "deck.json";
    EXPECT_FALSE(LoadOrCreateDeck(path, &error));
    EXPECT_NE(error.find("the folder " + path.parent_path().string() + " does not exist"),
              std::string::npos)
        << error;
    EXPECT_FALSE(fs::exists(path.parent_path()));
    fs::create_directory(path.parent_path());
    ASSERT_TRUE(LoadOrCreateDeck(path));
#ifndef _WIN32  // Windows: the owner-only DACL is checked in files_test
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);  // cards hold track data
#endif
    EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), {}), kFilesPerDeck);
    std::ofstream(path) << "not json";
    EXPECT_FALSE(LoadOrCreateDeck(path, &error));
    EXPECT_NE(error.find("deck.json"), std::string::npos);
    std::ofstream(path, std::ios::trunc).flush();  // an empty file gets the sample deck
    EXPECT_EQ(LoadOrCreateDeck(path)->cards.size(), SampleDeck().cards.size());
}

// A card change is laid over the card as the file holds it now: another program's change to
// another track of the same card, or to another card, stays; the reader takes the card as saved
// unless it changed the card again since.
TEST_F(DeckFile, ACardChangeKeepsWhatOthersWroteSinceModeAndLink) {
    const auto real = dir_ / "real.json";
    ASSERT_TRUE(SaveDeck(real, SampleDeck()));
#ifdef _WIN32  // symbolic links need a privilege there; the DACL is checked in files_test
    const auto& link = real;
#else
    const auto link = dir_ / "deck.json";
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(real, link);
#endif
    VirtualReader reader(VirtualReader::Options{}, *LoadOrCreateDeck(link));
    const VirtualCard written = CardFromTexts("", {"MINE", "", ""}, kIsoTrackSet);
    const VirtualCard theirs = CardFromTexts("", {"", "999", ""}, kIsoTrackSet);
    CardChange change;
    change.index = 3;
    change.tracks[0] = TrackChange{written.tracks[0]};
    change.sequence = 0;  // the reader changed no card: its copy is taken

    // Another program changed track 2 of card 4 and the name of card 2 since this one loaded.
    Deck other = *LoadOrCreateDeck(link);
    other.cards[3].tracks[1] = theirs.tracks[1];
    other.cards[1].name = "Changed elsewhere";
    ASSERT_TRUE(SaveDeck(real, other));
    VirtualCard saved;
    ASSERT_TRUE(SaveCardChange(link, change, kIsoTrackSet, &saved));

#ifndef _WIN32
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(real).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
    const Deck now = *LoadOrCreateDeck(link);
    EXPECT_EQ(now.cards[3].tracks,
              (std::array{written.tracks[0], theirs.tracks[1], SampleDeck().cards[3].tracks[2]}));
    EXPECT_EQ(now.cards[3].name.rfind("written %MINE?  ;999?", 0), 0u) << now.cards[3].name;
    EXPECT_EQ(now.cards[1].name, "Changed elsewhere");
    EXPECT_EQ(saved.tracks, now.cards[3].tracks);
    EXPECT_TRUE(reader.RefreshCard(change, saved));
    EXPECT_EQ(reader.Card(3)->tracks, now.cards[3].tracks);
    change.sequence = 7;  // a change the reader made after this one: its copy stays
    EXPECT_FALSE(reader.RefreshCard(change, SampleDeck().cards[3]));
    std::string error;
    change.index = 99;
    EXPECT_FALSE(SaveCardChange(link, change, kIsoTrackSet, nullptr, &error));
    EXPECT_FALSE(error.empty());
}

// Two processes changing different cards of one deck at the same time, each change made to the
// deck as the file holds it then: no change is lost, and the file stays a deck.
TEST_F(DeckFile, TwoProcessesOnOneDeckLoseNothing) {
    const auto path = dir_ / "deck.json";
    ASSERT_TRUE(LoadOrCreateDeck(path));
    constexpr int kRounds = 40;
    ASSERT_TRUE(testing::InChildProcesses(2, dir_, [&](int c) {
        for (int i = 0; i < kRounds; ++i) {
            const auto addOne = [c](Deck& deck) {
                deck.cards[static_cast<std::size_t>(c)].name += '+';
                return true;
            };
            if (!UpdateDeckFile(path, addOne)) return false;
        }
        return true;
    }));
    const auto deck = LoadOrCreateDeck(path);
    ASSERT_TRUE(deck);
    for (int c = 0; c < 2; ++c) {
        const std::size_t i = static_cast<std::size_t>(c);
        EXPECT_EQ(deck->cards[i].name, SampleDeck().cards[i].name + std::string(kRounds, '+'));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), kFilesPerDeck);  // no temporary
}

}  // namespace
}  // namespace tollwick
