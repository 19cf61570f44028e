// End to end: the built Test_QBX_FPGA, run as an operator would (arguments, typed input) against
// the board simulator through the real libusbwire.so, in a temporary output folder. Each case
// checks what the operator sees (console lines, boxes, exit status) and what the station leaves
// in the output folder (error file, truth table, signed report).
//
// The boards are built here (a few nets across the chain and a small vector file), so that a board
// takes a second or two; the example data of the source tree is run as the demo runs it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "datahash.h"
#include "e2e_support.h"
#include "platform.h"
#include "report.h"

using namespace qbxtest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char* const kSerialPrompt = "Install board whith addr=1 and enter serial number (0=exit) ";
const char* const kCurrentPrompt = "Insert Board Current (Ampere)= ";
const char* const kUsage = "USE: Test_QBX_FPGA <bsd file> <vectors file> <ouptut path>\r\n";

// Sensors of the test-support healthy board.
const std::string kThermometer = "00080157A3B2";
const std::string kAdc1 = "0000000C1D2E";
const std::string kAdc2 = "0000000C1D2F";

// The console as lines: the prompts (which have no line end) are counted and taken out.
struct Console {
    explicit Console(const std::string& raw)
    {
        std::string text = raw;
        serialPrompts = Remove(text, kSerialPrompt);
        currentPrompts = Remove(text, kCurrentPrompt);
        lines = CrLfLines(text);
    }
    static int Remove(std::string& text, const std::string& what)
    {
        int count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
            text.erase(at, what.size());
            ++count;
        }
        return count;
    }
    size_t Count(const std::string& line) const { return static_cast<size_t>(std::count(lines.begin(), lines.end(), line)); }
    size_t CountPrefix(const std::string& prefix) const
    {
        return static_cast<size_t>(
            std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
    // The lines that start with prefix, in order.
    std::vector<std::string> WithPrefix(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& l : lines)
            if (l.rfind(prefix, 0) == 0)
                found.push_back(l);
        return found;
    }
    // True when the given lines appear in this order (others may come between).
    bool InOrder(const std::vector<std::string>& expected) const
    {
        size_t next = 0;
        for (const std::string& l : lines)
            if (next < expected.size() && l == expected[next])
                ++next;
        return next == expected.size();
    }

    std::vector<std::string> lines;
    int serialPrompts = 0;
    int currentPrompts = 0;
};

std::string SuccessBox(const std::string& reportPath)
{
    return platform::FormatMessageBox("Test Board SUCCESS\ngenerated file " + reportPath, platform::BoxIcon::Info);
}

std::string FailBox(const std::string& errorPath)
{
    return platform::FormatMessageBox("Test Board FAIL\nsee console messages and\nfile " + errorPath + "\nfor vectors errors",
                                      platform::BoxIcon::Error);
}

