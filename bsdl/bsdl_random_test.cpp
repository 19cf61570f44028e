// Bounded random input for the reader: mutated BSDL texts and plain garbage must read without a
// crash or a hang and leave a consistent result; huge sections stay fast.
#include "bsdl.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

const char* const kBase =
    "entity DEV is\r\n"
    "  port(TCK : in bit; TDO : out bit; IO_A1 : inout bit; D : inout bit_vector(0 to 3);\r\n"
    "       AA7 : in bit; VCC : linkage bit);\r\n"
    "  constant PKG : PIN_MAP_STRING := \"TCK:A1, TDO : B12, \" &\r\n"
    "     \"IO_A1:AA7, D:(C1, C2), AA7:17 \";\r\n"
    "  attribute BOUNDARY_LENGTH of DEV : entity is 12;\r\n"
    "  attribute BOUNDARY_REGISTER of DEV : entity is \"0 (BC_1, IO_A1, input, X), \" &\r\n"
    "     \"1 (BC_1, IO_A1, output3, 1, 2, 0, Z), 2 (BC_1, *, control, 0), \" &\r\n"
    "     \"3 (BC_1, TDO, output2, X), 11 (BC_1, AA7, input, 1)\";\r\n"
    "end DEV;\r\n";

std::string Mutate(std::mt19937& rng, std::string text)
{
    static const char special[] = "\"();:,& \t\r\n-*0123456789XABport_";
    for (int edits = 1 + static_cast<int>(rng() % 8); edits > 0 && !text.empty(); --edits) {
        size_t at = rng() % text.size();
        switch (rng() % 6) {
        case 0:
            text[at] = special[rng() % (sizeof special - 1)];
            break;
        case 1:
            text.insert(at, 1, special[rng() % (sizeof special - 1)]);
            break;
        case 2:
            text.erase(at, 1 + rng() % 8);
            break;
        case 3:
            text[at] = static_cast<char>(rng() % 256);
            break;
        case 4:
            text.insert(at, text.substr(rng() % text.size(), rng() % 64));
            break;
        default:
            text.resize(at);
            break;
        }
    }
    return text;
}

}  // namespace

TEST(BsdlRandom, MutatedTextsAndGarbageReadConsistently)
{
    std::mt19937 rng(31337);
    for (int i = 0; i < 2000; ++i) {
        std::string text = Mutate(rng, kBase);
        if (i % 4 == 0) {
            text.assign(rng() % 512, '\0');
            for (char& c : text)
                c = static_cast<char>(1 + rng() % 255);
        }
        _BSDLDATA d;
        ReadBsdlText(text.c_str(), d);
        ASSERT_GE(d.boundaryLength, 0) << text;
        ASSERT_LE(d.boundaryLength, 1 << 20) << text;
        ASSERT_EQ(d.safeBits.size(), static_cast<size_t>((d.boundaryLength - 1) / 8 + 1)) << text;
        ASSERT_EQ(d.driveMask.size(), d.safeBits.size()) << text;
        ASSERT_EQ(d.missingSections & ~0xFu, 0u) << text;
        ASSERT_TRUE(d.pins.empty() || !(d.missingSections & BSDL_SECTION_PORTS)) << text;
        for (const _PINDESC& p : d.pins) {
            ASSERT_FALSE(p.name.empty()) << text;
            ASSERT_TRUE(p.dir >= 0 && p.dir <= 2) << text;
            ASSERT_TRUE(p.safe >= -1 && p.safe <= 1 && p.disable >= -1 && p.disable <= 1) << text;
        }
    }
}

TEST(BsdlRandom, HugeLinesAndManyPorts)
{
    // A 600 kB line of cell-like text without closing parentheses, and a port list of 40000
    // ports whose cells are all listed (a linear look-up per cell would take minutes).
    std::string cells = "attribute BOUNDARY_LENGTH of D : entity is 2424; attribute BOUNDARY_REGISTER of D : entity is \"";
    for (int i = 0; i < 50000; ++i)
        cells += "7 (BC_1, ,, ";
    _BSDLDATA d;
    ReadBsdlText(cells.c_str(), d);
    EXPECT_EQ(d.missingSections, BSDL_SECTION_PORTS | BSDL_SECTION_PIN_MAP);
    EXPECT_EQ(d.safeBits.size(), 303u);

    const int n = 40000;
    std::string ports;
    std::string cellsOfPorts;
    for (int i = 0; i < n; ++i) {
        std::string name = "P" + std::to_string(i);
        ports += name + " : inout bit; ";
        cellsOfPorts += std::to_string(3 * i) + " (BC_1, " + name + ", input, X), " + std::to_string(3 * i + 1) +
                        " (BC_1, " + name + ", output3, X, " + std::to_string(3 * i + 2) + ", 0, Z), ";
    }
    _BSDLDATA p;
    ReadBsdlText(("port(" + ports + ");\nattribute BOUNDARY_LENGTH of D : entity is " + std::to_string(3 * n) +
                  ";\nattribute BOUNDARY_REGISTER of D : entity is \"" + cellsOfPorts + "\";")
                     .c_str(),
                 p);
    ASSERT_EQ(p.pins.size(), static_cast<size_t>(n));
    EXPECT_EQ(p.pins.back().inCell, 3 * (n - 1));
    EXPECT_EQ(p.pins.back().ctrlCell, 3 * (n - 1) + 2);
}
