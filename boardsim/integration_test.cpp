// The simulator as libusbwire.so loads it (USBWIRE_DRIVER=libqbxsim.so): every case runs in its
// own process, so each sets the driver and its board file before the first open.
#include <algorithm>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "boardsim_test_support.h"
#include "onewire_rom.h"
#include "platform.h"
#include "test_files.h"
#include "sim_host.h"

namespace qbxsim {
namespace {

using host::Bridge;
using host::Chain;

// Eight FPGAs with distinct codes: FPGA i has 0x0E74E1CF + (i << 28).
uint32_t Code(int fpga)
{
    return 0x0E74E1CFu + (static_cast<uint32_t>(fpga) << 28);
}

std::string Idcodes(int count)
{
    std::string list;
    for (int i = 0; i < count; ++i)
        list += (i ? ", " : "") + platform::Format("\"0x%08X\"", Code(i));
    return "[" + list + "]";
}

const char* const kOneWire = R"([
    {"type": "DS18S20", "serial": "00080157A3B2", "powered": true, "celsius": 24.5},
    {"type": "DS2450", "serial": "0000000C1D2E", "volts": [0.44, 3.30, 0.0, 1.80]},
    {"type": "DS2450", "serial": "0000000C1D2F", "volts": [3.30, 3.32, 1.65, 3.30], "jtag_switch": true}])";

// Boundary images of TINY for every device of an 8-chain; image[d] is FPGA d's.
constexpr uint8_t kQuietLow = (1u << 2) | (1u << 5);  // OUT1 and IO1 disabled, IO2 disabled (cell 8 = 0)
constexpr uint8_t kOut1High = (1u << 1) | (1u << 5);  // OUT1 driving 1
constexpr uint8_t kOut1Low = 1u << 5;                 // OUT1 driving 0

class Integration : public ::testing::Test {
protected:
    void SetUp() override { qbxtest::WriteFile(m_Dir.File("tiny.bsd"), testing::TinyBsdlText()); }
    void TearDown() override
    {
        if (m_Jtag)
            JTAG_Close(m_Jtag);
        if (m_I2c)
            I2C_Close(m_I2c);
    }

    std::string Board(const std::string& boards, const std::string& adapter = "{}")
    {
        const std::string path = m_Dir.File("board.json");
        qbxtest::WriteFile(path, R"({"bsdl": "tiny.bsd", "adapter": )" + adapter + R"(, "boards": )" + boards + "}");
        return path;
    }
    std::string OneBoard(const std::string& extra = "", int devices = 8)
    {
        return "[{\"name\": \"t\", \"chain_address\": 1, \"pull\": 0, \"idcodes\": " + Idcodes(devices) +
               ", \"onewire\": " + kOneWire + extra + "}]";
    }
    void Open(const std::string& boardFile, const std::string& stats = "", const std::string& trace = "")
    {
        host::UseSimulator(boardFile, stats, trace);
        m_I2c = I2C_Open("FT2232H MiniModule A", 100000);
        ASSERT_NE(m_I2c, nullptr);
        m_Jtag = JTAG_Open("FT2232H MiniModule B");
        ASSERT_NE(m_Jtag, nullptr);
    }
    // Board power and JTAG switch on.
    void PowerUp()
    {
        Bridge bridge(m_I2c);
        ASSERT_TRUE(bridge.Power(true));
        ASSERT_TRUE(bridge.SwitchJtagOn());
    }
    // SAMPLE/PRELOAD the images, then EXTEST with them, then capture what the pins show.
    std::vector<uint8_t> Extest(Chain& chain, const std::vector<uint8_t>& images)
    {
        std::vector<std::vector<uint8_t>> shifted;  // list order: FPGA 7 first
        for (size_t i = images.size(); i-- > 0;)
            shifted.push_back({images[i], 0x00});
        std::vector<std::vector<uint8_t>> captured;
        EXPECT_TRUE(chain.ScanIr(std::vector<uint8_t>(images.size(), 0x01)));
        EXPECT_TRUE(chain.ScanDr(10, shifted, nullptr));
        EXPECT_TRUE(chain.ScanIr(std::vector<uint8_t>(images.size(), 0x00)));
        EXPECT_TRUE(chain.ScanDr(10, shifted, &captured));
        std::vector<uint8_t> byFpga(images.size());
        for (size_t i = 0; i < images.size(); ++i)
            byFpga[images.size() - 1 - i] = captured[i][0];
        return byFpga;
    }

    qbxtest::TempDir m_Dir;
    void* m_I2c = nullptr;
    void* m_Jtag = nullptr;
};

