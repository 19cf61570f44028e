// The board model without an adapter, on the fallback A3PE3000 BSDL: port i owns cells 3i (input),
// 3i + 1 (output), 3i + 2 (control); A12 is IO_11 (cells 33-35), B5 is IO_36 (108-110).
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "error_report.h"
#include "qbx_zor.h"
#include "sim_board.h"

namespace {

constexpr int kA12In = 33, kA12Out = 34, kA12Ctrl = 35;
constexpr int kB5In = 108;
constexpr int kLockOut = 1, kLockCtrl = 2;

using Image = std::array<uint8_t, BSR_BYTES>;

int Cell(const Image& image, int cell) { return GetCell(image.data(), cell); }
void SetCell(Image& image, int cell, int value) { ::SetCell(image.data(), cell, value); }

// A port of an FPGA's table, for tests that change its description.
_PINDESC& Port(CProAsic3& fpga, const char* name)
{
    for (_PINDESC& pin : fpga.m_Bsdl.pins)
        if (pin.name == name)
            return pin;
    throw std::runtime_error(std::string("no port ") + name);
}

// "<GG> SENSOR: 0-A12 000...0 </GG>": count vectors.
std::string Vectors(int count)
{
    return "<GG>\r\nSENSOR:\r\n0-A12 " + std::string(static_cast<size_t>(count), '0') + "\r\n</GG>\r\n";
}

class BoardModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Bsdl = qbxtest::WriteFallbackBsdl(m_Dir.Path());
        ASSERT_EQ(m_Board.LoadBsdl(m_Bsdl.c_str()), 1);
        // Every message reported from here on lands in this file as well as on the console.
        OpenErrorFile(m_Dir.File("error.txt").c_str());
        ASSERT_TRUE(g_ErrorFile.IsOpen());
        g_BoardFail = 0;
    }
    void TearDown() override { CloseErrorFile(); }

    // Loads a vector file of the given text into board; returns Load's result.
    int LoadVectors(const std::string& text, CQbx_zor* board = nullptr)
    {
        const std::string path = m_Dir.File("test.vec");
        qbxtest::WriteFile(path, text);
        return (board != nullptr ? *board : m_Board).Load(path.c_str());
    }

    std::string Reported() const { return qbxtest::ReadFile(m_Dir.File("error.txt")); }
    const std::vector<_VECTOR>& VectorsOf(int fpga) const { return m_Board.m_Fpga[static_cast<size_t>(fpga)].m_Vectors; }

    qbxtest::TempDir m_Dir;
    std::string m_Bsdl;
    CQbx_zor m_Board;
};

}  // namespace

TEST(BoardDescription, SupplyFormulasConverterRolesAndPowerFlags)
{
    const _BOARDDESC& board = kQbxBoard;
    EXPECT_NEAR(board.SupplyCurrent(0.44f), 1.0f, 1e-6);
    EXPECT_FLOAT_EQ(board.SupplyVin(1.65f), 3.3f);
    EXPECT_TRUE(board.VmemFault(1.49f));
    EXPECT_FALSE(board.VmemFault(1.5f));
    // A converter's role from channels A and B: B strictly inside (3.0, 3.7), then |A - B| < 0.1.
    EXPECT_EQ(board.ClassifyAdc(0.44f, 3.30f), ADC_SENSOR1);
    EXPECT_EQ(board.ClassifyAdc(3.25f, 3.30f), ADC_SENSOR2);
    for (float b : {3.0f, 3.7f, 2.9f, -1.0f})
        EXPECT_EQ(board.ClassifyAdc(b, b), ADC_NOT_ASSIGNED) << b;
    // Two bits of bus selection and the fault bit, packed and unpacked by the same code.
    EXPECT_EQ((std::vector<int>{_POWERFLAGS{1, false}.Pack(), _POWERFLAGS{1, true}.Pack(), _POWERFLAGS{7, true}.Pack()}),
              (std::vector<int>{1, 5, 7}));
    for (int flags : {0x00, 0x04, 0xFA, 0xFF}) {
        const _POWERFLAGS unpacked = _POWERFLAGS::Unpack(static_cast<uint8_t>(flags));
        EXPECT_EQ(unpacked.bus, static_cast<unsigned>(flags & 3));
        EXPECT_EQ(unpacked.vmemFault, (flags & 4) != 0);
    }
}

