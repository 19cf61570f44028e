#include "datahash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datahash_test_support.h"

using namespace std::string_literals;

namespace {

// Digests computed independently (Python's hashlib).
const char* const MD5_EMPTY = "D41D8CD98F00B204E9800998ECF8427E";
const char* const MD5_ABC = "900150983CD24FB0D6963F7D28E17F72";

}  // namespace

TEST(DataHash, DigestsAreMd5OfEveryByteInUpperCaseHex)
{
    using Parts = std::vector<std::string>;
    for (auto [parts, salt, digest] :
         {std::tuple{Parts{}, false, MD5_EMPTY}, {Parts{"", "a", "bc", ""}, false, MD5_ABC},  // nothing in between
          {Parts{"a\0b"s}, false, "70350F6027BCE3713F6B76473084309B"},
          {Parts{"abc"}, true, "F1006A32679C3C06BEAF726F2BE6B3FC"}}) {  // the 18 bytes of "$-KLM_VOSTA_NODE-$"
        CDataHash hash;
        ASSERT_TRUE(hash.Init());
        for (const std::string& part : parts)
            EXPECT_TRUE(hash.AddString(part));
        EXPECT_TRUE(!salt || hash.AddSalt());
        std::string hex;
        EXPECT_TRUE(hash.GetHexString(hex));
        EXPECT_EQ(hex, digest);
    }
}

TEST(DataHash, NothingIsAcceptedOutsideInitAndFinish)
{
    CDataHash hash;
    std::vector<uint8_t> value{7};
    std::string hex = "kept";
    EXPECT_FALSE(hash.AddString("abc") || hash.AddSalt() || hash.GetValue(value) || hash.GetHexString(hex));
    EXPECT_EQ(value, std::vector<uint8_t>{7});
    EXPECT_EQ(hex, "kept");

    // A second Init discards what was hashed; finishing consumes the digest, not the algorithm.
    ASSERT_TRUE(hash.Init() && hash.AddString("data that must not count") && hash.Init() && hash.AddString("abc"));
    ASSERT_TRUE(hash.GetHexString(hex));
    EXPECT_EQ(hex, MD5_ABC);
    EXPECT_TRUE(hash.HasProvider());
    EXPECT_FALSE(hash.HasHash() || hash.AddString("more") || hash.GetHexString(hex));
    EXPECT_EQ(hex, MD5_ABC);

    // Without MD5 from OpenSSL nothing is started, and the object works once MD5 is back.
    if (!qbxtest::kMd5CanBeTakenAway)
        GTEST_SKIP() << "Windows' CryptoAPI cannot be made to lack MD5 from inside a process";
    CDataHash fresh;
    {
        qbxtest::ScopedNoMd5 noMd5;
        EXPECT_FALSE(fresh.Init() || fresh.HasProvider() || fresh.HasHash() || fresh.AddSalt());
    }
    ASSERT_TRUE(fresh.Init() && fresh.GetHexString(hex));
    EXPECT_EQ(hex, MD5_EMPTY);
    ASSERT_TRUE(fresh.Init());  // destroyed with a digest started: the leak checker sees it freed
}
