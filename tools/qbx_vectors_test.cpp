// qbx-vectors: the net codes, their fault coverage on the example board, the refusals, and the
// output read back through the station's vector reader.
#include "net_vectors.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bsdl.h"
#include "pattern.h"
#include "vectors.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const std::string kSource = QBX_SOURCE_DIR;
const std::string kBsdl = kSource + "/examples/a3pe3000.bsd";
const std::string kHealthy = kSource + "/examples/boards/healthy.json";
const std::string kExampleVectors = kSource + "/examples/interconnect.vec";

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "qbx-vectors-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Write(const std::string& name, const std::string& content) const
    {
        fs::path file = path / name;
        std::ofstream(file, std::ios::binary) << content;
        return file.string();
    }
    std::string Path(const std::string& name) const { return (path / name).string(); }
};

// A board file around the given nets (a JSON array text), on the example BSDL unless told.
std::string BoardFile(const std::string& nets, int fpgas = 8, const std::string& bsdl = kBsdl)
{
    std::string ids;
    for (int i = 0; i < fpgas; ++i)
        ids += std::string(i ? ", " : "") + "\"0x3E74E1CF\"";
    return "{\"bsdl\": \"" + bsdl + "\", \"boards\": [{\"name\": \"t\", \"idcodes\": [" + ids + "], \"nets\": " + nets +
           "}]}";
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// RunQbxVectors in this process, with both streams captured.
RunResult RunInProcess(const std::vector<std::string>& args)
{
    RunResult r;
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (!out || !err) {
        ADD_FAILURE() << "no temporary files";
        return r;
    }
    r.status = RunQbxVectors(args, out, err);
    auto take = [](FILE* f) {
        std::string text;
        std::rewind(f);
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
        return text;
    };
    r.out = take(out);
    r.err = take(err);
    return r;
}

// The built qbx-vectors, run as a process (no shell).
RunResult RunTool(const std::vector<std::string>& args)
{
    TempDir dir;
    const std::string outPath = dir.Path("out");
    const std::string errPath = dir.Path("err");
    std::string tool = std::string(QBX_BIN_DIR) + "/qbx-vectors";
    std::vector<std::string> copies(args);
    std::vector<char*> argv{tool.data()};
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    RunResult r;
    int rc = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << tool;
        return r;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadAll(outPath);
    r.err = ReadAll(errPath);
    return r;
}

// ---- the codes ---------------------------------------------------------------------------------

TEST(NetCodes, CodeBitsIsTheLeastLWithRoomForNPlusTwoCodes)
{
    for (size_t n : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{6}, size_t{7}, size_t{14}, size_t{15},
                     size_t{30}, size_t{48}, size_t{62}, size_t{63}, size_t{64}, size_t{126}, size_t{1000},
                     size_t{65534}, size_t{65535}}) {
        int bits = CodeBits(n);
        EXPECT_GE(uint64_t{1} << bits, n + 2) << n;
        EXPECT_LT(uint64_t{1} << (bits - 1), n + 2) << n;
    }
    EXPECT_EQ(CodeBits(1), 2);    // codes 01: 2 bits, 4 vectors
    EXPECT_EQ(CodeBits(2), 2);
    EXPECT_EQ(CodeBits(3), 3);
    EXPECT_EQ(CodeBits(48), 6);   // the example board: 12 vectors
    EXPECT_EQ(CodeBits(62), 6);
    EXPECT_EQ(CodeBits(63), 7);
}

TEST(NetCodes, EveryCodeIsDistinctNeverConstantAndFollowedByItsComplement)
{
    for (size_t n : {size_t{1}, size_t{2}, size_t{3}, size_t{6}, size_t{7}, size_t{48}, size_t{62}, size_t{63},
                     size_t{300}}) {
        const int bits = CodeBits(n);
        std::set<std::string> codes;
        for (size_t i = 0; i < n; ++i) {
            const std::string all = NetBits(i, bits);
            ASSERT_EQ(all.size(), 2u * static_cast<size_t>(bits)) << "net " << i << " of " << n;
            EXPECT_EQ(all.find_first_not_of("01"), std::string::npos);
            const std::string code = all.substr(0, static_cast<size_t>(bits));
            const std::string complement = all.substr(static_cast<size_t>(bits));
            EXPECT_NE(code, std::string(code.size(), '0')) << "net " << i << " of " << n;
            EXPECT_NE(code, std::string(code.size(), '1')) << "net " << i << " of " << n;
            for (size_t k = 0; k < code.size(); ++k)
                EXPECT_NE(code[k], complement[k]) << "net " << i << " bit " << k;
            EXPECT_TRUE(codes.insert(code).second) << "net " << i << " of " << n << " repeats code " << code;
            EXPECT_EQ(std::stoull(code, nullptr, 2), i + 1) << "net i carries the code i+1";
        }
    }
    EXPECT_EQ(NetBits(0, 2), "0110");
    EXPECT_EQ(NetBits(47, 6), "110000001111");
}

