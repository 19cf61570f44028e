// libd2xx-fake.so: a scripted D2XX driver for the usbwire tests and benchmarks (one thread at a
// time). usbwire loads it through USBWIRE_DRIVER and the tests link it too, so both reach the one
// instance, scripted and read through fake::Fake(). It lists two FT2232H channels ("FT2232H
// MiniModule A"/"B", serials "QBX0001A"/"B"), notes settings and bytes written, and in MPSSE mode
// runs a small engine per channel: unknown opcodes get the bad-command reply; clock settings survive
// a close; pin writes and MSB-first bit shifts drive an I2C bus with one scripted slave (wired-AND
// SDA); LSB-first shifts go through a JTAG chain returning TDI some clocks later; the unused bits
// of a bit-read reply are 1.
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
    // I2C events: "S", "P", "30+" a master's byte and the slave's (n)ack, "r5A-" a slave's byte.
    std::string trace;
    uint16_t divisor = 0;
    bool divideBy5 = true, adaptive = false, threePhase = false, loopback = false;
    uint8_t lowValue = 0, lowDirection = 0, highValue = 0, highDirection = 0;
    double ClockHz() const;
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
    void FailCall(const std::string& function, unsigned skip, FT_STATUS status) { fails.push_back({function, skip, status}); }

    std::deque<Device> devices;

    void Reset();  // back to the two default devices, no scripting, empty logs
    Device& AddDevice(const std::string& description, const std::string& serial, unsigned type);
    void ClearLogs();  // empties settings, bytes written, clocks and traces

    struct Fail {
        std::string function;
        unsigned skip;
        FT_STATUS status;
    };
    std::vector<Fail> fails;
};

Driver& Fake();

}  // namespace fake
