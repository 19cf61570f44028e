// The 1-Wire master and the sensors against the board simulator, through the real libusbwire.so:
// the bridge, the bus and the devices answer as the chips do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "crc.h"
#include "ds18s20.h"
#include "ds2450.h"
#include "i2c_channel.h"
#include "onewire_master.h"
#include "platform.h"
#include "sim_board.h"
#include "supply.h"
#include "usbwire.h"

using namespace qbxtest;
using nlohmann::json;

namespace {

// The order a search finds devices in: 0 before 1 at the lowest ROM bit where they differ.
uint64_t SearchKey(uint64_t rom)
{
    uint64_t key = 0;
    for (int i = 0; i < 64; ++i)
        key |= ((rom >> i) & 1) << (63 - i);
    return key;
}

std::vector<_ROMID> InSearchOrder(std::vector<_ROMID> roms)
{
    std::sort(roms.begin(), roms.end(),
              [](const _ROMID& a, const _ROMID& b) { return SearchKey(a.Value()) < SearchKey(b.Value()); });
    return roms;
}

json Thermometer(uint64_t serial, double celsius = 24.5)
{
    return {{"type", "DS18S20"}, {"serial", SerialText(serial)}, {"powered", true}, {"celsius", celsius}};
}

json Converter(uint64_t serial, std::vector<double> volts)
{
    return {{"type", "DS2450"}, {"serial", SerialText(serial)}, {"volts", volts}};
}

// One simulated board with the given 1-Wire devices, powered, with the I2C channel open.
class OneWireSim : public testing::Test {
protected:
    void Start(json devices, json bridge = json::object())
    {
        json file = HealthyBoard(BsdlForTests(m_Dir));
        FirstBoard(file)["onewire"] = std::move(devices);
        for (auto& [key, value] : bridge.items())
            file["bridge"][key] = value;
        UseSimulator(WriteBoardFile(m_Dir, file));
        ASSERT_EQ(OpenI2CChannel(m_I2C), 0) << "the simulator did not open: is libqbxsim.so built?";
        I2C_GPIODirection(m_I2C, 4, 1);
        ASSERT_EQ(I2C_GPIOWrite(m_I2C, 4, 1), 1);  // board enable
        platform::SleepMs(10);
    }

    void TearDown() override
    {
        if (m_I2C != nullptr)
            I2C_GPIOWrite(m_I2C, 4, 0);
        CloseI2CChannel(m_I2C);
    }

    TempDir m_Dir;
    void* m_I2C = nullptr;
    COneWireMaster m_Master{m_I2C};
};

}  // namespace

TEST_F(OneWireSim, AnEmptyBusHasNoPresenceAndNoDevices)
{
    Start(json::array());
    EXPECT_EQ(m_Master.Reset(), ONEWIRE_NO_PRESENCE);
    std::vector<_ROMID> ids;
    EXPECT_EQ(m_Master.FindFamily(0x10, ids, 15), 0);
    EXPECT_EQ(m_Master.FindFamily(0x20, ids, 30), 0);
    EXPECT_TRUE(ids.empty());
    EXPECT_EQ(m_Master.EnumerateBus(), 0);
}

TEST_F(OneWireSim, OneDeviceIsFoundInALastPass)
{
    Start(json::array({Thermometer(0x00080157A3B2)}));
    EXPECT_EQ(m_Master.Reset(), ONEWIRE_OK);
    _ROMID rom;
    EXPECT_EQ(m_Master.SearchPass(true, rom), SEARCH_LAST);
    EXPECT_EQ(rom, _ROMID::FromSerial(0x10, 0x00080157A3B2));
    EXPECT_EQ(m_Master.EnumerateBus(), 1);
    ASSERT_EQ(m_Master.m_Devices.size(), 1u);
    EXPECT_EQ(m_Master.m_Devices[0], rom);
}

// Two devices whose ROMs first differ at bit k: the 0 branch first, then the 1 branch, last.
class TwoDevicesSim : public OneWireSim, public testing::WithParamInterface<int> {};

TEST_P(TwoDevicesSim, TheZeroBranchComesFirstAndTheSecondPassIsLast)
{
    const int k = GetParam();  // a serial bit: ROM bit k is serial bit k - 8
    const uint64_t base = 0x5A5A5A5A5A5Aull & ~(uint64_t{1} << (k - 8));
    const uint64_t other = base | (uint64_t{1} << (k - 8));
    Start(json::array({Thermometer(other), Thermometer(base)}));
    _ROMID rom;
    ASSERT_EQ(m_Master.SearchPass(true, rom), SEARCH_MORE);
    EXPECT_EQ(rom, _ROMID::FromSerial(0x10, base));
    ASSERT_EQ(m_Master.SearchPass(false, rom), SEARCH_LAST);
    EXPECT_EQ(rom, _ROMID::FromSerial(0x10, other));
}

