// The BSDL reader on small texts written for each rule, and on files.
#include "bsdl.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "qbx-bsdl-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
    std::string Write(const std::string& name, const std::string& content) const
    {
        fs::path file = path / name;
        std::ofstream(file, std::ios::binary) << content;
        return file.string();
    }
};

_BSDLDATA Read(const std::string& text)
{
    _BSDLDATA data;
    ReadBsdlText(text.c_str(), data);
    return data;
}

bool Bit(const std::vector<uint8_t>& image, int cell)
{
    return (image.at(static_cast<size_t>(cell) / 8) >> (cell % 8)) & 1;
}

int PopCount(const std::vector<uint8_t>& image)
{
    int n = 0;
    for (uint8_t b : image)
        n += __builtin_popcount(b);
    return n;
}

const _PINDESC& Pin(const _BSDLDATA& data, const char* name)
{
    const _PINDESC* pin = FindPin(data.pins, FIND_BY_NAME, name);
    if (pin == nullptr)
        throw std::runtime_error(std::string("no port ") + name);
    return *pin;
}

// A register section in the station's layout around the given cells.
std::string Register(const std::string& cells, int length = 16)
{
    return "attribute BOUNDARY_LENGTH of X : entity is " + std::to_string(length) +
           ";\nattribute BOUNDARY_REGISTER of X : entity is " + cells + ";\n";
}

const char* const kPorts = "port(IO_A1 : inout bit; P : out bit; Q : in bit; TCK : in bit);\n";

}  // namespace

// ---- port list --------------------------------------------------------------------------------

TEST(BsdlPorts, PortPatternNeedsParenthesisRightAfterPort)
{
    _BSDLDATA blank = Read("entity X is\n  port (A : in bit);\nend X;");
    EXPECT_TRUE(blank.pins.empty());
    EXPECT_TRUE(blank.missingSections & BSDL_SECTION_PORTS);

    _BSDLDATA upper = Read("entity X is\n  PORT(A : in bit);\nend X;");
    ASSERT_EQ(upper.pins.size(), 1u);
    EXPECT_EQ(upper.pins[0].name, "A");
    EXPECT_FALSE(upper.missingSections & BSDL_SECTION_PORTS);
}

TEST(BsdlPorts, DirectionsAndTheEndOfTheList)
{
    _BSDLDATA d = Read(
        "port(TCK : in bit; TDI : in bit; TDO : out bit; IO_A1 : inout bit; VCC : linkage bit);"
        " AFTER : in bit;");
    ASSERT_EQ(d.pins.size(), 4u);
    const char* names[] = {"TCK", "TDI", "TDO", "IO_A1"};
    int dirs[] = {0, 0, 1, 2};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(d.pins[i].name, names[i]);
        EXPECT_EQ(d.pins[i].dir, dirs[i]);
        EXPECT_EQ(d.pins[i].row, -1);
        EXPECT_EQ(d.pins[i].number, -1);
        EXPECT_EQ(d.pins[i].inCell, -1);
        EXPECT_EQ(d.pins[i].outCell, -1);
        EXPECT_EQ(d.pins[i].ctrlCell, -1);
        EXPECT_EQ(d.pins[i].safe, -1);
        EXPECT_EQ(d.pins[i].disable, -1);
    }
    EXPECT_EQ(FindPin(d.pins, FIND_BY_NAME, "VCC"), nullptr);
    EXPECT_EQ(FindPin(d.pins, FIND_BY_NAME, "AFTER"), nullptr);  // after the closing ")"
}

