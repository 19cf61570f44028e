// The QBX board as the station tests it, in one place: its JTAG chain, where it sits on the
// adapter, what the operator may enter, its 1-Wire instruments and what each converter channel
// does, the supply formulas, the power flags and the report's name.
//
// A board of another type (a four-FPGA variant, say) is a second description of this shape: the
// board model (CQbx_zor) and the station take every board fact from the description, and nothing
// else in the program knows the board.
#pragma once

#include <cinttypes>
#include <cmath>
#include <cstdint>

#include "ds18s20.h"
#include "ds2450.h"

// Which slot a converter fills, told from its channel A and B voltages.
enum AdcRole { ADC_NOT_ASSIGNED = 0, ADC_SENSOR1 = 1, ADC_SENSOR2 = 2 };

// The channels of a DS2450, A to D, as indices of its words and readings.
enum : int { ADC_CHANNEL_A = 0, ADC_CHANNEL_B = 1, ADC_CHANNEL_C = 2, ADC_CHANNEL_D = 3 };

// The board model's power flags byte: bits 0-1 the bus selection, bit 2 Vmem_fault, bits 3-7
// zero. Packed and unpacked here only.
struct _POWERFLAGS {
    static constexpr uint8_t kBusMask = 0x03;
    static constexpr uint8_t kVmemFaultBit = 0x04;

    unsigned bus = 0;  // the two-bit bus selection
    bool vmemFault = false;

    constexpr uint8_t Pack() const
    {
        return static_cast<uint8_t>((bus & kBusMask) | (vmemFault ? kVmemFaultBit : 0));
    }
    static constexpr _POWERFLAGS Unpack(uint8_t flags)
    {
        return {static_cast<unsigned>(flags & kBusMask), (flags & kVmemFaultBit) != 0};
    }
};

struct _BOARDDESC {
    // ---- the JTAG chain: adapter TDI -> FPGA 0 -> ... -> FPGA n-1 -> adapter TDO -----------------
    int fpgaCount;
    uint32_t fpgaIdCode;      // the identification code every FPGA must answer
    const char* fpgaName;     // printed for a right code ("id=%s")
    const char* lockPllPort;  // the port the LOCKPLL pattern drives in every FPGA

    // ---- where the board sits on the adapter --------------------------------------------------
    int32_t chainAddress;  // JTAG chain address (GPIOL0..3 of the JTAG channel); "QBX %d" in messages
    int enablePin;         // board-enable line: pin number of I2C_GPIODirection/I2C_GPIOWrite
    uint32_t powerUpMs;    // the wait after the board is enabled

    // ---- the operator and the test ------------------------------------------------------------
    double minCurrent;  // the board current the operator may enter, amperes, both bounds taken
    double maxCurrent;
    int runs;           // interconnection runs per board; all must pass

    // ---- 1-Wire instruments: one thermometer, two converters ----------------------------------
    uint8_t thermometerFamily;
    int thermometerRoom;  // candidates kept from the bus search
    uint8_t converterFamily;
    int converterRoom;

    // How the two converters are told apart, all channels inputs: channel B must read strictly
    // between these; adcsensor2 reads A within adcsensor2MaxDifference of B, adcsensor1 does not.
    float classifyMinB;
    float classifyMaxB;
    float adcsensor2MaxDifference;

    // What each converter channel does on the board. An output word (DS2450_WORD_OUTPUT_ON)
    // enables the channel's output transistor, which then conducts.
    int pulsedChannel;        // every converter's output, pulsed on and off before they are told apart
    int supplyOutputChannel;  // adcsensor1: output switched on before the supply readings
    int currentChannel;       // adcsensor1: the supply current's shunt amplifier
    int vmemChannel;          // adcsensor1: the memory supply, Vmem
    int jtagSwitchChannel;    // adcsensor2: output on = the board's JTAG switch conducts
    int jtagSwitchInputChannel;  // adcsensor2: an input while the switch is on
    int vinChannel;           // adcsensor2: the input supply through a divider
    int vmemFaultChannel;     // adcsensor2: the memory supply's fault sense

    // The supply formulas' constants.
    double currentGain;       // shunt amplifier gain
    float currentShuntOhms;   // shunt resistance (a single-precision constant, as the formula uses it)
    float vinDivider;         // Vin = divider x channel voltage
    float vmemFaultBelow;     // Vmem_fault when the fault sense reads below this (volts)

    // The signed report of a passing board, in the output folder: serial number (decimal),
    // thermometer identity (upper-case hexadecimal).
    const char* reportNameFormat;

    // ---- the formulas -------------------------------------------------------------------------

    float SupplyCurrent(float volts) const { return static_cast<float>(volts / currentGain / static_cast<double>(currentShuntOhms)); }
    float SupplyVin(float volts) const { return vinDivider * volts; }
    bool VmemFault(float volts) const { return volts < vmemFaultBelow; }
    AdcRole ClassifyAdc(float channelAVolts, float channelBVolts) const
    {
        if (!(channelBVolts > classifyMinB && channelBVolts < classifyMaxB))
            return ADC_NOT_ASSIGNED;
        return std::fabs(channelAVolts - channelBVolts) < adcsensor2MaxDifference ? ADC_SENSOR2 : ADC_SENSOR1;
    }
};

// The QBX board: eight A3PE3000 at chain address 1, a DS18S20 and two DS2450.
inline constexpr _BOARDDESC kQbxBoard{
    .fpgaCount = 8,
    .fpgaIdCode = 0x3E74E1CF,
    .fpgaName = "A3PE3000",
    .lockPllPort = "LOCKPLL",
    .chainAddress = 1,
    .enablePin = 4,  // GPIOL3 of the I2C channel
    .powerUpMs = 10,
    .minCurrent = 0.4,
    .maxCurrent = 0.8,
    .runs = 3,
    .thermometerFamily = DS18S20_FAMILY,
    .thermometerRoom = 15,
    .converterFamily = DS2450_FAMILY,
    .converterRoom = 30,
    .classifyMinB = 3.0f,
    .classifyMaxB = 3.7f,
    .adcsensor2MaxDifference = 0.1f,
    .pulsedChannel = ADC_CHANNEL_C,
    .supplyOutputChannel = ADC_CHANNEL_B,
    .currentChannel = ADC_CHANNEL_A,
    .vmemChannel = ADC_CHANNEL_D,
    .jtagSwitchChannel = ADC_CHANNEL_A,
    .jtagSwitchInputChannel = ADC_CHANNEL_B,
    .vinChannel = ADC_CHANNEL_C,
    .vmemFaultChannel = ADC_CHANNEL_D,
    .currentGain = 20.0,
    .currentShuntOhms = 0.022f,
    .vinDivider = 2.0f,
    .vmemFaultBelow = 1.5f,
    .reportNameFormat = "QBX_%u_%" PRIX64 ".txt",
};
