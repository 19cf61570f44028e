// The reader on real files: the team's corpus of vendor BSDL files (../shared/bsdl) and the
// example A3PE3000 file of this repository.
#include "bsdl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

const unsigned P = BSDL_SECTION_PORTS;
const unsigned L = BSDL_SECTION_LENGTH;
const unsigned R = BSDL_SECTION_REGISTER;

struct Expectation {
    unsigned missing;
    int length;
    size_t ports;
};

// What each corpus file gives. Most write 'port (' with a blank, or end the register's header
// line with "is" and start the strings on the next line, so the station's patterns do not find
// those sections; the lengths are those in the files where the length pattern matches.
const std::map<std::string, Expectation> kCorpus = {
    {"adi_adsp2156x_lqfp.bsdl", {P | L | R, 0, 0}},      // "ENTITY: entity is" - the name swallows ":"
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
    {"nxp_mpc5676r_516.bsdl", {R, 524, 34}},
    {"pango_pg2l100h_fbg676.bsm", {P | R, 645, 0}},
    {"renesas_r1qda3636.bsd", {P | R, 109, 0}},        // "[^ ]+" takes "R1QDA3636<TAB>:" whole
    {"st_stm32f405_lqfp100.bsd", {P | L | R, 0, 0}},
    {"st_stm32f469_tfbga216.bsd", {P | L | R, 0, 0}},
    {"ti_sn74bct8244a.bsm", {P | R, 18, 0}},
    {"xilinx_xa3s400_fg456.bsdl", {P | R, 815, 0}},
    {"xilinx_xc2c64a_vq44.bsd", {P, 192, 0}},
    {"xilinx_xc6vsx475t_ff1759.bsd", {P | R, 3409, 0}},
};

fs::path CorpusDir()
{
    return fs::path(QBX_SHARED_DIR) / "bsdl";
}

_BSDLDATA ReadCorpusFile(const char* name)
{
    _BSDLDATA data;
    std::string path = (CorpusDir() / name).string();
    EXPECT_EQ(ReadBsdl(path.c_str(), data), 1) << path;
    return data;
}

int PopCount(const std::vector<uint8_t>& image)
{
    int n = 0;
    for (uint8_t b : image)
        n += __builtin_popcount(b);
    return n;
}

void ExpectPin(const _BSDLDATA& d, const char* name, int dir, int row, int number, int in, int out, int ctrl,
               int safe, int disable)
{
    const _PINDESC* p = FindPin(d.pins, FIND_BY_NAME, name);
    ASSERT_NE(p, nullptr) << name;
    EXPECT_EQ(p->dir, dir) << name;
    EXPECT_EQ(p->row, row) << name;
    EXPECT_EQ(p->number, number) << name;
    EXPECT_EQ(p->inCell, in) << name;
    EXPECT_EQ(p->outCell, out) << name;
    EXPECT_EQ(p->ctrlCell, ctrl) << name;
    EXPECT_EQ(p->safe, safe) << name;
    EXPECT_EQ(p->disable, disable) << name;
}

#define REQUIRE_CORPUS()                                                                        \
    do {                                                                                        \
        if (!fs::is_directory(CorpusDir()))                                                     \
            GTEST_SKIP() << "no BSDL corpus at " << CorpusDir().string() << " (needs ../shared)"; \
    } while (0)

}  // namespace

TEST(BsdlCorpus, EveryFileReadsWithItsSectionsAccountedFor)
{
    REQUIRE_CORPUS();
    int files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(CorpusDir())) {
        std::string name = entry.path().filename().string();
        if (name == "SOURCES.md")
            continue;
        ++files;
        auto it = kCorpus.find(name);
        if (it == kCorpus.end()) {
            ADD_FAILURE() << "no expectations for corpus file " << name;
            continue;
        }
        const Expectation& e = it->second;
        _BSDLDATA d = ReadCorpusFile(name.c_str());
        EXPECT_EQ(d.missingSections, e.missing) << name;
        EXPECT_EQ(d.boundaryLength, e.length) << name;
        EXPECT_EQ(d.pins.size(), e.ports) << name;
        size_t bytes = static_cast<size_t>((e.length - 1) / 8 + 1);
        EXPECT_EQ(d.safeBits.size(), bytes) << name;
        EXPECT_EQ(d.driveMask.size(), bytes) << name;
        // The pin map is found in every file; without ports nothing can be driven.
        EXPECT_FALSE(d.missingSections & BSDL_SECTION_PIN_MAP) << name;
        if (d.pins.empty() || (d.missingSections & BSDL_SECTION_REGISTER)) {
            EXPECT_EQ(PopCount(d.driveMask), 0) << name;
        }
    }
    EXPECT_EQ(files, static_cast<int>(kCorpus.size()));
}

