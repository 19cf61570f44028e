// qbx-vectors: the net codes, the example board's vector file read back through the station's
// reader, and the refusals.
#include "net_vectors.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <set>
#include <string>
#include <vector>

#include "bsdl.h"
#include "files.h"
#include "pattern.h"
#include "test_files.h"
#include "vectors.h"

namespace {

const std::string kSource = QBX_SOURCE_DIR;
const std::string kBsdl = kSource + "/examples/a3pe3000.bsd";
const std::string kHealthy = kSource + "/examples/boards/healthy.json";
const std::string kExampleVectors = kSource + "/examples/interconnect.vec";

// A board file around the given nets (a JSON array text), on the example BSDL unless told.
std::string BoardFile(const std::string& nets, int fpgas = 8, const std::string& bsdl = kBsdl)
{
    std::string ids;
    for (int i = 0; i < fpgas; ++i)
        ids += std::string(i ? ", " : "") + "\"0x3E74E1CF\"";
    std::string path;  // as a JSON string: a Windows path's backslashes escaped
    for (char c : bsdl)
        path += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return "{\"bsdl\": \"" + path + "\", \"boards\": [{\"name\": \"t\", \"idcodes\": [" + ids + "], \"nets\": " + nets +
           "}]}";
}

// RunQbxVectors in this process, with both streams captured.
qbxtest::ProcessResult Vectors(const std::vector<std::string>& args)
{
    return qbxtest::CaptureStreams([&](FILE* out, FILE* err) { return RunQbxVectors(args, out, err); });
}

// The example board's nets, checked, and the vector file the tool makes of them.
struct ExampleBoard {
    _NETLIST netlist;
    std::string text;
    ExampleBoard()
    {
        std::vector<std::string> errors;
        _BSDLDATA bsdl;
        EXPECT_TRUE(ReadNetlist(kHealthy, 0, netlist, errors) && ReadBsdl(kBsdl.c_str(), bsdl) &&
                    CheckNetlist(netlist, bsdl, errors))
            << (errors.empty() ? "" : errors[0]);
        text = FormatVectorFile(netlist);
    }
};

class CRecordingVectors final : public CBsrVectors {
public:
    int AddPinVector(const std::string& group, int section, int device, const std::string& pin,
                     const std::string& bits) override
    {
        m_Lines.push_back(group + " " + std::to_string(section) + " " + std::to_string(device) + "-" + pin + " " + bits);
        return 1;
    }
    std::vector<std::string> m_Lines;
};

}  // namespace

TEST(NetCodes, DistinctNeverConstantAndFollowedByTheirComplements)
{
    for (size_t n : {1, 2, 3, 5, 6, 7, 14, 15, 30, 48, 62, 63, 64, 126, 300, 65534, 65535}) {
        const int bits = CodeBits(n);
        EXPECT_GE(uint64_t{1} << bits, n + 2) << n;
        EXPECT_LT(uint64_t{1} << (bits - 1), n + 2) << n;
        if (n > 300)
            continue;
        std::set<std::string> codes;
        for (size_t i = 0; i < n; ++i) {
            const std::string all = NetBits(i, bits);
            ASSERT_EQ(all.size(), 2u * static_cast<size_t>(bits));
            const std::string code = all.substr(0, static_cast<size_t>(bits));
            EXPECT_EQ(std::stoull(code, nullptr, 2), i + 1) << "net i carries the code i+1";
            EXPECT_TRUE(codes.insert(code).second);
            for (size_t k = 0; k < code.size(); ++k)
                EXPECT_NE(code[k], all[bits + k]) << "net " << i << " bit " << k;
        }
    }
    EXPECT_EQ(NetBits(0, CodeBits(1)), "0110");
    EXPECT_EQ(NetBits(47, CodeBits(48)), "110000001111");  // the example board: 12 vectors
    EXPECT_EQ(CodeBits(62), 6);
    EXPECT_EQ(CodeBits(63), 7);
}

// The example file read back through the station's reader: drivers in DRIVE, receivers in SENSOR.
TEST(ExampleVectors, ReadBackLineForLine)
{
    ExampleBoard board;
    qbxtest::TempDir dir;
    qbxtest::WriteFile(dir.File("v.vec"), board.text);
    CRecordingVectors reader;
    ASSERT_NE(reader.Load(dir.File("v.vec").c_str()), 0);

    const std::vector<std::vector<_NETPIN>>& nets = board.netlist.nets;
    const int bits = CodeBits(nets.size());
    std::vector<std::string> expected;
    for (int section : {SECTION_DRIVE, SECTION_SENSOR})
        for (size_t i = 0; i < nets.size(); ++i)
            for (size_t e = section == SECTION_DRIVE ? 0 : 1; e < (section == SECTION_DRIVE ? 1 : nets[i].size()); ++e)
                expected.push_back("INTERCONNECT " + std::to_string(section) + " " + std::to_string(nets[i][e].fpga) + "-" +
                                   nets[i][e].pin + " " + NetBits(i, bits));
    ASSERT_EQ(reader.m_Lines, expected);
}

