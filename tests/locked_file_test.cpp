// A FIFO or a device where the profile, the deck or a card file belongs is refused at once: the
// program never blocks on it. Each check runs in a child process with an alarm, so that a guard
// that is gone fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "files/card_data_file.h"
#include "files/locked_file.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

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
    const fs::path folder =
        fs::temp_directory_path() / ("tollwick-fifo-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path fifo = folder / "Tollwick.ini";
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
    struct Case {
        const char* what;
        std::function<bool()> refused;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) EXPECT_TRUE(InChildWithin5s(c.refused)) << c.what;
    EXPECT_TRUE(fs::is_fifo(fifo));  // left where it was
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tollwick
