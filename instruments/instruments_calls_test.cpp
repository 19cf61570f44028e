// The bridge command sequences of the 1-Wire master and the sensor slots, checked call by call
// against a recording stand-in for the usbwire functions, and the paths that must not touch the
// adapter at all.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "crc.h"
#include "ds18s20.h"
#include "ds2450.h"
#include "i2c_channel.h"
#include "onewire_master.h"
#include "platform.h"
#include "usbwire_spy.h"

using qbxtest::UsbwireSpy;
using testing::ElementsAre;

namespace {

std::string Hex(uint8_t byte)
{
    return platform::Format("%02X", byte);
}

// A DS2482 at the level of its commands, answering through the spy: a presence pulse on every
// reset, a few busy status reads after each 1-Wire command, a script of bytes for the 1-Wire reads,
// and a log of the 1-Wire traffic ("reset", "w 55", "r 10", "t 1").
class FakeBridge {
public:
    explicit FakeBridge(UsbwireSpy& spy)
    {
        spy.i2cWrite = [this](uint8_t, const uint8_t* data, unsigned count, int) { return Command(data, count); };
        spy.i2cRead = [this](uint8_t, uint8_t* buffer, unsigned count, int) {
            for (unsigned i = 0; i < count; ++i)
                buffer[i] = Register();
            return 0;
        };
    }

    bool presence = true;
    int busyReads = 1;                  // status reads that show busy after each 1-Wire command
    bool acceptConfig = true;           // false: configuration writes are ignored
    std::deque<uint8_t> reads;          // what the 1-Wire read-byte commands return (then 0xFF)
    // Status of a triplet: bit index within the search, direction asked, bits taken so far.
    std::function<uint8_t(int, bool, uint64_t)> triplet;
    std::vector<std::string> wire;
    uint8_t config = 0;

private:
    int Command(const uint8_t* data, unsigned count)
    {
        if (count == 0)
            return 0;
        switch (data[0]) {
        case 0xB4:
            wire.push_back("reset");
            Busy();
            m_Status = presence ? 0x02 : 0x00;
            break;
        case 0xA5:
            wire.push_back("w " + Hex(data[1]));
            if (data[1] == 0xF0)
                m_Bit = 0, m_Taken = 0;
            Busy();
            m_Status = 0;
            break;
        case 0x96:
            m_Data = reads.empty() ? 0xFF : reads.front();
            if (!reads.empty())
                reads.pop_front();
            wire.push_back("r " + Hex(m_Data));
            Busy();
            m_Status = 0;
            break;
        case 0x78: {
            const bool direction = (data[1] & 0x80) != 0;
            wire.push_back(std::string("t ") + (direction ? "1" : "0"));
            m_Status = triplet ? triplet(m_Bit, direction, m_Taken) : 0x60;
            if (m_Status & 0x80)
                m_Taken |= uint64_t{1} << m_Bit;
            ++m_Bit;
            Busy();
            break;
        }
        case 0xE1:
            m_Pointer = data[1];
            return 0;
        case 0xD2:
            if (acceptConfig && ((data[1] >> 4) ^ (data[1] & 0x0F)) == 0x0F)
                config = data[1] & 0x0F;
            m_Pointer = 0xC3;
            return 0;
        default:
            return 1;  // not acknowledged
        }
        m_Pointer = 0xF0;
        return 0;
    }

    void Busy() { m_BusyLeft = busyReads; }

    uint8_t Register()
    {
        switch (m_Pointer) {
        case 0xE1:
            return m_Data;
        case 0xC3:
            return config;
        default:
            if (m_BusyLeft > 0) {
                --m_BusyLeft;
                return static_cast<uint8_t>(m_Status | 0x01);
            }
            return m_Status;
        }
    }

