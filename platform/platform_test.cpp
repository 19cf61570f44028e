#include "platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "qbx-platform-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

}  // namespace

TEST(Clock, FakeClockMakesTimeOutsInstant)
{
    platform::FakeClock clock(5, 1000);
    platform::ScopedClock installed(clock);
    uint32_t start = platform::TickCountMs();
    EXPECT_EQ(start, 1000u);
    platform::SleepMs(100);
    EXPECT_EQ(platform::TickCountMs() - start, 105u);
    EXPECT_EQ(clock.Slept(), 100u);
}

TEST(Clock, IntervalsSurviveTheWrapOfTheCounter)
{
    platform::FakeClock clock(0, 0xFFFFFFF0u);
    platform::ScopedClock installed(clock);
    uint32_t start = platform::TickCountMs();
    platform::SleepMs(0x20);
    EXPECT_EQ(platform::TickCountMs() - start, 0x20u);
}

TEST(Clock, RealClockAdvancesAcrossASleep)
{
    uint32_t start = platform::TickCountMs();
    platform::SleepMs(15);
    EXPECT_GE(platform::TickCountMs() - start, 15u);
}

TEST(Format, PrintsLikePrintf)
{
    EXPECT_EQ(platform::Format("%s=%d %08X", "x", 12, 0x3E74E1CFu), "x=12 3E74E1CF");
    EXPECT_EQ(platform::Format("%s", ""), "");
    std::string big(5000, 'a');
    EXPECT_EQ(platform::Format("[%s]", big.c_str()).size(), 5002u);
}

TEST(MessageBox, FramesIconWordAndEveryLine)
{
    std::string box = platform::FormatMessageBox("Test Board FAIL\nsee console", platform::BoxIcon::Error);
    EXPECT_EQ(box,
              "+-----------------+\r\n"
              "| ERROR           |\r\n"
              "+-----------------+\r\n"
              "| Test Board FAIL |\r\n"
              "| see console     |\r\n"
              "+-----------------+\r\n");
    std::string info = platform::FormatMessageBox("ok", platform::BoxIcon::Info);
    EXPECT_NE(info.find("| INFO |\r\n"), std::string::npos);
    EXPECT_NE(info.find("| ok   |\r\n"), std::string::npos);
}

TEST(MessageBox, DoesNotWaitWhenInputIsNotATerminal)
{
    // ctest runs us without a terminal on standard input: the box must return at once.
    testing::internal::CaptureStdout();
    platform::MessageBox("Test Board SUCCESS\ngenerated file x", platform::BoxIcon::Info);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Test Board SUCCESS"), std::string::npos);
    EXPECT_NE(out.find("generated file x"), std::string::npos);
}

TEST(Paths, JoinAndStrip)
{
    EXPECT_EQ(platform::JoinPath("out", "error.txt"), "out/error.txt");
    EXPECT_EQ(platform::JoinPath("out/", "error.txt"), "out/error.txt");
    EXPECT_EQ(platform::StripTrailingSeparators("out///"), "out");
    EXPECT_EQ(platform::StripTrailingSeparators("out"), "out");
    EXPECT_EQ(platform::StripTrailingSeparators("/"), "/");
    EXPECT_EQ(platform::StripTrailingSeparators("//"), "/");
    EXPECT_EQ(platform::StripTrailingSeparators(""), "");
    EXPECT_EQ(platform::DirName("a/b/c.txt"), "a/b");
    EXPECT_EQ(platform::DirName("c.txt"), ".");
    EXPECT_EQ(platform::DirName("/c.txt"), "/");
}

TEST(AtomicWrite, ReplacesTheFileAndLeavesNoTemporary)
{
    TempDir dir;
    fs::path target = dir.path / "report.txt";
    std::ofstream(target) << "old";
    std::string content("line 1\r\nline\0 2\r\n", 17);
    ASSERT_TRUE(platform::WriteFileAtomically(target.string(), content));
    EXPECT_EQ(ReadAll(target), content);
    int files = 0;
    for ([[maybe_unused]] auto& entry : fs::directory_iterator(dir.path))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST(AtomicWrite, FailsCleanlyInAMissingFolder)
{
    TempDir dir;
    std::string error;
    EXPECT_FALSE(platform::WriteFileAtomically((dir.path / "nope" / "r.txt").string(), "x", &error));
    EXPECT_NE(error.find("temporary"), std::string::npos) << error;
}
