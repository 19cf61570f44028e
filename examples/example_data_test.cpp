// The example data: the healthy board is the design the station is meant to pass, each faulty
// board differs from it by exactly the fault it is named after, the sensors classify as intended
// with room to spare, and the operator input is what the demo needs.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
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
    if (!in.good())
        return json::object();
    return json::parse(in);
}

const _BSDLDATA& Bsdl()
{
    static const _BSDLDATA data = [] {
        _BSDLDATA d;
        EXPECT_EQ(ReadBsdl((kExamples + "/a3pe3000.bsd").c_str(), d), 1);
        return d;
    }();
    return data;
}

const _PINDESC* Resolve(const std::string& endpoint, int* fpga)
{
    size_t colon = endpoint.find(':');
    if (colon == std::string::npos)
        return nullptr;
    *fpga = std::stoi(endpoint.substr(0, colon));
    std::string pin = endpoint.substr(colon + 1);
    return pin[0] == '$' ? FindPin(Bsdl().pins, FIND_BY_NAME, pin.c_str() + 1)
                         : FindPin(Bsdl().pins, FIND_BY_PIN, pin.c_str());
}

// The board without the keys a fault file may change.
json Without(json board, std::initializer_list<const char*> keys)
{
    for (const char* k : keys)
        board.erase(k);
    return board;
}

// The station reads the DS2450 with a 5.1 V full scale where the converter has 5.12 V.
constexpr double kStationScale = 5.1 / 5.12;

enum class AdcRole { Supply, Switch, Unassigned };

// The station's classification of one converter, from the voltages it would read.
AdcRole Classify(const json& device)
{
    float a = static_cast<float>(device["volts"][0].get<double>() * kStationScale);
    float b = static_cast<float>(device["volts"][1].get<double>() * kStationScale);
    if (!(b > 3.0f && b < 3.7f))
        return AdcRole::Unassigned;
    return std::fabs(a - b) < 0.1f ? AdcRole::Switch : AdcRole::Supply;
}

TEST(HealthyBoard, IsEightGoodFpgasWithManyNetsBetweenThem)
{
    const json file = Load("healthy.json");
    EXPECT_EQ(file["bsdl"], "../a3pe3000.bsd");
    ASSERT_EQ(file["boards"].size(), 1u);
    const json& board = file["boards"][0];
    EXPECT_EQ(board["chain_address"], 1);
    EXPECT_EQ(board["pull"], 1);
    EXPECT_FALSE(board.contains("faults"));
    ASSERT_EQ(board["idcodes"].size(), 8u);
    for (const json& id : board["idcodes"])
        EXPECT_EQ(id, "0x3E74E1CF");

    const json& nets = board["nets"];
    EXPECT_GE(nets.size(), 40u);
    EXPECT_LE(nets.size(), 60u);
    std::set<std::pair<int, const _PINDESC*>> pins;
    size_t wideNets = 0, byBall = 0, byName = 0, farRows = 0;
    for (const json& net : nets) {
        ASSERT_GE(net.size(), 2u) << net;
        ASSERT_LE(net.size(), 4u) << net;
        std::set<int> fpgas;
        for (size_t e = 0; e < net.size(); ++e) {
            const std::string text = net[e].get<std::string>();
            int fpga = -1;
            const _PINDESC* pin = Resolve(text, &fpga);
            ASSERT_NE(pin, nullptr) << text;
            EXPECT_NE(pin->name, "LOCKPLL") << text;
            EXPECT_TRUE(pins.insert({fpga, pin}).second) << text << " is on two nets";
            fpgas.insert(fpga);
            if (e == 0) {
                EXPECT_GE(pin->outCell, 0) << text;
                EXPECT_NE(pin->dir, 0) << text << ": a driver on an input port";
            } else {
                EXPECT_GE(pin->inCell, 0) << text;
                EXPECT_NE(pin->dir, 1) << text << ": a receiver on an output port";
            }
            (text.find('$') != std::string::npos ? byName : byBall)++;
            farRows += pin->row >= 26 && text.find('$') == std::string::npos;
        }
        EXPECT_EQ(fpgas.size(), net.size()) << net << ": a net joins pins of different FPGAs";
        wideNets += fpgas.size() >= 3;
    }
    EXPECT_GE(wideNets, 5u) << "some nets reach three or four FPGAs";
    EXPECT_GE(byBall, 10u);
    EXPECT_GE(byName, 10u);
    EXPECT_GE(farRows, 3u) << "some balls in rows AA..AK";
}

