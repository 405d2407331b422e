// What the track boxes accept as the operator types and pastes, and what each data type puts in
// force.
#include <QClipboard>
#include <QGuiApplication>

#include "app_test_support.h"

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

TEST_F(TrackEntryTest, SentinelTypedIntoTrack2IsDroppedAndTheCaretStepsBack) {
    Type(2, "12;");
    EXPECT_EQ(TrackText(2), "12");
    EXPECT_EQ(Track(2)->SelectionStart(), 2);
    EXPECT_EQ(Track(2)->SelectionEnd(), 2);
    Type(2, "34");
    EXPECT_EQ(TrackText(2), "1234");
    EXPECT_EQ(Counter(2), "4");

    // The caret is where the refused character was typed, also in the middle of the text.
    Track(2)->SetSelection(2, 2);
    QTest::keyClicks(Track(2), "?");
    EXPECT_EQ(TrackText(2), "1234");
    EXPECT_EQ(Track(2)->SelectionStart(), 2);
    QTest::keyClicks(Track(2), "=");
    EXPECT_EQ(TrackText(2), "12=34");
}

TEST_F(TrackEntryTest, Track1RefusesItsSentinelsAndTypesCapitals) {
    Type(1, "%b123?");
    EXPECT_EQ(TrackText(1), "B123");
    EXPECT_EQ(Counter(1), "4");
}

TEST_F(TrackEntryTest, PasteLosesOnlyTheFirstRefusedCharacterPerChange) {
    Paste(2, "AB12");
    EXPECT_EQ(TrackText(2), "B12");
    EXPECT_EQ(Counter(2), "3");
    EXPECT_EQ(Track(2)->SelectionStart(), 3);
    QTest::keyClicks(Track(2), "5");
    EXPECT_EQ(TrackText(2), "125");
    EXPECT_EQ(Counter(2), "3");
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

TEST_F(TrackEntryTest, RawTypeTakesHexDigitsOnlyAndTheCounterCountsCharacters) {
    Click(1017);
    Type(3, "0a1G");
    EXPECT_EQ(TrackText(3), "0A1");
    EXPECT_EQ(Counter(3), "3");
}

TEST_F(TrackEntryTest, AlphabetFollowsTheDataTypeInForce) {
    Type(3, "A1");
    EXPECT_EQ(TrackText(3), "1");  // ISO track 3 carries 5-bit characters
    Click(1045);
    Type(3, "A");
    EXPECT_EQ(TrackText(3), "1A");  // AAMVA track 3 carries 7-bit characters

    Click(1046);
    Type(3, "!");
    EXPECT_EQ(TrackText(3), "1A");  // CA DMV track 3 starts with '!'
    Type(1, "!");
    EXPECT_EQ(TrackText(1), "!");
}

TEST_F(TrackEntryTest, ChangingTheDataTypeKeepsTextsUntilTheNextChange) {
    Type(1, "GH");
    Click(1017);
    EXPECT_EQ(TrackText(1), "GH");
    QTest::keyClicks(Track(1), "1");
    EXPECT_EQ(TrackText(1), "H1");
    QTest::keyClicks(Track(1), "2");
    EXPECT_EQ(TrackText(1), "12");

    Click(1015);
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
    EXPECT_EQ(Track(2)->Length(), 119);
    EXPECT_EQ(Counter(2), "119");
}

TEST_F(TrackEntryTest, IsoAfterRawTypeRestoresTheIsoFormats) {
    Click(1017);
    EXPECT_EQ(format.Type(), DataType::kRaw);
    for (const TrackSettings& s : format.Settings()) EXPECT_EQ(s.bpc, 8);
    EXPECT_EQ(Label(2), "Track2 75 BPI 8 BPC None Parity");
    EXPECT_EQ(Track(1)->Limit(), 140);
    Click(1015);
    EXPECT_EQ(format.Get(), (TrackFormat{kIsoTrackSet, DataType::kIso, Track2Density::k75}));
    EXPECT_EQ(Label(1), "Track1 210 BPI 7 BPC Odd Parity");
    EXPECT_EQ(Track(1)->Limit(), 76);
    EXPECT_EQ(Track(2)->Limit(), 37);
}

TEST_F(TrackEntryTest, RawTypeAfterCaDmvKeepsParityAndSentinels) {
    Click(1046);
    EXPECT_EQ(Label(1), "Track1 210 BPI 6 BPC NONE Parity");
    Click(1017);
    const TrackSet s = format.Settings();
    EXPECT_EQ(s[2], (TrackSettings{8, kParityNone, '!', '?'}));
    EXPECT_EQ(s[0], (TrackSettings{8, kParityNone, '%', '?'}));
    EXPECT_EQ(s[1], (TrackSettings{8, kParityOdd, ';', '?'}));
}

TEST_F(TrackEntryTest, UserTypeWithoutStoredKeysIsIsoWithWiderBoxes) {
    Click(1016);
    EXPECT_EQ(format.Get(), (TrackFormat{kIsoTrackSet, DataType::kUser, Track2Density::k75}));
    EXPECT_EQ(Label(3), "Track3 210 BPI 5 BPC Odd Parity");
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(Track(n)->Limit(), 104);
}

TEST_F(TrackEntryTest, UserTypeReadsTheStoredKeysAtEachChoice) {
    ASSERT_TRUE(profile->Write("TR2BPC", "0"));
    Click(1016);
    EXPECT_EQ(Label(2), "Track2 210 BPI 4 BPC None Parity");
    EXPECT_EQ(format.Settings()[1].bpc, 4);
}

class DensityTest : public MainWindowTest {};

TEST_F(DensityTest, Track2LabelsFollowTheStoredDensity) {
    OpenReady({{"BPISET", "1"}});
    Click(1045);
    EXPECT_EQ(Label(2), "Track2 210 BPI 5 BPC ODD Parity");
    Click(1017);
    EXPECT_EQ(Label(2), "Track2 210 BPI 8 BPC None Parity");
    Click(1015);
    EXPECT_EQ(Label(2), "Track2 210 BPI 5 BPC Odd Parity");
    EXPECT_EQ(Track(2)->Limit(), 104);
    Type(2, QString(110, u'7'));
    EXPECT_EQ(Counter(2), "104");
}

}  // namespace
}  // namespace tollwick::testing
