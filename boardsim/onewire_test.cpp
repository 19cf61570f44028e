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

using nlohmann::json;
using test::SlotMaster;

const std::vector<uint8_t> kCheck = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

std::vector<uint8_t> RomBytes(uint64_t rom)
{
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 8; ++i)
        bytes.push_back(static_cast<uint8_t>(rom >> (8 * i)));
    return bytes;
}

// ---- CRCs and ROM ------------------------------------------------------------------------------

TEST(OneWireCrc, CheckValues)
{
    EXPECT_EQ(Crc8(kCheck), 0xA1);
    EXPECT_EQ(Crc16(kCheck), 0xBB3D);
    EXPECT_EQ(Crc8(std::vector<uint8_t>{0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10}), 0x87);
}

TEST(OneWireRom, FamilySerialAndCrc)
{
    const uint64_t rom = MakeRom(0x10, 0x00080157A3B2, false);
    const auto bytes = RomBytes(rom);
    EXPECT_EQ(bytes[0], 0x10);
    EXPECT_EQ(bytes[1], 0xB2);   // serial least significant byte first
    EXPECT_EQ(bytes[6], 0x00);
    EXPECT_EQ(rom & 0x00FFFFFFFFFFFF00, 0x00080157A3B200u);
    EXPECT_EQ(Crc8(bytes), 0);
    const uint64_t bad = MakeRom(0x10, 0x00080157A3B2, true);
    EXPECT_EQ(bad & 0x00FFFFFFFFFFFFFF, rom & 0x00FFFFFFFFFFFFFF);
    EXPECT_NE(Crc8(RomBytes(bad)), 0);
}

// ---- the bus -----------------------------------------------------------------------------------

class FixedDevice : public OneWireDevice {
public:
    bool level = true;
    bool present = true;
    bool conducts = false;
    int powerOns = 0;
    int slots = 0;
    uint64_t Rom() const override { return 0; }
    void PowerOn() override { ++powerOns; }
    bool Reset() override { return present; }
    bool Slot(bool) override
    {
        ++slots;
        return level;
    }
    bool JtagSwitchConducts() const override { return conducts; }
};

TEST(OneWireBus, SlotIsTheWiredAndOfMasterAndEveryDevice)
{
    FixedDevice a, b;
    OneWireBus bus;
    bus.SetDevices({&a, &b});
    bus.SetPowered(true);
    EXPECT_TRUE(bus.Slot(true));
    EXPECT_FALSE(bus.Slot(false));
    b.level = false;
    EXPECT_FALSE(bus.Slot(true));
    EXPECT_EQ(a.slots, 3);   // every device sees every slot
    EXPECT_EQ(b.slots, 3);
}

TEST(OneWireBus, PresenceFromAnyDevice)
{
    FixedDevice a, b;
    a.present = false;
    OneWireBus bus;
    bus.SetDevices({&a, &b});
    bus.SetPowered(true);
    EXPECT_TRUE(bus.Reset());
    b.present = false;
    EXPECT_FALSE(bus.Reset());
}

TEST(OneWireBus, UnpoweredBoardIsSilent)
{
    FixedDevice a;
    a.level = false;
    a.conducts = true;
    OneWireBus bus;
    bus.SetDevices({&a});
    EXPECT_FALSE(bus.Reset());
    EXPECT_TRUE(bus.Slot(true));
    EXPECT_FALSE(bus.JtagSwitchOn());
    EXPECT_EQ(a.slots, 0);
    bus.SetPowered(true);
    EXPECT_TRUE(bus.Reset());
    EXPECT_FALSE(bus.Slot(true));
    EXPECT_TRUE(bus.JtagSwitchOn());
    bus.SetPowered(false);
    EXPECT_FALSE(bus.Reset());
    EXPECT_FALSE(bus.JtagSwitchOn());
}

TEST(OneWireBus, PowerOnReachesEveryDeviceOnRisingEdgesAndNewBoards)
{
    FixedDevice a, b;
    OneWireBus bus;
    bus.SetDevices({&a});
    bus.SetPowered(true);
    bus.SetPowered(true);   // no edge
    EXPECT_EQ(a.powerOns, 1);
    bus.SetPowered(false);
    bus.SetDevices({&b});   // next board, socket still off
    EXPECT_EQ(b.powerOns, 0);
    bus.SetPowered(true);
    EXPECT_EQ(b.powerOns, 1);
    EXPECT_EQ(a.powerOns, 1);
    bus.SetDevices({&a});   // plugged into a live socket
    EXPECT_EQ(a.powerOns, 2);
}