TEST(BsdlPorts, LastPortWithoutSemicolonAndMultiLineLists)
{
    _BSDLDATA d = Read("port(TCK : in bit; TDO : out bit)");
    ASSERT_EQ(d.pins.size(), 2u);
    EXPECT_EQ(d.pins[1].name, "TDO");
    EXPECT_EQ(d.pins[1].dir, 1);

    _BSDLDATA crlf = Read("port(\r\n  A : IN bit;\r\n  B : Out bit;\r\n  C : INOUT bit;\r\n  D : buffer bit\r\n);");
    ASSERT_EQ(crlf.pins.size(), 3u);
    EXPECT_EQ(crlf.pins[0].name, "A");
    EXPECT_EQ(crlf.pins[0].dir, 0);
    EXPECT_EQ(crlf.pins[1].dir, 1);
    EXPECT_EQ(crlf.pins[2].dir, 2);

    // A TAB does not end a token.
    _BSDLDATA tab = Read("port(A\t : in bit; B : out bit)");
    ASSERT_EQ(tab.pins.size(), 2u);
    EXPECT_EQ(tab.pins[0].name, "A\t");
    EXPECT_EQ(tab.pins[1].name, "B");
}

TEST(BsdlPorts, VectorPortIsOneRecordAndItsParenthesesDoNotCloseTheList)
{
    _BSDLDATA d = Read("port(D : inout bit_vector(0 to 3); E : in bit; V : linkage bit_vector (0 to 2); F : out bit);");
    ASSERT_EQ(d.pins.size(), 3u);
    EXPECT_EQ(d.pins[0].name, "D");
    EXPECT_EQ(d.pins[0].dir, 2);
    EXPECT_EQ(d.pins[1].name, "E");
    EXPECT_EQ(d.pins[2].name, "F");
}

TEST(BsdlPorts, NameWrittenAgainstItsColonSwallowsTheColon)
{
    // "TCK:" is one token, so the ":" is not seen; the name scan goes on to the next ":" alone.
    _BSDLDATA d = Read("port(TCK: in bit; TDI : out bit);");
    ASSERT_EQ(d.pins.size(), 1u);
    EXPECT_EQ(d.pins[0].name, "TCK:");
    EXPECT_EQ(d.pins[0].dir, 1);
}

// ---- pin map ----------------------------------------------------------------------------------

TEST(BsdlPinMap, RowLettersAndNumbers)
{
    std::string text = std::string(kPorts) + "constant PKG : PIN_MAP_STRING := \"TCK:A1, IO_A1 : B12, \" &\n \"P:17 \";";
    _BSDLDATA d = Read(text);
    EXPECT_FALSE(d.missingSections & BSDL_SECTION_PIN_MAP);
    EXPECT_EQ(Pin(d, "TCK").row, 0);
    EXPECT_EQ(Pin(d, "TCK").number, 1);
    EXPECT_EQ(Pin(d, "IO_A1").row, 1);
    EXPECT_EQ(Pin(d, "IO_A1").number, 12);
    EXPECT_EQ(Pin(d, "P").row, -1);
    EXPECT_EQ(Pin(d, "P").number, 17);

    // Without a separator after the last pin the entry is not finished.
    _BSDLDATA cut = Read(std::string(kPorts) + "PIN_MAP_STRING:=\"TCK:A1, P:17\";");
    EXPECT_EQ(Pin(cut, "TCK").number, 1);
    EXPECT_EQ(Pin(cut, "P").number, -1);
}

TEST(BsdlPinMap, TwoLetterRows)
{
    std::string text = std::string(kPorts) +
                       "PIN_MAP_STRING := \"IO_A1:AA12, P:AB3, Q:AK30, TCK:BA1, \";";
    _BSDLDATA d = Read(text);
    EXPECT_EQ(Pin(d, "IO_A1").row, 26);
    EXPECT_EQ(Pin(d, "IO_A1").number, 12);
    EXPECT_EQ(Pin(d, "P").row, 27);
    EXPECT_EQ(Pin(d, "P").number, 3);
    EXPECT_EQ(Pin(d, "Q").row, 36);
    EXPECT_EQ(Pin(d, "Q").number, 30);
    EXPECT_EQ(Pin(d, "TCK").row, 52);
    EXPECT_EQ(PinLabel(Pin(d, "IO_A1")), "AA12");
    EXPECT_EQ(PinLabel(Pin(d, "TCK")), "BA1");
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "AA12"), &Pin(d, "IO_A1"));
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "AK30"), &Pin(d, "Q"));
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "A12"), nullptr);  // not row A
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "B3"), nullptr);
}

