// The board's 1-Wire bus behind the DS2482 bridge, and the devices on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace qbxsim {

class OneWireDevice {                        // one slave on the bus (DS18S20, DS2450)
public:
    virtual ~OneWireDevice() = default;
    virtual uint64_t Rom() const = 0;        // 64-bit ROM, family code in the low byte
    virtual void PowerOn() = 0;              // board power applied: power-on state
    virtual bool Reset() = 0;                // reset pulse; true = the device answers with presence
    virtual bool Slot(bool masterBit) = 0;   // one time slot; returns the level the device leaves (false = pulls low)
    virtual bool JtagSwitchConducts() const { return false; }  // a DS2450 marked "jtag_switch" whose channel A transistor conducts
    // Added by the bridge side (only the bridge and the bus call it): the bridge's strong pull-up
    // starts (true) after a Write Byte or Single Bit sent with SPU set, or ends (false). A
    // parasite-powered DS18S20 needs it right after Convert T / Copy Scratchpad.
    virtual void StrongPullup(bool /*on*/) {}
};

// Modelled standard-speed times, for the simulator's statistics: a reset pulse and its recovery
// (tRSTL + tRSTH) 560 + 560 µs, a time slot (tSLOT) 73 µs, so a byte 584 µs. These are the
// DS2482's typical standard-speed figures as we have them: about 1.1-1.2 ms per reset and 0.6 ms
// per byte. The host's I2C and USB time is not included here.
inline constexpr double kResetSeconds = 1120e-6;
inline constexpr double kSlotSeconds = 73e-6;

class OneWireBus {
public:
    void SetDevices(std::vector<OneWireDevice*> devices);  // the board now in the socket (not owned)
    void SetPowered(bool powered);           // board power; rising: PowerOn() on every device
    bool Reset();                            // presence from any device (never while unpowered)
    bool Slot(bool masterBit);               // wired-AND of the master's bit and every device's
    bool JtagSwitchOn() const;               // powered and some device's JtagSwitchConducts()
    uint64_t Resets() const;
    uint64_t Bytes() const;                  // slots / 8
    double ModelledSeconds() const;          // reset and slot times at standard speed

    // Added by the bridge side (the adapter side need not call them):
    void SetStrongPullup(bool on);           // from the DS2482; passed to the devices while powered
    bool Powered() const { return m_Powered; }
    uint64_t Slots() const { return m_Slots; }

private:
    std::vector<OneWireDevice*> m_Devices;
    bool m_Powered = false;
    bool m_StrongPullup = false;
    uint64_t m_Resets = 0;
    uint64_t m_Slots = 0;
};

// Builds one device from a board-file entry: {"type": "DS18S20"|"DS2450", "serial": "<12 hex digits>", ...}.
// Unknown keys or malformed values: nullptr and *error names the key.
std::unique_ptr<OneWireDevice> ParseOneWireDevice(const nlohmann::json& entry, std::string* error);

}  // namespace qbxsim
