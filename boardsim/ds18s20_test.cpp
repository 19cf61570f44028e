#include "ds18s20.h"

#include <cmath>

#include <gtest/gtest.h>

#include "ds2482.h"
#include "onewire_crc.h"
#include "onewire_test_support.h"

namespace qbxsim {
namespace {

using Pad = std::vector<uint8_t>;
using test::BridgeHost;
using test::SlotMaster;

// The station's reading of a scratchpad (extended resolution).
double Celsius(const Pad& pad)
{
    const auto reg = static_cast<int16_t>(pad[0] | (pad[1] << 8));
    return (reg >> 1) - 0.25 + double(pad[7] - pad[6]) / pad[7];
}

struct Thermometer : ::testing::Test {
    OneWireBus bus;
    SlotMaster master{bus};

    std::unique_ptr<Ds18s20> Make(const Ds18s20Options& options)
    {
        auto t = std::make_unique<Ds18s20>(MakeRom(0x10, 0x00080157A3B2, false), false, options);
        bus.SetDevices({t.get()});
        bus.SetPowered(true);
        return t;
    }
    void Command(uint8_t function)
    {
        ASSERT_TRUE(master.Reset());
        master.Write({kSkipRom, function});
    }
    Pad ReadScratchpad()
    {
        Command(Ds18s20::kReadScratchpad);
        return master.Read(9);
    }
};

TEST_F(Thermometer, PowerOnScratchpadReads85)
{
    auto t = Make({});
    EXPECT_EQ(ReadScratchpad(), (Pad{0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10, 0x87}));
    EXPECT_EQ(master.ReadByte(), 0xFF);   // nothing after byte 8
}

TEST_F(Thermometer, ConvertGivesTheDocumentedEncodings)
{
    struct Case {
        double celsius;
        Pad first7;
    } cases[] = {
        {25.0, {0x32, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C}},
        {24.5, {0x31, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x04}},
        {-0.5, {0xFF, 0xFF, 0x4B, 0x46, 0xFF, 0xFF, 0x04}},
        {-25.0, {0xCE, 0xFF, 0x4B, 0x46, 0xFF, 0xFF, 0x0C}},
        {85.0, {0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C}},
    };
    for (const Case& c : cases) {
        auto t = Make({c.celsius});
        Command(Ds18s20::kConvertT);
        EXPECT_EQ(master.ReadByte(), 0xFF);   // read slots: done
        const Pad pad = ReadScratchpad();
        EXPECT_EQ(Pad(pad.begin(), pad.begin() + 7), c.first7) << c.celsius;
        EXPECT_EQ(pad[7], 0x10);
        EXPECT_EQ(Crc8(pad), 0);
        EXPECT_DOUBLE_EQ(Celsius(pad), c.celsius);
    }
}

TEST(Ds18s20Encoding, EverySixteenthOfADegreeRoundTrips)
{
    for (int sixteenths = -55 * 16; sixteenths <= 125 * 16; ++sixteenths) {
        const double t = sixteenths / 16.0;
        Ds18s20 device(MakeRom(0x10, 1, false), false, {t});
        OneWireBus bus;
        bus.SetDevices({&device});
        bus.SetPowered(true);
        SlotMaster master{bus};
        master.Reset();
        master.Write({kSkipRom, Ds18s20::kConvertT});
        const auto pad = device.Scratchpad();
        const Pad bytes(pad.begin(), pad.end());
        ASSERT_DOUBLE_EQ(Celsius(bytes), t);
        const auto reg = static_cast<int16_t>(bytes[0] | (bytes[1] << 8));
        ASSERT_LE(std::abs(reg / 2.0 - t), 0.25) << t;   // the 9-bit value is T to 0.5 °C
        ASSERT_GE(bytes[6], 1);
        ASSERT_LE(bytes[6], 16);
    }
}

TEST_F(Thermometer, ReadPowerSupplyRepeatsTheLevelUntilReset)
{
    auto powered = Make({});
    Command(Ds18s20::kReadPowerSupply);
    EXPECT_EQ(master.Read(2), (Pad{0xFF, 0xFF}));
    auto parasite = Make({25.0, false});
    Command(Ds18s20::kReadPowerSupply);
    EXPECT_EQ(master.Read(2), (Pad{0x00, 0x00}));
    ASSERT_TRUE(master.Reset());
    EXPECT_EQ(master.ReadByte(), 0xFF);   // after the reset it waits for a ROM command
}

TEST_F(Thermometer, WriteCopyAndRecall)
{
    auto t = Make({});
    ASSERT_TRUE(master.Reset());
    master.Write({kSkipRom, Ds18s20::kWriteScratchpad, 0x1E, 0x05, 0x77});   // extra byte ignored
    Pad pad = ReadScratchpad();
    EXPECT_EQ(pad[2], 0x1E);
    EXPECT_EQ(pad[3], 0x05);
    EXPECT_EQ(pad[4], 0xFF);
    EXPECT_EQ(Crc8(pad), 0);
    Command(Ds18s20::kCopyScratchpad);
    ASSERT_TRUE(master.Reset());
    master.Write({kSkipRom, Ds18s20::kWriteScratchpad, 0x00, 0x00});
    Command(Ds18s20::kRecallE2);
    EXPECT_EQ(master.ReadByte(), 0xFF);
    pad = ReadScratchpad();
    EXPECT_EQ(pad[2], 0x1E);
    EXPECT_EQ(pad[3], 0x05);
    bus.SetPowered(false);
    bus.SetPowered(true);   // the EEPROM survives a power cycle
    pad = ReadScratchpad();
    EXPECT_EQ(pad[0], 0xAA);
    EXPECT_EQ(pad[2], 0x1E);
    EXPECT_EQ(pad[3], 0x05);
}

TEST_F(Thermometer, FaultOptions)
{
    auto bad = Make({25.0, true, true});
    Command(Ds18s20::kConvertT);
    Pad pad = ReadScratchpad();
    EXPECT_NE(Crc8(pad), 0);
    EXPECT_EQ(pad[0], 0x32);
    auto zero = Make({25.0, true, false, 0});
    pad = ReadScratchpad();
    EXPECT_EQ(pad[7], 0x00);
    EXPECT_EQ(Crc8(pad), 0);   // a consistent, if impossible, scratchpad
}

TEST_F(Thermometer, UnpoweredBoardIsSilentAndPowersUpAt85)
{
    auto t = Make({30.0});
    Command(Ds18s20::kConvertT);
    bus.SetPowered(false);
    EXPECT_FALSE(master.Reset());
    master.Write({kSkipRom, Ds18s20::kReadScratchpad});
    EXPECT_EQ(master.Read(9), Pad(9, 0xFF));
    bus.SetPowered(true);
    EXPECT_EQ(ReadScratchpad()[0], 0xAA);
}

// ---- parasite power and the bridge's strong pull-up --------------------------------------------

struct Parasite : ::testing::Test {
    OneWireBus bus;
    Ds18s20 device{MakeRom(0x10, 0x00080157A3B2, false), false, {24.5, false}};
    Ds2482 chip{{}, bus};
    BridgeHost host{chip};

