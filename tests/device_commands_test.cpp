// The reader commands against the virtual reader and a scripted device, on virtual time: bytes
// on the wire, the integer results of every case, and the waits that end replies and blocks.
#include <gtest/gtest.h>

#include <chrono>

#include "device/reader_commands.h"
#include "device/setup_connection.h"
#include "device/startup_connection.h"
#include "device/virtual/virtual_reader.h"
#include "reader_rig.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
using testing::ScriptedBackend;
using testing::ScriptedRig;
using testing::ScriptedState;
using testing::Texts;
using testing::VirtualRig;

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

TEST(Connection, ScanPortAndNoReader) {
    VirtualRig rig;
    EXPECT_EQ(rig.commands.ConnectScan(), 1);
    // One test, then the reset that every successful connection sends.
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()), (Bytes{0x1B, 'e', 0x1B, 'a'}));
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kNotPending);
    EXPECT_EQ(rig.commands.WaitEraseStatus(), CardStatus::kNotPending);

    // Wrong answers are no reader: fifty tests, each ESC 'e'.
    rig.reader.SetWrongReplies(true);
    EXPECT_EQ(rig.commands.ConnectScan(), -1);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()).size(), 100u);
    // No reader: no waits at all, and the port in force stays as it was.
    rig.reader.SetWrongReplies(false);
    ASSERT_EQ(rig.commands.ConnectPort(3), 3);
    rig.reader.Unplug();
    const auto start = rig.clock.Now();
    EXPECT_EQ(rig.commands.ConnectScan(), -1);
    EXPECT_LT(rig.clock.Now() - start, 5ms);
    EXPECT_EQ(rig.commands.CurrentPort(), 3);
    EXPECT_EQ(rig.commands.ConnectPort(3), -1);
    EXPECT_EQ(rig.commands.CurrentPort(), -1);

    // Disconnected: nothing is sent.
    rig.reader.Plug();
    rig.reader.TakeOutputReports();
    EXPECT_EQ(rig.commands.ResetReader(), CommandStatus::kFailed);
    EXPECT_EQ(rig.commands.StartRawRead(), CommandStatus::kFailed);
    rig.commands.BeepOn();
    CardTracks card;
    EXPECT_EQ(rig.commands.ReceiveTracks(card), ReceiveResult::kNotConnected);
    TrackTexts texts = Texts("abc", "", "");
    EXPECT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kFailed);
    EXPECT_STREQ(texts[0].data(), "abc");  // untouched when not connected
    EXPECT_TRUE(rig.reader.TakeOutputReports().empty());

    rig.reader.SetSilent(true);
    EXPECT_EQ(rig.commands.ConnectPort(1), -1);
}

// The Setup dialog's port is "COM" and a number up to 200. Its OK connects under the stored
// port first; a stored port 0 is left alone (nothing is sent); else the typed port, then a scan,
// and the typed port is to be stored whatever port answered.
TEST(Connection, SetupPortAndTheOrderOfSetupsAttempts) {
    using C = SetupPortCheck;
    const std::tuple<const char*, C, int> ports[] = {
        {"COM5", C::kOk, 5},           {"COM", C::kOk, 0},       {"COM200", C::kOk, 200},
        {"COM201", C::kAboveMax, 201}, {"XCOM1", C::kNotCom, 0}, {"com5", C::kNotCom, 0}};
    for (const auto& [text, check, port] : ports) {
        const SetupPort parsed = ParseSetupPort(text);
        EXPECT_EQ(std::pair(parsed.check, parsed.port), std::pair(check, port)) << text;
    }

    struct Row {
        std::optional<int> stored;
        int refusedLookups;  // two to an attempt that finds no reader
        bool plugged;
        SetupConnection want;
        std::size_t tests;  // connection tests sent
    };
    const Row rows[] = {
        {3, 0, true, {true, 3, false}, 1}, {3, 2, true, {true, 5, true}, 1},
        {3, 4, true, {true, 1, true}, 1},  {std::nullopt, 0, true, {true, 5, true}, 1},
        {0, 0, true, {true, 0, false}, 0}, {0, 0, false, {true, 0, false}, 0},
        {-1, 0, true, {true, 5, true}, 1}, {3, 0, false, {false, -1, false}, 0},
    };
    for (const Row& row : rows) {
        VirtualRig rig;
        if (!row.plugged) rig.reader.Unplug();
        rig.tap.RefuseLookups(row.refusedLookups);
        const SetupConnection got = ConnectForSetup(rig.commands, row.stored, 5);
        const auto where = ::testing::Message() << row.stored.value_or(-9) << "/"
                                                << row.refusedLookups << "/" << row.plugged;
        EXPECT_EQ(std::tuple(got.connected, got.port, got.storeTypedPort),
                  std::tuple(row.want.connected, row.want.port, row.want.storeTypedPort))
            << where;
        const Bytes sent = Sent(rig.reader.TakeOutputReports());
        EXPECT_EQ(static_cast<std::size_t>(std::count(sent.begin(), sent.end(), 'e')), row.tests)
            << where;
    }
}