INSTANTIATE_TEST_SUITE_P(AtBit, TwoDevicesSim, testing::Values(8, 9, 23, 40, 55));

TEST_F(OneWireSim, DevicesOfBothFamiliesAreFoundAndFilteredWithTheirRoom)
{
    json devices = json::array();
    std::vector<_ROMID> roms;
    for (uint64_t i = 0; i < 20; ++i) {
        const uint64_t serial = 0x0000A0000000ull + i * 0x0000000B0301ull;
        devices.push_back(Thermometer(serial));
        roms.push_back(_ROMID::FromSerial(0x10, serial));
    }
    for (uint64_t i = 0; i < 3; ++i) {
        const uint64_t serial = 0x00000C1D2E00ull + i;
        devices.push_back(Converter(serial, {1.0, 3.3, 1.0, 1.0}));
        roms.push_back(_ROMID::FromSerial(0x20, serial));
    }
    Start(devices);

    EXPECT_EQ(m_Master.EnumerateBus(), 23);
    EXPECT_EQ(m_Master.m_Devices, InSearchOrder(roms));

    // The room of the station's thermometer list is 15: the first 15 in search order.
    m_Master.ClearDevices();
    std::vector<_ROMID> ids;
    EXPECT_EQ(m_Master.FindFamily(0x10, ids, 15), 15);
    std::vector<_ROMID> thermometers = InSearchOrder({roms.begin(), roms.begin() + 20});
    thermometers.resize(15);
    EXPECT_EQ(ids, thermometers);
    EXPECT_EQ(m_Master.FindFamily(0x20, ids, 30), 3);
    EXPECT_EQ(ids, InSearchOrder({roms.begin() + 20, roms.end()}));
}

TEST_F(OneWireSim, ABadRomCrcEndsTheEnumerationKeepingTheDevicesBefore)
{
    // Search order by the low serial bits: 2, then 1 (bad CRC), then 3.
    json bad = Thermometer(1);
    bad["bad_crc"] = true;
    Start(json::array({Thermometer(3), bad, Thermometer(2)}));
    EXPECT_EQ(m_Master.EnumerateBus(), 1);
    ASSERT_EQ(m_Master.m_Devices.size(), 1u);
    EXPECT_EQ(m_Master.m_Devices[0], _ROMID::FromSerial(0x10, 2));
}

TEST_F(OneWireSim, ABridgeThatStaysBusyGivesNineteen)
{
    Start(json::array({Thermometer(1)}), {{"stuck_busy", true}});
    platform::FakeClock clock;  // the 40 pauses of 1 ms need not be waited for
    platform::ScopedClock scoped(clock);
    EXPECT_EQ(m_Master.Reset(), ONEWIRE_BUSY);
    EXPECT_EQ(clock.Slept(), 40u);
    std::vector<_ROMID> ids;
    EXPECT_EQ(m_Master.FindFamily(0x10, ids, 15), 0);
}

TEST_F(OneWireSim, ASlowBridgeIsWaitedFor)
{
    Start(json::array({Thermometer(1)}), {{"busy_reads", 10}});
    EXPECT_EQ(m_Master.Reset(), ONEWIRE_OK);
    EXPECT_EQ(m_Master.EnumerateBus(), 1);
}

TEST_F(OneWireSim, AnAbsentBridgeDoesNotAcknowledge)
{
    Start(json::array({Thermometer(1)}), {{"present", false}});
    EXPECT_EQ(m_Master.Reset(), ONEWIRE_NACK);
    std::vector<_ROMID> ids;
    EXPECT_EQ(m_Master.FindFamily(0x10, ids, 15), 0);
}

TEST_F(OneWireSim, ConfigurationWriteAndReadBack)
{
    Start(json::array({Thermometer(1)}));
    EXPECT_EQ(m_Master.WriteConfig(0x01), ONEWIRE_OK);
    uint8_t config = 0xFF;
    EXPECT_EQ(m_Master.ReadConfig(config), ONEWIRE_OK);
    EXPECT_EQ(config, 0x01);
    EXPECT_EQ(m_Master.WriteConfig(0x04), ONEWIRE_OK);  // D2 B4
    EXPECT_EQ(m_Master.ReadConfig(config), ONEWIRE_OK);
    EXPECT_EQ(config, 0x04);
}

