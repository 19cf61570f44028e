// The example data: the healthy board is the design the station is meant to pass, and its sensors
// classify as intended with room to spare. (example_boards_sim_test.cpp checks that each faulty
// board holds the fault it is named after; the demo's run is compared byte for byte by the
// station's end-to-end test.)
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
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

