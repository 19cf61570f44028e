// The board model without an adapter: how vector files bind to boundary cells, the refusals, the
// truth table, the LOCKPLL pattern and the comparison of captured images.
//
// The BSDL file is the test-support A3PE3000 shape: port i (0 = LOCKPLL, then IO_1, IO_2, ...) sits
// on package pin <row i / 32><i % 32 + 1> and owns cells 3i (input), 3i + 1 (output) and 3i + 2
// (control, 0 disables). So A12 is IO_11 with cells 33, 34, 35 and B5 is IO_36 with 108, 109, 110.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "error_report.h"
#include "qbx_zor.h"
#include "sim_board.h"

namespace {

constexpr int kA12In = 33, kA12Out = 34, kA12Ctrl = 35;
constexpr int kB5In = 108;
constexpr int kLockOut = 1, kLockCtrl = 2;

int Cell(const _VECTOR& vector, int cell)
{
    return (vector.image[static_cast<size_t>(cell / 8)] >> (cell % 8)) & 1;
}

int Cell(const std::array<uint8_t, BSR_BYTES>& image, int cell)
{
    return (image[static_cast<size_t>(cell / 8)] >> (cell % 8)) & 1;
}

void SetCell(std::array<uint8_t, BSR_BYTES>& image, int cell, int value)
{
    const auto bit = static_cast<uint8_t>(1u << (cell % 8));
    if (value)
        image[static_cast<size_t>(cell / 8)] |= bit;
    else
        image[static_cast<size_t>(cell / 8)] &= static_cast<uint8_t>(~bit);
}

// A port of an FPGA's table, for tests that change its description.
_PINDESC& Port(CProAsic3& fpga, const char* name)
{
    for (_PINDESC& pin : fpga.m_Bsdl.pins)
        if (pin.name == name)
            return pin;
    throw std::runtime_error(std::string("no port ") + name);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class BoardModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Bsdl = qbxtest::WriteFallbackBsdl(m_Dir.Path());
        ASSERT_EQ(m_Board.LoadBsdl(m_Bsdl.c_str()), 1);
        // Every message reported from here on lands in this file as well as on the console.
        m_Errors = m_Dir.File("error.txt");
        OpenErrorFile(m_Errors.c_str());
        ASSERT_TRUE(g_ErrorFile.IsOpen());
        g_BoardFail = 0;
    }
    void TearDown() override { CloseErrorFile(); }

    // Loads a vector file made of the given text; returns Load's result.
    int LoadVectors(const std::string& text)
    {
        const std::string path = m_Dir.File("test.vec");
        std::ofstream(path, std::ios::binary) << text;
        return m_Board.Load(path.c_str());
    }

    std::string Reported() const { return ReadFile(m_Errors); }

    qbxtest::TempDir m_Dir;
    std::string m_Bsdl;
    std::string m_Errors;
    CQbx_zor m_Board;
};

// ---- loading the BSDL file --------------------------------------------------------------------

TEST_F(BoardModel, TheBsdlFileIsCopiedIntoAllEightFpgas)
{
    for (const CProAsic3& fpga : m_Board.m_Fpga) {
        ASSERT_GE(fpga.m_Bsdl.pins.size(), 808u);
        const _PINDESC* a12 = FindPin(fpga.m_Bsdl.pins, FIND_BY_PIN, "A12");
        ASSERT_NE(a12, nullptr);
        EXPECT_EQ(a12->name, "IO_11");
        EXPECT_EQ(a12->outCell, kA12Out);
        EXPECT_EQ(fpga.m_Bsdl.driveMask, m_Board.m_Fpga[0].m_Bsdl.driveMask);
    }
    CQbx_zor other;
    EXPECT_EQ(other.LoadBsdl(m_Dir.File("missing.bsd").c_str()), 0);
    EXPECT_TRUE(other.m_Fpga[3].m_Bsdl.pins.empty());
}

// ---- binding ----------------------------------------------------------------------------------

