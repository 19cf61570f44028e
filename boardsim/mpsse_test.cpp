#include "mpsse.h"

#include <deque>
#include <set>

#include <gtest/gtest.h>

namespace qbxsim {
namespace {

using Bytes = std::vector<uint8_t>;

// A JTAG-like device on the pins: on each rising TCK edge it records TDI and TMS; on each falling
// edge it puts the next bit of `tdo` on TDO/DI (1 when the list is used up). With `pulses` set
// it also takes data shifts through the Pulses shortcut, with the same behaviour.
class RecordingTarget : public CPinTarget {
public:
    explicit RecordingTarget(bool pulses = false) : m_UsePulses(pulses) {}

    void Drive(uint8_t value, uint8_t direction) override
    {
        drives.push_back({value, direction});
        bool tck = (direction & kPinTck) && (value & kPinTck);
        if (tck && !m_Tck)
            Rise(Level(value, direction, kPinTdi), Level(value, direction, kPinTms));
        if (!tck && m_Tck)
            Fall();
        m_Tck = tck;
    }
    uint8_t Sense() override { return static_cast<uint8_t>(0xFB | (m_Tdo ? kPinTdo : 0)); }
    bool Pulses(unsigned n, uint8_t doBits, bool, uint8_t value, uint8_t direction, uint32_t* di) override
    {
        if (!m_UsePulses)
            return false;
        ++pulseCalls;
        *di = 0;
        for (unsigned k = 0; k < n; ++k) {
            *di |= static_cast<uint32_t>(m_Tdo) << k;
            Rise((direction & kPinTdi) ? ((doBits >> k) & 1) != 0 : true, Level(value, direction, kPinTms));
            Fall();
        }
        return true;
    }

    struct Edge {
        bool tdi, tms;
        bool operator==(const Edge&) const = default;
    };
    std::vector<std::pair<uint8_t, uint8_t>> drives;
    std::vector<Edge> rises;
    std::deque<bool> tdo;
    int pulseCalls = 0;

    std::vector<int> Tdi() const
    {
        std::vector<int> v;
        for (const Edge& e : rises)
            v.push_back(e.tdi);
        return v;
    }
    std::vector<int> Tms() const
    {
        std::vector<int> v;
        for (const Edge& e : rises)
            v.push_back(e.tms);
        return v;
    }

private:
    static bool Level(uint8_t value, uint8_t direction, uint8_t pin) { return (direction & pin) ? (value & pin) != 0 : true; }
    void Rise(bool tdi, bool tms) { rises.push_back({tdi, tms}); }
    void Fall()
    {
        m_Tdo = tdo.empty() ? true : tdo.front();
        if (!tdo.empty())
            tdo.pop_front();
    }
    bool m_UsePulses;
    bool m_Tck = false;
    bool m_Tdo = true;
};

class MpsseTest : public ::testing::Test {
protected:
    MpsseTest() : m_Engine(&m_Target) { m_Engine.SetBitMode(0, 0x02); }
    Bytes Run(const Bytes& bytes)
    {
        Bytes reply;
        m_Engine.Write(bytes.data(), bytes.size(), reply);
        return reply;
    }
    void JtagPins() { Run({0x80, 0x08, 0x0B}); }  // TMS high, TCK/TDI/TMS outputs, TCK idle low