TEST(BsdlPinMap, UnusualPins)
{
    std::string text = std::string(kPorts) +
                       "PIN_MAP_STRING := \"IO_A1:(A1, A2), P:LOCKPLL, Q:a7, TCK:B2, TCK:17, NOPORT:C3, \";";
    _BSDLDATA d = Read(text);
    // A pin list leaves the port without a package pin.
    EXPECT_EQ(Pin(d, "IO_A1").row, -1);
    EXPECT_EQ(Pin(d, "IO_A1").number, -1);
    // A letter run too long to be a row gives no package pin.
    EXPECT_EQ(Pin(d, "P").row, -1);
    EXPECT_EQ(Pin(d, "P").number, -1);
    // Any other first character is a row by its code minus "A".
    EXPECT_EQ(Pin(d, "Q").row, 'a' - 'A');
    EXPECT_EQ(Pin(d, "Q").number, 7);
    // A plain number keeps the row an earlier entry set.
    EXPECT_EQ(Pin(d, "TCK").row, 1);
    EXPECT_EQ(Pin(d, "TCK").number, 17);
    EXPECT_EQ(d.pins.size(), 4u);  // NOPORT was not added
}

TEST(BsdlPinMap, QuotedStringsUpToTheFirstSemicolonOutsideQuotes)
{
    std::string text = std::string(kPorts) +
                       "PIN_MAP_STRING :=\n  \"IO_A1 : C4, \" &  -- comment\n  \"\" & \"P : D5, \"; \"Q : E6, \"";
    _BSDLDATA d = Read(text);
    EXPECT_EQ(Pin(d, "IO_A1").row, 2);
    EXPECT_EQ(Pin(d, "P").row, 3);
    EXPECT_EQ(Pin(d, "P").number, 5);
    EXPECT_EQ(Pin(d, "Q").number, -1);
}

// ---- boundary register ------------------------------------------------------------------------

TEST(BsdlRegister, OutputCell)
{
    // Cell 5 first gets safe value 1 from an internal cell, then the output cell clears it.
    _BSDLDATA d = Read(std::string(kPorts) +
                       Register("\"5 (BC_1, *, internal, 1), 5 (BC_1, IO_A1, output3, X, 6, 1, Z),\""));
    const _PINDESC& p = Pin(d, "IO_A1");
    EXPECT_EQ(p.outCell, 5);
    EXPECT_EQ(p.ctrlCell, 6);
    EXPECT_EQ(p.safe, -1);
    EXPECT_EQ(p.disable, 1);
    EXPECT_EQ(p.inCell, -1);
    EXPECT_TRUE(Bit(d.driveMask, 5));
    EXPECT_TRUE(Bit(d.driveMask, 6));
    EXPECT_EQ(PopCount(d.driveMask), 2);
    EXPECT_FALSE(Bit(d.safeBits, 5));
    EXPECT_EQ(PopCount(d.safeBits), 0);
}

TEST(BsdlRegister, InputCellClearsItsDriveBit)
{
    _BSDLDATA d = Read(std::string(kPorts) +
                       Register("\"7 (BC_1, IO_A1, control, 0), \" & \"7 (BC_1, IO_A1, input, X),\""));
    EXPECT_EQ(Pin(d, "IO_A1").inCell, 7);
    EXPECT_FALSE(Bit(d.driveMask, 7));
    EXPECT_EQ(PopCount(d.driveMask), 0);
}

TEST(BsdlRegister, ControlCells)
{
    _BSDLDATA star = Read(std::string(kPorts) + Register("\"6 (BC_1, *, control, 1),\""));
    EXPECT_TRUE(Bit(star.safeBits, 6));
    EXPECT_EQ(PopCount(star.safeBits), 1);
    EXPECT_EQ(PopCount(star.driveMask), 0);
    for (const _PINDESC& p : star.pins) {
        EXPECT_EQ(p.outCell, -1);
        EXPECT_EQ(p.ctrlCell, -1);
    }
    // A control cell that names a port is driven.
    _BSDLDATA named = Read(std::string(kPorts) + Register("\"9 (BC_1, P, CONTROL, 0)\""));
    EXPECT_TRUE(Bit(named.driveMask, 9));
    EXPECT_EQ(Pin(named, "P").outCell, -1);
}

