// For the end-to-end tests and the benchmark: run the built Test_QBX_FPGA as an operator would
// (arguments, typed input, environment naming the board simulator) and build small boards with
// their vector files. Test-only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim_board.h"

namespace qbxtest {

// The station, the simulator and the report checker of this build.
std::string StationPath();
std::string VerifyReportPath();

// One FPGA pin as the board file and the vector file name it.
struct PinRef {
    int fpga = 0;
    std::string pin;    // package pin, e.g. "G23"
    std::string port;   // port name, e.g. "LNK48"
    std::string Endpoint() const { return std::to_string(fpga) + ":" + pin; }
};

// A net: one driver, its receivers, and its value in every vector.
struct TestNet {
    PinRef driver;
    std::vector<PinRef> receivers;
    std::string bits;
};

// A board with nets across the chain and the vector file that tests them: N nets, L bits with
// L = ceil(log2(N + 2)); net i carries the code i + 1 (most significant bit first) and then its
// complement, so 2L vectors in one group. Pins are taken from the BSDL file in table order: every
// port with input, output and control cells and a package pin, except LOCKPLL.
class StationScenario {
public:
    // nets: how many; receivers: per net (1 or more).
    explicit StationScenario(int nets = 4, int receivers = 1, const std::string& group = "NETS");

    const TempDir& Dir() const { return m_Dir; }
    const std::string& Bsdl() const { return m_Bsdl; }
    const std::string& Group() const { return m_Group; }
    const std::vector<TestNet>& Nets() const { return m_Nets; }
    int VectorCount() const { return m_Nets.empty() ? 0 : static_cast<int>(m_Nets[0].bits.size()); }

    // The board file: one healthy board with these nets and no bridge busy reads; the caller may
    // change it before writing.
    nlohmann::json& BoardFile() { return m_BoardFile; }
    nlohmann::json& Board(size_t i = 0) { return m_BoardFile.at("boards").at(i); }
    // Appends a copy of board 0 with other sensor serial numbers (offset added to each).
    nlohmann::json& AddBoard(uint64_t serialOffset);

    // The vector file's text: "<group>", "DRIVE:" with the drivers, "SENSOR:" with the receivers.
    std::string VectorText() const;
    // Writes the vector file and the board file; returns their paths.
    std::string WriteVectors(const std::string& name = "nets.vec") const;
    std::string WriteBoard(const std::string& name = "board.json") const;
    // A fresh output folder inside the scenario's folder.
    std::string MakeOutput(const std::string& name = "out") const;

    // Runs the station with this board file: BSDL, vector file and output folder as given.
    ProcessResult Run(const std::string& vectors, const std::string& output, const std::string& input,
                      std::map<std::string, std::optional<std::string>> env = {}, bool stderrOnTerminal = false) const;

    // The truth table the station should write for VectorText().
    std::string ExpectedTruthTable() const;

    // The error line of a wrong receiver in vector j.
    std::string VectorError(int j, const PinRef& receiver, int read, int expected) const;

private:
    TempDir m_Dir;
    std::string m_Bsdl;
    std::string m_Group;
    std::vector<TestNet> m_Nets;
    nlohmann::json m_BoardFile;
};

// The 1-Wire identity of a sensor as the station prints it (upper-case hexadecimal).
std::string SensorId(uint8_t family, const std::string& serialText);

}  // namespace qbxtest
