// The program password in the profile: salted slow hashes, plain values of earlier versions, and
// the empty value that means no password.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "settings/password_hash.h"
#include "settings/profile_store.h"
#include "settings/stored_settings.h"
#include "test_platform.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

TEST(PasswordHash, SaltedCheckedExactlyAndPlainValuesCompareAsText) {
    const std::string first = HashPassword("Open,Se;=me");
    ASSERT_TRUE(first.starts_with("$argon2id$")) << first;
    EXPECT_TRUE(IsPasswordHash(first));
    EXPECT_NE(first, HashPassword("Open,Se;=me"));  // a fresh salt every time
    EXPECT_EQ(first.find("Open"), std::string::npos);
    EXPECT_TRUE(PasswordMatches(first, "Open,Se;=me"));
    for (const char* wrong : {"open,se;=me", "Open,Se;=m", ""})
        EXPECT_FALSE(PasswordMatches(first, wrong)) << wrong;

    // A value of an earlier version is the password itself.
    EXPECT_FALSE(IsPasswordHash("$argon"));
    EXPECT_TRUE(PasswordMatches("secret", "secret"));
    for (const char* wrong : {"SECRET", "secret ", "secre"})
        EXPECT_FALSE(PasswordMatches("secret", wrong)) << wrong;
    // A damaged hash matches nothing, the text it holds included.
    EXPECT_FALSE(PasswordMatches("$argon2id$broken", "$argon2id$broken"));
}

TEST(PasswordHash, StoredAsAHashPlainValuesUpgradedOnTheFirstMatchEmptyMeansNone) {
    const testing::ScratchFolder dir("tollwick-password");
    ProfileStore store(dir.path() / "Tollwick.ini");
    const auto file = [&] { return testing::ReadFile(store.Path()); };
    ASSERT_TRUE(SetStoredPassword(store, "a,b;c\\d=e"));
    EXPECT_EQ(file().find("a,b;c"), std::string::npos);
    EXPECT_TRUE(HasStoredPassword(store));
    EXPECT_TRUE(CheckStoredPassword(store, "a,b;c\\d=e"));  // the hash reads back verbatim
    EXPECT_FALSE(CheckStoredPassword(store, "A,B;C\\D=E"));
    ASSERT_TRUE(SetStoredPassword(store, ""));
    EXPECT_FALSE(HasStoredPassword(store));
    EXPECT_NE(file().find("PWD="), std::string::npos);  // present, empty

    ASSERT_TRUE(store.Write("PWD", "Legacy12"));
    EXPECT_FALSE(CheckStoredPassword(store, "legacy12"));
    EXPECT_EQ(StoredPassword(store), "Legacy12");  // a wrong entry changes nothing
    EXPECT_TRUE(CheckStoredPassword(store, "Legacy12"));
    const std::string upgraded = StoredPassword(store);
    EXPECT_TRUE(IsPasswordHash(upgraded));
    EXPECT_EQ(file().find("Legacy12"), std::string::npos);
    EXPECT_TRUE(CheckStoredPassword(store, "Legacy12"));
    EXPECT_EQ(StoredPassword(store), upgraded);  // a hash is not rewritten
}

}  // namespace
}  // namespace tollwick
