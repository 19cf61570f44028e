// Helpers for tests against the board simulator (libqbxsim.so) through the real libusbwire.so: board
// files and the environment that loads the simulator. Each case runs in its own process and sets
// that environment before its first I2C_Open or JTAG_Open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "test_files.h"

namespace qbxtest {

// The identification code of a healthy A3PE3000, as the board file writes it.
inline constexpr const char* kHealthyIdCode = "0x3E74E1CF";

// Writes a BSDL file of the A3PE3000's shape into folder (808 I/O ports, the first LOCKPLL, with an
// input, an output3 and a control cell each: 2424 cells; pins A1..Z32) and returns its path.
std::string WriteFallbackBsdl(const std::string& folder);

// The example BSDL when present, else a fallback written into dir.
std::string BsdlForTests(const TempDir& dir);

// A healthy board file: eight FPGAs 0x3E74E1CF at chain address 1, pull-up 1, no nets or faults; a
// powered DS18S20 00080157A3B2 at 24.5 degrees C; DS2450 0000000C1D2E (0.44 3.30 0.00 1.80 V) and
// 0000000C1D2F (3.30 3.32 1.65 3.30 V, its channel A the JTAG switch); the bridge busy once a command.
nlohmann::json HealthyBoard(const std::string& bsdlPath);

// The first board of a board file, for tests that modify it.
nlohmann::json& FirstBoard(nlohmann::json& boardFile);

// Writes the board file into dir under name (a missing "bsdl" from BsdlForTests) and returns its path.
std::string WriteBoardFile(const TempDir& dir, nlohmann::json boardFile, std::string_view name = "board.json");

// Path of the simulator library beside the other built libraries.
std::string SimulatorPath();

// Sets USBWIRE_DRIVER and QBXSIM_BOARD, and QBXSIM_STATS / QBXSIM_TRACE when given (else unsets them).
void UseSimulator(const std::string& boardFile, const std::string& statsFile = "", const std::string& traceFile = "");

// From the trace of a passing run, the number of USB writes after which a link fault lands in the
// middle of the first interconnection run (the runs are the last three blocks of channel-B writes);
// 0 when there are no such blocks.
uint64_t WritesIntoFirstRun(const std::string& trace);

// The source tree's examples folder: the example BSDL, vectors, board files and operator input.
std::string ExamplesDir();

// examples/boards/<name> with the example BSDL, its boards repeated times and, when given, these
// "adapter" settings, written into dir (a file of its own for each name and adapter).
std::string ExampleBoards(const TempDir& dir, std::string_view name, int times = 1, const nlohmann::json& adapter = nullptr);

// Serial numbers first, first + 1, ... each with the current 0.5 A, then the serial 0 that ends.
std::string OperatorInput(uint32_t first, int boards);

// Runs the built Test_QBX_FPGA on the simulator with boardFile; options.env comes first, then no
// simulator statistics, trace, results database or bench name unless it names them.
ProcessResult RunStation(const std::string& boardFile, ProcessOptions options);

// A 48-bit serial number as the board file writes it: 12 upper-case hexadecimal digits.
std::string SerialText(uint64_t serial);

}  // namespace qbxtest
