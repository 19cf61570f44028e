// Runs the built qbx-inspect and checks what it prints.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bsdl.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "qbx-inspect-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
    std::string Write(const std::string& name, const std::string& content) const
    {
        fs::path file = path / name;
        std::ofstream(file, std::ios::binary) << content;
        return file.string();
    }
};

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs qbx-inspect with the arguments as they are (no shell), capturing both streams.
Result RunTool(const std::vector<std::string>& args)
{
    TempDir dir;
    std::string outPath = (dir.path / "out").string();
    std::string errPath = (dir.path / "err").string();
    std::string tool = std::string(QBX_BIN_DIR) + "/qbx-inspect";
    std::vector<char*> argv;
    argv.push_back(tool.data());
    std::vector<std::string> copies(args);
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    Result r;
    int rc = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        r.err = "cannot start " + tool;
        return r;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadAll(outPath);
    r.err = ReadAll(errPath);
    return r;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::string MatchReport(int compiled, int found, const std::vector<int>& marks, const std::vector<int>& groups)
{
    std::string s = "compile " + std::to_string(compiled) + "\nfound " + std::to_string(found) + "\n";
    for (int n = 1; n <= 9; ++n)
        s += "mark " + std::to_string(n) + " " + std::to_string(n <= static_cast<int>(marks.size()) ? marks[n - 1] : -1) + "\n";
    for (int n = 1; n <= 9; ++n)
        s += "group " + std::to_string(n) + " " +
             std::to_string(n <= static_cast<int>(groups.size()) ? groups[n - 1] : -1) + "\n";
    return s;
}

const char* const kTinyBsdl =
    "entity TINY is\n"
    "  port(TCK : in bit; LED : out bit; IO7 : inout bit; GND : linkage bit);\n"
    "  constant P : PIN_MAP_STRING := \"TCK:A1, LED:AB12, IO7:17, GND:(A2, A3) \";\n"
    "  attribute BOUNDARY_LENGTH of TINY : entity is 10;\n"
    "  attribute BOUNDARY_REGISTER of TINY : entity is \"0 (BC_1, IO7, input, X), \" &\n"
    "    \"1 (BC_1, IO7, output3, 1, 2, 0, Z), 2 (BC_1, *, control, 0), \" &\n"
    "    \"3 (BC_1, LED, output2, 0), 9 (BC_1, *, internal, 1)\";\n"
    "end TINY;\n";

}  // namespace

// ---- bsdl -------------------------------------------------------------------------------------

TEST(InspectBsdl, TinyFile)
{
    TempDir dir;
    std::string path = dir.Write("tiny.bsd", kTinyBsdl);
    Result r = RunTool({"bsdl", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "port TCK dir=in pin=A1 in=-1 out=-1 ctrl=-1 safe=-1 disable=-1\n"
              "port LED dir=out pin=AB12 in=-1 out=3 ctrl=-1 safe=0 disable=-1\n"
              "port IO7 dir=inout pin=17 in=0 out=1 ctrl=2 safe=1 disable=0\n"
              "length 10\n"
              "safe 0202\n"   // cells 1 and 9
              "drive 0E00\n");  // cells 1, 2, 3
}

TEST(InspectBsdl, MissingSectionsAreListed)
{
    TempDir dir;
    std::string path = dir.Write("noports.bsd", "entity X is\n  port (A : in bit);\nend X;\n");
    Result r = RunTool({"bsdl", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "length 0\n"
              "safe 00\n"
              "drive 00\n"
              "missing port list\n"
              "missing pin map\n"
              "missing boundary length\n"
              "missing boundary register\n");
}

TEST(InspectBsdl, ExampleFile)
{
    std::string path = std::string(QBX_SOURCE_DIR) + "/examples/a3pe3000.bsd";
    Result r = RunTool({"bsdl", path});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 813u + 3u);  // no missing section

    _BSDLDATA data;
    ASSERT_EQ(ReadBsdl(path.c_str(), data), 1);
    for (size_t i = 0; i < data.pins.size(); ++i) {
        const _PINDESC& p = data.pins[i];
        EXPECT_EQ(lines[i].rfind("port " + p.name + " dir=", 0), 0u) << lines[i];
        EXPECT_NE(lines[i].find(" pin=" + PinLabel(p) + " in=" + std::to_string(p.inCell) + " out=" +
                                std::to_string(p.outCell) + " ctrl=" + std::to_string(p.ctrlCell) + " "),
                  std::string::npos)
            << lines[i];
    }
    std::string lock;
    for (const std::string& line : lines) {
        if (line.rfind("port LOCKPLL ", 0) == 0)
            lock = line;
    }
    EXPECT_NE(lock.find(" dir=out "), std::string::npos) << lock;
    EXPECT_NE(lock.find(" disable=0"), std::string::npos) << lock;
    EXPECT_EQ(lines[813], "length 2424");
    EXPECT_EQ(lines[814], "safe " + std::string(606, '0'));
    ASSERT_EQ(lines[815].size(), 6u + 606u);
    EXPECT_EQ(lines[815].substr(0, 12), "drive B66DDB");  // cells in, out, ctrl per I/O
}

TEST(InspectBsdl, UnreadableFileAndUsage)
{
    TempDir dir;
    Result absent = RunTool({"bsdl", (dir.path / "nope.bsd").string()});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(absent.out, "");
    EXPECT_NE(absent.err.find("cannot read BSDL file"), std::string::npos) << absent.err;
    EXPECT_NE(absent.err.find("nope.bsd"), std::string::npos) << absent.err;

    Result folder = RunTool({"bsdl", dir.path.string()});
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("folder"), std::string::npos) << folder.err;

    Result none = RunTool({"bsdl"});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("usage: qbx-inspect bsdl FILE"), std::string::npos) << none.err;
    EXPECT_EQ(RunTool({"bsdl", "a", "b"}).status, 2);
    EXPECT_EQ(RunTool({}).status, 2);
    Result unknown = RunTool({"frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown subcommand"), std::string::npos);
}

