// Arbitrary pin sequences on channel A (decoder, DS2482, a 1-Wire bus with both device kinds):
// nothing may crash or hang, and afterwards a bus recovery and a Device Reset must bring back the
// power-on status.
#include <cstdint>
#include <cstdlib>

#include "ds18s20.h"
#include "ds2450.h"
#include "ds2482.h"
#include "i2c_bus.h"

using namespace qbxsim;

namespace {

bool Clock(I2cBus& i2c, bool bit)
{
    i2c.Update(false, bit);
    i2c.Update(true, bit);
    const bool seen = i2c.Sda();
    i2c.Update(false, bit);
    return seen;
}

bool WriteByte(I2cBus& i2c, uint8_t b)
{
    for (int i = 7; i >= 0; --i)
        Clock(i2c, ((b >> i) & 1) != 0);
    return !Clock(i2c, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Ds18s20 thermometer(MakeRom(0x10, 1, false), {20.0, size % 3 == 0});
    Ds2450 adc(MakeRom(0x20, 2, false), {{1.0, 2.0, 3.0, 4.0}, true, false});
    OneWireBus bus;
    bus.SetDevices({&thermometer, &adc});
    bus.SetPowered(true);
    Ds2482 bridge({static_cast<int>(size % 4), false}, bus);
    I2cBus i2c(&bridge);

    // Each input byte: bits 0-1 the master's SCL/SDA, bit 2 toggles board power.
    for (size_t i = 0; i < size; ++i) {
        i2c.Update((data[i] & 1) != 0, (data[i] & 2) != 0);
        if (data[i] & 4)
            bus.SetPowered(!bus.Powered());
    }

    // Recovery: clock until SDA is high with SCL high, then START + STOP.
    bool free = false;
    for (int i = 0; i < 20 && !free; ++i) {
        i2c.Update(false, true);
        i2c.Update(true, true);
        free = i2c.Sda();
    }
    if (!free)
        std::abort();
    i2c.Update(true, false);
    i2c.Update(true, true);
    // START 30 F0 (Device Reset), repeated START 31, status must read 0x18.
    i2c.Update(true, false);
    i2c.Update(false, false);
    if (!WriteByte(i2c, 0x30) || !WriteByte(i2c, 0xF0))
        std::abort();
    i2c.Update(false, true);
    i2c.Update(true, true);
    i2c.Update(true, false);
    i2c.Update(false, false);
    if (!WriteByte(i2c, 0x31))
        std::abort();
    uint8_t status = 0;
    for (int i = 0; i < 8; ++i)
        status = static_cast<uint8_t>((status << 1) | (Clock(i2c, true) ? 1 : 0));
    Clock(i2c, true);
    if (status != 0x18)
        std::abort();
    return 0;
}
