// Pure logic of the instruments: CRCs, identities, the ROM search bookkeeping, the temperature,
// voltage and supply formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "crc.h"
#include "ds18s20.h"
#include "ds2450.h"
#include "rom_search.h"
#include "romid.h"
#include "supply.h"

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> bytes;
    for (int v : values)
        bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

const std::vector<uint8_t> kCheckText = Bytes({'1', '2', '3', '4', '5', '6', '7', '8', '9'});

}  // namespace

TEST(Crc8, MatchesTheMaximCheckValueAndValidatesBlocksCarryingTheirCrc)
{
    EXPECT_EQ(Crc8(kCheckText), 0xA1);
    // A DS18S20 scratchpad at power-up, with its CRC byte: the CRC over all nine bytes is 0.
    std::vector<uint8_t> scratchpad = Bytes({0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, 0x10});
    EXPECT_EQ(Crc8(scratchpad), 0x87);
    scratchpad.push_back(0x87);
    EXPECT_EQ(Crc8(scratchpad), 0);
    scratchpad[3] ^= 0x10;
    EXPECT_NE(Crc8(scratchpad), 0);
}

TEST(Crc16, MatchesTheCheckValueAndTheDs2450Transfers)
{
    EXPECT_EQ(Crc16(kCheckText), 0xBB3D);
    // Write memory 55 08 00 and data 00: the device answers 6F F1 (the complement, low byte first).
    EXPECT_EQ(static_cast<uint16_t>(~Crc16(Bytes({0x55, 0x08, 0x00, 0x00}))), 0xF16F);
    // The next byte's CRC starts from its address: 0x0009 and data 01 give FE 39.
    EXPECT_EQ(static_cast<uint16_t>(~Crc16(Bytes({0x01}), 0x0009)), 0x39FE);
    // Convert 3C 0F 00 gives 3A 03.
    EXPECT_EQ(static_cast<uint16_t>(~Crc16(Bytes({0x3C, 0x0F, 0x00}))), 0x033A);
    // Read memory AA 00 00 and eight zero bytes give DC 25.
    EXPECT_EQ(static_cast<uint16_t>(~Crc16(Bytes({0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}))), 0x25DC);
    // The byte-wise and block forms agree.
    uint16_t crc = 0;
    for (uint8_t b : kCheckText)
        crc = Crc16(crc, b);
    EXPECT_EQ(crc, 0xBB3D);
}

TEST(RomId, IsEightLittleEndianBytesPrintedWithTheFamilyLast)
{
    const _ROMID rom = _ROMID::FromSerial(0x10, 0x00080157A3B2);
    EXPECT_EQ(rom.Family(), 0x10);
    EXPECT_EQ(rom.bytes[1], 0xB2);
    EXPECT_EQ(rom.bytes[6], 0x00);
    EXPECT_TRUE(rom.CrcValid());
    EXPECT_EQ(_ROMID::FromValue(rom.Value()), rom);
    // Upper-case hexadecimal without leading zeros: the CRC byte leads, the family code ends it.
    const std::string text = RomText(rom);
    ASSERT_GE(text.size(), 15u);
    EXPECT_EQ(text.substr(text.size() - 14), "00080157A3B210");
    EXPECT_EQ(RomText(_ROMID::FromValue(0x20)), "20");

    _ROMID bad = rom;
    bad.bytes[7] ^= 1;
    EXPECT_FALSE(bad.CrcValid());
}

// A bus of devices as the bridge's triplet sees it: each participating device answers its bit and
// its complement (wired-AND); the bridge takes the only bit present, or the direction on a
// disagreement, or 1 when nobody answers.
class TripletBus {
public:
    explicit TripletBus(std::vector<uint64_t> roms) : m_Roms(std::move(roms)) {}

    // One pass as COneWireMaster::SearchPass runs it; returns the ROM and whether more remain.
    std::pair<uint64_t, bool> Pass(CRomSearch& search) const
    {
        std::vector<uint64_t> active = m_Roms;
        uint64_t taken = 0;
        uint64_t conflicts = 0;
        for (int i = 0; i < 64; ++i) {
            bool bit = true;
            bool complement = true;
            for (uint64_t rom : active) {
                bit = bit && ((rom >> i) & 1);
                complement = complement && !((rom >> i) & 1);
            }
            bool direction;
            if (!bit && !complement)
                direction = search.Direction(i);
            else
                direction = bit;  // 1 0 -> 1; 0 1 -> 0; 1 1 (nobody) -> 1
            if (bit == complement)
                conflicts |= uint64_t{1} << i;
            if (direction)
                taken |= uint64_t{1} << i;
            std::erase_if(active, [&](uint64_t rom) { return (((rom >> i) & 1) != 0) != direction; });
        }
        const bool more = search.Finish(taken, conflicts);
        return {taken, more};
    }