    uint8_t m_Pointer = 0xF0;
    uint8_t m_Status = 0;
    uint8_t m_Data = 0;
    int m_BusyLeft = 0;
    int m_Bit = 0;
    uint64_t m_Taken = 0;
};

std::vector<std::string> RomWrites(const _ROMID& rom)
{
    std::vector<std::string> writes;
    for (uint8_t byte : rom.bytes)
        writes.push_back("w " + Hex(byte));
    return writes;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace

TEST(OneWireCalls, WithoutAnI2CHandleNothingReachesTheAdapter)
{
    UsbwireSpy spy;
    void* handle = nullptr;
    COneWireMaster master(handle);
    uint8_t byte = 0;
    _ROMID rom;
    std::vector<_ROMID> ids;
    EXPECT_EQ(master.Reset(), -1);
    EXPECT_EQ(master.WriteByte(0x55), -1);
    EXPECT_EQ(master.ReadByte(byte), -1);
    EXPECT_EQ(master.Triplet(true, byte), -1);
    EXPECT_EQ(master.ReadConfig(byte), -1);
    EXPECT_EQ(master.WriteConfig(0x04), -1);
    EXPECT_EQ(master.MatchRom(_ROMID::FromSerial(0x10, 1)), -1);
    EXPECT_EQ(master.SearchPass(true, rom), -1);
    EXPECT_EQ(master.EnumerateBus(), 0);
    EXPECT_EQ(master.FindFamily(0x10, ids, 15), 0);

    CDs18s20 thermometer(&master, _ROMID::FromSerial(0x10, 1));
    bool powered = false;
    float celsius = 0;
    EXPECT_EQ(thermometer.ReadPowerSupply(powered), -1);
    EXPECT_EQ(thermometer.StartConversionAll(), -1);
    EXPECT_EQ(thermometer.ReadTemperature(celsius), -1);
    CDs2450 adc;
    adc.Attach(&master, _ROMID::FromSerial(0x20, 1));
    EXPECT_EQ(adc.WriteChannelConfig(), -1);
    EXPECT_EQ(adc.Convert(), -1);
    EXPECT_EQ(adc.ReadVoltages(), -1);
    EXPECT_TRUE(spy.calls.empty()) << spy.calls.front().Text();
}

TEST(OneWireCalls, TheHandleIsReadFromTheCallersVariableAtEveryTransfer)
{
    UsbwireSpy spy;
    FakeBridge bridge(spy);
    void* handle = nullptr;
    COneWireMaster master(handle);
    EXPECT_EQ(master.Reset(), -1);
    handle = spy.I2cHandle();  // the channel opens after the master was made
    EXPECT_EQ(master.Reset(), 0);
    ASSERT_FALSE(spy.calls.empty());
    for (const auto& call : spy.calls)
        EXPECT_EQ(call.handle, spy.I2cHandle());
}

TEST(OneWireCalls, BridgeAddressUsesThreeAddressBits)
{
    void* handle = nullptr;
    EXPECT_EQ(COneWireMaster(handle, 0).BridgeAddress(), 0x30);
    EXPECT_EQ(COneWireMaster(handle, 5).BridgeAddress(), 0x3A);
    EXPECT_EQ(COneWireMaster(handle, 9).BridgeAddress(), 0x32);
}

TEST(OneWireCalls, ResetPollsTheStatusThenEndsTheReadAndChecksPresence)
{
    UsbwireSpy spy;
    FakeBridge bridge(spy);
    bridge.busyReads = 2;
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);

    EXPECT_EQ(master.Reset(), 0);
    EXPECT_THAT(spy.Texts(), ElementsAre("I2C_Write 48 1 0",  // [B4], bus kept
                                         "I2C_Read 48 1 0", "I2C_Read 48 1 0", "I2C_Read 48 1 0",  // busy, busy, idle
                                         "I2C_Read 48 1 1"));  // the status once more, then STOP
    EXPECT_EQ(spy.calls[0].data, std::vector<uint8_t>{0xB4});
    EXPECT_EQ(clock.Slept(), 3u);  // 1 ms after every status read of the wait

    bridge.presence = false;
    EXPECT_EQ(master.Reset(), ONEWIRE_NO_PRESENCE);
}

TEST(OneWireCalls, ABridgeBusyForFortyReadsGivesNineteen)
{
    UsbwireSpy spy;
    FakeBridge bridge(spy);
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);

    bridge.busyReads = 1000;
    EXPECT_EQ(master.Reset(), ONEWIRE_BUSY);
    EXPECT_EQ(spy.Count("I2C_Read"), 40u);  // no finishing read
    EXPECT_EQ(clock.Slept(), 40u);

    // Idle only at the 40th read is still too late; idle at the 39th is in time.
    spy.calls.clear();
    bridge.busyReads = 39;
    EXPECT_EQ(master.WriteByte(0x00), ONEWIRE_BUSY);
    EXPECT_EQ(spy.Count("I2C_Read"), 40u);
    spy.calls.clear();
    bridge.busyReads = 38;
    EXPECT_EQ(master.WriteByte(0x00), ONEWIRE_OK);
    EXPECT_EQ(spy.Count("I2C_Read"), 40u);  // 39 status reads and the finishing one
}