// ---- the vector file read back through the station's reader ------------------------------------

struct PinCall {
    std::string group;
    int section = -1;
    int device = -1;
    std::string pin;
    std::string bits;
};

class CRecordingVectors final : public CBsrVectors {
public:
    int AddPinVector(const std::string& group, int section, int device, const std::string& pin,
                     const std::string& bits) override
    {
        m_Calls.push_back({group, section, device, pin, bits});
        return 1;
    }
    std::vector<PinCall> m_Calls;
};

// The example board's nets, checked, and the vector file the tool makes of them.
struct ExampleBoard {
    _NETLIST netlist;
    std::string text;
};

bool LoadExample(ExampleBoard& board)
{
    std::vector<std::string> errors;
    _BSDLDATA bsdl;
    if (!ReadNetlist(kHealthy, 0, board.netlist, errors) || !ReadBsdl(kBsdl.c_str(), bsdl) ||
        !CheckNetlist(board.netlist, bsdl, errors)) {
        for (const std::string& e : errors)
            ADD_FAILURE() << e;
        return false;
    }
    board.text = FormatVectorFile(board.netlist);
    return true;
}

TEST(VectorFile, ReadsBackThroughTheStationReaderLineForLine)
{
    ExampleBoard board;
    ASSERT_TRUE(LoadExample(board));
    TempDir dir;
    const std::string path = dir.Write("interconnect.vec", board.text);
    CRecordingVectors reader;
    ASSERT_NE(reader.Load(path.c_str()), 0);

    const size_t n = board.netlist.nets.size();
    const int bits = CodeBits(n);
    std::vector<PinCall> expected;
    for (size_t i = 0; i < n; ++i)
        expected.push_back({"INTERCONNECT", SECTION_DRIVE, board.netlist.nets[i][0].fpga,
                            board.netlist.nets[i][0].pin, NetBits(i, bits)});
    for (size_t i = 0; i < n; ++i)
        for (size_t e = 1; e < board.netlist.nets[i].size(); ++e)
            expected.push_back({"INTERCONNECT", SECTION_SENSOR, board.netlist.nets[i][e].fpga,
                                board.netlist.nets[i][e].pin, NetBits(i, bits)});
    ASSERT_EQ(reader.m_Calls.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k) {
        SCOPED_TRACE("pin line " + std::to_string(k));
        EXPECT_EQ(reader.m_Calls[k].group, expected[k].group);
        EXPECT_EQ(reader.m_Calls[k].section, expected[k].section);
        EXPECT_EQ(reader.m_Calls[k].device, expected[k].device);
        EXPECT_EQ(reader.m_Calls[k].pin, expected[k].pin);
        EXPECT_EQ(reader.m_Calls[k].bits, expected[k].bits);
        EXPECT_EQ(reader.m_Calls[k].bits.size(), 2u * static_cast<size_t>(bits));
    }
    EXPECT_EQ(reader.m_PinNames.size(), expected.size());
    EXPECT_EQ(reader.m_VectorsDigest.size(), 32u);
}

TEST(VectorFile, HeaderLinesNeverLookLikeATagAndLinesEndInCrLf)
{
    ExampleBoard board;
    ASSERT_TRUE(LoadExample(board));
    // A board whose name and file name try to smuggle a tag and a line break into the header.
    board.netlist.boardName = "<EVIL>\r\n<X>";
    board.netlist.boardFile = "/tmp/<B>oard.json";
    board.netlist.bsdl = "<../a.bsd>";
    const std::string text = FormatVectorFile(board.netlist);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1) << "a bare LF";

    CMatch tag;
    ASSERT_NE(tag.Compile("<\\c(/|[^>])[^>]+\\c>", 0), 0);
    const std::vector<std::string> lines = SplitLines(text);
    size_t header = 0;
    while (header < lines.size() && lines[header].rfind("#", 0) == 0) {
        EXPECT_EQ(tag.Match(lines[header].c_str()), 0) << lines[header];
        EXPECT_EQ(lines[header].find('\r'), std::string::npos);
        ++header;
    }
    EXPECT_EQ(header, 6u);
    ASSERT_LT(header, lines.size());
    EXPECT_NE(tag.Match(lines[header].c_str()), 0) << "the group opens right after the header";
    EXPECT_EQ(lines[header], "<INTERCONNECT>");
    EXPECT_EQ(lines.back(), "</INTERCONNECT>");
}

