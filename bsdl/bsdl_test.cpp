// The BSDL reader on small texts written for each rule, and on files.
#include "bsdl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "test_files.h"

namespace {

// Everything read: ports "name,dir,pin,in,out,ctrl,safe,disable", "|", length, both images, missing sections.
std::string Summary(const _BSDLDATA& d)
{
    std::string s;
    for (const _PINDESC& p : d.pins) {
        s += p.name + "," + std::to_string(p.dir) + "," + PinLabel(p);
        for (int v : {p.inCell, p.outCell, p.ctrlCell, p.safe, p.disable})
            s += "," + std::to_string(v);
        s += " ";
    }
    s += "| " + std::to_string(d.boundaryLength);
    for (auto [label, image] : {std::pair{" safe=", &d.safeBits}, std::pair{" drive=", &d.driveMask}}) {
        s += label;
        for (uint8_t byte : *image) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", byte);
            s += hex;
        }
    }
    s += " missing=";
    for (unsigned bit = 0; bit < 4; ++bit)
        if (d.missingSections & (1u << bit))
            s += "PMLR"[bit];
    return s;
}

_BSDLDATA Read(const std::string& text)
{
    _BSDLDATA data;
    ReadBsdlText(text.c_str(), data);
    return data;
}

// A register section in the station's layout around the given cells.
std::string Register(const std::string& cells, int length = 16)
{
    return "attribute BOUNDARY_LENGTH of X : entity is " + std::to_string(length) +
           ";\nattribute BOUNDARY_REGISTER of X : entity is " + cells + ";\n";
}

const std::string kPorts = "port(IO_A1 : inout bit; P : out bit; Q : in bit; TCK : in bit);\n";
const std::string kBare = "IO_A1,2,-,-1,-1,-1,-1,-1 P,1,-,-1,-1,-1,-1,-1 Q,0,-,-1,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 ";

}  // namespace