TEST_F(BoardModel, ADrivenPinFillsVectorZeroAndItsGroupsVectors)
{
    // Safe image with a recognisable pattern, so that vector 0 can be seen to start from it.
    for (CProAsic3& fpga : m_Board.m_Fpga)
        fpga.m_Bsdl.safeBits.assign(BSR_BYTES, 0xA5);
    const std::array<uint8_t, BSR_BYTES> safe = [] {
        std::array<uint8_t, BSR_BYTES> image;
        image.fill(0xA5);
        return image;
    }();

    ASSERT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "0101"), 1);

    for (const CProAsic3& fpga : m_Board.m_Fpga) {
        ASSERT_EQ(fpga.m_Vectors.size(), 4u);
        for (const _VECTOR& vector : fpga.m_Vectors)
            EXPECT_EQ(vector.name, "G");
    }
    const std::vector<_VECTOR>& vectors = m_Board.m_Fpga[0].m_Vectors;
    const int expected[4] = {0, 1, 0, 1};
    for (size_t j = 0; j < 4; ++j) {
        EXPECT_EQ(Cell(vectors[j], kA12Out), expected[j]) << "vector " << j;
        EXPECT_EQ(Cell(vectors[j], kA12Ctrl), 1) << "control cell enables the output in vector " << j;
        // Everything else is the safe image.
        std::array<uint8_t, BSR_BYTES> image = vectors[j].image;
        SetCell(image, kA12Out, Cell(safe, kA12Out));
        SetCell(image, kA12Ctrl, Cell(safe, kA12Ctrl));
        EXPECT_EQ(image, safe) << "vector " << j;
    }
    // The other FPGAs only got the slots: all four are their safe image.
    for (size_t j = 0; j < 4; ++j)
        EXPECT_EQ(m_Board.m_Fpga[5].m_Vectors[j].image, safe);
    EXPECT_EQ(Cell(m_Board.m_Fpga[0].m_CellsUsed, kA12Out), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[0].m_CellsUsed, kA12Ctrl), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[1].m_CellsUsed, kA12Out), 0);
    EXPECT_EQ(g_BoardFail, 0);
}

TEST_F(BoardModel, ASecondGroupAddsItsOwnVectorsAndKeepsFirstValuesElsewhere)
{
    ASSERT_EQ(LoadVectors("<GG>\r\nDRIVE:\r\n0-A12 0101\r\n</GG>\r\n"
                          "<HH>\r\nSENSOR:\r\n0-B5 10\r\n</HH>\r\n"),
              1);
    const std::vector<_VECTOR>& vectors = m_Board.m_Fpga[0].m_Vectors;
    ASSERT_EQ(vectors.size(), 5u);
    EXPECT_EQ(vectors[4].name, "HH");
    EXPECT_EQ(m_Board.m_Fpga[7].m_Vectors.size(), 5u);
    // In H's vector, A12 (bound only in G) keeps its first value; B5's first value 1 reached every
    // vector that existed, and its second value only H's.
    EXPECT_EQ(Cell(vectors[4], kA12Out), 0);
    EXPECT_EQ(Cell(vectors[4], kA12Ctrl), 1);
    for (size_t j = 0; j < 4; ++j)
        EXPECT_EQ(Cell(vectors[j], kB5In), 1) << "vector " << j;
    EXPECT_EQ(Cell(vectors[4], kB5In), 0);

    // Positions within the group, 1-based; vector 0 belongs to the group that made it.
    EXPECT_EQ(m_Board.NumberInGroup(0), 1);
    EXPECT_EQ(m_Board.NumberInGroup(3), 4);
    EXPECT_EQ(m_Board.NumberInGroup(4), 1);
    EXPECT_EQ(m_Board.NumberInGroup(5), 0);  // no such vector
}

TEST_F(BoardModel, AGroupWhoseNameComesBackReusesItsVectors)
{
    ASSERT_EQ(LoadVectors("<GG>\r\nDRIVE:\r\n0-A12 011\r\n</GG>\r\n"
                          "<HH>\r\nDRIVE:\r\n1-A12 01\r\n</HH>\r\n"
                          "<GG>\r\nSENSOR:\r\n2-B5 0111\r\n</GG>\r\n"),
              1);
    const std::vector<_VECTOR>& vectors = m_Board.m_Fpga[2].m_Vectors;
    ASSERT_EQ(vectors.size(), 5u);  // G G G H G: G's fourth value needed one more slot
    EXPECT_EQ(vectors[3].name, "HH");
    EXPECT_EQ(vectors[4].name, "GG");
    EXPECT_EQ(Cell(vectors[1], kB5In), 1);
    EXPECT_EQ(Cell(vectors[2], kB5In), 1);
    EXPECT_EQ(Cell(vectors[4], kB5In), 1);
    EXPECT_EQ(Cell(vectors[3], kB5In), 0);  // H's vector keeps B5's first value
    EXPECT_EQ(m_Board.NumberInGroup(4), 1);  // after H, a new run of G
}

