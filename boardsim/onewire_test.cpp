#include "onewire.h"

#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ds18s20.h"
#include "ds2450.h"
#include "onewire_crc.h"
#include "onewire_rom.h"
#include "onewire_test_support.h"

namespace qbxsim {
namespace {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;
using test::SlotMaster;

Bytes RomBytes(uint64_t rom)
{
    Bytes bytes;
    for (int i = 0; i < 8; ++i)
        bytes.push_back(static_cast<uint8_t>(rom >> (8 * i)));
    return bytes;
}

class FixedDevice : public OneWireDevice {
public:
    bool level = true, present = true, conducts = false;
    int powerOns = 0, slots = 0;
    uint64_t Rom() const override { return 0; }
    void PowerOn() override { ++powerOns; }
    bool Reset() override { return present; }
    bool Slot(bool) override { return ++slots > 0 && level; }
    bool JtagSwitchConducts() const override { return conducts; }
};

TEST(OneWireBus, WiredAndPresencePowerAndCounts)
{
    FixedDevice a, b;
    OneWireBus bus;
    bus.SetDevices({&a, &b});
    a.conducts = true;
    EXPECT_FALSE(bus.Reset()) << "unpowered: silent";
    EXPECT_TRUE(bus.Slot(true));
    EXPECT_FALSE(bus.JtagSwitchOn());
    EXPECT_EQ(a.slots, 0);
    bus.SetPowered(true);
    bus.SetPowered(true);   // no edge
    EXPECT_EQ(a.powerOns, 1);
    EXPECT_TRUE(bus.JtagSwitchOn());
    a.present = false;
    EXPECT_TRUE(bus.Reset()) << "presence from any device";
    b.present = false;
    EXPECT_FALSE(bus.Reset());
    EXPECT_TRUE(bus.Slot(true));
    EXPECT_FALSE(bus.Slot(false));
    b.level = false;
    EXPECT_FALSE(bus.Slot(true)) << "the wired-AND of the master and every device";
    EXPECT_EQ(a.slots, 3);
    EXPECT_EQ(b.slots, 3);
    for (int i = 0; i < 13; ++i)
        bus.Slot(true);
    EXPECT_EQ(bus.Resets(), 3u);
    EXPECT_EQ(bus.Bytes(), 2u);
    EXPECT_DOUBLE_EQ(bus.ModelledSeconds(), 3 * 1120e-6 + 17 * 73e-6);

    FixedDevice c;
    bus.SetPowered(false);
    bus.SetDevices({&c});   // next board, socket still off
    EXPECT_EQ(c.powerOns, 0);
    bus.SetPowered(true);
    EXPECT_EQ(c.powerOns, 1);
    bus.SetDevices({&a});   // plugged into a live socket
    EXPECT_EQ(a.powerOns, 2);
}

struct RomLayer : ::testing::Test {
    Ds2450 a{MakeRom(0x20, 0x0000000C1D2E, false), {}};
    Ds2450 b{MakeRom(0x20, 0x0000000C1D2F, false), {}};
    OneWireBus bus;
    SlotMaster master{bus};

