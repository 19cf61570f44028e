// A small host on top of libusbwire.so for the simulator's integration tests and benchmark: it
// powers the board, switches its JTAG switch on, and scans the chain as the station does (IR scan,
// DR scan with a capture pass and an update pass). Load the simulator first (qbxtest::UseSimulator).
#pragma once

#include <cstdint>
#include <vector>

#include "usbwire.h"

namespace qbxsim::host {

// Board power on GPIOL3 (I2C line 4) of channel A, then the JTAG switch on: through the DS2482-100
// (address byte 0x30), Skip ROM and a Write Memory of 0x80 at 0x0008 to every DS2450 (channel A
// output conducting: OE = 1, OC = 0). The bridge must answer at once ("busy_reads": 0). True when
// the byte written reads back, after the CRC-16.
inline bool PowerAndSwitchJtagOn(void* i2c)
{
    auto command = [i2c](std::vector<unsigned char> bytes) {
        return I2C_Write(i2c, 0x30, bytes.data(), static_cast<unsigned>(bytes.size()), 1) == 0;
    };
    I2C_GPIODirection(i2c, 4, 1);
    bool ok = I2C_GPIOWrite(i2c, 4, 1) == 1 && command({0xB4});
    for (unsigned char b : {0xCC, 0x55, 0x08, 0x00, 0x80})
        ok = ok && command({0xA5, b});
    for (int i = 0; i < 3; ++i)
        ok = ok && command({0x96});
    unsigned char readBack = 0;
    return ok && command({0xE1, 0xE1}) && I2C_Read(i2c, 0x30, &readBack, 1, 1) == 0 && readBack == 0x80;
}

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
