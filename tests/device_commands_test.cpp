// The reader commands against the virtual reader and a scripted device, on virtual time: bytes
// on the wire, the integer results of every case, and the waits that end replies and blocks.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "device/reader_commands.h"
#include "device/setup_connection.h"
#include "device/startup_connection.h"
#include "device/virtual/virtual_reader.h"
#include "reader_rig.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
using testing::ConnectedRig;
using testing::ScriptedRig;
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
    // One test, then the reset that every successful connection sends, 5 ms after the answer:
    // the answer comes one 1 ms poll after the test, then the pause, then the reset's 1 ms drain.
    const auto times = rig.reader.OutputTimes();
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()), (Bytes{0x1B, 'e', 0x1B, 'a'}));
    EXPECT_EQ(times.at(1) - times.at(0), 1ms + 5ms + 1ms);
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kNotPending);
    EXPECT_EQ(rig.commands.WaitEraseStatus(), CardStatus::kNotPending);

    // Wrong answers are no reader: fifty tests, each ESC 'e'.
    rig.reader.SetWrongReplies(true);
    EXPECT_EQ(rig.commands.ConnectScan(), -1);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()).size(), 100u);
    // No reader: no waits at all, and the port in force stays as it was.
    rig.reader.SetWrongReplies(false);
    ASSERT_EQ(rig.commands.ConnectPort(3), 3);
    rig.commands.BeepOff();  // the virtual reader keeps its beeper's state
    EXPECT_FALSE(rig.reader.BeeperOn());
    rig.commands.BeepOn();
    EXPECT_TRUE(rig.reader.BeeperOn());
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
    TrackTexts texts{"abc", "", ""};
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

    // The stored port, the look-ups refused (two to an attempt that finds no reader), whether a
    // reader is plugged in; what ConnectForSetup gives, and the connection tests sent.
    const std::tuple<std::optional<int>, int, bool, SetupConnection, std::ptrdiff_t> rows[] = {
        {3, 0, true, {true, 3, false}, 1}, {3, 2, true, {true, 5, true}, 1},
        {3, 4, true, {true, 1, true}, 1},  {std::nullopt, 0, true, {true, 5, true}, 1},
        {0, 0, true, {true, 0, false}, 0}, {0, 0, false, {true, 0, false}, 0},
        {-1, 0, true, {true, 5, true}, 1}, {3, 0, false, {false, -1, false}, 0},
    };
    for (const auto& [stored, refused, plugged, want, tests] : rows) {
        VirtualRig rig;
        if (!plugged) rig.reader.Unplug();
        rig.tap.RefuseLookups(refused);
        const SetupConnection got = ConnectForSetup(rig.commands, stored, 5);
        const Bytes sent = Sent(rig.reader.TakeOutputReports());
        EXPECT_EQ(std::tuple(got.connected, got.port, got.storeTypedPort,
                             std::count(sent.begin(), sent.end(), 'e')),
                  std::tuple(want.connected, want.port, want.storeTypedPort, tests))
            << stored.value_or(-9) << "/" << refused << "/" << plugged;
    }
}

