// Pure logic of the instruments: CRCs, identities, the ROM search, the device list, the voltage
// formula, the sensor slots (temperatures: instruments_sim_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "crc.h"
#include "ds18s20.h"
#include "ds2450.h"
#include "onewire_master.h"
#include "rom_search.h"
#include "romid.h"

namespace {

const std::vector<uint8_t> kCheckText = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

// A bus of devices as the bridge's triplets see it: every device still in the search answers its
// bit and its complement (wired-AND); the bridge takes the only bit present, or the direction when
// both are, or 1 when nobody answers. Returns the ROM of every pass of a whole search.
std::vector<uint64_t> Search(const std::vector<uint64_t>& roms, CRomSearch& search, size_t passes = 1000)
{
    std::vector<uint64_t> found;
    for (size_t pass = 0; pass < passes; ++pass) {
        std::vector<uint64_t> active = roms;
        uint64_t taken = 0, conflicts = 0;
        for (int i = 0; i < 64; ++i) {
            const bool one = std::any_of(active.begin(), active.end(), [&](uint64_t rom) { return (rom >> i) & 1; });
            const bool zero = std::any_of(active.begin(), active.end(), [&](uint64_t rom) { return !((rom >> i) & 1); });
            const bool direction = one && zero ? search.Direction(i) : !zero;
            if (one == zero)
                conflicts |= uint64_t{1} << i;
            if (direction)
                taken |= uint64_t{1} << i;
            std::erase_if(active, [&](uint64_t rom) { return (((rom >> i) & 1) != 0) != direction; });
        }
        found.push_back(taken);
        if (!search.Finish(taken, conflicts))
            break;
    }
    return found;
}

std::vector<uint64_t> Search(const std::vector<uint64_t>& roms)
{
    CRomSearch search;
    search.Start();
    return Search(roms, search);
}

// The order a search finds devices in: 0 before 1 at the lowest ROM bit where they differ.
std::vector<uint64_t> InSearchOrder(std::vector<uint64_t> roms)
{
    auto key = [](uint64_t rom) {
        uint64_t reversed = 0;
        for (int i = 0; i < 64; ++i)
            reversed |= ((rom >> i) & 1) << (63 - i);
        return reversed;
    };
    std::sort(roms.begin(), roms.end(), [&](uint64_t a, uint64_t b) { return key(a) < key(b); });
    return roms;
}

}  // namespace

