#include "i2c_bus.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qbxsim {
namespace {

using Log = std::vector<std::string>;

// Records what the decoder tells the slave: "S", "P", "A30", "W12", "R", "K" (ack), "N" (nack).
class RecordingSlave : public I2cSlave {
public:
    std::vector<uint8_t> toSend;   // bytes Read() hands out in turn (then 0xFF)
    std::vector<bool> writeAcks;   // answers to Write() in turn (then ACK)
    Log log;

    void Start() override { log.push_back("S"); }
    void Stop() override { log.push_back("P"); }
    bool Address(uint8_t a) override { return Note("A", a) && (a & 0xFE) == 0x30; }
    bool Write(uint8_t d) override { return Note("W", d) && (m_Writes < writeAcks.size() ? writeAcks[m_Writes++] : true); }
    uint8_t Read() override { return Note("R") && m_Reads < toSend.size() ? toSend[m_Reads++] : 0xFF; }
    void ReadAck(bool ack) override { Note(ack ? "K" : "N"); }

private:
    bool Note(const char* tag, int v = -1)   // logs the event and the byte; true
    {
        log.push_back(v < 0 ? tag : tag + std::string{"0123456789ABCDEF"[v >> 4], "0123456789ABCDEF"[v & 15]});
        return true;
    }
    size_t m_Writes = 0;
    size_t m_Reads = 0;
};

// How a master's pin updates group the edges of one bit.
enum class Timing {
    Separate,      // data change, SCL rise, SCL fall: one Update() each
    FallWithData,  // the falling edge and the next bit's data change in one Update()
    RiseWithData,  // the data change and the rising edge in one Update()
};
const char* const kTimingNames[] = {"Separate", "FallWithData", "RiseWithData"};

// A master that drives the pins as the adapter does: data changed while SCL is low, bits read
// back from the wire while SCL is high.
class PinMaster {
public:
    PinMaster(I2cBus& bus, Timing timing) : m_Bus(bus), m_Timing(timing) {}

    void Set(bool scl, bool sda)
    {
        m_Scl = scl;
        m_Sda = sda;
        m_Bus.Update(scl, sda);
    }
    void Start() { Set(true, true); Set(true, false); Set(false, false); }  // also a repeated START
    void Stop() { Set(false, false); Set(true, false); Set(true, true); }
    bool Clock(bool bit)
    {
        if (m_Timing == Timing::RiseWithData) {
            if (m_Scl)
                Set(false, m_Sda);
        } else if (m_Scl || bit != m_Sda) {
            Set(false, bit);
        }
        Set(true, bit);
        const bool seen = m_Bus.Sda();
        if (m_Timing != Timing::FallWithData)
            Set(false, bit);
        return seen;
    }
    // Sends a byte, MSB first; returns true when acknowledged. *readBack gets the byte on the wire.
    bool WriteByte(uint8_t b, uint8_t* readBack = nullptr)
    {
        uint8_t seen = 0;
        for (int i = 7; i >= 0; --i)
            seen = static_cast<uint8_t>((seen << 1) | (Clock(((b >> i) & 1) != 0) ? 1 : 0));
        if (readBack)
            *readBack = seen;
        const bool ack = !Clock(true);
        Release();
        return ack;
    }
    // Reads a byte while driving `drive` (0xFF = released), then acknowledges it or not.
    uint8_t ReadByte(bool ack, uint8_t drive = 0xFF)
    {
        uint8_t b = 0;
        for (int i = 7; i >= 0; --i)
            b = static_cast<uint8_t>((b << 1) | (Clock(((drive >> i) & 1) != 0) ? 1 : 0));
        Clock(!ack);
        Release();
        return b;
    }
    void Release() { if (m_Scl) Set(false, m_Sda); }  // SCL low: its level between bytes

private:
    I2cBus& m_Bus;
    Timing m_Timing;
    bool m_Scl = true;
    bool m_Sda = true;
};

class I2cBusTest : public ::testing::TestWithParam<Timing> {
protected:
    RecordingSlave slave;
    I2cBus bus{&slave};
    PinMaster master{bus, GetParam()};
};

INSTANTIATE_TEST_SUITE_P(PinTiming, I2cBusTest, ::testing::Values(Timing::Separate, Timing::FallWithData, Timing::RiseWithData),
                         [](const auto& info) { return std::string(kTimingNames[static_cast<int>(info.param)]); });

TEST_P(I2cBusTest, WriteThenRepeatedStartAndRead)
{
    slave.toSend = {0xA5, 0xF0, 0x81};
    master.Start();
    uint8_t seen = 0;
    EXPECT_TRUE(master.WriteByte(0x30, &seen));
    EXPECT_EQ(seen, 0x30);
    EXPECT_TRUE(master.WriteByte(0xE1, &seen));
    EXPECT_EQ(seen, 0xE1);
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x31));
    EXPECT_EQ(master.ReadByte(true), 0xA5);
    // SDA is the wired-AND of both sides: the master pulling the first four bits low wins there.
    EXPECT_EQ(master.ReadByte(true, 0x0F), 0x00);
    EXPECT_EQ(master.ReadByte(false), 0x81);
    EXPECT_EQ(master.ReadByte(true), 0xFF) << "after the NACK the slave stays off the line";
    master.Stop();
    EXPECT_EQ(slave.log, (Log{"S", "A30", "WE1", "S", "A31", "R", "K", "R", "K", "R", "N", "P"}));
    EXPECT_EQ(bus.Bytes(), 6u);
    EXPECT_TRUE(bus.Sda());
}

TEST_P(I2cBusTest, RefusedBytesSilenceTheSlaveUntilTheNextStart)
{
    slave.writeAcks = {true, false};
    master.Start();
    EXPECT_FALSE(master.WriteByte(0x40));
    EXPECT_FALSE(master.WriteByte(0x00));
    EXPECT_EQ(master.ReadByte(true), 0xFF);
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x30));
    EXPECT_TRUE(master.WriteByte(0x11));
    EXPECT_FALSE(master.WriteByte(0x22));
    EXPECT_FALSE(master.WriteByte(0x33));   // not delivered
    master.Stop();
    EXPECT_EQ(slave.log, (Log{"S", "A40", "S", "A30", "W11", "W22", "P"}));

    I2cBus nobody(nullptr);   // no bridge on the bus
    PinMaster alone(nobody, GetParam());
    alone.Start();
    EXPECT_FALSE(alone.WriteByte(0x30));
    EXPECT_FALSE(alone.WriteByte(0x31));
    alone.Stop();
    EXPECT_EQ(nobody.Bytes(), 1u);
}

TEST_P(I2cBusTest, BrokenTransfersAndAHeldLine)
{
    slave.toSend = {0x00};
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x30));
    master.Clock(true);
    master.Clock(false);
    master.Stop();   // in the middle of a byte: dropped
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x30));
    master.Clock(false);
    master.Clock(true);
    master.Start();  // without a STOP: a new address phase
    EXPECT_TRUE(master.WriteByte(0x31));
    master.Clock(true);   // the slave drives its first bit, 0
    master.Set(false, true);
    master.Set(true, true);
    master.Set(true, false);   // SDA "falls" while the slave holds it low: no START
    master.Set(true, true);    // and no STOP
    EXPECT_EQ(slave.log, (Log{"S", "A30", "P", "S", "A30", "S", "A31", "R"}));
}

}  // namespace
}  // namespace qbxsim
