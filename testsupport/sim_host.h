// A small host on top of libusbwire.so for the simulator's integration tests and benchmark: it
// powers the board and switches its JTAG switch on. Load the simulator first
// (qbxtest::UseSimulator).
#pragma once

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

}  // namespace qbxsim::host
