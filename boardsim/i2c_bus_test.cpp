#include "i2c_bus.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ds2482.h"

namespace qbxsim {
namespace {

// Records what the decoder tells the slave: "S", "P", "A30", "W12", "R", "K" (ack), "N" (nack).
class RecordingSlave : public I2cSlave {
public:
    uint8_t address = 0x30;             // the address byte (write form) this slave answers
    std::vector<uint8_t> toSend;        // bytes Read() hands out in turn
    std::vector<bool> writeAcks;        // answers to Write() in turn (default: ACK)
    std::vector<std::string> log;

    void Start() override { log.push_back("S"); }
    void Stop() override { log.push_back("P"); }
    bool Address(uint8_t a) override
    {
        log.push_back(Hex("A", a));
        return (a & 0xFE) == address;
    }
    bool Write(uint8_t d) override
    {
        log.push_back(Hex("W", d));
        return m_Writes < writeAcks.size() ? writeAcks[m_Writes++] : true;
    }
    uint8_t Read() override
    {
        log.push_back("R");
        return m_Reads < toSend.size() ? toSend[m_Reads++] : 0xFF;
    }
    void ReadAck(bool ack) override { log.push_back(ack ? "K" : "N"); }

private:
    static std::string Hex(const char* tag, uint8_t v)
    {
        static const char digits[] = "0123456789ABCDEF";
        return std::string(tag) + digits[v >> 4] + digits[v & 15];
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

std::string TimingName(Timing timing)
{
    switch (timing) {
    case Timing::Separate: return "Separate";
    case Timing::FallWithData: return "FallWithData";
    case Timing::RiseWithData: return "RiseWithData";
    }
    return "?";
}

void PrintTo(Timing timing, std::ostream* os) { *os << TimingName(timing); }

// A master that drives the pins as the adapter does: SDA driven (1 where the slave answers), data
// changed while SCL is low, bits read back from the wire while SCL is high.
class PinMaster {
public:
    PinMaster(I2cBus& bus, Timing timing) : m_Bus(bus), m_Timing(timing) {}

    void Set(bool scl, bool sda)
    {
        m_Scl = scl;
        m_Sda = sda;
        m_Bus.Update(scl, sda);
    }
    void Start()   // also a repeated START: both lines go high together first
    {
        Set(true, true);
        Set(true, false);
        Set(false, false);
    }
    void Stop()
    {
        Set(false, false);
        Set(true, false);
        Set(true, true);
    }
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
    // Sends a byte; returns true when acknowledged. *readBack gets the byte seen on the wire.
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
    uint8_t ReadByte(bool ack)
    {
        uint8_t b = 0;
        for (int i = 0; i < 8; ++i)
            b = static_cast<uint8_t>((b << 1) | (Clock(true) ? 1 : 0));
        Clock(!ack);
        Release();
        return b;
    }
    // Bus recovery: clock with SDA released until the wire is high while SCL is high, then a
    // START and a STOP, which every decoder state must take.
    bool Recover()
    {
        for (int i = 0; i < 20; ++i) {
            Set(false, true);
            Set(true, true);
            if (m_Bus.Sda()) {
                Set(true, false);
                Set(true, true);
                return true;
            }
        }
        return false;
    }
    // Leaves SCL low (the idle level of the clock between commands).
    void Release()
    {
        if (m_Scl)
            Set(false, m_Sda);
    }

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
    using Log = std::vector<std::string>;
};

INSTANTIATE_TEST_SUITE_P(PinTiming, I2cBusTest,
                         ::testing::Values(Timing::Separate, Timing::FallWithData,
                                           Timing::RiseWithData),
                         [](const auto& info) { return TimingName(info.param); });

TEST_P(I2cBusTest, WriteTransferIsDecodedAndAcknowledged)
{
    master.Start();
    uint8_t seen = 0;
    EXPECT_TRUE(master.WriteByte(0x30, &seen));
    EXPECT_EQ(seen, 0x30);
    EXPECT_TRUE(master.WriteByte(0xE1, &seen));
    EXPECT_EQ(seen, 0xE1);
    EXPECT_TRUE(master.WriteByte(0x5A));
    master.Stop();
    EXPECT_EQ(slave.log, (Log{"S", "A30", "WE1", "W5A", "P"}));
    EXPECT_EQ(bus.Bytes(), 3u);
    EXPECT_TRUE(bus.Sda());
}

TEST_P(I2cBusTest, WrongAddressIsNotAcknowledgedAndSlaveStaysSilentUntilNextStart)
{
    master.Start();
    EXPECT_FALSE(master.WriteByte(0x40));
    EXPECT_FALSE(master.WriteByte(0x00));   // the master carries on regardless
    EXPECT_EQ(master.ReadByte(true), 0xFF); // nobody drives SDA
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x30));
    master.Stop();
    EXPECT_EQ(slave.log, (Log{"S", "A40", "S", "A30", "P"}));
}

TEST_P(I2cBusTest, RejectedDataByteEndsTheTransferForTheSlave)
{
    slave.writeAcks = {true, false};
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x30));
    EXPECT_TRUE(master.WriteByte(0x11));
    EXPECT_FALSE(master.WriteByte(0x22));
    EXPECT_FALSE(master.WriteByte(0x33));   // not delivered
    master.Stop();
    EXPECT_EQ(slave.log, (Log{"S", "A30", "W11", "W22", "P"}));
}