size_t Occurrences(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

// The digest the station prints for a vector file: MD5 of its lines without their line ends.
std::string VectorsDigest(const std::string& text)
{
    CDataHash hash;
    EXPECT_TRUE(hash.Init());
    for (const std::string& line : CrLfLines(text))
        hash.AddString(line);
    std::string digest;
    EXPECT_TRUE(hash.GetHexString(digest));
    return digest;
}

std::vector<std::string> Reports(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("QBX_", 0) == 0)
            found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Runs qbx-verify-report on a report: its exit status.
int VerifyReport(const std::string& path)
{
    ProcessOptions options;
    options.args = {path};
    const ProcessResult result = RunProcess(VerifyReportPath(), options);
    if (result.status == 0) {
        EXPECT_EQ(result.out.substr(0, 2), "OK") << result.err;
    }
    return result.status;
}

// Every vector error expected of a board whose receivers read read(net, receiver, vector), one
// line per wrong receiver, ordered as the station reports them (vector, then FPGA; the scenario
// puts at most one compared pin on each FPGA).
std::string ExpectedVectorErrors(const StationScenario& s, const std::function<int(size_t, size_t, int)>& read)
{
    std::string text;
    for (int j = 0; j < s.VectorCount(); ++j) {
        std::vector<std::pair<int, std::string>> lines;
        for (size_t n = 0; n < s.Nets().size(); ++n) {
            const TestNet& net = s.Nets()[n];
            const int expected = net.bits[static_cast<size_t>(j)] - '0';
            for (size_t r = 0; r < net.receivers.size(); ++r) {
                const int value = read(n, r, j);
                if (value != expected)
                    lines.emplace_back(net.receivers[r].fpga, s.VectorError(j, net.receivers[r], value, expected));
            }
        }
        std::sort(lines.begin(), lines.end());
        for (const auto& line : lines)
            text += line.second + "\r\n";
    }
    return text;
}

int Bit(const TestNet& net, int j)
{
    return net.bits[static_cast<size_t>(j)] - '0';
}

void ExpectNoReport(const std::string& output)
{
    EXPECT_TRUE(Reports(output).empty());
}

// The output of a run that ended as it should: status 0, nothing on standard error.
void ExpectCleanEnd(const ProcessResult& r)
{
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
}

// ---- a passing board --------------------------------------------------------------------------

TEST(StationEndToEnd, APassingBoardGetsItsSignedReportAndTheSuccessBox)
{
    StationScenario s(4, 2);
    const std::string vectors = s.WriteVectors();
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(vectors, output + "//", "123\n0.5\n0\n");
    ExpectCleanEnd(r);

    const Console console(r.out);
    const std::string thermometer = SensorId(0x10, kThermometer);
    const std::string errorPath = output + "/error.txt";
    const std::string reportPath = output + "/QBX_123_" + thermometer + ".txt";
    const std::string digest = VectorsDigest(s.VectorText());
    EXPECT_TRUE(console.InOrder({
        "vectors=" + digest,
        "Output Error on " + errorPath + " file",
        "Vectors TruTable on " + output + "/truetable.txt file",
        "QBX 1 sensor id " + thermometer,
        "QBX 1 adcsensor1 id " + SensorId(0x20, kAdc1),
        "QBX 1 adcsensor2 id " + SensorId(0x20, kAdc2),
        "Vmem_fault=0",
        "Bus=0",
        "id=A3PE3000",
        "Temperature=24.50",
        "Test Interconnections OK",
    })) << r.out;
    EXPECT_EQ(console.Count("id=A3PE3000"), 8u);
    EXPECT_EQ(console.CountPrefix("Vector "), 0u);
    EXPECT_EQ(console.serialPrompts, 2);
    EXPECT_EQ(console.currentPrompts, 1);
    EXPECT_EQ(Occurrences(r.out, SuccessBox(reportPath)), 1u);

    EXPECT_EQ(ReadFile(errorPath), "");
    EXPECT_EQ(ReadFile(output + "/truetable.txt"), s.ExpectedTruthTable());

    // The report: eleven lines, the values the console showed, the signature verified.
    ASSERT_EQ(Reports(output), std::vector<std::string>{reportPath});
    const std::vector<std::string> report = CrLfLines(ReadFile(reportPath));
    ASSERT_EQ(report.size(), 11u);
    EXPECT_EQ(report[0], "0x" + thermometer + ",0x" + SensorId(0x20, kAdc1) + ",0x" + SensorId(0x20, kAdc2));
    EXPECT_EQ(report[1], "Icc=0.500");
    for (const char* prefix : {"Vin=", "Vmem=", "Vmem_fault=", "I=", "Bus="}) {
        const std::vector<std::string> shown = console.WithPrefix(prefix);
        ASSERT_EQ(shown.size(), 1u) << prefix;
        EXPECT_NE(std::find(report.begin(), report.end(), shown[0]), report.end()) << shown[0];
    }
    EXPECT_EQ(report[4], "Vmem_fault=0");
    EXPECT_EQ(report[6], "Bus=0");
    EXPECT_EQ(report[7], "Temperature=24.50");
    EXPECT_EQ(report[8], "vectors=" + digest);
    EXPECT_EQ(report[9], "Test Interconnections OK");
    EXPECT_EQ(VerifyReport(reportPath), 0);
}

TEST(StationEndToEnd, AVectorFileWithoutPinLinesPassesWithoutAnyScan)
{
    StationScenario s(1);
    const std::string vectors = s.Dir().File("empty.vec");
    std::ofstream(vectors, std::ios::binary) << "<NETS>\r\nDRIVE:\r\n</NETS>\r\n";
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(vectors, output, "7\n0.6\n0\n");
    ExpectCleanEnd(r);
    EXPECT_EQ(Console(r.out).Count("Test Interconnections OK"), 1u);
    EXPECT_EQ(ReadFile(output + "/truetable.txt"), "");
    ASSERT_EQ(Reports(output).size(), 1u);
    EXPECT_EQ(VerifyReport(Reports(output)[0]), 0);
}

// ---- interconnection faults -------------------------------------------------------------------

// Runs one board with a fault; checks the FAIL outcome and that exactly the expected vector errors
// were reported, once (the runs stop after the first failing one), into console and error file.
void ExpectInterconnectFailure(StationScenario& s, const std::string& expectedErrors)
{
    ASSERT_FALSE(expectedErrors.empty());
    const std::string vectors = s.WriteVectors();
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(vectors, output, "5\n0.5\n0\n");
    ExpectCleanEnd(r);
    const std::string errorPath = output + "/error.txt";
    EXPECT_EQ(ReadFile(errorPath), expectedErrors);
    EXPECT_EQ(Occurrences(r.out, expectedErrors), 1u) << r.out;
    EXPECT_EQ(Console(r.out).Count("Temperature=24.50"), 1u);
    EXPECT_EQ(Console(r.out).Count("Test Interconnections OK"), 0u);
    EXPECT_EQ(Occurrences(r.out, FailBox(errorPath)), 1u);
    ExpectNoReport(output);
}

TEST(StationEndToEnd, AnOpenPinReadsThePullLevelAndFailsTheBoard)
{
    StationScenario s(4);
    const PinRef open = s.Nets()[1].receivers[0];
    s.Board()["faults"] = nlohmann::json::array({{{"open", open.Endpoint()}}});
    ExpectInterconnectFailure(s, ExpectedVectorErrors(s, [&](size_t n, size_t, int j) {
                                  return n == 1 ? 1 : Bit(s.Nets()[n], j);  // pull-up
                              }));
}

TEST(StationEndToEnd, TwoShortedNetsReadTheirWiredAnd)
{
    StationScenario s(4);
    s.Board()["faults"] =
        nlohmann::json::array({{{"short", {s.Nets()[0].driver.Endpoint(), s.Nets()[2].driver.Endpoint()}}}});
    ExpectInterconnectFailure(s, ExpectedVectorErrors(s, [&](size_t n, size_t, int j) {
                                  if (n == 0 || n == 2)
                                      return Bit(s.Nets()[0], j) & Bit(s.Nets()[2], j);
                                  return Bit(s.Nets()[n], j);
                              }));
}

TEST(StationEndToEnd, AStuckNetFailsEveryVectorThatNeedsTheOtherLevel)
{
    StationScenario s(4, 2);
    s.Board()["faults"] = nlohmann::json::array({{{"stuck", s.Nets()[3].driver.Endpoint()}, {"value", 0}}});
    ExpectInterconnectFailure(s, ExpectedVectorErrors(s, [&](size_t n, size_t, int j) {
                                  return n == 3 ? 0 : Bit(s.Nets()[n], j);
                              }));
}

// ---- chain and sensor faults ------------------------------------------------------------------

TEST(StationEndToEnd, ASevenDeviceChainIsInterruptedAndNotRun)
{
    StationScenario s(2);
    s.Board()["idcodes"].erase(7);
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(s.WriteVectors(), output, "5\n0.5\n0\n");
    ExpectCleanEnd(r);
    const Console console(r.out);
    EXPECT_EQ(console.Count("id=A3PE3000"), 7u);
    EXPECT_EQ(ReadFile(output + "/error.txt"), "ERROR JTAG chain interrupted\r\n");
    EXPECT_EQ(console.CountPrefix("Vector "), 0u);
    EXPECT_EQ(console.CountPrefix("Temperature="), 1u);
    EXPECT_EQ(Occurrences(r.out, FailBox(output + "/error.txt")), 1u);
    ExpectNoReport(output);
}

TEST(StationEndToEnd, AWrongIdCodeIsReportedInEightDigitsEvenWithEightCodes)
{
    StationScenario s(2);
    s.Board()["idcodes"][3] = "0x0A74E1CF";
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(s.WriteVectors(), output, "5\n0.5\n0\n");
    ExpectCleanEnd(r);
    const Console console(r.out);
    EXPECT_EQ(console.Count("id=A3PE3000"), 7u);
    EXPECT_EQ(ReadFile(output + "/error.txt"), "ERROR id=0A74E1CF\r\n");
    EXPECT_EQ(console.CountPrefix("Vector "), 0u);
    ExpectNoReport(output);
}

TEST(StationEndToEnd, AParasitePoweredThermometerGivesTwoWarningsAndNoJtagWork)
{
    StationScenario s(2);
    s.Board()["onewire"][0]["powered"] = false;
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(s.WriteVectors(), output, "5\n0.5\n0\n");
    ExpectCleanEnd(r);
    const std::string id = SensorId(0x10, kThermometer);
    EXPECT_EQ(ReadFile(output + "/error.txt"), "Warning Sensor DS18S20 " + id + " not powered or read error\r\n" +
                                                   "Warning Sensor DS18S20 " + id + " not powered or read error\r\n" +
                                                   "QBX 1 Sensor DS18S20 not found\r\n");
    const Console console(r.out);
    EXPECT_EQ(console.CountPrefix("Vin="), 1u);  // the supply is still read
    EXPECT_EQ(console.CountPrefix("id="), 0u);
    EXPECT_EQ(console.CountPrefix("Temperature="), 0u);
    EXPECT_EQ(Occurrences(r.out, FailBox(output + "/error.txt")), 1u);
    ExpectNoReport(output);
}

TEST(StationEndToEnd, AMissingConverterEndsTheBoardBeforeTheSupplyValues)
{
    StationScenario s(2);
    s.Board()["onewire"].erase(2);  // adcsensor2, the JTAG switch
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(s.WriteVectors(), output, "5\n0.5\n0\n");
    ExpectCleanEnd(r);
    EXPECT_EQ(ReadFile(output + "/error.txt"), "QBX 1 Sensor DS2450 not found\r\n");
    const Console console(r.out);
    EXPECT_EQ(console.Count("QBX 1 adcsensor1 id " + SensorId(0x20, kAdc1)), 1u);
    EXPECT_EQ(console.CountPrefix("Vin="), 0u);
    EXPECT_EQ(console.CountPrefix("id="), 0u);
    EXPECT_EQ(Occurrences(r.out, FailBox(output + "/error.txt")), 1u);
}

// ---- a dying adapter --------------------------------------------------------------------------

// USB writes of a whole station run on this board (one board, then serial 0), read from the
// simulator's counters.
uint64_t WritesOfOneBoard(const StationScenario& s, const std::string& vectors)
{
    const std::string output = s.MakeOutput("count-" + std::to_string(std::hash<std::string>{}(vectors)));
    const std::string stats = output + "/stats.json";
    const ProcessResult r = s.Run(vectors, output, "5\n0.5\n0\n", {{"QBXSIM_STATS", stats}});
    EXPECT_EQ(r.status, 0);
    const nlohmann::json counters = nlohmann::json::parse(ReadFile(stats));
    return counters["channels"]["A"]["writes"].get<uint64_t>() + counters["channels"]["B"]["writes"].get<uint64_t>();
}

// A write count at which the link dies inside the interconnection runs: the writes of a board
// without vectors (everything but the runs), plus a sixth of what the runs add.
uint64_t WritesIntoTheRuns(StationScenario& s, const std::string& vectors)
{
    const std::string none = s.Dir().File("none.vec");
    std::ofstream(none, std::ios::binary) << "no pin lines\r\n";
    const uint64_t without = WritesOfOneBoard(s, none);
    const uint64_t with = WritesOfOneBoard(s, vectors);
    EXPECT_GT(with, without + 100);
    return without + (with - without) / 6;
}

TEST(StationEndToEnd, AUsbLinkThatDiesMidRunFailsTheBoardWithOneLineAndNoReport)
{
    StationScenario s(4);
    const std::string vectors = s.WriteVectors();
    s.BoardFile()["adapter"]["fail_after_writes"] = WritesIntoTheRuns(s, vectors);
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(vectors, output, "5\n0.5\n0\n");
    ExpectCleanEnd(r);
    const std::string errors = ReadFile(output + "/error.txt");
    const std::vector<std::string> lines = CrLfLines(errors);
    // What came back from a dead link is not compared: one line for the run, then what the
    // failing I2C side reports.
    ASSERT_FALSE(lines.empty()) << r.out;
    EXPECT_THAT(lines[0], ::testing::MatchesRegex("Vector [0-9]+ \\(abs=[0-9]+\\) NETS ERROR JTAG transfer failed"));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("transfer failed") != std::string::npos; }), 1);
    EXPECT_THAT(errors, Not(HasSubstr("read=")));
    EXPECT_THAT(errors, HasSubstr("Read Temperature ERROR\r\n"));
    EXPECT_EQ(Occurrences(r.out, FailBox(output + "/error.txt")), 1u);
    ExpectNoReport(output);
}

