// Diagnosis to the net: which nets of the board a failing interconnection run points at, worked out
// from the vector file alone (no netlist).
//
// In a vector file made for a board's nets each DRIVE line drives one net, and its values over the
// vectors are the net's code; the SENSOR lines that expect the same values are that net's
// receivers. A failing run tells what every receiver read: the wrong cells it reported, every other
// cell as expected. From that:
//   - receivers of several nets reading the AND (or the OR) of those nets' codes, or a net's
//     receivers reading exactly another net's code: a short between those nets (two nets whose
//     codes are complementary read one constant level when shorted; one short explains that better
//     than two stuck nets, and the text says both);
//   - every receiver of a net reading one constant level: the net's driver is open (the board then
//     reads the net at its pull level) or the net is stuck at that level; the values cannot tell
//     the two apart, nor, on a net with one receiver, an open at that receiver;
//   - some receivers of a net reading a constant while the others read right: open at each of them;
//   - anything else: unexplained, with the pins and what they read.
// A net is named by its driver pin: FPGA, port name and package pin.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bsdl.h"

// One pin line of a vector file, as the station's reader hands it over.
struct _PINLINE {
    std::string group;
    int section = 0;  // SECTION_SENSOR or SECTION_DRIVE
    int fpga = 0;
    std::string pin;  // as written: a package pin, or "$" and a port name
    std::string bits;
};

// One end of a net.
struct _NETEND {
    int fpga = 0;
    std::string pin;      // as the vector file writes it
    std::string port;     // port name from the BSDL file (the pin as written when it is not there)
    std::string package;  // package pin, such as "G29" ("" when unknown)
    std::string values;   // its value in every vector of the file, '0' and '1'

    // "fpga 2 pin:LNK53 (L1)", as the station's error lines name a pin.
    std::string Name() const;
};

struct _NET {
    _NETEND driver;  // driver.values is the net's code
    std::vector<_NETEND> receivers;
};

// The nets of a vector file.
class CNetModel {
public:
    // Builds the nets from the pin lines, in file order, laying their values into vectors as the
    // board model does: a line's first value holds in every vector it does not set, its value i
    // (i >= 1) in the i-th vector named after its group. Whatever keeps the diagnosis from telling
    // nets apart or from placing a sensed pin on a net is appended to problems, one line each.
    void Build(const std::vector<_PINLINE>& lines, const _BSDLDATA& bsdl, std::vector<std::string>& problems);

    // Reads the vector file at path with the station's reader, then builds. False, with the reason
    // in problems, when the file cannot be read; digest receives the file's digest text.
    bool Load(const std::string& path, const _BSDLDATA& bsdl, std::vector<std::string>& problems, std::string& digest);

    // The net and receiver of a sensed pin, by FPGA and port name. False for a pin on no net.
    bool FindReceiver(int fpga, const std::string& port, size_t& net, size_t& receiver) const;

    std::vector<_NET> nets;
    std::vector<_NETEND> loose;  // sensed pins whose values are no driver's code
    size_t vectorCount = 0;

private:
    std::map<std::pair<int, std::string>, std::pair<size_t, size_t>> m_Receivers;
};

// A wrong cell of a failing run, as far as the diagnosis needs it.
struct _FAILEDPIN {
    int fpga = 0;
    std::string port;     // port name of the pin
    std::string package;  // its package pin
    int abs = 0;          // 0-based vector index
    int read = 0;
};

enum class NetFaultKind { Short, OpenOrStuck, OpenReceiver, Unexplained };

struct _NETFAULT {
    NetFaultKind kind = NetFaultKind::Unexplained;
    std::vector<size_t> nets;  // Short: two or more; else the net, or none for pins on no net
    std::vector<std::string> pins;  // OpenReceiver: the receiver; Unexplained: what each pin read
    int value = -1;                 // the constant level read (OpenOrStuck, OpenReceiver)
};

// The faults that explain the wrong cells of one failing run, nets in model order.
std::vector<_NETFAULT> Diagnose(const CNetModel& model, const std::vector<_FAILEDPIN>& failed);

// "short", "open-or-stuck", "open-receiver", "unexplained".
const char* NetFaultKindName(NetFaultKind kind);

// One line of text for the operator (no line end), such as "short between net fpga 2 pin:LNK53
// (L1) and net fpga 5 pin:LNK247 (W30)".
std::string DescribeNetFault(const CNetModel& model, const _NETFAULT& fault);
