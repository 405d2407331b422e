#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "settings/profile_store.h"
#include "settings/stored_settings.h"
#include "test_platform.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif
constexpr std::ptrdiff_t kFilesPerProfile = kWindows ? 2 : 1;  // Windows: the lock's sidecar too

// How the profile is rewritten (the lock held across read-modify-write, the mode and the link
// kept, a read-only file refused) is the locked rewrite's: locked_file_test, and the deck's tests
// in virtual_reader_test. Here: what the store makes of the file.
class ProfileTest : public ::testing::Test {
  protected:
    void Put(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    void PutMsr(const std::string& lines) { Put("[MSR]\n" + lines); }
    std::string File() const { return testing::ReadFile(path_); }

    const testing::ScratchFolder folder_{"tollwick-settings"};
    const fs::path dir_ = folder_.path();
    fs::path path_ = dir_ / "Tollwick.ini";
    ProfileStore store_{fs::path()};
    ProfileStore& Store() { return store_ = ProfileStore(path_); }
};

TEST_F(ProfileTest, ReadsLikeTheProfileCalls) {
    // A missing file, section or key gives the default; an empty value does not.
    EXPECT_EQ(Store().Read("PORTNUM", "7"), "7");
    Put("[Other]\nPORTNUM=3\n");
    EXPECT_EQ(Store().Read("PORTNUM", "7"), "7");
    PutMsr("PWD=\n");
    EXPECT_EQ(Store().Read("PWD", "x"), "");
    ProfileStore store(path_);
    Put("[msr]\nportnum=4\nPortNum=9\nPWD=" + std::string(5000, 'x') + "\n");
    EXPECT_EQ(store.Read("PORTNUM"), "4");       // names ignore case; the first duplicate counts
    EXPECT_EQ(store.Read("PWD").size(), 4095u);  // read through a 4096-byte buffer
    PutMsr("PORTNUM=5\n");
    EXPECT_EQ(store.Read("PORTNUM"), "5");  // nothing cached
    Put("\xEF\xBB\xBFjunk line\r\n[MSR]\r\n=novalue\r\n[broken\r\n\x01\xFF\r\nPWD = a b \r\n");
    EXPECT_EQ(Store().Read("PWD"), "a b");
}

// The settings folder is made on a first run (RewriteTarget), and no temporary file stays.
TEST_F(ProfileTest, WriteKeepsEverythingElseAndValuesVerbatim) {
    path_ = dir_ / "a" / "b" / "Tollwick.ini";
    for (const std::string value : {"a;b,c\\d=e f", "#x", "[y]", "\"q\"", "<<<END", "%d %s"}) {
        ASSERT_TRUE(Store().Write("PWD", value));
        EXPECT_EQ(Store().Read("PWD"), value);
    }
    Put("; about this file\n\n[Other]\nPath=C:\\dir;x, y\n[MSR]\n; port\nportnum=3\nportnum=5\n"
        "BPISET=1\n");
    ASSERT_TRUE(Store().Write("PORTNUM", "8"));
    const std::string file = File();
    EXPECT_EQ(file.rfind("; about this file\n", 0), 0u) << file;
    EXPECT_NE(file.find("[Other]\nPath=C:\\dir;x, y\n"), std::string::npos) << file;
    EXPECT_NE(file.find("[MSR]\n\n; port\nPORTNUM=8\nBPISET=1\n"), std::string::npos) << file;
    EXPECT_EQ(file.find("portnum"), std::string::npos) << file;
    Put("\xEF\xBB\xBF[MSR]\r\nBPISET=1\r\n");
    ASSERT_TRUE(Store().Write("PWD", "%d %s"));
    EXPECT_EQ(File(), "\xEF\xBB\xBF[MSR]\r\nBPISET=1\r\nPWD=%d %s\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(path_.parent_path()), {}), kFilesPerProfile);
}

// A file that is no profile, or a change it cannot take, leaves the file as it was, and says why.
TEST_F(ProfileTest, RefusedWritesLeaveTheFileUntouchedAndSayWhy) {
    const std::string withZero = std::string("[MSR]\nA=1\n\0B=2\n", 16);
    Put(withZero);
    ProfileStore& store = Store();
    EXPECT_FALSE(store.Write("PWD", "x"));  // a rewrite would lose what follows the zero
    EXPECT_NE(store.LastError().find("zero byte"), std::string::npos) << store.LastError();
    EXPECT_NE(store.Problem().value_or("").find("zero byte"), std::string::npos);
    EXPECT_EQ(store.Read("A", "default"), "default");  // not half of it
    EXPECT_EQ(File(), withZero);
    PutMsr("PWD=old\n");
    EXPECT_FALSE(Store().Problem());
    EXPECT_FALSE(Store().Write("PWD", "a\n[Other]"));
    EXPECT_FALSE(Store().Write("P=X", "1"));
    EXPECT_EQ(File(), "[MSR]\nPWD=old\n");

    // At the limit: a change that would take it past is refused (it could never be read
    // again); one byte past it is no profile at all.
    const std::string full =
        "[MSR]\nPWD=old\nPAD=" + std::string(ProfileStore::kMaxBytes - 19, 'x') + "\n";
    ASSERT_EQ(full.size(), ProfileStore::kMaxBytes);
    Put(full);
    EXPECT_FALSE(store.Write("BPISET", "1"));
    EXPECT_NE(store.LastError().find("would grow"), std::string::npos) << store.LastError();
    EXPECT_TRUE(File() == full);
    Put(full + "x");
    EXPECT_NE(Store().Problem().value_or("").find("cannot read the settings file"),
              std::string::npos);
    path_ = path_ / "below-a-file.ini";
    EXPECT_FALSE(Store().Write("PWD", "x"));
}

// A value that is already stored is not written again; a store that reads once keeps its view
// of the file and goes to it again only to write a change.
TEST_F(ProfileTest, WritesOnlyWhatChangedAndReadsOncePerRun) {
    PutMsr("PORTNUM=1\nBPISET=0\n");
    // A replaced file has a newer time (file times are coarse: a few ms). Under wine a file
    // renamed over another can show the old one's time: there only the contents are checked.
    const auto time = [this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return fs::last_write_time(path_);
    };
    const auto replacedSince = [&](fs::file_time_type before) {
        return kWindows ? std::optional<bool>() : time() != before;
    };
    const auto before = time();
    EXPECT_TRUE(Store().Write("PORTNUM", "1"));
    EXPECT_NE(replacedSince(before), true);
    EXPECT_TRUE(Store().Write("PORTNUM", "2"));
    EXPECT_NE(replacedSince(before), false);

    ProfileStore once(path_, ProfileStore::Reads::kOnce);
    EXPECT_EQ(once.Read("PORTNUM"), "2");
    PutMsr("PORTNUM=7\nBPISET=0\n");  // another program, after this run read the file
    EXPECT_EQ(once.Read("PORTNUM"), "2");
    const auto edited = time();
    EXPECT_TRUE(once.Write("PORTNUM", "2"));  // as this run sees it: nothing to write
    EXPECT_NE(replacedSince(edited), true);
    EXPECT_EQ(File(), "[MSR]\nPORTNUM=7\nBPISET=0\n");
    EXPECT_TRUE(once.Write("BPISET", "1"));  // a change goes to the file as it is now
    EXPECT_EQ(File(), "[MSR]\nPORTNUM=7\nBPISET=1\n");
    EXPECT_EQ(once.Read("BPISET"), "1");
    EXPECT_EQ(once.Read("PORTNUM"), "7");
}

TEST(DefaultProfilePathTest, EnvironmentChoosesTheFile) {
    testing::SetEnvironment("TOLLWICK_PROFILE", "");
#ifdef _WIN32
    // The roaming application data folder, which wine keeps below its prefix.
    const fs::path path = DefaultProfilePath();
    EXPECT_EQ(path.filename(), "Tollwick.ini");
    EXPECT_EQ(path.parent_path().filename(), "Tollwick");
    EXPECT_TRUE(fs::is_directory(path.parent_path().parent_path())) << path;
    EXPECT_EQ(path.parent_path().parent_path().filename(), "Roaming") << path;
    testing::SetEnvironment("TOLLWICK_PROFILE", "C:\\Settings\\\xCE\xA9.ini");
    EXPECT_EQ(DefaultProfilePath(), fs::path(L"C:\\Settings\\\u03A9.ini"));
#else
    testing::SetEnvironment("HOME", "/home/op");
    testing::SetEnvironment("XDG_CONFIG_HOME", "");
    EXPECT_EQ(DefaultProfilePath(), fs::path("/home/op/.config/Tollwick/Tollwick.ini"));
    testing::SetEnvironment("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(DefaultProfilePath(), fs::path("/cfg/Tollwick/Tollwick.ini"));
    testing::SetEnvironment("TOLLWICK_PROFILE", "/tmp/x.ini");
    EXPECT_EQ(DefaultProfilePath(), fs::path("/tmp/x.ini"));
#endif
}

// --- Typed settings ------------------------------------------------------------------------

TEST_F(ProfileTest, DensityAndPortKeys) {
    // The density is a text comparison with zero; the port is empty for none, otherwise decimal.
    EXPECT_EQ(StoredDensity(Store()), Track2Density::k75);  // no file
    EXPECT_EQ(StoredPort(Store()), std::nullopt);
    for (const auto& [text, bpi] : {std::pair{"", 210}, {"0", 75}, {"1", 210}, {"00", 210}}) {
        PutMsr(std::string("BPISET=") + text + "\n");
        EXPECT_EQ(static_cast<int>(StoredDensity(Store())), bpi) << '"' << text << '"';
    }
    StoreDensity(Store(), Track2Density::k210);
    EXPECT_EQ(Store().Read("BPISET"), "1");
    for (const auto& [text, port] : {std::pair<const char*, std::optional<int>>{"", std::nullopt},
                                     {" 12abc", 12},
                                     {"-3", -3},
                                     {"abc", 0}}) {
        PutMsr(std::string("PORTNUM=") + text + "\n");
        EXPECT_EQ(StoredPort(Store()), port) << '"' << text << '"';
    }
}

// The twelve keys by their names, as positions in the lists of their bits per character (the
// decoding rules are the carddata tests'); -1 lies outside every list and gives the default.
TEST_F(ProfileTest, UserTypeKeysAreListPositions) {
    EXPECT_EQ(UserTypeSettings(Store()), kIsoTrackSet);  // no profile
    const TrackSet expected{
        {{6, kParityOdd, '!', '/'}, {4, kParityEven, '?', '0'}, {7, kParityEven, '+', 'S'}}};
    PutMsr(
        "TR1BPC=2\nTR1PARITY=0\nTR1SS=0\nTR1ES=14\nTR2BPC=0\nTR2PARITY=1\nTR2SS=7\nTR2ES=0\n"
        "TR3BPC=3\nTR3PARITY=1\nTR3SS=-1\nTR3ES=55\n");
    EXPECT_EQ(UserTypeSettings(Store()), expected);
    EXPECT_EQ(ReadUserKeys(Store())[2].startSentinel, "-1");

    fs::remove(path_);
    WriteUserKeys(Store(), {{{2, 0, 0, 14}, {0, 1, 7, 0}, {3, 1, -1, 55}}});
    EXPECT_EQ(UserTypeSettings(Store()), expected);
    EXPECT_NE(File().find("TR2PARITY=1\nTR2SS=7\n"), std::string::npos) << File();
}

}  // namespace
}  // namespace tollwick