TEST_F(OneWireSim, AClosedChannelEndsEveryOperationWithMinusOne)
{
    Start(json::array({Thermometer(1)}));
    EXPECT_EQ(m_Master.Reset(), ONEWIRE_OK);
    I2C_GPIOWrite(m_I2C, 4, 0);
    CloseI2CChannel(m_I2C);
    EXPECT_EQ(m_Master.Reset(), -1);  // the master reads the closed variable
    CDs18s20 thermometer(&m_Master, _ROMID::FromSerial(0x10, 1));
    float celsius = 0;
    EXPECT_EQ(thermometer.ReadTemperature(celsius), -1);
}

TEST_F(OneWireSim, ThermometerPowerSupply)
{
    json parasite = Thermometer(2);
    parasite["powered"] = false;
    Start(json::array({Thermometer(1), parasite}));
    bool powered = false;
    CDs18s20 external(&m_Master, _ROMID::FromSerial(0x10, 1));
    EXPECT_TRUE(external.IsValid());
    EXPECT_EQ(external.ReadPowerSupply(powered), ONEWIRE_OK);
    EXPECT_TRUE(powered);
    CDs18s20 stolen(&m_Master, _ROMID::FromSerial(0x10, 2));
    EXPECT_EQ(stolen.ReadPowerSupply(powered), ONEWIRE_OK);
    EXPECT_FALSE(powered);
}

// Starts a conversion, waits for it as the station does (it runs meanwhile), reads the value.
int ConvertAndRead(CDs18s20& thermometer, float& celsius)
{
    int rc = thermometer.StartConversionAll();
    if (rc != ONEWIRE_OK)
        return rc;
    platform::SleepMs(800);
    return thermometer.ReadTemperature(celsius);
}

TEST_F(OneWireSim, TemperatureAtTwentyFiveDegrees)
{
    Start(json::array({Thermometer(1, 25.0)}));
    CDs18s20 thermometer(&m_Master, _ROMID::FromSerial(0x10, 1));
    float celsius = 0;
    ASSERT_EQ(ConvertAndRead(thermometer, celsius), ONEWIRE_OK);
    EXPECT_FLOAT_EQ(celsius, 25.0f);
}

TEST_F(OneWireSim, TemperatureJustBelowZero)
{
    Start(json::array({Thermometer(1, -0.5), Thermometer(2, -0.0625)}));
    float celsius = 0;
    CDs18s20 half(&m_Master, _ROMID::FromSerial(0x10, 1));
    ASSERT_EQ(ConvertAndRead(half, celsius), ONEWIRE_OK);
    EXPECT_FLOAT_EQ(celsius, -0.5f);
    CDs18s20 sixteenth(&m_Master, _ROMID::FromSerial(0x10, 2));
    ASSERT_EQ(sixteenth.ReadTemperature(celsius), ONEWIRE_OK);  // converted together with the first
    EXPECT_FLOAT_EQ(celsius, -0.0625f);
}

TEST_F(OneWireSim, ScratchpadErrorsAreReadErrors)
{
    json badCrc = Thermometer(1, 25.0);
    badCrc["bad_scratchpad_crc"] = true;
    json noCount = Thermometer(2, 25.0);
    noCount["count_per_c"] = 0;
    Start(json::array({badCrc, noCount}));
    CDs18s20 first(&m_Master, _ROMID::FromSerial(0x10, 1));
    CDs18s20 second(&m_Master, _ROMID::FromSerial(0x10, 2));
    float celsius = 123.0f;
    EXPECT_EQ(ConvertAndRead(first, celsius), ONEWIRE_CRC_ERROR);
    EXPECT_EQ(second.ReadTemperature(celsius), ONEWIRE_CRC_ERROR);
    EXPECT_EQ(celsius, 123.0f);
}