TEST(StationEndToEnd, AMuteUsbLinkEndsTheRunAfterOneTimeOutInsteadOfOnePerTransfer)
{
    // A mute link answers nothing: every read waits for its 5 s time-out. The run stops at the
    // first one; the switch and the temperature each wait once more; the program ends.
    StationScenario s(4);
    const std::string vectors = s.WriteVectors();
    s.BoardFile()["adapter"]["mute_after_writes"] = WritesIntoTheRuns(s, vectors);
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(vectors, output, "5\n0.5\n0\n");
    ExpectCleanEnd(r);
    const std::vector<std::string> lines = CrLfLines(ReadFile(output + "/error.txt"));
    ASSERT_FALSE(lines.empty()) << r.out;
    EXPECT_THAT(lines[0], HasSubstr("ERROR JTAG transfer failed"));
    EXPECT_EQ(Occurrences(r.out, FailBox(output + "/error.txt")), 1u);
    ExpectNoReport(output);
}

// ---- output folder ----------------------------------------------------------------------------

TEST(StationEndToEnd, AnUnwritableOutputFolderFailsThePassingBoardAndSaysWhy)
{
    StationScenario s(2);
    // A file where the folder should be: nothing can be created in it, not even by root.
    const std::string output = s.Dir().File("not-a-folder");
    std::ofstream(output) << "x";
    const ProcessResult r = s.Run(s.WriteVectors(), output, "9\n0.5\n0\n");
    ExpectCleanEnd(r);
    const Console console(r.out);
    const std::string errorPath = output + "/error.txt";
    const std::string reportPath = output + "/QBX_9_" + SensorId(0x10, kThermometer) + ".txt";
    EXPECT_TRUE(console.InOrder({
        "Output Error on " + errorPath + " file",
        "Open file " + errorPath + " Error",
        "Error writing Vectors TruTable on " + output + "/truetable.txt file",
        "Open file " + errorPath + " Error",  // again for the board
        "Test Interconnections OK",
        "ERROR Open output file " + reportPath + " ",
    })) << r.out;
    EXPECT_EQ(Occurrences(r.out, FailBox(errorPath)), 1u);
    EXPECT_EQ(ReadFile(output), "x");
}

