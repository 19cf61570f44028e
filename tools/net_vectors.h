// Interconnection test vectors for the nets of a simulator board file (qbx-vectors).
//
// Each net of the board has one driving pin (its first endpoint) and one or more receiving pins.
// The nets get codes from a counting sequence: with N nets and L = ceil(log2(N + 2)) code bits,
// net i carries the code i + 1, so that no two nets share a code and no code is all 0 or all 1.
// The vectors are the L code bits, most significant first, followed by their L complements: net
// i's driver drives, and its receivers expect, the 2·L values
//
//     bit L-1 of (i+1), ..., bit 0 of (i+1), NOT bit L-1 of (i+1), ..., NOT bit 0 of (i+1).
//
// Why every single fault of the board fails at least one vector (the board reads a net nobody
// drives at its pull level p, and two disagreeing drivers on one net as 0):
//   - An open receiver reads p, and an open driver leaves its whole net at p; a stuck net reads
//     its stuck value s. Each is a constant, but every net's values are not: code bit k and its
//     complement (vectors k and L+k) are one 0 and one 1, so one of the two expects NOT p (NOT s).
//   - Nets a and b shorted read, in every vector, the AND of what their drivers drive. The codes
//     a+1 and b+1 are distinct, so some bit k is 1 in one (say a) and 0 in the other: in vector
//     k net a drives 1 but reads 0, and in vector L+k net b drives 1 (the complement) but reads
//     0, so the receivers of both nets fail.
//   - No code is all 0 or all 1 (1 <= i+1 <= N <= 2^L - 2), so even the code half alone changes
//     every net's level at least once.
// The interconnection test compares only receivers (input cells); drivers are not read back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bsdl.h"

// One endpoint of a net, "<fpga>:<pin>" as the board file writes it ("2:AA14", "1:$DATA7").
struct _NETPIN {
    std::string text;  // the endpoint as written
    int fpga = -1;
    std::string pin;   // the part after ":", as written: a package pin or "$" + port name
};

// The nets of one board of a board file.
struct _NETLIST {
    std::string boardFile;   // the path given
    std::string bsdl;        // "bsdl" as the board file writes it
    std::string bsdlPath;    // the same, relative to the board file's folder
    size_t boardIndex = 0;
    size_t boardCount = 0;
    std::string boardName;   // "name" of the board, empty when it has none
    size_t chainLength = 0;  // entries of "idcodes": FPGA 0 .. chainLength-1
    std::vector<std::vector<_NETPIN>> nets;  // endpoint 0 drives, the others receive
};

// The tag name of the one group that the vector file holds.
inline constexpr const char* kInterconnectGroup = "INTERCONNECT";

// L, the number of code bits for n nets: the least L with 2^L >= n + 2 (1 for n = 0).
int CodeBits(size_t nets);

// The 2·L values of net `net` (0-based) with L code bits, as "0"/"1" characters: the bits of the
// code net+1 from the most significant, then their complements.
std::string NetBits(size_t net, int codeBits);

// Reads board `boardIndex` of the board file at path: its BSDL name, chain length and nets
// (faults and everything else are not read). False when the file cannot be used; each reason is
// then appended to errors as one line without line end.
bool ReadNetlist(const std::string& path, size_t boardIndex, _NETLIST& netlist, std::vector<std::string>& errors);

// Checks every endpoint of the nets against the BSDL description: the FPGA is in the chain, the
// pin exists and is not port LOCKPLL, no pin is on two nets (or twice on one), a driver has an
// output cell with its control cell and a receiver an input cell, every net has a driver and at
// least one receiver, and the board has a net. False when anything is wrong; every problem is
// appended to errors.
bool CheckNetlist(const _NETLIST& netlist, const _BSDLDATA& bsdl, std::vector<std::string>& errors);

// The vector file for the nets: a comment header saying how it was made, then the group with a
// "DRIVE:" section (the drivers) and a "SENSOR:" section (the receivers), one "d-PIN bits" line
// per endpoint in net order. Lines end in "\r\n". Depends only on the netlist's content and the
// board file's name (not its folder), so the same board gives the same bytes wherever it is run.
std::string FormatVectorFile(const _NETLIST& netlist);

// The whole command: qbx-vectors BOARD.json [--board N] [-o FILE]. Writes the vector file to
// FILE (replaced atomically) or to out, messages to err. Returns the exit status: 0 written,
// 1 the board file, its BSDL file or its nets cannot be used (or the output cannot be written),
// 2 a usage error.
int RunQbxVectors(const std::vector<std::string>& args, FILE* out, FILE* err);
extern const char* const kQbxVectorsUsage;
