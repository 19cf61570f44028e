#include "ds2482.h"

#include <gtest/gtest.h>

#include "onewire_test_support.h"

namespace qbxsim {
namespace {

using Acks = std::vector<bool>;
using Bits = std::vector<bool>;

// A device that answers every reset and leaves fixed read-slot levels, logging the master's bits.
class ScriptedDevice : public OneWireDevice {
public:
    Bits levels;   // what it leaves in each slot in turn (then released)
    Bits seen;     // the master's bits
    int resets = 0;
    bool pullup = false;
    uint64_t Rom() const override { return 0; }
    void PowerOn() override {}
    bool Reset() override { return ++resets > 0; }
    bool Slot(bool masterBit) override
    {
        seen.push_back(masterBit);
        return seen.size() <= levels.size() ? levels[seen.size() - 1] : true;
    }
    void StrongPullup(bool on) override { pullup = on; }
};

// A bridge with `busyReads` status reads of 1WB per 1-Wire command and one scripted device.
struct Bench {
    explicit Bench(Ds2482Config config = {}) : chip(config, wire)
    {
        wire.SetDevices({&device});
        wire.SetPowered(true);
    }
    OneWireBus wire;
    ScriptedDevice device;
    Ds2482 chip;
    test::BridgeHost host{chip};
};

TEST(Ds2482, RegistersPointerAndConfiguration)
{
    Bench b;
    auto& host = b.host;
    EXPECT_EQ(host.ReadOne(), 0x18) << "power-on status: RST | LL";
    EXPECT_TRUE(host.WriteOk({0xE1, 0xE1}));
    EXPECT_EQ(host.ReadOne(), 0x00);
    EXPECT_TRUE(host.WriteOk({0xD2, 0xE1}));   // APU, upper nibble the complement
    EXPECT_EQ(host.ReadOne(), 0x01) << "the pointer moved to the configuration";
    EXPECT_EQ(host.Write({0xD2, 0x01}), (Acks{true, true, false}));
    EXPECT_EQ(host.Write({0xD2, 0xF5}), (Acks{true, true, false}));
    EXPECT_EQ(b.chip.Config(), 0x01);
    EXPECT_TRUE(host.WriteOk({0xE1, 0xF0}));
    EXPECT_EQ(host.ReadOne(), 0x08) << "RST cleared by the configuration write";
    EXPECT_TRUE(host.OneWireReset());
    EXPECT_EQ(host.ReadOne(), Ds2482::kLL | Ds2482::kPPD);
}

TEST(Ds2482, RefusedBytesChangeNothing)
{
    Bench b;
    auto& host = b.host;
    EXPECT_EQ(host.Write({0xB4}, 0x32), (Acks{false})) << "another address";
    EXPECT_EQ(host.Write({0xB4}, 0x18), (Acks{false}));
    ASSERT_TRUE(host.WriteOk({0xE1, 0xC3}));
    for (uint8_t bad : {0xD2, 0x00, 0xF1, 0xB4})
        EXPECT_EQ(host.Write({0xE1, bad}), (Acks{true, true, false})) << int(bad);
    EXPECT_EQ(b.chip.Pointer(), 0xC3);
    // Channel Select (the -800 only), no command, Device Reset and Single Bit (not modelled).
    for (uint8_t code : {0xC3, 0x00, 0xF0, 0x87})
        EXPECT_EQ(host.Write({code, 0x87}), (Acks{true, false})) << int(code);
    EXPECT_EQ(host.Write({0xE1, 0xF0, 0xF0}), (Acks{true, true, true, false})) << "a byte beyond the command";
    b.chip.Start();   // after a refused byte the rest of the transfer is refused too
    ASSERT_TRUE(b.chip.Address(0x30));
    EXPECT_FALSE(b.chip.Write(0x55));
    EXPECT_FALSE(b.chip.Write(0xB4));
    b.chip.Stop();
    EXPECT_EQ(host.Write({0xA5}), (Acks{true, true})) << "a command without its parameter";
    EXPECT_EQ(b.device.resets, 0);
    EXPECT_TRUE(b.device.seen.empty());
}

// 1WB shows for busy_reads status reads (stuck_busy: for ever), meanwhile 1-Wire commands and
// Write Configuration are refused.
TEST(Ds2482, BusyHidesResultsAndRefusesOneWireCommands)
{
    Bench b({3, false});
    auto& host = b.host;
    b.device.levels = Bits(8, false);
    ASSERT_TRUE(host.WriteOk({0x96}));
    for (uint8_t code : {0xB4, 0x96})
        EXPECT_EQ(host.Write({code}), (Acks{true, false}));
    for (uint8_t code : {0xA5, 0x78, 0xD2})
        EXPECT_EQ(host.Write({code, 0xF0}), (Acks{true, false}));
    EXPECT_EQ(b.device.seen.size(), 8u) << "only the first Read Byte reached the bus";
    EXPECT_TRUE(host.WriteOk({0xE1, 0xE1}));   // the pointer is taken while busy
    EXPECT_EQ(host.ReadOne(), 0x00) << "data register reads do not count the busy period down";
    EXPECT_TRUE(host.WriteOk({0xE1, 0xF0}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(host.ReadOne(), 0x19) << i;
    EXPECT_EQ(host.ReadOne(), 0x18);
    ASSERT_TRUE(host.WriteOk({0x96}));   // the device now leaves all ones
    ASSERT_TRUE(host.WriteOk({0xE1, 0xE1}));
    EXPECT_EQ(host.ReadOne(), 0x00) << "the previous byte until this Read Byte ends";

    Bench idle({0, false});
    ASSERT_TRUE(idle.host.WriteOk({0xB4}));
    EXPECT_EQ(idle.host.ReadOne(), 0x1A) << "zero busy reads: the result at once";

    Bench stuck({1, true});
    EXPECT_EQ(stuck.host.ReadOne(), 0x18) << "idle until the first 1-Wire command";
    ASSERT_TRUE(stuck.host.WriteOk({0xB4}));
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(stuck.host.ReadOne() & Ds2482::k1WB, Ds2482::k1WB);
    EXPECT_EQ(stuck.host.Write({0xB4}), (Acks{true, false}));
}

TEST(Ds2482, OneWireCommands)
{
    Bench b;
    auto& host = b.host;
    EXPECT_TRUE(host.OneWireReset());
    b.wire.SetPowered(false);
    EXPECT_FALSE(host.OneWireReset());
    b.wire.SetPowered(true);
    b.wire.SetDevices({});
    EXPECT_FALSE(host.OneWireReset());
    b.wire.SetDevices({&b.device});

    ASSERT_TRUE(host.WriteOk({0xE1, 0xC3}));
    EXPECT_TRUE(host.WriteByte(0x4D));
    EXPECT_EQ(b.chip.Pointer(), 0xF0) << "a 1-Wire command moves the pointer to the status";
    EXPECT_EQ(b.device.seen, (Bits{true, false, true, true, false, false, true, false})) << "LSB first";
    b.device.seen.clear();
    b.device.levels = {false, true, true, false, false, true, false, true};
    EXPECT_EQ(host.ReadByte(), 0xA6);
    EXPECT_EQ(b.device.seen, Bits(8, true));
}

// Triplet: two read slots (SBR, TSB), then the direction written (DIR).
TEST(Ds2482, TripletAnswersEveryCase)
{
    Bench b;
    struct Case {
        bool first, second, v, dir;
    } cases[] = {
        {false, false, false, false}, {false, false, true, true},   // discrepancy: V decides
        {false, true, true, false},   {true, false, false, true},   // every device agrees
        {true, true, false, true},                                   // nobody: writes 1
    };
    for (const Case& c : cases) {
        b.device.seen.clear();
        b.device.levels = {c.first, c.second};
        const uint8_t status = b.host.Triplet(c.v);
        EXPECT_EQ(status & (Ds2482::kSBR | Ds2482::kTSB | Ds2482::kDIR),
                  (c.first ? Ds2482::kSBR : 0) | (c.second ? Ds2482::kTSB : 0) | (c.dir ? Ds2482::kDIR : 0));
        EXPECT_EQ(b.device.seen, (Bits{true, true, c.dir}));
    }
}

// The strong pull-up follows the Write Byte sent with SPU set and ends, SPU with it, at the next
// 1-Wire command or a configuration write without SPU.
TEST(Ds2482, StrongPullupIsOneShot)
{
    Bench b;
    auto& host = b.host;
    host.WriteConfig(Ds2482::kSPU | Ds2482::kAPU);
    EXPECT_TRUE(host.OneWireReset());   // not a command the pull-up follows: stays armed
    EXPECT_FALSE(b.device.pullup);
    EXPECT_TRUE(host.WriteByte(0x44));
    EXPECT_TRUE(b.device.pullup);
    EXPECT_TRUE(host.OneWireReset());
    EXPECT_FALSE(b.device.pullup);
    EXPECT_EQ(b.chip.Config(), Ds2482::kAPU);

    host.WriteConfig(Ds2482::kSPU);
    EXPECT_TRUE(host.WriteByte(0xBE));
    EXPECT_TRUE(b.device.pullup);
    host.WriteConfig(0x00);
    EXPECT_FALSE(b.device.pullup) << "a configuration write without SPU ends it";
}

}  // namespace
}  // namespace qbxsim
