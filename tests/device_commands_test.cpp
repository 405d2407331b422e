// The reader commands against the virtual reader and a scripted device: bytes on the wire and
// the integer results of every case.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "device/reader_commands.h"
#include "device/virtual/virtual_reader.h"
#include "scripted_backend.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using testing::ScriptedBackend;
using testing::ScriptedState;

// Data bytes of the reports with fill zeros dropped from the end of each report.
Bytes Sent(const std::vector<std::vector<uint8_t>>& reports) {
    Bytes all;
    for (const auto& r : reports) {
        std::size_t end = r.size();
        while (end > 1 && r[end - 1] == 0) --end;
        all.insert(all.end(), r.begin() + 1, r.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return all;
}

TrackTexts Texts(const char* t1, const char* t2, const char* t3) {
    TrackTexts texts{};
    std::strcpy(texts[0].data(), t1);
    std::strcpy(texts[1].data(), t2);
    std::strcpy(texts[2].data(), t3);
    return texts;
}

struct VirtualRig {
    VirtualReader reader{VirtualReader::Options{}, SampleDeck()};
    VirtualBackend backend{reader};
    ReaderLink link{backend};
    ReaderCommands commands{link};

    void Connect() {
        ASSERT_EQ(commands.ConnectScan(), 1);
        reader.TakeOutputReports();
    }
};

// A scripted device that answers the connection test.
struct ScriptedRig {
    ScriptedRig() { s.Reply({0x1B, 'y'}); }
    ScriptedState s;
    ScriptedBackend backend{s};
    ReaderLink link{backend};
    ReaderCommands commands{link};
};

TEST(Connection, ScanFindsTheReaderAtOnce) {
    VirtualRig rig;
    EXPECT_EQ(rig.commands.ConnectScan(), 1);
    // One test, then the reset that every successful connection sends.
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()), (Bytes{0x1B, 'e', 0x1B, 'a'}));
    EXPECT_EQ(rig.commands.WritePending(), -1);
    EXPECT_EQ(rig.commands.ErasePending(), -1);
    EXPECT_EQ(rig.commands.WaitWriteStatus(), -1);
    EXPECT_EQ(rig.commands.WaitEraseStatus(), -1);
    EXPECT_EQ(rig.commands.ConnectPort(7), 7);
    EXPECT_EQ(rig.commands.CurrentPort(), 7);
}

TEST(Connection, WrongOrMissingAnswersAreNoReader) {
    VirtualRig rig;
    rig.reader.SetWrongReplies(true);
    EXPECT_EQ(rig.commands.ConnectScan(), -1);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()).size(), 100u);  // fifty tests, each ESC 'e'

    // No reader: fast, and the port in force stays as it was.
    rig.reader.SetWrongReplies(false);
    ASSERT_EQ(rig.commands.ConnectPort(3), 3);
    rig.reader.Unplug();
    const auto start = Clock::now();
    EXPECT_EQ(rig.commands.ConnectScan(), -1);
    EXPECT_LT(Clock::now() - start, 100ms);
    EXPECT_EQ(rig.commands.CurrentPort(), 3);
    EXPECT_EQ(rig.commands.ConnectPort(3), -1);
    EXPECT_EQ(rig.commands.CurrentPort(), -1);

    // Disconnected: nothing is sent.
    rig.reader.Plug();
    rig.reader.TakeOutputReports();
    EXPECT_EQ(rig.commands.ResetReader(), -1);
    EXPECT_EQ(rig.commands.StartRawRead(), -1);
    rig.commands.BeepOn();
    CardTracks card;
    EXPECT_EQ(rig.commands.ReceiveTracks(card), -1);
    TrackTexts texts = Texts("abc", "", "");
    EXPECT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), -1);
    EXPECT_STREQ(texts[0].data(), "abc");  // untouched when not connected
    EXPECT_TRUE(rig.reader.TakeOutputReports().empty());
}

TEST(Connection, SilentReaderIsNotConnected) {
    VirtualRig rig;
    rig.reader.SetSilent(true);
    EXPECT_EQ(rig.commands.ConnectPort(1), -1);
}