// The start-up connects under the stored port, else scans; then it sends the density and, in
// full, asks the coercivity (switching to Hi-Co on the desktop) and the version, which decides
// the beeper: firmware newer than EVU1.06, compared byte by byte, unsigned.
TEST(Connection, StartupConnectsThenSetsTheReaderUp) {
    struct Row {
        const char* stored;
        int refusedLookups;
        ConnectDetail detail;
        const char* firmware;
        int port;
        bool versionRead, beep, hiCo;
    };
    const Row rows[] = {
        {"3", 0, ConnectDetail::kFullHiCo, "EVU1.07", 3, true, true, true},
        {"7", 2, ConnectDetail::kFull, "EVU1.06", 1, true, false, false},
        {"", 0, ConnectDetail::kDensityOnly, "EVU1.07", 1, false, false, false},
        {"", 0, ConnectDetail::kFull, "EVU2", 1, true, true, false},
        {"", 0, ConnectDetail::kFull, "EVU1", 1, true, false, false},
        {"", 0, ConnectDetail::kFull, "\xC0VU", 1, true, true, false},
        {"2", 200, ConnectDetail::kFull, "EVU1.07", -1, false, false, false},
    };
    for (const Row& row : rows) {
        VirtualReader::Options options;
        options.version = row.firmware;
        VirtualRig rig(options);
        ASSERT_TRUE(rig.Connect());
        ASSERT_EQ(rig.commands.SetLoCo(), CommandStatus::kOk);  // a reader left in Lo-Co
        rig.tap.RefuseLookups(row.refusedLookups);
        const StartupConnection got =
            ConnectAtStartup(rig.commands, row.stored, Track2Density::k75, row.detail);
        EXPECT_EQ(got.port, row.port) << row.stored;
        EXPECT_EQ(got.versionRead, row.versionRead) << row.firmware;
        EXPECT_EQ(got.version, row.versionRead ? row.firmware : "");
        EXPECT_EQ(got.beepSupported, row.beep) << row.firmware;
        EXPECT_EQ(rig.reader.HighCoercivity(), row.hiCo) << row.stored;
        EXPECT_EQ(got.coercivity.has_value(), row.versionRead);
        EXPECT_EQ(rig.reader.Density(), row.port > 0 ? 75 : 210) << row.stored;
    }
    EXPECT_EQ(ConnectionLine(3, "EVU1.07"), "COM3 9600,8,N,1  VK3300 EVU1.07");
}

