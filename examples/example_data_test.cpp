// The example data: the healthy board is the design the station is meant to pass, each faulty
// board differs from it by exactly the fault it is named after, and the sensors classify as
// intended with room to spare. (The demo's operator input is run by the station's end-to-end test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bsdl.h"

using json = nlohmann::json;

namespace {

const std::string kExamples = std::string(QBX_SOURCE_DIR) + "/examples";

json Load(const std::string& name)
{
    std::ifstream in(kExamples + "/boards/" + name);
    EXPECT_TRUE(in.good()) << name;
    return in.good() ? json::parse(in) : json::object();
}

// The board without the keys a fault file may change.
json Without(json board, std::initializer_list<const char*> keys)
{
    for (const char* k : keys)
        board.erase(k);
    return board;
}

// The position of endpoint in the nets: {net, endpoint}, {-1, -1} when absent.
std::pair<int, int> Find(const json& nets, const json& endpoint)
{
    for (size_t n = 0; n < nets.size(); ++n)
        for (size_t e = 0; e < nets[n].size(); ++e)
            if (nets[n][e] == endpoint)
                return {static_cast<int>(n), static_cast<int>(e)};
    return {-1, -1};
}

// The station reads the DS2450 with a 5.1 V full scale where the converter has 5.12 V.
constexpr double kStationScale = 5.1 / 5.12;

}  // namespace

TEST(HealthyBoard, EightGoodFpgasWithManyNetsBetweenThemAndSensorsFarFromEveryLimit)
{
    _BSDLDATA bsdl;
    ASSERT_EQ(ReadBsdl((kExamples + "/a3pe3000.bsd").c_str(), bsdl), 1);
    const json file = Load("healthy.json");
    EXPECT_EQ(file["bsdl"], "../a3pe3000.bsd");
    ASSERT_EQ(file["boards"].size(), 1u);
    const json& board = file["boards"][0];
    EXPECT_EQ(board["chain_address"], 1);
    EXPECT_FALSE(board.contains("faults"));
    EXPECT_EQ(board["idcodes"], json(std::vector<std::string>(8, "0x3E74E1CF")));

    // Which pins may be on a net, and with which cells, qbx-vectors checks (its tests run it on
    // this board); here: the board's shape.
    const json& nets = board["nets"];
    EXPECT_GE(nets.size(), 40u);
    size_t wideNets = 0, byBall = 0, byName = 0, farRows = 0;
    for (const json& net : nets) {
        std::set<int> fpgas;
        for (size_t e = 0; e < net.size(); ++e) {
            const std::string text = net[e].get<std::string>();
            const std::string pin = text.substr(text.find(':') + 1);
            const bool named = pin[0] == '$';
            const _PINDESC* p = FindPin(bsdl.pins, named ? FIND_BY_NAME : FIND_BY_PIN, pin.c_str() + (named ? 1 : 0));
            ASSERT_NE(p, nullptr) << text;
            EXPECT_NE(p->dir, e == 0 ? 0 : 1) << text << ": a driver on an input port or a receiver on an output";
            fpgas.insert(std::stoi(text));
            (named ? byName : byBall)++;
            farRows += p->row >= 26 && !named;
        }
        EXPECT_EQ(fpgas.size(), net.size()) << net << ": a net joins pins of different FPGAs";
        wideNets += fpgas.size() >= 3;
    }
    EXPECT_GE(wideNets, 5u) << "some nets reach three or four FPGAs";
    EXPECT_GE(byBall, 10u);
    EXPECT_GE(byName, 10u);
    EXPECT_GE(farRows, 3u) << "some balls in rows AA..AK";

    // A thermometer with its own supply, then a supply converter and the JTAG switch's converter,
    // told apart by the station from channel A against channel B (well inside 3.0 .. 3.7 V).
    const json& devices = board["onewire"];
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0]["type"], "DS18S20");
    EXPECT_EQ(devices[0]["powered"], true);
    int switches = 0;
    for (size_t i = 1; i < devices.size(); ++i) {
        ASSERT_EQ(devices[i]["type"], "DS2450");
        std::vector<double> v;
        for (const json& x : devices[i]["volts"])
            v.push_back(x.get<double>() * kStationScale);
        ASSERT_EQ(v.size(), 4u);
        EXPECT_TRUE(v[1] > 3.1 && v[1] < 3.6) << v[1];
        const bool isSwitch = std::fabs(v[0] - v[1]) < 0.05;
        EXPECT_EQ(devices[i].value("jtag_switch", false), isSwitch);
        switches += isSwitch;
        if (isSwitch) {
            EXPECT_GT(v[3], 2.0) << "Vmem_fault needs channel D below 1.5 V";
            EXPECT_NEAR(2 * v[2], 3.3, 0.1) << "Vin";
        } else {
            EXPECT_GT(std::fabs(v[0] - v[1]), 1.0);
            EXPECT_NEAR(v[0] / 20.0 / 0.022, 0.5, 0.05) << "supply current";
            EXPECT_NEAR(v[3], 1.8, 0.05) << "Vmem";
        }
    }
    EXPECT_EQ(switches, 1);
}

