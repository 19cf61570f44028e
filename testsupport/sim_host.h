// A small host on top of libusbwire.so for the integration tests and the benchmark: it loads the
// simulator as the D2XX driver, powers the board, talks to the DS2482 bridge and the 1-Wire
// devices behind it, switches the board's JTAG switch on, and scans the chain as the station
// does (IR scan, DR scan with a capture pass and an update pass).
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "onewire_test_support.h"
#include "usbwire.h"

namespace qbxsim::host {

// The driver and board file the next first open uses. Call before anything of usbwire.
inline void UseSimulator(const std::string& boardFile, const std::string& stats = "", const std::string& trace = "")
{
    setenv("USBWIRE_DRIVER", "libqbxsim.so", 1);
    setenv("QBXSIM_BOARD", boardFile.c_str(), 1);
    if (!stats.empty())
        setenv("QBXSIM_STATS", stats.c_str(), 1);
    if (!trace.empty())
        setenv("QBXSIM_TRACE", trace.c_str(), 1);
}

// The DS2482-100 at address byte 0x30 on channel A, and the 1-Wire bus behind it.
class Bridge {
public:
    static constexpr unsigned char kAddress = 0x30;
    enum : uint8_t { k1WB = 0x01, kPPD = 0x02 };

    explicit Bridge(void* i2c) : m_I2c(i2c) {}

    // Board power on GPIOL3 (I2C line 4).
    bool Power(bool on)
    {
        I2C_GPIODirection(m_I2c, 4, 1);
        return I2C_GPIOWrite(m_I2c, 4, on ? 1 : 0) == 1;
    }
    int Command(std::vector<unsigned char> bytes)
    {
        return I2C_Write(m_I2c, kAddress, bytes.data(), static_cast<unsigned>(bytes.size()), 1);
    }
    // Reads the status until the 1-Wire command is over; -1 when that never happens.
    int WaitStatus()
    {
        for (int i = 0; i < 100; ++i) {
            unsigned char status = 0xFF;
            if (I2C_Read(m_I2c, kAddress, &status, 1, 1) != 0)
                return -1;
            if (!(status & k1WB))
                return status;
        }
        return -1;
    }
    int Reset() { return Command({0xB4}) == 0 ? WaitStatus() : -1; }
    bool WriteByte(uint8_t b) { return Command({0xA5, b}) == 0 && WaitStatus() >= 0; }
    int ReadByte()
    {
        if (Command({0x96}) != 0 || WaitStatus() < 0 || Command({0xE1, 0xE1}) != 0)
            return -1;
        unsigned char data = 0;
        if (I2C_Read(m_I2c, kAddress, &data, 1, 1) != 0)
            return -1;
        return data;
    }
    int Triplet(bool direction) { return Command({0x78, uint8_t(direction ? 0x80 : 0)}) == 0 ? WaitStatus() : -1; }
    bool StartSearch()
    {
        const int status = Reset();
        return status >= 0 && (status & kPPD) && WriteByte(0xF0);
    }
    // Every ROM on the bus.
    std::vector<uint64_t> Search() { return test::SearchRoms(*this); }

    bool Select(uint64_t rom)
    {
        int status = Reset();
        if (status < 0 || !(status & kPPD) || !WriteByte(0x55))
            return false;
        for (int i = 0; i < 8; ++i)
            if (!WriteByte(static_cast<uint8_t>(rom >> (8 * i))))
                return false;
        return true;
    }

    // DS2450 Write Memory of one byte: the device answers with its CRC-16 and the byte it stored.
    int Ds2450Write(uint64_t rom, uint8_t address, uint8_t value)
    {
        if (!Select(rom) || !WriteByte(0x55) || !WriteByte(address) || !WriteByte(0x00) || !WriteByte(value))
            return -1;
        ReadByte();
        ReadByte();
        return ReadByte();
    }

    // Switches the JTAG switch on: channel A output of every DS2450 conducting (OE = 1, OC = 0).
    bool SwitchJtagOn()
    {
        bool any = false;
        for (uint64_t rom : Search()) {
            if ((rom & 0xFF) != 0x20)
                continue;
            if (Ds2450Write(rom, 0x08, 0x80) != 0x80)
                return false;
            any = true;
        }
        return any;
    }

private:
    void* m_I2c;
};

// The chain as the station drives it: every device's IR and DR in one scan, device nearest TDO
// first in the bit strings.
class Chain {
public:
    Chain(void* jtag, unsigned char address) : m_Jtag(jtag), m_Address(address) {}

    bool Reset() { return JTAG_Addr(m_Jtag, m_Address) && JTAG_Tms(m_Jtag, 255, 5); }

    // Test-Logic-Reset, Shift-DR, then 32 bits at a time until 0 or all ones (at most limit codes).
    std::vector<uint32_t> ReadIdcodes(size_t limit = 16)
    {
        std::vector<uint32_t> ids;
        if (!Reset() || !JTAG_Tms(m_Jtag, 2, 4))
            return ids;
        for (size_t i = 0; i < limit; ++i) {
            unsigned char bytes[4] = {};
            if (!JTAG_Out(m_Jtag, 0, 32, nullptr, bytes, 0))
                break;
            uint32_t id = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
            if (id == 0 || id == 0xFFFFFFFF)
                break;
            ids.push_back(id);
        }
        JTAG_Tms(m_Jtag, 255, 5);
        return ids;
    }

    // Run-Test/Idle -> Shift-IR, one 8-bit instruction per device, Update-IR -> Run-Test/Idle.
    bool ScanIr(const std::vector<uint8_t>& codes)
    {
        bool ok = JTAG_Addr(m_Jtag, m_Address) && JTAG_Tms(m_Jtag, 6, 5);
        for (size_t i = 0; i < codes.size() && ok; ++i) {
            unsigned char code = codes[i];
            ok = JTAG_Out(m_Jtag, 0, 8, &code, nullptr, i + 1 == codes.size()) != 0;
        }
        return ok && JTAG_Tms(m_Jtag, 1, 2);
    }

    // A DR scan of `bits`-long registers: a capture pass that shifts zeros and keeps what each
    // register captured, then an update pass that shifts the images, then Update-DR.
    bool ScanDr(size_t bits, const std::vector<std::vector<uint8_t>>& images, std::vector<std::vector<uint8_t>>* captured)
    {
        const size_t bytes = (bits + 7) / 8;
        bool ok = JTAG_Addr(m_Jtag, m_Address) && JTAG_Tms(m_Jtag, 2, 4);
        if (captured)
            captured->assign(images.size(), std::vector<uint8_t>(bytes, 0));
        for (size_t i = 0; i < images.size() && ok; ++i)
            ok = JTAG_Out(m_Jtag, 0, static_cast<unsigned>(bits), nullptr, captured ? (*captured)[i].data() : nullptr, 0) != 0;
        for (size_t i = 0; i < images.size() && ok; ++i)
            ok = JTAG_Out(m_Jtag, 0, static_cast<unsigned>(bits), images[i].data(), nullptr, i + 1 == images.size()) != 0;
        return ok && JTAG_Tms(m_Jtag, 1, 2);
    }

private:
    void* m_Jtag;
    unsigned char m_Address;
};

}  // namespace qbxsim::host
