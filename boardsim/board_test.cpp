#include "board.h"

#include <gtest/gtest.h>

#include "boardsim_test_support.h"

namespace qbxsim {
namespace {

using testing::Bits;
using testing::ChainDriver;
using testing::Value;
enum { kIn1 = testing::kIn1, kOut1 = testing::kOut1, kIo1 = testing::kIo1, kIo2 = testing::kIo2 };

// Boundary images of TINY (10 cells).
// Nothing driven: control cells 2 and 5 at 1 (OUT1, IO1 off), control cell 8 at 0 (IO2 off).
constexpr uint64_t kQuiet = (1u << 2) | (1u << 5);
constexpr uint64_t kOut1Drives1 = (1u << 1) | (1u << 5);  // OUT1 = 1, control cell 2 = 0: enabled
constexpr uint64_t kOut1Drives0 = 1u << 5;                // OUT1 = 0, enabled
constexpr uint64_t kIo1Drives1 = (1u << 2) | (1u << 4);   // IO1 = 1, control cell 5 = 0: enabled
constexpr uint64_t kIo1Drives0 = 1u << 2;
constexpr uint64_t kIo2Drives0 = kQuiet | (1u << 8);      // IO2 = 0, enabled (its disable value is 0)
constexpr size_t kLength = 10;

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        m_Layout = testing::TinyLayout(m_Dir, &error);
        ASSERT_TRUE(m_Layout) << error;
        m_Spec.idcodes.assign(3, 0x3E74E1CF);
        m_Spec.pull = 0;
    }

    void Build()
    {
        m_Board = std::make_unique<CSimBoard>(m_Spec, m_Layout);
        m_Board->SetPowered(true);
        m_Jtag = std::make_unique<ChainDriver>(m_Board->Chain());
        m_Jtag->Reset();
    }

    void IrScan(uint8_t code)
    {
        std::vector<bool> in;
        for (size_t d = 0; d < m_Spec.idcodes.size(); ++d) {
            auto b = Bits(code, 8);
            in.insert(in.end(), b.begin(), b.end());
        }
        m_Jtag->ToShiftIr();
        m_Jtag->Shift(in, true);
        m_Jtag->Update();
    }

    // One DR scan of every boundary register; images and results by FPGA index.
    std::vector<uint64_t> DrScan(const std::vector<uint64_t>& images)
    {
        const size_t n = m_Spec.idcodes.size();
        std::vector<bool> in;
        for (size_t d = n; d-- > 0;) {
            auto b = Bits(images[d], kLength);
            in.insert(in.end(), b.begin(), b.end());
        }
        m_Jtag->ToShiftDr();
        std::vector<bool> out = m_Jtag->Shift(in, true);
        m_Jtag->Update();
        std::vector<uint64_t> captured(n);
        for (size_t d = 0; d < n; ++d)
            captured[d] = Value(out, (n - 1 - d) * kLength, kLength);
        return captured;
    }

    // Preloads with SAMPLE/PRELOAD, switches to EXTEST and returns what a second EXTEST scan
    // captures (the pins as the first EXTEST update left them).
    std::vector<uint64_t> Extest(const std::vector<uint64_t>& images)
    {
        IrScan(CSimFpga::kSamplePreload);
        DrScan(images);
        IrScan(CSimFpga::kExtest);
        DrScan(images);
        return DrScan(images);
    }

    static bool Cell(uint64_t image, int cell) { return (image >> cell) & 1; }

    testing::TempDir m_Dir;
    std::shared_ptr<const CBoundaryLayout> m_Layout;
    _SIMBOARDSPEC m_Spec;
    std::unique_ptr<CSimBoard> m_Board;
    std::unique_ptr<ChainDriver> m_Jtag;
};

TEST_F(BoardTest, ExtestMovesAValueAcrossANet)
{
    m_Spec.nets = {{{0, kOut1}, {1, kIn1}}};
    Build();
    auto captured = Extest({kOut1Drives1, kQuiet, kQuiet});
    EXPECT_TRUE(Cell(captured[1], 0));
    EXPECT_FALSE(Cell(captured[2], 0)) << "FPGA 2's IN1 is on no net: it reads the pull level";
    DrScan({kOut1Drives0, kQuiet, kQuiet});
    captured = DrScan({kOut1Drives0, kQuiet, kQuiet});
    EXPECT_FALSE(Cell(captured[1], 0));
}

TEST_F(BoardTest, UndrivenNetReadsThePullLevel)
{
    for (int pull : {0, 1}) {
        m_Spec.pull = pull;
        m_Spec.nets = {{{0, kOut1}, {1, kIn1}}};
        Build();
        auto captured = Extest({kQuiet, kQuiet, kQuiet});
        EXPECT_EQ(Cell(captured[1], 0), pull == 1) << "pull " << pull;
        EXPECT_EQ(Cell(captured[0], 3), pull == 1) << "an unconnected input, pull " << pull;
    }
}