// Each faulty board is the healthy board with one change (the simulator's test checks that it
// reads the fault as meant: one open, one short, a stuck net at 0, seven FPGAs, one wrong IDCODE).
TEST(FaultyBoards, EachIsTheHealthyBoardWithItsOneFault)
{
    const json healthy = Load("healthy.json")["boards"][0];
    const json& nets = healthy["nets"];
    json noEighth = json::array();  // the healthy nets that do not reach FPGA 7
    for (const json& net : nets)
        if (std::none_of(net.begin(), net.end(), [](const json& e) { return e.get<std::string>().rfind("7:", 0) == 0; }))
            noEighth.push_back(net);
    json parasite = healthy["onewire"];
    parasite[0]["powered"] = false;
    struct {
        const char* file;
        std::vector<const char*> changed;  // keys that differ from the healthy board
        std::function<void(const json&)> check;
    } cases[] = {
        {"open-pin.json", {"faults"}, [&](const json& b) { EXPECT_GE(Find(nets, b["faults"][0]["open"]).second, 1) << "a receiver"; }},
        {"short.json", {"faults"}, [&](const json& b) {
             const json& pair = b["faults"][0]["short"];
             EXPECT_GE(Find(nets, pair.at(0)).first, 0);
             EXPECT_NE(Find(nets, pair.at(0)).first, Find(nets, pair.at(1)).first) << "two nets";
         }},
        {"stuck-net.json", {"faults"}, [&](const json& b) { EXPECT_GE(Find(nets, b["faults"][0]["stuck"]).first, 0); }},
        {"seven-fpgas.json", {"idcodes", "nets"}, [&](const json& b) { EXPECT_EQ(b["nets"], noEighth); }},
        {"wrong-idcode.json", {"idcodes"}, [](const json&) {}},
        {"parasite-thermometer.json", {"onewire"}, [&](const json& b) { EXPECT_EQ(b["onewire"], parasite); }},
        {"missing-converter.json", {"onewire"}, [&](const json& b) {
             const json& ow = healthy["onewire"];
             EXPECT_EQ(b["onewire"][0], ow[0]);
             EXPECT_TRUE(b["onewire"][1] == ow[1] || b["onewire"][1] == ow[2]);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const json file = Load(c.file);
        EXPECT_EQ(file["bsdl"], "../a3pe3000.bsd");
        ASSERT_EQ(file["boards"].size(), 1u);
        json board = file["boards"][0];
        json base = healthy;
        for (const char* key : c.changed) {
            board.erase(key);
            base.erase(key);
        }
        EXPECT_EQ(Without(board, {"name"}), Without(base, {"name"}));
        EXPECT_LE(file["boards"][0].value("faults", json::array()).size(), 1u);
        c.check(file["boards"][0]);
    }

    // The demo's sequence: the healthy board, then the shorted one with other sensor serials.
    const json sequence = Load("sequence.json")["boards"];
    ASSERT_EQ(sequence.size(), 2u);
    EXPECT_EQ(Without(sequence[0], {"name"}), Without(healthy, {"name"}));
    EXPECT_EQ(Without(sequence[1], {"name", "onewire"}), Without(Load("short.json")["boards"][0], {"name", "onewire"}));
    ASSERT_EQ(sequence[1]["onewire"].size(), healthy["onewire"].size());
    for (size_t i = 0; i < healthy["onewire"].size(); ++i) {
        EXPECT_NE(sequence[1]["onewire"][i]["serial"], healthy["onewire"][i]["serial"]);
        EXPECT_EQ(Without(sequence[1]["onewire"][i], {"serial"}), Without(healthy["onewire"][i], {"serial"}));
    }
}