TEST_P(I2cBusTest, RepeatedStartThenReadWithMasterAcknowledges)
{
    slave.toSend = {0xA5, 0x3C, 0x81};
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x30));
    EXPECT_TRUE(master.WriteByte(0xE1));
    master.Start();   // repeated: SCL and SDA rise together from low
    EXPECT_TRUE(master.WriteByte(0x31));
    EXPECT_EQ(master.ReadByte(true), 0xA5);
    EXPECT_EQ(master.ReadByte(true), 0x3C);
    EXPECT_EQ(master.ReadByte(false), 0x81);
    master.Stop();
    EXPECT_EQ(slave.log,
              (Log{"S", "A30", "WE1", "S", "A31", "R", "K", "R", "K", "R", "N", "P"}));
    EXPECT_EQ(bus.Bytes(), 6u);
}

TEST_P(I2cBusTest, SlaveIsSilentAfterMasterNack)
{
    slave.toSend = {0x00, 0x00};
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x31));
    EXPECT_EQ(master.ReadByte(false), 0x00);
    EXPECT_EQ(master.ReadByte(true), 0xFF);   // no Read(): the line stays released
    master.Stop();
    EXPECT_EQ(slave.log, (Log{"S", "A31", "R", "N", "P"}));
}

TEST_P(I2cBusTest, ReadLineIsWiredAndOfMasterAndSlave)
{
    slave.toSend = {0xF0};
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x31));
    // The master drives 0 on the first four bits (a misbehaving master): the wire reads 0 there.
    uint8_t b = 0;
    for (int i = 0; i < 8; ++i)
        b = static_cast<uint8_t>((b << 1) | (master.Clock(i >= 4) ? 1 : 0));
    EXPECT_EQ(b, 0x00);   // slave 1111 AND master 0000, then slave 0000 AND master 1111
    master.Clock(true);
    master.Release();
    master.Stop();
}

TEST_P(I2cBusTest, StopInTheMiddleOfAByteDropsIt)
{
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x30));
    master.Clock(true);
    master.Clock(false);
    master.Clock(true);
    master.Stop();
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x30));
    EXPECT_TRUE(master.WriteByte(0x96));
    master.Stop();
    EXPECT_EQ(slave.log, (Log{"S", "A30", "P", "S", "A30", "W96", "P"}));
}

TEST_P(I2cBusTest, StartWithoutStopRestartsTheAddressPhase)
{
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x30));
    master.Clock(false);
    master.Clock(true);
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x31));
    EXPECT_EQ(slave.log, (Log{"S", "A30", "S", "A31", "R"}));
}

TEST_P(I2cBusTest, SlaveHoldingSdaLowBlocksStartAndStop)
{
    slave.toSend = {0x00, 0x00};
    master.Start();
    EXPECT_TRUE(master.WriteByte(0x31));
    master.Clock(true);   // first data bit: the slave drives 0
    master.Set(false, true);
    master.Set(true, true);
    master.Set(true, false);   // SDA "falls" while the slave holds it low: no START
    master.Set(true, true);    // and no STOP
    EXPECT_EQ(slave.log, (Log{"S", "A31", "R"}));
}

TEST(I2cBus, NobodyOnTheBusNeverAcknowledges)
{
    I2cBus bus(nullptr);
    PinMaster master(bus, Timing::Separate);
    master.Start();
    EXPECT_FALSE(master.WriteByte(0x30));
    EXPECT_FALSE(master.WriteByte(0x31));
    master.Stop();
    EXPECT_EQ(bus.Bytes(), 1u);   // the address byte went out; nothing after it was taken
}

TEST(I2cBus, RandomPinNoiseNeverBreaksTheNextCleanTransfer)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 50; ++round) {
        RecordingSlave slave;
        slave.toSend = {0x00, 0x55, 0x00, 0xFF};
        I2cBus bus(&slave);
        for (int i = 0; i < 400; ++i)
            bus.Update((random() & 1) != 0, (random() & 1) != 0);
        PinMaster master(bus, static_cast<Timing>(round % 3));
        ASSERT_TRUE(master.Recover()) << "round " << round;
        slave.log.clear();
        master.Start();
        ASSERT_TRUE(master.WriteByte(0x30)) << "round " << round;
        ASSERT_TRUE(master.WriteByte(0x87)) << "round " << round;
        master.Stop();
        EXPECT_EQ(slave.log, (std::vector<std::string>{"S", "A30", "W87", "P"}));
    }
}

// The whole channel-A path: pins -> decoder -> DS2482 -> 1-Wire bus.
TEST(I2cBus, BridgeAnswersThroughThePins)
{
    OneWireBus wire;
    Ds2482 bridge({}, wire);
    I2cBus bus(&bridge);
    PinMaster master(bus, Timing::FallWithData);

    master.Start();
    ASSERT_TRUE(master.WriteByte(0x30));
    ASSERT_TRUE(master.WriteByte(0xF0));   // Device Reset
    master.Start();
    ASSERT_TRUE(master.WriteByte(0x31));
    EXPECT_EQ(master.ReadByte(true), 0x18);
    EXPECT_EQ(master.ReadByte(false), 0x18);   // the status again, within one transfer
    master.Stop();

    master.Start();
    ASSERT_TRUE(master.WriteByte(0x30));
    ASSERT_TRUE(master.WriteByte(0xB4));   // 1-Wire Reset on an empty, unpowered bus
    ASSERT_FALSE(master.WriteByte(0x00));  // nothing follows a command without parameter
    master.Start();
    ASSERT_TRUE(master.WriteByte(0x31));
    EXPECT_EQ(master.ReadByte(true) & Ds2482::k1WB, Ds2482::k1WB);
    EXPECT_EQ(master.ReadByte(false) & (Ds2482::k1WB | Ds2482::kPPD), 0);
    master.Stop();
    EXPECT_EQ(wire.Resets(), 1u);
}

}  // namespace
}  // namespace qbxsim