TEST(HealthyBoard, SensorsClassifyAsIntendedFarFromEveryLimit)
{
    const json file = Load("healthy.json");
    const json& devices = file["boards"][0]["onewire"];
    ASSERT_EQ(devices.size(), 3u);
    const json& thermometer = devices[0];
    EXPECT_EQ(thermometer["type"], "DS18S20");
    EXPECT_EQ(thermometer["powered"], true);

    int supply = 0, sw = 0;
    for (size_t i = 1; i < devices.size(); ++i) {
        const json& d = devices[i];
        ASSERT_EQ(d["type"], "DS2450");
        std::vector<double> v;
        for (const json& x : d["volts"])
            v.push_back(x.get<double>() * kStationScale);
        ASSERT_EQ(v.size(), 4u);
        // Channel B well inside (3.0, 3.7).
        EXPECT_GT(v[1], 3.1);
        EXPECT_LT(v[1], 3.6);
        if (Classify(d) == AdcRole::Switch) {
            ++sw;
            EXPECT_EQ(d.value("jtag_switch", false), true) << "adcsensor2 carries the JTAG switch";
            EXPECT_LT(std::fabs(v[0] - v[1]), 0.05);
            EXPECT_GT(v[3], 2.0) << "Vmem_fault needs channel D below 1.5 V";
            EXPECT_NEAR(2 * v[2], 3.3, 0.1) << "Vin";
        } else {
            ++supply;
            EXPECT_EQ(d.value("jtag_switch", false), false);
            EXPECT_GT(std::fabs(v[0] - v[1]), 1.0);
            EXPECT_NEAR(v[0] / 20.0 / 0.022, 0.5, 0.05) << "supply current";
            EXPECT_NEAR(v[3], 1.8, 0.05) << "Vmem";
        }
    }
    EXPECT_EQ(supply, 1);
    EXPECT_EQ(sw, 1);
}

// Each faulty board is the healthy board with one change.
class FaultyBoard : public ::testing::Test {
protected:
    void SetUp() override { m_Healthy = Load("healthy.json")["boards"][0]; }

    const json& Board(const std::string& name)
    {
        m_File = Load(name);
        EXPECT_EQ(m_File["bsdl"], "../a3pe3000.bsd");
        EXPECT_EQ(m_File["boards"].size(), 1u);
        return m_File["boards"][0];
    }

    // The index of the net that holds endpoint, and its position there; (-1, -1) when none.
    std::pair<int, int> Find(const std::string& endpoint) const
    {
        const json& nets = m_Healthy["nets"];
        for (size_t n = 0; n < nets.size(); ++n)
            for (size_t e = 0; e < nets[n].size(); ++e)
                if (nets[n][e] == endpoint)
                    return {static_cast<int>(n), static_cast<int>(e)};
        return {-1, -1};
    }

    json m_Healthy;
    json m_File;
};

TEST_F(FaultyBoard, OpenPinIsOneReceiverOpen)
{
    const json& board = Board("open-pin.json");
    EXPECT_EQ(Without(board, {"name", "faults"}), Without(m_Healthy, {"name"}));
    ASSERT_EQ(board["faults"].size(), 1u);
    auto [net, position] = Find(board["faults"][0]["open"].get<std::string>());
    EXPECT_GE(net, 0);
    EXPECT_GE(position, 1) << "a receiving pin";
}

TEST_F(FaultyBoard, ShortJoinsTwoNets)
{
    const json& board = Board("short.json");
    EXPECT_EQ(Without(board, {"name", "faults"}), Without(m_Healthy, {"name"}));
    ASSERT_EQ(board["faults"].size(), 1u);
    const json& pair = board["faults"][0]["short"];
    ASSERT_EQ(pair.size(), 2u);
    auto a = Find(pair[0].get<std::string>());
    auto b = Find(pair[1].get<std::string>());
    EXPECT_GE(a.first, 0);
    EXPECT_GE(b.first, 0);
    EXPECT_NE(a.first, b.first);
}

TEST_F(FaultyBoard, StuckNetReadsZero)
{
    const json& board = Board("stuck-net.json");
    EXPECT_EQ(Without(board, {"name", "faults"}), Without(m_Healthy, {"name"}));
    ASSERT_EQ(board["faults"].size(), 1u);
    EXPECT_GE(Find(board["faults"][0]["stuck"].get<std::string>()).first, 0);
    EXPECT_EQ(board["faults"][0]["value"], 0);
}

