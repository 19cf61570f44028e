#include "board.h"

#include <gtest/gtest.h>

#include "boardsim_test_support.h"

namespace qbxsim {
namespace {

using testing::Bits;
using testing::Value;
enum { kIn1 = testing::kIn1, kOut1 = testing::kOut1, kIo1 = testing::kIo1, kIo2 = testing::kIo2 };

// Boundary images of TINY (10 cells). Quiet: control cells 2 and 5 at 1 (OUT1, IO1 off), control
// cell 8 at 0 (IO2 off).
constexpr uint64_t kQuiet = (1u << 2) | (1u << 5);
constexpr uint64_t kOut1Drives1 = (1u << 1) | (1u << 5);  // OUT1 = 1, control cell 2 = 0: enabled
constexpr uint64_t kOut1Drives0 = 1u << 5;
constexpr uint64_t kIo1Drives1 = (1u << 2) | (1u << 4);   // IO1 = 1, control cell 5 = 0: enabled
constexpr uint64_t kIo1Drives0 = 1u << 2;
constexpr uint64_t kIo2Drives0 = kQuiet | (1u << 8);      // IO2 = 0, enabled (its disable value is 0)
constexpr size_t kLength = 10;

// A powered three-FPGA board of TINY devices driven through its chain.
class Bench {
public:
    explicit Bench(const _SIMBOARDSPEC& spec) : board(spec, testing::TinyLayout()), jtag(board.Chain())
    {
        board.SetPowered(true);
        jtag.Reset();
    }
    void IrScan(uint8_t code)
    {
        jtag.ToShiftIr();
        jtag.Shift(Bits(code | code << 8 | code << 16, 24), true);
        jtag.Update();
    }
    // One DR scan of the three boundary registers; images and results by FPGA index.
    std::vector<uint64_t> DrScan(const std::vector<uint64_t>& images)
    {
        std::vector<bool> in;
        for (size_t d = 3; d-- > 0;) {
            auto b = Bits(images[d], kLength);
            in.insert(in.end(), b.begin(), b.end());
        }
        jtag.ToShiftDr();
        std::vector<bool> out = jtag.Shift(in, true);
        jtag.Update();
        return {Value(out, 2 * kLength, kLength), Value(out, kLength, kLength), Value(out, 0, kLength)};
    }
    // SAMPLE/PRELOAD the images, EXTEST with them, and what a second EXTEST scan captures.
    std::vector<uint64_t> Extest(const std::vector<uint64_t>& images)
    {
        IrScan(CSimFpga::kSamplePreload);
        DrScan(images);
        IrScan(CSimFpga::kExtest);
        DrScan(images);
        return DrScan(images);
    }

