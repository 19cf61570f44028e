// The board file (JSON, named by QBXSIM_BOARD): the BSDL file of the chain's FPGAs, the
// adapter's and the bridge's settings, and the boards that go through the socket in order.
//
//   {
//     "bsdl": "a3pe3000.bsd",
//     "adapter": {"present": true, "fail_after_writes": null, "mute_after_writes": null,
//                 "usb": {"serial_number": "FTQBXSIM", "permission_denied": false, "interfaces_in_use": [],
//                         "kernel_driver": false, "adapters": 1}},
//     "bridge": {"present": true, "busy_reads": 1, "stuck_busy": false},
//     "boards": [{"name": "healthy", "chain_address": 1, "idcodes": ["0x3E74E1CF", ...],
//                 "pull": 1, "nets": [["0:A12", "1:B3"], ["1:$DATA7", "2:AA14"]],
//                 "faults": [{"open": "1:B3"}, {"short": ["0:A12", "3:C9"]}, {"stuck": "2:AA14", "value": 0}],
//                 "tdo_stuck": null, "onewire": [{"type": "DS18S20", "serial": "00080157A3B2"}, ...]}]
//   }
//
// Paths are relative to the board file. An endpoint is "<fpga>:<package pin>" or
// "<fpga>:$<port name>". "bsdl" and "boards" are required, and so is "idcodes" on each board
// (0 to 8 entries, FPGA 0 first; null = a device without identification register); everything
// else has the defaults shown (chain_address 1, pull 1, no nets, faults or 1-Wire devices).
// Unknown keys and malformed values are errors that name the key.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "board.h"
#include "ds2482.h"
#include "fpga.h"
#include "onewire.h"

namespace qbxsim {

// How the adapter sits on the USB bus; only the simulated USB device (usbsim/) uses these.
struct _SIMUSBCONFIG {
    std::optional<std::string> serialNumber = std::string("FTQBXSIM");  // null: the chip has none
    bool permissionDenied = false;  // opening the device is refused (no udev rule)
    bool interfaceInUse[2] = {};    // interface A / B claimed by another program
    bool kernelDriver = false;      // the kernel's serial driver holds both interfaces until detached
    int adapters = 1;               // identical adapters on the bus
};
inline constexpr int kMaxUsbAdapters = 4;

struct _SIMCONFIG {
    std::string path;      // the board file
    std::string bsdlPath;  // the BSDL file, resolved against the board file's folder
    std::shared_ptr<const CBoundaryLayout> layout;
    bool adapterPresent = true;
    std::optional<uint64_t> failAfterWrites;
    std::optional<uint64_t> muteAfterWrites;
    _SIMUSBCONFIG usb;
    bool bridgePresent = true;
    Ds2482Config bridge;
    std::vector<_SIMBOARDSPEC> boards;
    std::vector<std::vector<std::unique_ptr<OneWireDevice>>> oneWire;  // per board
};

inline constexpr size_t kMaxChainDevices = 8;

// Reads and checks a board file. Null when anything is wrong; *error is then one line such as
// "board file x.json: boards[0].faults[1]: unknown key \"shrt\"".
std::unique_ptr<_SIMCONFIG> LoadBoardFile(const std::string& path, std::string* error);

// The same for text already read; `path` names the file in messages and anchors relative paths.
std::unique_ptr<_SIMCONFIG> ParseBoardFile(const std::string& text, const std::string& path, std::string* error);

}  // namespace qbxsim
