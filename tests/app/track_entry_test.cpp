// What the track boxes accept as the operator types and pastes, and what each data type puts in
// force. (The formats, labels and limits of each data type are tested with the card data.)
#include <QClipboard>
#include <QGuiApplication>

#include "app_rig.h"

namespace tollwick::testing {
namespace {

class TrackEntryTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        OpenReady();
    }
    void Paste(int track, const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        Track(track)->setFocus();
        QTest::keyClick(Track(track), Qt::Key_V, Qt::ControlModifier);
    }
};

// Only the first refused character of a change goes, and the caret steps back to where it was.
TEST_F(TrackEntryTest, RefusedCharactersAreDroppedAndTheCaretStepsBack) {
    Type(2, "12;");
    EXPECT_EQ(TrackText(2), "12");
    EXPECT_EQ(Track(2)->SelectionStart(), 2);
    EXPECT_EQ(Track(2)->SelectionEnd(), 2);
    Type(2, "34");
    EXPECT_EQ(Counter(2), "4");
    Track(2)->SetSelection(2, 2);  // also in the middle of the text
    QTest::keyClicks(Track(2), "?");
    EXPECT_EQ(TrackText(2), "1234");
    EXPECT_EQ(Track(2)->SelectionStart(), 2);
    QTest::keyClicks(Track(2), "=");
    EXPECT_EQ(TrackText(2), "12=34");

    Type(1, "%b123?");  // track 1 refuses its sentinels and types capitals
    EXPECT_EQ(TrackText(1), "B123");
    EXPECT_EQ(Counter(1), "4");

    Paste(3, "AB12");
    EXPECT_EQ(TrackText(3), "B12");
    EXPECT_EQ(Counter(3), "3");
    EXPECT_EQ(Track(3)->SelectionStart(), 3);
    QTest::keyClicks(Track(3), "5");
    EXPECT_EQ(TrackText(3), "125");
}

TEST_F(TrackEntryTest, CtrlEnterTypesTwoLineBreakCharactersAndOneStays) {
    Type(2, "12");
    QTest::keyClick(Track(2), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(Track(2)->Length(), 3);
    EXPECT_EQ(Counter(2), "3");
    QTest::keyClicks(Track(2), "3");
    EXPECT_EQ(TrackText(2), "123");
    EXPECT_TRUE(window->isVisible());
}

// The filter follows the data type in force (which characters each one refuses is the card
// data's test).
TEST_F(TrackEntryTest, AlphabetFollowsTheDataTypeInForce) {
    Type(3, "A1");
    EXPECT_EQ(TrackText(3), "1");  // ISO track 3 carries 5-bit characters
    Click(kAamva);
    Type(3, "A");
    EXPECT_EQ(TrackText(3), "1A");  // AAMVA track 3 carries 7-bit characters
    Type(1, "!");

    // Raw Type takes hex digits; texts stay as they were until the next change.
    Click(kRawType);
    EXPECT_EQ(TrackText(1), "!");
    Type(2, "0a1G");
    EXPECT_EQ(TrackText(2), "0A1");
    EXPECT_EQ(Counter(2), "3");
    QTest::keyClicks(Track(1), "1");
    EXPECT_EQ(TrackText(1), "1");

    Click(kIso);
    window->ShowTracks("", "AB1", "");
    Track(2)->SetSelection(3, 3);
    QTest::keyClicks(Track(2), "2");
    EXPECT_EQ(TrackText(2), "B12");
    EXPECT_EQ(Track(2)->SelectionStart(), 3);  // one back from the end, as the caret always goes
}

TEST_F(TrackEntryTest, LimitsStopTypingAndCutPastesButNeverShortenAText) {
    Type(2, QString(40, u'1'));
    EXPECT_EQ(Track(2)->Length(), 37);
    Track(2)->SetProgramText(QString());
    Paste(2, QString(50, u'2'));
    EXPECT_EQ(Track(2)->Length(), 37);
    // Selected text makes room for what replaces it.
    Track(2)->SetSelection(0, 5);
    Paste(2, QStringLiteral("3333333"));
    EXPECT_EQ(Track(2)->Length(), 37);
    EXPECT_TRUE(TrackText(2).startsWith("33333"));

    Click(1046);
    window->ShowTracks("", QString(120, u'1').toStdString(), "");
    Click(1015);
    EXPECT_EQ(Track(2)->Length(), 120);
    Track(2)->SetSelection(120, 120);
    QTest::keyClicks(Track(2), "2");
    EXPECT_EQ(Track(2)->Length(), 120);
    QTest::keyClick(Track(2), Qt::Key_Backspace);
    EXPECT_EQ(Counter(2), "119");
}

// Each choice of a data type puts its formats, labels and limits in force, at the stored density
// (which ones is the card data's test).
TEST_F(MainWindowTest, DataTypeChoicesRelabelAndResizeAtTheStoredDensity) {
    OpenReady({{"BPISET", "1"}});
    Click(kAamva);
    EXPECT_EQ(Label(2), "Track2 210 BPI 5 BPC ODD Parity");
    Click(kCaDmv);
    EXPECT_EQ(Label(1), "Track1 210 BPI 6 BPC NONE Parity");
    Click(kRawType);  // Raw Type after CA DMV keeps parity and sentinels
    EXPECT_EQ(format.Settings()[1], (TrackSettings{8, kParityOdd, ';', '?'}));
    EXPECT_EQ(Label(2), "Track2 210 BPI 8 BPC None Parity");
    EXPECT_EQ(Track(1)->Limit(), 140);
    Click(kIso);
    EXPECT_EQ(format.Get(), (TrackFormat{kIsoTrackSet, DataType::kIso, Track2Density::k210}));
    EXPECT_EQ(Label(2), "Track2 210 BPI 5 BPC Odd Parity");
    Type(2, QString(110, u'7'));
    EXPECT_EQ(Counter(2), "104");

    Click(kUserType);
    ASSERT_TRUE(profile->Write("TR2BPC", "0"));  // read again at each choice
    Click(kIso);
    Click(kUserType);
    EXPECT_EQ(Label(2), "Track2 210 BPI 4 BPC None Parity");
    EXPECT_EQ(format.Settings()[1].bpc, 4);
}

}  // namespace
}  // namespace tollwick::testing