TEST(ExampleVectors, FileIsUpToDateAndTheBuiltToolWritesIt)
{
    ExampleBoard board;
    EXPECT_EQ(qbxtest::ReadFile(kExampleVectors), board.text)
        << "examples/interconnect.vec is stale: rerun qbx-vectors examples/boards/healthy.json -o "
           "examples/interconnect.vec";

    // The BSDL file is found beside the board file, whatever the working folder.
    qbxtest::TempDir dir;
    qbxtest::ProcessOptions options;
    options.args = {kHealthy, "-o", dir.File("x.vec")};
    qbxtest::ProcessResult toFile = qbxtest::RunProcess(qbxtest::BuiltProgram("qbx-vectors"), options);
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(qbxtest::ReadFile(dir.File("x.vec")), board.text);
    options.args = {kHealthy, "--board", "1"};  // one past the last
    qbxtest::ProcessResult refused = qbxtest::RunProcess(qbxtest::BuiltProgram("qbx-vectors"), options);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find(kHealthy + ": there is no board 1 (the file has 1 board)"), std::string::npos) << refused.err;
}

TEST(ExampleVectors, HeaderCannotOpenAGroupAndFaultsAndBoardNumberChangeNoPinLine)
{
    // A board whose name and file names try to smuggle a tag and a line break into the header.
    ExampleBoard board;
    board.netlist.boardName = "<EVIL>\r\n<X>";
    board.netlist.boardFile = "/tmp/<B>oard.json";
    board.netlist.bsdl = "<../a.bsd>";
    const std::vector<std::string> lines = qbxtest::CrLfLines(FormatVectorFile(board.netlist));
    CMatch tag;
    ASSERT_NE(tag.Compile("<\\c(/|[^>])[^>]+\\c>", 0), 0);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(lines.at(i).rfind("#", 0), 0u) << lines[i];
        EXPECT_EQ(tag.Match(lines[i].c_str()), 0) << lines[i];
        EXPECT_EQ(lines[i].find_first_of("\r\n"), std::string::npos) << lines[i];
    }
    EXPECT_EQ(lines.at(6), "<INTERCONNECT>");
    EXPECT_EQ(lines.back(), "</INTERCONNECT>");

    // Faults of a board file are not part of the design; the boards of a sequence share it.
    qbxtest::TempDir dir;
    const std::string clean = BoardFile(R"([["0:$LNK0", "1:$LNK1"], ["2:AA1", "3:$LNK2", "4:B3"]])");
    std::string faulty = clean;
    faulty.insert(faulty.find("\"nets\""),
                  R"("faults": [{"open": "1:$LNK1"}, {"short": ["0:$LNK0", "3:$LNK2"]}, {"stuck": "2:AA1", "value": 0}], )");
    qbxtest::WriteFile(dir.File("a.json"), clean);
    const std::string cleanOut = Vectors({dir.File("a.json")}).out;
    qbxtest::WriteFile(dir.File("a.json"), faulty);
    EXPECT_EQ(Vectors({dir.File("a.json")}).out, cleanOut);
    EXPECT_NE(cleanOut.find("<INTERCONNECT>"), std::string::npos);

    const std::string sequence = kSource + "/examples/boards/sequence.json";
    qbxtest::ProcessResult first = Vectors({sequence});
    qbxtest::ProcessResult second = Vectors({sequence, "--board", "1"});
    EXPECT_NE(first.out.find("board 0"), std::string::npos);
    EXPECT_NE(second.out.find("board 1"), std::string::npos);
    EXPECT_EQ(first.out.substr(first.out.find('<')), second.out.substr(second.out.find('<')));
}

