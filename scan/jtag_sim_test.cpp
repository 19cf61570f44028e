// The chain operations and the ProASIC3 model against the board simulator, through the real
// libusbwire.so: eight TAPs behind the chain address and the board's JTAG switch, and its nets.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "bsdl.h"
#include "ds2450.h"
#include "i2c_channel.h"
#include "jtag_chain.h"
#include "onewire_master.h"
#include "platform.h"
#include "proasic3.h"
#include "qbx_board.h"
#include "sim_board.h"
#include "usbwire.h"

using namespace qbxtest;
using nlohmann::json;

namespace {

constexpr uint32_t kHealthy = kQbxBoard.fpgaIdCode;

// Distinct valid identification codes (bit 0 set), one per FPGA.
uint32_t DistinctCode(int fpga)
{
    return 0x0E74E1CFu | (static_cast<uint32_t>(fpga + 1) << 28);
}

json CodeList(const std::vector<uint32_t>& codes)
{
    json list = json::array();
    for (uint32_t code : codes)
        list.push_back(platform::Format("0x%08X", code));
    return list;
}

bool CellBit(const std::array<uint8_t, 303>& image, int cell) { return GetCell(image.data(), cell) != 0; }
void SetCell(std::array<uint8_t, 303>& image, int cell, bool value) { ::SetCell(image.data(), cell, value ? 1 : 0); }

// A simulated board, powered, its JTAG switch on, both channels open, and FPGA models linked as the
// board model links them: FPGA 7 first in the list (nearest the adapter's TDO), FPGA 0 last.
class ChainSim : public testing::Test {
protected:
    void Start(const json& file)
    {
        UseSimulator(WriteBoardFile(m_Dir, file));
        ASSERT_EQ(OpenI2CChannel(m_I2C), 0) << "the simulator did not open: is libqbxsim.so built?";
        I2C_GPIODirection(m_I2C, 4, 1);
        ASSERT_NO_FATAL_FAILURE(NextBoard());
        ASSERT_TRUE(OpenJtag(m_Jtag));
        for (size_t k = 0; k < m_Fpga.size(); ++k)
            m_Fpga[k].m_Next = k > 0 ? &m_Fpga[k - 1] : nullptr;
        m_Chain = {&m_Fpga[7], &m_Jtag, 1};
    }

    // Board power off and on (the simulator then puts the next board of the file in the socket),
    // then the JTAG switch on: channel A output of every converter conducting.
    void NextBoard()
    {
        I2C_GPIOWrite(m_I2C, 4, 0);
        ASSERT_EQ(I2C_GPIOWrite(m_I2C, 4, 1), 1);
        platform::SleepMs(10);
        std::vector<_ROMID> converters;
        m_Master.ClearDevices();
        ASSERT_GT(m_Master.FindFamily(DS2450_FAMILY, converters, 30), 0);
        for (const _ROMID& rom : converters) {
            CDs2450 adc;
            adc.Attach(&m_Master, rom);
            adc.m_Config[0] = DS2450_WORD_OUTPUT_ON;
            ASSERT_EQ(adc.WriteChannelConfig(), ONEWIRE_OK);
        }
    }

    // The station's cycle: select on each device (or only on FPGA only), IR scan, DR scan, merge,
    // back to BYPASS.
    void Cycle(int type, bool preload, int only = -1)
    {
        for (size_t k = 0; k < m_Fpga.size(); ++k)
            if (only < 0 || static_cast<size_t>(only) == k)
                m_Fpga[k].SelectRegister(type, preload);
        ASSERT_TRUE(ScanIR(m_Chain));
        ASSERT_TRUE(ScanDR(m_Chain));
        for (CJtagStream* device = m_Chain.first; device != nullptr; device = device->m_Next) {
            device->MergeCapture();
            device->SelectBypass();
        }
    }

    std::vector<uint32_t> Codes()
    {
        std::vector<uint32_t> ids = {1};
        ReadIdCodes(ids, m_Chain);
        return ids;
    }

