#include "sim_board.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

namespace qbxtest {

namespace fs = std::filesystem;

std::string WriteFallbackBsdl(const std::string& folder)
{
    constexpr int kPorts = 808;  // three cells each: 2424
    auto portName = [](int i) { return i == 0 ? std::string("LOCKPLL") : "IO_" + std::to_string(i); };
    auto pinName = [](int i) { return std::string(1, static_cast<char>('A' + i / 32)) + std::to_string(i % 32 + 1); };

    std::string text;
    text += "-- A3PE3000 boundary-scan description for the station's tests\r\n";
    text += "entity A3PE3000 is\r\n";
    text += "  generic (PHYSICAL_PIN_MAP : string := \"FG896\");\r\n";
    text += "  port(\r\n";
    text += "    TCK : in bit;\r\n    TDI : in bit;\r\n    TMS : in bit;\r\n    TDO : out bit;\r\n";
    for (int i = 0; i < kPorts; ++i)
        text += "    " + portName(i) + " : inout bit" + (i + 1 < kPorts ? ";\r\n" : "\r\n");
    text += "  );\r\n";
    text += "  use STD_1149_1_2001.all;\r\n";
    text += "  attribute PIN_MAP of A3PE3000 : entity is PHYSICAL_PIN_MAP;\r\n";
    text += "  constant FG896 : PIN_MAP_STRING :=\r\n";
    for (int i = 0; i < kPorts; ++i)
        text += "    \"" + portName(i) + ":" + pinName(i) + (i + 1 < kPorts ? ", \" &\r\n" : " \";\r\n");
    text += "  attribute INSTRUCTION_LENGTH of A3PE3000 : entity is 8;\r\n";
    text += "  attribute IDCODE_REGISTER of A3PE3000 : entity is \"00111110011101001110000111001111\";\r\n";
    text += "  attribute BOUNDARY_LENGTH of A3PE3000 : entity is 2424;\r\n";
    text += "  attribute BOUNDARY_REGISTER of A3PE3000 : entity is";  // the first cell on this line
    for (int i = 0; i < kPorts; ++i) {
        const int in = 3 * i;
        const std::string port = portName(i);
        text += std::string(i == 0 ? " " : "    ") + "\"" + std::to_string(in) + " (BC_1, " + port + ", input, X),\" &\r\n";
        text += "    \"" + std::to_string(in + 1) + " (BC_1, " + port + ", output3, X, " + std::to_string(in + 2) +
                ", 0, Z),\" &\r\n";
        text += "    \"" + std::to_string(in + 2) + " (BC_1, *, control, 0)" + (i + 1 < kPorts ? ",\" &\r\n" : "\";\r\n");
    }
    text += "end A3PE3000;\r\n";

    const std::string path = folder + "/qbx_a3pe3000.bsd";
    WriteFile(path, text);
    return path;
}

std::string BsdlForTests(const TempDir& dir)
{
    const std::string example = std::string(QBX_SOURCE_DIR) + "/examples/a3pe3000.bsd";
    std::error_code error;
    return fs::is_regular_file(example, error) ? example : WriteFallbackBsdl(dir.Path());
}

nlohmann::json HealthyBoard(const std::string& bsdlPath)
{
    using nlohmann::json;
    json board = {
        {"name", "healthy"}, {"chain_address", 1}, {"idcodes", json(std::vector<std::string>(8, kHealthyIdCode))},
        {"pull", 1}, {"nets", json::array()}, {"faults", json::array()},
        {"onewire",
         json::array({
             {{"type", "DS18S20"}, {"serial", "00080157A3B2"}, {"powered", true}, {"celsius", 24.5}},
             {{"type", "DS2450"}, {"serial", "0000000C1D2E"}, {"volts", {0.44, 3.30, 0.0, 1.80}}},
             {{"type", "DS2450"}, {"serial", "0000000C1D2F"}, {"volts", {3.30, 3.32, 1.65, 3.30}}, {"jtag_switch", true}},
         })},
    };
    return json{
        {"bsdl", bsdlPath},
        {"adapter", {{"present", true}, {"fail_after_writes", nullptr}, {"mute_after_writes", nullptr}}},
        {"bridge", {{"present", true}, {"busy_reads", 1}, {"stuck_busy", false}}},
        {"boards", json::array({board})},
    };
}

nlohmann::json& FirstBoard(nlohmann::json& boardFile) { return boardFile.at("boards").at(0); }

std::string WriteBoardFile(const TempDir& dir, nlohmann::json boardFile, std::string_view name)
{
    if (!boardFile.contains("bsdl"))
        boardFile["bsdl"] = BsdlForTests(dir);
    const std::string path = dir.File(name);
    WriteFile(path, boardFile.dump(2) + "\n");
    return path;
}

std::string SimulatorPath() { return std::string(QBX_BIN_DIR) + "/" QBX_LIBRARY("qbxsim"); }

void UseSimulator(const std::string& boardFile, const std::string& statsFile, const std::string& traceFile)
{
    setenv("USBWIRE_DRIVER", SimulatorPath().c_str(), 1);
    setenv("QBXSIM_BOARD", boardFile.c_str(), 1);
    for (const auto& [name, value] : {std::pair{"QBXSIM_STATS", &statsFile}, {"QBXSIM_TRACE", &traceFile}})
        value->empty() ? unsetenv(name) : setenv(name, value->c_str(), 1);
}

std::string ExamplesDir() { return std::string(QBX_SOURCE_DIR) + "/examples"; }

std::string ExampleBoards(const TempDir& dir, std::string_view name, int times, const nlohmann::json& adapter)
{
    using nlohmann::json;
    json file = json::parse(ReadFile(ExamplesDir() + "/boards/" + std::string(name)));
    file["bsdl"] = ExamplesDir() + "/a3pe3000.bsd";
    const json boards = file["boards"];
    file["boards"] = json::array();
    for (int i = 0; i < times; ++i)
        for (const json& board : boards)
            file["boards"].push_back(board);
    if (!adapter.is_null())
        file["adapter"] = adapter;
    const std::string path = dir.File(std::to_string(times) + "-" + std::to_string(std::hash<std::string>{}(adapter.dump())) + "-" + std::string(name));
    WriteFile(path, file.dump());
    return path;
}

std::string OperatorInput(uint32_t first, int boards)
{
    std::string input;
    for (int i = 0; i < boards; ++i)
        input += std::to_string(first + static_cast<uint32_t>(i)) + "\n0.5\n";
    return input + "0\n";
}

ProcessResult RunStation(const std::string& boardFile, ProcessOptions options)
{
    options.env.merge(std::map<std::string, std::optional<std::string>>{
        {"USBWIRE_DRIVER", SimulatorPath()}, {"QBXSIM_BOARD", boardFile}, {"QBXSIM_STATS", std::nullopt},
        {"QBXSIM_TRACE", std::nullopt}, {"QBX_RESULTS", std::nullopt}, {"QBX_BENCH", std::nullopt}});
    return RunProcess(BuiltProgram("Test_QBX_FPGA"), options);
}

std::string SerialText(uint64_t serial)
{
    char text[16];
    std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(serial & 0xFFFFFFFFFFFFull));
    return text;
}

uint64_t WritesIntoFirstRun(const std::string& trace)
{
    std::vector<std::pair<uint64_t, uint64_t>> blocksB;  // first write and number of writes
    uint64_t write = 0;
    char previous = 0;
    for (const std::string& line : CrLfLines(trace)) {
        if (line.size() < 3 || line[2] != 'W')
            continue;
        ++write;
        if (line[0] == 'B' && previous != 'B')
            blocksB.emplace_back(write, 0);
        if (line[0] == 'B')
            ++blocksB.back().second;
        previous = line[0];
    }
    if (blocksB.size() < 4)
        return 0;
    const auto firstRun = blocksB[blocksB.size() - 3];
    return firstRun.first + firstRun.second / 2;
}

}  // namespace qbxtest