TEST(TrackData, WriteBlockBytes) {
    VirtualRig rig;
    rig.Connect();
    TrackTexts texts = Texts("", "1234", "");
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), kReaderOk);
    EXPECT_EQ(rig.commands.WritePending(), 0);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()),
              (Bytes{0x1B, 'n', 0x1B, 's', 0x1B, 0x01, 0x00, 0x1B, 0x02, 0x05, 0x2B, 0x88, 0x49,
                     0x3E, 0x04, 0x1B, 0x03}));  // track 3's zero length is the last report's fill

    const TrackSet raw{{{8, 0, '%', '?'}, {8, 0, ';', '?'}, {8, 0, ';', '?'}}};
    texts = Texts("01a0", "abc", "");
    ASSERT_EQ(rig.commands.WriteTracks(texts, raw), kReaderOk);
    EXPECT_STREQ(texts[0].data(), "01A0");
    const Bytes block = Sent(rig.reader.TakeOutputReports());
    EXPECT_EQ(block, (Bytes{0x1B, 'n', 0x1B, 's', 0x1B, 0x01, 0x02, 0x80, 0x05, 0x1B, 0x02, 0x01,
                            0xD5, 0x1B, 0x03}));
}

TEST(TrackData, WriteUpperCasesEvenWhenTheReaderIsGone) {
    VirtualRig rig;
    rig.Connect();
    rig.reader.Unplug();
    TrackTexts texts = Texts("b12", "", "x");
    EXPECT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), -1);
    EXPECT_STREQ(texts[0].data(), "B12");
    EXPECT_EQ(rig.commands.CurrentPort(), -1);
}

TEST(TrackData, OversizedWritesAreRefusedBeforeSending) {
    VirtualRig rig;
    rig.Connect();
    // Three 7-bit tracks of 252 characters make a block larger than the link's queue.
    TrackTexts texts{};
    for (auto& t : texts) std::memset(t.data(), 'A', 252);
    const TrackSet wide{{{7, 0, '%', '?'}, {7, 0, '%', '?'}, {7, 0, '%', '?'}}};
    EXPECT_EQ(rig.commands.WriteTracks(texts, wide), kTooLong);
    EXPECT_TRUE(rig.reader.TakeOutputReports().empty());
    EXPECT_TRUE(rig.commands.IsConnected());
}

TEST(TrackData, WriteStatus) {
    VirtualRig rig;
    rig.Connect();
    TrackTexts texts = Texts("B123", "1234", "5678");
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), kReaderOk);
    // No card yet: 0 after the full 350 ms wait, and again.
    const auto start = Clock::now();
    EXPECT_EQ(rig.commands.WaitWriteStatus(), 0);
    EXPECT_GE(Clock::now() - start, 350ms);
    ASSERT_TRUE(rig.reader.Swipe(0));
    EXPECT_EQ(rig.commands.WaitWriteStatus(), kReaderOk);

    rig.reader.SetRejectWrites(true);
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), kReaderOk);
    rig.reader.Swipe(1);
    EXPECT_EQ(rig.commands.WaitWriteStatus(), -2);
    EXPECT_EQ(rig.commands.ResetReader(), kReaderOk);
    EXPECT_EQ(rig.commands.WaitWriteStatus(), -1);
}

TEST(TrackData, WriteThenReadRoundTripsForEveryReportLength) {
    for (int length : {2, 3, 5, 9, 17, 64, 65, 128, 200}) {
        VirtualReader::Options options;
        options.inputReportLength = length;
        VirtualReader reader(options, SampleDeck());
        VirtualBackend backend(reader);
        ReaderLink link(backend);
        ReaderCommands commands(link);
        ASSERT_EQ(commands.ConnectScan(), 1) << length;
        const TrackSet aamva{{{7, 0, '%', '?'}, {5, 0, ';', '?'}, {7, 0, '%', '?'}}};
        TrackTexts texts = Texts("DOE$JOHN^123 MAIN", "6360141234567890=2912", "#!!95814");
        ASSERT_EQ(commands.WriteTracks(texts, aamva), kReaderOk);
        reader.Swipe(0);
        ASSERT_EQ(commands.WaitWriteStatus(), kReaderOk) << length;

        ASSERT_EQ(commands.StartRawRead(), kReaderOk);
        reader.Swipe(0);
        CardTracks card;
        ASSERT_EQ(commands.ReceiveTracks(card), kReaderOk) << length;
        ASSERT_EQ(DecodeTracks(card, aamva), 0) << length;
        EXPECT_EQ(card.Text(0), "%DOE$JOHN^123 MAIN?");
        EXPECT_EQ(card.Text(1), ";6360141234567890=2912?");
        EXPECT_EQ(card.Text(2), "%#!!95814?");
    }
}