TEST_F(BoardModel, TwoLinesClaimingTheSameCellReportTheSecondOnce)
{
    ASSERT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "011"), 1);
    // The second line's first value is refused, its later values still overwrite its vectors, and
    // the line counts as accepted because its last value bound.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "100"), 1);
    EXPECT_EQ(Reported(), "Error pin A12 already used\r\n");
    const std::vector<_VECTOR>& vectors = m_Board.m_Fpga[0].m_Vectors;
    EXPECT_EQ(Cell(vectors[0], kA12Out), 0);  // first value of the first line
    EXPECT_EQ(Cell(vectors[1], kA12Out), 0);
    EXPECT_EQ(Cell(vectors[2], kA12Out), 0);
    EXPECT_EQ(g_BoardFail, 1);

    // A one-value line that is refused is refused as a whole.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "1"), 0);
    // Input and output cells are claimed separately: the same pin may be driven and sensed.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 0, "A12", "011"), 1);
}

TEST_F(BoardModel, DollarNamesArePortsOtherNamesArePackagePins)
{
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 3, "$LOCKPLL", "01"), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[3].m_Vectors[1], kLockOut), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[3].m_CellsUsed, kLockCtrl), 1);

    // Without "$" the name is a package pin, and there is no ball "LOCKPLL"; every value of the
    // line is reported.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 3, "LOCKPLL", "01"), 0);
    EXPECT_EQ(Reported(), "Error pin LOCKPLL not Found\r\nError pin LOCKPLL not Found\r\n");
    // A package pin given as a port name is not found either.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 3, "$A12", "0"), 0);
    // A port by name: IO_11 is ball A12.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 4, "$IO_11", "1"), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[4].m_CellsUsed, kA12In), 1);
}

TEST_F(BoardModel, AFileWithoutPinLinesGivesNoVectors)
{
    EXPECT_EQ(LoadVectors("<GG>\r\nDRIVE:\r\n</GG>\r\nnothing here\r\n"), 1);
    EXPECT_EQ(m_Board.VectorCount(), 0);
    EXPECT_EQ(m_Board.TruthTable(), "");
    EXPECT_EQ(m_Board.WriteLockPllPattern(), 1);
    EXPECT_EQ(m_Board.NumberInGroup(0), 0);
    EXPECT_FALSE(m_Board.CheckVector(0));
    EXPECT_EQ(m_Board.DriveVector(0), CQbx_zor::VECTOR_WRONG);
    EXPECT_EQ(Reported(), "");
}

TEST_F(BoardModel, AFileCannotMakeMoreVectorsThanTheModelHolds)
{
    const std::string tooMany(CQbx_zor::kMaxVectors + 1, '1');
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", tooMany), 0);
    EXPECT_EQ(Reported(), "Error pin A12 has 4097 values, more than 4096 vectors\r\n");
    EXPECT_EQ(m_Board.VectorCount(), 0);

    // Up to the bound in one group, then one more in a second group.
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", std::string(CQbx_zor::kMaxVectors, '0')), 1);
    EXPECT_EQ(m_Board.VectorCount(), CQbx_zor::kMaxVectors);
    EXPECT_EQ(m_Board.AddPinVector("H", SECTION_SENSOR, 0, "B5", "01"), 0);
    EXPECT_EQ(m_Board.VectorCount(), CQbx_zor::kMaxVectors);
    EXPECT_EQ(m_Board.m_Fpga[7].m_Vectors.size(), static_cast<size_t>(CQbx_zor::kMaxVectors));
    EXPECT_NE(Reported().find("Error pin B5: more than 4096 vectors\r\n"), std::string::npos);
}

TEST_F(BoardModel, AnEmptyBitStringIsRefused)
{
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", ""), 0);
    EXPECT_EQ(m_Board.VectorCount(), 0);
}

// ---- refusals of lines the images cannot hold --------------------------------------------------