TEST(OneWireBus, CountsAndModelledTime)
{
    OneWireBus bus;
    bus.Reset();
    for (int i = 0; i < 20; ++i)
        bus.Slot(true);
    EXPECT_EQ(bus.Resets(), 1u);
    EXPECT_EQ(bus.Bytes(), 2u);
    EXPECT_DOUBLE_EQ(bus.ModelledSeconds(), 1120e-6 + 20 * 73e-6);
}

// ---- ROM layer ---------------------------------------------------------------------------------

struct RomLayer : ::testing::Test {
    Ds2450 a{MakeRom(0x20, 0x0000000C1D2E, false), false, {}};
    Ds2450 b{MakeRom(0x20, 0x0000000C1D2F, false), false, {}};
    OneWireBus bus;
    SlotMaster master{bus};

    RomLayer()
    {
        bus.SetDevices({&a, &b});
        bus.SetPowered(true);
    }
    // Reads the first byte of page 1 from whoever is selected (0x08 after power-on).
    uint8_t ReadControlByte()
    {
        master.Write({0xAA, 0x08, 0x00});
        return master.ReadByte();
    }
};

TEST_F(RomLayer, DevicesIgnoreSlotsUntilTheFirstReset)
{
    master.Write({0xCC, 0xAA, 0x08, 0x00});
    EXPECT_EQ(master.ReadByte(), 0xFF);
}

TEST_F(RomLayer, ReadRomWithOneDevice)
{
    bus.SetDevices({&a});
    ASSERT_TRUE(master.Reset());
    master.WriteByte(kReadRom);
    EXPECT_EQ(master.Read(8), RomBytes(a.Rom()));
    EXPECT_EQ(ReadControlByte(), 0x08);   // selected afterwards
}

TEST_F(RomLayer, ReadRomWithTwoDevicesCollides)
{
    ASSERT_TRUE(master.Reset());
    master.WriteByte(kReadRom);
    const auto bytes = master.Read(8);
    EXPECT_EQ(bytes, RomBytes(a.Rom() & b.Rom()));
}

TEST_F(RomLayer, MatchRomSelectsOnlyThatDevice)
{
    ASSERT_TRUE(master.Reset());
    master.MatchRom(b.Rom());
    master.Write({0x55, 0x08, 0x00, 0x81});   // write control byte A = 0x81 on b only
    master.Read(3);
    ASSERT_TRUE(master.Reset());
    master.MatchRom(a.Rom());
    EXPECT_EQ(ReadControlByte(), 0x08);
    ASSERT_TRUE(master.Reset());
    master.MatchRom(b.Rom());
    EXPECT_EQ(ReadControlByte(), 0x81);
    ASSERT_TRUE(master.Reset());
    master.MatchRom(b.Rom() ^ (uint64_t{1} << 40));   // nobody
    EXPECT_EQ(ReadControlByte(), 0xFF);
}

TEST_F(RomLayer, SkipRomSelectsEveryone)
{
    ASSERT_TRUE(master.Reset());
    master.WriteByte(kSkipRom);
    master.Write({0x55, 0x08, 0x00, 0x80});
    master.Read(3);
    EXPECT_EQ(a.Memory()[0x08], 0x80);
    EXPECT_EQ(b.Memory()[0x08], 0x80);
}

TEST_F(RomLayer, SearchSlotsGiveBitComplementAndDropOut)
{
    // The ROMs differ first at bit 8 (serial byte 1: 0x2E vs 0x2F).
    ASSERT_TRUE(master.Reset());
    master.WriteByte(kSearchRom);
    for (int i = 0; i < 8; ++i) {
        const bool bit = ((a.Rom() >> i) & 1) != 0;
        EXPECT_EQ(bus.Slot(true), bit);
        EXPECT_EQ(bus.Slot(true), !bit);
        bus.Slot(bit);
    }
    EXPECT_FALSE(bus.Slot(true));   // 0 from a, 1 from b
    EXPECT_FALSE(bus.Slot(true));   // 1 from a, 0 from b
    bus.Slot(true);                 // take the 1 branch: a drops out
    for (int i = 9; i < 64; ++i) {
        const bool bit = ((b.Rom() >> i) & 1) != 0;
        EXPECT_EQ(bus.Slot(true), bit) << i;
        EXPECT_EQ(bus.Slot(true), !bit) << i;
        bus.Slot(bit);
    }
    EXPECT_EQ(ReadControlByte(), 0x08);   // b is selected
    // After a reset everyone listens again.
    ASSERT_TRUE(master.Reset());
    master.WriteByte(kSearchRom);
    EXPECT_FALSE(bus.Slot(true));   // bit 0 of family 0x20 is 0 for both
    EXPECT_TRUE(bus.Slot(true));
}