TEST_F(Integration, OneWireResetPresenceAndFullRomSearch)
{
    Open(Board(OneBoard()));
    Bridge bridge(m_I2c);
    int status = bridge.Reset();
    ASSERT_GE(status, 0);
    EXPECT_FALSE(status & Bridge::kPPD) << "the board is not powered yet";
    ASSERT_TRUE(bridge.Power(true));
    status = bridge.Reset();
    ASSERT_GE(status, 0);
    EXPECT_TRUE(status & Bridge::kPPD);
    EXPECT_EQ(bridge.Search(), test::SearchOrder({MakeRom(0x10, 0x00080157A3B2, false), MakeRom(0x20, 0x0000000C1D2E, false),
                                                  MakeRom(0x20, 0x0000000C1D2F, false)}));
    ASSERT_TRUE(bridge.Power(false));
    EXPECT_FALSE(bridge.Reset() & Bridge::kPPD);
}

TEST_F(Integration, IdcodesOfEightDevices)
{
    Open(Board(OneBoard()));
    Chain chain(m_Jtag, 1);
    EXPECT_TRUE(chain.ReadIdcodes().empty()) << "unpowered: TDO reads 1";
    Bridge bridge(m_I2c);
    ASSERT_TRUE(bridge.Power(true));
    EXPECT_TRUE(chain.ReadIdcodes().empty()) << "JTAG switch still open";
    ASSERT_TRUE(bridge.SwitchJtagOn());
    std::vector<uint32_t> expected;
    for (int i = 7; i >= 0; --i)
        expected.push_back(Code(i));
    EXPECT_EQ(chain.ReadIdcodes(), expected) << "the device nearest TDO first";
    Chain elsewhere(m_Jtag, 2);
    EXPECT_TRUE(elsewhere.ReadIdcodes().empty()) << "another chain address";
}

TEST_F(Integration, ExtestMovesAValueAcrossANet)
{
    Open(Board(OneBoard(R"(, "nets": [["0:B2", "1:A1", "7:$IN1"]])")));
    PowerUp();
    Chain chain(m_Jtag, 1);
    std::vector<uint8_t> images(8, kQuietLow);
    images[0] = kOut1High;
    auto pins = Extest(chain, images);
    EXPECT_TRUE(pins[1] & 1) << "FPGA 1 IN1 sees FPGA 0 OUT1 high";
    EXPECT_TRUE(pins[7] & 1);
    EXPECT_FALSE(pins[2] & 1) << "not on the net: pull 0";
    images[0] = kOut1Low;
    pins = Extest(chain, images);
    EXPECT_FALSE(pins[1] & 1);
    EXPECT_FALSE(pins[7] & 1);
}

// One board file with every fault kind: open, short and stuck pins on the first board, a stuck
// TDO on the second, a shorter chain on the third, then the empty socket.
TEST_F(Integration, BoardFileWithEveryFaultKind)
{
    const std::string faulty = R"([
      {"chain_address": 1, "pull": 0, "idcodes": )" + Idcodes(8) + R"(, "onewire": )" + kOneWire + R"(,
       "nets": [["0:B2", "1:A1"], ["2:B2", "3:A1"], ["4:B2", "5:A1"], ["6:B2", "7:A1"], ["1:B2", "2:A1"]],
       "faults": [{"open": "1:A1"}, {"short": ["3:A1", "5:A1"]}, {"stuck": "7:A1", "value": 0}]},
      {"chain_address": 1, "idcodes": )" + Idcodes(8) + R"(, "onewire": )" + kOneWire + R"(, "tdo_stuck": 1},
      {"chain_address": 1, "idcodes": )" + Idcodes(3) + R"(, "onewire": )" + kOneWire + R"(}])";
    Open(Board(faulty));
    PowerUp();
    Chain chain(m_Jtag, 1);
    std::vector<uint8_t> images = {kOut1High, kOut1High, kOut1High, kQuietLow, kOut1Low, kQuietLow, kOut1High, kQuietLow};
    auto pins = Extest(chain, images);
    EXPECT_FALSE(pins[1] & 1) << "open: FPGA 1 IN1 reads the pull level";
    EXPECT_TRUE(pins[2] & 1) << "a healthy net beside the faults";
    EXPECT_FALSE(pins[3] & 1) << "short: FPGA 2's 1 against FPGA 4's 0";
    EXPECT_FALSE(pins[5] & 1);
    EXPECT_FALSE(pins[7] & 1) << "stuck at 0 while FPGA 6 drives 1";

    Bridge bridge(m_I2c);
    ASSERT_TRUE(bridge.Power(false));
    PowerUp();
    EXPECT_TRUE(chain.ReadIdcodes().empty()) << "second board: TDO stuck high";

    ASSERT_TRUE(bridge.Power(false));
    PowerUp();
    EXPECT_EQ(chain.ReadIdcodes(), (std::vector<uint32_t>{Code(2), Code(1), Code(0)})) << "third board: 3 devices";

    ASSERT_TRUE(bridge.Power(false));
    ASSERT_TRUE(bridge.Power(true));
    EXPECT_FALSE(bridge.Reset() & Bridge::kPPD) << "empty socket: no presence";
    EXPECT_TRUE(chain.ReadIdcodes().empty());
}

