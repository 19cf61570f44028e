// End to end: the built Test_QBX_FPGA, run as an operator would against the board simulator through
// the real libusbwire.so: console lines, boxes, exit status, error file, truth table, signed report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "board_record.h"
#include "bsdl.h"
#include "platform.h"
#include "romid.h"
#include "sim_board.h"

using namespace qbxtest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char* const kSerialPrompt = "Install board whith addr=1 and enter serial number (0=exit) ";
const char* const kCurrentPrompt = "Insert Board Current (Ampere)= ";

// Sensors of the test-support healthy board.
const std::string kThermometer = "00080157A3B2";
const std::string kAdc1 = "0000000C1D2E";
const std::string kAdc2 = "0000000C1D2F";

// The 1-Wire identity of a sensor as the station prints it.
std::string SensorId(uint8_t family, const std::string& serialText, uint64_t offset = 0)
{
    return RomText(_ROMID::FromSerial(family, std::strtoull(serialText.c_str(), nullptr, 16) + offset));
}

struct PinRef {
    int fpga = 0;
    std::string pin;   // package pin, e.g. "G23"
    std::string port;  // port name, e.g. "LNK48"
    std::string Endpoint() const { return std::to_string(fpga) + ":" + pin; }
};

struct TestNet {
    PinRef driver;
    std::vector<PinRef> receivers;
    std::string bits;
};

// A board with N nets across the chain and their vectors in group "NETS": net i carries the code
// i + 1, then its complement, on usable pins of the BSDL table; no bridge busy reads.
class StationScenario {
public:
    explicit StationScenario(int nets, int receivers = 1)
    {
        _BSDLDATA data;
        if (!ReadBsdl(m_Bsdl.c_str(), data))
            throw std::runtime_error("cannot read " + m_Bsdl);
        std::vector<const _PINDESC*> usable;
        for (const _PINDESC& pin : data.pins)
            if (pin.inCell >= 0 && pin.outCell >= 0 && pin.ctrlCell >= 0 && pin.row >= 0 && pin.name != "LOCKPLL")
                usable.push_back(&pin);
        if (usable.size() < static_cast<size_t>(nets * (1 + receivers)))
            throw std::runtime_error("not enough pins in " + m_Bsdl);
        int bits = 1;
        while ((1 << bits) < nets + 2)
            ++bits;
        size_t next = 0;
        auto take = [&](int fpga) { return PinRef{fpga, PinLabel(*usable[next]), usable[next++]->name}; };
        nlohmann::json netList = nlohmann::json::array();
        for (int i = 0; i < nets; ++i) {
            TestNet net{take(i % 8), {}, ""};
            nlohmann::json endpoints = nlohmann::json::array({net.driver.Endpoint()});
            for (int r = 0; r < receivers; ++r) {
                net.receivers.push_back(take((i + 1 + r) % 8));
                endpoints.push_back(net.receivers.back().Endpoint());
            }
            for (int complement = 0; complement < 2; ++complement)
                for (int b = bits - 1; b >= 0; --b)
                    net.bits += static_cast<char>('0' + ((((i + 1) >> b) & 1) ^ complement));
            netList.push_back(endpoints);
            m_Nets.push_back(std::move(net));
        }
        m_BoardFile["bridge"]["busy_reads"] = 0;
        Board()["nets"] = netList;
    }

    const TempDir& Dir() const { return m_Dir; }
    const std::string& Bsdl() const { return m_Bsdl; }
    const std::vector<TestNet>& Nets() const { return m_Nets; }
    int VectorCount() const { return static_cast<int>(m_Nets.at(0).bits.size()); }
    nlohmann::json& BoardFile() { return m_BoardFile; }
    nlohmann::json& Board(size_t i = 0) { return m_BoardFile.at("boards").at(i); }

    // Appends a copy of board 0 whose sensors' serial numbers are offset higher.
    void AddBoard(uint64_t serialOffset)
    {
        nlohmann::json board = Board(0);
        for (nlohmann::json& device : board["onewire"])
            device["serial"] = SerialText(std::strtoull(device["serial"].get<std::string>().c_str(), nullptr, 16) + serialOffset);
        m_BoardFile["boards"].push_back(board);
    }

    // The vector file: "<NETS>", "DRIVE:" with the drivers, "SENSOR:" with the receivers.
    std::string VectorText() const
    {
        return "# vectors of the test board\r\n<NETS>\r\nDRIVE:\r\n" + PinLines(false, "") + "SENSOR:\r\n" + PinLines(true, "") +
               "</NETS>\r\n";
    }
    std::string WriteVectors() const
    {
        WriteFile(m_Dir.File("nets.vec"), VectorText());
        return m_Dir.File("nets.vec");
    }
    std::string MakeOutput(const std::string& name = "out") const
    {
        std::filesystem::create_directories(m_Dir.File(name));
        return m_Dir.File(name);
    }