TEST(VectorFile, ExampleFileIsUpToDate)
{
    ExampleBoard board;
    ASSERT_TRUE(LoadExample(board));
    EXPECT_EQ(ReadAll(kExampleVectors), board.text)
        << "examples/interconnect.vec is stale: rerun qbx-vectors examples/boards/healthy.json -o "
           "examples/interconnect.vec";

    // The built tool writes the same bytes, to a file and to standard output.
    TempDir dir;
    RunResult toFile = RunTool({kHealthy, "-o", dir.Path("x.vec")});
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(ReadAll(dir.Path("x.vec")), board.text);
    RunResult toOut = RunTool({kHealthy});
    EXPECT_EQ(toOut.status, 0) << toOut.err;
    EXPECT_EQ(toOut.out, board.text);
}

TEST(VectorFile, SameBoardGivesTheSameBytesFromAnyFolder)
{
    TempDir dir;
    fs::create_directories(dir.path / "boards");
    fs::copy_file(kBsdl, dir.path / "a3pe3000.bsd");
    fs::copy_file(kHealthy, dir.path / "boards" / "healthy.json");
    RunResult here = RunInProcess({dir.Path("boards/healthy.json")});
    ASSERT_EQ(here.status, 0) << here.err;
    EXPECT_EQ(here.out, ReadAll(kExampleVectors));
    EXPECT_EQ(RunInProcess({dir.Path("boards/healthy.json")}).out, here.out);
}

TEST(VectorFile, BoardOptionSelectsABoardOfASequence)
{
    const std::string sequence = kSource + "/examples/boards/sequence.json";
    RunResult first = RunInProcess({sequence});
    RunResult second = RunInProcess({sequence, "--board", "1"});
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_NE(first.out.find("board 0"), std::string::npos);
    EXPECT_NE(second.out.find("board 1"), std::string::npos);
    // Both boards are the same design: the same pin lines.
    auto body = [](const std::string& text) { return text.substr(text.find("<INTERCONNECT>")); };
    EXPECT_EQ(body(first.out), body(second.out));
}

TEST(VectorFile, FaultsOfTheBoardFileAreNotPartOfTheDesign)
{
    TempDir dir;
    const std::string nets = R"([["0:$LNK0", "1:$LNK1"], ["2:AA1", "3:$LNK2", "4:B3"]])";
    std::string clean = BoardFile(nets);
    std::string faulty = clean;
    faulty.replace(faulty.find("\"nets\""), 0,
                   R"("faults": [{"open": "1:$LNK1"}, {"short": ["0:$LNK0", "3:$LNK2"]}, {"stuck": "2:AA1", "value": 0}], )");
    RunResult a = RunInProcess({dir.Write("a.json", clean)});
    RunResult b = RunInProcess({dir.Write("a.json", faulty)});  // same file name: same header
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(a.out, b.out);
}

// ---- fault coverage on the example board -------------------------------------------------------

// One net as the vectors see it: what its driver drives and what each receiver expects, per vector.
struct ModelNet {
    std::string drive;
    std::vector<std::string> expect;
};

enum class FaultKind { None, OpenDriver, OpenReceiver, Stuck, Short };

struct Fault {
    FaultKind kind = FaultKind::None;
    size_t net = 0;
    size_t other = 0;  // the receiver (OpenReceiver) or the second net (Short)
    int value = 0;     // Stuck
};