TEST_F(BoardModel, TheBsdlGoesIntoEveryFpgaAndTheChainRunsFromFpgaSevenToZero)
{
    for (const CProAsic3& fpga : m_Board.m_Fpga) {
        const _PINDESC* a12 = FindPin(fpga.m_Bsdl.pins, FIND_BY_PIN, "A12");
        ASSERT_NE(a12, nullptr);
        EXPECT_EQ(a12->outCell, kA12Out);
        EXPECT_EQ(fpga.m_Bsdl.driveMask, m_Board.m_Fpga[0].m_Bsdl.driveMask);
    }
    CQbx_zor other;
    EXPECT_EQ(other.LoadBsdl(m_Dir.File("missing.bsd").c_str()), 0);
    EXPECT_TRUE(other.m_Fpga[3].m_Bsdl.pins.empty());

    void* handle = nullptr;
    m_Board.m_Fpga[2].SelectRegister(PA3_REG_IDCODE, false);
    m_Board.AttachChain(handle, 1);
    EXPECT_EQ(m_Board.m_Chain.handle, &handle);
    const CJtagStream* device = m_Board.m_Chain.first;
    for (int k = 7; k >= 0; --k, device = device->m_Next) {
        ASSERT_EQ(device, &m_Board.m_Fpga[static_cast<size_t>(k)]);
        EXPECT_EQ(device->m_Instruction, CProAsic3::kBypass);
    }
    EXPECT_EQ(device, nullptr);
    EXPECT_FALSE(m_Board.ScanChain()) << "no channel";
}

TEST_F(BoardModel, ADrivenPinFillsVectorZeroAndItsGroupsVectors)
{
    // A recognisable safe image, so that every vector can be seen to start from it.
    Image safe;
    safe.fill(0xA5);
    for (CProAsic3& fpga : m_Board.m_Fpga)
        fpga.m_Bsdl.safeBits.assign(safe.begin(), safe.end());

    ASSERT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "0101"), 1);
    for (int k = 0; k < 8; ++k) {
        ASSERT_EQ(VectorsOf(k).size(), 4u);
        for (int j = 0; j < 4; ++j) {
            const _VECTOR& vector = VectorsOf(k)[static_cast<size_t>(j)];
            EXPECT_EQ(vector.name, "G");
            Image expected = safe;
            if (k == 0) {  // the other FPGAs only got the slots
                SetCell(expected, kA12Out, j % 2);
                SetCell(expected, kA12Ctrl, 1);  // the control cell enables the output
            }
            EXPECT_EQ(vector.image, expected) << "fpga " << k << " vector " << j;
        }
    }
    EXPECT_EQ(Cell(m_Board.m_Fpga[0].m_CellsUsed, kA12Out), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[0].m_CellsUsed, kA12Ctrl), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[1].m_CellsUsed, kA12Out), 0);
    EXPECT_EQ(g_BoardFail, 0);
}