    ProcessResult Run(const std::vector<std::string>& args, const std::string& input,
                      const std::map<std::string, std::optional<std::string>>& env = {}, bool stderrOnTerminal = false) const
    {
        ProcessOptions options;
        options.args = args;
        options.input = input;
        options.env = env;
        options.stderrOnTerminal = stderrOnTerminal;
        return RunStation(WriteBoardFile(m_Dir, m_BoardFile), options);
    }

    // The truth table the station writes for VectorText(): pins right-aligned, "_O" or "_I".
    std::string ExpectedTruthTable() const { return PinLines(false, "_O") + PinLines(true, "_I"); }

private:
    // "d-PIN bits" lines of the drivers or of the receivers; with a suffix, as the truth table has them.
    std::string PinLines(bool receivers, const char* suffix) const
    {
        size_t width = 0;
        for (const TestNet& net : m_Nets)
            for (const PinRef& pin : net.receivers)
                width = std::max({width, *suffix ? pin.pin.size() : 0, *suffix ? net.driver.pin.size() : 0});
        std::string text;
        for (const TestNet& net : m_Nets)
            for (const PinRef& pin : receivers ? net.receivers : std::vector<PinRef>{net.driver})
                text += platform::Format("%d-%*s%s %s\r\n", pin.fpga, static_cast<int>(width), pin.pin.c_str(), suffix, net.bits.c_str());
        return text;
    }

    TempDir m_Dir;
    std::string m_Bsdl = BsdlForTests(m_Dir);
    std::vector<TestNet> m_Nets;
    nlohmann::json m_BoardFile = HealthyBoard(m_Bsdl);
};

// The console as lines, without the prompts (which have no line end) but with their count.
struct Console {
    explicit Console(std::string text) : serialPrompts(Occurrences(text, kSerialPrompt)), currentPrompts(Occurrences(text, kCurrentPrompt))
    {
        for (const std::string prompt : {kSerialPrompt, kCurrentPrompt})
            for (size_t at = text.find(prompt); at != std::string::npos; at = text.find(prompt, at))
                text.erase(at, prompt.size());
        lines = CrLfLines(text);
    }
    size_t Count(const std::string& line) const { return static_cast<size_t>(std::count(lines.begin(), lines.end(), line)); }
    // True when the given lines appear in this order (others may come between).
    bool InOrder(const std::vector<std::string>& expected) const
    {
        size_t next = 0;
        for (const std::string& l : lines)
            if (next < expected.size() && l == expected[next])
                ++next;
        return next == expected.size();
    }

    size_t serialPrompts = 0;
    size_t currentPrompts = 0;
    std::vector<std::string> lines;
};

// What a run showed for each board: from one serial prompt to the next.
std::vector<std::string> PerBoard(const std::string& out)
{
    std::vector<std::string> boards;
    for (size_t at = out.find(kSerialPrompt); at != std::string::npos;) {
        const size_t next = out.find(kSerialPrompt, at + 1);
        boards.push_back(out.substr(at, next - at));
        at = next;
    }
    return boards;
}

// The lines of a board's part of the console that were reported, not only printed.
std::string Reported(const std::string& shown)
{
    static const char* const kPrinted[] = {"QBX 1 sensor id ", "QBX 1 adcsensor", "Vin=", "Vmem=", "Vmem_fault=", "I=", "Bus=",
                                           "id=A3PE3000", "Temperature=", "Test Interconnections OK", "+", "|",
                                           "Diagnosis: "};
    std::string reported;
    for (const std::string& line : Console(shown).lines)
        if (!line.empty() && std::none_of(std::begin(kPrinted), std::end(kPrinted),
                                          [&](const char* printed) { return line.rfind(printed, 0) == 0; }))
            reported += line + "\r\n";
    return reported;
}

std::string FailBox(const std::string& output)
{
    return platform::FormatMessageBox(
        "Test Board FAIL\nsee console messages and\nfile " + platform::JoinPath(output, "error.txt") + "\nfor vectors errors", platform::BoxIcon::Error);
}

std::vector<std::string> Reports(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind("QBX_", 0) == 0)
            found.push_back(entry.path().string());
    return found;
}

// Checks a report's signature with qbx-verify-report.
void ExpectVerified(const std::string& report)
{
    ProcessOptions options;
    options.args = {report};
    const ProcessResult result = RunProcess(BuiltProgram("qbx-verify-report"), options);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.out.substr(0, 2), "OK");
}

// A run that ended as it should: status 0, nothing on standard error.
void ExpectCleanEnd(const ProcessResult& r)
{
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
}