TEST(Refusals, NetsThatCannotBeTestedAreNamedAndNoFileIsWritten)
{
    // The example BSDL with four ports changed: DATA0 without output cell, DATA1 without input
    // cell, DATA2 with a two-state output (no control cell), DATA3's output beyond the register.
    std::string changed = qbxtest::ReadFile(kBsdl);
    for (auto [from, to] : {std::pair{"2254 (BC_1, DATA0, output3, X, 2255, 0, Z)", "2254 (BC_1, *, internal, X)"},
                            {"2163 (BC_1, DATA1, input, X)", "2163 (BC_1, *, internal, X)"},
                            {"2074 (BC_1, DATA2, output3, X, 2075, 0, Z)", "2074 (BC_1, DATA2, output2, X)"},
                            {"1984 (BC_1, DATA3, output3, X, 1985, 0, Z)", "3984 (BC_1, DATA3, output3, X, 1985, 0, Z)"}}) {
        ASSERT_NE(changed.find(from), std::string::npos) << from;
        changed.replace(changed.find(from), std::string(from).size(), to);
    }
    qbxtest::TempDir dir;
    qbxtest::WriteFile(dir.File("changed.bsd"), changed);
    qbxtest::WriteFile(dir.File("empty.bsd"), "-- not a BSDL file\r\n");
    const std::string in = dir.File("b.json") + ": boards[0]";
    struct {
        std::string file;
        std::vector<std::string> messages;  // "!" first: a text the messages must not hold
    } cases[] = {
        {BoardFile(R"([["0:$LNK0"], [], ["1:$LNK0", "2:$LNK0"]])"),
         {in + ".nets[0] has 1 endpoint; a net needs a driver and at least one receiver",
          in + ".nets[1] has 0 endpoints; a net needs a driver and at least one receiver"}},
        {BoardFile("[]"), {in + " has no nets: there is nothing to test"}},
        // DATA0 is ball A2; LNK5 on FPGA 1 and on FPGA 2 are different pins.
        {BoardFile(R"([["0:A2", "1:$LNK5"], ["2:$LNK5", "0:$DATA0"], ["3:$LNK7", "4:$LNK7", "4:$LNK7"]])"),
         {in + ".nets[1], receiver \"0:$DATA0\": port DATA0 of FPGA 0 is already on nets[0] as \"0:A2\"",
          in + ".nets[2], receiver \"4:$LNK7\": port LNK7 of FPGA 4 is already on this net as \"4:$LNK7\"",
          "!\"1:$LNK5\""}},
        // LOCKPLL is ball G22.
        {BoardFile(R"([["0:$LOCKPLL", "1:$LNK0"], ["2:$LNK1", "3:G22"]])"),
         {in + ".nets[0], driver \"0:$LOCKPLL\": this is port LOCKPLL, which the station drives",
          in + ".nets[1], receiver \"3:G22\": this is port LOCKPLL"}},
        {BoardFile(R"([["0:$LNK0", "8:$LNK0"]])"),
         {in + ".nets[0], receiver \"8:$LNK0\": FPGA 8 is not in the chain (8 FPGAs, 0 to 7)"}},
        {BoardFile(R"([["7:$LNK0", "1:$LNK0"]])", 7),
         {in + ".nets[0], driver \"7:$LNK0\": FPGA 7 is not in the chain (7 FPGAs, 0 to 6)"}},
        {BoardFile(R"([["0:ZZ99", "1:$NOPE", "2:$"], ["0:A 2", "1:$LNK0"]])"),
         {in + ".nets[0], driver \"0:ZZ99\": no pin \"ZZ99\" in " + kBsdl,
          in + ".nets[0], receiver \"1:$NOPE\": no pin \"$NOPE\" in " + kBsdl,
          in + ".nets[0], receiver \"2:$\": no pin \"$\" in " + kBsdl,
          in + ".nets[1], driver \"0:A 2\": a pin name cannot hold blanks or control characters"}},
        {BoardFile(R"([["0:A2", "1:A2"], ["A12", "x:A12", 5, "1234:A2", "0:"]])"),
         {in + ".nets[1], endpoint 0: must be \"<fpga>:<pin>\" such as \"0:A12\" or \"1:$DATA7\"",
          in + ".nets[1], endpoint 1: must be", in + ".nets[1], endpoint 2: must be",
          in + ".nets[1], endpoint 3: must be", in + ".nets[1], endpoint 4: must be"}},
        {BoardFile(R"([["0:$DATA0", "1:$LNK0"], ["0:$LNK1", "1:$DATA1"], ["0:A4", "1:$LNK2"],
                       ["0:$DATA3", "1:$LNK3"], ["1:$DATA0", "2:$DATA0"]])",
                   8, dir.File("changed.bsd")),
         {in + ".nets[0], driver \"0:$DATA0\": port DATA0 has no output cell to drive the net",
          in + ".nets[1], receiver \"1:$DATA1\": port DATA1 has no input cell to sense the net",
          in + ".nets[2], driver \"0:A4\": port DATA2 has no control cell for its output",
          in + ".nets[3], driver \"0:$DATA3\": port DATA3 has no output cell to drive the net",
          in + ".nets[4], driver \"1:$DATA0\": port DATA0 has no output cell", "!\"2:$DATA0\""}},
        {BoardFile(R"([["0:A2", "1:A2"]])", 8, "no/such.bsd"),
         {dir.File("b.json") + ": cannot read the BSDL file no/such.bsd (" + dir.File("no/such.bsd") + ")"}},
        {BoardFile(R"([["0:A2", "1:A2"]])", 8, dir.File("empty.bsd")),
         {dir.File("b.json") + ": the BSDL file " + dir.File("empty.bsd") +
          " has no port list, pin map, boundary length, boundary register"}},
        // Files that are no board file.
        {"{\"bsdl\": ", {dir.File("b.json") + ": not valid JSON ("}},
        {"[1, 2]", {dir.File("b.json") + ": not a board file"}},
        {R"({"boards": []})", {dir.File("b.json") + ": \"bsdl\" must name the BSDL file of the FPGAs"}},
        {R"({"bsdl": "x.bsd"})", {dir.File("b.json") + ": \"boards\" must be an array of boards"}},
        {R"({"bsdl": "x.bsd", "boards": [{"nets": []}]})", {in + ".idcodes must be an array"}},
        {R"({"bsdl": "x.bsd", "boards": [{"idcodes": [1,2,3,4,5,6,7,8,9]}]})",
         {in + ".idcodes has 9 entries; the chain holds at most 8 FPGAs"}},
        {R"({"bsdl": "x.bsd", "boards": [{"idcodes": [], "nets": [["0:A2", "1:A2"], "0:A2"]}]})",
         {in + ".nets[1] must be an array of endpoints"}},
    };
    for (const auto& c : cases) {
        qbxtest::WriteFile(dir.File("b.json"), c.file);
        qbxtest::ProcessResult r = Vectors({dir.File("b.json"), "-o", dir.File("out.vec")});
        EXPECT_EQ(r.status, 1) << c.file;
        EXPECT_FALSE(qbxtest::FileExists(dir.File("out.vec"))) << "a refused board must not leave a vector file";
        for (const std::string& m : c.messages) {
            if (m[0] == '!')
                EXPECT_EQ(r.err.find(m.substr(1)), std::string::npos) << m << " is not wrong";
            else
                EXPECT_NE(r.err.find("qbx-vectors: " + m), std::string::npos) << "missing: " << m << "\nin:\n" << r.err;
        }
        EXPECT_NE(r.err.find("qbx-vectors: no vector file written\n"), std::string::npos);
    }
    qbxtest::ProcessResult r = Vectors({dir.File("nothing.json")});
    EXPECT_NE(r.err.find("cannot read " + dir.File("nothing.json") + ": "), std::string::npos) << r.err;
}