TEST_F(BoardModel, GroupsGetTheirOwnVectorsWhereOtherPinsKeepTheirFirstValues)
{
    ASSERT_EQ(LoadVectors("<GG>\r\nDRIVE:\r\n0-A12 011\r\n</GG>\r\n"
                          "<HH>\r\nSENSOR:\r\n0-B5 10\r\n</HH>\r\n"
                          "<GG>\r\nSENSOR:\r\n2-B5 0111\r\n</GG>\r\n"),
              1);
    // G G G H G: the group's fourth value needed one more slot after H's.
    for (int k : {0, 2, 7}) {
        ASSERT_EQ(VectorsOf(k).size(), 5u);
        for (size_t j = 0; j < 5; ++j)
            EXPECT_EQ(VectorsOf(k)[j].name, j == 3 ? "HH" : "GG");
    }
    const int a12[5] = {0, 1, 1, 0, 0}, b5[5] = {1, 1, 1, 0, 1}, b5OnFpga2[5] = {0, 1, 1, 0, 1};
    for (size_t j = 0; j < 5; ++j) {
        EXPECT_EQ(Cell(VectorsOf(0)[j].image, kA12Out), a12[j]) << j;
        EXPECT_EQ(Cell(VectorsOf(0)[j].image, kA12Ctrl), 1) << j;
        EXPECT_EQ(Cell(VectorsOf(0)[j].image, kB5In), b5[j]) << j;
        EXPECT_EQ(Cell(VectorsOf(2)[j].image, kB5In), b5OnFpga2[j]) << j;
    }
    // Positions within a run of the same name, 1-based; 0 for a vector that does not exist.
    const int numbers[6] = {1, 2, 3, 1, 1, 0};
    for (int j = 0; j < 6; ++j)
        EXPECT_EQ(m_Board.NumberInGroup(j), numbers[j]) << j;
}

TEST_F(BoardModel, TwoLinesClaimingTheSameCellReportTheSecondOnce)
{
    ASSERT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "011"), 1);
    // The second line's first value is refused, its later values still overwrite its vectors, and
    // the line counts as accepted because its last value bound.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "100"), 1);
    EXPECT_EQ(Reported(), "Error pin A12 already used\r\n");
    for (size_t j = 0; j < 3; ++j)
        EXPECT_EQ(Cell(VectorsOf(0)[j].image, kA12Out), 0) << j;
    EXPECT_EQ(g_BoardFail, 1);
    // A one-value line that is refused is refused as a whole.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "1"), 0);
    // Input and output cells are claimed apart: the same pin may be driven and sensed.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 0, "A12", "011"), 1);
}

TEST_F(BoardModel, DollarNamesArePortsOtherNamesArePackagePins)
{
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 3, "$LOCKPLL", "01"), 1);
    EXPECT_EQ(Cell(VectorsOf(3)[1].image, kLockOut), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[3].m_CellsUsed, kLockCtrl), 1);
    // Without "$" the name is a package pin, and there is no ball "LOCKPLL": every value is reported.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 3, "LOCKPLL", "01"), 0);
    EXPECT_EQ(Reported(), "Error pin LOCKPLL not Found\r\nError pin LOCKPLL not Found\r\n");
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 3, "$A12", "0"), 0);  // a ball is no port name
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 4, "$IO_11", "1"), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[4].m_CellsUsed, kA12In), 1);
}

TEST_F(BoardModel, ALineForADeviceOutsideTheChainIsRefusedAndTheFileFailsToLoad)
{
    EXPECT_EQ(LoadVectors("<GG>\r\nDRIVE:\r\n0-A12 01\r\n8-B5 10\r\n12-B6 1\r\n</GG>\r\n"), 0);
    EXPECT_EQ(Reported(),
              "Error device 8 of pin B5 not in the chain (0 to 7)\r\n"
              "Error device 12 of pin B6 not in the chain (0 to 7)\r\n");
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, -1, "B7", "1"), 0);
    // The lines are still listed (the truth table shows them); no FPGA was touched by them.
    EXPECT_EQ(m_Board.VectorCount(), 2);
    EXPECT_EQ(m_Board.TruthTable(), "0-A12_O 01\r\n8- B5_? --\r\n12- B6_? --\r\n");
}

