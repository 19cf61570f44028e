#include "platform.h"

#include <gtest/gtest.h>

#include <climits>

#include "test_files.h"

TEST(Text, FormatAndTheMessageBox)
{
    EXPECT_EQ(platform::Format("%s=%d %08X", "x", 12, 0x3E74E1CFu), "x=12 3E74E1CF");
    EXPECT_EQ(platform::Format("[%s]", std::string(5000, 'a').c_str()).size(), 5002u);
    // Numbers as atoi reads them, saturating where atoi's result is undefined.
    for (auto [text, value] : {std::pair{"", 0}, {"abc", 0}, {" \t 42abc", 42}, {"-7", -7}, {"+0012", 12}, {"- 3", 0},
                               {"2147483648", INT_MAX}, {"-2147483648", INT_MIN}, {"-99999999999999999999999", INT_MIN}})
        EXPECT_EQ(platform::ParseInt(text), value) << text;
    EXPECT_EQ(platform::FormatMessageBox("Test Board FAIL\nsee console", platform::BoxIcon::Error),
              "+-----------------+\r\n"
              "| ERROR           |\r\n"
              "+-----------------+\r\n"
              "| Test Board FAIL |\r\n"
              "| see console     |\r\n"
              "+-----------------+\r\n");
    // ctest runs us without a terminal on standard input: the box is shown and returns at once.
    testing::internal::CaptureStdout();
    platform::MessageBox("ok", platform::BoxIcon::Info);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\r\n+------+\r\n| INFO |\r\n+------+\r\n| ok   |\r\n+------+\r\n");
}

TEST(Paths, JoinStripAndDirName)
{
    EXPECT_EQ(platform::JoinPath("out", "error.txt"), std::string("out") + platform::kPathSeparator + "error.txt");
    EXPECT_EQ(platform::JoinPath("out/", "error.txt"), "out/error.txt");
    for (auto [folder, stripped] : {std::pair{"out///", "out"}, {"out", "out"}, {"/", "/"}, {"//", "/"}, {"", ""}})
        EXPECT_EQ(platform::StripTrailingSeparators(folder), stripped) << folder;
    for (auto [path, dir] : {std::pair{"a/b/c.txt", "a/b"}, {"c.txt", "."}, {"/c.txt", "/"}})
        EXPECT_EQ(platform::DirName(path), dir) << path;
}
