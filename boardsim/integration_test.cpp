// The simulator as libusbwire.so loads it: stats and trace files (channel A's 1-Wire counters), and
// board files it cannot use. Each case runs in its own process and sets its driver before the open.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sim_board.h"
#include "sim_host.h"

namespace qbxsim {
namespace {

class Integration : public ::testing::Test {
protected:
    void TearDown() override
    {
        JTAG_Close(m_Jtag);  // null: nothing
        I2C_Close(m_I2c);
    }
    // Opens channel B with standard error captured; returns what the simulator said.
    std::string OpenJtagQuietly()
    {
        ::testing::internal::CaptureStderr();
        m_Jtag = JTAG_Open("FT2232H MiniModule B");
        return ::testing::internal::GetCapturedStderr();
    }

    qbxtest::TempDir m_Dir;
    void* m_I2c = nullptr;
    void* m_Jtag = nullptr;
};

TEST_F(Integration, StatsAndTraceFiles)
{
    const std::string stats = m_Dir.File("stats.json"), trace = m_Dir.File("trace.txt");
    nlohmann::json board = qbxtest::HealthyBoard(qbxtest::BsdlForTests(m_Dir));
    board["bridge"]["busy_reads"] = 0;
    qbxtest::UseSimulator(qbxtest::WriteBoardFile(m_Dir, board), stats, trace);
    m_I2c = I2C_Open("FT2232H MiniModule A", 100000);
    m_Jtag = JTAG_Open("FT2232H MiniModule B");
    ASSERT_TRUE(m_I2c && m_Jtag);
    ASSERT_TRUE(host::PowerAndSwitchJtagOn(m_I2c));
    unsigned char idcode[4] = {};
    ASSERT_TRUE(JTAG_Addr(m_Jtag, 1) && JTAG_Tms(m_Jtag, 255, 5) && JTAG_Tms(m_Jtag, 2, 4));   // Shift-DR
    ASSERT_TRUE(JTAG_Out(m_Jtag, 0, 32, nullptr, idcode, 0));
    EXPECT_EQ(idcode[0], 0xCF) << "the first IDCODE's low byte";
    JTAG_Close(m_Jtag);
    I2C_Close(m_I2c);
    m_Jtag = m_I2c = nullptr;

    auto j = nlohmann::json::parse(qbxtest::ReadFile(stats));
    const auto& a = j["channels"]["A"];
    const auto& b = j["channels"]["B"];
    EXPECT_EQ(b["tck_clocks"], 5 + 4 + 32);
    for (const char* key : {"i2c_bytes", "onewire_resets", "onewire_bytes", "tck_clocks"})
        EXPECT_GT(a[key].get<uint64_t>(), 0u) << key;
    EXPECT_NEAR(j["modelled_seconds"].get<double>(),
                a["modelled_seconds"].get<double>() + b["modelled_seconds"].get<double>(), 1e-9);
    size_t calls = 0;
    for (const auto* channel : {&a, &b})
        calls += (*channel)["writes"].get<size_t>() + (*channel)["reads"].get<size_t>();
    EXPECT_EQ(qbxtest::CrLfLines(qbxtest::ReadFile(trace)).size(), calls) << "one trace line per FT_Write and FT_Read";
}

TEST_F(Integration, MalformedBoardFileLeavesNoDevice)
{
    const std::string board = m_Dir.File("bad.json");
    qbxtest::WriteFile(board, R"({"bsdl": ")" + qbxtest::BsdlForTests(m_Dir) + R"(", "boards": [{"idcodes": [], "shrt": 1}]})");
    qbxtest::UseSimulator(board);
    const std::string err = OpenJtagQuietly();
    EXPECT_EQ(m_Jtag, nullptr);
    EXPECT_EQ(err, "qbxsim: board file " + board + ": boards[0]: unknown key \"shrt\"; the adapter lists no device\r\n");
}

TEST_F(Integration, DefaultBoardWithoutQbxsimBoard)
{
    qbxtest::UseSimulator("");
    unsetenv("QBXSIM_BOARD");
    const std::string err = OpenJtagQuietly();
    EXPECT_NE(m_Jtag, nullptr) << err;  // the example healthy board
}

}  // namespace
}  // namespace qbxsim