TEST_F(FaultyBoard, SevenFpgasLacksTheEighthAndItsNets)
{
    const json& board = Board("seven-fpgas.json");
    EXPECT_EQ(Without(board, {"name", "idcodes", "nets"}), Without(m_Healthy, {"name", "idcodes", "nets"}));
    EXPECT_EQ(board["idcodes"], json(std::vector<std::string>(7, "0x3E74E1CF")));
    json expected = json::array();
    for (const json& net : m_Healthy["nets"]) {
        bool onEighth = false;
        for (const json& e : net)
            onEighth = onEighth || e.get<std::string>().rfind("7:", 0) == 0;
        if (!onEighth)
            expected.push_back(net);
    }
    EXPECT_EQ(board["nets"], expected);
    EXPECT_GE(expected.size(), 20u);
}

TEST_F(FaultyBoard, WrongIdcodeIsOneFpga)
{
    const json& board = Board("wrong-idcode.json");
    EXPECT_EQ(Without(board, {"name", "idcodes"}), Without(m_Healthy, {"name", "idcodes"}));
    ASSERT_EQ(board["idcodes"].size(), 8u);
    int wrong = 0;
    for (const json& id : board["idcodes"])
        wrong += id != "0x3E74E1CF";
    EXPECT_EQ(wrong, 1);
}

TEST_F(FaultyBoard, ParasiteThermometerIsNotPowered)
{
    const json& board = Board("parasite-thermometer.json");
    EXPECT_EQ(Without(board, {"name", "onewire"}), Without(m_Healthy, {"name", "onewire"}));
    json expected = m_Healthy["onewire"];
    expected[0]["powered"] = false;
    EXPECT_EQ(board["onewire"], expected);
}

TEST_F(FaultyBoard, MissingConverterLeavesOneDs2450)
{
    const json& board = Board("missing-converter.json");
    EXPECT_EQ(Without(board, {"name", "onewire"}), Without(m_Healthy, {"name", "onewire"}));
    int adcs = 0;
    for (const json& d : board["onewire"]) {
        adcs += d["type"] == "DS2450";
        EXPECT_NE(std::find(m_Healthy["onewire"].begin(), m_Healthy["onewire"].end(), d), m_Healthy["onewire"].end());
    }
    EXPECT_EQ(adcs, 1);
    EXPECT_EQ(board["onewire"].size(), 2u);
}

TEST_F(FaultyBoard, SequenceIsAPassingBoardThenAShortedOne)
{
    m_File = Load("sequence.json");
    ASSERT_EQ(m_File["boards"].size(), 2u);
    const json& first = m_File["boards"][0];
    const json& second = m_File["boards"][1];
    EXPECT_EQ(Without(first, {"name"}), Without(m_Healthy, {"name"}));
    const json shortBoard = Load("short.json")["boards"][0];
    EXPECT_EQ(Without(second, {"name", "onewire"}), Without(shortBoard, {"name", "onewire"}));
    ASSERT_EQ(second["onewire"].size(), first["onewire"].size());
    for (size_t i = 0; i < first["onewire"].size(); ++i) {
        EXPECT_NE(second["onewire"][i]["serial"], first["onewire"][i]["serial"]);
        EXPECT_EQ(Without(second["onewire"][i], {"serial"}), Without(first["onewire"][i], {"serial"}));
    }
}

TEST(OperatorInput, TwoBoardsThenZero)
{
    std::ifstream in(kExamples + "/operator-input.txt", std::ios::binary);
    ASSERT_TRUE(in.good());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    for (size_t board = 0; board < 2; ++board) {
        const std::string& serial = lines[2 * board];
        ASSERT_FALSE(serial.empty());
        EXPECT_EQ(serial.find_first_not_of("0123456789"), std::string::npos) << serial;
        EXPECT_GT(std::stoul(serial), 0u);
        double current = std::stod(lines[2 * board + 1]);
        EXPECT_GE(current, 0.4);
        EXPECT_LE(current, 0.8);
    }
    EXPECT_NE(lines[0], lines[2]) << "two boards, two serial numbers";
    EXPECT_EQ(lines[4], "0");
}

}  // namespace