TEST(BsdlRegister, FunctionsAndValuesIgnoreLetterCase)
{
    _BSDLDATA d = Read(std::string(kPorts) +
                       Register("\"1 (BC_1, P, OUTPUT2, 1, 2, x, Z), 3 (BC_1, Q, Input, x), "
                                "4 (BC_1, IO_A1, output, 0, 5, 0, Z)\""));
    EXPECT_EQ(Pin(d, "P").outCell, 1);
    EXPECT_EQ(Pin(d, "P").safe, 1);
    EXPECT_EQ(Pin(d, "P").disable, -1);
    EXPECT_TRUE(Bit(d.safeBits, 1));
    EXPECT_EQ(Pin(d, "Q").inCell, 3);
    EXPECT_EQ(Pin(d, "IO_A1").outCell, 4);
    EXPECT_EQ(Pin(d, "IO_A1").safe, 0);
}

TEST(BsdlRegister, OtherFunctionsOnlySetTheSafeBit)
{
    _BSDLDATA d = Read(std::string(kPorts) +
                       Register("\"2 (BC_1, P, observe_only, 1), 3 (BC_1, Q, internal, 1), 4 (BC_1, NOPORT, input, 1)\""));
    EXPECT_TRUE(Bit(d.safeBits, 2));
    EXPECT_TRUE(Bit(d.safeBits, 3));
    EXPECT_TRUE(Bit(d.safeBits, 4));
    EXPECT_EQ(Pin(d, "P").outCell, -1);
    EXPECT_EQ(Pin(d, "P").inCell, -1);
    EXPECT_EQ(Pin(d, "Q").inCell, -1);
    EXPECT_EQ(PopCount(d.driveMask), 0);
}

TEST(BsdlRegister, BlankBeforeClosingParenthesisIsNotDecoded)
{
    _BSDLDATA d = Read(std::string(kPorts) + Register("\"3 (BC_1, Q, input, 1 )\""));
    EXPECT_EQ(Pin(d, "Q").inCell, -1);
    EXPECT_FALSE(Bit(d.safeBits, 3));
}

TEST(BsdlRegister, LaterCellsOverrideEarlierOnes)
{
    _BSDLDATA d = Read(std::string(kPorts) +
                       Register("\"1 (BC_1, Q, input, X), 2 (BC_1, Q, input, X), "
                                "3 (BC_1, P, output3, 1, 4, 0, Z), 5 (BC_1, P, output3, 0, 6, 1, Z)\""));
    EXPECT_EQ(Pin(d, "Q").inCell, 2);
    EXPECT_EQ(Pin(d, "P").outCell, 5);
    EXPECT_EQ(Pin(d, "P").ctrlCell, 6);
    EXPECT_EQ(Pin(d, "P").safe, 0);
    EXPECT_EQ(Pin(d, "P").disable, 1);
    // The bits of the first output cell stay set: nothing clears drive bits but an input cell.
    EXPECT_TRUE(Bit(d.driveMask, 3));
    EXPECT_TRUE(Bit(d.driveMask, 4));
    EXPECT_TRUE(Bit(d.safeBits, 3));
}

TEST(BsdlRegister, CellsOutsideTheImagesSetNoBit)
{
    // Length 8: one byte per image.
    _BSDLDATA d = Read(std::string(kPorts) +
                       Register("\"100 (BC_1, P, output3, 1, 200, 0, Z), 2 (BC_1, Q, output3, 1, 9, 0, Z), "
                                "-3 (BC_1, IO_A1, input, 1), 8 (BC_1, *, control, 1)\"",
                                8));
    ASSERT_EQ(d.safeBits.size(), 1u);
    ASSERT_EQ(d.driveMask.size(), 1u);
    EXPECT_EQ(Pin(d, "P").outCell, 100);  // the record is still filled in
    EXPECT_EQ(Pin(d, "P").ctrlCell, 200);
    EXPECT_EQ(Pin(d, "Q").ctrlCell, 9);
    EXPECT_EQ(Pin(d, "IO_A1").inCell, -3);
    EXPECT_EQ(d.driveMask[0], 1u << 2);  // only Q's output cell; its control cell 9 is outside
    EXPECT_EQ(d.safeBits[0], 1u << 2);
}

