// Runs the built qbx-verify-report on a report made by the station's report writer and on
// damaged copies of it.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>

#include "report.h"
#include "test_files.h"

namespace {

qbxtest::ProcessResult Verify(const std::vector<std::string>& args)
{
    qbxtest::ProcessOptions options;
    options.args = args;
    return qbxtest::RunProcess(qbxtest::BuiltProgram("qbx-verify-report"), options);
}

}  // namespace

TEST(VerifyReport, IntactReportIsOkAndEveryDamageIsNamed)
{
    ReportValues values;
    values.operatorCurrent = 0.61;
    values.vin = 5.1f;
    std::string report;
    ASSERT_TRUE(FormatReport(values, report));
    const size_t tail = report.size() - 34;  // line 11: 32 digits and "\r\n"
    const std::string signature = report.substr(tail, 32);
    ASSERT_NE(signature.find_first_of("ABCDEF"), std::string::npos) << "the case test needs letters";

    struct {
        const char* what;
        std::function<void(std::string&)> damage;
        int status;
        std::vector<std::string> messages;
    } cases[] = {
        {"intact", [](std::string&) {}, 0, {"OK\r\n"}},
        {"tampered", [](std::string& t) { t.replace(t.find("Icc=0.610"), 9, "Icc=0.510"); }, 1,
         {"signature mismatch: expected ", ", found " + signature}},
        {"forged", [&](std::string& t) { t[tail + 29] = t[tail + 29] == '0' ? '1' : '0'; }, 1, {"expected " + signature}},
        {"no signature", [&](std::string& t) { t.resize(tail); }, 1,
         {"missing lines: 10 of 11", "line 11 (the signature) is missing; expected " + signature}},
        {"cut in line 4", [](std::string& t) { t.resize(t.find("Vmem=") + 3); }, 1,
         {"missing lines: 4 of 11", "line 4 does not end in \\r\\n"}},
        {"empty", [](std::string& t) { t.clear(); }, 1, {"missing lines: 0 of 11"}},
        {"bare LF", [](std::string& t) { t.erase(t.find("\r\nVmem="), 1); }, 1,
         {"line 3 does not end in \\r\\n: \"Vin=5.100000\"", "signature mismatch"}},
        {"lower case", [&](std::string& t) {
             for (size_t i = tail; i < tail + 32; ++i)
                 t[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(t[i])));
         }, 1, {"line 11 is not 32 upper-case hexadecimal digits"}},
        {"short", [&](std::string& t) { t.erase(tail + 31, 1); }, 1, {"line 11 is not 32 upper-case hexadecimal digits"}},
        {"extra line", [](std::string& t) { t += "extra\r\n"; }, 1, {"unexpected data after line 11"}},
    };
    qbxtest::TempDir dir;
    for (const auto& c : cases) {
        std::string text = report;
        c.damage(text);
        qbxtest::WriteFile(dir.File("report.txt"), text);
        qbxtest::ProcessResult r = Verify({dir.File("report.txt")});
        EXPECT_EQ(r.status, c.status) << c.what;
        for (const std::string& m : c.messages)
            EXPECT_NE(r.out.find(m), std::string::npos) << c.what << ": no \"" << m << "\" in\n" << r.out;
        if (c.status != 0) {
            EXPECT_EQ(r.out.find("OK"), std::string::npos) << c.what;
        }
    }
}

TEST(VerifyReport, UsageAndUnreadableFiles)
{
    qbxtest::TempDir dir;
    qbxtest::ProcessResult r = Verify({});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("USE: qbx-verify-report"), std::string::npos) << r.err;
    EXPECT_EQ(Verify({"a", "b"}).status, 2);
    r = Verify({dir.File("missing.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(qbxtest::MissingFileText()), std::string::npos) << r.out;
    r = Verify({dir.Path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("a folder, not a regular file"), std::string::npos) << r.out;
}
