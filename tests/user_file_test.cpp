// The files a user names: one file in two roles found whatever the names, links planted in a
// shared folder not followed, exports replaced through a private new file, and waits for input
// that end on a stop request.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <istream>
#include <thread>
#include <tuple>

#include "files/card_data_file.h"
#include "files/user_file.h"
#include "files/utf8_path.h"
#include "test_platform.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

using testing::ReadFile;

TEST(UserFiles, TwoRolesOnOneFileAreFoundWhateverTheNames) {
    const testing::ScratchFolder folder("tollwick-samefile");
    const fs::path dir = folder.path();
    std::ofstream(dir / "a.json") << "{}";
    std::ofstream(dir / "b.json") << "{}";
    fs::create_directory(dir / "sub");
    std::vector<std::tuple<fs::path, fs::path, bool>> cases = {
        {dir / "a.json", dir / "a.json", true},
        {dir / "a.json", dir / "sub" / ".." / "a.json", true},
        {dir / "a.json", dir / "b.json", false},
        {dir / "new.txt", dir / "sub" / ".." / "new.txt", true},  // neither there yet
        {dir / "new.txt", dir / "other.txt", false},
        {"-", "-", false},  // standard input or output
    };
#ifndef _WIN32  // links need a privilege on Windows
    fs::create_symlink(dir / "a.json", dir / "link.json");
    fs::create_symlink(dir / "nothing-yet.csv", dir / "dangling.csv");
    fs::create_hard_link(dir / "b.json", dir / "hard.json");
    cases.emplace_back(dir / "link.json", dir / "a.json", true);
    cases.emplace_back(dir / "dangling.csv", dir / "nothing-yet.csv", true);
    cases.emplace_back(dir / "hard.json", dir / "b.json", true);
    cases.emplace_back(dir / "dangling.csv", dir / "a.json", false);
#endif
    for (const auto& [a, b, same] : cases) EXPECT_EQ(SameFile(a, b), same) << a << " " << b;
    EXPECT_EQ(SharedFileProblem({{"--deck", PathToUtf8(dir / "a.json")},
                                 {"--csv", ""},
                                 {"--to-file", PathToUtf8(dir / "b.json")},
                                 {"the profile", PathToUtf8(dir / "sub" / ".." / "b.json")}}),
              "--to-file and the profile name the same file (" +
                  PathToUtf8(dir / "sub" / ".." / "b.json") + "): give each its own file");
    EXPECT_EQ(SharedFileProblem({{"--to-file", "-"}, {"--csv", "-"}}), "");
}

TEST(UserFiles, ExportsReplaceTheFileThroughANewPrivateOne) {
    const testing::ScratchFolder folder("tollwick-replace");
    const fs::path path = folder.path() / "card.json";
    std::ofstream(path) << "old";
    ASSERT_TRUE(ReplaceFileWith(path, "new"));
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
    std::string error;
    EXPECT_FALSE(ReplaceFileWith(folder.path() / "missing" / "x.json", "x", &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
#ifndef _WIN32  // Windows: the owner-only DACL is checked in files_test
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    ASSERT_TRUE(ReplaceFileWith(path, "again"));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // Through a link of the user's own: the file it leads to is replaced, the link stays.
    fs::create_symlink(path, folder.path() / "link.json");
    ASSERT_TRUE(ReplaceFileWith(folder.path() / "link.json", "linked"));
    EXPECT_TRUE(fs::is_symlink(folder.path() / "link.json"));
    EXPECT_EQ(ReadFile(path), "linked");
#endif
}

#ifndef _WIN32  // POSIX: sticky folders, link owners, FIFOs
// Another user's link in a sticky folder that everyone may write to (/tmp) is not followed: not
// to append, not to create where a dangling one points, not to export. A link of the folder's
// owner, or one in a folder that is not shared, is followed.
TEST(UserFiles, LinksPlantedInASharedFolderAreNotFollowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "making another user's link takes root";
    const testing::ScratchFolder folder("tollwick-planted");
    const fs::path shared = folder.path() / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const fs::path victim = folder.path() / "victim.txt";
    const fs::path elsewhere = folder.path() / "created.txt";
    std::ofstream(victim) << "precious\n";
    auto plant = [](const fs::path& target, const fs::path& link, uid_t owner) {
        fs::remove(link);
        fs::create_symlink(target, link);
        return ::lchown(link.c_str(), owner, owner) == 0;
    };
    constexpr uid_t kOther = 65534;  // nobody
    ASSERT_TRUE(plant(victim, shared / "cards.txt", kOther));
    ASSERT_TRUE(plant(elsewhere, shared / "new.txt", kOther));
    for (const fs::path& link : {shared / "cards.txt", shared / "new.txt"}) {
        std::string refusal, error;
        EXPECT_EQ(OpenCardDataFile(PathToUtf8(link), &refusal), nullptr) << link;
        EXPECT_NE(refusal.find("another user"), std::string::npos) << refusal;
        EXPECT_FALSE(ReplaceFileWith(link, "export", &error)) << link;
        EXPECT_NE(error.find("another user"), std::string::npos) << error;
    }
    EXPECT_EQ(ReadFile(victim), "precious\n");
    EXPECT_FALSE(fs::exists(elsewhere));

    // The same link in a folder that is not shared, or made by the folder's owner: followed.
    fs::permissions(shared, fs::perms::owner_all);
    EXPECT_TRUE(FollowLinks(shared / "cards.txt").refusal.empty());
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    ASSERT_TRUE(plant(victim, shared / "cards.txt", 0));
    EXPECT_EQ(FollowLinks(shared / "cards.txt").path, victim);
    std::FILE* file = OpenCardDataFile(PathToUtf8(shared / "cards.txt"));
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(AppendWhole(file, "more\n"));
    std::fclose(file);
    EXPECT_EQ(ReadFile(victim), "precious\nmore\n");
}

// A FIFO or a pipe that brings nothing is waited for until the stop request, no longer, with a
// writer there or not; bytes that come are read, and the writer's end is the end, not a stop.
TEST(UserFiles, AWaitForInputEndsOnTheStopRequest) {
    const testing::ScratchFolder folder("tollwick-fifo");
    const fs::path fifo = folder.path() / "cards.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const int writers : {0, 1, 2}) {  // none, one that stays silent, one that writes and ends
        std::stop_source stop;
        const auto input = StoppableInput::Open(PathToUtf8(fifo), stop.get_token());
        ASSERT_NE(input, nullptr);  // opened without waiting for a writer
        const int writer = writers > 0 ? ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK) : -1;
        if (writers == 2) {
            ASSERT_EQ(::write(writer, "%A?\n", 4), 4);
            ::close(writer);
        }
        std::thread later([&stop, writers] {
            if (writers == 2) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            stop.request_stop();
        });
        std::istream in(input.get());
        std::string all;
        for (std::string line; std::getline(in, line);) all += line;
        later.join();
        EXPECT_EQ(all, writers == 2 ? "%A?" : "") << writers;
        EXPECT_EQ(input->Stopped(), writers != 2) << writers;
        if (writers == 1) ::close(writer);
    }
}
#endif

}  // namespace
}  // namespace tollwick