// The board as the simulator models it: an undriven net (or an open receiver) reads the pull
// level, disagreeing drivers on one net read 0 (wired-AND), a stuck net reads its value.
int Reads(const std::vector<ModelNet>& nets, int pull, const Fault& f, size_t net, size_t receiver, size_t vector)
{
    if (f.kind == FaultKind::OpenReceiver && f.net == net && f.other == receiver)
        return pull;
    const bool shorted = f.kind == FaultKind::Short && (net == f.net || net == f.other);
    if (f.kind == FaultKind::Stuck && f.net == net)
        return f.value;
    std::vector<size_t> joined = shorted ? std::vector<size_t>{f.net, f.other} : std::vector<size_t>{net};
    bool driven = false;
    int level = 1;
    for (size_t m : joined) {
        if (f.kind == FaultKind::OpenDriver && f.net == m)
            continue;
        driven = true;
        level &= nets[m].drive[vector] - '0';
    }
    return driven ? level : pull;
}

// True when some receiver reads, in some vector, other than it expects.
bool Fails(const std::vector<ModelNet>& nets, int pull, const Fault& f)
{
    for (size_t n = 0; n < nets.size(); ++n)
        for (size_t r = 0; r < nets[n].expect.size(); ++r)
            for (size_t v = 0; v < nets[n].expect[r].size(); ++v)
                if (Reads(nets, pull, f, n, r, v) != nets[n].expect[r][v] - '0')
                    return true;
    return false;
}

// Every single fault of the model, for both pull levels; returns a description of the first one
// that no vector catches, or "" when all are caught.
std::string FirstUndetected(const std::vector<ModelNet>& nets, size_t* counted = nullptr)
{
    size_t count = 0;
    for (int pull : {0, 1}) {
        auto check = [&](const Fault& f, const std::string& what) {
            ++count;
            return Fails(nets, pull, f) ? std::string() : what + " with pull " + std::to_string(pull);
        };
        for (size_t n = 0; n < nets.size(); ++n) {
            std::string miss = check({FaultKind::OpenDriver, n, 0, 0}, "open driver of net " + std::to_string(n));
            for (size_t r = 0; miss.empty() && r < nets[n].expect.size(); ++r)
                miss = check({FaultKind::OpenReceiver, n, r, 0},
                             "open receiver " + std::to_string(r) + " of net " + std::to_string(n));
            for (int s : {0, 1})
                if (miss.empty())
                    miss = check({FaultKind::Stuck, n, 0, s}, "net " + std::to_string(n) + " stuck at " + std::to_string(s));
            for (size_t m = n + 1; miss.empty() && m < nets.size(); ++m)
                miss = check({FaultKind::Short, n, m, 0}, "nets " + std::to_string(n) + " and " + std::to_string(m) + " shorted");
            if (!miss.empty())
                return miss;
        }
    }
    if (counted)
        *counted = count;
    return "";
}

TEST(FaultCoverage, EverySingleFaultOfTheExampleBoardFailsAVector)
{
    ExampleBoard board;
    ASSERT_TRUE(LoadExample(board));
    // The model takes its values from the file as the station reads it, keyed by FPGA and pin.
    TempDir dir;
    CRecordingVectors reader;
    ASSERT_NE(reader.Load(dir.Write("v.vec", board.text).c_str()), 0);
    std::map<std::pair<int, std::string>, std::pair<int, std::string>> lines;
    for (const PinCall& c : reader.m_Calls)
        ASSERT_TRUE(lines.insert({{c.device, c.pin}, {c.section, c.bits}}).second) << c.device << "-" << c.pin;

    std::vector<ModelNet> nets;
    for (const std::vector<_NETPIN>& net : board.netlist.nets) {
        ModelNet m;
        for (size_t e = 0; e < net.size(); ++e) {
            auto it = lines.find({net[e].fpga, net[e].pin});
            ASSERT_NE(it, lines.end()) << net[e].text << " has no pin line";
            EXPECT_EQ(it->second.first, e == 0 ? SECTION_DRIVE : SECTION_SENSOR) << net[e].text;
            if (e == 0)
                m.drive = it->second.second;
            else
                m.expect.push_back(it->second.second);
        }
        nets.push_back(m);
    }
    ASSERT_GE(nets.size(), 40u);

    // A healthy board passes, whatever its pull level.
    EXPECT_FALSE(Fails(nets, 0, {}));
    EXPECT_FALSE(Fails(nets, 1, {}));
    size_t counted = 0;
    EXPECT_EQ(FirstUndetected(nets, &counted), "");
    size_t receivers = lines.size() - nets.size();
    EXPECT_EQ(counted, 2 * (nets.size() * 3 + receivers + nets.size() * (nets.size() - 1) / 2));
}

