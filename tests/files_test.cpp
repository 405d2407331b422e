// The platform's file services: local time with its offset, file names in UTF-8, and on Windows
// what the locked rewrite adds there (a file held open by another program, the DACL that stands
// for the mode bits, the sidecar lock).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "files/card_data_file.h"
#include "files/local_time.h"
#include "files/locked_file.h"
#include "files/utf8_path.h"
#include "test_platform.h"

#ifdef _WIN32
#include <windows.h>
// GetNamedSecurityInfoW
#include <aclapi.h>
#include <sddl.h>
#endif

namespace tollwick {
namespace {

namespace fs = std::filesystem;

using testing::ReadFile;

bool Rewrite(const fs::path& path, const std::string& bytes, std::string* error = nullptr) {
    return RewriteFileLocked(
        path, 1 << 20, [&](const FileContents&) -> std::optional<std::string> { return bytes; },
        error);
}

// Windows' C library fills "%z" with the zone's name, which left these times empty there.
TEST(LocalTimeTest, TimesCarryTheirOffsetFromUtc) {
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    // Two hours east of UTC, three and a half west; no zone database needed.
    for (const auto& [tz, time] : {std::pair{"XYZ-2", "1970-01-01T02:00:00+02:00"},
                                   {"XYZ+3:30", "1969-12-31T20:30:00-03:30"},
                                   {"UTC0", "1970-01-01T00:00:00+00:00"}}) {
        testing::SetEnvironment("TZ", tz);
        testing::ReadTimeZoneAgain();
        EXPECT_EQ(IsoLocalTime(std::chrono::system_clock::from_time_t(0)), time) << tz;
    }
    testing::SetEnvironment("TZ", zone ? saved.c_str() : nullptr);
    testing::ReadTimeZoneAgain();
    // Now, in the zone of the machine: the full form, never empty.
    EXPECT_EQ(IsoLocalTime(std::chrono::system_clock::now()).size(), 25u);
}

// A name in any script reaches the disk as typed, through every kind of file the program writes.
TEST(FileNamesTest, Utf8NamesReachTheDiskAsTyped) {
    const testing::ScratchFolder folder("tollwick-names");
    const std::string name = "\xCE\xA9mega-\xE5\x8D\xA1.json";  // "Ωmega-卡.json"
    const fs::path path = folder.path() / PathFromUtf8(name);
    EXPECT_EQ(PathToUtf8(path.filename()), name);
    ASSERT_TRUE(Rewrite(path, "{}"));
    std::FILE* cards = OpenCardDataFile(PathToUtf8(folder.path() / PathFromUtf8("\xCE\xA9.txt")));
    ASSERT_NE(cards, nullptr);
    std::fclose(cards);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path()))
        names.insert(PathToUtf8(entry.path().filename()));
    EXPECT_TRUE(names.contains(name) && names.contains("\xCE\xA9.txt"));
    EXPECT_EQ(ReadFile(path), "{}");
}

#ifdef _WIN32

// The DACL of `path`: whether every entry is the user's or SYSTEM's (nothing inherited from the
// folder either); true in `everyone` when the world may read it.
struct Dacl {
    bool ownerAndSystemOnly = true;
    bool everyone = false;
};

Dacl DaclOf(const fs::path& path) {
    Dacl result;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    if (!descriptor) return result;
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    const PSID me = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
        const PSID sid = &ace->SidStart;
        if (IsWellKnownSid(sid, WinWorldSid)) result.everyone = true;
        if (!EqualSid(sid, me) && !IsWellKnownSid(sid, WinLocalSystemSid)) {
            result.ownerAndSystemOnly = false;
        }
    }
    LocalFree(descriptor);
    return result;
}

// What stands for mode 0600: a new file's DACL lets only the user and SYSTEM in; a rewritten
// file keeps the DACL it had, a wider one included.
TEST(WindowsFilesTest, NewFilesAreTheUsersAloneAndRewritesKeepTheirDacl) {
    const testing::ScratchFolder folder("tollwick-dacl");
    const fs::path deck = folder.path() / "deck.json";
    ASSERT_TRUE(Rewrite(deck, "one"));
    EXPECT_TRUE(DaclOf(deck).ownerAndSystemOnly);
    const fs::path cards = folder.path() / "cards.txt";
    std::fclose(OpenCardDataFile(PathToUtf8(cards)));
    EXPECT_TRUE(DaclOf(cards).ownerAndSystemOnly);

    // Shared with everyone for reading, by hand: a rewrite keeps that.
    PSECURITY_DESCRIPTOR wider = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;;FA;;;SY)(A;;FR;;;WD)", SDDL_REVISION_1, &wider, nullptr));
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL widerDacl = nullptr;
    GetSecurityDescriptorDacl(wider, &present, &widerDacl, &defaulted);
    ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(deck.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, widerDacl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(wider);
    ASSERT_TRUE(Rewrite(deck, "two"));
    EXPECT_EQ(ReadFile(deck), "two");
    EXPECT_TRUE(DaclOf(deck).everyone);
}

