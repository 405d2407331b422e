// The report channel: report boundaries and fill, device choice, stream bytes, refused queues and
// failed writes, and the reader going away in the middle of a command (between commands: the
// hidapi backend's test; the 50 ms an output report is given: TimingRules).
#include <gtest/gtest.h>

#include <stop_token>
#include <thread>

#include "device/clock.h"
#include "device/reader_link.h"
#include "reader_rig.h"

namespace tollwick {
namespace {

using testing::ScriptedState;
using Bytes = std::vector<uint8_t>;

// The channel over a scripted device, opened on port 1.
struct LinkRig {
    explicit LinkRig(int inputLength = 9) {
        s.inputLength = inputLength;
        EXPECT_EQ(link.LinkOpen(1, 9600, 8, 0), 0);
    }
    ScriptedState s;
    ReaderLink link{s, s.clock};
};

TEST(ReaderLink, ReportBoundariesAndFill) {
    LinkRig rig;
    auto& [s, link] = rig;

    // Eight bytes to a report, the last report filled with zeros, and no empty report after.
    for (uint8_t count : {8, 9}) {
        for (uint8_t b = 1; b <= count; ++b) link.LinkPutByte(1, b);
        ASSERT_EQ(link.LinkFlush(1), 0);
    }
    const Bytes eight{0, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(s.output, (std::vector<Bytes>{eight, eight, {0, 9, 0, 0, 0, 0, 0, 0, 0}}));

    // An empty flush sends nothing but still drains stale input and empties the ring.
    s.output.clear();
    s.Send({0x1B, 'y', 'x', 'x', 'x', 'x', 'x', 'x'});
    uint8_t byte = 0;
    ASSERT_EQ(link.LinkGetByte(1, &byte, 50), 0);  // one byte taken, seven left in the ring
    s.Send({0x42});                                // a stale report still waiting
    ASSERT_EQ(link.LinkFlush(1), 0);
    EXPECT_TRUE(s.output.empty());
    EXPECT_TRUE(s.input.empty());
    EXPECT_EQ(link.LinkGetByte(1, &byte, 1), kLinkNoByte);
}

TEST(ReaderLink, StreamBytesOfEveryReportLength) {
    for (int length : {2, 3, 9, 64, 65, 200}) {
        LinkRig rig(length);
        auto& [s, link] = rig;
        Bytes stream;
        for (int i = 0; i < 300; ++i) stream.push_back(static_cast<uint8_t>(i * 7 + 1));
        s.Send(stream);
        // Every byte after the report id is stream data, fill included.
        const std::size_t total = s.input.size() * static_cast<std::size_t>(length - 1);
        Bytes got;
        uint8_t byte = 0;
        while (link.LinkGetByte(1, &byte, 1) == 0) got.push_back(byte);
        ASSERT_EQ(got.size(), total) << length;
        EXPECT_TRUE(std::equal(stream.begin(), stream.end(), got.begin())) << length;
        EXPECT_TRUE(std::all_of(got.begin() + 300, got.end(), [](uint8_t b) { return b == 0; }));
    }
    // Reports of a length outside 2..200 are not carried.
    for (int length : {1, 201, 4096}) {
        LinkRig rig(length);
        rig.s.input.push_back(Bytes(static_cast<std::size_t>(length), 0x55));
        uint8_t byte = 0;
        EXPECT_EQ(rig.link.LinkGetByte(1, &byte, 1), kLinkNoByte) << length;
    }
}

TEST(ReaderLink, ChoosesTheReaderByVendorAndProduct) {
    ScriptedState s;
    s.devices = {{"other-product", 0x0801, 0x0006},
                 {"second-vendor", 0x0802, 0x0005},
                 {"first-vendor", 0x0801, 0x0005}};
    ReaderLink link(s, s.clock);
    ASSERT_EQ(link.LinkOpen(1, 9600, 8, 0), 0);
    EXPECT_EQ(s.opened, std::vector<std::string>{"first-vendor"});

    // An interface that cannot be opened is passed over; the search goes on.
    s.devices = {{"held", 0x0801, 0x0005}, {"free", 0x0801, 0x0005}};
    s.unopenable = {"held"};
    s.opened.clear();
    ASSERT_EQ(link.LinkOpen(1, 9600, 8, 0), 0);
    EXPECT_EQ(s.opened, (std::vector<std::string>{"held", "free"}));
    s.devices = {{"held", 0x0801, 0x0005}, {"second-vendor", 0x0802, 0x0005}};
    s.opened.clear();
    ASSERT_EQ(link.LinkOpen(1, 9600, 8, 0), 0);
    EXPECT_EQ(s.opened.back(), "second-vendor");

    s.devices = {{"other-product", 0x0801, 0x0006}, {"held", 0x0802, 0x0005}};
    EXPECT_EQ(link.LinkOpen(1, 9600, 8, 0), -1);
    EXPECT_FALSE(link.IsOpen());
}

TEST(ReaderLink, RefusedQueuesAndFailedFlushes) {
    LinkRig rig;
    auto& [s, link] = rig;
    for (int i = 0; i < 512; ++i) ASSERT_EQ(link.LinkPutByte(1, 0x11), 0);
    EXPECT_EQ(link.LinkPutByte(1, 0x22), -1);
    EXPECT_EQ(link.LinkFlush(1), -1);
    EXPECT_TRUE(s.output.empty());
    // The next command goes out whole.
    link.LinkPutByte(1, 0x1B);
    link.LinkPutByte(1, 'a');
    EXPECT_EQ(link.LinkFlush(1), 0);
    EXPECT_EQ(s.output.size(), 1u);

    s.failWrites = true;
    link.LinkPutByte(1, 0x1B);
    EXPECT_EQ(link.LinkFlush(1), -1);
    EXPECT_FALSE(link.IsOpen());

    // The reader goes in the middle of a command (between commands: the hidapi backend's test):
    // the device reports no output length after the first report, gone and come back. The rest
    // of the command is never sent on a new handle, where it would read as a command of its own.
    LinkRig replugged;
    replugged.s.outputLengthAfterWrites = {1, 0};
    for (int i = 0; i < 12; ++i) replugged.link.LinkPutByte(1, static_cast<uint8_t>(i + 1));
    EXPECT_EQ(replugged.link.LinkFlush(1), -1);
    EXPECT_EQ(replugged.s.output.size(), 1u);
    EXPECT_EQ(replugged.s.opened.size(), 1u);
}

// The program's clock: a pause ends on a stop requested by another thread, long before its time
// (a Cancel that waits for the worker's poll pause holds the window).
TEST(SystemClock, APauseEndsOnAStopFromAnotherThread) {
    std::stop_source stop;
    std::jthread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop.request_stop();
    });
    EXPECT_TRUE(SystemClock().SleepFor(std::chrono::seconds(30), stop.get_token()));
}

}  // namespace
}  // namespace tollwick