TEST(BsdlCorpus, RegisterWithoutPortsSetsSafeBitsOnly)
{
    REQUIRE_CORPUS();
    // xc2c64a: the register (192 cells, safe values 0 and X only) is read, but with no ports
    // no record takes a cell and nothing is driven.
    _BSDLDATA d = ReadCorpusFile("xilinx_xc2c64a_vq44.bsd");
    EXPECT_TRUE(d.pins.empty());
    EXPECT_EQ(d.safeBits.size(), 24u);
    EXPECT_EQ(PopCount(d.safeBits), 0);
    EXPECT_EQ(PopCount(d.driveMask), 0);
}

TEST(BsdlCorpus, NamesWrittenAgainstTheirColons)
{
    REQUIRE_CORPUS();
    // The MPC5676R list writes "ETPUA:        inout ..." - the colon belongs to the name token,
    // so each name scan runs on to the next line's colon and the names keep their ":".
    _BSDLDATA d = ReadCorpusFile("nxp_mpc5676r_516.bsdl");
    ASSERT_FALSE(d.pins.empty());
    EXPECT_EQ(d.pins[0].name, "ETPUA:");
    EXPECT_EQ(d.pins[0].dir, 2);
    EXPECT_EQ(FindPin(d.pins, FIND_BY_NAME, "ETPUA"), nullptr);
    for (const _PINDESC& p : d.pins)
        EXPECT_EQ(p.number, -1) << p.name;  // the pin map names ports without the colon
}

TEST(BsdlCorpus, PolarFireMpf100t)
{
    REQUIRE_CORPUS();
    _BSDLDATA d = ReadCorpusFile("microchip_mpf100t_fcg484.bsdl");
    ASSERT_EQ(d.missingSections, 0u);
    ASSERT_EQ(d.safeBits.size(), 118u);
    //               name        dir row num   in   out  ctrl safe dis
    ExpectPin(d, "IO_B3", 2, 1, 3, 2, 0, 1, -1, 0);
    ExpectPin(d, "IO_AA1", 2, 26, 1, 275, 273, 274, -1, 0);
    ExpectPin(d, "IO_AB9", 2, 27, 9, 545, 543, 544, -1, 0);
    ExpectPin(d, "IO_A20", 0, 0, 20, -1, -1, -1, -1, -1);
    ExpectPin(d, "IO_AA19", 0, 26, 19, -1, -1, -1, -1, -1);
    ExpectPin(d, "SDO", 1, 6, 5, -1, 936, 937, -1, 0);
    ExpectPin(d, "RESERVED", 0, 7, 11, 933, -1, -1, -1, -1);
    ExpectPin(d, "SCK", 2, 6, 3, 943, 941, 942, -1, 0);
    ExpectPin(d, "TDO", 1, 5, 6, -1, -1, -1, -1, -1);
    // linkage and buffer ports are not in the table
    EXPECT_EQ(FindPin(d.pins, FIND_BY_NAME, "DEVRST_N"), nullptr);
    EXPECT_EQ(FindPin(d.pins, FIND_BY_NAME, "IO_B21"), nullptr);
    EXPECT_EQ(FindPin(d.pins, FIND_BY_NAME, "IO_B22"), nullptr);
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "AA1"), FindPin(d.pins, FIND_BY_NAME, "IO_AA1"));
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "AB9"), FindPin(d.pins, FIND_BY_NAME, "IO_AB9"));
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "B3"), FindPin(d.pins, FIND_BY_NAME, "IO_B3"));
    // cells 0..7: output, control, input of IO_B3, IO_B2, then IO_D3's output and control
    EXPECT_EQ(d.driveMask[0], 0xDB);
    // cells 928..935: IO_E5 input, IO_F5 output+control+input, four input-only cells
    EXPECT_EQ(d.driveMask[116], 0x06);
    // cells 936..943: SDO output+control, SS output+control+input, SCK output+control+input
    EXPECT_EQ(d.driveMask[117], 0x6F);
    // The only safe value 1 is RESERVED's input cell 933.
    EXPECT_EQ(d.safeBits[116], 0x20);
    EXPECT_EQ(PopCount(d.safeBits), 1);
}

