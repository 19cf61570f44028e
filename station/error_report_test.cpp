#include "error_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ErrorReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "qbx-errors-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Dir = pattern;
        g_BoardFail = 0;
    }
    void TearDown() override
    {
        CloseErrorFile();
        fs::remove_all(m_Dir);
    }
    fs::path m_Dir;
};

}  // namespace

TEST_F(ErrorReport, WithoutErrorFileTheMessageGoesToTheConsoleAndFailsTheBoard)
{
    ASSERT_FALSE(g_ErrorFile.IsOpen());
    testing::internal::CaptureStdout();
    int length = ReportError("ERROR id=%08X\r\n", 0x3E74E1Cu);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR id=03E74E1C\r\n");
    EXPECT_EQ(length, 19);
    EXPECT_EQ(g_BoardFail, 1);

    // Long messages are formatted whole.
    const std::string pin(5000, 'P');
    testing::internal::CaptureStdout();
    length = ReportError("Error pin %s not Found\r\n", pin.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error pin " + pin + " not Found\r\n");
    EXPECT_EQ(length, static_cast<int>(pin.size()) + 22);
}

TEST_F(ErrorReport, OpenErrorFileReceivesEachMessageAtOnce)
{
    const fs::path path = m_Dir / "error.txt";
    OpenErrorFile(path.c_str());
    ASSERT_TRUE(g_ErrorFile.IsOpen());
    EXPECT_EQ(g_ErrorFile.Path(), path.string());
    EXPECT_EQ(g_BoardFail, 0);  // opening is not an error
    EXPECT_EQ(ReadAll(path), "");

    testing::internal::CaptureStdout();
    ReportError("ERROR JTAG chain\r\n");
    // Another program reading the file while it is open sees the message already.
    EXPECT_EQ(ReadAll(path), "ERROR JTAG chain\r\n");
    ReportError("Read/Write error Sensor DS2450 %llX\r\n", 0x20ABCDEFULL);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR JTAG chain\r\nRead/Write error Sensor DS2450 20ABCDEF\r\n");
    EXPECT_EQ(ReadAll(path), "ERROR JTAG chain\r\nRead/Write error Sensor DS2450 20ABCDEF\r\n");

    // Once closed, messages reach the console only.
    CloseErrorFile();
    EXPECT_FALSE(g_ErrorFile.IsOpen());
    testing::internal::CaptureStdout();
    ReportError("Read Temperature ERROR\r\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Read Temperature ERROR\r\n");
    EXPECT_EQ(ReadAll(path), "ERROR JTAG chain\r\nRead/Write error Sensor DS2450 20ABCDEF\r\n");
}

TEST_F(ErrorReport, OpenErrorFileTruncatesAndDoesNothingWhileOpen)
{
    const fs::path path = m_Dir / "error.txt";
    const fs::path other = m_Dir / "other.txt";
    {
        std::ofstream old(path, std::ios::binary);
        old << "messages of the previous board\r\n";
    }
    OpenErrorFile(path.c_str());
    EXPECT_EQ(ReadAll(path), "");
    testing::internal::CaptureStdout();
    ReportError("first\r\n");
    OpenErrorFile(path.c_str());   // already open: not truncated again
    OpenErrorFile(other.c_str());  // nor replaced by another file
    ReportError("second\r\n");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ReadAll(path), "first\r\nsecond\r\n");
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(g_ErrorFile.Path(), path.string());
}

TEST_F(ErrorReport, ErrorFileThatCannotBeCreatedIsOnlyPrinted)
{
    // A folder that does not exist, and a "folder" that is a plain file: neither can hold the
    // error file, whoever runs the test.
    const fs::path missing = m_Dir / "no-such-folder" / "error.txt";
    {
        std::ofstream plain(m_Dir / "plain");
    }
    const fs::path underFile = m_Dir / "plain" / "error.txt";

    testing::internal::CaptureStdout();
    OpenErrorFile(missing.c_str());
    OpenErrorFile(underFile.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Open file " + missing.string() + " Error\r\nOpen file " + underFile.string() + " Error\r\n");
    EXPECT_FALSE(g_ErrorFile.IsOpen());
    EXPECT_EQ(g_BoardFail, 0);

    // Messages still fail the board and reach the console.
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReportError("QBX %d Sensor DS18S20 not found\r\n", 1), 32);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "QBX 1 Sensor DS18S20 not found\r\n");
    EXPECT_EQ(g_BoardFail, 1);
}

TEST_F(ErrorReport, ErrorFileIsEmptyAfterAFailingBoardAndThenAPassingOne)
{
    const fs::path path = m_Dir / "error.txt";
    // The failing board.
    g_BoardFail = 0;
    OpenErrorFile(path.c_str());
    testing::internal::CaptureStdout();
    ReportError("Read Temperature ERROR\r\n");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_BoardFail, 1);
    CloseErrorFile();
    EXPECT_EQ(ReadAll(path), "Read Temperature ERROR\r\n");

    // The passing board: the file is created again and nothing is reported.
    g_BoardFail = 0;
    OpenErrorFile(path.c_str());
    EXPECT_EQ(g_BoardFail, 0);
    CloseErrorFile();
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(ReadAll(path), "");
}
