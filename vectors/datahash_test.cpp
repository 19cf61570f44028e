#include "datahash.h"
#include "datahash_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// Digests computed independently (Python's hashlib).
const char* const MD5_EMPTY = "D41D8CD98F00B204E9800998ECF8427E";
const char* const MD5_ABC = "900150983CD24FB0D6963F7D28E17F72";

}  // namespace

TEST(DataHash, DigestsAreMd5OfEveryByteInUpperCaseHex)
{
    struct {
        std::vector<std::string> parts;
        bool salt;
        const char* digest;
    } cases[] = {
        {{}, false, MD5_EMPTY},
        {{"abc"}, false, MD5_ABC},
        {{"", "a", "bc", ""}, false, MD5_ABC},  // pieces concatenated with nothing in between
        {{"a\0b"s}, false, "70350F6027BCE3713F6B76473084309B"},
        {{"abc"}, true, "F1006A32679C3C06BEAF726F2BE6B3FC"},  // the 18 bytes of "$-KLM_VOSTA_NODE-$"
    };
    for (const auto& c : cases) {
        CDataHash hash;
        ASSERT_TRUE(hash.Init());
        for (const std::string& part : c.parts)
            EXPECT_TRUE(hash.AddString(part));
        if (c.salt) {
            EXPECT_TRUE(hash.AddSalt());
        }
        std::string hex;
        EXPECT_TRUE(hash.GetHexString(hex));
        EXPECT_EQ(hex, c.digest);
    }

    // GetValue gives the sixteen bytes that the hexadecimal text shows.
    CDataHash hash;
    std::vector<uint8_t> value;
    ASSERT_TRUE(hash.Init() && hash.AddString("abc") && hash.GetValue(value));
    EXPECT_EQ(value, std::vector<uint8_t>({0x90, 0x01, 0x50, 0x98, 0x3C, 0xD2, 0x4F, 0xB0, 0xD6, 0x96, 0x3F, 0x7D,
                                           0x28, 0xE1, 0x7F, 0x72}));
}

TEST(DataHash, NothingIsAcceptedOutsideInitAndFinish)
{
    CDataHash hash;
    std::vector<uint8_t> value{7};
    std::string hex = "kept";
    EXPECT_FALSE(hash.AddString("abc"));
    EXPECT_FALSE(hash.AddSalt());
    EXPECT_FALSE(hash.GetValue(value));
    EXPECT_EQ(value, std::vector<uint8_t>{7});

    // A second Init discards what was hashed; finishing consumes the digest, not the provider.
    ASSERT_TRUE(hash.Init());
    ASSERT_TRUE(hash.AddString("data that must not count"));
    ASSERT_TRUE(hash.Init());
    ASSERT_TRUE(hash.AddString("abc"));
    ASSERT_TRUE(hash.GetHexString(hex));
    EXPECT_EQ(hex, MD5_ABC);
    EXPECT_TRUE(hash.HasProvider());
    EXPECT_FALSE(hash.HasHash());
    EXPECT_FALSE(hash.AddString("more"));
    EXPECT_FALSE(hash.GetHexString(hex));
    EXPECT_EQ(hex, MD5_ABC);

    // Without MD5 from OpenSSL nothing is started, and the object works once MD5 is back.
    CDataHash fresh;
    {
        qbxtest::ScopedNoMd5 noMd5;
        EXPECT_FALSE(fresh.Init());
        EXPECT_FALSE(fresh.HasProvider() || fresh.HasHash());
        EXPECT_FALSE(fresh.AddSalt());
        EXPECT_FALSE(fresh.GetHexString(hex));
    }
    ASSERT_TRUE(fresh.Init());
    ASSERT_TRUE(fresh.GetHexString(hex));
    EXPECT_EQ(hex, MD5_EMPTY);
    ASSERT_TRUE(fresh.Init());  // destroyed with a digest started: the leak checker sees it freed
}
