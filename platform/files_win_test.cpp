// Files on Windows, against what may be found in their place: folders, devices, another station.
// (Links are left to the Linux tests: making one needs a privilege a plain Windows user lacks.)
#include "files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform.h"
#include "test_files.h"

using qbxtest::ReadFile;
using qbxtest::WriteFile;

TEST(WindowsInputFiles, OnlyADiskFileOfASaneSizeIsRead)
{
    qbxtest::TempDir dir;
    WriteFile(dir.File("a.txt"), std::string("x\0y", 3));
    const struct {
        std::string path;
        uint64_t limit;
        bool ok, missing;
        std::string why;  // empty: any text
    } cases[] = {
        {dir.File("a.txt"), 3, true, false, ""},
        {dir.File("a.txt"), 2, false, false, "larger than 2 bytes"},
        {dir.File("none"), 9, false, true, ""},
        {dir.Path(), 9, false, false, "a folder, not a regular file"},
        {"NUL", platform::kMaxInputFileSize, false, false, "a device, not a regular file"},
    };
    for (const auto& c : cases) {
        const platform::InputFile file = platform::ReadInputFile(c.path, c.limit);
        EXPECT_EQ(file.ok, c.ok) << c.path;
        EXPECT_EQ(file.missing, c.missing) << c.path;
        EXPECT_EQ(file.ok, file.why.empty()) << c.path << ": " << file.why;
        if (!c.why.empty()) {
            EXPECT_EQ(file.why, c.why) << c.path;
        }
        EXPECT_EQ(file.content, c.ok ? std::string("x\0y", 3) : "") << c.path;
    }
}

TEST(WindowsResultFiles, ReplacedWholeNeverInPlaceOfAFolderAndReadableWhileWritten)
{
    qbxtest::TempDir dir;
    const std::string report = dir.File("report.txt");
    std::string error;
    ASSERT_TRUE(platform::WriteFileAtomically(report, "old\r\n", &error)) << error;
    ASSERT_TRUE(platform::WriteFileAtomically(report, "new\r\n", &error)) << error;
    EXPECT_EQ(ReadFile(report), "new\r\n");
    std::filesystem::create_directory(dir.File("folder.txt"));
    EXPECT_FALSE(platform::WriteFileAtomically(dir.File("folder.txt"), "x", &error));
    EXPECT_EQ(error, "a folder, not a regular file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2) << "no temporary file is left";

    // The error file: created empty over an old one, readable by others while written, not
    // writable by them; a folder in its place is refused.
    WriteFile(dir.File("error.txt"), "from the last run\r\n");
    platform::COutputFile file;
    std::string why;
    ASSERT_TRUE(file.Create(dir.File("error.txt"), why)) << why;
    ASSERT_TRUE(file.Write("ERROR id=0A74E1CF\r\n", why)) << why;
    ASSERT_TRUE(file.Sync(why)) << why;
    EXPECT_EQ(ReadFile(dir.File("error.txt")), "ERROR id=0A74E1CF\r\n");
    HANDLE other = ::CreateFileA(dir.File("error.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(file.Close(why)) << why;
    platform::COutputFile folder;
    EXPECT_FALSE(folder.Create(dir.File("folder.txt"), why));
    EXPECT_EQ(why, "a folder, not a regular file");
}

TEST(WindowsToolOutput, TheNulDeviceIsWrittenIntoAndNeverReplaced)
{
    std::string error;
    EXPECT_TRUE(platform::WriteOutputFile("NUL", "vectors", &error)) << error;
    EXPECT_EQ(platform::Describe("NUL"), "a device");
    qbxtest::TempDir dir;
    EXPECT_FALSE(platform::WriteOutputFile(dir.Path(), "x", &error));
    EXPECT_EQ(error, "a folder, not written");
}

TEST(WindowsFolderLock, OneHolderAtATimeTheLockGoesWithItAndAFileIsNoFolder)
{
    qbxtest::TempDir dir;
    WriteFile(dir.File("plain"), "");
    platform::CFolderLock first;
    platform::CFolderLock second;
    std::string why;
    ASSERT_TRUE(first.Acquire(dir.Path(), why)) << why;
    EXPECT_FALSE(second.Acquire(dir.Path() + "\\.", why));
    EXPECT_EQ(why, "in use by another station");
    first.Release();
    EXPECT_TRUE(second.Acquire(dir.Path(), why)) << why;
    second.Release();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "the lock file went with it";
    EXPECT_FALSE(first.Acquire(dir.File("none"), why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(first.Acquire(dir.File("plain"), why));
    EXPECT_FALSE(why.empty());
}