TEST(FaultCoverage, TheModelMissesFaultsThatWeakerCodesLeaveOpen)
{
    // Plain binary counting from 0, without complements: net 0 drives all 0, and an open on it
    // reads the same with pull 0.
    std::vector<ModelNet> counting;
    for (size_t i = 0; i < 5; ++i) {
        std::string code;
        for (int k = 2; k >= 0; --k)
            code.push_back(((i >> k) & 1) ? '1' : '0');
        counting.push_back({code, {code}});
    }
    EXPECT_EQ(FirstUndetected(counting), "open driver of net 0 with pull 0");

    // Two nets with one code: their short reads what each drives.
    std::vector<ModelNet> twins;
    for (size_t i : {0, 1, 1})
        twins.push_back({NetBits(i, 2), {NetBits(i, 2)}});
    EXPECT_EQ(FirstUndetected(twins), "nets 1 and 2 shorted with pull 0");

    // The tool's codes on the same number of nets leave nothing open.
    std::vector<ModelNet> good;
    for (size_t i = 0; i < 5; ++i)
        good.push_back({NetBits(i, CodeBits(5)), {NetBits(i, CodeBits(5)), NetBits(i, CodeBits(5))}});
    EXPECT_EQ(FirstUndetected(good), "");
}

// ---- refusals ----------------------------------------------------------------------------------

// Runs the tool on a board file with these nets; expects exit 1, no output, and every message.
void ExpectRefused(const std::string& boardFile, const std::vector<std::string>& messages)
{
    TempDir dir;
    const std::string out = dir.Path("out.vec");
    RunResult r = RunInProcess({boardFile, "-o", out});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_FALSE(fs::exists(out)) << "a refused board must not leave a vector file";
    for (const std::string& m : messages)
        EXPECT_NE(r.err.find(m), std::string::npos) << "missing: " << m << "\nin:\n" << r.err;
    EXPECT_NE(r.err.find("qbx-vectors: no vector file written"), std::string::npos);
}

TEST(Refusals, NetsThatCannotBeTested)
{
    TempDir dir;
    const std::string f = dir.Write("b.json", BoardFile(R"([["0:$LNK0"], [], ["1:$LNK0", "2:$LNK0"]])"));
    ExpectRefused(f, {f + ": boards[0].nets[0] has 1 endpoint; a net needs a driver and at least one receiver",
                      f + ": boards[0].nets[1] has 0 endpoints; a net needs a driver and at least one receiver"});
    const std::string none = dir.Write("n.json", BoardFile("[]"));
    ExpectRefused(none, {none + ": boards[0] has no nets: there is nothing to test"});
}

TEST(Refusals, PinOnTwoNetsOrTwiceOnOne)
{
    TempDir dir;
    // DATA0 is ball A2; LNK5 is on FPGA 1 and FPGA 2, which are different pins.
    const std::string f = dir.Write(
        "b.json", BoardFile(R"([["0:A2", "1:$LNK5"], ["2:$LNK5", "0:$DATA0"], ["3:$LNK7", "4:$LNK7", "4:$LNK7"]])"));
    ExpectRefused(f, {f + ": boards[0].nets[1], receiver \"0:$DATA0\": port DATA0 of FPGA 0 is already on nets[0] as \"0:A2\"",
                      f + ": boards[0].nets[2], receiver \"4:$LNK7\": port LNK7 of FPGA 4 is already on this net as \"4:$LNK7\""});
    RunResult r = RunInProcess({f});
    EXPECT_EQ(r.err.find("\"1:$LNK5\""), std::string::npos) << "the same port on another FPGA is another pin";
}

TEST(Refusals, LockPllIsNeverOnANet)
{
    TempDir dir;
    // LOCKPLL is ball G22.
    const std::string f = dir.Write("b.json", BoardFile(R"([["0:$LOCKPLL", "1:$LNK0"], ["2:$LNK1", "3:G22"]])"));
    ExpectRefused(f, {f + ": boards[0].nets[0], driver \"0:$LOCKPLL\": this is port LOCKPLL, which the station drives",
                      f + ": boards[0].nets[1], receiver \"3:G22\": this is port LOCKPLL"});
}