TEST_F(OneWireSim, ConverterChannelsReadTheirVoltages)
{
    Start(json::array({Converter(0x0C1D2E, {0.44, 3.30, 0.0, 1.80}), Converter(0x0C1D2F, {3.30, 3.32, 1.65, 1.49})}));
    CDs2450 sensor1, sensor2;
    ASSERT_TRUE(sensor1.Attach(&m_Master, _ROMID::FromSerial(0x20, 0x0C1D2E)));
    ASSERT_TRUE(sensor2.Attach(&m_Master, _ROMID::FromSerial(0x20, 0x0C1D2F)));
    for (CDs2450* adc : {&sensor1, &sensor2}) {
        ASSERT_EQ(adc->WriteChannelConfig(), ONEWIRE_OK);
        ASSERT_EQ(adc->Convert(), ONEWIRE_OK);
        ASSERT_EQ(adc->ReadVoltages(), ONEWIRE_OK);
    }
    // The station scales with 5.1 V over 65536: within 0.5 % of the true value.
    const float expected1[4] = {0.44f, 3.30f, 0.0f, 1.80f};
    const float expected2[4] = {3.30f, 3.32f, 1.65f, 1.49f};
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_NEAR(sensor1.m_Volts[ch], expected1[ch], 0.005 * expected1[ch] + 0.002) << "channel " << ch;
        EXPECT_NEAR(sensor2.m_Volts[ch], expected2[ch], 0.005 * expected2[ch] + 0.002) << "channel " << ch;
        EXPECT_NEAR(AdcVolts(sensor1.m_Raw[ch], DS2450_WORD_INPUT), sensor1.m_Volts[ch], 1e-6);
    }
    EXPECT_NEAR(SupplyCurrent(sensor1.m_Volts[0]), 1.0f, 0.01f);
    EXPECT_NEAR(SupplyVin(sensor2.m_Volts[2]), 3.3f, 0.02f);
    EXPECT_TRUE(VmemFault(sensor2.m_Volts[3]));
    EXPECT_FALSE(VmemFault(sensor1.m_Volts[3]));
    EXPECT_EQ(ClassifyAdc(sensor1.m_Volts[0], sensor1.m_Volts[1]), ADC_SENSOR1);
    EXPECT_EQ(ClassifyAdc(sensor2.m_Volts[0], sensor2.m_Volts[1]), ADC_SENSOR2);
}

TEST_F(OneWireSim, AConductingOutputReadsZeroVolts)
{
    Start(json::array({Converter(0x0C1D2E, {2.0, 3.3, 2.0, 2.0})}));
    CDs2450 adc;
    ASSERT_TRUE(adc.Attach(&m_Master, _ROMID::FromSerial(0x20, 0x0C1D2E)));
    adc.m_Config[1] = DS2450_WORD_OUTPUT_ON;
    ASSERT_EQ(adc.WriteChannelConfig(), ONEWIRE_OK);
    ASSERT_EQ(adc.Convert(), ONEWIRE_OK);
    ASSERT_EQ(adc.ReadVoltages(), ONEWIRE_OK);
    EXPECT_NEAR(adc.m_Volts[0], 2.0f, 0.02f);
    EXPECT_LT(adc.m_Volts[1], 0.05f);

    adc.m_Config[1] = DS2450_WORD_INPUT;  // off again
    ASSERT_EQ(adc.WriteChannelConfig(), ONEWIRE_OK);
    ASSERT_EQ(adc.Convert(), ONEWIRE_OK);
    ASSERT_EQ(adc.ReadVoltages(), ONEWIRE_OK);
    EXPECT_NEAR(adc.m_Volts[1], 3.3f, 0.02f);
}

TEST_F(OneWireSim, AConverterThatIsNotThereFailsItsTransfers)
{
    Start(json::array({Converter(0x0C1D2E, {1.0, 1.0, 1.0, 1.0})}));
    CDs2450 missing;
    ASSERT_TRUE(missing.Attach(&m_Master, _ROMID::FromSerial(0x20, 0x777777)));
    // Nobody answers after the match: the reads see ones, which is never the right CRC.
    EXPECT_EQ(missing.WriteChannelConfig(), ONEWIRE_CRC_ERROR);
    EXPECT_EQ(missing.Convert(), ONEWIRE_CRC_ERROR);
    EXPECT_EQ(missing.ReadVoltages(), ONEWIRE_CRC_ERROR);
    EXPECT_EQ(missing.m_Volts, (std::array<float, 4>{-1.0f, -1.0f, -1.0f, -1.0f}));
}

TEST_F(OneWireSim, ADeadUsbLinkIsAnErrorNotASuccess)
{
    json file = HealthyBoard(BsdlForTests(m_Dir));
    file["adapter"]["fail_after_writes"] = 40;
    UseSimulator(WriteBoardFile(m_Dir, file));
    ASSERT_EQ(OpenI2CChannel(m_I2C), 0);
    I2C_GPIODirection(m_I2C, 4, 1);
    I2C_GPIOWrite(m_I2C, 4, 1);
    std::vector<_ROMID> ids;
    m_Master.FindFamily(0x10, ids, 15);  // the link dies somewhere in the search
    CDs18s20 thermometer(&m_Master, _ROMID::FromSerial(0x10, 0x00080157A3B2));
    float celsius = 0;
    EXPECT_EQ(thermometer.ReadTemperature(celsius), -1);
    EXPECT_EQ(m_Master.Reset(), -1);
}
