#include "fpga.h"

#include <set>

#include <gtest/gtest.h>

#include "boardsim_test_support.h"
#include "chain.h"
#include "tap.h"

namespace qbxsim {
namespace {

using testing::Bits;
using testing::ChainDriver;
using testing::Value;

// A walk that takes every one of the 32 transitions of the IEEE 1149.1 state diagram at least
// once, with the state expected after each TCK (so five TMS ones reset from every state too).
TEST(TapController, WalkThroughEveryTransition)
{
    const std::vector<std::pair<int, const char*>> walk = {
        {1, "Test-Logic-Reset"}, {0, "Run-Test/Idle"},  {0, "Run-Test/Idle"},  {1, "Select-DR-Scan"},
        {0, "Capture-DR"},       {0, "Shift-DR"},       {0, "Shift-DR"},       {1, "Exit1-DR"},
        {0, "Pause-DR"},         {0, "Pause-DR"},       {1, "Exit2-DR"},       {0, "Shift-DR"},
        {1, "Exit1-DR"},         {1, "Update-DR"},      {1, "Select-DR-Scan"}, {0, "Capture-DR"},
        {1, "Exit1-DR"},         {0, "Pause-DR"},       {1, "Exit2-DR"},       {1, "Update-DR"},
        {0, "Run-Test/Idle"},    {1, "Select-DR-Scan"}, {1, "Select-IR-Scan"}, {0, "Capture-IR"},
        {0, "Shift-IR"},         {0, "Shift-IR"},       {1, "Exit1-IR"},       {0, "Pause-IR"},
        {0, "Pause-IR"},         {1, "Exit2-IR"},       {0, "Shift-IR"},       {1, "Exit1-IR"},
        {1, "Update-IR"},        {1, "Select-DR-Scan"}, {1, "Select-IR-Scan"}, {0, "Capture-IR"},
        {1, "Exit1-IR"},         {0, "Pause-IR"},       {1, "Exit2-IR"},       {1, "Update-IR"},
        {0, "Run-Test/Idle"},    {1, "Select-DR-Scan"}, {1, "Select-IR-Scan"}, {1, "Test-Logic-Reset"},
    };
    CTapController tap;
    std::set<std::pair<int, int>> taken;
    for (size_t i = 0; i < walk.size(); ++i) {
        TapState before = tap.State();
        tap.Clock(walk[i].first != 0);
        taken.insert({static_cast<int>(before), walk[i].first});
        EXPECT_STREQ(TapStateName(tap.State()), walk[i].second) << "step " << i;
    }
    EXPECT_EQ(taken.size(), 32u) << "the walk must take every transition";
    tap.Clock(false);
    tap.PowerOn();
    EXPECT_EQ(tap.State(), TapState::TestLogicReset);
}

TEST(BoundaryLayout, APortNamingACellOutsideTheRegisterIsRefused)
{
    std::vector<_PINDESC> ports(1);
    ports[0].name = "P";
    ports[0].outCell = 12;
    std::string error;
    EXPECT_FALSE(CBoundaryLayout::Build(ports, 10, &error));
    EXPECT_NE(error.find("port P names cell 12"), std::string::npos) << error;
    EXPECT_FALSE(CBoundaryLayout::Build(ports, 0, &error));
}

class FpgaTest : public ::testing::Test {
protected:
    CSimChain Single(std::optional<uint32_t> idcode = 0x3E74E1CF)
    {
        std::vector<CSimFpga> devices;
        devices.emplace_back(testing::TinyLayout(), idcode);
        return CSimChain(std::move(devices));
    }
    // Loads an instruction and returns what the IR captured.
    static uint8_t LoadIr(ChainDriver& jtag, uint8_t code)
    {
        jtag.ToShiftIr();
        auto out = jtag.Shift(Bits(code, 8), true);
        jtag.Update();
        return static_cast<uint8_t>(Value(out));
    }
    // SAMPLE/PRELOAD of a boundary image; returns what the register captured.
    static uint64_t Preload(ChainDriver& jtag, uint64_t image)
    {
        LoadIr(jtag, CSimFpga::kSamplePreload);
        jtag.ToShiftDr();
        auto captured = jtag.Shift(Bits(image, 10), true);
        jtag.Update();
        return Value(captured);
    }
};

TEST_F(FpgaTest, InstructionsSelectTheirRegisters)
{
    CSimChain chain = Single();
    ChainDriver jtag(chain);
    jtag.Reset();
    EXPECT_EQ(chain.Devices()[0].Instruction(), CSimFpga::kIdcode) << "Test-Logic-Reset selects IDCODE";
    jtag.ToShiftDr();
    EXPECT_EQ(Value(jtag.Shift(std::vector<bool>(32), true)), 0x3E74E1CFu);
    jtag.Update();
    EXPECT_EQ(LoadIr(jtag, 0x01), 0x01) << "the IR captures 0b...01";
    EXPECT_EQ(chain.Devices()[0].Instruction(), 0x01);
    for (uint8_t code : {uint8_t{0xFF}, uint8_t{0x55}, uint8_t{0x0E}}) {
        LoadIr(jtag, code);
        jtag.ToShiftDr();
        // The one-bit bypass register captures 0, then passes TDI on one clock later.
        EXPECT_EQ(Value(jtag.Shift(Bits(0b1011, 4), true)), 0b0110u) << "instruction " << int(code);
        jtag.Update();
    }
    CSimChain noId = Single(std::nullopt);
    ChainDriver other(noId);
    other.Reset();
    EXPECT_EQ(noId.Devices()[0].Instruction(), CSimFpga::kBypass) << "no IDCODE register";
    other.ToShiftDr();
    EXPECT_EQ(Value(other.Shift(Bits(0b111, 3), true)), 0b110u);
}

TEST_F(FpgaTest, TdoChangesOnlyOnTheFallingEdge)
{
    CSimChain chain = Single(0x00000001);
    CSimFpga& fpga = chain.Devices()[0];
    ChainDriver jtag(chain);
    jtag.Reset();
    jtag.ToShiftDr();
    EXPECT_TRUE(fpga.Tdo());  // bit 0 of the IDCODE
    fpga.Rise(false, false);
    EXPECT_TRUE(fpga.Tdo()) << "must hold until the falling edge";
    fpga.Fall();
    EXPECT_FALSE(fpga.Tdo());
    jtag.Tms({1});  // Exit1-DR: TDO released
    EXPECT_TRUE(fpga.Tdo());
}

TEST_F(FpgaTest, SamplePreloadCapturesAndExtestDrives)
{
    CSimChain chain = Single();
    CSimFpga& fpga = chain.Devices()[0];
    fpga.SetPinLevel(testing::kIn1, true);
    fpga.SetPinLevel(testing::kIo1, false);
    fpga.SetPinLevel(testing::kIo2, true);
    ChainDriver jtag(chain);
    jtag.Reset();
    // OUT1 = 1 with control 0 (enabled, disable 1); IO1 = 1 with control 1 (disabled);
    // IO2 = 0 with control 1 (enabled: its disable value is 0).
    const uint64_t image = (1u << 1) | (1u << 4) | (1u << 5) | (1u << 8);
    EXPECT_EQ(Preload(jtag, image), 0b0001000001u) << "input cells show their pins, the rest 0";
    bool level = false;
    EXPECT_FALSE(fpga.Drives(testing::kOut1, &level)) << "SAMPLE/PRELOAD never drives";
    EXPECT_EQ(Preload(jtag, image), image | 0b0001000001u) << "output and control cells capture their update stage";
    LoadIr(jtag, CSimFpga::kExtest);
    ASSERT_TRUE(fpga.InExtest());
    EXPECT_TRUE(fpga.Drives(testing::kOut1, &level));
    EXPECT_TRUE(level);
    EXPECT_FALSE(fpga.Drives(testing::kIo1, &level)) << "its control cell holds the disable value";
    EXPECT_TRUE(fpga.Drives(testing::kIo2, &level));
    EXPECT_FALSE(level);
    EXPECT_FALSE(fpga.Drives(testing::kIn1, &level)) << "an input has no output cell";
    jtag.Reset();
    EXPECT_FALSE(fpga.Drives(testing::kOut1, &level)) << "Test-Logic-Reset ends EXTEST";
}

}  // namespace
}  // namespace qbxsim