TEST(TrackData, ReceiveWaitsForASwipe) {
    VirtualRig rig;
    rig.Connect();
    ASSERT_EQ(rig.commands.StartRawRead(), kReaderOk);
    CardTracks card;
    card.SetText(0, "UNTOUCHED");
    const auto start = Clock::now();
    EXPECT_EQ(rig.commands.ReceiveTracks(card), kNoSwipe);
    EXPECT_GE(Clock::now() - start, 350ms);
    EXPECT_EQ(card.Text(0), "UNTOUCHED");
    // A damaged card arrives whole; decoding flags only the damaged track.
    rig.reader.Swipe(7);  // the sample deck's damaged card
    ASSERT_EQ(rig.commands.ReceiveTracks(card), kReaderOk);
    EXPECT_EQ(DecodeTracks(card, kIsoTrackSet), 2);
}

TEST(TrackData, SplitFailureIsReported) {
    ScriptedRig rig;
    ScriptedState& s = rig.s;
    ReaderCommands& commands = rig.commands;
    ASSERT_EQ(commands.ConnectPort(1), 1);
    s.Send({0x1B, 's', 0x1B, 0x02, 0x01, 0x55, 0x00, 0x00, 0x00, 0x00});
    CardTracks card;
    EXPECT_EQ(commands.ReceiveTracks(card), kSplitFailed);
}

TEST(Configuration, BytesAndResults) {
    VirtualRig rig;
    rig.Connect();
    EXPECT_EQ(rig.commands.SetTrack2Density(true), kReaderOk);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()), (Bytes{0x1B, 'b', 0xD2}));
    EXPECT_EQ(rig.reader.Density(), 210);
    EXPECT_EQ(rig.commands.SetTrack2Density(false), kReaderOk);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()), (Bytes{0x1B, 'b', 0x4B}));
    EXPECT_EQ(rig.reader.Density(), 75);

    EXPECT_EQ(rig.commands.SetLoCo(), kReaderOk);
    int coercivity = kHiCo;
    EXPECT_EQ(rig.commands.QueryCoercivity(coercivity), kReaderOk);
    EXPECT_EQ(coercivity, kLoCo);
    EXPECT_EQ(rig.commands.SetHiCo(), kReaderOk);
    EXPECT_EQ(rig.commands.QueryCoercivity(coercivity), kReaderOk);
    EXPECT_EQ(coercivity, kHiCo);
    rig.reader.TakeOutputReports();

    rig.commands.BeepOff();
    EXPECT_FALSE(rig.reader.BeeperOn());
    rig.commands.BeepOn();
    EXPECT_TRUE(rig.reader.BeeperOn());
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()), (Bytes{0x1B, 0x89, 0x1B, 0x88}));

    // Wrong reply bytes: each command's own code, nothing else changes.
    rig.reader.SetWrongReplies(true);
    coercivity = 7;
    EXPECT_EQ(rig.commands.QueryCoercivity(coercivity), -3);
    EXPECT_EQ(coercivity, 7);
    EXPECT_EQ(rig.commands.SetHiCo(), -3);
    EXPECT_EQ(rig.commands.SetTrack2Density(true), -2);
    char version[20] = {};
    EXPECT_EQ(rig.commands.ReadVersion(version, sizeof version), -3);
    EXPECT_TRUE(rig.commands.IsConnected());

    // Replies slower than the wait: the first byte is missing.
    rig.reader.SetWrongReplies(false);
    rig.reader.SetReplyDelay(500ms);
    EXPECT_EQ(rig.commands.SetHiCo(), -4);
    std::this_thread::sleep_for(200ms);  // the late answer is dropped by the next command
    EXPECT_EQ(rig.commands.SetTrack2Density(true), 0);
}