// A virus scanner or an indexer opens a fresh file for a moment without sharing it: the rewrite
// waits that out. One that keeps it open fails the rewrite with a clear error, and the file is
// as it was, with no temporary file left beside it.
TEST(WindowsFilesTest, AFileHeldOpenIsWaitedForThenAClearError) {
    const testing::ScratchFolder folder("tollwick-busy");
    const fs::path deck = folder.path() / "deck.json";
    ASSERT_TRUE(Rewrite(deck, "old"));
    const auto holdFor = [&](std::chrono::milliseconds time) {
        HANDLE held = CreateFileW(deck.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(held, INVALID_HANDLE_VALUE);
        return std::thread([held, time] {
            std::this_thread::sleep_for(time);
            CloseHandle(held);
        });
    };
    std::thread brief = holdFor(std::chrono::milliseconds(300));
    EXPECT_TRUE(Rewrite(deck, "new"));
    brief.join();
    EXPECT_EQ(ReadFile(deck), "new");

    std::thread longer = holdFor(std::chrono::seconds(5));
    std::string error;
    EXPECT_FALSE(Rewrite(deck, "lost?", &error));
    longer.join();
    EXPECT_NE(error.find("cannot replace"), std::string::npos) << error;
    EXPECT_NE(error.find("another program kept it open"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(deck), "new");
    // The deck and its lock's sidecar.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2);
}

// The rewrites of one file take turns on its sidecar: one waits while another holds the lock,
// and then works on what the other left.
TEST(WindowsFilesTest, RewritesTakeTurnsOnTheSidecarLock) {
    const testing::ScratchFolder folder("tollwick-sidecar");
    const fs::path profile = folder.path() / "Tollwick.ini";
    ASSERT_TRUE(Rewrite(profile, "a"));
    const fs::path sidecar = folder.path() / "Tollwick.ini.lock";
    ASSERT_TRUE(fs::exists(sidecar));
    EXPECT_TRUE(GetFileAttributesW(sidecar.c_str()) & FILE_ATTRIBUTE_HIDDEN);

    HANDLE lock = CreateFileW(sidecar.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED whole{};
    ASSERT_TRUE(LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));
    std::atomic<bool> done{false};
    std::thread appender([&] {
        RewriteFileLocked(profile, 1 << 20, [](const FileContents& contents) {
            return std::optional<std::string>(contents.bytes + "c");
        });
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done);                                               // waits for the lock
    std::ofstream(profile, std::ios::binary | std::ios::app) << "b";  // the holder's change
    UnlockFileEx(lock, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(lock);
    appender.join();
    EXPECT_EQ(ReadFile(profile), "abc");
}

// What POSIX's mode 0444 and pid-named temporaries are here: the read-only attribute is
// respected, a temporary file of a process that is gone is removed, and a lock held past the
// wait names the holder's pid from the sidecar.
TEST(WindowsFilesTest, ReadOnlyStaleTemporariesAndTheLockHoldersPid) {
    const testing::ScratchFolder folder("tollwick-edges");
    const fs::path deck = folder.path() / "deck.json";
    ASSERT_TRUE(Rewrite(deck, "old"));
    ASSERT_TRUE(SetFileAttributesW(deck.c_str(), FILE_ATTRIBUTE_READONLY));
    std::string error;
    EXPECT_FALSE(Rewrite(deck, "new", &error));
    EXPECT_EQ(error, PathToUtf8(deck) + " is read-only");
    EXPECT_EQ(ReadFile(deck), "old");
    ASSERT_TRUE(SetFileAttributesW(deck.c_str(), FILE_ATTRIBUTE_NORMAL));

    const fs::path stale = folder.path() / ".deck.json.tmp-4294967280-a1b2c3";  // no such process
    const fs::path mine =
        folder.path() / (".deck.json.tmp-" + std::to_string(GetCurrentProcessId()) + "-a1b2c3");
    std::ofstream(stale) << "torn";
    std::ofstream(mine) << "torn";
    ASSERT_TRUE(Rewrite(deck, "new"));
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(mine));

    std::atomic<bool> holding{false};
    std::thread holder([&] {
        RewriteFileLocked(deck, 1 << 20, [&](const FileContents&) {
            holding = true;
            std::this_thread::sleep_for(std::chrono::seconds(2));
            return std::optional<std::string>();
        });
    });
    while (!holding) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(RewriteFileLocked(
        deck, 1 << 20, [](const FileContents&) { return std::optional<std::string>("late"); },
        &error, LockWait{std::chrono::milliseconds(200), {}}));
    holder.join();
    EXPECT_EQ(error, PathToUtf8(deck) + " is in use by another Tollwick (pid " +
                         std::to_string(GetCurrentProcessId()) + ")");
    EXPECT_EQ(ReadFile(deck), "new");
}

#endif

}  // namespace
}  // namespace tollwick
