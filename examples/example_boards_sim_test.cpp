// Every example board file loads in the simulator, which then holds the fault it is named after.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "board_file.h"

namespace fs = std::filesystem;

TEST(ExampleBoardsInSimulator, EveryFileLoadsWithItsFault)
{
    // Per board: chain length, IDCODEs other than the A3PE3000's, opens, shorts, stuck nets (with
    // their values), and the 1-Wire family codes.
    const std::map<std::string, std::string> expected = {
        {"healthy.json", "8 0 0 0 - 16 32 32"},
        {"open-pin.json", "8 0 1 0 - 16 32 32"},
        {"short.json", "8 0 0 1 - 16 32 32"},
        {"stuck-net.json", "8 0 0 0 0 16 32 32"},
        {"seven-fpgas.json", "7 0 0 0 - 16 32 32"},
        {"wrong-idcode.json", "8 1 0 0 - 16 32 32"},
        {"parasite-thermometer.json", "8 0 0 0 - 16 32 32"},
        {"missing-converter.json", "8 0 0 0 - 16 32"},
        {"sequence.json", "8 0 0 0 - 16 32 32 | 8 0 0 1 - 16 32 32"},
    };
    size_t files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(QBX_SOURCE_DIR) / "examples" / "boards")) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".json")
            continue;
        ++files;
        std::string error;
        auto config = qbxsim::LoadBoardFile(entry.path().string(), &error);
        ASSERT_NE(config, nullptr) << name << ": " << error;
        ASSERT_EQ(config->boards.size(), config->oneWire.size()) << name;
        std::string summary;
        for (size_t b = 0; b < config->boards.size(); ++b) {
            const qbxsim::_SIMBOARDSPEC& board = config->boards[b];
            EXPECT_EQ(board.chainAddress, 1) << name;
            int other = 0;
            for (const auto& id : board.idcodes)
                other += id != std::optional<uint32_t>(0x3E74E1CFu);
            summary += (b ? " | " : "") + std::to_string(board.idcodes.size()) + " " + std::to_string(other) + " " +
                       std::to_string(board.opens.size()) + " " + std::to_string(board.shorts.size()) + " ";
            for (const auto& stuck : board.stucks)
                summary += std::to_string(stuck.second);
            summary += board.stucks.empty() ? "-" : "";
            for (const auto& device : config->oneWire[b])
                summary += " " + std::to_string(device->Rom() & 0xFF);
        }
        EXPECT_EQ(summary, expected.count(name) ? expected.at(name) : "no expectation") << name;
    }
    EXPECT_EQ(files, expected.size());
}
