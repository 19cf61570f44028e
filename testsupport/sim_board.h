// Helpers for tests that run against the board simulator (libqbxsim.so) through the real
// libusbwire.so: a temporary folder, board files, and the environment that makes usbwire load the
// simulator. Each GoogleTest case runs in its own process, so a test may set the environment for
// itself; it must do so before the first I2C_Open or JTAG_Open of the process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "test_files.h"

namespace qbxtest {

// The identification code of a healthy A3PE3000, as the board file writes it.
inline constexpr const char* kHealthyIdCode = "0x3E74E1CF";

// The example BSDL file of the source tree (examples/a3pe3000.bsd), or "" when it is not there.
std::string ExampleBsdlPath();

// Writes a BSDL file of the A3PE3000's shape into folder (a 2424-cell boundary register: 808 I/O
// ports, the first named LOCKPLL, each with an input, an output3 and a control cell; package pins
// A1..Z32) and returns its path. Used when the example file is absent.
std::string WriteFallbackBsdl(const std::string& folder);

// The example BSDL when present, else a fallback written into dir.
std::string BsdlForTests(const TempDir& dir);

// A healthy board file: eight FPGAs with code 0x3E74E1CF at chain address 1, pull-up 1, no nets,
// no faults; a powered DS18S20 (serial 00080157A3B2, 24.5 degrees C); two DS2450: adcsensor1
// (serial 0000000C1D2E, volts 0.44 3.30 0.00 1.80: B in (3.0, 3.7), A far from B) and adcsensor2
// (serial 0000000C1D2F, volts 3.30 3.32 1.65 3.30: |A - B| < 0.1, B in (3.0, 3.7)) whose channel A
// drives the JTAG switch. The bridge answers busy once per command. bsdlPath goes into "bsdl".
nlohmann::json HealthyBoard(const std::string& bsdlPath);

// The first board of a board file, for tests that modify it.
nlohmann::json& FirstBoard(nlohmann::json& boardFile);

// Writes the board file into dir under name and returns its path. A missing "bsdl" is filled with
// BsdlForTests(dir).
std::string WriteBoardFile(const TempDir& dir, nlohmann::json boardFile, std::string_view name = "board.json");

// Path of the simulator library beside the other built libraries.
std::string SimulatorPath();

// Makes the process use the simulator with the given board file: USBWIRE_DRIVER and QBXSIM_BOARD,
// and QBXSIM_STATS / QBXSIM_TRACE when given (else they are removed from the environment).
void UseSimulator(const std::string& boardFile, const std::string& statsFile = "", const std::string& traceFile = "");

// The number of USB writes after which a link fault (fail_after_writes, mute_after_writes) lands in
// the middle of the first interconnection run, from the simulator's trace of a passing run
// (QBXSIM_TRACE): the runs write channel B only, between the 1-Wire work on channel A that switches
// the chain on, so they are the last three blocks of channel-B writes. 0 when there are no such
// blocks.
uint64_t WritesIntoFirstRun(const std::string& trace);

// A 48-bit serial number as the board file writes it: 12 upper-case hexadecimal digits.
std::string SerialText(uint64_t serial);

}  // namespace qbxtest
