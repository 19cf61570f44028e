// Runs the built qbx-verify-report on reports written by the station's report writer.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include "report.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status;
    std::string output;
};

ToolRun RunTool(const std::string& arguments)
{
    const std::string command = std::string(QBX_BIN_DIR) + "/qbx-verify-report " + arguments + " 2>&1";
    ToolRun run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

class VerifyReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "qbx-verify-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Dir = pattern;
        ReportValues values;
        values.serial = 77;
        values.outputFolder = m_Dir.string();
        values.temperatureSensor = 0x5E00080215BC4E10ULL;
        values.adcSensor1 = 0x3A0000001E23C620ULL;
        values.adcSensor2 = 0x0E0000001E2B5420ULL;
        values.operatorCurrent = 0.61;
        values.vin = 5.1f;
        values.vmem = 2.5f;
        values.current = 0.58f;
        values.powerFlags = 1;
        values.temperature = 27.31f;
        values.vectorsDigest = "D41D8CD98F00B204E9800998ECF8427E";
        bool written = false;
        m_Report = WriteReport(values, &written);
        ASSERT_TRUE(written);
        std::ifstream in(m_Report, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        m_Text = s.str();
        ASSERT_EQ(m_Text.size(), m_Text.find("Test Interconnections OK\r\n") + 26 + 34);
    }
    void TearDown() override { fs::remove_all(m_Dir); }

    std::string Variant(const std::string& text)
    {
        fs::path path = m_Dir / "variant.txt";
        std::ofstream out(path, std::ios::binary);
        out << text;
        return Quote(path.string());
    }

    std::string Signature() const { return m_Text.substr(m_Text.size() - 34, 32); }

    fs::path m_Dir;
    std::string m_Report;
    std::string m_Text;
};

}  // namespace

TEST_F(VerifyReport, IntactReportIsOk)
{
    ToolRun run = RunTool(Quote(m_Report));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "OK\r\n");
}

TEST_F(VerifyReport, TamperedReportShowsBothSignatures)
{
    std::string tampered = m_Text;
    tampered.replace(tampered.find("Icc=0.610"), 9, "Icc=0.510");
    ToolRun run = RunTool(Variant(tampered));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("signature mismatch: expected "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(", found " + Signature()), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("OK"), std::string::npos);

    // A changed signature line is caught the same way.
    std::string forged = m_Text;
    forged[forged.size() - 3] = forged[forged.size() - 3] == '0' ? '1' : '0';
    run = RunTool(Variant(forged));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("expected " + Signature()), std::string::npos) << run.output;
}

TEST_F(VerifyReport, TruncatedReportIsMissingLines)
{
    // Without the signature line.
    std::string text = m_Text.substr(0, m_Text.size() - 34);
    ToolRun run = RunTool(Variant(text));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("missing lines: 10 of 11"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("expected " + Signature()), std::string::npos) << run.output;

    // Cut in the middle of line 4.
    text = m_Text.substr(0, m_Text.find("Vmem=") + 3);
    run = RunTool(Variant(text));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("missing lines: 4 of 11"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("line 4 does not end in \\r\\n"), std::string::npos) << run.output;

    // Empty file.
    run = RunTool(Variant(""));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("missing lines: 0 of 11"), std::string::npos) << run.output;
}

TEST_F(VerifyReport, MalformedLinesAreNamed)
{
    // A line end saved as a bare LF changes the signed bytes.
    std::string lf = m_Text;
    lf.erase(lf.find("\r\nVmem="), 1);
    ToolRun run = RunTool(Variant(lf));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("line 3 does not end in \\r\\n: \"Vin=5.100000\""), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("signature mismatch"), std::string::npos) << run.output;

    // The signature in lower case, or cut short.
    std::string lower = m_Text;
    for (size_t i = lower.size() - 34; i < lower.size() - 2; ++i)
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
    ASSERT_NE(lower, m_Text);  // this report's signature has letters
    run = RunTool(Variant(lower));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("line 11 is not 32 upper-case hexadecimal digits"), std::string::npos) << run.output;
    std::string shortSignature = m_Text;
    shortSignature.erase(shortSignature.size() - 3, 1);
    run = RunTool(Variant(shortSignature));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("line 11 is not 32 upper-case hexadecimal digits"), std::string::npos) << run.output;

    // Anything after the signature.
    run = RunTool(Variant(m_Text + "extra\r\n"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("unexpected data after line 11"), std::string::npos) << run.output;
}

TEST_F(VerifyReport, UsageAndUnreadableFiles)
{
    ToolRun run = RunTool("");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("USE: qbx-verify-report"), std::string::npos) << run.output;
    EXPECT_EQ(RunTool(Quote(m_Report) + " " + Quote(m_Report)).status, 2);

    run = RunTool(Quote((m_Dir / "missing.txt").string()));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("cannot open"), std::string::npos) << run.output;
    run = RunTool(Quote(m_Dir.string()));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("it is a folder"), std::string::npos) << run.output;
}