// Each wait that ends a reply or a block, at its edge: a byte that comes on the last millisecond
// of the wait is taken, one a millisecond later is not. Reports leave the reader one per 1 ms
// poll, so a reply made ready d ms after its command is there after d + 1 ms.
TEST(TimingRules, EveryReplyWaitEndsWhereItShould) {
    // The connection test waits 150 ms for each reply byte.
    for (auto [delay, connects] : {std::pair{149ms, true}, std::pair{150ms, false}}) {
        VirtualRig rig;
        rig.reader.SetReplyDelay(delay);
        EXPECT_EQ(rig.commands.ConnectPort(1) == 1, connects) << delay.count();
    }
    for (auto [stall, connects] : {std::pair{149ms, true}, std::pair{150ms, false}}) {
        VirtualRig rig({.inputReportLength = 2});  // one stream byte per report
        rig.reader.SetStallNext(1, stall);         // ... and a pause before the 'y'
        EXPECT_EQ(rig.commands.ConnectPort(1) == 1, connects) << stall.count();
    }

    // The erase command listens 50 ms for a refusal; later silence means the reader waits.
    for (auto [delay, result] :
         {std::pair{49ms, CommandStatus::kFailed}, std::pair{50ms, CommandStatus::kOk}}) {
        VirtualRig rig;
        ASSERT_TRUE(rig.Connect());
        rig.reader.SetRejectErases(true);
        rig.reader.SetReplyDelay(delay);
        EXPECT_EQ(rig.commands.EraseTracks(1), result) << delay.count();
    }

    // The version text ends at the first 350 ms gap.
    for (auto [stall, text] : {std::pair{349ms, "EVU1.07"}, std::pair{350ms, "EV"}}) {
        VirtualRig rig({.inputReportLength = 2});
        ASSERT_TRUE(rig.Connect());
        rig.reader.SetStallNext(4, stall);  // ESC, 'R', 'E', 'V', then the pause
        char version[20] = {};
        ASSERT_EQ(rig.commands.ReadVersion(version, sizeof version), CommandStatus::kOk);
        EXPECT_STREQ(version, text) << stall.count();
    }

    // What the reader sends at once after a write block is dropped until 50 ms of silence: a
    // chatter byte that lags longer is taken for the card's status.
    for (auto [stall, status] :
         {std::pair{49ms, CardStatus::kDone}, std::pair{50ms, CardStatus::kRejected}}) {
        VirtualRig rig({.inputReportLength = 2});
        ASSERT_TRUE(rig.Connect());
        rig.reader.SetChatterAfterWrite(true);
        rig.reader.SetStallNext(1, stall);  // ESC, then the pause before 'A'
        TrackTexts texts = Texts("", "1234", "");
        ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kOk);
        ASSERT_TRUE(rig.reader.Swipe(0));
        EXPECT_EQ(rig.commands.WaitWriteStatus(), status) << stall.count();
    }

    // A read block ends at the first 50 ms gap: a card whose block pauses longer reads cut.
    for (auto [stall, whole] : {std::pair{49ms, true}, std::pair{50ms, false}}) {
        VirtualRig rig;
        ASSERT_TRUE(rig.Connect());
        rig.reader.SetStallNext(3, stall);
        CardTracks card;
        const ReceiveResult received = rig.ReadCard(3, card);
        const bool read = received == ReceiveResult::kReceived &&
                          DecodeTracks(card, kIsoTrackSet) == 0 &&
                          card.Text(1) == ";4000001234567899=29121010000000000000?";
        EXPECT_EQ(read, whole) << stall.count();
    }
    // ... and with nothing swiped the first byte is awaited 350 ms.
    VirtualRig rig;
    ASSERT_TRUE(rig.Connect());
    ASSERT_EQ(rig.commands.StartRawRead(), CommandStatus::kOk);
    CardTracks card;
    card.SetText(0, "UNTOUCHED");
    const auto start = rig.clock.Now();
    EXPECT_EQ(rig.commands.ReceiveTracks(card), ReceiveResult::kNoSwipe);
    EXPECT_EQ(rig.clock.Now() - start, 350ms);
    EXPECT_EQ(card.Text(0), "UNTOUCHED");
}