TEST(BsdlText, EveryRuleOfTheReader)
{
    struct {
        const char* what;
        std::string text;
        std::string summary;
    } cases[] = {
        // ---- port list: "port(" right after the word, in, out and inout ports up to the ")" that
        // closes the list; blanks and line breaks end tokens, TABs do not; a name written against
        // its colon swallows it, so the name scan runs on to the next colon.
        {"blank after port", "entity X is\n  port (A : in bit);\nend X;", "| 0 safe=00 drive=00 missing=PMLR"},
        {"upper case", "entity X is\n  PORT(A : in bit);\nend X;", "A,0,-,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=MLR"},
        {"directions", "port(TCK : in bit; TDO : out bit; IO_A1 : inout bit; VCC : linkage bit); AFTER : in bit;",
         "TCK,0,-,-1,-1,-1,-1,-1 TDO,1,-,-1,-1,-1,-1,-1 IO_A1,2,-,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=MLR"},
        {"last port without semicolon", "port(TCK : in bit; TDO : out bit)",
         "TCK,0,-,-1,-1,-1,-1,-1 TDO,1,-,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=MLR"},
        {"CR LF and letter case", "port(\r\n  A : IN bit;\r\n  B : Out bit;\r\n  C : INOUT bit;\r\n  D : buffer bit\r\n);",
         "A,0,-,-1,-1,-1,-1,-1 B,1,-,-1,-1,-1,-1,-1 C,2,-,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=MLR"},
        {"TAB", "port(A\t : in bit; B : out bit)", "A\t,0,-,-1,-1,-1,-1,-1 B,1,-,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=MLR"},
        {"vector ports", "port(D : inout bit_vector(0 to 3); E : in bit; V : linkage bit_vector (0 to 2); F : out bit_vector(0 to 1)); G : in bit;",
         "D,2,-,-1,-1,-1,-1,-1 E,0,-,-1,-1,-1,-1,-1 F,1,-,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=MLR"},
        {"name against its colon", "port(TCK: in bit; TDI : out bit);", "TCK:,1,-,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=MLR"},
        {"cut off", "port(A : in bit; B : out", "A,0,-,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=MLR"},

        // ---- pin map: row letters and number; an entry needs a separator after its pin; a pin
        // list gives no pin; a letter run too long for a row gives none; any other first
        // character is a row by its code minus "A"; a plain number keeps the row set before;
        // the quoted strings up to the first ";" outside quotes.
        {"pins", kPorts + "constant PKG : PIN_MAP_STRING := \" TCK:A1, IO_A1 : B12, \" &\n \"P:17 \";",
         "IO_A1,2,B12,-1,-1,-1,-1,-1 P,1,17,-1,-1,-1,-1,-1 Q,0,-,-1,-1,-1,-1,-1 TCK,0,A1,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=LR"},
        {"unfinished entry", kPorts + "PIN_MAP_STRING:=\"TCK:A1, P:17\";",
         "IO_A1,2,-,-1,-1,-1,-1,-1 P,1,-,-1,-1,-1,-1,-1 Q,0,-,-1,-1,-1,-1,-1 TCK,0,A1,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=LR"},
        {"two-letter rows", kPorts + "PIN_MAP_STRING := \"IO_A1:AA12, P:AB3, Q:AK30, TCK:BA1, \";",
         "IO_A1,2,AA12,-1,-1,-1,-1,-1 P,1,AB3,-1,-1,-1,-1,-1 Q,0,AK30,-1,-1,-1,-1,-1 TCK,0,BA1,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=LR"},
        {"unusual pins", kPorts + "PIN_MAP_STRING := \"P:LOCKPLL, IO_A1:(A1, A2),Q:a7, TCK:B2, TCK:97, NOPORT:C3, \";",
         "IO_A1,2,-,-1,-1,-1,-1,-1 P,1,-,-1,-1,-1,-1,-1 Q,0,AG7,-1,-1,-1,-1,-1 TCK,0,B97,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=LR"},
        {"quoted strings", kPorts + "PIN_MAP_STRING :=\n  \"IO_A1 : C4, \" &  -- comment\n  \"\" & \"P : D5, \"; \"Q : E6, \"",
         "IO_A1,2,C4,-1,-1,-1,-1,-1 P,1,D5,-1,-1,-1,-1,-1 Q,0,-,-1,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 | 0 safe=00 drive=00 missing=LR"},

        // ---- register: output cells set their port's cells, safe value and disable value and are
        // driven with their control cell; input cells clear their drive bit; control cells are
        // driven when they name a port; every cell with a known safe value sets its safe bit;
        // functions and values in any letter case; later cells override earlier ones.
        {"output cell", kPorts + Register("\"5 (BC_1, *, internal, 1), 5 (BC_1, IO_A1, output3, X, 6, 1, Z),\""),
         "IO_A1,2,-,-1,5,6,-1,1 P,1,-,-1,-1,-1,-1,-1 Q,0,-,-1,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 | 16 safe=0000 drive=6000 missing=M"},
        {"input cell", kPorts + Register("\"7 (BC_1, IO_A1, control, 0), \" & \"7 (BC_1, IO_A1, input, X),\""),
         "IO_A1,2,-,7,-1,-1,-1,-1 P,1,-,-1,-1,-1,-1,-1 Q,0,-,-1,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 | 16 safe=0000 drive=0000 missing=M"},
        {"control cells", kPorts + Register("\"6 (BC_1, *, control, 1), 9 (BC_1, P, CONTROL, 0)\""),
         kBare + "| 16 safe=4000 drive=0002 missing=M"},
        {"letter case", kPorts + Register("\"1 (BC_1, P, OUTPUT2, 1, 2, x, Z), 3 (BC_1, Q, Input, x), "
                                          "4 (BC_1, IO_A1, output, 0, 5, 0, Z)\""),
         "IO_A1,2,-,-1,4,5,0,0 P,1,-,-1,1,2,1,-1 Q,0,-,3,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 | 16 safe=0200 drive=3600 missing=M"},
        {"other functions", kPorts + Register("\"2 (BC_1, P, observe_only, 1), 3 (BC_1, Q, internal, 1), 4 (BC_1, NOPORT, input, 1)\""),
         kBare + "| 16 safe=1C00 drive=0000 missing=M"},
        {"blank before )", kPorts + Register("\"3 (BC_1, Q, input, 1 )\""), kBare + "| 16 safe=0000 drive=0000 missing=M"},
        {"later cells", kPorts + Register("\"1 (BC_1, Q, input, X), 2 (BC_1, Q, input, X), "
                                          "3 (BC_1, P, output3, 1, 4, 0, Z), 5 (BC_1, P, output3, 0, 6, 1, Z)\""),
         "IO_A1,2,-,-1,-1,-1,-1,-1 P,1,-,-1,5,6,0,1 Q,0,-,2,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 | 16 safe=0800 drive=7800 missing=M"},
        {"station layout", kPorts + "attribute BOUNDARY_LENGTH of X : entity is 16;\r\n"
                                    "attribute BOUNDARY_REGISTER of X : entity is \"0\t(BC_1, Q, input, X), \" &\r\n"
                                    "  -- a comment between the strings\r\n"
                                    "  \"1 (BC_1, IO_A1, output3, X, 2, 0, Z), \" &\r\n"
                                    "  \"2 (BC_1, *, control, 0), \" &\r\n"
                                    "  \"3(BC_1,IO_A1,input,X)\";\r\n",
         "IO_A1,2,-,3,1,2,-1,0 P,1,-,-1,-1,-1,-1,-1 Q,0,-,0,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 | 16 safe=0000 drive=0600 missing=M"},
        // Mends: cells and control cells outside the images set no bit; an output cell with four
        // fields has no control cell; an unknown safe value leaves the bit and the record alone.
        {"outside the images", kPorts + Register("\"100 (BC_1, P, output3, 1, 200, 0, Z), 2 (BC_1, Q, output3, 1, 9, 0, Z), "
                                                 "-3 (BC_1, IO_A1, input, 1), 8 (BC_1, *, control, 1)\"", 8),
         "IO_A1,2,-,-3,-1,-1,-1,-1 P,1,-,-1,100,200,1,0 Q,0,-,-1,2,9,1,0 TCK,0,-,-1,-1,-1,-1,-1 | 8 safe=04 drive=04 missing=M"},
        {"four fields", kPorts + Register("\"3 (BC_1, P, output2, 1)\""),
         "IO_A1,2,-,-1,-1,-1,-1,-1 P,1,-,-1,3,-1,1,-1 Q,0,-,-1,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 | 16 safe=0800 drive=0800 missing=M"},
        {"blanks, more than seven fields", kPorts + Register("\"3 (BC_1 , P , output3 , 1 , 4 , 0 , Z , 9, 9, 9)\""),
         "IO_A1,2,-,-1,-1,-1,-1,-1 P,1,-,-1,3,4,1,0 Q,0,-,-1,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 | 16 safe=0800 drive=1800 missing=M"},
        {"unknown safe value", kPorts + Register("\"2 (BC_1, P, output3, 1, 3, 0, Z), 2 (BC_1, P, output3, Q, 3, 0, Z), "
                                                 "4 (BC_1, *, internal, 1), 4 (BC_1, *, internal, 7)\""),
         "IO_A1,2,-,-1,-1,-1,-1,-1 P,1,-,-1,2,3,1,0 Q,0,-,-1,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 | 16 safe=1400 drive=0C00 missing=M"},

        // ---- sections: the register's header needs a blank after "is"; a section not found is
        // skipped and named; a register without ports sets safe bits only.
        {"no blank after is", kPorts + "attribute BOUNDARY_REGISTER of X : entity is\n\"0 (BC_1, Q, input, 1)\";",
         kBare + "| 0 safe=00 drive=00 missing=MLR"},
        {"blank after is", kPorts + "attribute BOUNDARY_REGISTER of X : entity is \n\"0 (BC_1, Q, input, 1)\";",
         "IO_A1,2,-,-1,-1,-1,-1,-1 P,1,-,-1,-1,-1,-1,-1 Q,0,-,0,-1,-1,-1,-1 TCK,0,-,-1,-1,-1,-1,-1 | 0 safe=01 drive=00 missing=ML"},
        {"no section", "-- just a comment\n", "| 0 safe=00 drive=00 missing=PMLR"},
        {"register without ports", Register("\"0 (BC_1, Q, input, 1), 1 (BC_1, P, output3, 1, 2, 0, Z)\""),
         "| 16 safe=0300 drive=0000 missing=PM"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Summary(Read(c.text)), c.summary) << c.what;
    EXPECT_EQ(MissingSectionNames(0xF),
              (std::vector<std::string>{"port list", "pin map", "boundary length", "boundary register"}));
    EXPECT_EQ(MissingSectionNames(BSDL_SECTION_LENGTH), std::vector<std::string>{"boundary length"});
}

TEST(BsdlText, BoundaryLengthSizesTheImages)
{
    // Length -1: not found (the entity name swallows the ":", a line break is no blank, too many
    // cells), which reads as 0 and sizes the images to one byte.
    for (auto [text, length, bytes] :
         {std::tuple{" : entity is 2424;", 2424, 303}, {" : entity is 9;", 9, 2}, {" : entity is 8;", 8, 1},
          {" : entity is 1;", 1, 1}, {" : entity is 0;", 0, 1}, {" : entity is 007;", 7, 1},
          {" : entity is 1048576;", 1048576, 131072}, {": entity is 12;", -1, 1}, {" : entity is\n 12;", -1, 1},
          {" : entity is 99999999999;", -1, 1}, {" : entity is 1048577;", -1, 1}}) {
        const _BSDLDATA d = Read(std::string("attribute BOUNDARY_LENGTH of DEV") + text);
        EXPECT_EQ(d.boundaryLength, std::max(length, 0)) << text;
        EXPECT_EQ(d.safeBits, std::vector<uint8_t>(bytes, 0)) << text;
        EXPECT_EQ(d.driveMask.size(), static_cast<size_t>(bytes)) << text;
        EXPECT_EQ((d.missingSections & BSDL_SECTION_LENGTH) != 0, length < 0) << text;
    }
}

TEST(BsdlFindPin, ByNameAndByPinRowsAndLabels)
{
    std::vector<_PINDESC> pins = {
        {"TCK", 0, 0, 12, -1, -1, -1, -1, -1},
        {"TDI", 0, 1, 12, -1, -1, -1, -1, -1},
        {"L0", 1, 11, 0, -1, -1, -1, -1, -1},
        {"IO", 2, 27, 3, -1, -1, -1, -1, -1},          // AB3
        {"DEEP", 2, 12356629, 4, -1, -1, -1, -1, -1},  // row ZZZZZ
        {"NONE", 2, -1, -1, -1, -1, -1, -1, -1},       // no package pin
    };
    struct {
        int mode;
        const char* key;
        int index;  // -1: not found
    } cases[] = {
        {FIND_BY_PIN, "B12", 1}, {FIND_BY_PIN, "12", 0},  // a number alone: any row, first in table order
        {FIND_BY_PIN, "C12", -1}, {FIND_BY_PIN, "AB3", 3}, {FIND_BY_PIN, "B3", -1}, {FIND_BY_PIN, "L0", 2},
        {FIND_BY_PIN, "LOCKPLL", -1},  // too many letters for a row, not ball L0
        {FIND_BY_PIN, "ZZZZZ4", 4}, {FIND_BY_PIN, "AZZZZZ4", -1}, {FIND_BY_PIN, "", -1}, {FIND_BY_PIN, nullptr, -1},
        {FIND_BY_NAME, "TCK", 0}, {FIND_BY_NAME, "tck", -1}, {FIND_BY_NAME, "L0", 2}, {2, "TCK", -1}, {-1, "B12", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindPin(pins, c.mode, c.key), c.index < 0 ? nullptr : &pins[c.index]) << (c.key ? c.key : "null");

    for (auto [row, letters] : {std::pair{0, "A"}, {25, "Z"}, {26, "AA"}, {27, "AB"}, {51, "AZ"}, {52, "BA"},
                                {701, "ZZ"}, {702, "AAA"}, {18278, "AAAA"}, {12356629, "ZZZZZ"}, {-1, ""}})
        EXPECT_EQ(RowLetters(row), letters) << row;
    EXPECT_EQ(PinLabel(_PINDESC{"X", 0, -1, -1, -1, -1, -1, -1, -1}), "-");
    EXPECT_EQ(PinLabel(_PINDESC{"X", 0, -1, 17, -1, -1, -1, -1, -1}), "17");
}

// A file is read as its text up to its first NUL, also at the size cap; a file that cannot be used
// leaves the data alone.
TEST(BsdlFile, FilesReadAsTheirTextUpToANulAndUnreadableOnesLeaveTheDataAlone)
{
    qbxtest::TempDir dir;
    const std::string file = dir.File("dev.bsd");
    const std::string text = kPorts + "PIN_MAP_STRING:=\"P:C3, \";\n" +
                             Register("\"0 (BC_1, P, output3, 1, 1, 0, Z), 1 (BC_1, *, control, 0)\"");
    const std::string empty;
    for (auto [content, textRead] : {std::pair{text, text}, {empty, empty}, {kPorts + '\0' + text, kPorts}}) {
        qbxtest::WriteFile(file, content);
        _BSDLDATA d;
        ASSERT_EQ(ReadBsdl(file.c_str(), d), 1);
        EXPECT_EQ(Summary(d), Summary(Read(textRead)));
    }
    std::filesystem::resize_file(file, kMaxBsdlFileSize);  // NUL bytes after the text
    _BSDLDATA data;
    ASSERT_EQ(ReadBsdl(file.c_str(), data), 1);
    EXPECT_EQ(data.pins.size(), 4u);
    const std::string before = Summary(data);
    std::filesystem::resize_file(file, kMaxBsdlFileSize + 1);
    for (const std::string& path : {dir.File("absent.bsd"), dir.Path(), file})
        EXPECT_EQ(ReadBsdl(path.c_str(), data), 0) << path;
    EXPECT_EQ(ReadBsdl(nullptr, data), 0);
    EXPECT_EQ(Summary(data), before);
}

// A 600 kB line of cell-like text without closing parentheses, and a port list of 40000 ports whose
// cells are all listed (a linear look-up per cell would take minutes).
TEST(BsdlText, HugeSectionsAndManyPorts)
{
    std::string cells = "attribute BOUNDARY_LENGTH of D : entity is 2424; "
                        "attribute BOUNDARY_REGISTER of D : entity is \"";
    for (int i = 0; i < 50000; ++i)
        cells += "7 (BC_1, ,, ";
    const _BSDLDATA d = Read(cells);
    EXPECT_EQ(d.missingSections, BSDL_SECTION_PORTS | BSDL_SECTION_PIN_MAP);
    EXPECT_EQ(d.safeBits.size(), 303u);

    const int n = 40000;
    std::string ports = "port(";
    cells = "attribute BOUNDARY_LENGTH of D : entity is " + std::to_string(3 * n) + ";\n" +
            "attribute BOUNDARY_REGISTER of D : entity is \"";
    for (int i = 0; i < n; ++i) {
        const std::string name = "P" + std::to_string(i);
        ports += name + " : inout bit; ";
        cells += std::to_string(3 * i) + " (BC_1, " + name + ", input, X), " + std::to_string(3 * i + 1) + " (BC_1, " +
                 name + ", output3, X, " + std::to_string(3 * i + 2) + ", 0, Z), ";
    }
    const _BSDLDATA p = Read(ports + ");\n" + cells + "\";");
    ASSERT_EQ(p.pins.size(), static_cast<size_t>(n));
    EXPECT_EQ(std::tuple(p.pins.back().inCell, p.pins.back().ctrlCell), std::tuple(3 * n - 3, 3 * n - 1));
}