// The start-up connects under the stored port, else scans; then it sends the density and, in
// full, asks the coercivity (switching to Hi-Co on the desktop) and the version, which decides
// the beeper: firmware newer than EVU1.06, compared byte by byte, unsigned.
TEST(Connection, StartupConnectsThenSetsTheReaderUp) {
    const std::tuple<const char*, int, ConnectDetail, const char*, int, bool, bool, bool> rows[] = {
        // stored port, look-ups refused, detail, firmware; port, version read, beep, Hi-Co
        {"3", 0, ConnectDetail::kFullHiCo, "EVU1.07", 3, true, true, true},
        {"7", 2, ConnectDetail::kFull, "EVU1.06", 1, true, false, false},
        {"", 0, ConnectDetail::kDensityOnly, "EVU1.07", 1, false, false, false},
        {"", 0, ConnectDetail::kFull, "EVU2", 1, true, true, false},
        {"", 0, ConnectDetail::kFull, "EVU1", 1, true, false, false},
        {"", 0, ConnectDetail::kFull, "\xC0VU", 1, true, true, false},
        {"2", 200, ConnectDetail::kFull, "EVU1.07", -1, false, false, false},
    };
    for (const auto& [stored, refused, detail, firmware, port, versionRead, beep, hiCo] : rows) {
        ConnectedRig rig({.version = firmware});
        ASSERT_EQ(rig.commands.SetLoCo(), CommandStatus::kOk);  // a reader left in Lo-Co
        rig.tap.RefuseLookups(refused);
        const StartupConnection got =
            ConnectAtStartup(rig.commands, stored, Track2Density::k75, detail);
        const std::optional<int> coercivity = versionRead ? std::optional(kLoCo) : std::nullopt;
        EXPECT_EQ(std::tuple(got.port, got.versionRead, got.version, got.beepSupported,
                             got.coercivity, rig.reader.HighCoercivity(), rig.reader.Density()),
                  std::tuple(port, versionRead, versionRead ? firmware : "", beep, coercivity, hiCo,
                             port > 0 ? 75 : 210))
            << stored << " " << firmware;
    }
    EXPECT_EQ(ConnectionLine(3, "EVU1.07"), "COM3 9600,8,N,1  VK3300 EVU1.07");
}

using Late = std::chrono::milliseconds;

// How the reader is late: with its whole reply, after the first n reports of it (n > 0), or in
// taking the next output report.
constexpr int kWholeReply = -1;
constexpr int kTakingAReport = -2;

// Runs `run(rig)` on a fresh connected rig (on reports of `length` bytes, 2: one stream byte
// each) with the reader `edge` - 1 ms late, which is to give `taken`, and `edge` late, which is
// to give `missed`.
template <class Result, class Run>
void AtTheEdge(const char* wait, Late edge, int length, int lateAfter, Result taken, Result missed,
               Run run) {
    for (const Late late : {edge - 1ms, edge}) {
        ConnectedRig rig({.inputReportLength = length});
        if (lateAfter == kWholeReply) rig.reader.SetReplyDelay(late);
        if (lateAfter == kTakingAReport) rig.reader.SetBusyNext(late);
        if (lateAfter > 0) rig.reader.SetStallNext(static_cast<std::size_t>(lateAfter), late);
        EXPECT_EQ(run(rig), late < edge ? taken : missed) << wait << " " << late.count();
    }
}