// The status of a write, an erase or a density command: each byte is awaited 350 ms. On reports
// of one byte each, the second byte arrives `gap` after the first (a stall of gap - 1 ms after
// the 1 ms poll); a first byte arrives a delay + 1 ms poll after the command.
TEST(TimingRules, EveryStatusByteIsAwaited350Ms) {
    enum Command { kWrite, kErase, kDensity };
    struct Case {
        Command command;
        std::chrono::milliseconds gap;
        CardStatus result;
    };
    // A write's status whose second byte is late is lost: the first byte is spent.
    const Case cases[] = {
        {kWrite, 349ms, CardStatus::kDone},       {kWrite, 350ms, CardStatus::kDone},
        {kWrite, 351ms, CardStatus::kNoReplyYet}, {kErase, 349ms, CardStatus::kDone},
        {kErase, 350ms, CardStatus::kDone},       {kErase, 351ms, CardStatus::kRejected},
        {kDensity, 349ms, CardStatus::kDone},     {kDensity, 350ms, CardStatus::kDone},
        {kDensity, 351ms, CardStatus::kRejected}};
    for (const Case& c : cases) {
        VirtualRig rig({.inputReportLength = 2});
        ASSERT_TRUE(rig.Connect());
        TrackTexts texts = Texts("", "1234", "");
        const CommandStatus armed = c.command == kWrite
                                        ? rig.commands.WriteTracks(texts, kIsoTrackSet)
                                    : c.command == kErase ? rig.commands.EraseTracks(2)
                                                          : CommandStatus::kOk;
        ASSERT_EQ(armed, CommandStatus::kOk);
        rig.reader.SetStallNext(1, c.gap - 1ms);
        rig.reader.Swipe(0);  // no card is taken unless armed
        const CardStatus result = c.command == kWrite   ? rig.commands.WaitWriteStatus()
                                  : c.command == kErase ? rig.commands.WaitEraseStatus()
                                                        : rig.commands.SetTrack2Density(true);
        EXPECT_EQ(result, c.result) << c.command << " " << c.gap.count();
    }
    // The density command's first byte: 350 ms after the command it is taken, 351 ms not.
    for (auto [arrives, result] :
         {std::pair{350ms, CardStatus::kDone}, std::pair{351ms, CardStatus::kNoReplyYet}}) {
        VirtualRig rig;
        ASSERT_TRUE(rig.Connect());
        rig.reader.SetReplyDelay(arrives - 1ms);
        EXPECT_EQ(rig.commands.SetTrack2Density(false), result) << arrives.count();
    }
}

// After a wrong erase or density status the rest of the reply is dropped until 50 ms of silence:
// a byte 49 ms behind it goes with it, one 51 ms behind is left for whoever reads next. Were it
// left, it would arrive in the next erase command's 50 ms listen and read as a refusal.
TEST(TimingRules, AWrongStatusIsDroppedUntil50MsOfSilence) {
    for (bool erase : {true, false}) {
        for (auto [behind, dropped] : {std::pair{49ms, true}, std::pair{51ms, false}}) {
            ScriptedRig rig;
            rig.s.inputLength = 2;
            ASSERT_EQ(rig.commands.ConnectPort(1), 1);
            if (erase) {
                ASSERT_EQ(rig.commands.EraseTracks(2), CommandStatus::kOk);
                rig.s.Send({0x1B, 'A'});
                rig.s.SendAfter(behind, {'x'});
            } else {
                rig.s.Reply({0x1B, 'A'});  // answered after the command's 1 ms drain
                rig.s.SendAfter(1ms + behind, {'x'});
            }
            EXPECT_EQ(erase ? rig.commands.WaitEraseStatus() : rig.commands.SetTrack2Density(true),
                      CardStatus::kRejected);
            uint8_t byte = 0;
            EXPECT_EQ(rig.link.LinkGetByte(1, &byte, 100) == kLinkNoByte, dropped)
                << erase << " " << behind.count();
        }
    }
    ScriptedRig rig;
    rig.s.inputLength = 2;
    ASSERT_EQ(rig.commands.ConnectPort(1), 1);
    ASSERT_EQ(rig.commands.EraseTracks(2), CommandStatus::kOk);
    rig.s.Send({0x1B, 'A'});
    rig.s.SendAfter(40ms, {'x'});
    EXPECT_EQ(rig.commands.WaitEraseStatus(), CardStatus::kRejected);
    EXPECT_EQ(rig.commands.EraseTracks(2), CommandStatus::kOk);
}

