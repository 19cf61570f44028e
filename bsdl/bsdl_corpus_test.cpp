// The reader on real files: the team's corpus of vendor BSDL files (../shared/bsdl) and the
// example A3PE3000 file of this repository.
#include "bsdl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>

namespace fs = std::filesystem;

namespace {

const fs::path kCorpus = fs::path(QBX_SHARED_DIR) / "bsdl";

int PopCount(const std::vector<uint8_t>& image)
{
    int n = 0;
    for (uint8_t b : image)
        n += __builtin_popcount(b);
    return n;
}

bool Bit(const std::vector<uint8_t>& image, int cell)
{
    return (image.at(static_cast<size_t>(cell) / 8) >> (cell % 8)) & 1;
}

_BSDLDATA ReadFile(const fs::path& path)
{
    _BSDLDATA data;
    EXPECT_EQ(ReadBsdl(path.string().c_str(), data), 1) << path;
    return data;
}

// A port as "direction pin in out control safe disable", "absent" when the table has no such
// port; its package pin must lead back to it.
std::string Port(const _BSDLDATA& d, const char* name)
{
    const _PINDESC* p = FindPin(d.pins, FIND_BY_NAME, name);
    if (p == nullptr)
        return "absent";
    std::string s = std::to_string(p->dir) + " " + PinLabel(*p);
    for (int v : {p->inCell, p->outCell, p->ctrlCell, p->safe, p->disable})
        s += " " + std::to_string(v);
    return FindPin(d.pins, FIND_BY_PIN, PinLabel(*p).c_str()) == p ? s : s + " (its pin finds another port)";
}

}  // namespace

// Most corpus files write 'port (' with a blank, or end the register's header line with "is" and
// start the strings on the next line, so the station's patterns do not find those sections.
TEST(BsdlCorpus, EveryFileReadsWithItsSectionsAccountedFor)
{
    if (!fs::is_directory(kCorpus))
        GTEST_SKIP() << "no BSDL corpus at " << kCorpus << " (needs ../shared)";
    const unsigned P = BSDL_SECTION_PORTS, L = BSDL_SECTION_LENGTH, R = BSDL_SECTION_REGISTER;
    struct Expectation {
        unsigned missing;
        int length;
        size_t ports;
    };
    const std::map<std::string, Expectation> expected = {
        {"adi_adsp2156x_lqfp.bsdl", {P | L | R, 0, 0}},  // "ENTITY: entity is" - the name swallows ":"
        {"amcc_ppc440epx.bsd", {P | L | R, 0, 0}},
        {"arm_cortexmx.bsd", {P | L | R, 0, 0}},
        {"cypress_cy7c1515kv18.bsdl", {P | R, 109, 0}},
        {"intel_10cl025u256.bsd", {P | R, 732, 0}},
        {"lattice_lcmxo2_256hc_qfn32.bsm", {P | R, 104, 0}},
        {"lattice_lfe5u_85f_cabga756.bsm", {P | R, 750, 0}},
        {"maxim_max16071.bsd", {P | L | R, 0, 0}},
        {"microchip_mpf100t_fcg484.bsdl", {0, 944, 284}},
        {"microchip_mpf300ts_fcg1152.bsdl", {0, 1634, 578}},
        {"nxp_imx8mn.bsdl", {P | L | R, 0, 0}},
        {"nxp_lpc1857_fet256.bsd", {P, 545, 0}},
        {"nxp_mpc5676r_516.bsdl", {R, 524, 34}},  // "ETPUA:  inout": names keep their colons
        {"pango_pg2l100h_fbg676.bsm", {P | R, 645, 0}},
        {"renesas_r1qda3636.bsd", {P | R, 109, 0}},  // "[^ ]+" takes "R1QDA3636<TAB>:" whole
        {"st_stm32f405_lqfp100.bsd", {P | L | R, 0, 0}},
        {"st_stm32f469_tfbga216.bsd", {P | L | R, 0, 0}},
        {"ti_sn74bct8244a.bsm", {P | R, 18, 0}},
        {"xilinx_xa3s400_fg456.bsdl", {P | R, 815, 0}},
        {"xilinx_xc2c64a_vq44.bsd", {P, 192, 0}},  // a register without ports: safe bits only
        {"xilinx_xc6vsx475t_ff1759.bsd", {P | R, 3409, 0}},
    };
    size_t files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(kCorpus)) {
        const std::string name = entry.path().filename().string();
        if (name == "SOURCES.md")
            continue;
        ++files;
        const auto it = expected.find(name);
        if (it == expected.end()) {
            ADD_FAILURE() << "no expectations for corpus file " << name;
            continue;
        }
        const _BSDLDATA d = ReadFile(entry.path());
        const Expectation& e = it->second;
        EXPECT_EQ(std::tuple(d.missingSections, d.boundaryLength, d.pins.size()),
                  std::tuple(e.missing, e.length, e.ports))
            << name;
        EXPECT_EQ(d.safeBits.size(), static_cast<size_t>((e.length - 1) / 8 + 1)) << name;
        EXPECT_EQ(d.driveMask.size(), d.safeBits.size()) << name;
        EXPECT_TRUE(!(d.pins.empty() || (d.missingSections & R)) || PopCount(d.driveMask) == 0)
            << name << ": nothing to drive without ports and register";
    }
    EXPECT_EQ(files, expected.size());
}

