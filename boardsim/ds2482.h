// The DS2482-100 I2C-to-1-Wire bridge on channel A.
#pragma once

#include <cstdint>

#include "i2c_bus.h"
#include "onewire.h"

namespace qbxsim {

struct Ds2482Config { int busyReads = 1; bool stuckBusy = false; };   // the board file's "bridge" values

// DS2482-100 at 7-bit address 0x18 (address byte 0x30/0x31).
//
// A 1-Wire command runs on the bus at once; the chip then reports 1WB for `busyReads` status reads
// (forever when `stuckBusy`), and its results (status bits, read-data register) become visible with
// the first status read that shows 1WB clear. While 1WB is set, 1-Wire commands and Write
// Configuration are not acknowledged and are ignored; Set Read Pointer is taken.
//
// Modelled: the commands the station sends (1-Wire Reset, Write Byte, Read Byte, Triplet, Write
// Configuration, Set Read Pointer). Device Reset and 1-Wire Single Bit are not: like a code the
// chip does not know, they are not acknowledged.
class Ds2482 : public I2cSlave {
public:
    static constexpr uint8_t kAddress = 0x18;

    // Status register bits.
    static constexpr uint8_t k1WB = 0x01, kPPD = 0x02, kSD = 0x04, kLL = 0x08,
                             kRST = 0x10, kSBR = 0x20, kTSB = 0x40, kDIR = 0x80;
    // Configuration register bits.
    static constexpr uint8_t kAPU = 0x01, kPPM = 0x02, kSPU = 0x04, k1WS = 0x08;
    // Read pointer codes.
    static constexpr uint8_t kStatusReg = 0xF0, kDataReg = 0xE1, kConfigReg = 0xC3;

    Ds2482(const Ds2482Config& config, OneWireBus& bus);

    void Start() override;
    void Stop() override;
    bool Address(uint8_t addressByte) override;
    bool Write(uint8_t data) override;
    uint8_t Read() override;
    void ReadAck(bool ack) override;

    // For tests and the adapter side's trace: the registers as they stand, without side effects.
    uint8_t Status() const { return m_Status | (Busy() ? k1WB : 0); }
    uint8_t Config() const { return m_Config; }
    uint8_t Pointer() const { return m_Pointer; }
    bool StrongPullupActive() const { return m_PullupActive; }

private:
    enum class Expect { Nothing, Command, Parameter, Done };

    bool Busy() const { return m_StuckBusy || m_BusyLeft > 0; }
    bool ExecuteCommand(uint8_t code);                  // a command without parameter
    bool ExecuteWithParameter(uint8_t code, uint8_t p); // false = parameter refused
    void BeginOneWire();                                // ends an active strong pull-up
    void FinishOneWire(uint8_t status, bool armPullup); // starts the busy period
    void SetPullup(bool on);

    Ds2482Config m_Cfg;
    OneWireBus& m_Bus;
    uint8_t m_Status = kRST | kLL;  // visible status, without 1WB (power-on: RST, the line idle)
    uint8_t m_Config = 0;       // low nibble only
    uint8_t m_Data = 0;         // read-data register
    uint8_t m_Pointer = kStatusReg;
    uint8_t m_PendingStatus = 0;  // results of the running 1-Wire command
    uint8_t m_PendingData = 0;
    int m_BusyLeft = 0;
    bool m_StuckBusy = false;
    bool m_PullupActive = false;
    bool m_Addressed = false;   // the current transfer is ours
    bool m_ReadMode = false;
    Expect m_Expect = Expect::Nothing;
    uint8_t m_Command = 0;      // code waiting for its parameter
};

}  // namespace qbxsim