TEST(OneWireCalls, AdapterErrorsEndTheOperationUnchanged)
{
    UsbwireSpy spy;
    FakeBridge bridge(spy);
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);
    spy.i2cWrite = [](uint8_t, const uint8_t*, unsigned, int) { return 1; };  // not acknowledged
    EXPECT_EQ(master.Reset(), 1);
    EXPECT_EQ(spy.Count("I2C_Read"), 0u);
    spy.i2cWrite = [](uint8_t, const uint8_t*, unsigned, int) { return 0; };
    spy.i2cRead = [](uint8_t, uint8_t*, unsigned, int) { return 2; };  // read back differs
    uint8_t byte = 0x5A;
    EXPECT_EQ(master.ReadByte(byte), 2);
    EXPECT_EQ(byte, 0x5A);
    spy.i2cRead = [](uint8_t, uint8_t*, unsigned, int) { return -1; };  // USB failure
    EXPECT_EQ(master.WriteByte(1), -1);
}

TEST(OneWireCalls, ReadByteEndsTheStatusReadThenFetchesTheDataRegister)
{
    UsbwireSpy spy;
    FakeBridge bridge(spy);
    bridge.reads = {0x5C};
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);

    uint8_t byte = 0;
    EXPECT_EQ(master.ReadByte(byte), 0);
    EXPECT_EQ(byte, 0x5C);
    EXPECT_THAT(spy.Texts(), ElementsAre("I2C_Write 48 1 0",                   // [96]
                                         "I2C_Read 48 1 0", "I2C_Read 48 1 0",  // busy, idle; read kept open
                                         "I2C_ForceLastAcknH",                  // the next read ends with NACK
                                         "I2C_Read 48 1 0",                     // status, no STOP
                                         "I2C_Write 48 2 0",                    // [E1 E1] after a repeated START
                                         "I2C_Read 48 1 1"));                   // the data byte, STOP
    EXPECT_EQ(spy.calls[0].data, std::vector<uint8_t>{0x96});
    EXPECT_EQ(spy.calls[5].data, (std::vector<uint8_t>{0xE1, 0xE1}));
}

TEST(OneWireCalls, ConfigurationWritesTheComplementAndChecksTheReadBack)
{
    UsbwireSpy spy;
    FakeBridge bridge(spy);
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);

    EXPECT_EQ(master.WriteConfig(0x04), 0);
    EXPECT_THAT(spy.Texts(), ElementsAre("I2C_Write 48 2 0", "I2C_Read 48 1 1"));  // no busy wait
    EXPECT_EQ(spy.calls[0].data, (std::vector<uint8_t>{0xD2, 0xB4}));
    EXPECT_EQ(bridge.config, 0x04);

    uint8_t config = 0;
    spy.calls.clear();
    EXPECT_EQ(master.ReadConfig(config), 0);
    EXPECT_EQ(config, 0x04);
    EXPECT_THAT(spy.Texts(), ElementsAre("I2C_Write 48 2 1", "I2C_Read 48 1 1"));
    EXPECT_EQ(spy.calls[0].data, (std::vector<uint8_t>{0xE1, 0xC3}));

    // Only the low four bits are written; the high nibble carries their complement.
    spy.calls.clear();
    EXPECT_EQ(master.WriteConfig(0xF1), 0);
    EXPECT_EQ(spy.calls[0].data, (std::vector<uint8_t>{0xD2, 0xE1}));

    bridge.acceptConfig = false;
    EXPECT_EQ(master.WriteConfig(0x08), ONEWIRE_NO_PRESENCE);
}

TEST(OneWireCalls, FindFamilyCopiesUpToRoomFromTheCachedList)
{
    UsbwireSpy spy;
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);
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
    EXPECT_EQ(master.FindFamily(0x20, ids, 0), 0);
    EXPECT_EQ(master.FindFamily(0x20, ids, -3), 0);
    EXPECT_TRUE(spy.calls.empty());  // the cached list is used as it is
}

TEST(OneWireCalls, AnInconsistentBusCannotKeepTheSearchGoing)
{
    // A bus whose answers disagree at every serial bit and always end in a correct CRC: every pass
    // finds a "new" device, as 2^48 devices would.
    UsbwireSpy spy;
    FakeBridge bridge(spy);
    bridge.busyReads = 0;
    bridge.triplet = [](int bit, bool direction, uint64_t taken) -> uint8_t {
        auto forced = [](bool one) -> uint8_t { return one ? 0xA0 : 0x40; };  // 1 0 takes 1; 0 1 takes 0
        if (bit < 8)
            return forced(((0x10 >> bit) & 1) != 0);
        if (bit < 56)
            return direction ? 0x80 : 0x00;  // 0 0: both present, the direction wins
        const _ROMID partial = _ROMID::FromValue(taken);
        const uint8_t crc = Crc8(std::span<const uint8_t>(partial.bytes.data(), 7));
        return forced(((crc >> (bit - 56)) & 1) != 0);
    };
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);
    EXPECT_EQ(master.EnumerateBus(), COneWireMaster::kMaxSearchPasses);
    for (const _ROMID& rom : master.m_Devices)
        ASSERT_TRUE(rom.CrcValid());
}