TEST(BsdlRegister, OutputCellWithFourFieldsHasNoControlCell)
{
    _BSDLDATA d = Read(std::string(kPorts) + Register("\"3 (BC_1, P, output2, 1)\""));
    const _PINDESC& p = Pin(d, "P");
    EXPECT_EQ(p.outCell, 3);
    EXPECT_EQ(p.ctrlCell, -1);
    EXPECT_EQ(p.disable, -1);
    EXPECT_EQ(p.safe, 1);
    EXPECT_EQ(d.driveMask[0], 1u << 3);  // cell 0 is not taken for a control cell
}

TEST(BsdlRegister, UnknownSafeValueLeavesBitAndRecordAlone)
{
    _BSDLDATA d = Read(std::string(kPorts) +
                       Register("\"2 (BC_1, P, output3, 1, 3, 0, Z), 2 (BC_1, P, output3, Q, 3, 0, Z), "
                                "4 (BC_1, *, internal, 1), 4 (BC_1, *, internal, 7)\""));
    EXPECT_EQ(Pin(d, "P").safe, 1);
    EXPECT_TRUE(Bit(d.safeBits, 2));
    EXPECT_TRUE(Bit(d.safeBits, 4));
}

TEST(BsdlRegister, CellsInTheStationLayout)
{
    // The first quoted string on the attribute's line, cells separated by TABs and line breaks.
    std::string text = std::string(kPorts) +
                       "attribute BOUNDARY_LENGTH of X : entity is 16;\r\n"
                       "attribute BOUNDARY_REGISTER of X : entity is \"0\t(BC_1, Q, input, X), \" &\r\n"
                       "  -- a comment between the strings\r\n"
                       "  \"1 (BC_1, IO_A1, output3, X, 2, 0, Z), \" &\r\n"
                       "  \"2 (BC_1, *, control, 0), \" &\r\n"
                       "  \"3(BC_1,IO_A1,input,X)\";\r\n";
    _BSDLDATA d = Read(text);
    EXPECT_EQ(d.missingSections & BSDL_SECTION_REGISTER, 0u);
    EXPECT_EQ(Pin(d, "Q").inCell, 0);
    EXPECT_EQ(Pin(d, "IO_A1").outCell, 1);
    EXPECT_EQ(Pin(d, "IO_A1").ctrlCell, 2);
    EXPECT_EQ(Pin(d, "IO_A1").disable, 0);
    EXPECT_EQ(Pin(d, "IO_A1").inCell, 3);
    EXPECT_EQ(d.driveMask[0], 0x06);
}

// ---- length and sections ----------------------------------------------------------------------

TEST(BsdlLength, ImageSizes)
{
    struct {
        const char* length;
        int value;
        size_t bytes;
    } cases[] = {{"2424", 2424, 303}, {"9", 9, 2}, {"8", 8, 1}, {"1", 1, 1}, {"0", 0, 1}, {"007", 7, 1}};
    for (const auto& c : cases) {
        _BSDLDATA d = Read(std::string("attribute BOUNDARY_LENGTH of DEV : entity is ") + c.length + ";");
        EXPECT_EQ(d.boundaryLength, c.value) << c.length;
        EXPECT_EQ(d.safeBits.size(), c.bytes) << c.length;
        EXPECT_EQ(d.driveMask.size(), c.bytes) << c.length;
        EXPECT_EQ(d.missingSections & BSDL_SECTION_LENGTH, 0u) << c.length;
        for (uint8_t b : d.safeBits)
            EXPECT_EQ(b, 0);
    }
}

