// What the 1-Wire master and the sensors hand to the adapter, checked call by call against a
// recording stand-in for the usbwire functions: the bridge command sequences with their stop flags
// and repeated STARTs, byte for byte, and what the simulator cannot produce (no channel, a device
// whose first CRC is wrong, a bus that never ends its search).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
using testing::ElementsAreArray;

namespace {

// A DS2482 at the level of its registers, answering through the spy: after a 1-Wire command the
// status reads busy once, then idle with a presence pulse (or what triplet says); the configuration
// register keeps what was written; the read-data register gives the next of reads (then 0xFF).
class Bridge {
public:
    explicit Bridge(UsbwireSpy& spy)
    {
        spy.i2cWrite = [this](const uint8_t* data, unsigned count) {
            if (data[0] == 0xE1 || data[0] == 0xD2) {
                m_Pointer = data[0] == 0xD2 ? 0xC3 : data[1];
                if (data[0] == 0xD2)
                    config = data[1] & 0x0F;
                return 0;
            }
            m_Pointer = 0xF0;
            m_Busy = 1;
            m_Status = 0x02;
            if (data[0] == 0x96) {
                m_Data = reads.empty() ? 0xFF : reads.front();
                if (!reads.empty())
                    reads.pop_front();
            } else if (data[0] == 0xA5 && count == 2 && data[1] == 0xF0) {
                m_Bit = 0;
            } else if (data[0] == 0x78 && triplet) {
                m_Status = triplet(m_Bit++, data[1] != 0);
            }
            return 0;
        };
        spy.i2cRead = [this](uint8_t* buffer, unsigned) {
            const bool busy = m_Pointer == 0xF0 && m_Busy > 0;
            m_Busy -= busy ? 1 : 0;
            buffer[0] = m_Pointer == 0xE1 ? m_Data : m_Pointer == 0xC3 ? config : m_Status | (busy ? 0x01 : 0);
            return 0;
        };
    }