    // Every pass of a whole search, at most limit passes.
    std::vector<uint64_t> Search(size_t limit = 1000) const
    {
        CRomSearch search;
        search.Start();
        std::vector<uint64_t> found;
        for (size_t pass = 0; pass < limit; ++pass) {
            auto [rom, more] = Pass(search);
            found.push_back(rom);
            if (!more)
                break;
        }
        return found;
    }

private:
    std::vector<uint64_t> m_Roms;
};

// The order a search finds devices in: 0 before 1 at the lowest ROM bit where they differ.
uint64_t SearchKey(uint64_t rom)
{
    uint64_t key = 0;
    for (int i = 0; i < 64; ++i)
        key |= ((rom >> i) & 1) << (63 - i);
    return key;
}

std::vector<uint64_t> InSearchOrder(std::vector<uint64_t> roms)
{
    std::sort(roms.begin(), roms.end(), [](uint64_t a, uint64_t b) { return SearchKey(a) < SearchKey(b); });
    return roms;
}

TEST(RomSearch, OneDeviceIsFoundInOneLastPass)
{
    const uint64_t rom = _ROMID::FromSerial(0x10, 0x123456789ABC).Value();
    EXPECT_EQ(TripletBus({rom}).Search(), std::vector<uint64_t>{rom});
}

TEST(RomSearch, TwoDevicesDifferingAtAnyBitAreFoundZeroBranchFirst)
{
    for (int k = 0; k < 64; ++k) {
        const uint64_t base = 0x5A5A5A5A5A5A5A5Aull & ~(uint64_t{1} << k);
        const uint64_t other = base | (uint64_t{1} << k);
        const std::vector<uint64_t> found = TripletBus({other, base}).Search();
        ASSERT_EQ(found, (std::vector<uint64_t>{base, other})) << "ROMs differing at bit " << k;
    }
}

TEST(RomSearch, ManyDevicesAreEachFoundOnceInSearchOrder)
{
    std::mt19937_64 random(20240611);
    for (int round = 0; round < 50; ++round) {
        std::set<uint64_t> unique;
        const size_t count = 1 + random() % 40;
        while (unique.size() < count) {
            // Mix shared prefixes and free bits so that branches sit at every depth.
            uint64_t rom = random();
            if (random() % 2)
                rom = (rom & 0xFFFF000000000000ull) | 0x0000123456789ABCull;
            unique.insert(rom);
        }
        const std::vector<uint64_t> roms(unique.begin(), unique.end());
        ASSERT_EQ(TripletBus(roms).Search(), InSearchOrder(roms)) << "round " << round;
    }
}

TEST(RomSearch, StartForgetsAnEarlierSearch)
{
    const std::vector<uint64_t> roms = {0x10, 0x20, 0x30};
    CRomSearch search;
    search.Start();
    TripletBus bus(roms);
    ASSERT_TRUE(bus.Pass(search).second);  // one pass into a search of three
    search.Start();
    EXPECT_EQ(search.m_Direction, 0u);
    EXPECT_EQ(search.m_Explored, 0u);
    EXPECT_EQ(bus.Pass(search).first, InSearchOrder(roms).front());
}

TEST(Ds18s20Formula, ExtendedResolutionFromTheScratchpad)
{
    // 0x0032 with COUNT_REMAIN 12 and COUNT_PER_C 16: 25 - 0.25 + 4/16 = 25.0.
    const uint8_t at25[9] = {0x32, 0x00, 0, 0, 0xFF, 0xFF, 0x0C, 0x10, 0};
    EXPECT_FLOAT_EQ(ScratchpadCelsius(at25), 25.0f);

    // 0xFFFF (-0.5 degrees): the shift keeps the sign, so the result stays near zero.
    const uint8_t minusHalf[9] = {0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0x04, 0x10, 0};
    EXPECT_FLOAT_EQ(ScratchpadCelsius(minusHalf), -0.5f);
    const uint8_t justBelow[9] = {0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0x01, 0x10, 0};
    EXPECT_FLOAT_EQ(ScratchpadCelsius(justBelow), -1.0f - 0.25f + 15.0f / 16.0f);
    EXPECT_LT(ScratchpadCelsius(justBelow), 0.0f);
    EXPECT_GT(ScratchpadCelsius(justBelow), -1.0f);

    // -25 degrees: 0xFFCE.
    const uint8_t minus25[9] = {0xCE, 0xFF, 0, 0, 0xFF, 0xFF, 0x0C, 0x10, 0};
    EXPECT_FLOAT_EQ(ScratchpadCelsius(minus25), -25.0f);
}

TEST(Ds2450Formula, SixteenBitResultsScaleWithTheRangeBit)
{
    EXPECT_NEAR(AdcVolts(0xFFFF, DS2450_WORD_INPUT), 65535.0 * 5.1 / 65536.0, 1e-5);
    EXPECT_FLOAT_EQ(AdcVolts(0x8000, DS2450_WORD_INPUT), 2.55f);
    EXPECT_FLOAT_EQ(AdcVolts(0x8000, DS2450_WORD_OUTPUT_ON), 2.55f);
    EXPECT_FLOAT_EQ(AdcVolts(0x8000, 0x0000), 1.275f);  // 2.55 V range
    EXPECT_FLOAT_EQ(AdcVolts(0, DS2450_WORD_INPUT), 0.0f);
}

