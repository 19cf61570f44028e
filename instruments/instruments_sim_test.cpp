// The 1-Wire master and the sensors against the board simulator, through the real libusbwire.so:
// the bridge, the bus and the devices answer as the chips do.
#include <gtest/gtest.h>

#include <vector>

#include "ds18s20.h"
#include "ds2450.h"
#include "i2c_channel.h"
#include "onewire_master.h"
#include "platform.h"
#include "sim_board.h"
#include "usbwire.h"

using namespace qbxtest;
using nlohmann::json;

namespace {

json Thermometer(uint64_t serial, double celsius = 24.5)
{
    return {{"type", "DS18S20"}, {"serial", SerialText(serial)}, {"powered", true}, {"celsius", celsius}};
}

json Converter(uint64_t serial, std::vector<double> volts)
{
    return {{"type", "DS2450"}, {"serial", SerialText(serial)}, {"volts", volts}};
}

// A simulated board with the given 1-Wire devices, powered, with the I2C channel open. Boards with
// the devices of each element of more follow, one per NextBoard.
class OneWireSim : public testing::Test {
protected:
    void Start(json devices, json bridge = json::object(), json adapter = json::object(), json more = json::array())
    {
        json file = HealthyBoard(BsdlForTests(m_Dir));
        FirstBoard(file)["onewire"] = std::move(devices);
        for (json& next : more) {
            file["boards"].push_back(FirstBoard(file));
            file["boards"].back()["onewire"] = std::move(next);
        }
        file["bridge"].update(bridge);
        file["adapter"].update(adapter);
        UseSimulator(WriteBoardFile(m_Dir, file));
        ASSERT_EQ(OpenI2CChannel(m_I2C), 0) << "the simulator did not open: is libqbxsim.so built?";
        I2C_GPIODirection(m_I2C, 4, 1);
        ASSERT_NO_FATAL_FAILURE(NextBoard());
    }

