#include "report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "datahash.h"
#include "error_report.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The lines of text, each with its "\r\n".
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end + 2 - start));
        start = end + 2;
    }
    return lines;
}

// The signature a reader computes: MD5 of the bytes followed by the salt.
std::string Signature(const std::string& body)
{
    CDataHash hash;
    EXPECT_TRUE(hash.Init());
    EXPECT_TRUE(hash.AddString(body));
    EXPECT_TRUE(hash.AddSalt());
    std::string hex;
    EXPECT_TRUE(hash.GetHexString(hex));
    return hex;
}

class Report : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "qbx-report-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Dir = pattern;
        g_BoardFail = 0;

        m_Values.serial = 123;
        m_Values.outputFolder = m_Dir.string();
        m_Values.temperatureSensor = 0x8D00080215BC4E10ULL;
        m_Values.adcSensor1 = 0x3A0000001E23C620ULL;
        m_Values.adcSensor2 = 0x0E0000001E2B5420ULL;
        m_Values.operatorCurrent = 0.55;
        m_Values.vin = 4.875f;
        m_Values.vmem = 3.3f;
        m_Values.current = 0.3125f;
        m_Values.powerFlags = 0x05;
        m_Values.temperature = 24.4375f;
        m_Values.vectorsDigest = "0123456789ABCDEF0123456789ABCDEF";
    }
    void TearDown() override
    {
        CloseErrorFile();
        fs::remove_all(m_Dir);
    }

    std::vector<std::string> FilesInDir() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_Dir))
            names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path m_Dir;
    ReportValues m_Values;
};

// The expected report of the values above, formed independently (Python), with its signature.
const char* const EXPECTED_REPORT =
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

}  // namespace

TEST(ReportName, IsSerialAndTemperatureSensorInUpperCaseHex)
{
    EXPECT_EQ(ReportPath("out", 123, 0x8D00080215BC4E10ULL), "out/QBX_123_8D00080215BC4E10.txt");
    // No leading zeros; the family code 10 ends the name.
    EXPECT_EQ(ReportPath("/tmp/out", 4294967295u, 0x0000000000ABCD10ULL), "/tmp/out/QBX_4294967295_ABCD10.txt");
}

TEST_F(Report, PassingBoardGetsElevenSignedLines)
{
    bool written = false;
    testing::internal::CaptureStdout();
    const std::string path = WriteReport(m_Values, &written);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(written);
    EXPECT_EQ(g_BoardFail, 0);
    EXPECT_EQ(path, (m_Dir / "QBX_123_8D00080215BC4E10.txt").string());

    const std::string text = ReadAll(path);
    EXPECT_EQ(text, EXPECTED_REPORT);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 11u);
    // A reader's check: lines 1 to 10 as stored, then the salt.
    const std::string body = text.substr(0, text.size() - lines[10].size());
    EXPECT_EQ(lines[10], Signature(body) + "\r\n");
    // Nothing else is left in the folder.
    EXPECT_EQ(FilesInDir(), std::vector<std::string>{"QBX_123_8D00080215BC4E10.txt"});
}

TEST_F(Report, PowerFlagsGiveVmemFaultFromBitTwoAndBusFromBitsZeroAndOne)
{
    struct Case {
        uint8_t flags;
        const char* fault;
        const char* bus;
    };
    for (Case c : {Case{0x00, "Vmem_fault=0\r\n", "Bus=0\r\n"}, Case{0x04, "Vmem_fault=1\r\n", "Bus=0\r\n"},
                   Case{0x03, "Vmem_fault=0\r\n", "Bus=3\r\n"}, Case{0xFA, "Vmem_fault=0\r\n", "Bus=2\r\n"},
                   Case{0xFF, "Vmem_fault=1\r\n", "Bus=3\r\n"}}) {
        m_Values.powerFlags = c.flags;
        std::string text;
        ASSERT_TRUE(FormatReport(m_Values, text));
        const std::vector<std::string> lines = Lines(text);
        ASSERT_EQ(lines.size(), 11u);
        EXPECT_EQ(lines[4], c.fault) << int(c.flags);
        EXPECT_EQ(lines[6], c.bus) << int(c.flags);
    }
}

