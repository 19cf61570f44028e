#include "ds18s20.h"

#include <cmath>

#include <gtest/gtest.h>

#include "ds2482.h"
#include "onewire_crc.h"
#include "onewire_test_support.h"

namespace qbxsim {
namespace {

using Pad = std::vector<uint8_t>;

// The extended-resolution reading of the data sheet:
// TEMP_READ - 0.25 + (COUNT_PER_C - COUNT_REMAIN) / COUNT_PER_C.
double Celsius(const Pad& pad)
{
    const auto reg = static_cast<int16_t>(pad[0] | (pad[1] << 8));
    return (reg >> 1) - 0.25 + double(pad[7] - pad[6]) / pad[7];
}

struct Thermometer : ::testing::Test {
    OneWireBus bus;
    test::SlotMaster master{bus};
    std::unique_ptr<Ds18s20> device;

    void Make(const Ds18s20Options& options)
    {
        device = std::make_unique<Ds18s20>(MakeRom(0x10, 0x00080157A3B2, false), options);
        bus.SetDevices({device.get()});
        bus.SetPowered(true);
    }
    Pad Command(std::vector<uint8_t> bytes, size_t read = 0)
    {
        bytes.insert(bytes.begin(), kSkipRom);
        return master.Transfer(bytes, read);
    }
    Pad ReadScratchpad() { return Command({Ds18s20::kReadScratchpad}, 9); }
};

TEST_F(Thermometer, PowerOnScratchpadAndConversions)
{
    Make({});
    EXPECT_EQ(Command({Ds18s20::kReadScratchpad}, 10), (Pad{0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10, 0x87, 0xFF}))
        << "85 degrees at power-on, and nothing after byte 8";
    Make({-25.0});
    EXPECT_EQ(Command({Ds18s20::kConvertT}, 1), Pad{0xFF}) << "read slots say done";
    EXPECT_EQ(ReadScratchpad(), (Pad{0xCE, 0xFF, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10, 0x75}));
    // Every sixteenth of a degree reads back exactly; the 9-bit value is T to half a degree.
    for (int sixteenths = -55 * 16; sixteenths <= 125 * 16; ++sixteenths) {
        const double t = sixteenths / 16.0;
        Make({t});
        Command({Ds18s20::kConvertT});
        const auto raw = device->Scratchpad();
        const Pad pad(raw.begin(), raw.end());
        ASSERT_DOUBLE_EQ(Celsius(pad), t);
        ASSERT_LE(std::abs(static_cast<int16_t>(pad[0] | (pad[1] << 8)) / 2.0 - t), 0.25) << t;
    }
}

TEST_F(Thermometer, PowerSupplyAndUnpoweredBoard)
{
    Make({});
    EXPECT_EQ(Command({Ds18s20::kReadPowerSupply}, 2), (Pad{0xFF, 0xFF}));
    Make({25.0, false});
    EXPECT_EQ(Command({Ds18s20::kReadPowerSupply}, 2), (Pad{0x00, 0x00})) << "parasite: every slot pulled low";
    EXPECT_EQ(master.Transfer({}, 1), Pad{0xFF}) << "after a reset it waits for a ROM command";

    Make({});
    EXPECT_EQ(Command({0x4E, 0x1E, 0x05}, 1), Pad{0xFF}) << "a command the model does not have: silent";
    Command({Ds18s20::kConvertT});
    bus.SetPowered(false);
    EXPECT_FALSE(master.Reset());
    master.Write({kSkipRom, Ds18s20::kReadScratchpad});
    EXPECT_EQ(master.Read(9), Pad(9, 0xFF)) << "an unpowered board is silent";
    bus.SetPowered(true);
    EXPECT_EQ(ReadScratchpad()[0], 0xAA) << "85 degrees again after power-up";
}

// A parasite-powered part needs the bridge's strong pull-up right after Convert T; without it, it
// browns out and comes back in its power-on state.
TEST(Parasite, ConvertNeedsTheStrongPullup)
{
    OneWireBus bus;
    Ds18s20 device{MakeRom(0x10, 0x00080157A3B2, false), {24.5, false}};
    bus.SetDevices({&device});
    bus.SetPowered(true);
    Ds2482 chip{{}, bus};
    test::BridgeHost host{chip};
    auto convertThenRead = [&](bool pullup) {
        EXPECT_TRUE(host.OneWireReset() && host.WriteByte(kSkipRom));
        if (pullup)
            host.WriteConfig(Ds2482::kSPU);
        EXPECT_TRUE(host.WriteByte(Ds18s20::kConvertT));
        EXPECT_TRUE(host.OneWireReset() && host.WriteByte(kSkipRom) && host.WriteByte(Ds18s20::kReadScratchpad));
        return host.ReadByte();
    };
    EXPECT_EQ(convertThenRead(false), 0xAA);
    EXPECT_EQ(convertThenRead(true), 0x31);
    EXPECT_EQ(convertThenRead(false), 0xAA) << "a brown-out loses the good reading too";
}

}  // namespace
}  // namespace qbxsim
