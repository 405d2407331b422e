// The locked rewrite at its edges (POSIX): a FIFO or a device where the profile, the deck or a
// card file belongs is refused at once, a read-only file and a change past the size limit are
// refused, the owner stays, stale temporary files of dead processes go, and a lock that another
// process holds is waited for only as long as asked. Checks that could hang run in a child
// process with an alarm, so that a guard that is gone fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "files/card_data_file.h"
#include "files/locked_file.h"
#include "test_platform.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;

// Runs `check` in a child given 5 s; true when it returned true in time.
bool InChildWithin5s(const std::function<bool()>& check) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(5);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(LockedFile, AFifoOrADeviceIsRefusedWithoutBlocking) {
    const testing::ScratchFolder folder("tollwick-fifo");
    const fs::path fifo = folder.path() / "Tollwick.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // What a rewrite is shown of the file before it decides: a FIFO is unusable.
    const auto rewriteSees = [&] {
        FileState seen = FileState::kRead;
        RewriteFileLocked(fifo, 1 << 20, [&seen](const FileContents& contents) {
            seen = contents.state;
            return std::optional<std::string>();
        });
        return seen == FileState::kUnusable;
    };
    const std::pair<const char*, std::function<bool()>> cases[] = {
        {"read a FIFO", [&] { return ReadWholeFile(fifo, 1 << 20).state == FileState::kUnusable; }},
        {"read a device",
         [&] { return ReadWholeFile("/dev/null", 1 << 20).state == FileState::kUnusable; }},
        {"rewrite a FIFO", rewriteSees},
        {"From File of a FIFO",
         [&] {
             std::ifstream in;
             return !OpenCardFileToRead(fifo.string(), in);
         }},
        {"To File into a FIFO nobody reads",
         [&] {
             std::FILE* file = OpenCardDataFile(fifo.string());
             if (file != nullptr) std::fclose(file);
             return file == nullptr;
         }},
    };
    for (const auto& [what, refused] : cases) EXPECT_TRUE(InChildWithin5s(refused)) << what;
    EXPECT_TRUE(fs::is_fifo(fifo));  // left where it was
}

class LockedFileEdges : public ::testing::Test {
  protected:
    void SetUp() override { std::ofstream(file_) << "old"; }
    // Rewrites file_ with `bytes`: "" when done, otherwise the reason it was refused.
    std::string Put(const std::string& bytes, const LockWait& wait = {}) {
        std::string error;
        const bool done = RewriteFileLocked(
            file_, 16, [&bytes](const FileContents&) { return std::optional<std::string>(bytes); },
            &error, wait);
        return done ? "" : error.empty() ? "refused, no reason given" : error;
    }
    const testing::ScratchFolder folder_{"tollwick-edges"};
    const fs::path dir_ = folder_.path();
    const fs::path file_ = dir_ / "deck.json";
};

TEST_F(LockedFileEdges, OwnerStaysStaleTemporariesGoAndWhatTheFileCannotTakeIsRefused) {
    // A process that is gone, and one that runs (this one's parent).
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const fs::path stale = dir_ / (".deck.json.tmp-" + std::to_string(dead) + "-a1b2c3");
    const fs::path live = dir_ / (".deck.json.tmp-" + std::to_string(::getppid()) + "-a1b2c3");
    const fs::path unnamed = dir_ / ".deck.json.tmp-a1b2c3";  // whose, nobody can tell
    const fs::path otherFile = dir_ / (".other.json.tmp-" + std::to_string(dead) + "-a1b2c3");
    for (const fs::path& p : {stale, live, unnamed, otherFile}) std::ofstream(p) << "torn";
    const bool root = ::geteuid() == 0;
    ASSERT_TRUE(!root || ::chown(file_.c_str(), 65534, 65534) == 0);

    ASSERT_EQ(Put("new"), "");
    EXPECT_EQ(ReadFile(file_), "new");
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live) && fs::exists(unnamed) && fs::exists(otherFile));
    struct stat info {};
    ASSERT_EQ(::stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, root ? 65534u : ::geteuid());
    EXPECT_TRUE(!root || info.st_gid == 65534u);

    // Too big a change, and any change of a read-only file, are refused, the file kept.
    EXPECT_EQ(
        Put(std::string(17, 'x')),
        file_.string() + " would grow to 17 bytes, more than 16 it may hold; it is left as it was");
    const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(file_, readOnly);
    EXPECT_EQ(Put("other"), file_.string() + " is read-only");  // even as root, who could write it
    EXPECT_EQ(ReadFile(file_), "new");
    EXPECT_EQ(fs::status(file_).permissions(), readOnly);
    // Left alone, a read-only file is no failure.
    EXPECT_TRUE(RewriteFileLocked(
        file_, 16, [](const FileContents&) { return std::optional<std::string>(); }));
}

// A child holds the lock for 3 s; the parent waits 200 ms and gives up naming the child, or is
// stopped after 100 ms.
TEST_F(LockedFileEdges, ALockHeldElsewhereIsWaitedForOnlyAsAsked) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::alarm(10);
        RewriteFileLocked(file_, 16, [&](const FileContents&) {
            if (::write(ready[1], "!", 1) != 1) ::_exit(1);
            std::this_thread::sleep_for(std::chrono::seconds(3));
            return std::optional<std::string>();
        });
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    EXPECT_EQ(
        Put("new", LockWait{std::chrono::milliseconds(200), {}}),
        file_.string() + " is in use by another Tollwick (pid " + std::to_string(holder) + ")");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));

    std::stop_source stop;
    std::jthread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.request_stop();
    });
    start = Clock::now();
    const std::string error = Put("new", LockWait{std::nullopt, stop.get_token()});
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(error.rfind("interrupted while waiting for " + file_.string(), 0), 0u) << error;
    EXPECT_EQ(ReadFile(file_), "old");
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

}  // namespace
}  // namespace tollwick