TEST_F(BoardModel, ADeviceOutsideTheChainIsRefusedAndTheFileFailsToLoad)
{
    EXPECT_EQ(LoadVectors("<GG>\r\nDRIVE:\r\n0-A12 01\r\n9-B5 10\r\n12-B6 1\r\n</GG>\r\n"), 0);
    EXPECT_EQ(Reported(),
              "Error device 9 of pin B5 not in the chain (0 to 7)\r\n"
              "Error device 12 of pin B6 not in the chain (0 to 7)\r\n");
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, -1, "B7", "1"), 0);
    // Both lines are still listed (the truth table shows them), and no FPGA was touched by them.
    ASSERT_EQ(m_Board.m_DeviceNumbers.size(), 3u);
    EXPECT_EQ(m_Board.m_DeviceNumbers[1], 9);
    EXPECT_EQ(m_Board.VectorCount(), 2);
    EXPECT_EQ(m_Board.TruthTable(), "0-A12_O 01\r\n9- B5_? --\r\n12- B6_? --\r\n");
}

TEST_F(BoardModel, APinWithoutTheCellItsSectionNeedsIsRefusedOncePerLine)
{
    _PINDESC& a12 = Port(m_Board.m_Fpga[2], "IO_11");
    a12.outCell = -1;  // an input-only pin
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 2, "A12", "0110"), 0);
    EXPECT_EQ(Reported(), "Error pin A12 has no output cell\r\n");
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 2, "A12", "01"), 1);  // its input cell is fine

    _PINDESC& b5 = Port(m_Board.m_Fpga[2], "IO_36");
    b5.inCell = -1;  // an output-only pin
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 2, "$IO_36", "1"), 0);
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 2, "$IO_36", "1"), 1);
    EXPECT_NE(Reported().find("Error pin $IO_36 has no input cell\r\n"), std::string::npos);
}

TEST_F(BoardModel, ACellOutsideTheRegisterIsRefusedInsteadOfWrittenPastTheImage)
{
    Port(m_Board.m_Fpga[0], "IO_11").outCell = BSR_CELLS;
    Port(m_Board.m_Fpga[0], "IO_12").ctrlCell = 5000;
    Port(m_Board.m_Fpga[0], "IO_13").inCell = 99999;
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "01"), 0);
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A13", "01"), 0);
    EXPECT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 0, "A14", "01"), 0);
    EXPECT_EQ(Reported(),
              "Error pin A12 cell 2424 outside the boundary register\r\n"
              "Error pin A13 cell 5000 outside the boundary register\r\n"
              "Error pin A14 cell 99999 outside the boundary register\r\n");
    // A direct call of the binding refuses it as well.
    EXPECT_EQ(m_Board.BindPinValue("G", m_Board.m_Fpga[0], SECTION_DRIVE, "A12", 1, 0), 0);
}

TEST_F(BoardModel, AnOutputWithoutControlCellIsDrivenWithoutOne)
{
    _PINDESC& a12 = Port(m_Board.m_Fpga[0], "IO_11");
    a12.ctrlCell = -1;
    ASSERT_EQ(m_Board.AddPinVector("G", SECTION_DRIVE, 0, "A12", "01"), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[0].m_Vectors[1], kA12Out), 1);
    EXPECT_EQ(Cell(m_Board.m_Fpga[0].m_CellsUsed, kA12Ctrl), 0);
}

TEST_F(BoardModel, AShortRegisterDescriptionFillsWhatItHas)
{
    for (CProAsic3& fpga : m_Board.m_Fpga)
        fpga.m_Bsdl.safeBits.assign(10, 0xFF);  // the safe image of an 80-cell register
    ASSERT_EQ(m_Board.FindVectorSlot(m_Board.m_Fpga[1], "G", 0), 0);
    const _VECTOR& first = m_Board.m_Fpga[1].m_Vectors[0];
    for (size_t p = 0; p < first.image.size(); ++p)
        EXPECT_EQ(first.image[p], p < 10 ? 0xFF : 0x00) << "byte " << p;
}

TEST_F(BoardModel, FindVectorSlotCreatesMissingSlotsInOrder)
{
    CProAsic3& fpga = m_Board.m_Fpga[6];
    // A position beyond the next free one (not produced by the reader) still gets a slot of its
    // own, and a vector 0 exists before any other.
    EXPECT_EQ(m_Board.FindVectorSlot(fpga, "G", 2), 2);
    EXPECT_EQ(fpga.m_Vectors.size(), 3u);
    EXPECT_EQ(m_Board.FindVectorSlot(fpga, "G", 1), 1);
    EXPECT_EQ(m_Board.FindVectorSlot(fpga, "H", 1), 3);
    EXPECT_EQ(m_Board.FindVectorSlot(fpga, "H", 0), 0);  // position 0 is vector 0 whatever the group
    EXPECT_EQ(fpga.m_Vectors.size(), 4u);
}

