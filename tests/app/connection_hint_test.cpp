// A reader that is plugged in but may not be opened is explained once after the start-up
// connection; without a reader there is nothing to explain until one is plugged in.
#include "app/setup_dlg.h"
#include "app_rig.h"

namespace tollwick::testing {
namespace {

// Lists the virtual reader but cannot open it, as hidraw does without the permission.
class UnopenableBackend final : public HidBackend {
  public:
    explicit UnopenableBackend(VirtualReader& reader) : listed_(reader) {}
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        return listed_.Enumerate(vendorId, productId);
    }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo&) override { return nullptr; }

  private:
    VirtualBackend listed_;
};

TEST_F(SessionTest, AReaderThatMayNotBeOpenedIsExplainedOnce) {
    reader = std::make_unique<VirtualReader>(VirtualReader::Options{}, SampleDeck(), *clock);
    session = std::make_unique<DesktopSession>(std::make_unique<UnopenableBackend>(*reader),
                                               *profile, boxes, *clock);
    session->Start();
    ASSERT_TRUE(WaitUntil([this] { return !boxes.shown.empty(); }));
    EXPECT_EQ(boxes.shown, std::vector<QString>{DesktopSession::CannotOpenReaderText()});
    EXPECT_EQ(Message(), "Not Connect Device");
    QTest::qWait(5 * DesktopSession::kTickMs);
    EXPECT_EQ(boxes.shown.size(), 1u);

    // Nothing plugged in: nothing to explain.
    session.reset();
    boxes.shown.clear();
    Start({}, /*plugged=*/false);
    ASSERT_TRUE(WaitMessage("Not Connect Device"));
    QTest::qWait(5 * DesktopSession::kTickMs);
    EXPECT_TRUE(boxes.shown.empty());

    // Plugged in later: the message line says so, once; the start-up does not connect again.
    reader->Plug();
    ASSERT_TRUE(WaitMessage(DesktopSession::ReaderFoundText()));
    EXPECT_FALSE(session->Reader().IsConnected());
    Window().SetMessage("");
    QTest::qWait(DesktopSession::kReaderWatchMs + 200);
    EXPECT_EQ(Message(), "");
    // Out and in again: said again. Setup's OK connects it, and the watch ends.
    reader->Unplug();
    QTest::qWait(DesktopSession::kReaderWatchMs + 200);
    reader->Plug();
    ASSERT_TRUE(WaitMessage(DesktopSession::ReaderFoundText()));
    Window().SetupWindow().Open();
    Window().SetupWindow().accept();
    EXPECT_EQ(Message(), "K47 Ready");
    ASSERT_TRUE(WaitUntil([this] { return !session->WatchingForReader(); }));
    EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
}  // namespace tollwick::testing
