// One QBX board as the simulator puts it in the socket: its JTAG chain, the nets that join the
// FPGAs' pins, the injected faults, and the 1-Wire devices it carries.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chain.h"
#include "fpga.h"
#include "onewire.h"

namespace qbxsim {

// A pin of the board: FPGA index in the chain and port index in the BSDL port table.
struct _SIMPINREF {
    int fpga = 0;
    int port = 0;
    bool operator==(const _SIMPINREF&) const = default;
};

// Everything the board file says about one board, with the endpoints already resolved.
struct _SIMBOARDSPEC {
    std::string name;
    int chainAddress = 1;                              // 0 to 15, on GPIOL0..GPIOL3 of channel B
    std::vector<std::optional<uint32_t>> idcodes;      // one per device, FPGA 0 first; empty = no IDCODE register
    int pull = 1;                                      // level of an undriven net
    std::vector<std::vector<_SIMPINREF>> nets;
    std::vector<_SIMPINREF> opens;                     // the pin leaves its net
    std::vector<std::pair<_SIMPINREF, _SIMPINREF>> shorts;  // the two pins' nets become one
    std::vector<std::pair<_SIMPINREF, int>> stucks;    // the pin's net reads this value
    int tdoStuck = -1;                                 // 0 or 1: the chain's TDO holds it; -1: healthy
};

class CSimBoard {
public:
    CSimBoard(const _SIMBOARDSPEC& spec, std::shared_ptr<const CBoundaryLayout> layout,
              std::vector<std::unique_ptr<OneWireDevice>> oneWire = {});
    CSimBoard(const CSimBoard&) = delete;
    CSimBoard& operator=(const CSimBoard&) = delete;

    const std::string& Name() const { return m_Name; }
    int ChainAddress() const { return m_ChainAddress; }
    int TdoStuck() const { return m_TdoStuck; }

    CSimChain& Chain() { return m_Chain; }
    CSimFpga& Fpga(size_t index) { return m_Chain.Devices()[index]; }

    // Board power: rising resets every TAP and register; while unpowered nothing is driven.
    void SetPowered(bool powered);
    bool Powered() const { return m_Powered; }

    // Resolves every net from what the devices drive now and hands each input its pin's level:
    // a stuck net reads its stuck value; otherwise drivers that agree give their level, drivers
    // that disagree give 0, and a net nobody drives reads the board's pull level.
    void EvaluateNets();

    std::vector<OneWireDevice*> OneWireDevices() const;

private:
    struct Net {
        std::vector<_SIMPINREF> members;
        int stuck = -1;
    };

    std::string m_Name;
    int m_ChainAddress;
    int m_Pull;
    int m_TdoStuck;
    bool m_Powered = false;
    CSimChain m_Chain;
    std::vector<Net> m_Nets;  // nets of several pins, and stuck pins
    // Per device, the pins that are alone on their net (most of them): each reads its own
    // drive or the pull level, and needs a look only when that device's drive has changed.
    std::vector<std::vector<uint32_t>> m_Alone;
    void EvaluateNets(bool everyDevice);
    std::vector<std::unique_ptr<OneWireDevice>> m_OneWire;
};

}  // namespace qbxsim