// ---- several boards in one run ----------------------------------------------------------------

TEST(StationEndToEnd, EachBoardOfARunIsSearchedFromScratchAndTheErrorFileHoldsTheLastOnly)
{
    StationScenario s(3);
    // Board 1 fails (a stuck net), board 2 passes with sensors of its own, board 3 has no
    // thermometer although the board before it had one.
    s.Board(0)["faults"] = nlohmann::json::array({{{"stuck", s.Nets()[0].driver.Endpoint()}, {"value", 1}}});
    nlohmann::json& second = s.AddBoard(0x100);
    second["faults"] = nlohmann::json::array();
    nlohmann::json& third = s.AddBoard(0x200);
    third["faults"] = nlohmann::json::array();
    third["onewire"].erase(0);
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(s.WriteVectors(), output, "11\n0.5\n12\n0.5\n13\n0.5\n0\n");
    ExpectCleanEnd(r);

    const Console console(r.out);
    EXPECT_EQ(console.WithPrefix("Bus="), (std::vector<std::string>{"Bus=0", "Bus=1", "Bus=1"}));
    const std::string secondThermometer = SensorId(0x10, SerialText(0x00080157A3B2ull + 0x100));
    EXPECT_TRUE(console.InOrder({"QBX 1 sensor id " + SensorId(0x10, kThermometer), "QBX 1 sensor id " + secondThermometer,
                                 "QBX 1 Sensor DS18S20 not found",
                                 "QBX 1 adcsensor2 id " + SensorId(0x20, SerialText(0x0C1D2Full + 0x200))}))
        << r.out;
    EXPECT_EQ(console.CountPrefix("QBX 1 sensor id "), 2u);
    EXPECT_GT(console.CountPrefix("Vector "), 0u);  // the first board's errors reached the console

    const std::string errorPath = output + "/error.txt";
    EXPECT_EQ(ReadFile(errorPath), "QBX 1 Sensor DS18S20 not found\r\n");
    EXPECT_EQ(Occurrences(r.out, FailBox(errorPath)), 2u);
    const std::string reportPath = output + "/QBX_12_" + secondThermometer + ".txt";
    EXPECT_EQ(Occurrences(r.out, SuccessBox(reportPath)), 1u);
    ASSERT_EQ(Reports(output), std::vector<std::string>{reportPath});
    EXPECT_EQ(CrLfLines(ReadFile(reportPath))[6], "Bus=1");
    EXPECT_EQ(VerifyReport(reportPath), 0);
}