// A successful connection test is followed by a 5 ms pause before the reset: the answer comes
// one 1 ms poll after the test, then the pause, then the reset's 1 ms drain.
TEST(TimingRules, TheResetFollowsTheConnectionTestAfter5Ms) {
    VirtualRig rig;
    ASSERT_EQ(rig.commands.ConnectPort(1), 1);
    const auto times = rig.reader.OutputTimes();
    ASSERT_EQ(Sent(rig.reader.TakeOutputReports()), (Bytes{0x1B, 'e', 0x1B, 'a'}));
    EXPECT_EQ(times.at(1) - times.at(0), 1ms + 5ms + 1ms);
}

TEST(TrackData, WriteBlockBytes) {
    VirtualRig rig;
    ASSERT_TRUE(rig.Connect());
    TrackTexts texts = Texts("", "1234", "");
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kOk);
    EXPECT_EQ(rig.commands.WritePending(), 0);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()),
              (Bytes{0x1B, 'n', 0x1B, 's', 0x1B, 0x01, 0x00, 0x1B, 0x02, 0x05, 0x2B, 0x88, 0x49,
                     0x3E, 0x04, 0x1B, 0x03}));

    // Here the empty track 3's zero length byte starts a report of its own: without it the
    // reader would wait for the rest of the block and never arm.
    texts = Texts("", "123", "");
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kOk);
    const auto reports = rig.reader.TakeOutputReports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[1][7], 0x1B);
    EXPECT_EQ(reports[1][8], 0x03);
    EXPECT_EQ(rig.reader.ArmedFor(), VirtualReader::Armed::kWrite);
    rig.reader.Swipe(0);
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kDone);

    const TrackSet raw{{{8, 0, '%', '?'}, {8, 0, ';', '?'}, {8, 0, ';', '?'}}};
    texts = Texts("01a0", "abc", "");
    ASSERT_EQ(rig.commands.WriteTracks(texts, raw), CommandStatus::kOk);
    EXPECT_STREQ(texts[0].data(), "01A0");
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()),
              (Bytes{0x1B, 'n', 0x1B, 's', 0x1B, 0x01, 0x02, 0x80, 0x05, 0x1B, 0x02, 0x01, 0xD5,
                     0x1B, 0x03}));
}

TEST(TrackData, RefusedWritesSendNothing) {
    VirtualRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.reader.Unplug();
    TrackTexts texts = Texts("b12", "", "x");
    EXPECT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kFailed);
    EXPECT_STREQ(texts[0].data(), "B12");  // upper-cased even when the reader is gone
    EXPECT_EQ(rig.commands.CurrentPort(), -1);

    VirtualRig big;
    ASSERT_TRUE(big.Connect());
    // Three 7-bit tracks of 252 characters make a block larger than the link's queue.
    for (auto& t : texts) t = std::string(252, 'A');
    const TrackSet wide{{{7, 0, '%', '?'}, {7, 0, '%', '?'}, {7, 0, '%', '?'}}};
    EXPECT_EQ(big.commands.WriteTracks(texts, wide), CommandStatus::kTooLong);
    EXPECT_TRUE(big.reader.TakeOutputReports().empty());
    EXPECT_TRUE(big.commands.IsConnected());
}