TEST(BsdlLength, MissingOrUnusableLength)
{
    const char* texts[] = {
        "no length here",
        "attribute BOUNDARY_LENGTH of DEV: entity is 12;",   // the entity name swallows the ":"
        "attribute BOUNDARY_LENGTH of DEV : entity is\n 12;",  // a line break is not a blank
        "attribute BOUNDARY_LENGTH of DEV : entity is 99999999999;",
        "attribute BOUNDARY_LENGTH of DEV : entity is 1048577;",
    };
    for (const char* text : texts) {
        _BSDLDATA d = Read(text);
        EXPECT_EQ(d.boundaryLength, 0) << text;
        EXPECT_EQ(d.safeBits.size(), 1u) << text;
        EXPECT_EQ(d.driveMask.size(), 1u) << text;
        EXPECT_TRUE(d.missingSections & BSDL_SECTION_LENGTH) << text;
    }
    _BSDLDATA largest = Read("attribute BOUNDARY_LENGTH of DEV : entity is 1048576;");
    EXPECT_EQ(largest.boundaryLength, 1048576);
    EXPECT_EQ(largest.safeBits.size(), 131072u);
}

TEST(BsdlSections, RegisterHeaderNeedsABlankAfterIs)
{
    std::string cells = "\"0 (BC_1, Q, input, 1)\";";
    _BSDLDATA broken = Read(std::string(kPorts) + "attribute BOUNDARY_REGISTER of X : entity is\n" + cells);
    EXPECT_TRUE(broken.missingSections & BSDL_SECTION_REGISTER);
    EXPECT_EQ(Pin(broken, "Q").inCell, -1);
    _BSDLDATA ok = Read(std::string(kPorts) + "attribute BOUNDARY_REGISTER of X : entity is \n" + cells);
    EXPECT_FALSE(ok.missingSections & BSDL_SECTION_REGISTER);
    EXPECT_EQ(Pin(ok, "Q").inCell, 0);
}

TEST(BsdlSections, MissingSectionsAreSkippedAndNamed)
{
    _BSDLDATA none = Read("-- just a comment\n");
    EXPECT_EQ(none.missingSections,
              BSDL_SECTION_PORTS | BSDL_SECTION_PIN_MAP | BSDL_SECTION_LENGTH | BSDL_SECTION_REGISTER);
    EXPECT_TRUE(none.pins.empty());
    EXPECT_EQ(none.safeBits.size(), 1u);
    EXPECT_EQ(MissingSectionNames(none.missingSections),
              (std::vector<std::string>{"port list", "pin map", "boundary length", "boundary register"}));
    EXPECT_TRUE(MissingSectionNames(0).empty());
    EXPECT_EQ(MissingSectionNames(BSDL_SECTION_LENGTH), std::vector<std::string>{"boundary length"});

    // A register without a port list decodes safe bits only.
    _BSDLDATA noPorts = Read(Register("\"0 (BC_1, Q, input, 1), 1 (BC_1, P, output3, 1, 2, 0, Z)\""));
    EXPECT_EQ(noPorts.missingSections, BSDL_SECTION_PORTS | BSDL_SECTION_PIN_MAP);
    EXPECT_EQ(noPorts.safeBits[0], 0x03);
    EXPECT_EQ(noPorts.driveMask[0], 0);
}

TEST(BsdlSections, ReadingAppendsToTheTableAndResizesTheImages)
{
    _BSDLDATA d;
    d.pins.push_back(_PINDESC{"OLD", 1, 2, 3, 4, 5, 6, 1, 0});
    d.safeBits.assign(50, 0xFF);
    ReadBsdlText((std::string(kPorts) + Register("\"0 (BC_1, OLD, input, X)\"", 8)).c_str(), d);
    ASSERT_EQ(d.pins.size(), 5u);
    EXPECT_EQ(d.pins[0].name, "OLD");
    EXPECT_EQ(d.pins[0].inCell, 0);
    EXPECT_EQ(d.safeBits, std::vector<uint8_t>{0});
}

// ---- FindPin, labels --------------------------------------------------------------------------