TEST(BsdlCorpus, PolarFireMpf300ts)
{
    REQUIRE_CORPUS();
    _BSDLDATA d = ReadCorpusFile("microchip_mpf300ts_fcg1152.bsdl");
    ASSERT_EQ(d.missingSections, 0u);
    ASSERT_EQ(d.safeBits.size(), 205u);
    ExpectPin(d, "IO_A5", 2, 0, 5, 2, 0, 1, -1, 0);
    ExpectPin(d, "IO_AA2", 2, 26, 2, 395, 393, 394, -1, 0);
    ExpectPin(d, "IO_AP2", 2, 41, 2, 692, 690, 691, -1, 0);  // AP: row 41
    ExpectPin(d, "IO_AN9", 2, 39, 9, 806, 804, 805, -1, 0);
    ExpectPin(d, "SDO", 1, 10, 10, -1, 1626, 1627, -1, 0);  // K10
    ExpectPin(d, "TDO", 1, 10, 9, -1, -1, -1, -1, -1);      // K9
    ExpectPin(d, "TMS", 0, 9, 9, -1, -1, -1, -1, -1);       // J9
    EXPECT_EQ(FindPin(d.pins, FIND_BY_NAME, "IO_F33"), nullptr);  // buffer
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "AP2"), FindPin(d.pins, FIND_BY_NAME, "IO_AP2"));
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "AN9"), FindPin(d.pins, FIND_BY_NAME, "IO_AN9"));
    // cells 0..2 of IO_A5: output and control driven, input not
    EXPECT_EQ(d.driveMask[0] & 0x07, 0x03);
    // RESERVED's input cell 1623 is the only safe value 1
    EXPECT_EQ(d.safeBits[202], 0x80);
    EXPECT_EQ(PopCount(d.safeBits), 1);
}

// ---- the example file of this repository ------------------------------------------------------

TEST(BsdlExample, A3pe3000BoardDesign)
{
    std::string path = std::string(QBX_SOURCE_DIR) + "/examples/a3pe3000.bsd";
    _BSDLDATA d;
    ASSERT_EQ(ReadBsdl(path.c_str(), d), 1) << path;
    EXPECT_EQ(d.missingSections, 0u);
    EXPECT_EQ(d.boundaryLength, 2424);
    ASSERT_EQ(d.safeBits.size(), 303u);
    ASSERT_EQ(d.driveMask.size(), 303u);
    EXPECT_EQ(d.pins.size(), 813u);  // 808 user I/Os and TCK, TDI, TMS, TRST, TDO

    std::set<int> cells;
    std::set<std::pair<int, int>> balls;
    int ios = 0;
    int pastZ = 0;
    for (const _PINDESC& p : d.pins) {
        EXPECT_GE(p.number, 1) << p.name;
        EXPECT_LE(p.number, 30) << p.name;
        EXPECT_TRUE(balls.insert({p.row, p.number}).second) << p.name << " shares its ball";
        const _PINDESC* byBall = FindPin(d.pins, FIND_BY_PIN, PinLabel(p).c_str());
        EXPECT_EQ(byBall, &p) << PinLabel(p);
        if (p.row >= 26)
            ++pastZ;
        if (p.inCell < 0)
            continue;
        ++ios;
        EXPECT_EQ(p.outCell, p.inCell + 1) << p.name;
        EXPECT_EQ(p.ctrlCell, p.inCell + 2) << p.name;
        EXPECT_EQ(p.safe, -1) << p.name;
        EXPECT_EQ(p.disable, 0) << p.name;
        for (int c : {p.inCell, p.outCell, p.ctrlCell})
            EXPECT_TRUE(cells.insert(c).second) << "cell " << c << " used twice";
    }
    EXPECT_EQ(ios, 808);
    ASSERT_EQ(cells.size(), 2424u);
    EXPECT_EQ(*cells.begin(), 0);
    EXPECT_EQ(*cells.rbegin(), 2423);
    EXPECT_GT(pastZ, 200);

    const _PINDESC* lock = FindPin(d.pins, FIND_BY_NAME, "LOCKPLL");
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lock->dir, 1);
    EXPECT_GE(lock->outCell, 0);
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "LOCKPLL"), nullptr);

    for (const char* jtag : {"TCK", "TDI", "TMS", "TRST", "TDO"}) {
        const _PINDESC* p = FindPin(d.pins, FIND_BY_NAME, jtag);
        ASSERT_NE(p, nullptr) << jtag;
        EXPECT_EQ(p->inCell, -1);
        EXPECT_EQ(p->outCell, -1);
        EXPECT_EQ(p->row, 36);  // row AK
    }
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "AK26"), FindPin(d.pins, FIND_BY_NAME, "TCK"));
    EXPECT_EQ(FindPin(d.pins, FIND_BY_PIN, "AK30"), FindPin(d.pins, FIND_BY_NAME, "TDO"));
    EXPECT_EQ(FindPin(d.pins, FIND_BY_NAME, "GND"), nullptr);  // linkage

    // Safe values are all X or 0; output and control cells are driven, input cells not.
    EXPECT_EQ(PopCount(d.safeBits), 0);
    EXPECT_EQ(PopCount(d.driveMask), 1616);
    for (const _PINDESC& p : d.pins) {
        if (p.inCell < 0)
            continue;
        EXPECT_FALSE((d.driveMask[p.inCell / 8] >> (p.inCell % 8)) & 1) << p.name;
        EXPECT_TRUE((d.driveMask[p.outCell / 8] >> (p.outCell % 8)) & 1) << p.name;
        EXPECT_TRUE((d.driveMask[p.ctrlCell / 8] >> (p.ctrlCell % 8)) & 1) << p.name;
    }
}
