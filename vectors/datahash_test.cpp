#include "datahash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// Digests computed independently (Python's hashlib).
const char* const MD5_EMPTY = "D41D8CD98F00B204E9800998ECF8427E";
const char* const MD5_ABC = "900150983CD24FB0D6963F7D28E17F72";
const char* const MD5_ABC_SALT = "F1006A32679C3C06BEAF726F2BE6B3FC";
const char* const MD5_A_NUL_B = "70350F6027BCE3713F6B76473084309B";

std::string Digest(const std::vector<std::string>& parts)
{
    CDataHash hash;
    EXPECT_TRUE(hash.Init());
    for (const std::string& part : parts)
        EXPECT_TRUE(hash.AddString(part));
    std::string hex;
    EXPECT_TRUE(hash.GetHexString(hex));
    return hex;
}

}  // namespace

TEST(DataHash, DigestsAreMd5InUpperCaseHex)
{
    EXPECT_EQ(Digest({}), MD5_EMPTY);
    EXPECT_EQ(Digest({"abc"}), MD5_ABC);
    // Pieces are concatenated with nothing in between.
    EXPECT_EQ(Digest({"a", "b", "c"}), MD5_ABC);
    EXPECT_EQ(Digest({"", "abc", ""}), MD5_ABC);
    // Every byte counts, a NUL included.
    EXPECT_EQ(Digest({"a\0b"s}), MD5_A_NUL_B);
}

TEST(DataHash, GetValueGivesTheSixteenBytesThatTheHexTextShows)
{
    CDataHash hash;
    ASSERT_TRUE(hash.Init());
    ASSERT_TRUE(hash.AddString("abc"));
    std::vector<uint8_t> value{1, 2, 3};
    ASSERT_TRUE(hash.GetValue(value));
    ASSERT_EQ(value.size(), 16u);
    EXPECT_EQ(value[0], 0x90);
    EXPECT_EQ(value[1], 0x01);
    EXPECT_EQ(value[15], 0x72);
    EXPECT_FALSE(hash.HasHash());
    EXPECT_TRUE(hash.HasProvider());
}

TEST(DataHash, SaltIsTheEighteenBytesOfTheStationSalt)
{
    EXPECT_EQ(HASH_SALT_LENGTH, 18u);
    EXPECT_EQ(std::string(HASH_SALT), "$-KLM_VOSTA_NODE-$");

    CDataHash hash;
    ASSERT_TRUE(hash.Init());
    ASSERT_TRUE(hash.AddString("abc"));
    ASSERT_TRUE(hash.AddSalt());
    std::string hex;
    ASSERT_TRUE(hash.GetHexString(hex));
    EXPECT_EQ(hex, MD5_ABC_SALT);
}

TEST(DataHash, NothingIsAcceptedOutsideInitAndFinish)
{
    CDataHash hash;
    EXPECT_FALSE(hash.HasProvider());
    EXPECT_FALSE(hash.HasHash());
    // Before the first Init.
    EXPECT_FALSE(hash.AddString("abc"));
    EXPECT_FALSE(hash.AddSalt());
    std::vector<uint8_t> value{7};
    EXPECT_FALSE(hash.GetValue(value));
    EXPECT_EQ(value, std::vector<uint8_t>{7});

    // After finishing: the digest is consumed, the text of a failed finish is kept.
    ASSERT_TRUE(hash.Init());
    ASSERT_TRUE(hash.AddString("abc"));
    std::string hex = "previous";
    ASSERT_TRUE(hash.GetHexString(hex));
    EXPECT_EQ(hex, MD5_ABC);
    EXPECT_FALSE(hash.AddString("more"));
    EXPECT_FALSE(hash.AddSalt());
    EXPECT_FALSE(hash.GetHexString(hex));
    EXPECT_EQ(hex, MD5_ABC);

    // A new Init starts afresh with the provider kept.
    ASSERT_TRUE(hash.Init());
    EXPECT_TRUE(hash.AddString("abc"));
    ASSERT_TRUE(hash.GetHexString(hex));
    EXPECT_EQ(hex, MD5_ABC);
}

TEST(DataHash, SecondInitDiscardsWhatWasHashed)
{
    CDataHash hash;
    ASSERT_TRUE(hash.Init());
    ASSERT_TRUE(hash.AddString("data that must not count"));
    ASSERT_TRUE(hash.Init());
    ASSERT_TRUE(hash.AddString("abc"));
    std::string hex;
    ASSERT_TRUE(hash.GetHexString(hex));
    EXPECT_EQ(hex, MD5_ABC);
}

TEST(DataHash, FailedInitMakesEveryOperationFailAndChangeNothing)
{
    CDataHash hash;
    {
        CDataHash::ScopedInitFailure failure;
        EXPECT_FALSE(hash.Init());
        EXPECT_FALSE(hash.HasProvider());
        EXPECT_FALSE(hash.HasHash());
        EXPECT_FALSE(hash.AddString("abc"));
        EXPECT_FALSE(hash.AddSalt());
        std::string hex = "kept";
        EXPECT_FALSE(hash.GetHexString(hex));
        EXPECT_EQ(hex, "kept");
    }
    // Once the cause is gone, the same object works.
    ASSERT_TRUE(hash.Init());
    ASSERT_TRUE(hash.AddString("abc"));
    std::string hex;
    ASSERT_TRUE(hash.GetHexString(hex));
    EXPECT_EQ(hex, MD5_ABC);
}

TEST(DataHash, FailedInitDiscardsADigestInProgress)
{
    CDataHash hash;
    ASSERT_TRUE(hash.Init());
    ASSERT_TRUE(hash.AddString("abc"));
    CDataHash::ScopedInitFailure failure;
    EXPECT_FALSE(hash.Init());
    EXPECT_TRUE(hash.HasProvider());
    EXPECT_FALSE(hash.HasHash());
    EXPECT_FALSE(hash.AddString("abc"));
    std::string hex = "kept";
    EXPECT_FALSE(hash.GetHexString(hex));
    EXPECT_EQ(hex, "kept");
}

TEST(DataHash, DestructionInEveryStateReleasesWhatIsHeld)
{
    // Run under the leak checker: each object must free exactly what it holds.
    { CDataHash never; }
    {
        CDataHash started;
        ASSERT_TRUE(started.Init());
        ASSERT_TRUE(started.AddString("abc"));
    }
    {
        CDataHash finished;
        ASSERT_TRUE(finished.Init());
        std::string hex;
        ASSERT_TRUE(finished.GetHexString(hex));
        EXPECT_FALSE(finished.HasHash());
    }
}
