#include "ds2482.h"

#include <memory>

#include <gtest/gtest.h>

#include "ds18s20.h"
#include "ds2450.h"
#include "onewire_test_support.h"

namespace qbxsim {
namespace {

using test::BridgeHost;

// A device that answers every reset and pulls fixed read-slot levels, logging the master's bits.
class ScriptedDevice : public OneWireDevice {
public:
    std::vector<bool> levels;   // what it leaves in each slot in turn (then released)
    std::vector<bool> seen;     // the master's bits
    int resets = 0;
    bool pullup = false;
    uint64_t Rom() const override { return 0; }
    void PowerOn() override {}
    bool Reset() override
    {
        ++resets;
        return true;
    }
    bool Slot(bool masterBit) override
    {
        seen.push_back(masterBit);
        return seen.size() <= levels.size() ? levels[seen.size() - 1] : true;
    }
    void StrongPullup(bool on) override { pullup = on; }
};

struct Ds2482Test : ::testing::Test {
    OneWireBus wire;
    ScriptedDevice device;
    Ds2482 chip{{}, wire};
    BridgeHost host{chip};

    Ds2482Test()
    {
        wire.SetDevices({&device});
        wire.SetPowered(true);
    }
};

// ---- registers and pointer ---------------------------------------------------------------------

TEST_F(Ds2482Test, PowerOnStatusConfigAndPointer)
{
    EXPECT_EQ(host.ReadOne(), 0x18);   // RST | LL
    EXPECT_TRUE(host.WriteOk({0xE1, 0xC3}));
    EXPECT_EQ(host.ReadOne(), 0x00);
    EXPECT_TRUE(host.WriteOk({0xE1, 0xE1}));
    EXPECT_EQ(host.ReadOne(), 0x00);
}

TEST_F(Ds2482Test, OnlyTheAddress0x18IsAcknowledged)
{
    EXPECT_EQ(host.Write({0xB4}, 0x32), (std::vector<bool>{false}));
    EXPECT_EQ(host.Write({0xB4}, 0x18), (std::vector<bool>{false}));
    EXPECT_EQ(device.resets, 0);
}

TEST_F(Ds2482Test, SetReadPointerTakesOnlyValidCodes)
{
    EXPECT_TRUE(host.WriteOk({0xE1, 0xC3}));
    EXPECT_EQ(chip.Pointer(), 0xC3);
    for (uint8_t bad : {0xD2, 0x00, 0xF1, 0xB4}) {
        EXPECT_EQ(host.Write({0xE1, bad}), (std::vector<bool>{true, true, false})) << int(bad);
        EXPECT_EQ(chip.Pointer(), 0xC3);
    }
    EXPECT_TRUE(host.WriteOk({0xE1, 0xF0}));
    EXPECT_EQ(host.ReadOne(), 0x18);
}

TEST_F(Ds2482Test, UnknownCodesAndExtraBytesAreNotAcknowledged)
{
    EXPECT_EQ(host.Write({0xC3, 0x87}), (std::vector<bool>{true, false}));   // -800 only
    EXPECT_EQ(host.Write({0x00}), (std::vector<bool>{true, false}));
    EXPECT_EQ(host.Write({0xE1, 0xF0, 0xF0}), (std::vector<bool>{true, true, true, false}));
    // A refused byte is the end for the slave: further bytes in the transfer are refused too.
    chip.Start();
    ASSERT_TRUE(chip.Address(0x30));
    EXPECT_FALSE(chip.Write(0x55));
    EXPECT_FALSE(chip.Write(0xB4));
    chip.Stop();
    EXPECT_EQ(device.resets, 0);
}

TEST_F(Ds2482Test, CommandWithoutItsParameterDoesNothing)
{
    EXPECT_EQ(host.Write({0xA5}), (std::vector<bool>{true, true}));
    EXPECT_TRUE(device.seen.empty());
    EXPECT_TRUE(host.WriteOk({0x96}));   // the next transfer starts with a fresh command
    EXPECT_EQ(device.seen.size(), 8u);
}

TEST_F(Ds2482Test, WriteConfigurationNeedsTheComplementInTheUpperNibble)
{
    EXPECT_TRUE(host.WriteOk({0xD2, 0xE1}));   // APU
    EXPECT_EQ(host.ReadOne(), 0x01);           // pointer moved to the configuration
    EXPECT_EQ(host.Write({0xD2, 0x01}), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(host.Write({0xD2, 0xF5}), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(chip.Config(), 0x01);
    EXPECT_TRUE(host.WriteOk({0xD2, 0x0F}));   // all four bits
    EXPECT_EQ(host.ReadOne(), 0x0F);
}

TEST_F(Ds2482Test, RstClearsOnlyWithWriteConfiguration)
{
    EXPECT_TRUE(host.OneWireReset());
    EXPECT_EQ(host.ReadOne() & Ds2482::kRST, Ds2482::kRST);
    host.WriteConfig(0x00);
    EXPECT_TRUE(host.WriteOk({0xE1, 0xF0}));
    EXPECT_EQ(host.ReadOne(), Ds2482::kLL | Ds2482::kPPD);
}

TEST_F(Ds2482Test, DeviceResetRestoresPowerOnState)
{
    host.WriteConfig(0x0B);
    EXPECT_TRUE(host.OneWireReset());
    EXPECT_TRUE(host.WriteOk({0xE1, 0xC3}));
    EXPECT_TRUE(host.WriteOk({0xF0}));
    EXPECT_EQ(chip.Pointer(), 0xF0);
    EXPECT_EQ(host.ReadOne(), 0x18);
    EXPECT_EQ(chip.Config(), 0x00);
}

TEST_F(Ds2482Test, StatusCanBeReadOverAndOverInOneTransfer)
{
    chip.Start();
    ASSERT_TRUE(chip.Address(0x31));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(chip.Read(), 0x18);
        chip.ReadAck(i < 4);
    }
    chip.Stop();
}

// ---- busy --------------------------------------------------------------------------------------

TEST(Ds2482Busy, BusyLastsTheConfiguredStatusReadsAndHidesResults)
{
    OneWireBus wire;
    ScriptedDevice device;
    wire.SetDevices({&device});
    wire.SetPowered(true);
    Ds2482 chip({3, false}, wire);
    BridgeHost host{chip};

    ASSERT_TRUE(host.WriteOk({0xB4}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(host.ReadOne(), 0x19) << i;   // busy; the presence not yet visible
    EXPECT_EQ(host.ReadOne(), 0x1A);            // idle, presence
    EXPECT_EQ(host.ReadOne(), 0x1A);
}

TEST(Ds2482Busy, CommandsWhileBusyAreRefusedButPointerAndDeviceResetAreTaken)
{
    OneWireBus wire;
    ScriptedDevice device;
    wire.SetDevices({&device});
    wire.SetPowered(true);
    Ds2482 chip({2, false}, wire);
    BridgeHost host{chip};

    ASSERT_TRUE(host.WriteOk({0xB4}));
    for (uint8_t code : {0xB4, 0x96}) {
        EXPECT_EQ(host.Write({code}), (std::vector<bool>{true, false}));
    }
    for (uint8_t code : {0xA5, 0x87, 0x78, 0xD2}) {
        EXPECT_EQ(host.Write({code, 0xF0}), (std::vector<bool>{true, false}));
    }
    EXPECT_EQ(device.resets, 1);
    EXPECT_TRUE(device.seen.empty());
    EXPECT_TRUE(host.WriteOk({0xE1, 0xC3}));   // pointer: taken while busy
    EXPECT_EQ(host.ReadOne(), 0x00);           // configuration reads do not count down
    EXPECT_TRUE(host.WriteOk({0xE1, 0xF0}));
    EXPECT_EQ(host.ReadOne(), 0x19);
    EXPECT_TRUE(host.WriteOk({0xF0}));         // Device Reset ends it
    EXPECT_EQ(host.ReadOne(), 0x18);
    EXPECT_TRUE(host.WriteOk({0xB4}));
}

TEST(Ds2482Busy, ZeroBusyReadsIsNeverBusy)
{
    OneWireBus wire;
    Ds2482 chip({0, false}, wire);
    BridgeHost host{chip};
    ASSERT_TRUE(host.WriteOk({0xB4}));
    EXPECT_EQ(host.ReadOne(), 0x18);
    EXPECT_TRUE(host.WriteOk({0xB4}));
}

TEST(Ds2482Busy, StuckBusyNeverEnds)
{
    OneWireBus wire;
    Ds2482 chip({1, true}, wire);
    BridgeHost host{chip};
    EXPECT_EQ(host.ReadOne(), 0x18);   // idle until the first 1-Wire command
    ASSERT_TRUE(host.WriteOk({0xB4}));
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(host.ReadOne() & Ds2482::k1WB, Ds2482::k1WB);
    EXPECT_EQ(host.Write({0xB4}), (std::vector<bool>{true, false}));
}

// ---- 1-Wire commands ---------------------------------------------------------------------------

TEST_F(Ds2482Test, OneWireResetReportsPresence)
{
    EXPECT_TRUE(host.OneWireReset());
    wire.SetDevices({});
    EXPECT_FALSE(host.OneWireReset());
    wire.SetDevices({&device});
    wire.SetPowered(false);
    EXPECT_FALSE(host.OneWireReset());
    EXPECT_EQ(wire.Resets(), 3u);
}

TEST_F(Ds2482Test, OneWireCommandsMoveThePointerToStatus)
{
    EXPECT_TRUE(host.WriteOk({0xE1, 0xC3}));
    EXPECT_TRUE(host.WriteOk({0xB4}));
    EXPECT_EQ(chip.Pointer(), 0xF0);
    host.WaitIdle();
    EXPECT_TRUE(host.WriteOk({0xE1, 0xE1}));
    EXPECT_TRUE(host.WriteOk({0x87, 0x80}));
    EXPECT_EQ(chip.Pointer(), 0xF0);
}

TEST_F(Ds2482Test, SingleBitUsesBit7AndReportsSbr)
{
    device.levels = {true, false, true};
    EXPECT_TRUE(host.WriteOk({0x87, 0x7F}));   // bit 7 clear: a write-0 slot
    EXPECT_EQ(host.WaitIdle() & Ds2482::kSBR, 0);
    EXPECT_TRUE(host.WriteOk({0x87, 0x80}));   // read slot; the device pulls low
    EXPECT_EQ(host.WaitIdle() & Ds2482::kSBR, 0);
    EXPECT_TRUE(host.WriteOk({0x87, 0xFF}));
    EXPECT_EQ(host.WaitIdle() & Ds2482::kSBR, Ds2482::kSBR);
    EXPECT_EQ(device.seen, (std::vector<bool>{false, true, true}));
}

TEST_F(Ds2482Test, WriteByteSendsLsbFirstAndReadByteFillsReadData)
{
    EXPECT_TRUE(host.WriteByte(0x4D));
    EXPECT_EQ(device.seen,
              (std::vector<bool>{true, false, true, true, false, false, true, false}));
    device.seen.clear();
    device.levels = {false, true, true, false, false, true, false, true};   // 0xA6
    EXPECT_EQ(host.ReadByte(), 0xA6);
    EXPECT_EQ(device.seen, std::vector<bool>(8, true));
}

TEST(Ds2482Data, ReadDataChangesOnlyWhenTheReadByteEnds)
{
    OneWireBus wire;
    ScriptedDevice device;
    wire.SetDevices({&device});
    wire.SetPowered(true);
    Ds2482 chip({2, false}, wire);
    BridgeHost host{chip};
    device.levels = std::vector<bool>(8, false);
    ASSERT_TRUE(host.WriteOk({0x96}));   // reads 0x00
    host.WaitIdle();
    ASSERT_TRUE(host.WriteOk({0x96}));   // now the device leaves all ones
    ASSERT_TRUE(host.WriteOk({0xE1, 0xE1}));
    EXPECT_EQ(host.ReadOne(), 0x00);   // busy: previous result
    ASSERT_TRUE(host.WriteOk({0xE1, 0xF0}));
    host.WaitIdle();
    ASSERT_TRUE(host.WriteOk({0xE1, 0xE1}));
    EXPECT_EQ(host.ReadOne(), 0xFF);
}

// Triplet: first two slots read (SBR, TSB), third writes the direction (DIR).
TEST_F(Ds2482Test, TripletAnswersEveryCase)
{
    struct Case {
        bool first, second, v, expectDir;
    } cases[] = {
        {false, false, false, false}, {false, false, true, true},   // discrepancy: V decides
        {false, true, true, false},   {true, false, false, true},   // every device agrees
        {true, true, false, true},                                   // nobody: writes 1
    };
    for (const Case& c : cases) {
        device.seen.clear();
        device.levels = {c.first, c.second};
        const uint8_t status = host.Triplet(c.v);
        EXPECT_EQ((status & Ds2482::kSBR) != 0, c.first);
        EXPECT_EQ((status & Ds2482::kTSB) != 0, c.second);
        EXPECT_EQ((status & Ds2482::kDIR) != 0, c.expectDir);
        EXPECT_EQ(device.seen, (std::vector<bool>{true, true, c.expectDir}));
    }
}

// ---- strong pull-up ----------------------------------------------------------------------------

TEST_F(Ds2482Test, StrongPullupIsOneShot)
{
    host.WriteConfig(Ds2482::kSPU | Ds2482::kAPU);
    EXPECT_TRUE(host.OneWireReset());   // not a command the pull-up follows: stays armed
    EXPECT_FALSE(device.pullup);
    EXPECT_TRUE(host.WriteByte(0x44));
    EXPECT_TRUE(device.pullup);
    EXPECT_TRUE(chip.StrongPullupActive());
    EXPECT_EQ(chip.Config(), 0x05);
    EXPECT_TRUE(host.OneWireReset());   // the next 1-Wire command ends it
    EXPECT_FALSE(device.pullup);
    EXPECT_EQ(chip.Config(), Ds2482::kAPU);
    EXPECT_TRUE(host.WriteByte(0x44));   // SPU is gone: no pull-up now
    EXPECT_FALSE(device.pullup);
}

TEST_F(Ds2482Test, StrongPullupEndsWithConfigWriteOrDeviceReset)
{
    host.WriteConfig(Ds2482::kSPU);
    EXPECT_TRUE(host.WriteOk({0x87, 0x80}));
    host.WaitIdle();
    EXPECT_TRUE(device.pullup);
    host.WriteConfig(0x00);
    EXPECT_FALSE(device.pullup);

    host.WriteConfig(Ds2482::kSPU);
    EXPECT_TRUE(host.WriteByte(0xBE));
    EXPECT_TRUE(device.pullup);
    EXPECT_TRUE(host.WriteOk({0xF0}));
    EXPECT_FALSE(device.pullup);
    EXPECT_EQ(chip.Config(), 0x00);
}

// ---- ROM search through the bridge -------------------------------------------------------------

struct SearchCase {
    const char* name;
    std::vector<uint64_t> roms;
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class Ds2482Search : public ::testing::TestWithParam<SearchCase> {};

TEST_P(Ds2482Search, FindsEveryDeviceInOrder)
{
    std::vector<std::unique_ptr<Ds2450>> devices;
    std::vector<OneWireDevice*> pointers;
    for (uint64_t rom : GetParam().roms) {
        devices.push_back(std::make_unique<Ds2450>(rom, false, Ds2450Options{}));
        pointers.push_back(devices.back().get());
    }
    OneWireBus wire;
    wire.SetDevices(pointers);
    wire.SetPowered(true);
    Ds2482 chip({2, false}, wire);
    BridgeHost host{chip};
    EXPECT_EQ(host.Search(), test::SearchOrder(GetParam().roms));
}

INSTANTIATE_TEST_SUITE_P(
    Roms, Ds2482Search,
    ::testing::Values(
        SearchCase{"One", {0x8A00000C1D2E0120}},
        SearchCase{"TwoDifferAtFirstBit", {0x5500000000000010, 0x5500000000000011}},
        SearchCase{"TwoDifferAtLastBit", {0x0000000C1D2E0120, 0x8000000C1D2E0120}},
        SearchCase{"TwoDifferInTheMiddle", {0x1200000100000020, 0x1200000000000020}},
        SearchCase{"FiveDifferInSeveralPlaces",
                   {0xFFFFFFFFFFFFFFFF, 0x0000000000000000, 0x8000000000000001,
                    0x00000F0000000010, 0x00000F0000000011}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Ds2482SearchEmpty, EmptyBusHasNoPresence)
{
    OneWireBus wire;
    wire.SetPowered(true);
    Ds2482 chip({}, wire);
    BridgeHost host{chip};
    EXPECT_TRUE(host.Search().empty());
}

}  // namespace
}  // namespace qbxsim