TEST(Ds18s20Calls, ConversionStartsWithTheStrongPullUpForEveryThermometer)
{
    UsbwireSpy spy;
    FakeBridge bridge(spy);
    bridge.config = 0x01;  // active pull-up already set: kept
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);
    CDs18s20 thermometer(&master, _ROMID::FromSerial(0x10, 7));

    EXPECT_EQ(thermometer.StartConversionAll(), 0);
    EXPECT_EQ(bridge.wire, (std::vector<std::string>{"reset", "w CC", "w 44"}));
    EXPECT_EQ(bridge.config, 0x05);
    bool sawConfig = false;
    for (const auto& call : spy.calls)
        if (call.function == "I2C_Write" && !call.data.empty() && call.data[0] == 0xD2) {
            EXPECT_EQ(call.data, (std::vector<uint8_t>{0xD2, 0xA5}));
            sawConfig = true;
        }
    EXPECT_TRUE(sawConfig);
}

TEST(Ds2450Calls, WriteMemoryChecksTheCrcOfEveryByte)
{
    UsbwireSpy spy;
    FakeBridge bridge(spy);
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);
    const _ROMID rom = _ROMID::FromSerial(0x20, 0x0C1D2E);
    CDs2450 adc;
    ASSERT_TRUE(adc.Attach(&master, rom));
    const uint8_t bytes[8] = {0x80, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01};

    // The device's answers: the complemented CRC (command, address and first byte; then the
    // address and the byte), and the byte stored.
    std::vector<std::string> expected = Concat({{"reset", "w 55"}, RomWrites(rom), {"w 55", "w 08", "w 00"}});
    uint16_t crc = Crc16(std::vector<uint8_t>{0x55, 0x08, 0x00});
    for (int k = 0; k < 8; ++k) {
        const auto reply = static_cast<uint16_t>(~Crc16(crc, bytes[k]));
        const uint8_t answers[3] = {static_cast<uint8_t>(reply & 0xFF), static_cast<uint8_t>(reply >> 8), bytes[k]};
        expected.push_back("w " + Hex(bytes[k]));
        for (uint8_t answer : answers) {
            bridge.reads.push_back(answer);
            expected.push_back("r " + Hex(answer));
        }
        crc = static_cast<uint16_t>(0x0009 + k);
    }
    EXPECT_EQ(adc.WriteMemory(bytes), 0);
    EXPECT_EQ(bridge.wire, expected);

    // WriteChannelConfig sends the words high byte first, channels A to D.
    adc.m_Config = {0x8001, 0x0001, 0x0001, 0x0001};
    bridge.wire.clear();
    bridge.reads.clear();
    crc = Crc16(std::vector<uint8_t>{0x55, 0x08, 0x00});
    for (int k = 0; k < 8; ++k) {
        const auto reply = static_cast<uint16_t>(~Crc16(crc, bytes[k]));
        bridge.reads.insert(bridge.reads.end(), {static_cast<uint8_t>(reply & 0xFF), static_cast<uint8_t>(reply >> 8), bytes[k]});
        crc = static_cast<uint16_t>(0x0009 + k);
    }
    EXPECT_EQ(adc.WriteChannelConfig(), 0);
    EXPECT_EQ(bridge.wire, expected);

    // A wrong CRC on the first byte stops the write there.
    bridge.wire.clear();
    bridge.reads = {0x12, 0x34, 0x80};
    EXPECT_EQ(adc.WriteMemory(bytes), ONEWIRE_CRC_ERROR);
    EXPECT_EQ(bridge.wire, Concat({{"reset", "w 55"}, RomWrites(rom), {"w 55", "w 08", "w 00", "w 80", "r 12", "r 34", "r 80"}}));
}