TEST_F(Integration, StatsAndTraceFiles)
{
    const std::string stats = m_Dir.File("stats.json"), trace = m_Dir.File("trace.txt");
    Open(Board(OneBoard()), stats, trace);
    PowerUp();
    Chain chain(m_Jtag, 1);
    EXPECT_EQ(chain.ReadIdcodes().size(), 8u);
    JTAG_Close(m_Jtag);
    m_Jtag = nullptr;
    EXPECT_FALSE(qbxtest::FileExists(stats)) << "channel A is still open";
    I2C_Close(m_I2c);
    m_I2c = nullptr;

    auto j = nlohmann::json::parse(qbxtest::ReadFile(stats));
    const auto& a = j["channels"]["A"];
    const auto& b = j["channels"]["B"];
    // Five TMS clocks, four to Shift-DR, nine 32-bit reads (the ninth brings the zeros), five more.
    EXPECT_EQ(b["tck_clocks"], 5 + 4 + 9 * 32 + 5);
    EXPECT_GT(b["transactions"].get<uint64_t>(), 9u);
    for (const char* key : {"i2c_bytes", "onewire_resets", "onewire_bytes", "tck_clocks"})
        EXPECT_GT(a[key].get<uint64_t>(), 0u) << key;
    EXPECT_NEAR(j["modelled_seconds"].get<double>(),
                a["modelled_seconds"].get<double>() + b["modelled_seconds"].get<double>(), 1e-9);
    // Channel B: 302 clocks at 1 MHz plus its round trips.
    EXPECT_NEAR(b["modelled_seconds"].get<double>(), 302e-6 + b["transactions"].get<double>() * 125e-6, 1e-9);

    // One line per FT_Write and FT_Read; the MPSSE command 4B 04 FF is JTAG_Tms(255, 5).
    const auto lines = qbxtest::CrLfLines(qbxtest::ReadFile(trace));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("B W", 0) == 0 && l.find("4B 04 FF") != std::string::npos;
    }));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find(" W") == 1; }),
              a["writes"].get<size_t>() + b["writes"].get<size_t>());
    EXPECT_EQ(lines.size(), a["writes"].get<size_t>() + a["reads"].get<size_t>() + b["writes"].get<size_t>() +
                                b["reads"].get<size_t>());
}

TEST_F(Integration, MalformedBoardFileLeavesNoDevice)
{
    const std::string board = m_Dir.File("bad.json");
    qbxtest::WriteFile(board, R"({"bsdl": "tiny.bsd", "boards": [{"idcodes": [], "shrt": 1}]})");
    host::UseSimulator(board);
    ::testing::internal::CaptureStderr();
    m_Jtag = JTAG_Open("FT2232H MiniModule B");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(m_Jtag, nullptr);
    EXPECT_NE(err.find("qbxsim: board file " + board + ": boards[0]: unknown key \"shrt\""), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "one message";
}

TEST_F(Integration, DefaultBoardWithoutQbxsimBoard)
{
    setenv("USBWIRE_DRIVER", "libqbxsim.so", 1);
    unsetenv("QBXSIM_BOARD");
    const std::string example = std::string(QBX_SOURCE_DIR) + "/examples/boards/healthy.json";
    ::testing::internal::CaptureStderr();
    m_Jtag = JTAG_Open("FT2232H MiniModule B");
    std::string err = ::testing::internal::GetCapturedStderr();
    if (qbxtest::FileExists(example)) {
        EXPECT_NE(m_Jtag, nullptr) << err;
    } else {
        EXPECT_EQ(m_Jtag, nullptr);
        EXPECT_NE(err.find("qbxsim: no board file: QBXSIM_BOARD is not set"), std::string::npos) << err;
    }
}

}  // namespace
}  // namespace qbxsim