TEST_F(Report, SignatureChangesWithEveryCharacterOfTheFirstTenLines)
{
    std::string text;
    ASSERT_TRUE(FormatReport(m_Values, text));
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 11u);
    const std::string body = text.substr(0, text.size() - lines[10].size());
    const std::string signature = lines[10].substr(0, 32);
    ASSERT_EQ(Signature(body), signature);
    for (size_t i = 0; i < body.size(); ++i) {
        std::string changed = body;
        changed[i] = static_cast<char>(changed[i] ^ 0x01);  // CR and LF included
        EXPECT_NE(Signature(changed), signature) << "byte " << i;
    }
    // A line end written as a bare LF is a change as well.
    std::string lf = body;
    lf.erase(lf.find("\r\n"), 1);
    EXPECT_NE(Signature(lf), signature);

    // And the writer signs what it is given: one different value, another signature.
    ReportValues other = m_Values;
    other.temperature = 24.45f;
    std::string otherText;
    ASSERT_TRUE(FormatReport(other, otherText));
    EXPECT_NE(Lines(otherText)[10], lines[10]);
}

TEST_F(Report, TestingTheSameBoardAgainReplacesItsReport)
{
    const std::string first = WriteReport(m_Values);
    m_Values.operatorCurrent = 0.75;
    m_Values.temperature = 30.0f;
    const std::string second = WriteReport(m_Values);
    ASSERT_EQ(first, second);
    const std::string text = ReadAll(second);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[1], "Icc=0.750\r\n");
    EXPECT_EQ(lines[7], "Temperature=30.00\r\n");
    EXPECT_EQ(lines[10], Signature(text.substr(0, text.size() - lines[10].size())) + "\r\n");
    EXPECT_EQ(FilesInDir().size(), 1u);
    EXPECT_EQ(g_BoardFail, 0);
}

TEST_F(Report, MissingFolderFailsTheBoardAndLeavesNoReport)
{
    OpenErrorFile((m_Dir / "error.txt").c_str());
    m_Values.outputFolder = (m_Dir / "gone").string();
    bool written = true;
    testing::internal::CaptureStdout();
    const std::string path = WriteReport(m_Values, &written);
    const std::string message = "ERROR Open output file " + path + " \r\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), message);
    EXPECT_FALSE(written);
    EXPECT_EQ(g_BoardFail, 1);
    EXPECT_FALSE(fs::exists(path));
    CloseErrorFile();
    EXPECT_EQ(ReadAll(m_Dir / "error.txt"), message);
}

TEST_F(Report, DigestFailureFailsTheBoardAndLeavesNoReport)
{
    CDataHash::ScopedInitFailure failure;
    std::string text = "untouched";
    EXPECT_FALSE(FormatReport(m_Values, text));
    EXPECT_EQ(text, "untouched");

    bool written = true;
    testing::internal::CaptureStdout();
    const std::string path = WriteReport(m_Values, &written);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR Signing output file " + path + "\r\n");
    EXPECT_FALSE(written);
    EXPECT_EQ(g_BoardFail, 1);
    EXPECT_TRUE(FilesInDir().empty());
}

TEST(ResultBox, TellsPassWithTheReportAndFailWithTheErrorFile)
{
    // Standard input is not a terminal here, so the boxes do not wait.
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    testing::internal::CaptureStdout();
    ShowSuccessBox("out/QBX_1_10.txt");
    std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_NE(shown.find(platform::FormatMessageBox("Test Board SUCCESS\ngenerated file out/QBX_1_10.txt",
                                                    platform::BoxIcon::Info)),
              std::string::npos)
        << shown;

    testing::internal::CaptureStdout();
    ShowFailBox("out/error.txt");
    shown = testing::internal::GetCapturedStdout();
    EXPECT_NE(shown.find(platform::FormatMessageBox(
                  "Test Board FAIL\nsee console messages and\nfile out/error.txt\nfor vectors errors",
                  platform::BoxIcon::Error)),
              std::string::npos)
        << shown;
}