// ---- truth table ------------------------------------------------------------------------------

TEST_F(BoardModel, TheTruthTableListsEveryPinLineWithItsValuesInEveryVector)
{
    ASSERT_EQ(LoadVectors("<G1>\r\nDRIVE:\r\n0-A12 0101\r\nSENSOR:\r\n1-$IO_100 0110\r\n7-B3 1\r\n</G1>\r\n"), 1);
    const std::string expected =
        "0-    A12_O 0101\r\n"
        "1-$IO_100_I 0110\r\n"
        "7-     B3_I 1111\r\n";  // a single value is the pin's value in every vector
    EXPECT_EQ(m_Board.TruthTable(), expected);

    const std::string path = m_Dir.File("truetable.txt");
    ASSERT_TRUE(m_Board.WriteTruthTable(path));
    EXPECT_EQ(ReadFile(path), expected);
    // Written again, the file is replaced, not appended to.
    ASSERT_TRUE(m_Board.WriteTruthTable(path));
    EXPECT_EQ(ReadFile(path), expected);

    EXPECT_FALSE(m_Board.WriteTruthTable(m_Dir.File("no-such-folder/truetable.txt")));
    EXPECT_FALSE(m_Board.WriteTruthTable(m_Errors + "/truetable.txt"));  // a file is not a folder
}

TEST_F(BoardModel, TheTruthTableShowsTheStateBeforeLockPll)
{
    ASSERT_EQ(LoadVectors("<GG>\r\nDRIVE:\r\n0-$LOCKPLL 000\r\n</GG>\r\n"), 1);
    const std::string before = m_Board.TruthTable();
    EXPECT_EQ(before, "0-$LOCKPLL_O 000\r\n");
    ASSERT_EQ(m_Board.WriteLockPllPattern(), 1);
    EXPECT_EQ(m_Board.TruthTable(), "0-$LOCKPLL_O 011\r\n");  // the pattern does reach the images
}

TEST_F(BoardModel, ALineThatClaimedNoCellShowsAsUnknownInTheTruthTable)
{
    // IO_12 (A13) shares A12's control cell here, so its first value finds that cell claimed.
    Port(m_Board.m_Fpga[0], "IO_12").ctrlCell = kA12Ctrl;
    ASSERT_EQ(LoadVectors("<GG>\r\nDRIVE:\r\n0-A12 01\r\n0-A13 10\r\n</GG>\r\n"), 1);
    EXPECT_EQ(Reported(), "Error pin A13 already used\r\n");
    EXPECT_EQ(m_Board.TruthTable(), "0-A12_O 01\r\n0-A13_? --\r\n");
}

// ---- LOCKPLL pattern --------------------------------------------------------------------------

std::string Vectors(int count)
{
    return "<GG>\r\nSENSOR:\r\n0-A12 " + std::string(static_cast<size_t>(count), '0') + "\r\n</GG>\r\n";
}

TEST_F(BoardModel, WithEightVectorsFpgaKLocksFromVectorKPlusOne)
{
    ASSERT_EQ(LoadVectors(Vectors(8)), 1);
    ASSERT_EQ(m_Board.WriteLockPllPattern(), 1);
    for (int k = 0; k < 8; ++k) {
        const std::vector<_VECTOR>& vectors = m_Board.m_Fpga[static_cast<size_t>(k)].m_Vectors;
        ASSERT_EQ(vectors.size(), 8u);
        EXPECT_EQ(Cell(vectors[0], kLockCtrl), 0) << "vector 0 stays as the file made it";
        for (int j = 1; j < 8; ++j) {
            EXPECT_EQ(Cell(vectors[static_cast<size_t>(j)], kLockOut), j >= k + 1 ? 1 : 0) << "fpga " << k << " vector " << j;
            EXPECT_EQ(Cell(vectors[static_cast<size_t>(j)], kLockCtrl), 1);
        }
    }
}

TEST_F(BoardModel, WithMoreVectorsTheLockPllStepGrows)
{
    ASSERT_EQ(LoadVectors(Vectors(20)), 1);  // step 20 / 8 = 2
    ASSERT_EQ(m_Board.WriteLockPllPattern(), 1);
    for (int k = 0; k < 8; ++k) {
        for (int j = 1; j < 20; ++j)
            EXPECT_EQ(Cell(m_Board.m_Fpga[static_cast<size_t>(k)].m_Vectors[static_cast<size_t>(j)], kLockOut),
                      j >= 2 * (k + 1) ? 1 : 0)
                << "fpga " << k << " vector " << j;
    }
}