    uint8_t config = 0;
    std::deque<uint8_t> reads;
    std::function<uint8_t(int bit, bool direction)> triplet;

private:
    uint8_t m_Pointer = 0xF0, m_Status = 0x02, m_Data = 0;
    int m_Busy = 0, m_Bit = 0;
};

// The I2C calls of one 1-Wire byte command: the command, a busy and an idle status read, and the
// status once more with STOP.
std::vector<std::string> Command(const std::string& bytes)
{
    return {"I2C_Write 48 2 0 : " + bytes, "I2C_Read 48 1 0", "I2C_Read 48 1 0", "I2C_Read 48 1 1"};
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class OneWireCalls : public testing::Test {
protected:
    UsbwireSpy m_Spy;
    Bridge m_Bridge{m_Spy};
    platform::FakeClock m_Clock;
    platform::ScopedClock m_Scoped{m_Clock};
    void* m_Handle = nullptr;
    COneWireMaster m_Master{m_Handle};
};

}  // namespace

TEST_F(OneWireCalls, WithoutAnI2CHandleNothingReachesTheAdapter)
{
    uint8_t byte = 0;
    _ROMID rom;
    std::vector<_ROMID> ids;
    CDs18s20 thermometer(&m_Master, _ROMID::FromSerial(0x10, 1));
    CDs2450 adc;
    adc.Attach(&m_Master, _ROMID::FromSerial(0x20, 1));
    // Every device operation begins with the master's reset.
    EXPECT_EQ((std::vector<int>{m_Master.WriteByte(0x55), m_Master.ReadByte(byte), m_Master.Triplet(true, byte),
                                m_Master.ReadConfig(byte), m_Master.WriteConfig(0x04), m_Master.SearchPass(true, rom),
                                thermometer.StartConversionAll(), adc.ReadVoltages()}),
              std::vector<int>(8, -1));
    EXPECT_EQ(m_Master.FindFamily(0x10, ids, 15), 0);
    EXPECT_THAT(m_Spy.calls, ElementsAre());
}

TEST_F(OneWireCalls, BridgeCommandsAreTheseTransfersByteForByte)
{
    ASSERT_EQ(OpenI2CChannel(m_Handle), 0);
    uint8_t byte = 0;
    m_Bridge.reads = {0x5C};
    EXPECT_EQ(m_Master.Reset(), 0);
    EXPECT_EQ(m_Master.WriteByte(0x55), 0);
    EXPECT_EQ(m_Master.ReadByte(byte), 0);
    EXPECT_EQ(byte, 0x5C);
    EXPECT_EQ(m_Master.Triplet(true, byte), 0);
    EXPECT_EQ(m_Master.WriteConfig(0x04), 0);
    EXPECT_EQ(m_Master.ReadConfig(byte), 0);
    EXPECT_EQ(byte, 0x04);
    EXPECT_EQ(m_Master.WriteConfig(0xF1), 0);  // only the low four bits; the high nibble their complement
    EXPECT_THAT(m_Spy.calls,
                ElementsAreArray(Join({
                    {"I2C_Open 100000"},
                    {"I2C_Write 48 1 0 : B4", "I2C_Read 48 1 0", "I2C_Read 48 1 0", "I2C_Read 48 1 1"},  // reset
                    Command("A5 55"),
                    {"I2C_Write 48 1 0 : 96", "I2C_Read 48 1 0", "I2C_Read 48 1 0",  // the read stays open,
                     "I2C_ForceLastAcknH", "I2C_Read 48 1 0",                       // ends not acknowledged,
                     "I2C_Write 48 2 0 : E1 E1", "I2C_Read 48 1 1"},                // repeated START: data
                    Command("78 80"),
                    {"I2C_Write 48 2 0 : D2 B4", "I2C_Read 48 1 1"},  // no busy wait
                    {"I2C_Write 48 2 1 : E1 C3", "I2C_Read 48 1 1"},
                    {"I2C_Write 48 2 0 : D2 E1", "I2C_Read 48 1 1"},
                })));
    EXPECT_EQ(m_Clock.Slept(), 8u) << "1 ms after every status read of a wait";
    m_Spy.i2cRead = [](uint8_t* buffer, unsigned) {  // no presence, configuration 0
        buffer[0] = 0;
        return 0;
    };
    EXPECT_EQ(m_Master.Reset(), ONEWIRE_NO_PRESENCE);
    EXPECT_EQ(m_Master.WriteConfig(0x08), ONEWIRE_NO_PRESENCE);
}

TEST_F(OneWireCalls, AWrongCrcOnTheFirstByteEndsTheMemoryWriteThere)
{
    m_Handle = m_Spy.Handle();
    const _ROMID rom = _ROMID::FromSerial(0x20, 0x0C1D2E);
    CDs2450 adc;
    ASSERT_TRUE(adc.Attach(&m_Master, rom));
    m_Bridge.reads = {0x12, 0x34, 0x80};  // CRC low and high byte, the byte stored
    const uint8_t bytes[8] = {0x80, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01};
    EXPECT_EQ(adc.WriteMemory(bytes), ONEWIRE_CRC_ERROR);
    std::vector<std::string> writes;
    for (const std::string& text : m_Spy.calls)
        if (text.rfind("I2C_Write 48 2 0 : A5 ", 0) == 0)
            writes.push_back(text.substr(22));
    EXPECT_THAT(writes, ElementsAre("55", "20", "2E", "1D", "0C", "00", "00", "00", "C8",  // match ROM
                                    "55", "08", "00", "80"));  // write memory from 0x0008, first byte
    EXPECT_TRUE(m_Bridge.reads.empty()) << "the CRC and the byte stored are read";
}

TEST_F(OneWireCalls, ABusThatAnswersInconsistentlyCannotKeepTheSearchGoing)
{
    // Answers that disagree at every serial bit and always end in a correct CRC: every pass finds a
    // "new" device, as 2^48 devices would.
    m_Handle = m_Spy.Handle();
    uint64_t taken = 0;
    m_Bridge.triplet = [&](int bit, bool direction) -> uint8_t {
        if (bit == 0)
            taken = 0;
        auto forced = [](bool one) -> uint8_t { return one ? 0xA2 : 0x42; };  // 1 0 takes 1; 0 1 takes 0
        bool value = direction;  // serial bits: 0 0, both present, the direction wins
        if (bit < 8)
            value = (0x10 >> bit) & 1;
        else if (bit >= 56)
            value = (Crc8(std::span<const uint8_t>(_ROMID::FromValue(taken).bytes.data(), 7)) >> (bit - 56)) & 1;
        taken |= uint64_t{value} << bit;
        return bit < 8 || bit >= 56 ? forced(value) : static_cast<uint8_t>(value ? 0x82 : 0x02);
    };
    EXPECT_EQ(m_Master.EnumerateBus(), COneWireMaster::kMaxSearchPasses);
    for (const _ROMID& rom : m_Master.m_Devices)
        ASSERT_TRUE(rom.CrcValid());
}