TEST_F(BoardModel, APinThatCannotHoldItsSectionsValuesIsRefusedOncePerLine)
{
    Port(m_Board.m_Fpga[2], "IO_11").outCell = -1;  // A12: input only
    Port(m_Board.m_Fpga[2], "IO_36").inCell = -1;   // B5: output only
    Port(m_Board.m_Fpga[0], "IO_11").outCell = BSR_CELLS;
    Port(m_Board.m_Fpga[0], "IO_12").ctrlCell = 5000;
    Port(m_Board.m_Fpga[0], "IO_13").inCell = 99999;
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 2, "A12", "0110"), 0);
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 2, "$IO_36", "1"), 0);
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "01"), 0);
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A13", "01"), 0);
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 0, "A14", "01"), 0);
    EXPECT_EQ(m_Board.BindPinValue("G", m_Board.m_Fpga[0], SECTION_DRIVE, "A12", 1, 0), 0);
    EXPECT_EQ(Reported(),
              "Error pin A12 has no output cell\r\n"
              "Error pin $IO_36 has no input cell\r\n"
              "Error pin A12 cell 2424 outside the boundary register\r\n"
              "Error pin A13 cell 5000 outside the boundary register\r\n"
              "Error pin A14 cell 99999 outside the boundary register\r\n"
              "Error pin A12 cell 2424 outside the boundary register\r\n");
    // The cells they have are fine; an output without a control cell is driven without one.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 2, "A12", "01"), 1);
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 2, "$IO_36", "1"), 1);
    Port(m_Board.m_Fpga[1], "IO_11").ctrlCell = -1;
    ASSERT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 1, "A12", "01"), 1);
    EXPECT_EQ(Cell(VectorsOf(1)[1].image, kA12Out), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[1].m_CellsUsed, kA12Ctrl), 0);
}

TEST_F(BoardModel, BitStringsAreBoundedByWhatTheModelHolds)
{
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", ""), 0);
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", std::string(CQbx_zor::kMaxVectors + 1, '1')), 0);
    EXPECT_EQ(Reported(), "Error pin A12 has 4097 values, more than 4096 vectors\r\n");
    EXPECT_EQ(m_Board.VectorCount(), 0);
    // Up to the bound in one group, then one more in a second group.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", std::string(CQbx_zor::kMaxVectors, '0')), 1);
    EXPECT_EQ(m_Board.AddPinVector("H", SECTION_SENSOR, 0, "B5", "01"), 0);
    EXPECT_EQ(m_Board.VectorCount(), CQbx_zor::kMaxVectors);
    EXPECT_EQ(VectorsOf(7).size(), static_cast<size_t>(CQbx_zor::kMaxVectors));
    EXPECT_NE(Reported().find("Error pin B5: more than 4096 vectors\r\n"), std::string::npos);
}

TEST_F(BoardModel, FindVectorSlotCreatesMissingSlotsInOrderFromWhatTheSafeImageHas)
{
    CProAsic3& fpga = m_Board.m_Fpga[6];
    fpga.m_Bsdl.safeBits.assign(10, 0xFF);  // the safe image of an 80-cell register
    // A position beyond the next free one still gets a slot of its own, after vector 0.
    EXPECT_EQ(m_Board.FindVectorSlot(fpga, "G", 2), 2);
    EXPECT_EQ(m_Board.FindVectorSlot(fpga, "G", 1), 1);
    EXPECT_EQ(m_Board.FindVectorSlot(fpga, "H", 1), 3);
    EXPECT_EQ(m_Board.FindVectorSlot(fpga, "H", 0), 0);  // position 0 is vector 0 whatever the group
    ASSERT_EQ(fpga.m_Vectors.size(), 4u);
    for (size_t p = 0; p < BSR_BYTES; ++p)
        ASSERT_EQ(fpga.m_Vectors[3].image[p], p < 10 ? 0xFF : 0x00) << "byte " << p;
}