TEST(Refusals, FpgaOutsideTheChain)
{
    TempDir dir;
    const std::string eight = dir.Write("8.json", BoardFile(R"([["0:$LNK0", "8:$LNK0"]])"));
    ExpectRefused(eight, {eight + ": boards[0].nets[0], receiver \"8:$LNK0\": FPGA 8 is not in the chain (8 FPGAs, 0 to 7)"});
    const std::string seven = dir.Write("7.json", BoardFile(R"([["7:$LNK0", "1:$LNK0"]])", 7));
    ExpectRefused(seven, {seven + ": boards[0].nets[0], driver \"7:$LNK0\": FPGA 7 is not in the chain (7 FPGAs, 0 to 6)"});
}

TEST(Refusals, PinsThatDoNotExist)
{
    TempDir dir;
    const std::string f = dir.Write("b.json", BoardFile(R"([["0:ZZ99", "1:$NOPE", "2:$"], ["0:A 2", "1:$LNK0"]])"));
    const std::string net0 = f + ": boards[0].nets[0], ";
    ExpectRefused(f, {net0 + "driver \"0:ZZ99\": no pin \"ZZ99\" in " + kBsdl,
                      net0 + "receiver \"1:$NOPE\": no pin \"$NOPE\" in " + kBsdl,
                      net0 + "receiver \"2:$\": no pin \"$\" in " + kBsdl,
                      f + ": boards[0].nets[1], driver \"0:A 2\": a pin name cannot hold blanks or control characters"});
}

TEST(Refusals, MalformedEndpoints)
{
    TempDir dir;
    const std::string f = dir.Write("b.json", BoardFile(R"([["0:A2", "1:A2"], ["A12", "x:A12", 5, "1234:A2", "0:"]])"));
    ExpectRefused(f, {f + ": boards[0].nets[1], endpoint 0: must be \"<fpga>:<pin>\" such as \"0:A12\" or \"1:$DATA7\"",
                      f + ": boards[0].nets[1], endpoint 1: must be",
                      f + ": boards[0].nets[1], endpoint 2: must be",
                      f + ": boards[0].nets[1], endpoint 3: must be",
                      f + ": boards[0].nets[1], endpoint 4: must be"});
}

TEST(Refusals, DriverNeedsAnOutputWithControlAndReceiverAnInput)
{
    // The example BSDL with four ports changed: DATA0 without output cell, DATA1 without input
    // cell, DATA2 with a two-state output (no control cell), DATA3's output beyond the register.
    std::string text = ReadAll(kBsdl);
    auto change = [&text](const std::string& from, const std::string& to) {
        size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    };
    change("2254 (BC_1, DATA0, output3, X, 2255, 0, Z)", "2254 (BC_1, *, internal, X)");
    change("2163 (BC_1, DATA1, input, X)", "2163 (BC_1, *, internal, X)");
    change("2074 (BC_1, DATA2, output3, X, 2075, 0, Z)", "2074 (BC_1, DATA2, output2, X)");
    change("1984 (BC_1, DATA3, output3, X, 1985, 0, Z)", "3984 (BC_1, DATA3, output3, X, 1985, 0, Z)");
    TempDir dir;
    const std::string bsdl = dir.Write("changed.bsd", text);
    const std::string f = dir.Write(
        "b.json", BoardFile(R"([["0:$DATA0", "1:$LNK0"], ["0:$LNK1", "1:$DATA1"], ["0:A4", "1:$LNK2"],
                                ["0:$DATA3", "1:$LNK3"], ["1:$DATA0", "2:$DATA0"]])",
                            8, bsdl));
    ExpectRefused(f, {f + ": boards[0].nets[0], driver \"0:$DATA0\": port DATA0 has no output cell to drive the net",
                      f + ": boards[0].nets[1], receiver \"1:$DATA1\": port DATA1 has no input cell to sense the net",
                      f + ": boards[0].nets[2], driver \"0:A4\": port DATA2 has no control cell for its output",
                      f + ": boards[0].nets[3], driver \"0:$DATA3\": port DATA3 has no output cell to drive the net",
                      f + ": boards[0].nets[4], driver \"1:$DATA0\": port DATA0 has no output cell"});
    RunResult r = RunInProcess({f});
    EXPECT_EQ(r.err.find("\"2:$DATA0\""), std::string::npos) << "a receiver needs no output cell";
}

TEST(Refusals, EveryProblemIsReportedInOnePass)
{
    TempDir dir;
    const std::string f = dir.Write("b.json", BoardFile(R"([["0:ZZ1", "1:$LNK0"], ["0:$LNK0"], ["9:A2", "0:$LOCKPLL"]])"));
    RunResult r = RunInProcess({f});
    EXPECT_EQ(r.status, 1);
    size_t lines = 0;
    for (char c : r.err)
        lines += c == '\n';
    EXPECT_EQ(lines, 5u) << r.err;  // four problems and the closing line
}

