// Every example board file loads in the simulator, which then holds the fault it is named after.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "board_file.h"

namespace fs = std::filesystem;

namespace {

const fs::path kBoards = fs::path(QBX_SOURCE_DIR) / "examples" / "boards";

std::unique_ptr<qbxsim::_SIMCONFIG> LoadExample(const std::string& name)
{
    std::string error;
    auto config = qbxsim::LoadBoardFile((kBoards / name).string(), &error);
    EXPECT_NE(config, nullptr) << error;
    EXPECT_EQ(error, "");
    return config;
}

// Family codes of a board's 1-Wire devices, in file order.
std::vector<int> Families(const qbxsim::_SIMCONFIG& config, size_t board)
{
    std::vector<int> families;
    for (const auto& device : config.oneWire.at(board))
        families.push_back(static_cast<int>(device->Rom() & 0xFF));
    return families;
}

TEST(ExampleBoardsInSimulator, EveryFileLoads)
{
    size_t files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(kBoards)) {
        if (entry.path().extension() != ".json")
            continue;
        ++files;
        SCOPED_TRACE(entry.path().filename().string());
        auto config = LoadExample(entry.path().filename().string());
        ASSERT_NE(config, nullptr);
        EXPECT_FALSE(config->boards.empty());
        EXPECT_EQ(config->boards.size(), config->oneWire.size());
        for (const qbxsim::_SIMBOARDSPEC& board : config->boards)
            EXPECT_EQ(board.chainAddress, 1);
    }
    EXPECT_EQ(files, 9u);
}

TEST(ExampleBoardsInSimulator, EachHoldsItsFault)
{
    const std::vector<int> healthySensors{0x10, 0x20, 0x20};
    auto healthy = LoadExample("healthy.json");
    ASSERT_NE(healthy, nullptr);
    const qbxsim::_SIMBOARDSPEC& h = healthy->boards.at(0);
    EXPECT_EQ(h.idcodes.size(), 8u);
    EXPECT_GE(h.nets.size(), 40u);
    EXPECT_TRUE(h.opens.empty() && h.shorts.empty() && h.stucks.empty());
    EXPECT_EQ(Families(*healthy, 0), healthySensors);

    auto open = LoadExample("open-pin.json");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->boards.at(0).opens.size(), 1u);
    EXPECT_TRUE(open->boards.at(0).shorts.empty() && open->boards.at(0).stucks.empty());

    auto shorted = LoadExample("short.json");
    ASSERT_NE(shorted, nullptr);
    EXPECT_EQ(shorted->boards.at(0).shorts.size(), 1u);

    auto stuck = LoadExample("stuck-net.json");
    ASSERT_NE(stuck, nullptr);
    ASSERT_EQ(stuck->boards.at(0).stucks.size(), 1u);
    EXPECT_EQ(stuck->boards.at(0).stucks[0].second, 0);

    auto seven = LoadExample("seven-fpgas.json");
    ASSERT_NE(seven, nullptr);
    EXPECT_EQ(seven->boards.at(0).idcodes.size(), 7u);

    auto wrong = LoadExample("wrong-idcode.json");
    ASSERT_NE(wrong, nullptr);
    int other = 0;
    for (const auto& id : wrong->boards.at(0).idcodes)
        other += id != std::optional<uint32_t>(0x3E74E1CFu);
    EXPECT_EQ(other, 1);

    auto parasite = LoadExample("parasite-thermometer.json");
    ASSERT_NE(parasite, nullptr);
    EXPECT_EQ(Families(*parasite, 0), healthySensors);

    auto missing = LoadExample("missing-converter.json");
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(Families(*missing, 0), (std::vector<int>{0x10, 0x20}));

    auto sequence = LoadExample("sequence.json");
    ASSERT_NE(sequence, nullptr);
    ASSERT_EQ(sequence->boards.size(), 2u);
    EXPECT_TRUE(sequence->boards[0].shorts.empty());
    EXPECT_EQ(sequence->boards[1].shorts.size(), 1u);
    EXPECT_NE(sequence->oneWire[0][0]->Rom(), sequence->oneWire[1][0]->Rom());
}

}  // namespace