// The vector errors of a board whose receivers of net n read read(n, vector), in the station's order.
std::string VectorErrors(const StationScenario& s, const std::function<int(size_t, int)>& read)
{
    std::string text;
    for (int j = 0; j < s.VectorCount(); ++j) {
        std::vector<std::pair<int, std::string>> lines;
        for (size_t n = 0; n < s.Nets().size(); ++n) {
            const int expected = s.Nets()[n].bits[static_cast<size_t>(j)] - '0';
            for (const PinRef& receiver : s.Nets()[n].receivers)
                if (read(n, j) != expected)
                    lines.emplace_back(receiver.fpga, platform::Format("Vector %d (abs=%d) NETS ERROR fpga %d pin:%s (%s) read=%d expected=%d\r\n",
                                                                       j + 1, j, receiver.fpga, receiver.port.c_str(),
                                                                       receiver.pin.c_str(), read(n, j), expected));
        }
        std::sort(lines.begin(), lines.end());
        for (const auto& line : lines)
            text += line.second;
    }
    return text;
}

}  // namespace

TEST(StationEndToEnd, APassingBoardGetsItsSignedReportAndTheSuccessBox)
{
    StationScenario s(4, 2);
    const std::string output = s.MakeOutput();
    // With standard error on a terminal the runs show their progress there. (On Windows the tests
    // have no terminal to give the program: kTerminalForStderr.)
    const ProcessResult r =
        s.Run({s.Bsdl(), s.WriteVectors(), output + "//"}, "123\n0.5\n0\n", {}, qbxtest::kTerminalForStderr);
    EXPECT_EQ(r.status, 0) << r.out;
    if (qbxtest::kTerminalForStderr) {
        const std::string last = std::to_string(s.VectorCount());
        EXPECT_THAT(r.err, HasSubstr("Run 1 of 3: vector 1 of " + last));
        EXPECT_THAT(r.err, HasSubstr("Run 3 of 3: vector " + last + " of " + last));
    }
    EXPECT_THAT(r.out, Not(HasSubstr("Run 1 of 3")));

    const Console console(r.out);
    const std::string thermometer = SensorId(0x10, kThermometer);
    const std::string report = platform::JoinPath(output, "QBX_123_") + thermometer + ".txt";
    const std::string digest = console.lines.at(0);  // "vectors=" and the vector file's digest
    EXPECT_TRUE(std::regex_match(digest, std::regex("vectors=[0-9A-F]{32}"))) << digest;
    EXPECT_TRUE(console.InOrder({
        "Output Error on " + platform::JoinPath(output, "error.txt") + " file",
        "Vectors TruTable on " + platform::JoinPath(output, "truetable.txt") + " file",
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
    EXPECT_THAT(r.out, Not(HasSubstr("Vector ")));
    EXPECT_EQ(console.serialPrompts, 2u);
    EXPECT_EQ(console.currentPrompts, 1u);
    EXPECT_EQ(Occurrences(r.out, platform::FormatMessageBox("Test Board SUCCESS\ngenerated file " + report, platform::BoxIcon::Info)), 1u);
    EXPECT_EQ(ReadFile(platform::JoinPath(output, "error.txt")), "");
    EXPECT_EQ(ReadFile(platform::JoinPath(output, "truetable.txt")), s.ExpectedTruthTable());

    // The report: eleven lines, the values the console showed, the signature verified.
    ASSERT_EQ(Reports(output), std::vector<std::string>{report});
    const std::vector<std::string> lines = CrLfLines(ReadFile(report));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "0x" + thermometer + ",0x" + SensorId(0x20, kAdc1) + ",0x" + SensorId(0x20, kAdc2));
    EXPECT_EQ(lines[1], "Icc=0.500");
    for (size_t i = 2; i <= 6; ++i)
        EXPECT_EQ(console.Count(lines[i]), 1u) << lines[i];  // Vin, Vmem, Vmem_fault, I, Bus
    EXPECT_EQ(lines[6], "Bus=0");
    EXPECT_EQ(lines[7], "Temperature=24.50");
    EXPECT_EQ(lines[8], digest);
    EXPECT_EQ(lines[9], "Test Interconnections OK");
    ExpectVerified(report);
}

TEST(StationEndToEnd, EachFaultKindFailsItsBoardWithItsOwnMessagesAndEveryBoardIsSearchedAfresh)
{
    // Nine boards in one run, each with other sensor serial numbers.
    StationScenario s(4, 2);
    for (uint64_t i = 1; i < 9; ++i)
        s.AddBoard(i);
    const std::vector<TestNet>& nets = s.Nets();
    auto bit = [&](size_t n, int j) { return nets[n].bits[static_cast<size_t>(j)] - '0'; };
    s.Board(0)["faults"] = {{{"open", nets[1].driver.Endpoint()}}};
    s.Board(1)["faults"] = {{{"short", {nets[0].driver.Endpoint(), nets[2].driver.Endpoint()}}}};
    s.Board(2)["faults"] = {{{"stuck", nets[3].driver.Endpoint()}, {"value", 0}}};
    s.Board(3)["idcodes"].erase(7);
    s.Board(4)["idcodes"][3] = "0x0A74E1CF";
    s.Board(5)["onewire"][0]["powered"] = false;
    s.Board(6)["onewire"].erase(2);  // adcsensor2, which also switches the JTAG chain on
    s.Board(8)["onewire"].erase(0);  // no thermometer, though the board before had one
    const std::string output = s.MakeOutput();
    std::string input;
    for (int board = 1; board <= 9; ++board)
        input += std::to_string(board) + "\n0.5\n";
    const ProcessResult r = s.Run({s.Bsdl(), s.WriteVectors(), output}, input + "0\n");
    ExpectCleanEnd(r);
    const std::vector<std::string> boards = PerBoard(r.out);
    ASSERT_EQ(boards.size(), 10u) << r.out;

    // Per board: the messages reported (each once, in this order), lines that must show and lines
    // that must not.
    struct Expected {
        std::string reported;
        std::vector<std::string> shown;
        std::vector<std::string> absent;
    };
    const std::string measured = "Temperature=24.50";  // read after the runs
    const Expected expected[9] = {
        {VectorErrors(s, [&](size_t n, int j) { return n == 1 ? 1 : bit(n, j); }), {measured, "Bus=0"}, {}},  // pull-up
        {VectorErrors(s, [&](size_t n, int j) { return n == 0 || n == 2 ? bit(0, j) & bit(2, j) : bit(n, j); }),
         {measured, "Bus=1"}, {}},  // shorted nets read their wired AND
        {VectorErrors(s, [&](size_t n, int j) { return n == 3 ? 0 : bit(n, j); }), {measured}, {}},
        {"ERROR JTAG chain interrupted\r\n", {"Temperature=24.50"}, {"Vector "}},
        {"ERROR id=0A74E1CF\r\n", {}, {"Vector "}},
        {"Warning Sensor DS18S20 " + SensorId(0x10, kThermometer, 5) + " not powered or read error\r\n"
         "Warning Sensor DS18S20 " + SensorId(0x10, kThermometer, 5) + " not powered or read error\r\n"
         "QBX 1 Sensor DS18S20 not found\r\n",
         {"Vin="}, {"id=", "Temperature="}},
        {"QBX 1 Sensor DS2450 not found\r\n", {"QBX 1 adcsensor1 id " + SensorId(0x20, kAdc1, 6)}, {"Vin=", "id="}},
        {"", {"QBX 1 sensor id " + SensorId(0x10, kThermometer, 7), "Test Interconnections OK"}, {}},
        {"QBX 1 Sensor DS18S20 not found\r\n", {"QBX 1 adcsensor2 id " + SensorId(0x20, kAdc2, 8)}, {}},
    };
    for (size_t b = 0; b < 9; ++b) {
        SCOPED_TRACE("board " + std::to_string(b + 1));
        const std::string& shown = boards[b];
        // Exactly these messages, once: the first failing run ends the runs.
        EXPECT_EQ(Reported(shown), expected[b].reported);
        for (const std::string& line : expected[b].shown)
            EXPECT_THAT(shown, HasSubstr(line));
        for (const std::string& line : expected[b].absent)
            EXPECT_THAT(shown, Not(HasSubstr(line)));
        EXPECT_THAT(shown, HasSubstr(b == 7 ? "| Test Board SUCCESS" : FailBox(output)));
        EXPECT_EQ(Occurrences(shown, "Test Interconnections OK"), b == 7 ? 1u : 0u);
        EXPECT_EQ(Occurrences(shown, "QBX 1 sensor id "), b == 5 || b == 8 ? 0u : 1u);
    }
    // The error file holds the last board's messages only; the passing board has its report.
    EXPECT_EQ(ReadFile(platform::JoinPath(output, "error.txt")), "QBX 1 Sensor DS18S20 not found\r\n");
    const std::string report = platform::JoinPath(output, "QBX_8_") + SensorId(0x10, kThermometer, 7) + ".txt";
    ASSERT_EQ(Reports(output), std::vector<std::string>{report});
    EXPECT_EQ(CrLfLines(ReadFile(report)).at(6), "Bus=1");
    ExpectVerified(report);
}

TEST(StationEndToEnd, AUsbLinkThatDiesOrFallsSilentMidRunFailsTheBoardWithOneLineAndNoReport)
{
    StationScenario s(4);
    const std::string vectors = s.WriteVectors();
    // Where the first interconnection run's USB writes lie, from the simulator's trace of a passing run.
    const std::string traced = s.MakeOutput("traced");
    const ProcessResult passing = s.Run({s.Bsdl(), vectors, traced}, "5\n0.5\n0\n", {{"QBXSIM_TRACE", platform::JoinPath(traced, "trace.txt")}});
    ASSERT_EQ(Occurrences(passing.out, "Test Board SUCCESS"), 1u) << passing.out;
    const uint64_t insideTheRun = WritesIntoFirstRun(ReadFile(platform::JoinPath(traced, "trace.txt")));
    ASSERT_GT(insideTheRun, 100u);

    // A dead link fails every transfer; a silent one answers nothing, so that every read waits for
    // its 5 s time-out: the run stops at the first, the switch and the temperature wait once more.
    // Only the dead link can be told from a board fault, and is named.
    for (const char* fault : {"fail_after_writes", "mute_after_writes"}) {
        SCOPED_TRACE(fault);
        s.BoardFile()["adapter"] = {{"present", true}, {fault, insideTheRun}};
        const std::string output = s.MakeOutput(fault);
        const ProcessResult r = s.Run({s.Bsdl(), vectors, output}, "5\n0.5\n0\n");
        ExpectCleanEnd(r);
        const std::string errors = ReadFile(platform::JoinPath(output, "error.txt"));
        // What came back from the link is not compared: one line for the run, then what the
        // failing I2C side reports.
        EXPECT_TRUE(std::regex_match(CrLfLines(errors).at(0), std::regex("Vector [0-9]+ \\(abs=[0-9]+\\) NETS ERROR JTAG transfer failed")))
            << errors;
        EXPECT_EQ(Occurrences(errors, "transfer failed"), 1u) << errors;
        EXPECT_THAT(errors, Not(HasSubstr("read=")));
        EXPECT_THAT(errors, HasSubstr("Read Temperature ERROR\r\n"));
        const std::string lost = "USB adapter lost: every transfer to FT2232H MiniModule A and FT2232H MiniModule B fails\r\n";
        EXPECT_EQ(Occurrences(errors, lost), fault == std::string("fail_after_writes") ? 1u : 0u) << errors;
        EXPECT_EQ(Occurrences(r.out, FailBox(output)), 1u);
        EXPECT_TRUE(Reports(output).empty());
    }
}

// The system's texts here are POSIX's, and links need a privilege on Windows: on Windows
// platform/files_win_test.cpp checks what result files and folders refuse there.
#ifndef _WIN32
TEST(StationEndToEnd, TheOutputFolderIsCheckedAtStartUpAndNoResultFileIsWrittenThroughALink)
{
    StationScenario s(2);
    const std::string vectors = s.WriteVectors();
    const std::string plain = s.Dir().File("not-a-folder");
    WriteFile(plain, "x");
    struct Case {
        std::string output;
        std::string said;
    };
    const Case cases[] = {
        {s.Dir().File("missing"), "Output folder " + s.Dir().File("missing") + ": No such file or directory\r\n"},
        {plain, "Output folder " + plain + ": Not a directory\r\n"},
        {"", "USE: Test_QBX_FPGA <bsd file> <vectors file> <ouptut path>\r\nOutput folder: the argument is empty\r\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = s.Run({s.Bsdl(), vectors, c.output}, "9\n0.5\n0\n");
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_THAT(r.out, HasSubstr(c.said));
        EXPECT_EQ(Console(r.out).serialPrompts, 0u) << "no board is tested";
    }
    EXPECT_EQ(ReadFile(plain), "x");

    // Links planted in the result files' places are never followed: an error file there stops the
    // station; a truth table or report there is not written, and says why.
    const std::string output = s.MakeOutput();
    const std::string precious = s.Dir().File("precious");
    WriteFile(precious, "precious");
    std::filesystem::create_symlink(precious, platform::JoinPath(output, "error.txt"));
    ProcessResult r = s.Run({s.Bsdl(), vectors, output}, "9\n0.5\n0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("Open file " + platform::JoinPath(output, "error.txt") + " Error\r\n" + platform::JoinPath(output, "error.txt:") + " a symbolic link, not followed\r\n"));
    std::filesystem::remove(platform::JoinPath(output, "error.txt"));
    const std::string report = platform::JoinPath(output, "QBX_9_") + SensorId(0x10, kThermometer) + ".txt";
    std::filesystem::create_symlink(precious, platform::JoinPath(output, "truetable.txt"));
    std::filesystem::create_symlink(precious, report);
    r = s.Run({s.Bsdl(), vectors, output}, "9\n0.5\n0\n");
    ExpectCleanEnd(r);
    EXPECT_TRUE(Console(r.out).InOrder({
        "Error writing Vectors TruTable on " + platform::JoinPath(output, "truetable.txt") + " file",
        platform::JoinPath(output, "truetable.txt:") + " a symbolic link, not followed",
        "Test Interconnections OK",
        "ERROR Open output file " + report + " ",
        report + ": a symbolic link, not followed",
    })) << r.out;
    EXPECT_EQ(Occurrences(r.out, FailBox(output)), 1u);
    EXPECT_EQ(ReadFile(precious), "precious");
    EXPECT_EQ(ReadFile(platform::JoinPath(output, "error.txt")), "ERROR Open output file " + report + " \r\n");
}
#endif  // _WIN32

// The first station runs through popen and a POSIX shell; on Windows
// platform/files_win_test.cpp checks the folder lock.
#ifndef _WIN32
TEST(StationEndToEnd, ASecondStationOnTheSameOutputFolderRefusesToStart)
{
    StationScenario s(1);
    const std::string vectors = s.WriteVectors();
    const std::string output = s.MakeOutput();
    const std::string firstOut = s.Dir().File("first.txt");
    // The first station waits at its serial prompt, its input held open.
    const std::string command = "USBWIRE_DRIVER='" + SimulatorPath() + "' QBXSIM_BOARD='" + WriteBoardFile(s.Dir(), s.BoardFile()) +
                                "' '" + BuiltProgram("Test_QBX_FPGA") + "' '" + s.Bsdl() + "' '" + vectors + "' '" + output +
                                "' > '" + firstOut + "' 2>&1";
    std::FILE* first = ::popen(command.c_str(), "w");
    ASSERT_NE(first, nullptr);
    for (int i = 0; i < 600 && ReadFile(firstOut).find(kSerialPrompt) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_THAT(ReadFile(firstOut), HasSubstr(kSerialPrompt));

    ProcessResult r = s.Run({s.Bsdl(), vectors, output + "/"}, "0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("Output folder " + output + ": in use by another station\r\n"));
    EXPECT_THAT(r.out, Not(HasSubstr("Output Error on")));

    std::fputs("0\n", first);
    EXPECT_EQ(::pclose(first), 0);
    r = s.Run({s.Bsdl(), vectors, output}, "0\n");
    ExpectCleanEnd(r);
}
#endif  // _WIN32

// A small tmpfs stands for the full disk: Linux only.
#ifndef _WIN32
TEST(StationEndToEnd, AFullDiskIsSaidOnTheConsoleAndInTheFailBox)
{
    // A small file system of its own, filled but for a little room: needs root (mount).
    StationScenario s(16);
    const std::string output = s.MakeOutput();
    if (std::system(("mount -t tmpfs -o size=64k qbxtest '" + output + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): the full disk is not tested";
    struct Unmount {
        std::string path;
        ~Unmount() { (void)std::system(("umount '" + path + "'").c_str()); }
    } unmount{output};
    WriteFile(platform::JoinPath(output, "filler"), std::string(64 * 1024 - 2 * 4096, 'f'));  // one page for the table, one for errors
    for (const TestNet& net : s.Nets())
        s.Board()["faults"].push_back({{"open", net.driver.Endpoint()}});  // every receiver reads wrong
    const ProcessResult r = s.Run({s.Bsdl(), s.WriteVectors(), output}, "7\n0.5\n0\n");
    ExpectCleanEnd(r);
    const std::string said = "Error writing file " + platform::JoinPath(output, "error.txt:") + " No space left on device (its messages are incomplete)";
    EXPECT_EQ(Console(r.out).Count(said), 1u) << r.out;
    const std::string box = platform::FormatMessageBox("Test Board FAIL\nsee console messages and\nfile " + output +
                                                           "/error.txt\nfor vectors errors\n(the file is incomplete: No space left on device)",
                                                       platform::BoxIcon::Error);
    EXPECT_EQ(Occurrences(r.out, box), 1u) << r.out;
    const std::string errors = ReadFile(platform::JoinPath(output, "error.txt"));
    EXPECT_FALSE(errors.empty());
    EXPECT_EQ(errors.substr(errors.size() - 2), "\r\n") << "whole lines only";
    EXPECT_EQ(r.out.find(errors), r.out.find("Vector 1 (abs=0)")) << "the file holds the first messages, in order";
}
#endif  // _WIN32

// ---- operator input and the ends of a run -----------------------------------------------------

// Boards that fail at once (no converters: no JTAG work).
void MakeQuickBoards(StationScenario& s)
{
    s.Board()["onewire"] = nlohmann::json::array({s.Board()["onewire"][0]});
    s.AddBoard(1);
    s.AddBoard(2);
}

TEST(StationEndToEnd, InputThatIsNotANumberIsAskedAgainAndACurrentBeyondTheRangeEndsTheRun)
{
    StationScenario s(1);
    MakeQuickBoards(s);
    const std::string output = s.MakeOutput();
    const ProcessResult r = s.Run({s.Bsdl(), s.WriteVectors(), output},
                                  std::string(1024, '0') + "123\nabc\n\n1x\n-3\n1\nx.5\nnan\n0.4\n2\n0.8\n3\n0.81\n4\n0.5\n");
    ExpectCleanEnd(r);
    const Console console(r.out);
    EXPECT_TRUE(console.InOrder({
        "Line too long (more than 1024 characters), not read",  // not serial 0
        "Not a serial number: \"abc\" (enter 0 to 4294967295)",  // the blank line is passed over
        "Not a serial number: \"1x\" (enter 0 to 4294967295)",
        "Not a serial number: \"-3\" (enter 0 to 4294967295)",
        "Not a current: \"x.5\" (enter amperes, e.g. 0.5)",
        "Not a current: \"nan\" (enter amperes, e.g. 0.5)",
        "QBX 1 Sensor DS2450 not found",  // 0.4 and 0.8 are accepted
        "QBX 1 Sensor DS2450 not found",
        "Invalid Board Current=0.810 (must be from 0.4 to 0.8)",
    })) << r.out;
    EXPECT_EQ(console.lines.back(), "Invalid Board Current=0.810 (must be from 0.4 to 0.8)");  // not asked again
    EXPECT_EQ(console.serialPrompts, 5u + 1 + 1);
    EXPECT_EQ(console.currentPrompts, 3u + 1 + 1);
    EXPECT_EQ(Occurrences(r.out, FailBox(output)), 2u);
    EXPECT_EQ(ReadFile(platform::JoinPath(output, "error.txt")), "") << "the third board ended at the current prompt";
}

TEST(StationEndToEnd, SerialZeroTheEndOfTheInputOrACurrentBelowTheRangeEndTheRunCleanly)
{
    StationScenario s(1);
    MakeQuickBoards(s);
    const std::string vectors = s.WriteVectors();
    struct Case {
        std::string input;
        size_t serialPrompts;
        std::string errors;  // the error file: the last board's messages
        std::string shown;
    };
    const Case cases[] = {
        {"0\n", 1, "", ""},  // the error file exists and is empty
        {"", 1, "", ""},
        {"5\n", 1, "", ""},
        {"5\n0.5\n", 2, "QBX 1 Sensor DS2450 not found\r\n", ""},  // the board's box, then the end
        {"1\n0.39\n2\n", 1, "", "Invalid Board Current=0.390 (must be from 0.4 to 0.8)\r\n"},  // not asked again
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("input \"" + c.input + "\"");
        const std::string output = s.MakeOutput("out" + std::to_string(i));
        const ProcessResult r = s.Run({s.Bsdl(), vectors, output + "///"}, c.input);
        ExpectCleanEnd(r);
        const Console console(r.out);
        EXPECT_EQ(console.serialPrompts, c.serialPrompts);
        EXPECT_THAT(r.out, HasSubstr(c.shown));
        EXPECT_EQ(Occurrences(r.out, "Test Board"), c.serialPrompts - 1);
        ASSERT_TRUE(FileExists(platform::JoinPath(output, "error.txt")));
        EXPECT_EQ(ReadFile(platform::JoinPath(output, "error.txt")), c.errors);
        EXPECT_EQ(ReadFile(platform::JoinPath(output, "truetable.txt")), s.ExpectedTruthTable());
    }
}

TEST(StationEndToEnd, AStationThatCannotStartSaysWhyAndWritesNothing)
{
    StationScenario s(2);
    const std::string output = s.MakeOutput();
    const std::string vectors = s.WriteVectors();
    const std::string pin = s.Nets()[0].driver.pin;
    const std::string text = s.VectorText();
    const std::string usage = "USE: Test_QBX_FPGA <bsd file> <vectors file> <ouptut path>\r\n";
    auto vectorFile = [&](const std::string& name, const std::string& content) {
        WriteFile(s.Dir().File(name), content);
        return s.Dir().File(name);
    };
    // Files that would test nothing, files cut short, files that are no files at all.
    const std::string nothing = ": no vector senses a pin: the file would test nothing and pass every board\r\n";
    std::vector<std::pair<std::string, std::string>> refused = {
        {vectorFile("device9.vec", text + "<MORE>\r\nSENSOR:\r\n9-" + pin + " 01\r\n</MORE>\r\n"),
         "Error device 9 of pin " + pin + " not in the chain (0 to 7)\r\n"},
        {vectorFile("device9.vec", text + "<MORE>\r\nSENSOR:\r\n9-" + pin + " 01\r\n</MORE>\r\n"), ": 1 pin line refused\r\n"},
        {vectorFile("empty.vec", ""), nothing},
        {vectorFile("comments.vec", "# nothing but comments\r\n# here\r\n"), nothing},
        {vectorFile("garbage.vec", std::string("\x7F" "ELF\x02\x01\x01\0\0\0<\xFF>\x01", 15)), nothing},
        {vectorFile("no-tag.vec", "DRIVE:\r\n0-" + pin + " 01\r\nSENSOR:\r\n1-" + pin + " 01\r\n"), nothing},
        {vectorFile("drive-only.vec", text.substr(0, text.find("SENSOR:")) + "</NETS>\r\n"), nothing},
        {vectorFile("cut.vec", text.substr(0, text.find("SENSOR:"))), ": group <NETS> is not closed before the end of the file\r\n"},
        {s.Dir().Path(), ": a folder, not a regular file\r\n"},
    };
#ifdef _WIN32
    refused.emplace_back("NUL", ": a device, not a regular file\r\n");
#else
    const std::string fifo = s.Dir().File("fifo.vec");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    refused.emplace_back(fifo, ": a FIFO, not a regular file\r\n");
    refused.emplace_back("/dev/zero", ": a device, not a regular file\r\n");
#endif
    for (const auto& [file, said] : refused) {
        const ProcessResult r = s.Run({s.Bsdl(), file, output}, "5\n0.5\n0\n");
        EXPECT_EQ(r.status, 1) << file;
        EXPECT_THAT(r.out, HasSubstr("vectors file " + file + " not found\r\n"));
        EXPECT_THAT(r.out, HasSubstr(said[0] == ':' ? file + said : said));
        EXPECT_FALSE(r.timedOut);
    }
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {{}, 0, usage},
        {{s.Bsdl(), vectors}, 0, usage},
        {{s.Dir().File("none.bsd"), vectors, output}, 1, "bsd file " + s.Dir().File("none.bsd") + " not found\r\n"},
        {{s.Dir().Path(), vectors, output}, 1, "bsd file " + s.Dir().Path() + " not found\r\n" + s.Dir().Path() + ": a folder, not a regular file\r\n"},
        {{s.Bsdl(), s.Dir().File("none.vec"), output}, 1, "vectors file " + s.Dir().File("none.vec") + " not found\r\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = s.Run(c.args, "5\n0.5\n0\n");
        EXPECT_EQ(r.status, c.status) << c.out;
        EXPECT_EQ(r.out, c.out);
    }
    EXPECT_TRUE(std::filesystem::is_empty(output)) << "nothing is written before the files are loaded";

    // Lines the reader takes other than they may have been meant are named; the station starts.
    // (FPGAs 5 and 6 have none of the scenario's nets.)
    const std::string other = s.Nets()[0].receivers[0].pin;
    const std::string warned = vectorFile("warned.vec", "<EXTRA>\r\nSENSOR:\r\n5-" + other + " 111\r\n6-" + other + " 11\r\n7 - " +
                                                            other + " 11\r\n</EXTRA>\r\n" + text);
    ProcessResult r = s.Run({s.Bsdl(), warned, output}, "0\n");
    ExpectCleanEnd(r);
    EXPECT_THAT(r.out, HasSubstr("Warning vectors file " + warned + " line 4: 2 values, where group EXTRA has 3\r\n"
                                 "Warning vectors file " + warned + " line 5: not a pin line (no bit string of 0 and 1 after the pin), skipped\r\n"
                                 "vectors="));

    // A BSDL file of an unexpected layout: each section not found is named.
    const std::string odd = s.Dir().File("odd.bsd");
    WriteFile(odd, "entity ODD is\r\nend ODD;\r\n");
    r = s.Run({odd, vectors, output}, "0\n");
    std::string warnings;
    for (const char* section : {"port list", "pin map", "boundary length", "boundary register"})
        warnings += "Warning bsd file " + odd + ": " + section + " not found\r\n";
    EXPECT_THAT(r.out, HasSubstr(warnings));

    // Without the adapter the error box comes and the station ends.
    s.BoardFile()["adapter"]["present"] = false;
    r = s.Run({s.Bsdl(), vectors, output}, "5\n0.5\n");
    ExpectCleanEnd(r);
    EXPECT_EQ(Occurrences(r.out, platform::FormatMessageBox("Error Open Device: FT2232H MiniModule B", platform::BoxIcon::Error)), 1u);
    EXPECT_EQ(Console(r.out).serialPrompts, 0u);
}

TEST(StationEndToEnd, TheDemoSequenceGivesTheStoredConsoleAndFilesByteForByte)
{
    // examples/demo/ holds what scripts/demo.sh shows: the console of the run in out/demo and the
    // files it leaves. The run here starts in a folder of its own, so that every path matches.
    const std::string examples = ExamplesDir();
    TempDir dir;
    std::filesystem::create_directories(dir.File("out/demo"));
    ProcessOptions options;
    options.args = {examples + "/a3pe3000.bsd", examples + "/interconnect.vec", "out/demo"};
    options.input = ReadFile(examples + "/operator-input.txt");
    options.workingDirectory = dir.Path();
    const ProcessResult r = RunStation(examples + "/boards/sequence.json", options);
    ExpectCleanEnd(r);
    // The same on every system, but for the separator the station puts before a file's name and,
    // in a build without the results database (Windows), the start-up line that says so.
    std::string console = ReadFile(examples + "/demo/console.txt");
    const std::string recorded = "Results database out/demo/results.db\r\n";
    if (!ResultsDatabaseBuilt() && console.find(recorded) != std::string::npos)
        console.replace(console.find(recorded), recorded.size(), "Results are not recorded: this build has no results database\r\n");
    for (size_t at = console.find("out/demo/"); at != std::string::npos; at = console.find("out/demo/", at + 1))
        console.replace(at, 9, platform::JoinPath("out/demo", ""));
    EXPECT_EQ(r.out, console);
    for (const char* file : {"error.txt", "truetable.txt", "QBX_1001_6C00080157A3B210.txt"})
        EXPECT_EQ(ReadFile(dir.File("out/demo/") + file), ReadFile(examples + "/demo/" + file)) << file;
    ASSERT_EQ(Reports(dir.File("out/demo")).size(), 1u);
    ExpectVerified(Reports(dir.File("out/demo"))[0]);
}