// ---- operator input ---------------------------------------------------------------------------

// Boards that fail at once (no converters: no JTAG work), for the dialogue tests.
void MakeQuickBoards(StationScenario& s, int boards)
{
    s.Board()["onewire"] = nlohmann::json::array({s.Board()["onewire"][0]});
    for (int i = 1; i < boards; ++i)
        s.AddBoard(static_cast<uint64_t>(i));
}

TEST(StationEndToEnd, SerialZeroAtTheFirstPromptEndsWithAnEmptyErrorFile)
{
    StationScenario s(2);
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(s.WriteVectors(), output + "///", "0\n");
    ExpectCleanEnd(r);
    const Console console(r.out);
    EXPECT_EQ(console.Count("Output Error on " + output + "/error.txt file"), 1u);
    EXPECT_EQ(console.serialPrompts, 1);
    EXPECT_EQ(console.currentPrompts, 0);
    ASSERT_TRUE(FileExists(output + "/error.txt"));
    EXPECT_EQ(ReadFile(output + "/error.txt"), "");
    EXPECT_EQ(ReadFile(output + "/truetable.txt"), s.ExpectedTruthTable());
    EXPECT_THAT(r.out, Not(HasSubstr("Test Board")));
}

TEST(StationEndToEnd, CurrentsOnTheBoundsAreAcceptedAndOneBeyondEndsTheProgram)
{
    StationScenario s(1);
    MakeQuickBoards(s, 3);
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(s.WriteVectors(), output, "1\n0.4\n2\n0.8\n3\n0.81\n4\n0.5\n");
    ExpectCleanEnd(r);
    const Console console(r.out);
    EXPECT_EQ(console.Count("QBX 1 Sensor DS2450 not found"), 2u);
    EXPECT_EQ(Occurrences(r.out, FailBox(output + "/error.txt")), 2u);
    ASSERT_FALSE(console.lines.empty());
    EXPECT_EQ(console.lines.back(), "Invalid Board Current=0.810 (must be from 0.4 to 0.8)");
    EXPECT_EQ(console.serialPrompts, 3);  // not asked again
    // The third board's cycle ended at the current prompt: its error file is empty.
    EXPECT_EQ(ReadFile(output + "/error.txt"), "");
}