TEST_F(BoardModel, TheTruthTableShowsEveryPinLineInEveryVectorBeforeLockPll)
{
    // IO_12 (A13) shares A12's control cell here, so its first value finds that cell claimed.
    Port(m_Board.m_Fpga[0], "IO_12").ctrlCell = kA12Ctrl;
    ASSERT_EQ(LoadVectors("<G1>\r\nDRIVE:\r\n0-A12 0101\r\n0-$LOCKPLL 0000\r\n0-A13 10\r\n"
                          "SENSOR:\r\n1-$IO_100 0110\r\n7-B3 1\r\n</G1>\r\n"),
              1);
    EXPECT_EQ(Reported(), "Error pin A13 already used\r\n");
    const std::string expected =
        "0-     A12_O 0101\r\n"
        "0-$LOCKPLL_O 0000\r\n"
        "0-     A13_? ----\r\n"    // claimed nothing
        "1- $IO_100_I 0110\r\n"
        "7-      B3_I 1111\r\n";  // a single value is the pin's value in every vector
    EXPECT_EQ(m_Board.TruthTable(), expected);
    const std::string path = m_Dir.File("truetable.txt");
    qbxtest::WriteFile(path, "an older and longer table\r\n" + expected);
    ASSERT_TRUE(m_Board.WriteTruthTable(path));
    EXPECT_EQ(qbxtest::ReadFile(path), expected);
    EXPECT_FALSE(m_Board.WriteTruthTable(m_Dir.File("no-such-folder/truetable.txt")));

    ASSERT_EQ(m_Board.WriteLockPllPattern(), 1);
    EXPECT_NE(m_Board.TruthTable().find("0-$LOCKPLL_O 0111\r\n"), std::string::npos);  // the images changed
}

TEST_F(BoardModel, FpgaKDrivesLockPllFromVectorKPlusOneTimesTheStep)
{
    const std::pair<int, int> countsAndSteps[] = {{8, 1}, {15, 1}, {20, 2}};
    for (const auto& [count, step] : countsAndSteps) {
        CQbx_zor board;
        ASSERT_EQ(board.LoadBsdl(m_Bsdl.c_str()), 1);
        ASSERT_EQ(LoadVectors(Vectors(count), &board), 1);
        ASSERT_EQ(board.WriteLockPllPattern(), 1);
        for (int k = 0; k < 8; ++k) {
            const std::vector<_VECTOR>& vectors = board.m_Fpga[static_cast<size_t>(k)].m_Vectors;
            ASSERT_EQ(vectors.size(), static_cast<size_t>(count));
            EXPECT_EQ(Cell(vectors[0].image, kLockCtrl), 0) << "vector 0 stays as the file made it";
            for (int j = 1; j < count; ++j) {
                const Image& image = vectors[static_cast<size_t>(j)].image;
                EXPECT_EQ(Cell(image, kLockOut), j >= (k + 1) * step ? 1 : 0) << count << " fpga " << k << " vector " << j;
                EXPECT_EQ(Cell(image, kLockCtrl), 1);
            }
        }
    }
    EXPECT_EQ(Reported(), "");
}

TEST_F(BoardModel, AMissingLockPllPortIsReportedForEveryFpgaAndVector)
{
    for (CProAsic3& fpga : m_Board.m_Fpga)
        Port(fpga, "LOCKPLL").name = "PLLOK";
    ASSERT_EQ(LoadVectors(Vectors(3)), 1);
    EXPECT_EQ(m_Board.WriteLockPllPattern(), 0);
    std::string expected;
    for (int i = 0; i < 8 * 2; ++i)
        expected += "Error pin $LOCKPLL not Found\r\n";
    EXPECT_EQ(Reported(), expected);
}