// Each wait that ends a reply or a block, at its edge: a byte that comes on the last millisecond
// of the wait is taken, one a millisecond later is not. Reports leave the reader one per 1 ms
// poll, so a reply made ready d ms after its command is there after d + 1 ms.
TEST(TimingRules, EveryReplyWaitEndsWhereItShould) {
    // The connection test (here of a reader connected already) waits 150 ms for each reply
    // byte: the first, and the 'y' after it.
    const auto connects = [](VirtualRig& rig) { return rig.commands.ConnectPort(1) == 1; };
    AtTheEdge("test", 150ms, 9, kWholeReply, true, false, connects);
    AtTheEdge("test 'y'", 150ms, 2, 1, true, false, connects);
    // The erase command listens 50 ms for a refusal; later silence means the reader waits.
    AtTheEdge("erase", 50ms, 9, kWholeReply, CommandStatus::kFailed, CommandStatus::kOk,
              [](VirtualRig& rig) {
                  rig.reader.SetRejectErases(true);
                  return rig.commands.EraseTracks(1);
              });
    // The version text ends at the first 350 ms gap (after ESC, 'R', 'E', 'V').
    AtTheEdge("version", 350ms, 2, 4, std::string("EVU1.07"), std::string("EV"),
              [](VirtualRig& rig) {
                  char version[20] = {};
                  EXPECT_EQ(rig.commands.ReadVersion(version, sizeof version), CommandStatus::kOk);
                  return std::string(version);
              });
    // What the reader sends at once after a write block is dropped until 50 ms of silence: a
    // chatter byte (ESC 'A') that lags longer is taken for the card's status.
    AtTheEdge("chatter", 50ms, 2, 1, CardStatus::kDone, CardStatus::kRejected, [](VirtualRig& rig) {
        rig.reader.SetChatterAfterWrite(true);
        return rig.Write(kIsoTrackSet, "", "1234", "");
    });
    // A read block ends at the first 50 ms gap: a card whose block pauses longer reads cut.
    AtTheEdge("read block", 50ms, 9, 3, true, false, [](VirtualRig& rig) {
        CardTracks card;
        return rig.ReadCard(3, card) == ReceiveResult::kReceived &&
               DecodeTracks(card, kIsoTrackSet) == 0 &&
               card.Text(1) == ";4000001234567899=29121010000000000000?";
    });
    // An output report the reader does not accept within 50 ms fails the flush and drops the
    // handle, and the command marks the connection lost; one accepted on the 50th ms goes through.
    AtTheEdge("flush", 51ms, 9, kTakingAReport, true, false, [](VirtualRig& rig) {
        const auto start = rig.clock.Now();
        const bool sent = rig.commands.ResetReader() == CommandStatus::kOk;
        // The 1 ms drain before the report, then the wait for the reader to take it.
        EXPECT_EQ(rig.clock.Now() - start, 1ms + 50ms);
        EXPECT_EQ(rig.link.IsOpen(), sent);
        EXPECT_EQ(rig.commands.IsConnected(), sent);
        return sent;
    });
    // ... and with nothing swiped the first byte is awaited 350 ms.
    ConnectedRig rig;
    ASSERT_EQ(rig.commands.StartRawRead(), CommandStatus::kOk);
    CardTracks card;
    card.SetText(0, "UNTOUCHED");
    const auto start = rig.clock.Now();
    EXPECT_EQ(rig.commands.ReceiveTracks(card), ReceiveResult::kNoSwipe);
    EXPECT_EQ(rig.clock.Now() - start, 350ms);
    EXPECT_EQ(card.Text(0), "UNTOUCHED");

    // The status of a write, an erase or a density command: each byte is awaited 350 ms, the
    // second (on reports of one byte each) as the first. A write's status whose second byte is
    // late is lost: the first byte is spent.
    enum Command { kWrite, kErase, kDensity };
    for (auto [command, missed] : {std::pair{kWrite, CardStatus::kNoReplyYet},
                                   {kErase, CardStatus::kRejected},
                                   {kDensity, CardStatus::kRejected}}) {
        AtTheEdge("second byte", 350ms, 2, 1, CardStatus::kDone, missed,
                  [command = command](VirtualRig& rig) {
                      TrackTexts texts{"", "1234", ""};
                      EXPECT_EQ(command == kWrite   ? rig.commands.WriteTracks(texts, kIsoTrackSet)
                                : command == kErase ? rig.commands.EraseTracks(2)
                                                    : CommandStatus::kOk,
                                CommandStatus::kOk);
                      rig.reader.Swipe(0);  // no card is taken unless armed
                      return command == kWrite   ? rig.commands.WaitWriteStatus()
                             : command == kErase ? rig.commands.WaitEraseStatus()
                                                 : rig.commands.SetTrack2Density(true);
                  });
    }
    AtTheEdge("first byte", 350ms, 9, kWholeReply, CardStatus::kDone, CardStatus::kNoReplyYet,
              [](VirtualRig& rig) { return rig.commands.SetTrack2Density(false); });
}