    // Board power off and on: the simulator puts the next board in the socket.
    void NextBoard()
    {
        I2C_GPIOWrite(m_I2C, 4, 0);
        ASSERT_EQ(I2C_GPIOWrite(m_I2C, 4, 1), 1);
        platform::SleepMs(10);
        m_Master.ClearDevices();
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

TEST_F(OneWireSim, BusesOfNoneOneAndSeveralDevicesAreSearchedUntilABadRomCrc)
{
    // In search order (0 before 1 at the lowest ROM bit where two differ), listed on the bus otherwise.
    const std::vector<_ROMID> roms = {
        _ROMID::FromSerial(0x20, 0x00000C1D2E00), _ROMID::FromSerial(0x20, 0x00000C1D2E01),
        _ROMID::FromSerial(0x10, 0x0000A0000000), _ROMID::FromSerial(0x10, 0x8000A0160602),
        _ROMID::FromSerial(0x10, 0x0000A00B0301), _ROMID::FromSerial(0x10, 0x0000A0210903)};
    json devices = json::array();
    for (size_t i : {2, 4, 3, 5, 1, 0}) {
        const uint64_t serial = roms[i].Value() >> 8 & 0xFFFFFFFFFFFF;
        devices.push_back(i < 2 ? Converter(serial, {1.0, 3.3, 1.0, 1.0}) : Thermometer(serial));
    }
    // The last board: in search order (serial bits from the lowest) 2, then 1 with a bad CRC, then 3.
    json bad = Thermometer(1);
    bad["bad_crc"] = true;
    ASSERT_NO_FATAL_FAILURE(Start(json::array(), json::object(), json::object(),
                                  json::array({json::array({Thermometer(0x00080157A3B2)}), devices,
                                               json::array({Thermometer(3), bad, Thermometer(2)})})));
    std::vector<_ROMID> ids;
    EXPECT_EQ(m_Master.Reset(), ONEWIRE_NO_PRESENCE);
    EXPECT_EQ(m_Master.FindFamily(0x10, ids, 15), 0);
    EXPECT_EQ(m_Master.FindFamily(0x20, ids, 30), 0);

    ASSERT_NO_FATAL_FAILURE(NextBoard());
    _ROMID rom;
    EXPECT_EQ(m_Master.SearchPass(true, rom), SEARCH_LAST);
    EXPECT_EQ(rom, _ROMID::FromSerial(0x10, 0x00080157A3B2));
    EXPECT_EQ(m_Master.EnumerateBus(), 1);

    ASSERT_NO_FATAL_FAILURE(NextBoard());
    EXPECT_EQ(m_Master.EnumerateBus(), 6);
    EXPECT_EQ(m_Master.m_Devices, roms);
    EXPECT_EQ(m_Master.FindFamily(0x20, ids, 30), 2);
    EXPECT_EQ(ids, std::vector<_ROMID>(roms.begin(), roms.begin() + 2));

    ASSERT_NO_FATAL_FAILURE(NextBoard());
    EXPECT_EQ(m_Master.EnumerateBus(), 1);
    EXPECT_EQ(m_Master.m_Devices, std::vector<_ROMID>{_ROMID::FromSerial(0x10, 2)});
}

// The bridge's busy wait: 40 status reads, an idle status only counts within the first 39.
struct BridgeCase {
    const char* name;
    json bridge;
    int reset;
    uint64_t sleptAtLeast;
};

class BridgeSim : public OneWireSim, public testing::WithParamInterface<BridgeCase> {};

TEST_P(BridgeSim, ResetWaitsForTheBridgeWithOneMillisecondPauses)
{
    ASSERT_NO_FATAL_FAILURE(Start(json::array({Thermometer(1)}), GetParam().bridge));
    platform::FakeClock clock;  // the pauses need not be waited for
    platform::ScopedClock scoped(clock);
    EXPECT_EQ(m_Master.Reset(), GetParam().reset);
    EXPECT_GE(clock.Slept(), GetParam().sleptAtLeast);
    EXPECT_LE(clock.Slept(), 40u);
    std::vector<_ROMID> ids;
    EXPECT_EQ(m_Master.FindFamily(0x10, ids, 15), GetParam().reset == ONEWIRE_OK ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Bridges, BridgeSim,
                         testing::Values(BridgeCase{"StuckBusy", {{"stuck_busy", true}}, ONEWIRE_BUSY, 40},
                                         BridgeCase{"IdleAtTheFortiethRead", {{"busy_reads", 39}}, ONEWIRE_BUSY, 40},
                                         BridgeCase{"IdleAtTheThirtyNinthRead", {{"busy_reads", 38}}, ONEWIRE_OK, 39},
                                         BridgeCase{"Absent", {{"present", false}}, ONEWIRE_NACK, 0}),
                         [](const testing::TestParamInfo<BridgeCase>& info) { return info.param.name; });

TEST_F(OneWireSim, ThermometersTellTheirPowerAndTemperatureOrAReadError)
{
    json parasite = Thermometer(2, -0.5);
    parasite["powered"] = false;
    json badCrc = Thermometer(3);
    badCrc["bad_scratchpad_crc"] = true;
    json noCount = Thermometer(4);
    noCount["count_per_c"] = 0;
    ASSERT_NO_FATAL_FAILURE(Start(json::array({Thermometer(1, 25.0), parasite, badCrc, noCount, Thermometer(5, -0.0625)})));
    std::vector<CDs18s20> thermometers;
    for (uint64_t serial = 1; serial <= 5; ++serial)
        thermometers.emplace_back(&m_Master, _ROMID::FromSerial(0x10, serial));
    bool powered[2] = {false, true};
    EXPECT_EQ(thermometers[0].ReadPowerSupply(powered[0]), ONEWIRE_OK);
    EXPECT_EQ(thermometers[1].ReadPowerSupply(powered[1]), ONEWIRE_OK);
    EXPECT_TRUE(powered[0] && !powered[1]);

    // Every thermometer of the bus converts, the parasite one on the strong pull-up.
    ASSERT_EQ(thermometers[0].StartConversionAll(), ONEWIRE_OK);
    // A bad scratchpad CRC and COUNT_PER_C = 0 are read errors that leave the value alone.
    const int rcs[5] = {ONEWIRE_OK, ONEWIRE_OK, ONEWIRE_CRC_ERROR, ONEWIRE_CRC_ERROR, ONEWIRE_OK};
    const float expected[5] = {25.0f, -0.5f, 123.0f, 123.0f, -0.0625f};
    for (size_t i = 0; i < 5; ++i) {
        float celsius = 123.0f;
        EXPECT_EQ(thermometers[i].ReadTemperature(celsius), rcs[i]) << i;
        EXPECT_FLOAT_EQ(celsius, expected[i]) << i;
    }
}

TEST_F(OneWireSim, ConvertersReadTheirChannelsAndSwitchTheirOutputs)
{
    json badCrc = Converter(0x0C1D30, {1.0, 1.0, 1.0, 1.0});
    badCrc["bad_memory_crc"] = true;
    ASSERT_NO_FATAL_FAILURE(Start(json::array({Converter(0x0C1D2E, {0.44, 3.30, 0.0, 1.80}),
                                               Converter(0x0C1D2F, {3.30, 3.32, 1.65, 1.49}), badCrc,
                                               Thermometer(1)})));
    CDs2450 sensor1, sensor2;
    ASSERT_TRUE(sensor1.Attach(&m_Master, _ROMID::FromSerial(0x20, 0x0C1D2E)));
    ASSERT_TRUE(sensor2.Attach(&m_Master, _ROMID::FromSerial(0x20, 0x0C1D2F)));
    auto read = [](CDs2450& adc) {
        ASSERT_EQ(adc.WriteChannelConfig(), ONEWIRE_OK);
        ASSERT_EQ(adc.Convert(), ONEWIRE_OK);
        ASSERT_EQ(adc.ReadVoltages(), ONEWIRE_OK);
    };
    read(sensor1);
    read(sensor2);
    // The station scales with 5.1 V over 65536: within 0.5 % of the true value.
    const float expected1[4] = {0.44f, 3.30f, 0.0f, 1.80f}, expected2[4] = {3.30f, 3.32f, 1.65f, 1.49f};
    for (size_t ch = 0; ch < 4; ++ch) {
        EXPECT_NEAR(sensor1.m_Volts[ch], expected1[ch], 0.005 * expected1[ch] + 0.002) << "channel " << ch;
        EXPECT_NEAR(sensor2.m_Volts[ch], expected2[ch], 0.005 * expected2[ch] + 0.002) << "channel " << ch;
        EXPECT_FLOAT_EQ(AdcVolts(sensor1.m_Raw[ch], DS2450_WORD_INPUT), sensor1.m_Volts[ch]);
    }

    // A conducting output pulls its channel to 0 V; switched off, it reads its input again.
    sensor1.m_Config[1] = DS2450_WORD_OUTPUT_ON;
    read(sensor1);
    EXPECT_LT(sensor1.m_Volts[1], 0.05f);
    sensor1.m_Config[1] = DS2450_WORD_INPUT;
    read(sensor1);
    EXPECT_NEAR(sensor1.m_Volts[1], 3.3f, 0.02f);

    // Wrong CRC replies fail every transfer; a slot of another family does not touch the bus.
    CDs2450 bad, thermometer;
    ASSERT_TRUE(bad.Attach(&m_Master, _ROMID::FromSerial(0x20, 0x0C1D30)));
    EXPECT_EQ(bad.WriteChannelConfig(), ONEWIRE_CRC_ERROR);
    EXPECT_EQ(bad.Convert(), ONEWIRE_CRC_ERROR);
    EXPECT_EQ(bad.ReadVoltages(), ONEWIRE_CRC_ERROR);
    EXPECT_EQ(bad.m_Volts, (std::array<float, 4>{-1.0f, -1.0f, -1.0f, -1.0f}));
    EXPECT_FALSE(thermometer.Attach(&m_Master, _ROMID::FromSerial(0x10, 1)));
    uint8_t bytes[8];
    EXPECT_EQ(thermometer.ReadResults(bytes), -1);
}

TEST_F(OneWireSim, ADeadUsbLinkIsAnErrorNotASuccess)
{
    ASSERT_NO_FATAL_FAILURE(Start(json::array({Thermometer(1)}), json::object(), {{"fail_after_writes", 40}}));
    std::vector<_ROMID> ids;
    m_Master.FindFamily(0x10, ids, 15);  // the link dies somewhere in the search
    CDs18s20 thermometer(&m_Master, _ROMID::FromSerial(0x10, 1));
    float celsius = 0;
    EXPECT_EQ(thermometer.ReadTemperature(celsius), -1);
    EXPECT_EQ(m_Master.Reset(), -1);
}

TEST(I2CChannel, OpeningClosesWhatTheVariableHeldAndAFailureShowsTheBox)
{
    TempDir dir;
    UseSimulator(WriteBoardFile(dir, HealthyBoard(BsdlForTests(dir))));
    void* handle = nullptr;
    ASSERT_EQ(OpenI2CChannel(handle), 0);
    EXPECT_EQ(OpenI2CChannel(handle), 0) << "the simulator opens a channel only once: the first was closed";
    void* other = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(OpenI2CChannel(other), -1);  // channel A is taken
    const std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_NE(shown.find(platform::FormatMessageBox("Error Open Device: FT2232H MiniModule A", platform::BoxIcon::Error)),
              std::string::npos)
        << shown;
    EXPECT_EQ(other, nullptr);
    CloseI2CChannel(handle);
    EXPECT_EQ(handle, nullptr);
    CloseI2CChannel(handle);
    EXPECT_EQ(OpenI2CChannel(other), 0);
    CloseI2CChannel(other);
}
