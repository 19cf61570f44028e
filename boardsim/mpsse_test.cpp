#include "mpsse.h"

#include <deque>
#include <set>

#include <gtest/gtest.h>

namespace qbxsim {
namespace {

using Bytes = std::vector<uint8_t>;
using Levels = std::vector<int>;

// A JTAG-like device: records TDI and TMS at each rising TCK edge, puts the next bit of `tdo` (then
// 1) on TDO at each falling edge; with `pulses` set it takes data shifts through the Pulses shortcut.
class RecordingTarget : public CPinTarget {
public:
    explicit RecordingTarget(bool pulses = false) : m_UsePulses(pulses) {}

    void Drive(uint8_t value, uint8_t direction) override
    {
        drives.push_back({value, direction});
        bool tck = (direction & kPinTck) && (value & kPinTck);
        if (tck && !m_Tck)
            rises.push_back({Level(value, direction, kPinTdi), Level(value, direction, kPinTms)});
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
            rises.push_back({(direction & kPinTdi) ? int((doBits >> k) & 1) : 1, Level(value, direction, kPinTms)});
            Fall();
        }
        return true;
    }
    Levels Tdi() const { return Pick(0); }
    Levels Tms() const { return Pick(1); }

    std::vector<std::pair<uint8_t, uint8_t>> drives;
    std::vector<std::pair<int, int>> rises;   // TDI and TMS at each rising edge
    std::deque<bool> tdo;
    int pulseCalls = 0;

private:
    static int Level(uint8_t value, uint8_t direction, uint8_t pin) { return (direction & pin) ? (value & pin) != 0 : 1; }
    Levels Pick(int which) const
    {
        Levels v;
        for (const auto& [tdi, tms] : rises)
            v.push_back(which ? tms : tdi);
        return v;
    }
    void Fall()
    {
        m_Tdo = tdo.empty() || tdo.front();
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
    // TCK, TDI, TMS outputs, TCK idle low, TMS as given; the recorded edges start afresh.
    void JtagPins(bool tms = true)
    {
        Run({0x80, static_cast<uint8_t>(tms ? 0x08 : 0x00), 0x0B});
        m_Target.rises.clear();
    }

    RecordingTarget m_Target;
    CMpsseEngine m_Engine;
};

TEST_F(MpsseTest, ModesAndPinCommands)
{
    m_Engine.SetBitMode(0, 0x00);
    EXPECT_TRUE(Run({0x81, 0xAA}).empty()) << "before MPSSE mode the engine ignores bytes";
    m_Engine.SetBitMode(0, 0x02);
    EXPECT_EQ(Run({0x81, 0xAA}), (Bytes{0xFF, 0xFA, 0xAA})) << "released pins read high";
    Run({0x80, 0xA5, 0xF3});
    EXPECT_EQ(m_Target.drives.back(), std::make_pair(uint8_t{0xA5}, uint8_t{0xF3}));
    // Outputs read their latch; inputs (bits 2 and 3) what is outside: TDO 1, bit 3 1.
    EXPECT_EQ(Run({0x81}), (Bytes{static_cast<uint8_t>((0xA5 & 0xF3) | 0x0C)}));
    Run({0x82, 0x0F, 0xF0});
    EXPECT_EQ(Run({0x83}), (Bytes{0x0F}));
    Run({0x3B, 0x07});
    EXPECT_EQ(m_Engine.PartialBytes(), 2u);
    m_Engine.SetBitMode(0, 0x00);
    EXPECT_EQ(m_Engine.PartialBytes(), 0u) << "a reset drops a partial command";
    EXPECT_EQ(m_Target.drives.back(), std::make_pair(uint8_t{0}, uint8_t{0})) << "and releases the pins";
    m_Engine.SetBitMode(0, 0x01);
    EXPECT_TRUE(Run({0x81}).empty()) << "another mode: idle";
    m_Engine.SetBitMode(0, 0x02);
    EXPECT_EQ(Run({0x81}).size(), 1u);
}

// The bit-7-clear opcodes an FT2232H answers as bad commands, and the high-range commands it knows.
TEST_F(MpsseTest, BadOpcodesAnswerFaAndConsumeOnlyThemselves)
{
    EXPECT_EQ(Run({0xAB, 0x81}), (Bytes{0xFA, 0xAB, 0xFF}));
    EXPECT_EQ(Run({0x00, 0x4C, 0x9E}), (Bytes{0xFA, 0x00, 0xFA, 0x4C, 0xFA, 0x9E}));
    std::set<int> bad = {0x4C, 0x4D, 0x5C, 0x5D, 0x60, 0x61, 0x64, 0x65, 0x68, 0x69,
                         0x6C, 0x6D, 0x70, 0x71, 0x74, 0x75, 0x78, 0x79, 0x7C, 0x7D};
    for (int op = 0x00; op <= 0x0F; ++op)
        bad.insert(op);
    for (int op = 0x40; op <= 0x59; ++op)
        if ((op & 0x0F) <= 9)
            bad.insert(op);
    const std::set<int> known = {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A,
                                 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x94, 0x95, 0x96, 0x97, 0x9C, 0x9D};
    for (int op = 0x80; op <= 0xFF; ++op)
        if (!known.count(op))
            bad.insert(op);
    for (int op = 0; op < 256; ++op)
        EXPECT_EQ(CMpsseEngine::IsBadOpcode(static_cast<uint8_t>(op)), bad.count(op) == 1) << std::hex << op;
}

// A command stream written in pieces (cut at the offsets) to a device with a fixed TDO sequence:
// the replies, TDI/TMS at each rising edge and the pins' final latch.
auto RunStream(const Bytes& stream, const std::vector<size_t>& cuts, bool pulses = false)
{
    RecordingTarget target(pulses);
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
    EXPECT_EQ(pulses, target.pulseCalls > 0);
    return std::make_tuple(reply, target.rises, engine.LowValue());
}

// The same replies and pin activity however the host splits a command stream across writes.
TEST(Mpsse, CommandsSplitAtAnyByte)
{
    const Bytes stream = {0x80, 0x08, 0x0B, 0x3B, 0x07, 0xA5, 0x39, 0x01, 0x00, 0x12, 0x34, 0x4B, 0x04, 0x9F,
                          0x81, 0xAA, 0x86, 0x1D, 0x00, 0x6B, 0x02, 0x03, 0x2C, 0x00, 0x00, 0x37, 0x03, 0xC0};
    const auto whole = RunStream(stream, {});
    EXPECT_EQ(std::get<0>(whole).size(), 1u + 2u + 1u + 2u + 1u + 1u + 1u);
    std::vector<size_t> everyByte;
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        EXPECT_EQ(RunStream(stream, {cut}), whole) << "cut at " << cut;
        everyByte.push_back(cut);
    }
    EXPECT_EQ(RunStream(stream, everyByte), whole);
}

// The Pulses shortcut of a pin target gives what edge-by-edge clocking gives.
TEST(Mpsse, PulsesShortcutEqualsEdgeByEdge)
{
    const Bytes stream = {0x80, 0x00, 0x0B, 0x3B, 0x07, 0x5A, 0x1B, 0x02, 0x05, 0x3F, 0x04, 0x11,
                          0x39, 0x01, 0x00, 0xDE, 0xAD, 0x2A, 0x03, 0x3E, 0x05, 0x33, 0x80, 0x08,
                          0x0B, 0x4B, 0x02, 0x03, 0x3B, 0x00, 0x01};
    EXPECT_EQ(RunStream(stream, {}, true), RunStream(stream, {}, false));
}

TEST_F(MpsseTest, BitShiftsAndTheirReplyPacking)
{
    JtagPins(false);
    EXPECT_TRUE(Run({0x1B, 0x04, 0b10110}).empty());
    EXPECT_EQ(m_Target.Tdi(), (Levels{0, 1, 1, 0, 1})) << "LSB first";
    EXPECT_EQ(m_Target.Tms(), (Levels{0, 0, 0, 0, 0}));
    EXPECT_EQ(m_Engine.LowValue() & kPinTck, 0) << "TCK back at its idle level";
    EXPECT_EQ(m_Engine.Clocks(), 5u);

    m_Target.tdo = {0, 1, 1};  // TDO before the pulses is 1; these follow on falling edges
    EXPECT_EQ(Run({0x3B, 0x02, 0x00}), (Bytes{0b101'00000})) << "LSB first: read bits fill from the top";
    m_Target.tdo = {0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(Run({0x3B, 0x07, 0x00}), (Bytes{0x01})) << "the first bit read in bit 0";
    EXPECT_EQ(Run({0x3B, 0x00, 0x00}), (Bytes{0x80}));

    JtagPins();
    m_Target.tdo = {0, 0, 1};
    // Four bits of 0xB0 leave bit 7 first: 1, 0, 1, 1. Samples 1, 0, 0, 1: first in bit 3.
    EXPECT_EQ(Run({0x37, 0x03, 0xB0}), (Bytes{0b1001})) << "MSB first: read bits fill from the bottom";
    EXPECT_EQ(m_Target.Tdi(), (Levels{1, 0, 1, 1}));

    JtagPins();
    Run({0x4B, 0x04, 0x9F});
    EXPECT_EQ(m_Target.Tms(), (Levels{1, 1, 1, 1, 1}));
    EXPECT_EQ(m_Target.Tdi(), (Levels{1, 1, 1, 1, 1})) << "a TMS command holds bit 7 on TDI";
    m_Target.rises.clear();
    Run({0x4B, 0x03, 0x02});
    EXPECT_EQ(m_Target.Tms(), (Levels{0, 1, 0, 0}));
    EXPECT_EQ(m_Target.Tdi(), (Levels{0, 0, 0, 0}));
    EXPECT_EQ(m_Engine.LowValue() & kPinTms, 0) << "TMS keeps the last bit";
    m_Target.tdo = {0, 1};
    EXPECT_EQ(Run({0x6B, 0x02, 0x03}), (Bytes{0b101'00000})) << "a TMS read fills from the top";
}

TEST_F(MpsseTest, ByteShiftsInBothBitOrders)
{
    JtagPins();
    Run({0x19, 0x01, 0x00, 0x01, 0x80});  // two bytes, LSB first
    Levels expected(16, 0);
    expected[0] = expected[15] = 1;
    EXPECT_EQ(m_Target.Tdi(), expected);
    m_Target.rises.clear();
    Run({0x11, 0x00, 0x00, 0x01});  // one byte MSB first: bit 7 first
    EXPECT_EQ(m_Target.Tdi(), (Levels{0, 0, 0, 0, 0, 0, 0, 1}));
    m_Target.tdo = {1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0};
    // Read-only bytes carry no data bytes: the 0x81 after them is a command.
    EXPECT_EQ(Run({0x28, 0x00, 0x00, 0x81}), (Bytes{0x03, 0xFA}));
    EXPECT_EQ(Run({0x2C, 0x00, 0x00}), (Bytes{0x06})) << "LSB first, sampled before each falling edge";
    EXPECT_EQ(m_Engine.Clocks(), 16u + 8u + 8u + 8u);
}

TEST_F(MpsseTest, LoopbackAndClockRate)
{
    EXPECT_DOUBLE_EQ(m_Engine.ClockHz(), 6e6) << "divide-by-5 on, divisor 0 at power-on";
    JtagPins();
    Run({0x84});
    EXPECT_EQ(Run({0x3B, 0x07, 0xC3}), (Bytes{0xC3}));
    EXPECT_EQ(Run({0x81}), (Bytes{static_cast<uint8_t>(0x0A | kPinTdo | 0xF0)})) << "DI follows DO (1 after 0xC3)";
    Run({0x85});
    EXPECT_EQ(Run({0x3B, 0x07, 0x00}), (Bytes{0xFF})) << "the device's TDO again";

    Run({0x8A, 0x86, 0x1D, 0x00});
    EXPECT_DOUBLE_EQ(m_Engine.ClockHz(), 1e6);
    const uint64_t before = m_Engine.Clocks();
    const double seconds = m_Engine.ClockSeconds();
    Run({0x8E, 0x07, 0x8F, 0x01, 0x00});
    EXPECT_EQ(m_Engine.Clocks() - before, 24u);
    EXPECT_NEAR(m_Engine.ClockSeconds() - seconds, 24e-6, 1e-12);
    Run({0x8C, 0x8E, 0x03});  // three-phase: 1.5 periods a bit
    EXPECT_NEAR(m_Engine.ClockSeconds() - seconds, 24e-6 + 6e-6, 1e-12);
    Run({0x8D, 0x8B, 0x86, 0xFF, 0xFF});
    EXPECT_NEAR(m_Engine.ClockHz(), 91.553, 1e-3);
    Run({0x8A});
    EXPECT_NEAR(m_Engine.ClockHz(), 457.763, 1e-3);
}

TEST_F(MpsseTest, WaitsThatNeverEndStallTheEngine)
{
    EXPECT_EQ(Run({0x88, 0x81}).size(), 1u) << "GPIOL1 is released high: no wait";
    EXPECT_TRUE(Run({0x89, 0x81}).empty()) << "low never comes";
    EXPECT_TRUE(m_Engine.Stalled());
    m_Engine.Purge();
    JtagPins();
    Run({0x96});
    EXPECT_TRUE(Run({0x3B, 0x00, 0x00, 0x81}).empty()) << "adaptive clocking waits for RTCK";
    EXPECT_TRUE(m_Engine.Stalled());
    EXPECT_TRUE(Run({0x81}).empty());
    m_Engine.Purge();
    EXPECT_EQ(Run({0x97, 0x81}).size(), 1u);
}

// A bit written on the edge that ends the pulse is set up before it; else it changes on the first
// edge, where a device sampling sees the old level.
TEST_F(MpsseTest, WriteEdgeAgainstClockIdleLevel)
{
    JtagPins(false);
    Run({0x1A, 0x02, 0b110});  // +ve write, idle low: the rising edge sees the previous level
    EXPECT_EQ(m_Target.Tdi(), (Levels{0, 0, 1}));
    Run({0x80, 0x01, 0x0B});  // idle high: a pulse is falling then rising
    m_Target.rises.clear();
    Run({0x1B, 0x02, 0b011});  // -ve write: changes on the falling edge, seen on the rising
    EXPECT_EQ(m_Target.Tdi(), (Levels{1, 1, 0}));
    EXPECT_EQ(m_Engine.LowValue() & kPinTck, kPinTck);
}

}  // namespace
}  // namespace qbxsim