TEST(Refusals, BoardFilesThatCannotBeUsed)
{
    TempDir dir;
    const std::string missing = dir.Path("nothing.json");
    ExpectRefused(missing, {"cannot read " + missing + ": "});
    const std::string bad = dir.Write("bad.json", "{\"bsdl\": ");
    ExpectRefused(bad, {bad + ": not valid JSON ("});
    const std::string array = dir.Write("array.json", "[1, 2]");
    ExpectRefused(array, {array + ": not a board file"});
    const std::string noBsdl = dir.Write("nobsdl.json", R"({"boards": []})");
    ExpectRefused(noBsdl, {noBsdl + ": \"bsdl\" must name the BSDL file of the FPGAs"});
    const std::string noBoards = dir.Write("noboards.json", R"({"bsdl": "x.bsd"})");
    ExpectRefused(noBoards, {noBoards + ": \"boards\" must be an array of boards"});
    const std::string noIds = dir.Write("noids.json", R"({"bsdl": "x.bsd", "boards": [{"nets": []}]})");
    ExpectRefused(noIds, {noIds + ": boards[0].idcodes must be an array"});
    const std::string nine = dir.Write("nine.json", R"({"bsdl": "x.bsd", "boards": [{"idcodes": [1,2,3,4,5,6,7,8,9]}]})");
    ExpectRefused(nine, {nine + ": boards[0].idcodes has 9 entries; the chain holds at most 8 FPGAs"});
    const std::string netsShape = dir.Write("shape.json", R"({"bsdl": "x.bsd", "boards": [{"idcodes": [], "nets": [["0:A2", "1:A2"], "0:A2"]}]})");
    ExpectRefused(netsShape, {netsShape + ": boards[0].nets[1] must be an array of endpoints"});
}

TEST(Refusals, BoardNumberAndBsdlFile)
{
    TempDir dir;
    TempDir out;
    RunResult r = RunInProcess({kHealthy, "--board", "1", "-o", out.Path("x.vec")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(kHealthy + ": there is no board 1 (the file has 1 board)"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out.Path("x.vec")));

    const std::string lost = dir.Write("lost.json", BoardFile(R"([["0:A2", "1:A2"]])", 8, "no/such.bsd"));
    ExpectRefused(lost, {lost + ": cannot read the BSDL file no/such.bsd (" + dir.Path("no/such.bsd") + ")"});
    const std::string empty = dir.Write("empty.bsd", "-- not a BSDL file\r\n");
    const std::string hollow = dir.Write("hollow.json", BoardFile(R"([["0:A2", "1:A2"]])", 8, empty));
    ExpectRefused(hollow, {hollow + ": the BSDL file " + empty +
                           " has no port list, pin map, boundary length, boundary register"});
}

TEST(CommandLine, UsageErrorsAndAnUnwritableOutput)
{
    EXPECT_EQ(RunInProcess({}).status, 2);
    EXPECT_EQ(RunInProcess({kHealthy, "--board"}).status, 2);
    EXPECT_EQ(RunInProcess({kHealthy, "--board", "first"}).status, 2);
    EXPECT_EQ(RunInProcess({kHealthy, "--board", "-1"}).status, 2);
    EXPECT_EQ(RunInProcess({kHealthy, "-o"}).status, 2);
    EXPECT_EQ(RunInProcess({kHealthy, "--verbose"}).status, 2);
    RunResult two = RunInProcess({kHealthy, kHealthy});
    EXPECT_EQ(two.status, 2);
    EXPECT_NE(two.err.find("one board file only"), std::string::npos);
    RunResult help = RunInProcess({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: qbx-vectors BOARD.json [--board N] [-o FILE]"), std::string::npos);

    RunResult unwritable = RunInProcess({kHealthy, "-o", "/nonexistent-folder/x.vec"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("qbx-vectors: cannot write /nonexistent-folder/x.vec"), std::string::npos)
        << unwritable.err;

    // The process itself: exit statuses as the function returns them.
    EXPECT_EQ(RunTool({}).status, 2);
    RunResult refused = RunTool({kHealthy, "--board", "3"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.out.empty());
    EXPECT_NE(refused.err.find("there is no board 3"), std::string::npos);
}

}  // namespace
