// Runs the built qbx-inspect (bsdl and match) and checks what it prints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_files.h"

namespace {

qbxtest::ProcessResult Inspect(const std::vector<std::string>& args)
{
    qbxtest::ProcessOptions options;
    options.args = args;
    return qbxtest::RunProcess(qbxtest::BuiltProgram("qbx-inspect"), options);
}

// The report of one match: marks and groups 1 to 9, those not given -1.
std::string MatchReport(int compiled, int found, std::vector<int> marks, std::vector<int> groups)
{
    std::string s = "compile " + std::to_string(compiled) + "\nfound " + std::to_string(found) + "\n";
    marks.resize(9, -1);
    groups.resize(9, -1);
    for (int n = 1; n <= 9; ++n)
        s += "mark " + std::to_string(n) + " " + std::to_string(marks[n - 1]) + "\n";
    for (int n = 1; n <= 9; ++n)
        s += "group " + std::to_string(n) + " " + std::to_string(groups[n - 1]) + "\n";
    return s;
}

}  // namespace

TEST(InspectBsdl, PortsImagesAndMissingSections)
{
    qbxtest::TempDir dir;
    qbxtest::WriteFile(dir.File("tiny.bsd"),
                       "entity TINY is\n"
                       "  port(TCK : in bit; LED : out bit; IO7 : inout bit; GND : linkage bit);\n"
                       "  constant P : PIN_MAP_STRING := \"TCK:A1, LED:AB12, IO7:17, GND:(A2, A3) \";\n"
                       "  attribute BOUNDARY_LENGTH of TINY : entity is 10;\n"
                       "  attribute BOUNDARY_REGISTER of TINY : entity is \"0 (BC_1, IO7, input, X), \" &\n"
                       "    \"1 (BC_1, IO7, output3, 1, 2, 0, Z), 2 (BC_1, *, control, 0), \" &\n"
                       "    \"3 (BC_1, LED, output2, 0), 9 (BC_1, *, internal, 1)\";\n"
                       "end TINY;\n");
    qbxtest::ProcessResult r = Inspect({"bsdl", dir.File("tiny.bsd")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "port TCK dir=in pin=A1 in=-1 out=-1 ctrl=-1 safe=-1 disable=-1\n"
              "port LED dir=out pin=AB12 in=-1 out=3 ctrl=-1 safe=0 disable=-1\n"
              "port IO7 dir=inout pin=17 in=0 out=1 ctrl=2 safe=1 disable=0\n"
              "length 10\n"
              "safe 0202\n"     // cells 1 and 9
              "drive 0E00\n");  // cells 1, 2, 3

    qbxtest::WriteFile(dir.File("noports.bsd"), "entity X is\n  port (A : in bit);\nend X;\n");
    r = Inspect({"bsdl", dir.File("noports.bsd")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "length 0\nsafe 00\ndrive 00\nmissing port list\nmissing pin map\nmissing boundary length\n"
                     "missing boundary register\n");
}

TEST(Inspect, MatchesRefusalsAndUsage)
{
    qbxtest::TempDir dir;
    qbxtest::WriteFile(dir.File("crlf.txt"), "x\r\nmore");
    // (Not "nul.txt": on Windows that names the NUL device.)
    qbxtest::WriteFile(dir.File("with-nul.txt"), std::string("ab\0cd", 5));
    const std::string matchUsage = "usage: qbx-inspect match [--nocase] PATTERN (TEXT | --text-file FILE)";
    struct {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;  // a part of standard error
    } cases[] = {
        {{"match", "\\c[0-9]+\\c", "ab12c"}, 0, MatchReport(1, 1, {2, 4}, {}), ""},
        {{"match", "<\\c(/|[^>])[^>]+\\c>", "</AB>"}, 0, MatchReport(1, 1, {1, 4}, {0}), ""},
        {{"match", "[ \t]*(SENSOR|DRIVE)[ \t]*:", "  drive :"}, 0, MatchReport(1, 0, {}, {}), ""},
        {{"match", "--nocase", "[ \t]*(SENSOR|DRIVE)[ \t]*:", "  drive :"}, 0, MatchReport(1, 1, {}, {1}), ""},
        // A pattern that fails to compile is matched as far as it was compiled.
        {{"match", "x[abc", "xa"}, 0, MatchReport(0, 1, {}, {}), ""},
        // A text file is taken byte for byte, up to a NUL, which ends the matcher's text.
        {{"match", "x$\\c", "--text-file", dir.File("crlf.txt")}, 0, MatchReport(1, 1, {3}, {}), ""},
        {{"match", "b\\cc", "--text-file", dir.File("with-nul.txt")}, 0, MatchReport(1, 0, {2}, {}), ""},
        // Nothing compiled (also nothing before a first "|"): nothing to match.
        {{"match", "", "abc"}, 1, "compile 1\n", "nothing to match"},
        {{"match", "|abc", "abc"}, 1, "compile 1\n", "nothing to match"},
        {{"match", "a", "--text-file", dir.File("nope")}, 1, "", "cannot read text file " + dir.File("nope")},
        {{"match", "--nocase"}, 2, "", matchUsage},
        {{"match", "a"}, 2, "", matchUsage},
        {{"match", "a", "b", "c"}, 2, "", matchUsage},
        {{"match", "a", "--text-file"}, 2, "", matchUsage},
        {{"match", "a", "--text-file", "f", "extra"}, 2, "", matchUsage},
        {{"bsdl", dir.File("nope.bsd")}, 1, "", "cannot read BSDL file " + dir.File("nope.bsd") + ": no such file"},
        {{"bsdl", dir.Path()}, 1, "", "a folder, not a regular file"},
        {{"bsdl"}, 2, "", "usage: qbx-inspect bsdl FILE"},
        {{"bsdl", "a", "b"}, 2, "", "usage: qbx-inspect bsdl FILE"},
        {{}, 2, "", "usage:"},
        {{"frobnicate"}, 2, "", "unknown subcommand 'frobnicate'"},
    };
    for (const auto& c : cases) {
        qbxtest::ProcessResult r = Inspect(c.args);
        const std::string what = c.args.empty() ? "no arguments" : c.args.back();
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << what;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << what << "\n" << r.err;
        if (c.err.empty()) {
            EXPECT_EQ(r.err, "") << what;
        }
    }
}
