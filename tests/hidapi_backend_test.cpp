// The real hidapi backend, linked against a fake hidapi library, driven through the report
// channel and the reader commands: the path every real reader takes.
#include <gtest/gtest.h>

#include "device/hid_backend.h"
#include "device/reader_commands.h"
#include "device/reader_link.h"
#include "fake_hidapi.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Fake;

// Which interface is taken is the report channel's test; here every handle opened is closed and
// the library left as found, the bytes go both ways as a real reader's, and a cable is pulled.
TEST(HidapiBackend, HandlesStreamBytesAndAPulledCable) {
    testing::ResetFake();
    // The reader answers the connection test, as a VK3300S does, with unnumbered reports of eight
    // data bytes.
    Fake().onWrite = [](const Bytes& report) {
        if (report.size() >= 3 && report[1] == 0x1B && report[2] == 'e') {
            Fake().input.push_back({0x1B, 'y', 0, 0, 0, 0, 0, 0});
        }
    };
    Fake().interfaces = {{"/dev/hidraw1", 0x0801, 0x0005, /*openable=*/false},
                         {"/dev/hidraw2"},
                         {"/dev/hidraw3", 0x0802, 0x0005}};
    {
        auto backend = MakeHidapiBackend();
        ReaderLink link(*backend);
        ReaderCommands commands(link);
        EXPECT_EQ(commands.ConnectScan(), 1);  // past the node that cannot be opened
        EXPECT_EQ(commands.ConnectPort(4), 4);
        EXPECT_EQ(Fake().open, 1);  // the replaced handle is closed
    }
    EXPECT_EQ(Fake().open, 0);
    EXPECT_EQ(Fake().initialised, 0);

    Fake().interfaces = {{"/dev/hidraw0"}};
    auto backend = MakeHidapiBackend();
    ReaderLink link(*backend);
    ReaderCommands commands(link);
    ASSERT_EQ(commands.ConnectScan(), 1);
    // hidapi takes the report id in front of the data and passes it on; input reports of any
    // length come without it, and every data byte is stream data, fill included.
    ASSERT_EQ(commands.EraseTracks(5), CommandStatus::kOk);
    EXPECT_EQ(Fake().written.back(), (Bytes{0, 0x1B, 'c', 0x05, 0, 0, 0, 0, 0}));
    Fake().input = {{0x1B, 's', 0x1B}, {0x01, 0x00}};
    Bytes stream;
    uint8_t byte = 0;
    while (link.LinkGetByte(1, &byte, 50) == 0) stream.push_back(byte);
    EXPECT_EQ(stream, (Bytes{0x1B, 's', 0x1B, 0x01, 0x00}));

    ASSERT_EQ(commands.StartRawRead(), CommandStatus::kOk);
    testing::PullCable();
    CardTracks card;
    EXPECT_EQ(commands.ReceiveTracks(card),
              ReceiveResult::kNoSwipe);  // the read fails: nothing came
    // Still out: the next command cannot be sent, and the reader is marked gone.
    EXPECT_EQ(commands.StartRawRead(), CommandStatus::kFailed);
    EXPECT_FALSE(commands.IsConnected());

    // Back in (a new hidraw node): the connection test finds it and the commands go out whole.
    Fake().interfaces = {{"/dev/hidraw5"}};
    testing::PlugCableIn();
    EXPECT_EQ(commands.ConnectPort(2), 2);
    ASSERT_EQ(commands.StartRawRead(), CommandStatus::kOk);
    EXPECT_EQ(Fake().written.back(), (Bytes{0, 0x1B, 'm', 0, 0, 0, 0, 0, 0}));

    // Pulled and plugged in again between two commands: the stale handle fails the flush's
    // drain, and the command goes whole to the new node.
    testing::PullCable();
    testing::PlugCableIn();
    Fake().written.clear();
    EXPECT_EQ(commands.ResetReader(), CommandStatus::kOk);
    EXPECT_EQ(Fake().written, (std::vector<Bytes>{{0, 0x1B, 'a', 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(Fake().open, 1);
}

}  // namespace
}  // namespace tollwick