TEST(BsdlFindPin, ByNameAndByPin)
{
    std::vector<_PINDESC> pins = {
        {"TCK", 0, 0, 12, -1, -1, -1, -1, -1},
        {"TDI", 0, 1, 12, -1, -1, -1, -1, -1},
        {"L0", 1, 11, 0, -1, -1, -1, -1, -1},
        {"DEEP", 2, 12356629, 4, -1, -1, -1, -1, -1},  // row ZZZZZ
    };
    EXPECT_EQ(FindPin(pins, FIND_BY_PIN, "B12"), &pins[1]);
    EXPECT_EQ(FindPin(pins, FIND_BY_PIN, "12"), &pins[0]);  // number only, first in table order
    EXPECT_EQ(FindPin(pins, FIND_BY_PIN, "C12"), nullptr);
    EXPECT_EQ(FindPin(pins, FIND_BY_NAME, "tck"), nullptr);
    EXPECT_EQ(FindPin(pins, FIND_BY_NAME, "TCK"), &pins[0]);
    EXPECT_EQ(FindPin(pins, FIND_BY_NAME, "L0"), &pins[2]);
    EXPECT_EQ(FindPin(pins, FIND_BY_PIN, "L0"), &pins[2]);
    EXPECT_EQ(FindPin(pins, FIND_BY_PIN, "LOCKPLL"), nullptr);  // would have been ball L0
    EXPECT_EQ(FindPin(pins, FIND_BY_PIN, "ZZZZZ4"), &pins[3]);
    EXPECT_EQ(FindPin(pins, FIND_BY_PIN, "AZZZZZ4"), nullptr);
    EXPECT_EQ(FindPin(pins, FIND_BY_PIN, ""), nullptr);
    EXPECT_EQ(FindPin(pins, FIND_BY_PIN, nullptr), nullptr);
    EXPECT_EQ(FindPin(pins, 2, "TCK"), nullptr);
    EXPECT_EQ(FindPin(pins, -1, "B12"), nullptr);
}

TEST(BsdlFindPin, EveryRowLabelIsFoundAgain)
{
    std::vector<_PINDESC> pins;
    for (int row = 0; row < 20000; row += 7)
        pins.push_back(_PINDESC{"P" + std::to_string(row), 2, row, 30, -1, -1, -1, -1, -1});
    for (const _PINDESC& p : pins) {
        std::string label = PinLabel(p);
        ASSERT_EQ(label, RowLetters(p.row) + "30");
        ASSERT_EQ(FindPin(pins, FIND_BY_PIN, label.c_str()), &p) << label;
    }
}

TEST(BsdlFindPin, RowLettersAndLabels)
{
    EXPECT_EQ(RowLetters(0), "A");
    EXPECT_EQ(RowLetters(25), "Z");
    EXPECT_EQ(RowLetters(26), "AA");
    EXPECT_EQ(RowLetters(27), "AB");
    EXPECT_EQ(RowLetters(51), "AZ");
    EXPECT_EQ(RowLetters(52), "BA");
    EXPECT_EQ(RowLetters(701), "ZZ");
    EXPECT_EQ(RowLetters(702), "AAA");
    EXPECT_EQ(RowLetters(-1), "");
    EXPECT_EQ(PinLabel(_PINDESC{"X", 0, -1, -1, -1, -1, -1, -1, -1}), "-");
    EXPECT_EQ(PinLabel(_PINDESC{"X", 0, -1, 17, -1, -1, -1, -1, -1}), "17");
    EXPECT_EQ(PinLabel(_PINDESC{"X", 0, 36, 30, -1, -1, -1, -1, -1}), "AK30");
}

// ---- files ------------------------------------------------------------------------------------