TEST(StationEndToEnd, ACurrentBelowTheRangeEndsTheProgramAtOnce)
{
    StationScenario s(1);
    MakeQuickBoards(s, 1);
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(s.WriteVectors(), output, "1\n0.39\n2\n");
    ExpectCleanEnd(r);
    const Console console(r.out);
    EXPECT_EQ(console.Count("Invalid Board Current=0.390 (must be from 0.4 to 0.8)"), 1u);
    EXPECT_EQ(console.serialPrompts, 1);
    EXPECT_THAT(r.out, Not(HasSubstr("Test Board")));
    EXPECT_EQ(ReadFile(output + "/error.txt"), "");
}

TEST(StationEndToEnd, InputThatIsNotANumberIsRefusedAndAskedAgain)
{
    StationScenario s(1);
    MakeQuickBoards(s, 1);
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(s.WriteVectors(), output, "abc\n\n1x\n-3\n7\nx.5\nnan\n 0.5 \n0\n");
    ExpectCleanEnd(r);
    const Console console(r.out);
    EXPECT_TRUE(console.InOrder({
        "Not a serial number: \"abc\" (enter 0 to 4294967295)",
        "Not a serial number: \"1x\" (enter 0 to 4294967295)",
        "Not a serial number: \"-3\" (enter 0 to 4294967295)",
        "Not a current: \"x.5\" (enter amperes, e.g. 0.5)",
        "Not a current: \"nan\" (enter amperes, e.g. 0.5)",
        "QBX 1 Sensor DS2450 not found",
    })) << r.out;
    EXPECT_EQ(console.serialPrompts, 4 + 1);  // the board's, three times again, the next board's
    EXPECT_EQ(console.currentPrompts, 3);
    EXPECT_EQ(Occurrences(r.out, FailBox(output + "/error.txt")), 1u);
}

