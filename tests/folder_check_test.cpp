// No folder is made for a file a user names, except the programs' own data folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "files/folder_check.h"
#include "test_platform.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

TEST(FolderCheck, AMissingFolderIsSaidAndOnlyTheOwnDataFolderIsMade) {
    const testing::ScratchFolder scratch("tollwick-folder");
    const fs::path& root = scratch.path();
    std::ofstream(root / "file") << "x";
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string before = saved ? saved : "";
    testing::SetEnvironment("XDG_DATA_HOME", (root / "data").string().c_str());

    EXPECT_FALSE(MissingFolderOf("deck.json"));  // the working folder
    EXPECT_FALSE(MissingFolderOf(root / "deck.json"));
    EXPECT_EQ(MissingFolderOf(root / "no" / "deck.json"), root / "no");
    EXPECT_EQ(MissingFolderText(root / "no"),
              "the folder " + (root / "no").string() + " does not exist");
    EXPECT_FALSE(fs::exists(root / "no"));
    EXPECT_EQ(MissingFolderOf(root / "file" / "deck.json"), root / "file");
    EXPECT_EQ(MissingFolderText(root / "file"), (root / "file").string() + " is not a folder");

    EXPECT_EQ(OwnDataFolder(), root / "data" / "Tollwick");
    EXPECT_FALSE(MissingFolderOf(root / "data" / "Tollwick" / "deck.json"));
    EXPECT_TRUE(fs::is_directory(root / "data" / "Tollwick"));

    testing::SetEnvironment("XDG_DATA_HOME", saved ? before.c_str() : nullptr);
}

}  // namespace
}  // namespace tollwick