TEST(BsdlFile, ReadsAFileAsItsText)
{
    TempDir dir;
    std::string text = std::string(kPorts) + "PIN_MAP_STRING:=\"P:C3, \";\n" +
                       Register("\"0 (BC_1, P, output3, 1, 1, 0, Z), 1 (BC_1, *, control, 0)\"");
    std::string path = dir.Write("dev.bsd", text);
    _BSDLDATA fromFile;
    ASSERT_EQ(ReadBsdl(path.c_str(), fromFile), 1);
    _BSDLDATA fromText = Read(text);
    ASSERT_EQ(fromFile.pins.size(), fromText.pins.size());
    EXPECT_EQ(Pin(fromFile, "P").row, 2);
    EXPECT_EQ(Pin(fromFile, "P").outCell, 0);
    EXPECT_EQ(fromFile.safeBits, fromText.safeBits);
    EXPECT_EQ(fromFile.driveMask, fromText.driveMask);
    EXPECT_EQ(fromFile.missingSections, 0u);
}

TEST(BsdlFile, UnreadableFilesLeaveTheDataAlone)
{
    TempDir dir;
    _BSDLDATA data;
    data.pins.push_back(_PINDESC{"KEEP", 2, 1, 2, 3, 4, 5, 0, 1});
    data.safeBits = {1, 2, 3};
    data.missingSections = 5;
    _BSDLDATA before = data;

    EXPECT_EQ(ReadBsdl((dir.path / "absent.bsd").string().c_str(), data), 0);
    EXPECT_EQ(ReadBsdl(dir.path.string().c_str(), data), 0);  // a folder
    EXPECT_EQ(ReadBsdl(nullptr, data), 0);

    // Larger than the cap: a sparse file, so the test writes nothing much.
    std::string big = dir.Write("big.bsd", "");
    fs::resize_file(big, static_cast<uintmax_t>(kMaxBsdlFileSize) + 1);
    EXPECT_EQ(ReadBsdl(big.c_str(), data), 0);

    ASSERT_EQ(data.pins.size(), 1u);
    EXPECT_EQ(data.pins[0].name, before.pins[0].name);
    EXPECT_EQ(data.pins[0].inCell, before.pins[0].inCell);
    EXPECT_EQ(data.safeBits, before.safeBits);
    EXPECT_EQ(data.missingSections, before.missingSections);
}

TEST(BsdlFile, FileAtTheCapIsRead)
{
    TempDir dir;
    std::string path = dir.Write("cap.bsd", std::string(kPorts));
    fs::resize_file(path, static_cast<uintmax_t>(kMaxBsdlFileSize));  // NUL bytes after the text
    _BSDLDATA d;
    ASSERT_EQ(ReadBsdl(path.c_str(), d), 1);
    EXPECT_EQ(d.pins.size(), 4u);
}

TEST(BsdlFile, EmptyFileAndNulBytes)
{
    TempDir dir;
    _BSDLDATA empty;
    ASSERT_EQ(ReadBsdl(dir.Write("empty.bsd", "").c_str(), empty), 1);
    EXPECT_EQ(MissingSectionNames(empty.missingSections).size(), 4u);
    EXPECT_EQ(empty.safeBits.size(), 1u);

    // A NUL byte ends the text: the pin map after it is not seen.
    std::string text = std::string(kPorts) + std::string(1, '\0') + "PIN_MAP_STRING:=\"P:C3, \";";
    _BSDLDATA nul;
    ASSERT_EQ(ReadBsdl(dir.Write("nul.bsd", text).c_str(), nul), 1);
    EXPECT_EQ(nul.pins.size(), 4u);
    EXPECT_TRUE(nul.missingSections & BSDL_SECTION_PIN_MAP);
    EXPECT_EQ(Pin(nul, "P").number, -1);
}

TEST(BsdlFile, DataIsCopyable)
{
    _BSDLDATA a = Read(std::string(kPorts) + Register("\"0 (BC_1, P, output3, 1, 1, 0, Z)\""));
    _BSDLDATA b;
    b = a;
    _BSDLDATA c(a);
    a.pins[0].name = "CHANGED";
    a.safeBits[0] = 0xAA;
    EXPECT_EQ(b.pins[0].name, "IO_A1");
    EXPECT_EQ(c.pins[0].name, "IO_A1");
    EXPECT_EQ(b.safeBits[0], 0x01);
    EXPECT_EQ(b.driveMask, c.driveMask);
    EXPECT_EQ(b.boundaryLength, 16);
}
