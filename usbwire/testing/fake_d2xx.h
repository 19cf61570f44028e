// libd2xx-fake.so: a scripted D2XX driver for the tests and benchmarks of usbwire. usbwire loads it
// through USBWIRE_DRIVER; the tests link it as well, so both reach the same instance, which the
// tests script and read through fake::Fake(). One thread at a time.
//
// It lists devices (by default the two channels of one FT2232H, "FT2232H MiniModule A" and "... B",
// serial numbers "QBX0001A" and "QBX0001B", Type 6), notes the settings and every byte written,
// and once FT_SetBitMode selected MPSSE mode runs a small engine per channel, decoded on its own
// from FTDI's description of the commands (AN_108):
//   - an opcode it does not know is answered with the bad-command byte and the opcode;
//   - it keeps the clock settings, which survive a close, as another program may leave them;
//   - pin writes and MSB-first bit shifts drive SCL/SDA of an I2C bus with one slave whose bits
//     are wired-AND with the master's: it acknowledges its address and written bytes unless
//     scripted not to, sends scripted bytes when read, and can hold SDA low during a chosen byte;
//   - LSB-first bit shifts go through a JTAG chain that returns TDI on TDO some clocks later
//     (1 until then), TMS commands clock TMS; every TCK clock is logged;
//   - the unused bits of a bit-read reply byte are 1, so a master must mask them.
#pragma once

#include "d2xx.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace fake {

struct Device {
    std::string description;
    std::string serial;  // cut to the record's 16 characters without a NUL, as the vendor's driver does
    unsigned type = FT_DEVICE_2232H;
    bool open = false;
    bool mpsse = false;
    std::vector<std::string> settings;  // the resets and settings in turn: "FT_SetBitMode 0 2"
    std::deque<uint8_t> received;    // bytes waiting for FT_Read
    std::vector<uint8_t> written;    // every byte written, in order
    std::vector<size_t> writeSizes;  // the count asked of each FT_Write
    std::vector<uint8_t> clocks;     // one per TCK clock: bit 0 TDI, bit 1 TMS, bit 2 TDO
    // I2C events: "S" START, "P" STOP, "30+" a byte from the master and the slave's acknowledge
    // (+) or not (-), "r5A-" a byte from the slave and the master's acknowledge or not.
    std::string trace;

    // The engine's settings and pins.
    uint16_t divisor = 0;
    bool divideBy5 = true, adaptive = false, threePhase = false, loopback = false;
    uint8_t lowValue = 0, lowDirection = 0, highValue = 0, highDirection = 0;
    double ClockHz() const;

    // The engine's own state.
    std::vector<uint8_t> partial;  // a command split across writes
    std::deque<bool> delayLine;
    struct I2c {
        bool scl = true, master = true, slave = true;  // levels; SDA is master AND slave
        int phase = 0;                                 // idle, address, write, read, ignore
        unsigned bit = 0;
        uint8_t shift = 0, out = 0xFF;
        int index = 0;  // byte of the transfer, 0 = address
        size_t readPosition = 0;
    } i2c;
};

struct Driver {
    // Scripting.
    bool mute = false;         // the engine sends no reply byte at all
    bool quiet = false;        // nothing is logged (benchmarks)
    unsigned syncIgnore = 0;   // the first unknown opcodes get no answer (a slow start of the engine)
    int ignoreOpcode = -1;     // this unknown opcode is never answered
    unsigned readChunk = 0;    // FT_GetQueueStatus reports at most this many bytes (0: all)
    unsigned zeroWrites = 0;   // the next FT_Write calls return FT_OK having accepted nothing
    unsigned jtagDelay = 0;    // TDO = TDI delayed by this many clocks
    unsigned slave = 0x18;     // 7-bit address of the I2C slave
    int nackIndex = -1;        // the slave does not acknowledge this byte (0 = the address)
    int jamIndex = -1;         // the slave holds SDA low during the data bits of this byte
    std::vector<uint8_t> readData;  // bytes the slave sends when read, in turn (then 0xFF)
    // After skip calls of the function (e.g. "FT_Write") its next call returns status.
    void FailCall(const std::string& function, unsigned skip, FT_STATUS status)
    {
        fails.push_back({function, skip, status});
    }

    std::deque<Device> devices;

    // Back to the two default devices, no scripting, empty logs.
    void Reset();
    Device& AddDevice(const std::string& description, const std::string& serial, unsigned type);
    // Empties the settings, bytes written, clocks and traces.
    void ClearLogs();

    struct Fail {
        std::string function;
        unsigned skip;
        FT_STATUS status;
    };
    std::vector<Fail> fails;
};

Driver& Fake();

}  // namespace fake