    void TearDown() override
    {
        CloseJtag(m_Jtag);
        if (m_I2C != nullptr)
            I2C_GPIOWrite(m_I2C, 4, 0);
        CloseI2CChannel(m_I2C);
    }

    TempDir m_Dir;
    void* m_I2C = nullptr;
    void* m_Jtag = nullptr;
    COneWireMaster m_Master{m_I2C};
    std::array<CProAsic3, 8> m_Fpga;
    _JTAGCHAIN m_Chain;
};

}  // namespace

TEST_F(ChainSim, EachCodeLandsInItsOwnModelAndBypassedModelsKeepTheirImages)
{
    std::vector<uint32_t> codes;
    for (int k = 0; k < 8; ++k)
        codes.push_back(DistinctCode(k));
    json file = HealthyBoard(BsdlForTests(m_Dir));
    FirstBoard(file)["idcodes"] = CodeList(codes);
    ASSERT_NO_FATAL_FAILURE(Start(file));
    EXPECT_EQ(Codes(), std::vector<uint32_t>(codes.rbegin(), codes.rend())) << "list order: FPGA 7 first";

    ASSERT_NO_FATAL_FAILURE(Cycle(PA3_REG_IDCODE, false));
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(m_Fpga[k].m_IdCode, codes[k]) << "FPGA " << k;
        EXPECT_EQ(m_Fpga[k].m_Instruction, CProAsic3::kBypass);
    }
    // The TAPs now hold BYPASS: the identification read resets them first.
    ASSERT_NO_FATAL_FAILURE(Cycle(PA3_REG_BYPASS, false));
    EXPECT_EQ(Codes(), std::vector<uint32_t>(codes.rbegin(), codes.rend()));

    // One device selected at a time: the others take part with one bit and keep their images.
    std::array<uint8_t, 303> image;
    image.fill(0x5A);
    for (CProAsic3& fpga : m_Fpga) {
        fpga.m_IdCode = 0x11111111;
        fpga.m_Bsr = image;
    }
    for (int selected : {3, 0, 7})
        ASSERT_NO_FATAL_FAILURE(Cycle(PA3_REG_IDCODE, false, selected));
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(m_Fpga[k].m_IdCode, k == 0 || k == 3 || k == 7 ? codes[k] : 0x11111111u) << "FPGA " << k;
        EXPECT_EQ(m_Fpga[k].m_Bsr, image);
    }
}

TEST_F(ChainSim, EightHealthyFpgasGiveTheirCodeAndABrokenChainFewer)
{
    // A sequence of boards, each put in the socket by the next power-up.
    json file = HealthyBoard(BsdlForTests(m_Dir));
    json seven = FirstBoard(file), stuckHigh = FirstBoard(file), stuckLow = FirstBoard(file), one = FirstBoard(file);
    seven["idcodes"] = CodeList(std::vector<uint32_t>(7, kHealthy));
    stuckHigh["tdo_stuck"] = 1;
    stuckLow["tdo_stuck"] = 0;
    one["idcodes"] = CodeList({DistinctCode(3)});
    file["boards"] = json::array({FirstBoard(file), seven, stuckHigh, stuckLow, one});
    ASSERT_NO_FATAL_FAILURE(Start(file));
    EXPECT_EQ(Codes(), std::vector<uint32_t>(8, kHealthy));
    for (CProAsic3& fpga : m_Fpga)
        fpga.m_IdCode = 0;
    ASSERT_NO_FATAL_FAILURE(Cycle(PA3_REG_IDCODE, false));
    for (const CProAsic3& fpga : m_Fpga)
        EXPECT_EQ(fpga.m_IdCode, kHealthy);
    for (const std::vector<uint32_t>& codes : {std::vector<uint32_t>(7, kHealthy), {}, {}, {DistinctCode(3)}}) {
        ASSERT_NO_FATAL_FAILURE(NextBoard());  // seven, TDO stuck high, TDO stuck low, one
        EXPECT_EQ(Codes(), codes);
    }
    m_Chain.first = &m_Fpga[0];  // a chain of one device
    ASSERT_NO_FATAL_FAILURE(Cycle(PA3_REG_IDCODE, false, 0));
    EXPECT_EQ(m_Fpga[0].m_IdCode, DistinctCode(3));
}