TEST(StationEndToEnd, TheEndOfTheInputEndsTheProgramAsSerialZeroDoes)
{
    StationScenario s(1);
    MakeQuickBoards(s, 1);
    for (const std::string input : {"", "5\n", "5\n0.5\n"}) {
        const std::string output = s.MakeOutput("out" + std::to_string(input.size()));
        const ProcessResult r = s.Run(s.WriteVectors(), output, input);
        ExpectCleanEnd(r);
        const Console console(r.out);
        // A board whose cycle completed shows its box; the program then ends at the next prompt.
        EXPECT_EQ(Occurrences(r.out, "Test Board"), input.size() > 2 ? 1u : 0u) << "input \"" << input << "\"";
        EXPECT_EQ(console.serialPrompts, input.size() > 2 ? 2 : 1);
        EXPECT_TRUE(FileExists(output + "/error.txt"));
    }
}

// ---- command line and input files -------------------------------------------------------------

TEST(StationEndToEnd, FewerThanThreeArgumentsPrintTheUsageLine)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"a.bsd", "b.vec"}}) {
        ProcessOptions options;
        options.args = args;
        const ProcessResult r = RunProcess(StationPath(), options);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kUsage);
    }
}

TEST(StationEndToEnd, AMissingBsdlOrVectorFileEndsWithStatusOne)
{
    StationScenario s(1);
    const std::string output = s.MakeOutput();
    ProcessOptions options;
    options.args = {s.Dir().File("none.bsd"), s.WriteVectors(), output};
    ProcessResult r = RunProcess(StationPath(), options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "bsd file " + s.Dir().File("none.bsd") + " not found\r\n");

    options.args = {s.Bsdl(), s.Dir().File("none.vec"), output};
    r = RunProcess(StationPath(), options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "vectors file " + s.Dir().File("none.vec") + " not found\r\n");
    EXPECT_TRUE(std::filesystem::is_empty(output));  // nothing written before the files are loaded
}