    RomLayer()
    {
        bus.SetDevices({&a, &b});
        bus.SetPowered(true);
    }
    // Match ROM, then the first byte of page 1 from whoever is selected (0x08 after power-on).
    int ControlByte(uint64_t rom)
    {
        Bytes command = {kMatchRom};
        for (uint8_t byte : RomBytes(rom))
            command.push_back(byte);
        command.insert(command.end(), {Ds2450::kReadMemory, 0x08, 0x00});
        const Bytes got = master.Transfer(command, 1);
        return got.empty() ? -1 : got[0];
    }
};

TEST_F(RomLayer, MatchAndSkipRom)
{
    master.Write({kSkipRom, Ds2450::kReadMemory, 0x08, 0x00});
    EXPECT_EQ(master.ReadByte(), 0xFF) << "no answer before the first reset";
    for (uint8_t unknown : {0xEC, 0x33})   // Alarm Search; Read ROM, which is not modelled
        EXPECT_EQ(master.Transfer({unknown, Ds2450::kReadMemory, 0x08, 0x00}, 1), Bytes{0xFF}) << int(unknown);
    master.Transfer({kMatchRom}, 0);
    master.Write(RomBytes(b.Rom()));
    master.Write({Ds2450::kWriteMemory, 0x08, 0x00, 0x81});   // control byte A = 0x81 on b only
    master.Read(3);
    EXPECT_EQ(ControlByte(a.Rom()), 0x08);
    EXPECT_EQ(ControlByte(b.Rom()), 0x81);
    EXPECT_EQ(ControlByte(b.Rom() ^ (uint64_t{1} << 40)), 0xFF) << "nobody has that ROM";
    master.Transfer({kSkipRom, Ds2450::kWriteMemory, 0x0A, 0x00, 0x80}, 3);
    EXPECT_EQ(a.Memory()[0x0A], 0x80) << "Skip ROM selects everyone";
    EXPECT_EQ(b.Memory()[0x0A], 0x80);
}

TEST(ParseOneWireDevice, BuildsTheModelsWithTheirOptions)
{
    std::string error;
    auto t = ParseOneWireDevice(json::parse(R"({"type": "DS18S20", "serial": "00080157a3b2", "celsius": -0.5,
        "powered": false, "bad_scratchpad_crc": true, "count_per_c": 0})"), &error);
    ASSERT_NE(t, nullptr) << error;
    EXPECT_EQ(t->Rom(), MakeRom(0x10, 0x00080157A3B2, false));
    OneWireBus bus;
    bus.SetDevices({t.get()});
    bus.SetPowered(true);
    SlotMaster master{bus};
    EXPECT_EQ(master.Transfer({kSkipRom, Ds18s20::kReadPowerSupply}, 1), Bytes{0x00}) << "parasite";
    const auto pad = dynamic_cast<Ds18s20&>(*t).Scratchpad();
    EXPECT_EQ(pad[7], 0x00);
    EXPECT_NE(Crc8(pad), 0);

    auto d = ParseOneWireDevice(json::parse(R"({"type": "DS2450", "serial": "0000000C1D2F", "bad_crc": true,
        "volts": [0.44, 3.3, 0, 1], "jtag_switch": true, "bad_memory_crc": true})"),
                                &error);
    ASSERT_NE(d, nullptr) << error;
    EXPECT_EQ(d->Rom(), MakeRom(0x20, 0x0000000C1D2F, true));
    auto& adc = dynamic_cast<Ds2450&>(*d);
    EXPECT_EQ(adc.ConversionResult(0), 0x2C00) << "0.44 V = 44 steps of 10 mV";
    EXPECT_EQ(adc.ConversionResult(1), 0xFF00) << "3.3 V is beyond the 2.56 V full scale";
    EXPECT_EQ(adc.ConversionResult(3), 0x6400);
    bus.SetDevices({d.get()});
    EXPECT_EQ(master.Transfer({kSkipRom, Ds2450::kConvert, 0x0F, 0x00}, 2), (Bytes{0xC5, 0xFC})) << "not complemented";
    EXPECT_FALSE(adc.JtagSwitchConducts());
    master.Transfer({kSkipRom, Ds2450::kWriteMemory, 0x08, 0x00, 0x80}, 3);
    EXPECT_TRUE(adc.JtagSwitchConducts());
}

// One row per key and per way its value can be wrong; the message names the key.
TEST(ParseOneWireDevice, RejectsBadEntriesNamingTheKey)
{
    const std::string s = R"("serial": "000000000001")";
    const std::pair<std::string, const char*> cases[] = {
        {"[]", "object"},
        {"{" + s + "}", "\"type\""},
        {R"({"type": "DS2438", )" + s + "}", "\"type\""},
        {R"({"type": "DS2450", "serial": "00000000001"})", "\"serial\""},
        {R"({"type": "DS2450", "serial": "00000000000G"})", "\"serial\""},
        {R"({"type": "DS18S20", "colour": 1, )" + s + "}", "\"colour\""},
        {R"({"type": "DS18S20", "volts": [0,0,0,0], )" + s + "}", "\"volts\""},
        {R"({"type": "DS2450", "celsius": 20, )" + s + "}", "\"celsius\""},
        {R"({"type": "DS18S20", "celsius": 126, )" + s + "}", "\"celsius\""},
        {R"({"type": "DS18S20", "powered": 1, )" + s + "}", "\"powered\""},
        {R"({"type": "DS18S20", "bad_scratchpad_crc": 0, )" + s + "}", "\"bad_scratchpad_crc\""},
        {R"({"type": "DS18S20", "count_per_c": 256, )" + s + "}", "\"count_per_c\""},
        {R"({"type": "DS18S20", "bad_crc": "yes", )" + s + "}", "\"bad_crc\""},
        {R"({"type": "DS2450", "volts": [1, 2, 3], )" + s + "}", "\"volts\""},
        {R"({"type": "DS2450", "volts": [1, 2, 3, -1], )" + s + "}", "\"volts\""},
        {R"({"type": "DS2450", "jtag_switch": null, )" + s + "}", "\"jtag_switch\""},
        {R"({"type": "DS2450", "bad_memory_crc": [], )" + s + "}", "\"bad_memory_crc\""},
    };
    for (const auto& [text, key] : cases) {
        std::string error;
        EXPECT_EQ(ParseOneWireDevice(json::parse(text), &error), nullptr) << text;
        EXPECT_NE(error.find(key), std::string::npos) << text << " gave " << error;
    }
    EXPECT_EQ(ParseOneWireDevice(json::parse(R"({"type": 5})"), nullptr), nullptr);
}

}  // namespace
}  // namespace qbxsim