TEST_F(BoardModel, WithFifteenVectorsTheStepIsStillOneAndAllEightEndLocked)
{
    ASSERT_EQ(LoadVectors(Vectors(15)), 1);  // 15 / 8 = 1
    ASSERT_EQ(m_Board.WriteLockPllPattern(), 1);
    for (int k = 0; k < 8; ++k) {
        for (int j = 1; j < 15; ++j)
            EXPECT_EQ(Cell(m_Board.m_Fpga[static_cast<size_t>(k)].m_Vectors[static_cast<size_t>(j)], kLockOut),
                      j >= k + 1 ? 1 : 0)
                << "fpga " << k << " vector " << j;
    }
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
    EXPECT_EQ(g_BoardFail, 1);
}

// ---- comparison -------------------------------------------------------------------------------

TEST_F(BoardModel, EveryWrongClaimedCellIsReportedWithGroupPositionAndAbsoluteIndex)
{
    ASSERT_EQ(LoadVectors("<NETS>\r\nDRIVE:\r\n0-A12 0101\r\nSENSOR:\r\n5-B5 0101\r\n</NETS>\r\n"), 1);
    for (int j = 0; j < 4; ++j) {
        for (CProAsic3& fpga : m_Board.m_Fpga)
            fpga.m_Bsr = fpga.m_Vectors[static_cast<size_t>(j)].image;
        EXPECT_TRUE(m_Board.CheckVector(j)) << "vector " << j;
    }
    EXPECT_EQ(Reported(), "");

    // FPGA 5 reads B5 inverted in vector 2; an unclaimed cell that differs is not looked at.
    for (CProAsic3& fpga : m_Board.m_Fpga)
        fpga.m_Bsr = fpga.m_Vectors[2].image;
    SetCell(m_Board.m_Fpga[5].m_Bsr, kB5In, 1);
    SetCell(m_Board.m_Fpga[5].m_Bsr, 600, 1 - Cell(m_Board.m_Fpga[5].m_Bsr, 600));
    SetCell(m_Board.m_Fpga[0].m_Bsr, kA12In, 1);  // A12 is claimed as an output only
    EXPECT_FALSE(m_Board.CheckVector(2));
    EXPECT_EQ(Reported(), "Vector 3 (abs=2) NETS ERROR fpga 5 pin:IO_36 (B5) read=1 expected=0\r\n");
    EXPECT_EQ(g_BoardFail, 1);
}

TEST_F(BoardModel, ThePackagePinOfABallPastRowZIsPrintedWithBothLetters)
{
    // Row 27 is "AB": a single letter 'A' + 27 would print '\'.
    _PINDESC& pin = Port(m_Board.m_Fpga[1], "IO_36");
    pin.row = 27;
    pin.number = 14;
    ASSERT_EQ(m_Board.AddPinVector("G", SECTION_SENSOR, 1, "$IO_36", "1"), 1);
    for (CProAsic3& fpga : m_Board.m_Fpga)
        fpga.m_Bsr = fpga.m_Vectors[0].image;
    SetCell(m_Board.m_Fpga[1].m_Bsr, kB5In, 0);
    EXPECT_FALSE(m_Board.CheckVector(0));
    EXPECT_EQ(Reported(), "Vector 1 (abs=0) G ERROR fpga 1 pin:IO_36 (AB14) read=0 expected=1\r\n");
}

// ---- supply values without converters ----------------------------------------------------------

TEST_F(BoardModel, WithoutBothConvertersNothingIsSwitchedOrRead)
{
    m_Board.m_Current = 1.5f;
    EXPECT_EQ(m_Board.ReadPower(), -1);
    EXPECT_EQ(m_Board.m_Current, 1.5f);  // values stay as they were
    EXPECT_FALSE(m_Board.SwitchJtagOn());
    EXPECT_EQ(m_Board.m_BusSelect, 0);
    // The run reports the switch and counts as passed; the report has failed the board.
    ASSERT_EQ(LoadVectors(Vectors(2)), 1);
    EXPECT_EQ(m_Board.RunVectors(), 1);
    EXPECT_EQ(m_Board.ApplyFirstVector(), 0);
    EXPECT_EQ(Reported(), "JtagSwitch ERROR\r\nJtagSwitch ERROR\r\n");
    EXPECT_EQ(g_BoardFail, 1);
}

}  // namespace