TEST_F(BoardTest, DisagreeingDriversGiveZero)
{
    m_Spec.pull = 1;
    m_Spec.nets = {{{0, kIo1}, {1, kIo1}}};
    Build();
    auto captured = Extest({kIo1Drives1, kIo1Drives0, kQuiet});
    EXPECT_FALSE(Cell(captured[0], 3));
    EXPECT_FALSE(Cell(captured[1], 3));
    DrScan({kIo1Drives1, kIo1Drives1, kQuiet});
    captured = DrScan({kIo1Drives1, kIo1Drives1, kQuiet});
    EXPECT_TRUE(Cell(captured[0], 3));
    EXPECT_TRUE(Cell(captured[1], 3));
}

TEST_F(BoardTest, APinOnNoNetSeesOnlyItself)
{
    m_Spec.pull = 1;
    Build();
    auto captured = Extest({kQuiet, kQuiet, kIo2Drives0});
    EXPECT_FALSE(Cell(captured[2], 6)) << "IO2 reads back its own 0";
    EXPECT_TRUE(Cell(captured[1], 6));
}

TEST_F(BoardTest, OpenPinLeavesItsNet)
{
    m_Spec.nets = {{{0, kOut1}, {1, kIn1}, {2, kIn1}}};
    m_Spec.opens = {{1, kIn1}};
    Build();
    auto captured = Extest({kOut1Drives1, kQuiet, kQuiet});
    EXPECT_FALSE(Cell(captured[1], 0)) << "the open pin reads the pull level";
    EXPECT_TRUE(Cell(captured[2], 0)) << "the rest of the net still works";
}

TEST_F(BoardTest, ShortJoinsTwoNets)
{
    m_Spec.nets = {{{0, kOut1}, {1, kIn1}}, {{2, kIn1}, {2, kIo1}}};
    Build();
    EXPECT_FALSE(Cell(Extest({kOut1Drives1, kQuiet, kQuiet})[2], 0));
    m_Spec.shorts = {{{1, kIn1}, {2, kIo1}}};
    Build();
    auto captured = Extest({kOut1Drives1, kQuiet, kQuiet});
    EXPECT_TRUE(Cell(captured[2], 0)) << "FPGA 0's OUT1 now reaches FPGA 2's IN1";
    EXPECT_TRUE(Cell(captured[2], 3));
    // Two drivers on the shorted net that disagree give 0.
    DrScan({kOut1Drives1, kQuiet, kIo1Drives0});
    captured = DrScan({kOut1Drives1, kQuiet, kIo1Drives0});
    EXPECT_FALSE(Cell(captured[1], 0));
}

TEST_F(BoardTest, StuckNetReadsItsValueWhateverDrivesIt)
{
    m_Spec.nets = {{{0, kOut1}, {1, kIn1}}};
    m_Spec.stucks = {{{1, kIn1}, 0}};
    Build();
    EXPECT_FALSE(Cell(Extest({kOut1Drives1, kQuiet, kQuiet})[1], 0));

    m_Spec.stucks = {{{0, kOut1}, 1}};
    Build();
    auto captured = Extest({kOut1Drives0, kQuiet, kQuiet});
    EXPECT_TRUE(Cell(captured[1], 0)) << "stuck at 1 against a driven 0, on pull 0";
}

TEST_F(BoardTest, OnlyAPoweredBoardInExtestDrives)
{
    m_Spec.pull = 1;
    m_Spec.nets = {{{0, kOut1}, {1, kIn1}}};
    Build();
    Extest({kOut1Drives0, kQuiet, kQuiet});
    EXPECT_FALSE(m_Board->Fpga(1).PinLevel(kIn1));
    m_Board->SetPowered(false);
    EXPECT_TRUE(m_Board->Fpga(1).PinLevel(kIn1)) << "unpowered: nothing drives, the pull wins";
    m_Board->SetPowered(true);
    EXPECT_EQ(m_Board->Fpga(0).Instruction(), CSimFpga::kIdcode) << "power-up resets the TAPs";
    EXPECT_TRUE(m_Board->Fpga(1).PinLevel(kIn1));
}

TEST_F(BoardTest, ShorterChainReadsFewerIdcodes)
{
    m_Spec.idcodes = {0x11111111, 0x22222223};
    Build();
    m_Jtag->ToShiftDr();
    auto out = m_Jtag->Zeros(96, true);
    EXPECT_EQ(Value(out, 0, 32), 0x22222223u);
    EXPECT_EQ(Value(out, 32, 32), 0x11111111u);
    EXPECT_EQ(Value(out, 64, 32), 0u) << "then the zeros shifted in";
}

}  // namespace
}  // namespace qbxsim
