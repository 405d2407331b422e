// The program password in the profile: salted slow hashes, plain values of earlier versions, and
// the empty value that means no password.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "settings/password_hash.h"
#include "settings/profile_store.h"
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

class PasswordTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "tollwick-password-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string File() const {
        std::ifstream in(dir_ / "Tollwick.ini", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir_;
    ProfileStore store_{dir_ / "Tollwick.ini"};
    ProfileStore& Store() { return store_ = ProfileStore(dir_ / "Tollwick.ini"); }
};

TEST(PasswordHash, SaltedAndCheckedExactly) {
    const std::string first = HashPassword("Open,Se;=me");
    const std::string second = HashPassword("Open,Se;=me");
    ASSERT_TRUE(first.starts_with("$argon2id$")) << first;
    EXPECT_TRUE(IsPasswordHash(first));
    EXPECT_NE(first, second);  // a fresh salt every time
    EXPECT_EQ(first.find("Open"), std::string::npos);

    EXPECT_TRUE(PasswordMatches(first, "Open,Se;=me"));
    EXPECT_TRUE(PasswordMatches(second, "Open,Se;=me"));
    EXPECT_FALSE(PasswordMatches(first, "open,se;=me"));  // case counts
    EXPECT_FALSE(PasswordMatches(first, "Open,Se;=m"));
    EXPECT_FALSE(PasswordMatches(first, ""));
}

TEST(PasswordHash, PlainValuesOfEarlierVersionsCompareAsText) {
    EXPECT_FALSE(IsPasswordHash("secret"));
    EXPECT_FALSE(IsPasswordHash("$argon"));
    EXPECT_TRUE(PasswordMatches("secret", "secret"));
    EXPECT_FALSE(PasswordMatches("secret", "SECRET"));
    EXPECT_FALSE(PasswordMatches("secret", "secret "));
    EXPECT_FALSE(PasswordMatches("secret", "secre"));
    // A damaged hash matches nothing, the text it holds included.
    EXPECT_FALSE(PasswordMatches("$argon2id$broken", "$argon2id$broken"));
    EXPECT_FALSE(PasswordMatches("$argon2id$broken", ""));
}

TEST_F(PasswordTest, StoredAsAHashThatReadsBackAndEmptyMeansNone) {
    ASSERT_TRUE(SetStoredPassword(Store(), "a,b;c\\d=e"));
    EXPECT_EQ(File().find("a,b;c"), std::string::npos);
    EXPECT_TRUE(HasStoredPassword(Store()));
    EXPECT_TRUE(IsPasswordHash(StoredPassword(Store())));
    // A later run reads the hash, commas and all, verbatim.
    EXPECT_TRUE(CheckStoredPassword(Store(), "a,b;c\\d=e"));
    EXPECT_FALSE(CheckStoredPassword(Store(), "A,B;C\\D=E"));

    ASSERT_TRUE(SetStoredPassword(Store(), ""));
    EXPECT_EQ(StoredPassword(Store()), "");
    EXPECT_FALSE(HasStoredPassword(Store()));
    EXPECT_NE(File().find("PWD"), std::string::npos);  // present, empty
}

TEST_F(PasswordTest, PlainValueIsReplacedByItsHashOnTheFirstMatch) {
    ASSERT_TRUE(Store().Write("PWD", "Legacy12"));
    EXPECT_FALSE(CheckStoredPassword(Store(), "legacy12"));
    EXPECT_EQ(StoredPassword(Store()), "Legacy12");  // a wrong entry changes nothing

    EXPECT_TRUE(CheckStoredPassword(Store(), "Legacy12"));
    const std::string upgraded = StoredPassword(Store());
    EXPECT_TRUE(IsPasswordHash(upgraded));
    EXPECT_EQ(File().find("Legacy12"), std::string::npos);
    EXPECT_TRUE(CheckStoredPassword(Store(), "Legacy12"));
    EXPECT_EQ(StoredPassword(Store()), upgraded);  // a hash is not rewritten
}

}  // namespace
}  // namespace tollwick