// After a wrong erase or density status the rest of the reply is dropped until 50 ms of silence:
// a byte 49 ms behind it goes with it, one 51 ms behind is left for whoever reads next. Were it
// left, it would arrive in the next erase command's 50 ms listen and read as a refusal.
TEST(TimingRules, AWrongStatusIsDroppedUntil50MsOfSilence) {
    for (bool erase : {true, false}) {
        for (auto [behind, dropped] : {std::pair{49ms, true}, std::pair{51ms, false}}) {
            ScriptedRig rig;
            rig.s.inputLength = 2;
            ASSERT_TRUE(rig.Connect());
            ASSERT_TRUE(!erase || rig.commands.EraseTracks(2) == CommandStatus::kOk);
            // The wrong status, waiting for the erase, or the density command's reply (which
            // comes after the command's 1 ms drain), and a byte `behind` it.
            erase ? rig.s.Send({kEsc, 'A'}) : rig.s.Reply({kEsc, 'A'});
            rig.s.SendAfter((erase ? 0ms : 1ms) + behind, {'x'});
            EXPECT_EQ(erase ? rig.commands.WaitEraseStatus() : rig.commands.SetTrack2Density(true),
                      CardStatus::kRejected);
            uint8_t byte = 0;
            EXPECT_EQ(rig.link.LinkGetByte(1, &byte, 100) == kLinkNoByte, dropped)
                << erase << " " << behind.count();
        }
    }
}

TEST(TrackData, WriteBlockBytes) {
    ConnectedRig rig;
    TrackTexts texts{"", "1234", ""};
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kOk);
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()),
              (Bytes{0x1B, 'n', 0x1B, 's', 0x1B, 0x01, 0x00, 0x1B, 0x02, 0x05, 0x2B, 0x88, 0x49,
                     0x3E, 0x04, 0x1B, 0x03}));

    // Here the empty track 3's zero length byte starts a report of its own: without it the
    // reader would wait for the rest of the block and never arm.
    texts = {"", "123", ""};
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kOk);
    const auto reports = rig.reader.TakeOutputReports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(Bytes(reports[1].begin() + 7, reports[1].end()), (Bytes{0x1B, 0x03}));
    EXPECT_EQ(rig.reader.ArmedFor(), VirtualReader::Armed::kWrite);
    rig.reader.Swipe(0);
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kDone);

    const TrackSet raw{{{8, 0, '%', '?'}, {8, 0, ';', '?'}, {8, 0, ';', '?'}}};
    texts = {"01a0", "abc", ""};
    ASSERT_EQ(rig.commands.WriteTracks(texts, raw), CommandStatus::kOk);
    EXPECT_STREQ(texts[0].data(), "01A0");
    EXPECT_EQ(Sent(rig.reader.TakeOutputReports()),
              (Bytes{0x1B, 'n', 0x1B, 's', 0x1B, 0x01, 0x02, 0x80, 0x05, 0x1B, 0x02, 0x01, 0xD5,
                     0x1B, 0x03}));
}

// A write that cannot be carried sends nothing; an accepted one's status, with no card yet, is
// nothing after the whole 350 ms wait, and again (what each status reply means: the scripted
// commands' table); with the reader gone the write fails, the texts upper-cased all the same.
TEST(TrackData, RefusedWritesAndTheWriteStatus) {
    ConnectedRig rig;
    // Three 7-bit tracks of 252 characters make a block larger than the link's queue.
    TrackTexts texts;
    texts.fill(std::string(252, 'A'));
    const TrackSet wide{{{7, 0, '%', '?'}, {7, 0, '%', '?'}, {7, 0, '%', '?'}}};
    EXPECT_EQ(rig.commands.WriteTracks(texts, wide), CommandStatus::kTooLong);
    EXPECT_TRUE(rig.reader.TakeOutputReports().empty());

    texts = {"B123", "1234", "5678"};
    ASSERT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kOk);
    const auto start = rig.clock.Now();
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kNoReplyYet);
    EXPECT_EQ(rig.clock.Now() - start, 350ms);
    ASSERT_TRUE(rig.reader.Swipe(0));
    EXPECT_EQ(rig.commands.WaitWriteStatus(), CardStatus::kDone);
    rig.reader.SetRejectWrites(true);
    EXPECT_EQ(rig.Write(kIsoTrackSet, "", "1234", "", 1), CardStatus::kRejected);

    rig.reader.Unplug();
    texts = {"b12", "", "x"};
    EXPECT_EQ(rig.commands.WriteTracks(texts, kIsoTrackSet), CommandStatus::kFailed);
    EXPECT_STREQ(texts[0].data(), "B12");
    EXPECT_EQ(rig.commands.CurrentPort(), -1);
}