TEST(Configuration, ScriptedReplies) {
    ScriptedRig rig;
    ScriptedState& s = rig.s;
    ReaderCommands& commands = rig.commands;
    ASSERT_EQ(commands.ConnectPort(1), 1);

    s.Reply({0x1B, '0'});  // ESC '0' is not Hi-Co's ESC 0x00
    EXPECT_EQ(commands.SetHiCo(), -3);
    int coercivity = kHiCo;
    s.Reply({0x1B, 'h'});  // lower case is not an answer
    EXPECT_EQ(commands.QueryCoercivity(coercivity), -3);
    EXPECT_EQ(coercivity, kHiCo);
    s.Reply({0x1B, 'L'});
    EXPECT_EQ(commands.QueryCoercivity(coercivity), kReaderOk);
    EXPECT_EQ(coercivity, kLoCo);
    s.Reply({'x', 'L'});
    EXPECT_EQ(commands.QueryCoercivity(coercivity), -4);

    // Version: seven text bytes, the rest of the buffer keeps its zeros; a long text is bounded.
    s.Reply({0x1B, 'R', 'E', 'V', 'U', '1', '.', '0', '7'});
    char version[20];
    std::memset(version, 0, sizeof version);
    EXPECT_EQ(commands.ReadVersion(version, sizeof version), kReaderOk);
    EXPECT_STREQ(version, "EVU1.07");
    Bytes longText = {0x1B, 'R'};
    longText.insert(longText.end(), 60, 'Z');
    s.Reply(longText);
    std::memset(version, 0, sizeof version);
    EXPECT_EQ(commands.ReadVersion(version, sizeof version), kReaderOk);
    EXPECT_EQ(std::string(version), std::string(19, 'Z'));

    // Erase: silence accepts; any byte at once refuses without touching the connection.
    s.output.clear();
    EXPECT_EQ(commands.EraseTracks(5), kReaderOk);
    EXPECT_EQ(s.output.size(), 1u);
    EXPECT_EQ(s.output[0], (Bytes{0, 0x1B, 'c', 0x05, 0, 0, 0, 0, 0}));
    EXPECT_EQ(commands.ErasePending(), 0);
    EXPECT_EQ(commands.WaitEraseStatus(), 0);
    s.Send({0x1B});
    s.input.back() = Bytes{0, 0x1B};  // a report carrying ESC alone
    EXPECT_EQ(commands.WaitEraseStatus(), -2);
    s.Send({0x1B, '0'});
    EXPECT_EQ(commands.WaitEraseStatus(), kReaderOk);

    ASSERT_EQ(commands.ResetReader(), kReaderOk);
    s.Reply({0x1B, 'A'});
    EXPECT_EQ(commands.EraseTracks(1), -1);
    EXPECT_EQ(commands.ErasePending(), -1);
    EXPECT_TRUE(commands.IsConnected());

    // Write status: anything but ESC '0' is -2.
    TrackTexts texts = Texts("", "1", "");
    ASSERT_EQ(commands.WriteTracks(texts, kIsoTrackSet), kReaderOk);
    s.Send({'0', '0'});
    EXPECT_EQ(commands.WaitWriteStatus(), -2);
    s.Send({0x1B, '1'});
    EXPECT_EQ(commands.WaitWriteStatus(), -2);
}

TEST(Configuration, EraseOnTheVirtualReader) {
    VirtualRig rig;
    rig.Connect();
    const std::size_t iso = 3;  // the ISO sample card
    ASSERT_EQ(rig.commands.EraseTracks(5), kReaderOk);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()), (Bytes{0x1B, 'c', 0x05}));
    rig.reader.Swipe(iso);
    EXPECT_EQ(rig.commands.WaitEraseStatus(), kReaderOk);
    const auto card = rig.reader.Card(iso);
    EXPECT_TRUE(card->tracks[0].empty());
    EXPECT_FALSE(card->tracks[1].empty());
    EXPECT_TRUE(card->tracks[2].empty());

    rig.reader.SetRejectErases(true);
    EXPECT_EQ(rig.commands.EraseTracks(2), -1);
    EXPECT_TRUE(rig.commands.IsConnected());
}

}  // namespace
}  // namespace tollwick