TEST(Crc, MatchTheCheckValuesAndTheDevicesTransfers)
{
    EXPECT_EQ(Crc8(kCheckText), 0xA1);
    EXPECT_EQ(Crc16(kCheckText), 0xBB3D);
    // A DS2450's (complemented) answers: write memory 55 08 00 data 00, the next byte at 0x0009 data
    // 01; read memory AA 00 00 and eight zeros.
    EXPECT_EQ(static_cast<uint16_t>(~Crc16(std::vector<uint8_t>{0x55, 0x08, 0x00, 0x00})), 0xF16F);
    EXPECT_EQ(static_cast<uint16_t>(~Crc16(0x0009, 0x01)), 0x39FE);
    EXPECT_EQ(static_cast<uint16_t>(~Crc16(std::vector<uint8_t>{0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), 0x25DC);
}

TEST(RomId, IsEightLittleEndianBytesPrintedWithTheFamilyLast)
{
    const _ROMID rom = _ROMID::FromSerial(0x10, 0x00080157A3B2);
    EXPECT_EQ(rom.Family(), 0x10);
    EXPECT_EQ(rom.bytes[1], 0xB2);
    EXPECT_TRUE(rom.CrcValid());
    EXPECT_EQ(_ROMID::FromValue(rom.Value()), rom);
    // Upper-case hexadecimal without leading zeros: the CRC byte leads, the family code ends it.
    const std::string text = RomText(rom);
    EXPECT_EQ(text.substr(text.size() - 14), "00080157A3B210");
    EXPECT_EQ(RomText(_ROMID::FromValue(0x20)), "20");
    _ROMID bad = rom;
    bad.bytes[7] ^= 1;
    EXPECT_FALSE(bad.CrcValid());
}

TEST(RomSearch, FindsEveryDeviceOnceZeroBranchFirst)
{
    const uint64_t one = _ROMID::FromSerial(0x10, 0x123456789ABC).Value();
    EXPECT_EQ(Search({one}), std::vector<uint64_t>{one});
    for (int k = 0; k < 64; ++k) {  // two devices that first differ at bit k
        const uint64_t base = 0x5A5A5A5A5A5A5A5Aull & ~(uint64_t{1} << k);
        const uint64_t other = base | (uint64_t{1} << k);
        ASSERT_EQ(Search({other, base}), (std::vector<uint64_t>{base, other})) << "bit " << k;
    }
    std::mt19937_64 random(20240611);
    for (int round = 0; round < 20; ++round) {
        std::set<uint64_t> unique;
        const size_t count = 1 + random() % 40;
        while (unique.size() < count) {
            // Shared prefixes and free bits, so that branches sit at every depth.
            uint64_t rom = random();
            if (random() % 2)
                rom = (rom & 0xFFFF000000000000ull) | 0x0000123456789ABCull;
            unique.insert(rom);
        }
        const std::vector<uint64_t> roms(unique.begin(), unique.end());
        ASSERT_EQ(Search(roms), InSearchOrder(roms)) << "round " << round;
    }
    // Start forgets an earlier search.
    CRomSearch search;
    search.Start();
    ASSERT_EQ(Search({0x10, 0x20, 0x30}, search, 1).size(), 1u);
    search.Start();
    EXPECT_EQ(Search({0x10, 0x20, 0x30}, search), InSearchOrder({0x10, 0x20, 0x30}));
}

TEST(OneWireMaster, FindFamilyCopiesUpToRoomFromTheListItHas)
{
    void* noChannel = nullptr;  // a search would find nothing: the list at hand is used
    COneWireMaster master(noChannel);
    for (uint64_t serial = 1; serial <= 20; ++serial) {
        master.m_Devices.push_back(_ROMID::FromSerial(0x10, serial));
        if (serial % 4 == 0)
            master.m_Devices.push_back(_ROMID::FromSerial(0x20, serial));
    }
    std::vector<_ROMID> ids(3, _ROMID::FromSerial(0x99, 9));  // replaced, not appended to
    EXPECT_EQ(master.FindFamily(0x10, ids, 15), 15);
    ASSERT_EQ(ids.size(), 15u);
    for (uint64_t i = 0; i < 15; ++i)
        EXPECT_EQ(ids[i], _ROMID::FromSerial(0x10, i + 1)) << i;
    EXPECT_EQ(master.FindFamily(0x20, ids, 30), 5);
    EXPECT_EQ(ids.front(), _ROMID::FromSerial(0x20, 4));
    EXPECT_EQ(master.FindFamily(0x20, ids, 0) + master.FindFamily(0x20, ids, -3), 0);
    master.ClearDevices();
    EXPECT_EQ(master.FindFamily(0x10, ids, 15), 0);

    // The bridge's address byte: (0x18 | AD2..AD0) << 1.
    EXPECT_EQ((std::vector<int>{master.BridgeAddress(), COneWireMaster(noChannel, 5).BridgeAddress(),
                                COneWireMaster(noChannel, 9).BridgeAddress()}),
              (std::vector<int>{0x30, 0x3A, 0x32}));
}

TEST(Formulas, Voltages)
{
    EXPECT_NEAR(AdcVolts(0xFFFF, DS2450_WORD_INPUT), 65535.0 * 5.1 / 65536.0, 1e-5);
    EXPECT_FLOAT_EQ(AdcVolts(0x8000, DS2450_WORD_OUTPUT_ON), 2.55f);
    EXPECT_FLOAT_EQ(AdcVolts(0x8000, 0x0000), 1.275f);  // the 2.55 V range
}

TEST(SensorSlots, AttachAndClearResetThemAndWithoutMasterEveryOperationFails)
{
    void* noChannel = nullptr;
    COneWireMaster master(noChannel);
    const _ROMID rom = _ROMID::FromSerial(0x20, 0x0C1D2E);
    _ROMID badCrc = rom;
    badCrc.bytes[7] ^= 0x40;
    CDs2450 slot;
    EXPECT_FALSE(slot.IsValid());
    for (bool attach : {true, false}) {  // Attach, then Clear: either starts the slot afresh
        slot.m_Config = {DS2450_WORD_OUTPUT_ON, 1, 1, DS2450_WORD_OUTPUT_ON};
        slot.m_Raw[2] = 77;
        slot.m_Volts[1] = 3.0f;
        if (attach) {
            EXPECT_TRUE(slot.Attach(&master, rom));
        } else {
            slot.Clear();
        }
        EXPECT_EQ(slot.m_Config, (std::array<uint16_t, 4>{1, 1, 1, 1}));
        EXPECT_EQ(slot.m_Raw, (std::array<uint16_t, 4>{}));
        EXPECT_EQ(slot.m_Volts, (std::array<float, 4>{}));
    }
    EXPECT_EQ(slot.m_Master, nullptr);
    EXPECT_EQ(slot.m_Rom.Value(), 0u);
    EXPECT_FALSE(slot.Attach(&master, _ROMID::FromSerial(0x10, 0x0C1D2E)));  // another family
    EXPECT_FALSE(slot.Attach(&master, badCrc));
    EXPECT_FALSE(slot.Attach(nullptr, rom));
    EXPECT_TRUE(CDs18s20(&master, _ROMID::FromSerial(0x10, 1)).IsValid());
    EXPECT_FALSE(CDs18s20(&master, _ROMID::FromSerial(0x20, 1)).IsValid());

    slot.Clear();
    slot.m_Raw.fill(123);
    const uint8_t bytes[8] = {};
    uint8_t out[8];
    EXPECT_EQ((std::vector<int>{slot.WriteMemory(bytes), slot.Convert(), slot.ReadResults(out), slot.ReadVoltages()}),
              std::vector<int>(4, -1));
    EXPECT_EQ(slot.m_Volts, (std::array<float, 4>{-1.0f, -1.0f, -1.0f, -1.0f}));
    EXPECT_EQ(slot.m_Raw, (std::array<uint16_t, 4>{}));
    CDs18s20 thermometer;
    EXPECT_FALSE(thermometer.IsValid());
    bool powered = true;
    float celsius = 99.0f;
    EXPECT_EQ((std::vector<int>{thermometer.ReadPowerSupply(powered), thermometer.StartConversionAll(),
                                thermometer.ReadTemperature(celsius)}),
              std::vector<int>(3, -1));
    EXPECT_EQ(celsius, 99.0f);
}
