// The one error path: console, error file and the board-fail flag.
#include "error_report.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <filesystem>
#include <string>

#include "test_files.h"

using qbxtest::ReadFile;

namespace {

class ErrorReport : public ::testing::Test {
protected:
    void SetUp() override { g_BoardFail = 0; }
    void TearDown() override { CloseErrorFile(); }

    // Reports a message and returns what reached the console.
    static std::string Printed(const char* message)
    {
        testing::internal::CaptureStdout();
        EXPECT_EQ(ReportError("%s", message), static_cast<int>(std::string(message).size()));
        return testing::internal::GetCapturedStdout();
    }

    qbxtest::TempDir m_Dir;
    const std::string m_Path = m_Dir.File("error.txt");
};

}  // namespace

TEST_F(ErrorReport, EveryMessageReachesTheConsoleFailsTheBoardAndIsFormattedWhole)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReportError("ERROR id=%08X\r\n", 0x3E74E1Cu), 19);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR id=03E74E1C\r\n");
    EXPECT_EQ(g_BoardFail, 1);
    const std::string pin(5000, 'P');
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReportError("Error pin %s not Found\r\n", pin.c_str()), 5022);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error pin " + pin + " not Found\r\n");
}

TEST_F(ErrorReport, TheErrorFileIsCreatedEmptyAndReceivesEachMessageAtOnce)
{
    qbxtest::WriteFile(m_Path, "messages of the previous board\r\n");
    OpenErrorFile(m_Path.c_str());
    ASSERT_TRUE(g_ErrorFile.IsOpen());
    EXPECT_EQ(g_ErrorFile.Path(), m_Path);
    EXPECT_EQ(ReadFile(m_Path), "");
    EXPECT_EQ(g_BoardFail, 0);  // opening is not an error

    EXPECT_EQ(Printed("ERROR JTAG chain\r\n"), "ERROR JTAG chain\r\n");
    EXPECT_EQ(ReadFile(m_Path), "ERROR JTAG chain\r\n") << "another program sees it while the file is open";
    OpenErrorFile(m_Path.c_str());                      // already open: not truncated again
    OpenErrorFile(m_Dir.File("other.txt").c_str());  // nor replaced by another file
    Printed("second\r\n");
    EXPECT_EQ(ReadFile(m_Path), "ERROR JTAG chain\r\nsecond\r\n");
    EXPECT_FALSE(qbxtest::FileExists(m_Dir.File("other.txt")));

    // Once closed, messages reach the console only; the next board's file starts empty.
    CloseErrorFile();
    EXPECT_FALSE(g_ErrorFile.IsOpen());
    EXPECT_EQ(Printed("Read Temperature ERROR\r\n"), "Read Temperature ERROR\r\n");
    EXPECT_EQ(ReadFile(m_Path), "ERROR JTAG chain\r\nsecond\r\n");
    OpenErrorFile(m_Path.c_str());
    CloseErrorFile();
    EXPECT_EQ(ReadFile(m_Path), "");
}

// Links and the file size limit that makes a write fail are POSIX's; on Windows
// platform/files_win_test.cpp checks what the error file refuses there.
#ifndef _WIN32
TEST_F(ErrorReport, AnErrorFileThatCannotBeCreatedOrWrittenSaysWhyAndNeverWritesThroughALink)
{
    // A folder that does not exist, a "folder" that is a plain file, a link planted in the file's
    // place: none becomes the error file, and nothing is written anywhere.
    const std::string missing = m_Dir.File("no-such-folder/error.txt");
    qbxtest::WriteFile(m_Dir.File("plain"), "");
    qbxtest::WriteFile(m_Dir.File("elsewhere"), "precious");
    std::filesystem::create_symlink(m_Dir.File("elsewhere"), m_Path);
    const std::string underFile = m_Dir.File("plain/error.txt");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(OpenErrorFile(missing.c_str()));
    EXPECT_FALSE(OpenErrorFile(underFile.c_str()));
    EXPECT_FALSE(OpenErrorFile(m_Path.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Open file " + missing + " Error\r\n" + missing + ": No such file or directory\r\n"
              "Open file " + underFile + " Error\r\n" + underFile + ": Not a directory\r\n"
              "Open file " + m_Path + " Error\r\n" + m_Path + ": a symbolic link, not followed\r\n");
    EXPECT_EQ(ReadFile(m_Dir.File("elsewhere")), "precious");
    EXPECT_FALSE(g_ErrorFile.IsOpen());
    EXPECT_EQ(g_BoardFail, 0);
    EXPECT_EQ(Printed("QBX 1 Sensor DS18S20 not found\r\n"), "QBX 1 Sensor DS18S20 not found\r\n");
    EXPECT_EQ(g_BoardFail, 1);

    // A write that fails (here: beyond the file size limit, as on a full disk) is said once; the
    // file keeps the whole messages before it and takes no further one.
    std::filesystem::remove(m_Path);
    ASSERT_TRUE(OpenErrorFile(m_Path.c_str()));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    limit.rlim_cur = 250;  // two messages and a half; the console capture stays below it
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::string line = std::string(98, 'E') + "\r\n";
    EXPECT_EQ(Printed(line.c_str()), line);
    EXPECT_EQ(Printed(line.c_str()), line);
    EXPECT_EQ(Printed(line.c_str()), line + "Error writing file " + m_Path + ": File too large (its messages are incomplete)\r\n");
    EXPECT_EQ(Printed(line.c_str()), line);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    EXPECT_EQ(g_ErrorFile.Failure(), "File too large");
    EXPECT_EQ(ReadFile(m_Path), line + line);
    CloseErrorFile();
    ASSERT_TRUE(OpenErrorFile(m_Path.c_str()));
    EXPECT_EQ(g_ErrorFile.Failure(), "");
}
#endif  // _WIN32