    RecordingTarget m_Target;
    CMpsseEngine m_Engine;
};

TEST_F(MpsseTest, CommandsBeforeMpsseModeAreIgnored)
{
    RecordingTarget target;
    CMpsseEngine engine(&target);
    Bytes reply;
    const Bytes read = {0x81, 0xAA};
    engine.Write(read.data(), read.size(), reply);
    EXPECT_TRUE(reply.empty());
    engine.SetBitMode(0, 0x02);
    engine.Write(read.data(), read.size(), reply);
    EXPECT_EQ(reply, (Bytes{0xFF, 0xFA, 0xAA})) << "released pins read high";
    engine.SetBitMode(0, 0x01);  // another mode: idle again
    reply.clear();
    engine.Write(read.data(), read.size(), reply);
    EXPECT_TRUE(reply.empty());
}

TEST_F(MpsseTest, PinWritesAndReads)
{
    Run({0x80, 0xA5, 0xF3});
    ASSERT_FALSE(m_Target.drives.empty());
    EXPECT_EQ(m_Target.drives.back(), std::make_pair(uint8_t{0xA5}, uint8_t{0xF3}));
    // Outputs read their latch; inputs (bits 2 and 3) what is outside: TDO 1, bit 3 1.
    EXPECT_EQ(Run({0x81}), (Bytes{static_cast<uint8_t>((0xA5 & 0xF3) | 0x0C)}));
    Run({0x82, 0x0F, 0xF0});
    EXPECT_EQ(Run({0x83}), (Bytes{0x0F}));
    EXPECT_EQ(m_Engine.HighValue(), 0x0F);
    EXPECT_EQ(m_Engine.HighDirection(), 0xF0);
}

TEST_F(MpsseTest, BadOpcodeAnswersFaAndConsumesOnlyItself)
{
    EXPECT_EQ(Run({0xAA}), (Bytes{0xFA, 0xAA}));
    EXPECT_EQ(Run({0xAB, 0x81}), (Bytes{0xFA, 0xAB, 0xFF}));
    EXPECT_EQ(Run({0x00, 0x4C, 0x9E}), (Bytes{0xFA, 0x00, 0xFA, 0x4C, 0xFA, 0x9E}));
}

// Bit-7-clear opcodes seen answered as bad commands on the FT2232H (and only those), and the
// commands of the high range the engine knows.
TEST_F(MpsseTest, BadOpcodeSet)
{
    std::set<int> bad;
    for (int op = 0x00; op <= 0x0F; ++op)
        bad.insert(op);
    for (int op = 0x40; op <= 0x49; ++op)
        bad.insert(op);
    for (int op = 0x50; op <= 0x59; ++op)
        bad.insert(op);
    for (int op : {0x4C, 0x4D, 0x5C, 0x5D, 0x60, 0x61, 0x64, 0x65, 0x68, 0x69, 0x6C, 0x6D, 0x70, 0x71, 0x74, 0x75,
                   0x78, 0x79, 0x7C, 0x7D})
        bad.insert(op);
    const std::set<int> known = {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A,
                                 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x94, 0x95, 0x96, 0x97, 0x9C, 0x9D};
    for (int op = 0x80; op <= 0xFF; ++op)
        if (!known.count(op))
            bad.insert(op);
    for (int op = 0; op < 256; ++op)
        EXPECT_EQ(CMpsseEngine::IsBadOpcode(static_cast<uint8_t>(op)), bad.count(op) == 1) << std::hex << op;
}

// The same command stream gives the same replies and the same pin activity however the host
// splits it across writes.
TEST_F(MpsseTest, CommandsSplitAtAnyByte)
{
    const Bytes stream = {0x80, 0x08, 0x0B, 0x3B, 0x07, 0xA5, 0x39, 0x01, 0x00, 0x12, 0x34, 0x4B, 0x04, 0x9F,
                          0x81, 0xAA, 0x86, 0x1D, 0x00, 0x6B, 0x02, 0x03, 0x2C, 0x00, 0x00, 0x37, 0x03, 0xC0};
    auto run = [&](const std::vector<size_t>& cuts) {
        RecordingTarget target;
        for (int i = 0; i < 200; ++i)
            target.tdo.push_back((i * 7 % 5) < 2);
        CMpsseEngine engine(&target);
        engine.SetBitMode(0, 0x02);
        Bytes reply;
        size_t from = 0;
        for (size_t cut : cuts) {
            engine.Write(stream.data() + from, cut - from, reply);
            from = cut;
        }
        engine.Write(stream.data() + from, stream.size() - from, reply);
        EXPECT_EQ(engine.PartialBytes(), 0u);
        return std::make_pair(reply, target.rises);
    };
    auto whole = run({});
    EXPECT_EQ(whole.first.size(), 1u + 2u + 1u + 2u + 1u + 1u + 1u);
    for (size_t cut = 1; cut < stream.size(); ++cut)
        EXPECT_EQ(run({cut}), whole) << "cut at " << cut;
    std::vector<size_t> everyByte;
    for (size_t cut = 1; cut < stream.size(); ++cut)
        everyByte.push_back(cut);
    EXPECT_EQ(run(everyByte), whole);
}

TEST_F(MpsseTest, BitsOutLsbFirstOnTheFallingEdge)
{
    JtagPins();
    Run({0x80, 0x00, 0x0B});  // TMS low
    EXPECT_TRUE(Run({0x1B, 0x04, 0b10110}).empty());
    EXPECT_EQ(m_Target.Tdi(), (std::vector<int>{0, 1, 1, 0, 1}));
    EXPECT_EQ(m_Target.Tms(), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(m_Engine.LowValue() & kPinTck, 0) << "TCK back at its idle level";
    EXPECT_EQ(m_Engine.Clocks(), 5u);
}

TEST_F(MpsseTest, LsbFirstReadFillsFromTheTop)
{
    JtagPins();
    m_Target.tdo = {0, 1, 1};  // TDO before the pulses is 1; these follow on falling edges
    EXPECT_EQ(Run({0x3B, 0x02, 0x00}), (Bytes{0b101'00000}));
    m_Target.tdo = {0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(Run({0x3B, 0x07, 0x00}), (Bytes{0x01})) << "first bit read (the 1 left by the last shift) in bit 0";
    EXPECT_EQ(Run({0x3B, 0x00, 0x00}), (Bytes{0x80}));
}

TEST_F(MpsseTest, MsbFirstOutAndInOnTheFallingEdgeFillsFromTheBottom)
{
    JtagPins();
    m_Target.tdo = {0, 0, 1};
    // Four bits of 0xB0 leave bit 7 first: 1, 0, 1, 1. Samples 1, 0, 0, 1: first in bit 3.
    EXPECT_EQ(Run({0x37, 0x03, 0xB0}), (Bytes{0b1001}));
    EXPECT_EQ(m_Target.Tdi(), (std::vector<int>{1, 0, 1, 1}));
}

TEST_F(MpsseTest, TmsCommandHoldsBit7OnTdi)
{
    JtagPins();
    Run({0x4B, 0x04, 0x9F});
    EXPECT_EQ(m_Target.Tms(), (std::vector<int>{1, 1, 1, 1, 1}));
    EXPECT_EQ(m_Target.Tdi(), (std::vector<int>{1, 1, 1, 1, 1}));
    m_Target.rises.clear();
    Run({0x4B, 0x03, 0x02});
    EXPECT_EQ(m_Target.Tms(), (std::vector<int>{0, 1, 0, 0}));
    EXPECT_EQ(m_Target.Tdi(), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(m_Engine.LowValue() & kPinTms, 0) << "TMS keeps the last bit";
    m_Target.tdo = {0, 1};
    EXPECT_EQ(Run({0x6B, 0x02, 0x03}), (Bytes{0b101'00000})) << "a TMS read fills from the top";
}

TEST_F(MpsseTest, ByteShiftsInBothBitOrders)
{
    JtagPins();
    Run({0x19, 0x01, 0x00, 0x01, 0x80});  // two bytes, LSB first
    std::vector<int> expected(16, 0);
    expected[0] = 1;
    expected[15] = 1;
    EXPECT_EQ(m_Target.Tdi(), expected);
    m_Target.rises.clear();
    Run({0x11, 0x00, 0x00, 0x01});  // one byte MSB first: bit 7 first
    std::vector<int> msb(8, 0);
    msb[7] = 1;
    EXPECT_EQ(m_Target.Tdi(), msb);
    m_Target.tdo = {1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0};
    // Read-only bytes carry no data bytes: the 0x81 after them is a command.
    // DO holds the last bit sent (1), TCK is low, TDO shows 0 after the eight pulses.
    EXPECT_EQ(Run({0x28, 0x00, 0x00, 0x81}), (Bytes{0x03, 0xFA}));
    // LSB first, sampled before each falling edge: 0, then 1, 1 and zeros.
    EXPECT_EQ(Run({0x2C, 0x00, 0x00}), (Bytes{0x06}));
    EXPECT_EQ(m_Engine.Clocks(), 16u + 8u + 8u + 8u);
}

TEST_F(MpsseTest, LoopbackReturnsTheDataSent)
{
    JtagPins();
    Run({0x84});
    EXPECT_EQ(Run({0x3B, 0x07, 0xC3}), (Bytes{0xC3}));
    EXPECT_EQ(Run({0x81}), (Bytes{static_cast<uint8_t>(0x0A | kPinTdo | 0xF0)})) << "DI follows DO (1 after 0xC3)";
    Run({0x85});
    EXPECT_EQ(Run({0x3B, 0x07, 0x00}), (Bytes{0xFF})) << "the device's TDO again";
}

TEST_F(MpsseTest, ClockRateFromDivisorAndDivideBy5)
{
    EXPECT_DOUBLE_EQ(m_Engine.ClockHz(), 6e6) << "divide-by-5 on, divisor 0 at power-on";
    Run({0x8A, 0x86, 0x1D, 0x00});
    EXPECT_DOUBLE_EQ(m_Engine.ClockHz(), 1e6);
    JtagPins();
    Run({0x8E, 0x07});
    Run({0x8F, 0x01, 0x00});
    EXPECT_EQ(m_Engine.Clocks(), 24u);
    EXPECT_NEAR(m_Engine.ClockSeconds(), 24e-6, 1e-12);
    Run({0x8C, 0x8E, 0x03});  // three-phase: 1.5 periods a bit
    EXPECT_NEAR(m_Engine.ClockSeconds(), 24e-6 + 6e-6, 1e-12);
    Run({0x8D, 0x8B, 0x86, 0xFF, 0xFF});
    EXPECT_NEAR(m_Engine.ClockHz(), 91.553, 1e-3);
    Run({0x8A});
    EXPECT_NEAR(m_Engine.ClockHz(), 457.763, 1e-3);
}

TEST_F(MpsseTest, AdaptiveClockingWaitsForever)
{
    JtagPins();
    Run({0x96});
    EXPECT_TRUE(Run({0x3B, 0x00, 0x00, 0x81}).empty());
    EXPECT_TRUE(m_Engine.Stalled());
    EXPECT_TRUE(Run({0x81}).empty());
    m_Engine.Purge();
    EXPECT_EQ(Run({0x97, 0x81}).size(), 1u);
}

TEST_F(MpsseTest, WaitOnGpiol1)
{
    EXPECT_EQ(Run({0x88, 0x81}).size(), 1u) << "GPIOL1 is released high: no wait";
    EXPECT_TRUE(Run({0x89, 0x81}).empty()) << "low never comes";
    EXPECT_TRUE(m_Engine.Stalled());
}

TEST_F(MpsseTest, BitModeResetDropsPartialCommandAndReleasesPins)
{
    JtagPins();
    Run({0x3B, 0x07});
    EXPECT_EQ(m_Engine.PartialBytes(), 2u);
    m_Engine.SetBitMode(0, 0x00);
    EXPECT_EQ(m_Engine.PartialBytes(), 0u);
    EXPECT_EQ(m_Target.drives.back(), std::make_pair(uint8_t{0}, uint8_t{0}));
    m_Engine.SetBitMode(0, 0x02);
    EXPECT_EQ(Run({0x81}).size(), 1u) << "the data byte of the dropped shift is not waited for";
}

// Where the written bit changes relative to the pulse: set up before it when written on the edge
// that ends the pulse, changed on the first edge otherwise (a device sampling there sees the old
// level).
TEST_F(MpsseTest, WriteEdgeAgainstClockIdleLevel)
{
    JtagPins();
    Run({0x80, 0x00, 0x0B});
    Run({0x1A, 0x02, 0b110});  // +ve write, idle low: the rising edge sees the previous level
    EXPECT_EQ(m_Target.Tdi(), (std::vector<int>{0, 0, 1}));
    m_Target.rises.clear();
    Run({0x80, 0x01, 0x0B});  // idle high: a pulse is falling then rising
    m_Target.rises.clear();
    Run({0x1B, 0x02, 0b011});  // -ve write: changes on the falling edge, seen on the rising
    EXPECT_EQ(m_Target.Tdi(), (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(m_Engine.LowValue() & kPinTck, kPinTck);
}

// The Pulses shortcut gives what edge-by-edge clocking gives.
TEST(MpssePulses, ShortcutEqualsEdgeByEdge)
{
    const std::vector<uint8_t> stream = {0x80, 0x00, 0x0B, 0x3B, 0x07, 0x5A, 0x1B, 0x02, 0x05, 0x3F, 0x04, 0x11,
                                         0x39, 0x01, 0x00, 0xDE, 0xAD, 0x2A, 0x03, 0x3E, 0x05, 0x33, 0x80, 0x08,
                                         0x0B, 0x4B, 0x02, 0x03, 0x3B, 0x00, 0x01};
    auto run = [&](bool pulses) {
        RecordingTarget target(pulses);
        for (int i = 0; i < 100; ++i)
            target.tdo.push_back((i * 5 % 3) == 1);
        CMpsseEngine engine(&target);
        engine.SetBitMode(0, 0x02);
        Bytes reply;
        engine.Write(stream.data(), stream.size(), reply);
        EXPECT_EQ(pulses, target.pulseCalls > 0);
        return std::make_tuple(reply, target.rises, engine.LowValue());
    };
    EXPECT_EQ(run(true), run(false));
}

}  // namespace
}  // namespace qbxsim
