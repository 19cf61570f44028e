// The test-support helpers themselves: the fallback BSDL has the A3PE3000's shape, the healthy
// board is healthy by the station's own rules, files and folders behave.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim_board.h"
#include "bsdl.h"
#include "supply.h"

using namespace qbxtest;

TEST(TempDir, ExistsWhileTheObjectLivesAndIsRemovedWithItsContent)
{
    std::string path;
    {
        TempDir dir;
        path = dir.Path();
        ASSERT_TRUE(std::filesystem::is_directory(path));
        std::ofstream(dir.File("a.txt")) << "x";
        std::filesystem::create_directory(dir.File("sub"));
        std::ofstream(dir.File("sub/b.txt")) << "y";
        TempDir other;
        EXPECT_NE(other.Path(), path);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(BoardFile, HealthyBoardSatisfiesTheStationsRules)
{
    const nlohmann::json file = HealthyBoard("x.bsd");
    const nlohmann::json& board = file.at("boards").at(0);
    EXPECT_EQ(board.at("chain_address"), 1);
    ASSERT_EQ(board.at("idcodes").size(), 8u);
    for (const auto& code : board.at("idcodes"))
        EXPECT_EQ(std::strtoul(code.get<std::string>().c_str(), nullptr, 16), 0x3E74E1CFul);

    int thermometers = 0, sensor1 = 0, sensor2 = 0;
    for (const auto& device : board.at("onewire")) {
        if (device.at("type") == "DS18S20") {
            ++thermometers;
            EXPECT_TRUE(device.at("powered").get<bool>());
            continue;
        }
        const auto volts = device.at("volts").get<std::vector<float>>();
        ASSERT_EQ(volts.size(), 4u);
        const AdcRole role = ClassifyAdc(volts[0], volts[1]);
        // Still the same role when read 0.4 % low (a 5.12 V device read with 5.1 V scaling).
        EXPECT_EQ(ClassifyAdc(volts[0] * 5.1f / 5.12f, volts[1] * 5.1f / 5.12f), role);
        if (role == ADC_SENSOR1) {
            ++sensor1;
            EXPECT_FALSE(device.value("jtag_switch", false));
        } else if (role == ADC_SENSOR2) {
            ++sensor2;
            EXPECT_TRUE(device.at("jtag_switch").get<bool>());
            EXPECT_FALSE(VmemFault(volts[3]));
            EXPECT_NEAR(SupplyVin(volts[2]), 3.3f, 0.01f);
        }
    }
    EXPECT_EQ(thermometers, 1);
    EXPECT_EQ(sensor1, 1);
    EXPECT_EQ(sensor2, 1);
}

TEST(BoardFile, WritingFillsAMissingBsdlAndKeepsAGivenOne)
{
    TempDir dir;
    nlohmann::json file = HealthyBoard("given.bsd");
    FirstBoard(file)["name"] = "changed";
    const std::string path = WriteBoardFile(dir, file, "one.json");
    nlohmann::json back = nlohmann::json::parse(std::ifstream(path));
    EXPECT_EQ(back.at("bsdl"), "given.bsd");
    EXPECT_EQ(FirstBoard(back).at("name"), "changed");

    file.erase("bsdl");
    back = nlohmann::json::parse(std::ifstream(WriteBoardFile(dir, file, "two.json")));
    const std::string bsdl = back.at("bsdl").get<std::string>();
    EXPECT_TRUE(std::filesystem::is_regular_file(bsdl)) << bsdl;
}

TEST(FallbackBsdl, ReadsAsAnA3pe3000Boundary)
{
    TempDir dir;
    _BSDLDATA data;
    ASSERT_EQ(ReadBsdl(WriteFallbackBsdl(dir.Path()).c_str(), data), 1);
    EXPECT_EQ(data.missingSections, 0u);
    EXPECT_EQ(data.safeBits.size(), 303u);
    EXPECT_EQ(data.driveMask.size(), 303u);
    ASSERT_EQ(data.pins.size(), 4u + 808u);
    const _PINDESC* lockpll = FindPin(data.pins, FIND_BY_NAME, "LOCKPLL");
    ASSERT_NE(lockpll, nullptr);
    EXPECT_EQ(lockpll->inCell, 0);
    EXPECT_EQ(lockpll->outCell, 1);
    EXPECT_EQ(lockpll->ctrlCell, 2);
    EXPECT_EQ(lockpll->disable, 0);
    const _PINDESC* last = FindPin(data.pins, FIND_BY_PIN, "Z8");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->name, "IO_807");
    EXPECT_EQ(last->ctrlCell, 2423);
    // Output and control cells are driven, input cells are not.
    for (int cell = 0; cell < 2424; ++cell)
        ASSERT_EQ((data.driveMask[cell / 8] >> (cell % 8)) & 1, cell % 3 == 0 ? 0 : 1) << cell;
}