TEST(BsdlCorpus, PolarFirePinsCheckedByHand)
{
    if (!fs::is_directory(kCorpus))
        GTEST_SKIP() << "no BSDL corpus at " << kCorpus << " (needs ../shared)";
    const _BSDLDATA small = ReadFile(kCorpus / "microchip_mpf100t_fcg484.bsdl");
    for (auto [name, port] : {std::pair{"IO_B3", "2 B3 2 0 1 -1 0"}, {"IO_AA1", "2 AA1 275 273 274 -1 0"},
                              {"IO_AB9", "2 AB9 545 543 544 -1 0"}, {"IO_AA19", "0 AA19 -1 -1 -1 -1 -1"},
                              {"SDO", "1 G5 -1 936 937 -1 0"}, {"RESERVED", "0 H11 933 -1 -1 -1 -1"},
                              {"SCK", "2 G3 943 941 942 -1 0"}, {"TDO", "1 F6 -1 -1 -1 -1 -1"},
                              // linkage and buffer ports are not in the table
                              {"DEVRST_N", "absent"}, {"IO_B21", "absent"}, {"IO_B22", "absent"}})
        EXPECT_EQ(Port(small, name), port) << name;
    // cells 0..7: output, control, input of IO_B3, IO_B2, then IO_D3's output and control; cells
    // 936..943: SDO output+control, SS output+control+input, SCK output+control+input
    EXPECT_EQ(small.driveMask[0], 0xDB);
    EXPECT_EQ(small.driveMask[117], 0x6F);
    // The only safe value 1 is RESERVED's input cell 933.
    EXPECT_TRUE(Bit(small.safeBits, 933) && PopCount(small.safeBits) == 1);

    const _BSDLDATA large = ReadFile(kCorpus / "microchip_mpf300ts_fcg1152.bsdl");
    for (auto [name, port] : {std::pair{"IO_A5", "2 A5 2 0 1 -1 0"}, {"IO_AA2", "2 AA2 395 393 394 -1 0"},
                              {"IO_AP2", "2 AP2 692 690 691 -1 0"},  // AP: row 41
                              {"IO_AN9", "2 AN9 806 804 805 -1 0"}, {"SDO", "1 K10 -1 1626 1627 -1 0"},
                              {"TMS", "0 J9 -1 -1 -1 -1 -1"}, {"IO_F33", "absent"}})  // IO_F33: buffer
        EXPECT_EQ(Port(large, name), port) << name;
    EXPECT_EQ(large.driveMask[0] & 0x07, 0x03);
    EXPECT_TRUE(Bit(large.safeBits, 1623) && PopCount(large.safeBits) == 1);
}

// The example file: 2424 cells, input, output and control cell per I/O, rows past Z, LOCKPLL.
TEST(BsdlExample, A3pe3000BoardDesign)
{
    const _BSDLDATA d = ReadFile(fs::path(QBX_SOURCE_DIR) / "examples" / "a3pe3000.bsd");
    EXPECT_EQ(d.missingSections, 0u);
    EXPECT_EQ(d.boundaryLength, 2424);
    ASSERT_EQ(d.safeBits.size(), 303u);
    EXPECT_EQ(d.pins.size(), 813u);  // 808 user I/Os and TCK, TDI, TMS, TRST, TDO

    std::set<int> cells;
    int ios = 0;
    int pastZ = 0;
    for (const _PINDESC& p : d.pins) {
        EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, PinLabel(p).c_str()), &p) << PinLabel(p) << " is not one ball";
        pastZ += p.row >= 26;
        if (p.inCell < 0)
            continue;
        ++ios;
        EXPECT_EQ(std::vector<int>({p.outCell, p.ctrlCell, p.safe, p.disable}),
                  std::vector<int>({p.inCell + 1, p.inCell + 2, -1, 0}))
            << p.name;
        for (int c : {p.inCell, p.outCell, p.ctrlCell})
            EXPECT_TRUE(cells.insert(c).second) << "cell " << c << " used twice";
        EXPECT_TRUE(!Bit(d.driveMask, p.inCell) && Bit(d.driveMask, p.outCell) && Bit(d.driveMask, p.ctrlCell))
            << p.name;
    }
    EXPECT_EQ(ios, 808);
    EXPECT_EQ(cells.size(), 2424u);
    EXPECT_EQ(*cells.rbegin(), 2423);
    EXPECT_GT(pastZ, 200);
    EXPECT_EQ(PopCount(d.safeBits), 0);
    EXPECT_EQ(PopCount(d.driveMask), 1616);
    EXPECT_EQ(Port(d, "LOCKPLL").substr(0, 2), "1 ");
}