TEST(TrackData, WriteThenReadRoundTripsForEveryReportLengthAndPace) {
    const TrackSet aamva{{{7, 0, '%', '?'}, {5, 0, ';', '?'}, {7, 0, '%', '?'}}};
    for (int length : {2, 3, 9, 64, 65, 200}) {
        for (auto interval : {1000us, 10000us}) {
            ConnectedRig rig({.inputReportLength = length,
                              .pollInterval = interval,
                              .pollJitter = interval / 2});
            ASSERT_EQ(rig.Write(aamva, "DOE$JOHN^123 MAIN", "6360141234567890=2912", "#!!95814"),
                      CardStatus::kDone)
                << length;
            CardTracks card;
            ASSERT_EQ(rig.ReadCard(0, card), ReceiveResult::kReceived) << length;
            ASSERT_EQ(DecodeTracks(card, aamva), 0) << length;
            EXPECT_EQ(std::tuple(card.Text(0), card.Text(1), card.Text(2)),
                      std::tuple("%DOE$JOHN^123 MAIN?", ";6360141234567890=2912?", "%#!!95814?"));
        }
    }
}

// A command's result as the integer the reader protocol gives it, whichever its kind.
struct Result {
    template <class Status>
    Result(Status status) : value(static_cast<int>(status)) {}  // NOLINT(runtime/explicit)
    int value;
};