TEST_F(RomLayer, UnknownRomCommandSilencesUntilReset)
{
    ASSERT_TRUE(master.Reset());
    master.WriteByte(0xEC);
    master.Write({0xAA, 0x08, 0x00});
    EXPECT_EQ(master.ReadByte(), 0xFF);
}

TEST(RomLayerAbsent, AbsentAfterSearchDisappearsOnceFound)
{
    Ds2450 gone(MakeRom(0x20, 1, false), true, {});
    Ds2450 stays(MakeRom(0x20, 2, false), false, {});
    OneWireBus bus;
    bus.SetDevices({&gone, &stays});
    bus.SetPowered(true);
    Ds2482 chip({}, bus);
    test::BridgeHost host{chip};
    // Before any search it answers like any device.
    ASSERT_TRUE(host.OneWireReset());
    EXPECT_TRUE(host.WriteByte(kReadRom));
    EXPECT_EQ(host.ReadByte(), 0x20);
    const auto found = host.Search();
    EXPECT_EQ(found, test::SearchOrder({gone.Rom(), stays.Rom()}));
    auto controlByteOf = [&](uint64_t rom) {
        if (!host.OneWireReset())
            return -1;
        host.WriteByte(kMatchRom);
        for (uint8_t b : RomBytes(rom))
            host.WriteByte(b);
        for (uint8_t b : {0xAA, 0x08, 0x00})
            host.WriteByte(b);
        return int{host.ReadByte()};
    };
    EXPECT_EQ(controlByteOf(stays.Rom()), 0x08);
    EXPECT_EQ(controlByteOf(gone.Rom()), 0xFF);   // no answer any more
    bus.SetPowered(false);
    bus.SetPowered(true);
    EXPECT_EQ(controlByteOf(gone.Rom()), 0x08);   // back after a power cycle
}

// ---- board-file entries ------------------------------------------------------------------------

std::string ParseError(const json& entry)
{
    std::string error;
    EXPECT_EQ(ParseOneWireDevice(entry, &error), nullptr) << entry.dump();
    return error;
}

TEST(ParseOneWireDevice, BuildsBothTypesWithFamilyAndCrc)
{
    std::string error;
    auto t = ParseOneWireDevice(json::parse(R"({"type": "DS18S20", "serial": "00080157a3b2"})"),
                                &error);
    ASSERT_NE(t, nullptr) << error;
    EXPECT_EQ(t->Rom(), MakeRom(0x10, 0x00080157A3B2, false));
    auto d = ParseOneWireDevice(
        json::parse(R"({"type": "DS2450", "serial": "0000000C1D2F", "bad_crc": true})"), &error);
    ASSERT_NE(d, nullptr) << error;
    EXPECT_EQ(d->Rom(), MakeRom(0x20, 0x0000000C1D2F, true));
}