TEST_F(ChainSim, ExtestDrivesTheDrivenCellsAndTakesTheCapturedOnes)
{
    // A net from a port of FPGA 0 to a port of FPGA 1, on a board that pulls undriven nets low.
    const std::string bsdl = BsdlForTests(m_Dir);
    _BSDLDATA data;
    ASSERT_EQ(ReadBsdl(bsdl.c_str(), data), 1);
    std::vector<_PINDESC> ports;
    for (const _PINDESC& pin : data.pins)
        if (pin.dir == 2 && pin.outCell >= 0 && pin.ctrlCell >= 0 && pin.inCell >= 0 && ports.size() < 2)
            ports.push_back(pin);
    ASSERT_EQ(ports.size(), 2u) << "no two bidirectional ports in " << bsdl;
    const _PINDESC& driver = ports[0];
    const _PINDESC& receiver = ports[1];
    json file = HealthyBoard(bsdl);
    FirstBoard(file)["pull"] = 0;
    FirstBoard(file)["nets"] = json::array({json::array({"0:$" + driver.name, "1:$" + receiver.name})});
    ASSERT_NO_FATAL_FAILURE(Start(file));
    std::array<std::array<uint8_t, 303>, 8> vector{};
    for (size_t k = 0; k < 8; ++k) {
        m_Fpga[k].m_Bsdl = data;
        std::copy_n(data.safeBits.begin(), std::min<size_t>(303, data.safeBits.size()), vector[k].begin());
    }
    SetCell(vector[1], receiver.ctrlCell, receiver.disable != 0);  // the receiver does not drive

    // As the interconnection test drives a vector: SAMPLE/PRELOAD, then EXTEST.
    const std::pair<bool, bool> steps[] = {{true, true}, {true, false}, {true, true}, {false, true}};
    for (const auto& [enabled, value] : steps) {
        SetCell(vector[0], driver.outCell, value);
        SetCell(vector[0], driver.ctrlCell, enabled == (driver.disable == 0));
        for (size_t k = 0; k < 8; ++k)
            m_Fpga[k].m_Bsr = vector[k];
        ASSERT_NO_FATAL_FAILURE(Cycle(PA3_REG_SAMPLE_PRELOAD, true));
        ASSERT_NO_FATAL_FAILURE(Cycle(PA3_REG_EXTEST, false));
        const bool net = enabled && value;  // an undriven net reads the pull level, 0
        EXPECT_EQ(CellBit(m_Fpga[1].m_Bsr, receiver.inCell), net) << enabled << value;
        EXPECT_EQ(CellBit(m_Fpga[0].m_Bsr, driver.inCell), net) << "the driver reads its own pin";
        // The driven cells keep the vector's values.
        EXPECT_EQ(CellBit(m_Fpga[0].m_Bsr, driver.outCell), value);
        EXPECT_EQ(CellBit(m_Fpga[0].m_Bsr, driver.ctrlCell), CellBit(vector[0], driver.ctrlCell));
    }
}

TEST(JtagChannel, OpeningClosesWhatTheVariableHeldAndAFailureShowsTheBox)
{
    TempDir dir;
    UseSimulator(WriteBoardFile(dir, HealthyBoard(BsdlForTests(dir))));
    void* handle = nullptr;
    ASSERT_TRUE(OpenJtag(handle));
    EXPECT_TRUE(OpenJtag(handle)) << "the simulator opens a channel only once: the first was closed";
    void* other = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(OpenJtag(other));  // channel B is taken
    const std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_NE(shown.find(platform::FormatMessageBox("Error Open Device: FT2232H MiniModule B", platform::BoxIcon::Error)),
              std::string::npos)
        << shown;
    EXPECT_EQ(other, nullptr);
    CloseJtag(handle);
    EXPECT_EQ(handle, nullptr);
    CloseJtag(handle);
    EXPECT_TRUE(OpenJtag(other));
    CloseJtag(other);
}