TEST(TrackData, WriteStatus) {
    VirtualRig rig;
    ASSERT_TRUE(rig.Connect());
    // Whatever the reader sends at once after the block is dropped, not taken for the status.
    rig.reader.SetChatterAfterWrite(true);
    TrackTexts texts = Texts("B123", "1234", "5678");
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kOk);
    // No card yet: 0 after the full 350 ms wait, and again.
    const auto start = rig.clock.Now();
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kNoReplyYet);
    EXPECT_EQ(rig.clock.Now() - start, 350ms);
    ASSERT_TRUE(rig.reader.Swipe(0));
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kDone);

    rig.reader.SetRejectWrites(true);
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kOk);
    rig.reader.Swipe(1);
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kRejected);
    EXPECT_EQ(rig.commands.ResetReader(), CommandStatus::kOk);
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kNotPending);
}

TEST(TrackData, WriteThenReadRoundTripsForEveryReportLengthAndPace) {
    const TrackSet aamva{{{7, 0, '%', '?'}, {5, 0, ';', '?'}, {7, 0, '%', '?'}}};
    for (int length : {2, 3, 9, 64, 65, 200}) {
        for (auto interval : {1000us, 10000us}) {
            VirtualRig rig({.inputReportLength = length,
                            .pollInterval = interval,
                            .pollJitter = interval / 2});
            ASSERT_TRUE(rig.Connect());
            ASSERT_EQ(rig.Write(aamva, "DOE$JOHN^123 MAIN", "6360141234567890=2912", "#!!95814"),
                      CardStatus::kDone)
                << length;
            CardTracks card;
            ASSERT_EQ(rig.ReadCard(0, card), ReceiveResult::kReceived) << length;
            ASSERT_EQ(DecodeTracks(card, aamva), 0) << length;
            EXPECT_EQ(card.Text(0), "%DOE$JOHN^123 MAIN?");
            EXPECT_EQ(card.Text(1), ";6360141234567890=2912?");
            EXPECT_EQ(card.Text(2), "%#!!95814?");
        }
    }
}

TEST(TrackData, ReadBlockRules) {
    ScriptedRig rig;
    rig.s.inputLength = 2;  // one byte per report: no fill, the block ends where it ends
    ASSERT_EQ(rig.commands.ConnectPort(1), 1);
    CardTracks card;
    // Track 2 is taken only right after track 1, track 3 only right after track 2.
    rig.s.Send({0x1B, 's', 0x1B, 0x02, 0x01, 0x55, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(rig.commands.ReceiveTracks(card), ReceiveResult::kSplitFailed);
    rig.s.Send({0x1B, 's', 0x1B, 0x01, 0x01, 0xD0, 0x1B, 0x03, 0x01, 0xD0, 0, '?', 0x1C, '0'});
    EXPECT_EQ(rig.commands.ReceiveTracks(card), ReceiveResult::kSplitFailed);
    // The last four bytes of a block are the reader's trailer and are not looked at.
    rig.s.Send({0x1B, 's', 0x1B, 0x01, 0x01, 0xD0, 0x1B, 0x07, 0x01, 0x00});
    ASSERT_EQ(rig.commands.ReceiveTracks(card), ReceiveResult::kReceived);
    EXPECT_EQ(RawLength(card.track[0]), 1u);
}

TEST(Configuration, BytesAndResults) {
    VirtualRig rig;
    ASSERT_TRUE(rig.Connect());
    EXPECT_EQ(rig.commands.SetTrack2Density(true), CardStatus::kDone);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()), (Bytes{0x1B, 'b', 0xD2}));
    EXPECT_EQ(rig.reader.Density(), 210);
    EXPECT_EQ(rig.commands.SetTrack2Density(false), CardStatus::kDone);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()), (Bytes{0x1B, 'b', 0x4B}));
    EXPECT_EQ(rig.reader.Density(), 75);

    EXPECT_EQ(rig.commands.SetLoCo(), CommandStatus::kOk);
    int coercivity = kHiCo;
    EXPECT_EQ(rig.commands.QueryCoercivity(coercivity), CommandStatus::kOk);
    EXPECT_EQ(coercivity, kLoCo);
    EXPECT_EQ(rig.commands.SetHiCo(), CommandStatus::kOk);
    EXPECT_EQ(rig.commands.QueryCoercivity(coercivity), CommandStatus::kOk);
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
    EXPECT_EQ(rig.commands.QueryCoercivity(coercivity), CommandStatus::kBadReply);
    EXPECT_EQ(coercivity, 7);
    EXPECT_EQ(rig.commands.SetHiCo(), CommandStatus::kBadReply);
    EXPECT_EQ(rig.commands.SetTrack2Density(true), CardStatus::kRejected);
    char version[20] = {};
    EXPECT_EQ(rig.commands.ReadVersion(version, sizeof version), CommandStatus::kBadReply);
    EXPECT_TRUE(rig.commands.IsConnected());

    // Replies slower than the wait: the first byte is missing; the late answer is dropped by
    // the next command's flush.
    rig.reader.SetWrongReplies(false);
    rig.reader.SetReplyDelay(500ms);
    EXPECT_EQ(rig.commands.SetHiCo(), CommandStatus::kNoReply);
    rig.clock.Advance(200ms);
    EXPECT_EQ(rig.commands.SetTrack2Density(true), CardStatus::kNoReplyYet);
}

