// The signed report of a passing board and the result boxes.
#include "report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "datahash_test_support.h"
#include "error_report.h"
#include "test_files.h"

using qbxtest::ReadFile;

namespace {

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

// The report of the values below, formed independently (Python), with its signature.
const char* const kExpectedReport =
    "0x8D00080215BC4E10,0x3A0000001E23C620,0xE0000001E2B5420\r\n"
    "Icc=0.550\r\n"
    "Vin=4.875000\r\n"
    "Vmem=3.300000\r\n"
    "Vmem_fault=1\r\n"
    "I=0.312500\r\n"
    "Bus=1\r\n"
    "Temperature=24.44\r\n"
    "vectors=0123456789ABCDEF0123456789ABCDEF\r\n"
    "Test Interconnections OK\r\n"
    "2BF09047ECFA32DA349365ED2087B674\r\n";

class Report : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_BoardFail = 0;
        m_Values = {123, m_Dir.Path(), 0x8D00080215BC4E10ULL, 0x3A0000001E23C620ULL, 0x0E0000001E2B5420ULL,
                    0.55, 4.875f, 3.3f, 0.3125f, 0x05, 24.4375f, "0123456789ABCDEF0123456789ABCDEF"};
    }
    void TearDown() override { CloseErrorFile(); }

    qbxtest::TempDir m_Dir;
    ReportValues m_Values;
};

}  // namespace

TEST_F(Report, APassingBoardGetsElevenSignedLinesNamedAfterSerialAndThermometer)
{
    // No leading zeros; the family code 10 ends the name.
    EXPECT_EQ(ReportPath("out", 4294967295u, 0xABCD10ULL), platform::JoinPath("out", "QBX_4294967295_ABCD10.txt"));
    bool written = false;
    testing::internal::CaptureStdout();
    const std::string path = WriteReport(m_Values, &written);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(written);
    EXPECT_EQ(g_BoardFail, 0);
    EXPECT_EQ(path, m_Dir.File("QBX_123_8D00080215BC4E10.txt"));
    EXPECT_EQ(ReadFile(path), kExpectedReport);

    // Testing the same board again replaces its report; nothing else is left in the folder.
    m_Values.operatorCurrent = 0.75;
    ASSERT_EQ(WriteReport(m_Values), path);
    EXPECT_EQ(qbxtest::CrLfLines(ReadFile(path))[1], "Icc=0.750");
    EXPECT_EQ(FilesIn(m_Dir.Path()), std::vector<std::string>{"QBX_123_8D00080215BC4E10.txt"});
}

// The signature over every line is pinned by kExpectedReport; here the flags' two fields.
TEST_F(Report, TheFlagsGiveVmemFaultAndBus)
{
    for (auto [flags, fault, bus] : {std::tuple{0x00, "Vmem_fault=0", "Bus=0"}, {0x04, "Vmem_fault=1", "Bus=0"},
                                     {0xFA, "Vmem_fault=0", "Bus=2"}, {0xFF, "Vmem_fault=1", "Bus=3"}}) {
        m_Values.powerFlags = static_cast<uint8_t>(flags);
        std::string text;
        ASSERT_TRUE(FormatReport(m_Values, text));
        const std::vector<std::string> lines = qbxtest::CrLfLines(text);
        EXPECT_EQ(lines.at(4), fault) << flags;
        EXPECT_EQ(lines.at(6), bus) << flags;
    }
}

TEST_F(Report, AReportThatCannotBeWrittenOrSignedFailsTheBoardAndLeavesNone)
{
    OpenErrorFile(m_Dir.File("error.txt").c_str());
    m_Values.outputFolder = m_Dir.File("gone");
    bool written = true;
    testing::internal::CaptureStdout();
    std::string path = WriteReport(m_Values, &written);
    const std::string message = "ERROR Open output file " + path + " \r\n";
    // The reason follows on the console only.
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              message + path + ": cannot create a temporary file in its folder: " + qbxtest::MissingFolderText() + "\r\n");
    EXPECT_FALSE(written);
    EXPECT_EQ(g_BoardFail, 1);
    EXPECT_EQ(ReadFile(m_Dir.File("error.txt")), message);
    CloseErrorFile();

    g_BoardFail = 0;
    m_Values.outputFolder = m_Dir.Path();
    if (!qbxtest::kMd5CanBeTakenAway)
        GTEST_SKIP() << "Windows' CryptoAPI cannot be made to lack MD5 from inside a process";
    qbxtest::ScopedNoMd5 noMd5;
    std::string text = "untouched";
    EXPECT_FALSE(FormatReport(m_Values, text));
    EXPECT_EQ(text, "untouched");
    testing::internal::CaptureStdout();
    path = WriteReport(m_Values, &written);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR Signing output file " + path + "\r\n");
    EXPECT_FALSE(written);
    EXPECT_EQ(g_BoardFail, 1);
    EXPECT_EQ(FilesIn(m_Dir.Path()), std::vector<std::string>{"error.txt"});
}
