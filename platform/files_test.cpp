// Files as the station reads and writes them, against what may be found in their place.
#include "files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "test_files.h"

using qbxtest::ReadFile;
using qbxtest::WriteFile;
namespace fs = std::filesystem;

TEST(InputFiles, OnlyARegularFileOfASaneSizeIsReadAndAFifoNeverBlocks)
{
    qbxtest::TempDir dir;
    WriteFile(dir.File("a.txt"), std::string("x\0y", 3));
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    fs::create_symlink(dir.File("a.txt"), dir.File("link"));  // an input may be named through a link
    struct Case {
        std::string path;
        uint64_t limit;
        bool ok, missing;
        std::string why;
    };
    const Case cases[] = {
        {dir.File("a.txt"), 3, true, false, ""},
        {dir.File("link"), 3, true, false, ""},
        {dir.File("a.txt"), 2, false, false, "larger than 2 bytes"},
        {dir.File("none"), 9, false, true, "No such file or directory"},
        {dir.Path(), 9, false, false, "a folder, not a regular file"},
        {dir.File("fifo"), 9, false, false, "a FIFO, not a regular file"},
        {"/dev/zero", platform::kMaxInputFileSize, false, false, "a device, not a regular file"},
    };
    for (const Case& c : cases) {
        const platform::InputFile file = platform::ReadInputFile(c.path, c.limit);
        EXPECT_EQ(file.ok, c.ok) << c.path;
        EXPECT_EQ(file.missing, c.missing) << c.path;
        EXPECT_EQ(file.why, c.why) << c.path;
        EXPECT_EQ(file.content, c.ok ? std::string("x\0y", 3) : "") << c.path;
    }
}

TEST(ResultFiles, NeverWrittenThroughALinkNorInPlaceOfAnythingButARegularFile)
{
    qbxtest::TempDir dir;
    const std::string target = dir.File("elsewhere.txt");
    WriteFile(target, "precious");
    fs::create_symlink(target, dir.File("link.txt"));
    fs::create_directory(dir.File("folder.txt"));
    ASSERT_EQ(::mkfifo(dir.File("fifo.txt").c_str(), 0600), 0);
    ASSERT_EQ(::link(target.c_str(), dir.File("hard.txt").c_str()), 0);
    const std::pair<const char*, const char*> refused[] = {
        {"link.txt", "a symbolic link, not followed"},
        {"folder.txt", "a folder, not a regular file"},
        {"fifo.txt", "a FIFO, not a regular file"},
    };
    for (const auto& [name, why] : refused) {
        std::string error;
        EXPECT_FALSE(platform::WriteFileAtomically(dir.File(name), "new", &error)) << name;
        EXPECT_EQ(error, why);
        platform::COutputFile file;
        EXPECT_FALSE(file.Create(dir.File(name), error)) << name;
        EXPECT_EQ(error, why);
    }
    // Written in place, another name of the file would change too; replaced, it does not.
    platform::COutputFile file;
    std::string error;
    EXPECT_FALSE(file.Create(dir.File("hard.txt"), error));
    EXPECT_EQ(error, "a regular file with other names (hard links), not written");
    EXPECT_EQ(ReadFile(target), "precious");
    ASSERT_TRUE(platform::WriteFileAtomically(dir.File("hard.txt"), "report"));
    EXPECT_EQ(ReadFile(dir.File("hard.txt")), "report");
    EXPECT_EQ(ReadFile(target), "precious");
    EXPECT_TRUE(fs::is_symlink(dir.File("link.txt")));
    EXPECT_TRUE(fs::is_fifo(dir.File("fifo.txt")));

    // A regular file is emptied and written straight through; a failed atomic write leaves no
    // temporary file behind.
    WriteFile(dir.File("error.txt"), "old board");
    ASSERT_TRUE(file.Create(dir.File("error.txt"), error)) << error;
    EXPECT_EQ(ReadFile(dir.File("error.txt")), "");
    ASSERT_TRUE(file.Write("line\r\n", error));
    EXPECT_EQ(ReadFile(dir.File("error.txt")), "line\r\n");
    EXPECT_TRUE(file.Sync(error));
    EXPECT_TRUE(file.Close(error));
    EXPECT_FALSE(platform::WriteFileAtomically(dir.File("no-folder/r.txt"), "x", &error));
    EXPECT_NE(error.find("temporary"), std::string::npos) << error;
    size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        entries += entry.path().filename().string().rfind(".tmp", 0) == 0 ? 100 : 1;
    EXPECT_EQ(entries, 6u);
}

TEST(ToolOutput, ADeviceOrFifoIsWrittenIntoAndNeverReplaced)
{
    qbxtest::TempDir dir;
    std::string error;
    ASSERT_TRUE(platform::WriteOutputFile("/dev/null", "vectors", &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(platform::WriteOutputFile(fifo, "x", &error));
    EXPECT_EQ(error, "a FIFO without a reader");
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(platform::WriteOutputFile(fifo, "through", &error)) << error;
    char got[16] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 7);
    EXPECT_STREQ(got, "through");
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(fifo));

    fs::create_symlink("/dev/null", dir.File("link"));
    EXPECT_FALSE(platform::WriteOutputFile(dir.File("link"), "x", &error));
    EXPECT_EQ(error, "a symbolic link, not written");
    ASSERT_TRUE(platform::WriteOutputFile(dir.File("new.vec"), "v", &error));
    EXPECT_EQ(ReadFile(dir.File("new.vec")), "v");
}

TEST(FolderLock, OneHolderAtATimeAndAnUnusableFolderSaysWhy)
{
    qbxtest::TempDir dir;
    WriteFile(dir.File("plain"), "");
    platform::CFolderLock first;
    platform::CFolderLock second;
    std::string why;
    ASSERT_TRUE(first.Acquire(dir.Path(), why)) << why;
    EXPECT_FALSE(second.Acquire(dir.Path() + "/.", why));
    EXPECT_EQ(why, "in use by another station");
    first.Release();
    EXPECT_TRUE(second.Acquire(dir.Path(), why)) << why;
    EXPECT_FALSE(first.Acquire(dir.File("none"), why));
    EXPECT_EQ(why, "No such file or directory");
    EXPECT_FALSE(first.Acquire(dir.File("plain"), why));
    EXPECT_EQ(why, "Not a directory");
}