TEST(StationEndToEnd, AVectorLineForDeviceNineIsRefusedAndTheStationDoesNotStart)
{
    StationScenario s(2);
    const std::string vectors = s.Dir().File("device9.vec");
    const std::string pin = s.Nets()[0].driver.pin;
    std::ofstream(vectors, std::ios::binary) << s.VectorText() << "<MORE>\r\nSENSOR:\r\n9-" << pin << " 01\r\n</MORE>\r\n";
    const std::string output = s.MakeOutput();
    ProcessOptions options;
    options.args = {s.Bsdl(), vectors, output};
    const ProcessResult r = RunProcess(StationPath(), options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Error device 9 of pin " + pin + " not in the chain (0 to 7)\r\nvectors file " + vectors + " not found\r\n");
    EXPECT_TRUE(std::filesystem::is_empty(output));
}

TEST(StationEndToEnd, ABsdlFileWithoutTheExpectedSectionsIsNamedAtStartUp)
{
    StationScenario s(1);
    const std::string bsdl = s.Dir().File("odd.bsd");
    std::ofstream(bsdl, std::ios::binary) << "entity ODD is\r\nend ODD;\r\n";
    const std::string vectors = s.Dir().File("empty.vec");
    std::ofstream(vectors, std::ios::binary) << "";
    ProcessOptions options;
    options.args = {bsdl, vectors, s.MakeOutput()};
    options.input = "0\n";
    options.env = {{"USBWIRE_DRIVER", SimulatorPath()}, {"QBXSIM_BOARD", s.WriteBoard()}};
    const ProcessResult r = RunProcess(StationPath(), options);
    EXPECT_EQ(r.status, 0);
    const Console console(r.out);
    EXPECT_TRUE(console.InOrder({"Warning bsd file " + bsdl + ": port list not found",
                                 "Warning bsd file " + bsdl + ": pin map not found",
                                 "Warning bsd file " + bsdl + ": boundary length not found",
                                 "Warning bsd file " + bsdl + ": boundary register not found"}))
        << r.out;
}

TEST(StationEndToEnd, WithoutTheAdapterTheErrorBoxComesAndTheStationEnds)
{
    StationScenario s(1);
    s.BoardFile()["adapter"]["present"] = false;
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run(s.WriteVectors(), output, "5\n0.5\n");
    ExpectCleanEnd(r);
    EXPECT_EQ(Occurrences(r.out, platform::FormatMessageBox("Error Open Device: FT2232H MiniModule B", platform::BoxIcon::Error)),
              1u);
    EXPECT_EQ(Console(r.out).serialPrompts, 0);
}

// ---- progress ---------------------------------------------------------------------------------

TEST(StationEndToEnd, RunProgressShowsOnATerminalOnly)
{
    StationScenario s(2);
    const std::string vectors = s.WriteVectors();
    const ProcessResult r = s.Run(vectors, s.MakeOutput(), "5\n0.5\n0\n", {}, true);
    EXPECT_EQ(r.status, 0);
    const std::string last = "Run 3 of 3: vector " + std::to_string(s.VectorCount()) + " of " + std::to_string(s.VectorCount());
    EXPECT_THAT(r.err, HasSubstr("Run 1 of 3: vector 1 of "));
    EXPECT_THAT(r.err, HasSubstr(last));
    EXPECT_THAT(r.out, Not(HasSubstr("Run 1 of 3")));
    EXPECT_EQ(Console(r.out).Count("Test Interconnections OK"), 1u);
    // Without a terminal nothing of it is written (the other cases check that standard error
    // stays empty).
}

// ---- the example data ---------------------------------------------------------------------------

TEST(StationEndToEnd, TheDemoSequenceShowsOnePassAndOneFail)
{
    const std::string examples = std::string(QBX_SOURCE_DIR) + "/examples";
    const std::string board = examples + "/boards/sequence.json";
    const std::string vectors = examples + "/interconnect.vec";
    const std::string input = examples + "/operator-input.txt";
    if (!FileExists(board) || !FileExists(vectors) || !FileExists(input) || !FileExists(examples + "/a3pe3000.bsd"))
        GTEST_SKIP() << "the example data is not complete in " << examples;
    TempDir dir;
    ProcessOptions options;
    options.args = {examples + "/a3pe3000.bsd", vectors, dir.Path()};
    options.input = ReadFile(input);
    options.env = {{"USBWIRE_DRIVER", "libqbxsim.so"}, {"QBXSIM_BOARD", board}, {"QBXSIM_STATS", std::nullopt}};
    const ProcessResult r = RunProcess(StationPath(), options);
    ExpectCleanEnd(r);
    EXPECT_EQ(Occurrences(r.out, "| Test Board SUCCESS"), 1u) << r.out;
    EXPECT_EQ(Occurrences(r.out, "| Test Board FAIL"), 1u);
    const std::vector<std::string> reports = Reports(dir.Path());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(VerifyReport(reports[0]), 0);
    EXPECT_NE(ReadFile(dir.Path() + "/error.txt"), "");
}

}  // namespace