    CSimBoard board;
    testing::ChainDriver jtag;
};

struct Capture {
    int fpga, cell, value;
};

struct NetCase {
    const char* what;
    int pull;
    std::vector<std::vector<_SIMPINREF>> nets;
    std::vector<_SIMPINREF> opens;
    std::vector<std::pair<_SIMPINREF, _SIMPINREF>> shorts;
    std::vector<std::pair<_SIMPINREF, int>> stucks;
    std::vector<uint64_t> images;
    std::vector<Capture> expected;
};

TEST(Board, NetsAndFaults)
{
    const std::vector<_SIMPINREF> net = {{0, kOut1}, {1, kIn1}};
    const NetCase cases[] = {
        {"a net carries a 1", 0, {net}, {}, {}, {}, {kOut1Drives1, kQuiet, kQuiet}, {{1, 0, 1}, {2, 0, 0}}},
        {"a net carries a 0", 1, {net}, {}, {}, {}, {kOut1Drives0, kQuiet, kQuiet}, {{1, 0, 0}, {2, 0, 1}}},
        {"undriven: pull 0", 0, {net}, {}, {}, {}, {kQuiet, kQuiet, kQuiet}, {{1, 0, 0}, {0, 3, 0}}},
        {"undriven: pull 1", 1, {net}, {}, {}, {}, {kQuiet, kQuiet, kQuiet}, {{1, 0, 1}, {0, 3, 1}}},
        {"drivers that disagree give 0", 1, {{{0, kIo1}, {1, kIo1}}}, {}, {}, {}, {kIo1Drives1, kIo1Drives0, kQuiet},
         {{0, 3, 0}, {1, 3, 0}}},
        {"drivers that agree", 0, {{{0, kIo1}, {1, kIo1}}}, {}, {}, {}, {kIo1Drives1, kIo1Drives1, kQuiet},
         {{0, 3, 1}, {1, 3, 1}}},
        {"a pin on no net reads itself", 1, {}, {}, {}, {}, {kQuiet, kQuiet, kIo2Drives0}, {{2, 6, 0}, {1, 6, 1}}},
        {"open: the pin leaves its net", 0, {{{0, kOut1}, {1, kIn1}, {2, kIn1}}}, {{1, kIn1}}, {}, {},
         {kOut1Drives1, kQuiet, kQuiet}, {{1, 0, 0}, {2, 0, 1}}},
        {"open: the first pin of a net", 0, {{{1, kIn1}, {0, kOut1}, {2, kIn1}}}, {{1, kIn1}}, {}, {},
         {kOut1Drives1, kQuiet, kQuiet}, {{1, 0, 0}, {2, 0, 1}}},
        {"open: never joined by a short", 0, {}, {{1, kIn1}}, {{{1, kIn1}, {0, kOut1}}}, {},
         {kOut1Drives1, kQuiet, kQuiet}, {{1, 0, 0}}},
        {"short: two nets become one", 0, {net, {{2, kIn1}, {2, kIo1}}}, {}, {{{1, kIn1}, {2, kIo1}}}, {},
         {kOut1Drives1, kQuiet, kQuiet}, {{2, 0, 1}, {2, 3, 1}}},
        {"short: its drivers disagree", 1, {net, {{2, kIn1}, {2, kIo1}}}, {}, {{{1, kIn1}, {2, kIo1}}}, {},
         {kOut1Drives1, kQuiet, kIo1Drives0}, {{1, 0, 0}, {2, 0, 0}}},
        {"stuck at 0 against a driven 1", 1, {net}, {}, {}, {{{1, kIn1}, 0}}, {kOut1Drives1, kQuiet, kQuiet},
         {{1, 0, 0}}},
        {"stuck at 1 against a driven 0", 0, {net}, {}, {}, {{{0, kOut1}, 1}}, {kOut1Drives0, kQuiet, kQuiet},
         {{1, 0, 1}}},
    };
    for (const NetCase& c : cases) {
        _SIMBOARDSPEC spec;
        spec.idcodes.assign(3, 0x3E74E1CF);
        spec.pull = c.pull;
        spec.nets = c.nets;
        spec.opens = c.opens;
        spec.shorts = c.shorts;
        spec.stucks = c.stucks;
        Bench bench(spec);
        const auto captured = bench.Extest(c.images);
        for (const Capture& e : c.expected)
            EXPECT_EQ((captured[e.fpga] >> e.cell) & 1, static_cast<uint64_t>(e.value))
                << c.what << ": FPGA " << e.fpga << " cell " << e.cell;
    }
}

TEST(Board, OnlyAPoweredBoardInExtestDrives)
{
    _SIMBOARDSPEC spec;
    spec.idcodes.assign(3, 0x3E74E1CF);
    spec.nets = {{{0, kOut1}, {1, kIn1}}};
    Bench bench(spec);
    bench.Extest({kOut1Drives0, kQuiet, kQuiet});
    EXPECT_FALSE(bench.board.Fpga(1).PinLevel(kIn1));
    bench.board.SetPowered(false);
    EXPECT_TRUE(bench.board.Fpga(1).PinLevel(kIn1)) << "unpowered: nothing drives, the pull wins";
    bench.board.SetPowered(true);
    EXPECT_EQ(bench.board.Fpga(0).Instruction(), CSimFpga::kIdcode) << "power-up resets the TAPs";
    EXPECT_TRUE(bench.board.Fpga(1).PinLevel(kIn1));
}

}  // namespace
}  // namespace qbxsim