TEST(Ds2450Calls, ConvertAndReadResultsCheckTheDevicesCrc)
{
    UsbwireSpy spy;
    FakeBridge bridge(spy);
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);
    const _ROMID rom = _ROMID::FromSerial(0x20, 0x0C1D2F);
    CDs2450 adc;
    ASSERT_TRUE(adc.Attach(&master, rom));

    bridge.reads = {0x3A, 0x03};  // the complemented CRC of 3C 0F 00
    EXPECT_EQ(adc.Convert(), 0);
    EXPECT_EQ(bridge.wire, Concat({{"reset", "w 55"}, RomWrites(rom), {"w 3C", "w 0F", "w 00", "r 3A", "r 03"}}));
    bridge.reads = {0x3A, 0x04};
    EXPECT_EQ(adc.Convert(), ONEWIRE_CRC_ERROR);

    // Page 0: A = 0x8000, B = 0xFFFF, C = 0x0000, D = 0x4000, then the CRC.
    std::vector<uint8_t> page = {0x00, 0x80, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x40};
    std::vector<uint8_t> sent = {0xAA, 0x00, 0x00};
    sent.insert(sent.end(), page.begin(), page.end());
    const auto crc = static_cast<uint16_t>(~Crc16(sent));
    bridge.reads.assign(page.begin(), page.end());
    bridge.reads.push_back(static_cast<uint8_t>(crc & 0xFF));
    bridge.reads.push_back(static_cast<uint8_t>(crc >> 8));
    adc.m_Config[3] = 0x0000;  // channel D on the 2.55 V range
    EXPECT_EQ(adc.ReadVoltages(), 0);
    EXPECT_EQ(adc.m_Raw, (std::array<uint16_t, 4>{0x8000, 0xFFFF, 0x0000, 0x4000}));
    EXPECT_FLOAT_EQ(adc.m_Volts[0], 2.55f);
    EXPECT_NEAR(adc.m_Volts[1], 5.0999, 1e-4);
    EXPECT_FLOAT_EQ(adc.m_Volts[2], 0.0f);
    EXPECT_FLOAT_EQ(adc.m_Volts[3], 0.6375f);

    // A wrong CRC: every voltage -1, every raw value 0.
    bridge.reads.assign(page.begin(), page.end());
    bridge.reads.push_back(static_cast<uint8_t>(crc & 0xFF));
    bridge.reads.push_back(static_cast<uint8_t>((crc >> 8) ^ 1));
    EXPECT_EQ(adc.ReadVoltages(), ONEWIRE_CRC_ERROR);
    EXPECT_EQ(adc.m_Volts, (std::array<float, 4>{-1.0f, -1.0f, -1.0f, -1.0f}));
    EXPECT_EQ(adc.m_Raw, (std::array<uint16_t, 4>{}));
}

TEST(Ds2450Calls, ReadResultsOfAnotherFamilyDoesNotTouchTheBus)
{
    UsbwireSpy spy;
    void* handle = spy.I2cHandle();
    COneWireMaster master(handle);
    CDs2450 adc;
    EXPECT_FALSE(adc.Attach(&master, _ROMID::FromSerial(0x10, 0x0C1D2F)));
    uint8_t bytes[8];
    EXPECT_EQ(adc.ReadResults(bytes), -1);
    _ROMID badCrc = _ROMID::FromSerial(0x20, 0x0C1D2F);
    badCrc.bytes[7] ^= 0x01;
    adc.Attach(&master, badCrc);
    EXPECT_EQ(adc.ReadResults(bytes), -1);
    EXPECT_TRUE(spy.calls.empty());
}

TEST(I2CChannel, OpensAtOneHundredKilohertzAndClosesWhatItHeld)
{
    UsbwireSpy spy;
    std::string description;
    spy.i2cOpen = [&](const char* text, unsigned) {
        description = text;
        return spy.I2cHandle();
    };
    void* handle = nullptr;
    EXPECT_EQ(OpenI2CChannel(handle), 0);
    EXPECT_EQ(handle, spy.I2cHandle());
    EXPECT_EQ(description, "FT2232H MiniModule A");
    EXPECT_THAT(spy.Texts(), ElementsAre("I2C_Open 100000"));

    EXPECT_EQ(OpenI2CChannel(handle), 0);  // reopening closes the old handle first
    EXPECT_THAT(spy.Texts(), ElementsAre("I2C_Open 100000", "I2C_Close", "I2C_Open 100000"));

    CloseI2CChannel(handle);
    EXPECT_EQ(handle, nullptr);
    CloseI2CChannel(handle);  // nothing held: no call
    EXPECT_EQ(spy.Count("I2C_Close"), 2u);
}

TEST(I2CChannel, AFailedOpenShowsTheErrorBoxAndLeavesNoHandle)
{
    UsbwireSpy spy;
    spy.i2cOpen = [](const char*, unsigned) -> void* { return nullptr; };
    void* handle = spy.I2cHandle();
    testing::internal::CaptureStdout();
    EXPECT_EQ(OpenI2CChannel(handle), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(out.find("ERROR"), std::string::npos) << out;
    EXPECT_NE(out.find("Error Open Device: FT2232H MiniModule A"), std::string::npos) << out;
}