TEST_F(BoardModel, EveryWrongClaimedCellIsReportedWithGroupPositionAndAbsoluteIndex)
{
    ASSERT_EQ(LoadVectors("<NETS>\r\nDRIVE:\r\n0-A12 0101\r\nSENSOR:\r\n5-B5 0101\r\n</NETS>\r\n"), 1);
    for (int j = 0; j < 4; ++j) {
        for (CProAsic3& fpga : m_Board.m_Fpga)
            fpga.m_Bsr = fpga.m_Vectors[static_cast<size_t>(j)].image;
        EXPECT_TRUE(m_Board.CheckVector(j)) << "vector " << j;
    }
    EXPECT_EQ(Reported(), "");
    EXPECT_FALSE(m_Board.CheckVector(4));  // no such vector

    // FPGA 5 reads B5 inverted in vector 2; cells that are not claimed are not looked at.
    Image& read = m_Board.m_Fpga[5].m_Bsr;
    for (CProAsic3& fpga : m_Board.m_Fpga)
        fpga.m_Bsr = fpga.m_Vectors[2].image;
    SetCell(read, kB5In, 1);
    SetCell(read, 600, 1 - Cell(read, 600));
    SetCell(m_Board.m_Fpga[0].m_Bsr, kA12In, 1);  // A12 is claimed as an output only
    EXPECT_FALSE(m_Board.CheckVector(2));
    // A ball past row Z prints both letters of its row: row 27 is "AB".
    _PINDESC& b5 = Port(m_Board.m_Fpga[5], "IO_36");
    b5.row = 27;
    b5.number = 14;
    EXPECT_FALSE(m_Board.CheckVector(2));
    EXPECT_EQ(Reported(),
              "Vector 3 (abs=2) NETS ERROR fpga 5 pin:IO_36 (B5) read=1 expected=0\r\n"
              "Vector 3 (abs=2) NETS ERROR fpga 5 pin:IO_36 (AB14) read=1 expected=0\r\n");
    EXPECT_EQ(g_BoardFail, 1);
}

TEST_F(BoardModel, EveryFpgaAndBothEndsOfTheImageAreCompared)
{
    // Claimed cells at both ends of the register in every FPGA: LOCKPLL's input (cell 0, the first
    // bit of byte 0) and IO_807 (package pin Z8) sensed and driven (cells 2421 to 2423, the last bits
    // of byte 302).
    std::string text = "<EDGE>\r\nSENSOR:\r\n";
    for (int k = 0; k < 8; ++k)
        text += std::to_string(k) + "-$LOCKPLL 01\r\n" + std::to_string(k) + "-$IO_807 01\r\n";
    text += "DRIVE:\r\n";
    for (int k = 0; k < 8; ++k)
        text += std::to_string(k) + "-$IO_807 01\r\n";
    ASSERT_EQ(LoadVectors(text + "</EDGE>\r\n"), 1);
    const std::pair<int, const char*> cells[] = {{0, "LOCKPLL (A1)"}, {2421, "IO_807 (Z8)"}, {2423, "IO_807 (Z8)"}};
    for (int k = 0; k < 8; ++k) {
        for (const auto& [cell, pin] : cells) {
            for (CProAsic3& fpga : m_Board.m_Fpga)
                fpga.m_Bsr = fpga.m_Vectors[1].image;
            Image& read = m_Board.m_Fpga[static_cast<size_t>(k)].m_Bsr;
            SetCell(read, cell, 1 - Cell(read, cell));
            EXPECT_FALSE(m_Board.CheckVector(1)) << "fpga " << k << " cell " << cell;
            EXPECT_NE(Reported().find("EDGE ERROR fpga " + std::to_string(k) + " pin:" + pin), std::string::npos)
                << "fpga " << k << " cell " << cell;
            CloseErrorFile();
            OpenErrorFile(m_Dir.File("error.txt").c_str());
        }
    }
}

TEST_F(BoardModel, WithoutBothConvertersNothingIsSwitchedReadOrDriven)
{
    m_Board.m_Current = 1.5f;
    EXPECT_EQ(m_Board.ReadPower(), -1);
    EXPECT_EQ(m_Board.m_Current, 1.5f);  // values stay as they were
    EXPECT_FALSE(m_Board.SwitchJtagOn());
    EXPECT_EQ(m_Board.m_BusSelect, 0);
    // The run reports the switch and counts as passed (the report has failed the board); the first
    // vector is not applied.
    ASSERT_EQ(LoadVectors("<GG>\r\nDRIVE:\r\n0-A12 1\r\n</GG>\r\n"), 1);
    EXPECT_EQ(m_Board.RunVectors(), 1);
    EXPECT_EQ(m_Board.ApplyFirstVector(), 0);
    EXPECT_EQ(m_Board.m_Fpga[0].m_Bsr, Image{});
    EXPECT_EQ(Reported(), "JtagSwitch ERROR\r\nJtagSwitch ERROR\r\n");
    EXPECT_EQ(g_BoardFail, 1);
}