// ---- match ------------------------------------------------------------------------------------

TEST(InspectMatch, Captures)
{
    Result r = RunTool({"match", "\\c[0-9]+\\c", "ab12c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, MatchReport(1, 1, {2, 4}, {}));

    Result tag = RunTool({"match", "<\\c(/|[^>])[^>]+\\c>", "</AB>"});
    EXPECT_EQ(tag.out, MatchReport(1, 1, {1, 4}, {0}));

    Result numbering = RunTool({"match", "a\\c(b\\c|x)\\cd", "abd"});
    EXPECT_EQ(numbering.out, MatchReport(1, 1, {1, 2, 2}, {0}));
}

TEST(InspectMatch, NotFoundAndNoCase)
{
    Result r = RunTool({"match", "(a|ab)c", "abc"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out).at(1), "found 0");

    Result exact = RunTool({"match", "[ \t]*(SENSOR|DRIVE)[ \t]*:", "  drive :"});
    EXPECT_EQ(Lines(exact.out).at(1), "found 0");
    Result nocase = RunTool({"match", "--nocase", "[ \\t]*(SENSOR|DRIVE)[ \\t]*:", "  drive :"});
    EXPECT_EQ(nocase.out, MatchReport(1, 1, {}, {1}));
}

TEST(InspectMatch, CompileFailureIsReportedAndTheRestMatched)
{
    Result r = RunTool({"match", "x[abc", "xa"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, MatchReport(0, 1, {}, {}));
}

TEST(InspectMatch, TextFileIsTakenByteForByte)
{
    TempDir dir;
    std::string crlf = dir.Write("crlf.txt", "x\r\nmore");
    Result r = RunTool({"match", "x$\\c", "--text-file", crlf});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, MatchReport(1, 1, {3}, {}));

    // A NUL byte ends the text, as it ends the matcher's text.
    std::string nul = dir.Write("nul.txt", std::string("ab\0cd", 5));
    Result n = RunTool({"match", "c", "--text-file", nul});
    EXPECT_EQ(Lines(n.out).at(1), "found 0");
    Result before = RunTool({"match", "b\\c", "--text-file", nul});
    EXPECT_EQ(before.out, MatchReport(1, 1, {2}, {}));

    Result missing = RunTool({"match", "a", "--text-file", (dir.path / "nope").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot read text file"), std::string::npos) << missing.err;
}

TEST(InspectMatch, EmptyPatternIsReportedNotCrashed)
{
    for (const char* pattern : {"", "|abc", ")x"}) {
        Result r = RunTool({"match", pattern, "abc"});
        EXPECT_EQ(r.status, 1) << pattern;
        EXPECT_EQ(r.out, "compile 1\n") << pattern;
        EXPECT_NE(r.err.find("nothing to match"), std::string::npos) << r.err;
    }
}

TEST(InspectMatch, UsageErrors)
{
    const std::vector<std::vector<std::string>> bad = {
        {"match"},
        {"match", "--nocase"},
        {"match", "a"},
        {"match", "a", "b", "c"},
        {"match", "a", "--text-file"},
        {"match", "a", "--text-file", "f", "extra"},
    };
    for (const auto& args : bad) {
        Result r = RunTool(args);
        EXPECT_EQ(r.status, 2) << args.size();
        EXPECT_NE(r.err.find("usage: qbx-inspect match [--nocase] PATTERN (TEXT | --text-file FILE)"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
    }
}
