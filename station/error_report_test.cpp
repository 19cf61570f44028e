// The one error path: console, error file and the board-fail flag.
#include "error_report.h"

#include <gtest/gtest.h>

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

TEST_F(ErrorReport, AnErrorFileThatCannotBeCreatedIsOnlyPrinted)
{
    // A folder that does not exist, and a "folder" that is a plain file: neither can hold the
    // error file, whoever runs the test.
    const std::string missing = m_Dir.File("no-such-folder/error.txt");
    qbxtest::WriteFile(m_Dir.File("plain"), "");
    const std::string underFile = m_Dir.File("plain/error.txt");
    testing::internal::CaptureStdout();
    OpenErrorFile(missing.c_str());
    OpenErrorFile(underFile.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Open file " + missing + " Error\r\nOpen file " + underFile + " Error\r\n");
    EXPECT_FALSE(g_ErrorFile.IsOpen());
    EXPECT_EQ(g_BoardFail, 0);
    EXPECT_EQ(Printed("QBX 1 Sensor DS18S20 not found\r\n"), "QBX 1 Sensor DS18S20 not found\r\n");
    EXPECT_EQ(g_BoardFail, 1);
}