TEST(Refusals, UsageErrorsAndAnUnwritableOutput)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {kHealthy, "--board"}, {kHealthy, "--board", "first"}, {kHealthy, "--board", "-1"}, {kHealthy, "-o"},
             {kHealthy, "--verbose"}, {kHealthy, kHealthy}}) {
        qbxtest::ProcessResult r = Vectors(args);
        EXPECT_EQ(r.status, 2) << args.size();
        EXPECT_NE(r.err.find("usage: qbx-vectors BOARD.json [--board N] [-o FILE]"), std::string::npos) << r.err;
    }
    EXPECT_NE(Vectors({kHealthy, kHealthy}).err.find("one board file only"), std::string::npos);
    qbxtest::ProcessResult help = Vectors({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: qbx-vectors BOARD.json [--board N] [-o FILE]"), std::string::npos);
    qbxtest::ProcessResult unwritable = Vectors({kHealthy, "-o", "/nonexistent-folder/x.vec"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("qbx-vectors: cannot write /nonexistent-folder/x.vec"), std::string::npos)
        << unwritable.err;
    // A device is written into, never replaced by a regular file (which root could do); a folder
    // is refused.
    EXPECT_EQ(Vectors({kHealthy, "-o", qbxtest::kNullDevice}).status, 0);
    EXPECT_EQ(platform::Describe(qbxtest::kNullDevice), "a device");
    qbxtest::TempDir dir;
    qbxtest::ProcessResult folder = Vectors({kHealthy, "-o", dir.Path()});
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find(dir.Path() + ": a folder, not written"), std::string::npos) << folder.err;
}