TEST(Configuration, ScriptedReplies) {
    ScriptedRig rig;
    ScriptedState& s = rig.s;
    ReaderCommands& commands = rig.commands;
    ASSERT_EQ(commands.ConnectPort(1), 1);

    s.Reply({0x1B, '0'});  // ESC '0' is not Hi-Co's ESC 0x00
    EXPECT_EQ(commands.SetHiCo(), CommandStatus::kBadReply);
    int coercivity = kHiCo;
    s.Reply({0x1B, 'h'});  // lower case is not an answer
    EXPECT_EQ(commands.QueryCoercivity(coercivity), CommandStatus::kBadReply);
    EXPECT_EQ(coercivity, kHiCo);
    s.Reply({'x', 'L'});
    EXPECT_EQ(commands.QueryCoercivity(coercivity), CommandStatus::kNoReply);

    // Version: the rest of the buffer keeps its zeros; a long text is bounded.
    Bytes longText = {0x1B, 'R'};
    longText.insert(longText.end(), 60, 'Z');
    s.Reply(longText);
    char version[20] = {};
    EXPECT_EQ(commands.ReadVersion(version, sizeof version), CommandStatus::kOk);
    EXPECT_EQ(std::string(version), std::string(19, 'Z'));

    // Erase: silence accepts; any byte at once refuses without touching the connection.
    EXPECT_EQ(commands.EraseTracks(5), CommandStatus::kOk);  // its bytes: the hidapi backend's test
    EXPECT_EQ(commands.ErasePending(), 0);
    EXPECT_EQ(commands.WaitEraseStatus(), CardStatus::kNoReplyYet);
    s.Send({0x1B, '0'});
    EXPECT_EQ(commands.WaitEraseStatus(), CardStatus::kDone);

    ASSERT_EQ(commands.ResetReader(), CommandStatus::kOk);
    s.Reply({0x1B, 'A'});
    EXPECT_EQ(commands.EraseTracks(1), CommandStatus::kFailed);
    EXPECT_EQ(commands.ErasePending(), -1);
    EXPECT_TRUE(commands.IsConnected());

    // Write status: anything but ESC '0' is -2.
    TrackTexts texts = Texts("", "1", "");
    ASSERT_EQ(commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kOk);
    s.Send({'0', '0'});
    EXPECT_EQ(commands.WaitWriteStatus(), CardStatus::kRejected);
    s.Send({0x1B, '1'});
    EXPECT_EQ(commands.WaitWriteStatus(), CardStatus::kRejected);
}

}  // namespace
}  // namespace tollwick