TEST(ParseOneWireDevice, OptionsReachTheModels)
{
    std::string error;
    auto entry = json::parse(R"({"type": "DS18S20", "serial": "000000000001", "celsius": -0.5,
        "powered": false, "bad_scratchpad_crc": true, "count_per_c": 0})");
    auto dev = ParseOneWireDevice(entry, &error);
    ASSERT_NE(dev, nullptr) << error;
    auto* t = dynamic_cast<Ds18s20*>(dev.get());
    ASSERT_NE(t, nullptr);
    OneWireBus bus;
    bus.SetDevices({t});
    bus.SetPowered(true);
    SlotMaster master{bus};
    master.Reset();
    master.Write({kSkipRom, Ds18s20::kReadPowerSupply});
    EXPECT_EQ(master.ReadByte(), 0x00);   // parasite
    const auto pad = t->Scratchpad();
    EXPECT_EQ(pad[7], 0x00);
    EXPECT_NE(Crc8(pad), 0);

    auto adcEntry = json::parse(R"({"type": "DS2450", "serial": "000000000002",
        "volts": [0.44, 3.3, 0, 1], "jtag_switch": true, "bad_memory_crc": true,
        "absent_after_search": false})");
    auto adc = ParseOneWireDevice(adcEntry, &error);
    ASSERT_NE(adc, nullptr) << error;
    auto* a = dynamic_cast<Ds2450*>(adc.get());
    ASSERT_NE(a, nullptr);
    // Power-on settings: 8 bits of 2.56 V full scale.
    EXPECT_EQ(a->ConversionResult(0), 0x2C00);   // 0.44 V = 44 steps of 10 mV
    EXPECT_EQ(a->ConversionResult(1), 0xFF00);   // 3.3 V is beyond full scale
    EXPECT_EQ(a->ConversionResult(2), 0x0000);
    EXPECT_EQ(a->ConversionResult(3), 0x6400);   // 1.0 V = 100 steps
    bus.SetDevices({a});
    master.Reset();
    master.Write({kSkipRom, Ds2450::kConvert, 0x0F, 0x00});
    const auto crc = master.Read(2);
    EXPECT_EQ(crc, (std::vector<uint8_t>{0xC5, 0xFC}));   // not complemented: wrong on purpose
    EXPECT_FALSE(a->JtagSwitchConducts());
    master.Reset();
    master.Write({kSkipRom, Ds2450::kWriteMemory, 0x08, 0x00, 0x80});
    master.Read(3);
    EXPECT_TRUE(a->JtagSwitchConducts());
}

TEST(ParseOneWireDevice, RejectsBadEntriesNamingTheKey)
{
    EXPECT_NE(ParseError(json::array()).find("object"), std::string::npos);
    EXPECT_NE(ParseError(json::parse(R"({"serial": "000000000001"})")).find("\"type\""),
              std::string::npos);
    EXPECT_NE(ParseError(json::parse(R"({"type": "DS2438", "serial": "000000000001"})"))
                  .find("\"type\""),
              std::string::npos);
    for (const char* serial : {R"("00000000001")", R"("0000000000001")", R"("00000000000G")",
                               "12", R"(" 00000000001")"}) {
        const auto entry = json::parse(std::string(R"({"type": "DS2450", "serial": )") + serial +
                                       "}");
        EXPECT_NE(ParseError(entry).find("\"serial\""), std::string::npos) << serial;
    }
    struct Bad {
        const char* json;
        const char* key;
    } cases[] = {
        {R"({"type": "DS18S20", "serial": "000000000001", "colour": 1})", "\"colour\""},
        {R"({"type": "DS18S20", "serial": "000000000001", "volts": [0,0,0,0]})", "\"volts\""},
        {R"({"type": "DS2450", "serial": "000000000001", "celsius": 20})", "\"celsius\""},
        {R"({"type": "DS18S20", "serial": "000000000001", "celsius": "20"})", "\"celsius\""},
        {R"({"type": "DS18S20", "serial": "000000000001", "celsius": 126})", "\"celsius\""},
        {R"({"type": "DS18S20", "serial": "000000000001", "powered": 1})", "\"powered\""},
        {R"({"type": "DS18S20", "serial": "000000000001", "count_per_c": 256})",
         "\"count_per_c\""},
        {R"({"type": "DS18S20", "serial": "000000000001", "count_per_c": 16.5})",
         "\"count_per_c\""},
        {R"({"type": "DS18S20", "serial": "000000000001", "bad_crc": "yes"})", "\"bad_crc\""},
        {R"({"type": "DS2450", "serial": "000000000001", "volts": [1, 2, 3]})", "\"volts\""},
        {R"({"type": "DS2450", "serial": "000000000001", "volts": [1, 2, 3, -1]})", "\"volts\""},
        {R"({"type": "DS2450", "serial": "000000000001", "volts": [1, 2, 3, null]})", "\"volts\""},
        {R"({"type": "DS2450", "serial": "000000000001", "jtag_switch": null})",
         "\"jtag_switch\""},
        {R"({"type": "DS2450", "serial": "000000000001", "absent_after_search": 0})",
         "\"absent_after_search\""},
        {R"({"type": "DS2450", "serial": "000000000001", "bad_memory_crc": []})",
         "\"bad_memory_crc\""},
    };
    for (const Bad& c : cases)
        EXPECT_NE(ParseError(json::parse(c.json)).find(c.key), std::string::npos) << c.json;
}

TEST(ParseOneWireDevice, NullErrorPointerIsAllowed)
{
    EXPECT_EQ(ParseOneWireDevice(json::parse(R"({"type": 5})"), nullptr), nullptr);
}

}  // namespace
}  // namespace qbxsim