// The commands against a scripted reader, one step after another on one connection: the bytes
// each sends, the reader's answer (to the command's report; for a wait, which sends nothing,
// there before it) and what the command makes of it.
TEST(Commands, WhatTheySendAndWhatTheyMakeOfTheAnswer) {
    using enum CommandStatus;
    using enum CardStatus;
    using enum ReceiveResult;
    ScriptedRig rig;
    rig.s.inputLength = 2;  // one byte per report: no fill, a block ends where it ends
    ASSERT_TRUE(rig.Connect());
    ReaderCommands& c = rig.commands;
    TrackTexts texts{"", "1", ""};
    ASSERT_EQ(c.WriteTracks(texts, kIsoTrackSet), kOk);  // its bytes: TrackData.WriteBlockBytes
    rig.s.output.clear();

    // QueryCoercivity: the coercivity named, else the status (and the value left alone).
    const auto query = [&c] {
        int named = 7;
        const CommandStatus status = c.QueryCoercivity(named);
        EXPECT_EQ(named == 7, status != kOk);
        return status == kOk ? Result(named) : Result(status);
    };
    const auto writeStatus = [&c] { return c.WaitWriteStatus(); };
    const auto eraseStatus = [&c] { return c.WaitEraseStatus(); };
    const auto hiCo = [&c] { return c.SetHiCo(); };
    char version[20] = {};
    const auto readVersion = [&c, &version] { return c.ReadVersion(version, sizeof version); };
    Bytes longVersion(62, 'Z');  // a text longer than the buffer
    longVersion[0] = kEsc, longVersion[1] = 'R';
    CardTracks card;
    const auto receive = [&c, &card] { return c.ReceiveTracks(card); };
    struct Step {
        std::function<Result()> command;
        Bytes answer;
        Result result;
        Bytes sent = {};  // none: a wait, whose answer is there before it
    };
    const Step steps[] = {
        // A write's or an erase's status: ESC '0' is done, any other two bytes a rejection.
        {writeStatus, {}, kNoReplyYet},
        {writeStatus, {'0', '0'}, kRejected},
        {writeStatus, {kEsc, '1'}, kRejected},
        {writeStatus, {kEsc, '0'}, kDone},
        {[&c] { return c.ResetReader(); }, {}, kOk, {kEsc, 'a'}},
        {writeStatus, {}, kNotPending},
        // Erase: silence accepts; any byte at once refuses, without touching the connection.
        {[&c] { return c.EraseTracks(5); }, {}, kOk, {kEsc, 'c', 5}},
        {eraseStatus, {}, kNoReplyYet},
        {eraseStatus, {kEsc, '0'}, kDone},
        {[&c] { return c.EraseTracks(1); }, {kEsc, 'A'}, kFailed, {kEsc, 'c', 1}},
        {[&c] { return c.SetTrack2Density(true); }, {kEsc, '0'}, kDone, {kEsc, 'b', 0xD2}},
        {[&c] { return c.SetTrack2Density(false); }, {kEsc, '0'}, kDone, {kEsc, 'b', 0x4B}},
        {[&c] { return c.SetTrack2Density(true); }, {kEsc, '!'}, kRejected, {kEsc, 'b', 0xD2}},
        // Reply commands: ESC and the one expected byte (ESC '0' is not Hi-Co's ESC 0x00, and
        // lower case is no answer).
        {[&c] { return c.SetLoCo(); }, {kEsc, 0}, kOk, {kEsc, 'y'}},
        {hiCo, {kEsc, 0}, kOk, {kEsc, 'x'}},
        {hiCo, {kEsc, '0'}, kBadReply, {kEsc, 'x'}},
        {query, {kEsc, 'L'}, kLoCo, {kEsc, 'd'}},
        {query, {kEsc, 'H'}, kHiCo, {kEsc, 'd'}},
        {query, {kEsc, 'h'}, kBadReply, {kEsc, 'd'}},
        {query, {'x', 'L'}, kNoReply, {kEsc, 'd'}},
        {readVersion, {kEsc, '!'}, kBadReply, {kEsc, 'v'}},
        {readVersion, longVersion, kOk, {kEsc, 'v'}},
        {[&c] { return c.BeepOn(), kOk; }, {}, kOk, {kEsc, 0x88}},
        {[&c] { return c.BeepOff(), kOk; }, {}, kOk, {kEsc, 0x89}},
        // A read block: track 2 is taken only right after track 1, track 3 only right after
        // track 2; the last four bytes of a block are the reader's trailer, not looked at.
        {receive, {kEsc, 's', kEsc, 2, 1, 0x55, 0, 0, 0, 0}, kSplitFailed},
        {receive, {kEsc, 's', kEsc, 1, 1, 0xD0, kEsc, 3, 1, 0xD0, 0, '?', 0x1C, '0'}, kSplitFailed},
        {receive, {kEsc, 's', kEsc, 1, 1, 0xD0, kEsc, 7, 1, 0x00}, kReceived},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        step.sent.empty() ? rig.s.Send(step.answer) : rig.s.Reply(step.answer);
        EXPECT_EQ(step.command().value, step.result.value) << "step " << i;
        EXPECT_EQ(Sent(rig.s.output), step.sent) << "step " << i;
        rig.s.output.clear();
    }
    EXPECT_EQ(RawLength(card.track[0]), 1u);
    EXPECT_EQ(std::string(version), std::string(19, 'Z'));  // the buffer's last zero kept
    EXPECT_TRUE(c.IsConnected());

    // A reply slower than the wait: the first byte is missing, and the late answer is dropped
    // by the next command's flush.
    rig.s.SendAfter(500ms, {kEsc, 0});
    EXPECT_EQ(c.SetHiCo(), kNoReply);
    rig.s.clock.Advance(200ms);
    EXPECT_EQ(c.SetTrack2Density(true), kNoReplyYet);
}

}  // namespace
}  // namespace tollwick