    Parasite()
    {
        bus.SetDevices({&device});
        bus.SetPowered(true);
    }
    void Convert(bool pullup)
    {
        ASSERT_TRUE(host.OneWireReset());
        ASSERT_TRUE(host.WriteByte(kSkipRom));
        if (pullup)
            host.WriteConfig(Ds2482::kSPU);
        ASSERT_TRUE(host.WriteByte(Ds18s20::kConvertT));
    }
    uint8_t TemperatureLsb()
    {
        EXPECT_TRUE(host.OneWireReset());
        host.WriteByte(kSkipRom);
        host.WriteByte(Ds18s20::kReadScratchpad);
        return host.ReadByte();
    }
};

TEST_F(Parasite, ConvertsWithTheStrongPullup)
{
    Convert(true);
    EXPECT_EQ(TemperatureLsb(), 0x31);
}

TEST_F(Parasite, BrownsOutWithoutIt)
{
    Convert(false);
    EXPECT_EQ(TemperatureLsb(), 0xAA);
    Convert(true);
    EXPECT_EQ(TemperatureLsb(), 0x31);
    Convert(false);   // loses the good reading too
    EXPECT_EQ(TemperatureLsb(), 0xAA);
}

TEST_F(Parasite, CopyWithoutPullupKeepsTheEeprom)
{
    ASSERT_TRUE(host.OneWireReset());
    for (uint8_t b : {kSkipRom, Ds18s20::kWriteScratchpad, uint8_t{0x11}, uint8_t{0x22}})
        ASSERT_TRUE(host.WriteByte(b));
    ASSERT_TRUE(host.OneWireReset());
    ASSERT_TRUE(host.WriteByte(kSkipRom));
    ASSERT_TRUE(host.WriteByte(Ds18s20::kCopyScratchpad));
    ASSERT_TRUE(host.OneWireReset());   // browned out: back to the EEPROM values
    EXPECT_EQ(device.Scratchpad()[2], 0x4B);

    ASSERT_TRUE(host.WriteByte(kSkipRom));
    for (uint8_t b : {Ds18s20::kWriteScratchpad, uint8_t{0x11}, uint8_t{0x22}})
        ASSERT_TRUE(host.WriteByte(b));
    ASSERT_TRUE(host.OneWireReset());
    ASSERT_TRUE(host.WriteByte(kSkipRom));
    host.WriteConfig(Ds2482::kSPU);
    ASSERT_TRUE(host.WriteByte(Ds18s20::kCopyScratchpad));
    bus.SetPowered(false);
    bus.SetPowered(true);
    EXPECT_EQ(device.Scratchpad()[2], 0x11);
    EXPECT_EQ(device.Scratchpad()[3], 0x22);
}

TEST_F(Parasite, PoweredPartNeedsNoPullup)
{
    Ds18s20 powered(MakeRom(0x10, 2, false), false, {24.5, true});
    bus.SetDevices({&powered});
    Convert(false);
    EXPECT_EQ(TemperatureLsb(), 0x31);
}

TEST_F(Parasite, AbsentAfterSearchThermometer)
{
    Ds18s20 flaky(MakeRom(0x10, 3, false), true, {});
    bus.SetDevices({&flaky});
    EXPECT_EQ(host.Search(), std::vector<uint64_t>{flaky.Rom()});
    EXPECT_FALSE(host.OneWireReset());
}

}  // namespace
}  // namespace qbxsim