TEST(SupplyFormula, CurrentInputVoltageAndMemoryFault)
{
    EXPECT_NEAR(SupplyCurrent(0.44f), 1.0f, 1e-6);
    EXPECT_NEAR(SupplyCurrent(0.0f), 0.0f, 1e-9);
    EXPECT_FLOAT_EQ(SupplyVin(1.65f), 3.3f);
    EXPECT_TRUE(VmemFault(1.49f));
    EXPECT_FALSE(VmemFault(1.5f));
    EXPECT_FALSE(VmemFault(3.3f));

    EXPECT_EQ(PowerFlags(0, false), 0);
    EXPECT_EQ(PowerFlags(1, false), 1);
    EXPECT_EQ(PowerFlags(1, true), 5);
    EXPECT_EQ(PowerFlags(7, true), 7);  // only two bits of bus selection
}

TEST(SupplyFormula, ConverterRolesFromChannelsAAndB)
{
    EXPECT_EQ(ClassifyAdc(0.44f, 3.30f), ADC_SENSOR1);
    EXPECT_EQ(ClassifyAdc(3.30f, 3.32f), ADC_SENSOR2);
    EXPECT_EQ(ClassifyAdc(3.25f, 3.30f), ADC_SENSOR2);
    // B must lie strictly inside (3.0, 3.7).
    EXPECT_EQ(ClassifyAdc(3.0f, 3.0f), ADC_NOT_ASSIGNED);
    EXPECT_EQ(ClassifyAdc(3.7f, 3.7f), ADC_NOT_ASSIGNED);
    EXPECT_EQ(ClassifyAdc(0.0f, 2.9f), ADC_NOT_ASSIGNED);
    EXPECT_EQ(ClassifyAdc(-1.0f, -1.0f), ADC_NOT_ASSIGNED);  // a failed read
}

TEST(Ds2450Slot, ClearAndAttachResetTheSlot)
{
    CDs2450 slot;
    EXPECT_FALSE(slot.IsValid());
    EXPECT_EQ(slot.m_Config, (std::array<uint16_t, 4>{1, 1, 1, 1}));

    void* noChannel = nullptr;
    COneWireMaster master(noChannel);
    slot.m_Config[0] = DS2450_WORD_OUTPUT_ON;
    slot.m_Raw[2] = 77;
    slot.m_Volts[1] = 3.0f;
    EXPECT_TRUE(slot.Attach(&master, _ROMID::FromSerial(0x20, 0x0C1D2E)));
    EXPECT_EQ(slot.m_Config, (std::array<uint16_t, 4>{1, 1, 1, 1}));
    EXPECT_EQ(slot.m_Raw, (std::array<uint16_t, 4>{}));
    EXPECT_EQ(slot.m_Volts, (std::array<float, 4>{}));

    EXPECT_FALSE(slot.Attach(&master, _ROMID::FromSerial(0x10, 0x0C1D2E)));  // wrong family
    _ROMID badCrc = _ROMID::FromSerial(0x20, 0x0C1D2E);
    badCrc.bytes[7] ^= 0x40;
    EXPECT_FALSE(slot.Attach(&master, badCrc));
    EXPECT_FALSE(slot.Attach(nullptr, _ROMID::FromSerial(0x20, 0x0C1D2E)));

    slot.Attach(&master, _ROMID::FromSerial(0x20, 0x0C1D2E));
    slot.Clear();
    EXPECT_EQ(slot.m_Master, nullptr);
    EXPECT_EQ(slot.m_Rom.Value(), 0u);
}

TEST(Ds2450Slot, WithoutMasterEveryOperationFailsAndVoltagesReadMinusOne)
{
    CDs2450 slot;
    slot.m_Raw.fill(123);
    const uint8_t bytes[8] = {};
    EXPECT_EQ(slot.WriteMemory(bytes), -1);
    EXPECT_EQ(slot.WriteChannelConfig(), -1);
    EXPECT_EQ(slot.Convert(), -1);
    uint8_t out[8];
    EXPECT_EQ(slot.ReadResults(out), -1);
    EXPECT_EQ(slot.ReadVoltages(), -1);
    EXPECT_EQ(slot.m_Volts, (std::array<float, 4>{-1.0f, -1.0f, -1.0f, -1.0f}));
    EXPECT_EQ(slot.m_Raw, (std::array<uint16_t, 4>{}));

    CDs18s20 thermometer;
    EXPECT_FALSE(thermometer.IsValid());
    bool powered = true;
    float celsius = 99.0f;
    EXPECT_EQ(thermometer.ReadPowerSupply(powered), -1);
    EXPECT_EQ(thermometer.StartConversionAll(), -1);
    EXPECT_EQ(thermometer.ReadTemperature(celsius), -1);
    EXPECT_EQ(celsius, 99.0f);
}
