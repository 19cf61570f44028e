// The chain operations and the ProASIC3 model against the board simulator, through the real
// libusbwire.so: eight TAPs behind the chain address, the board's JTAG switch and its nets.
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
#include "sim_board.h"
#include "usbwire.h"

using namespace qbxtest;
using nlohmann::json;

namespace {

constexpr uint32_t kHealthy = CProAsic3::kIdCode;

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

bool CellBit(const std::array<uint8_t, 303>& image, int cell)
{
    return ((image[static_cast<size_t>(cell) / 8] >> (cell % 8)) & 1) != 0;
}

void SetCell(std::array<uint8_t, 303>& image, int cell, bool value)
{
    const auto bit = static_cast<uint8_t>(1u << (cell % 8));
    if (value)
        image[static_cast<size_t>(cell) / 8] |= bit;
    else
        image[static_cast<size_t>(cell) / 8] &= static_cast<uint8_t>(~bit);
}

// A simulated board, powered, with both channels open and the FPGA models linked as the board
// model links them: FPGA 7 first in the list (nearest the adapter's TDO), FPGA 0 last.
class ChainSim : public testing::Test {
protected:
    void Start(const json& file, size_t devices = 8, bool switchOn = true)
    {
        m_BoardFile = WriteBoardFile(m_Dir, file);
        UseSimulator(m_BoardFile);
        ASSERT_EQ(OpenI2CChannel(m_I2C), 0) << "the simulator did not open: is libqbxsim.so built?";
        I2C_GPIODirection(m_I2C, 4, 1);
        ASSERT_EQ(I2C_GPIOWrite(m_I2C, 4, 1), 1);
        platform::SleepMs(10);
        if (switchOn) {
            ASSERT_TRUE(SwitchJtag(true));
        }
        ASSERT_TRUE(OpenJtag(m_Jtag));
        Link(devices);
    }

    // Links FPGA models devices-1 .. 0 into the chain list.
    void Link(size_t devices)
    {
        for (size_t k = 0; k < m_Fpga.size(); ++k)
            m_Fpga[k].m_Next = (k > 0 && k < devices) ? &m_Fpga[k - 1] : nullptr;
        m_Chain = {&m_Fpga[devices - 1], &m_Jtag, 1};
    }

    // Channel A of every converter: output on (the JTAG switch conducts) or off.
    bool SwitchJtag(bool on)
    {
        std::vector<_ROMID> converters;
        m_Master.ClearDevices();
        if (m_Master.FindFamily(DS2450_FAMILY, converters, 30) == 0)
            return false;
        for (const _ROMID& rom : converters) {
            CDs2450 adc;
            adc.Attach(&m_Master, rom);
            adc.m_Config[0] = on ? DS2450_WORD_OUTPUT_ON : DS2450_WORD_INPUT;
            if (adc.WriteChannelConfig() != ONEWIRE_OK)
                return false;
        }
        return true;
    }

    // The cycle of the station: select on each device, IR scan, DR scan, merge, back to BYPASS.
    void Cycle(int type, bool preload, size_t devices = 8)
    {
        for (size_t k = 0; k < devices; ++k)
            m_Fpga[k].SelectRegister(type, preload);
        ScanIR(m_Chain);
        ScanDR(m_Chain);
        for (size_t k = 0; k < devices; ++k) {
            m_Fpga[k].MergeCapture();
            m_Fpga[k].SelectBypass();
        }
    }

    void TearDown() override
    {
        CloseJtag(m_Jtag);
        if (m_I2C != nullptr)
            I2C_GPIOWrite(m_I2C, 4, 0);
        CloseI2CChannel(m_I2C);
    }

    TempDir m_Dir;
    std::string m_BoardFile;
    void* m_I2C = nullptr;
    void* m_Jtag = nullptr;
    COneWireMaster m_Master{m_I2C};
    std::array<CProAsic3, 8> m_Fpga;
    _JTAGCHAIN m_Chain;
};

}  // namespace

TEST_F(ChainSim, EightHealthyFpgasGiveEightCodes)
{
    Start(HealthyBoard(BsdlForTests(m_Dir)));
    std::vector<uint32_t> ids;
    ReadIdCodes(ids, m_Chain);
    EXPECT_EQ(ids, std::vector<uint32_t>(8, kHealthy));
    ReadIdCodes(ids, m_Chain);  // again, from Test-Logic-Reset
    EXPECT_EQ(ids.size(), 8u);
}

TEST_F(ChainSim, CodesComeInListOrderFromTheDeviceNearestTdo)
{
    std::vector<uint32_t> codes;
    for (int k = 0; k < 8; ++k)
        codes.push_back(DistinctCode(k));
    json file = HealthyBoard(BsdlForTests(m_Dir));
    FirstBoard(file)["idcodes"] = CodeList(codes);
    Start(file);
    std::vector<uint32_t> ids;
    ReadIdCodes(ids, m_Chain);
    ASSERT_EQ(ids.size(), 8u);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(ids[i], codes[7 - i]) << "list position " << i;
}

TEST_F(ChainSim, ASevenDeviceChainGivesSevenCodes)
{
    json file = HealthyBoard(BsdlForTests(m_Dir));
    FirstBoard(file)["idcodes"] = CodeList(std::vector<uint32_t>(7, kHealthy));
    Start(file, 7);
    std::vector<uint32_t> ids;
    ReadIdCodes(ids, m_Chain);
    EXPECT_EQ(ids, std::vector<uint32_t>(7, kHealthy));
}

TEST_F(ChainSim, AStuckHighTdoGivesNoCodes)
{
    json file = HealthyBoard(BsdlForTests(m_Dir));
    FirstBoard(file)["tdo_stuck"] = 1;
    Start(file);
    std::vector<uint32_t> ids = {1};
    ReadIdCodes(ids, m_Chain);
    EXPECT_TRUE(ids.empty());
}

TEST_F(ChainSim, AStuckLowTdoGivesNoCodes)
{
    json file = HealthyBoard(BsdlForTests(m_Dir));
    FirstBoard(file)["tdo_stuck"] = 0;
    Start(file);
    std::vector<uint32_t> ids = {1};
    ReadIdCodes(ids, m_Chain);
    EXPECT_TRUE(ids.empty());
}

TEST_F(ChainSim, TheChainAnswersOnlyOnItsAddressAndThroughItsSwitch)
{
    Start(HealthyBoard(BsdlForTests(m_Dir)), 8, false);
    std::vector<uint32_t> ids;
    ReadIdCodes(ids, m_Chain);
    EXPECT_TRUE(ids.empty()) << "JTAG switch off";

    ASSERT_TRUE(SwitchJtag(true));
    ReadIdCodes(ids, m_Chain);
    EXPECT_EQ(ids.size(), 8u);

    _JTAGCHAIN other = m_Chain;
    other.address = 2;
    ReadIdCodes(ids, other);
    EXPECT_TRUE(ids.empty()) << "chain address 2";
    other.address = 0x101;  // only the low byte counts
    ReadIdCodes(ids, other);
    EXPECT_EQ(ids.size(), 8u);
}

TEST_F(ChainSim, AnIdcodeCycleLeavesEachDevicesCodeInItsModel)
{
    std::vector<uint32_t> codes;
    for (int k = 0; k < 8; ++k)
        codes.push_back(k == 5 ? kHealthy : DistinctCode(k));
    json file = HealthyBoard(BsdlForTests(m_Dir));
    FirstBoard(file)["idcodes"] = CodeList(codes);
    Start(file);
    Cycle(PA3_REG_IDCODE, false);
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(m_Fpga[k].m_IdCode, codes[k]) << "FPGA " << k;
        EXPECT_EQ(m_Fpga[k].m_Instruction, 0xFFu);
    }
    // The TAPs now hold IDCODE; the identification read resets them first, so it still reads every
    // device's code, not what the loaded instructions select.
    Cycle(PA3_REG_BYPASS, false);
    std::vector<uint32_t> ids;
    ReadIdCodes(ids, m_Chain);
    ASSERT_EQ(ids.size(), 8u);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(ids[i], codes[7 - i]);
}

TEST_F(ChainSim, HealthyCodesThroughTheIdcodeRegister)
{
    Start(HealthyBoard(BsdlForTests(m_Dir)));
    Cycle(PA3_REG_IDCODE, false);
    for (const CProAsic3& fpga : m_Fpga)
        EXPECT_EQ(fpga.m_IdCode, kHealthy);
    // The TAPs are back in Run-Test/Idle: a second cycle works the same.
    for (CProAsic3& fpga : m_Fpga)
        fpga.m_IdCode = 0;
    Cycle(PA3_REG_IDCODE, false);
    for (const CProAsic3& fpga : m_Fpga)
        EXPECT_EQ(fpga.m_IdCode, kHealthy);
}

TEST_F(ChainSim, AChainOfOneDevice)
{
    json file = HealthyBoard(BsdlForTests(m_Dir));
    FirstBoard(file)["idcodes"] = CodeList({DistinctCode(3)});
    Start(file, 1);
    std::vector<uint32_t> ids;
    ReadIdCodes(ids, m_Chain);
    EXPECT_EQ(ids, std::vector<uint32_t>{DistinctCode(3)});
    Cycle(PA3_REG_IDCODE, false, 1);
    EXPECT_EQ(m_Fpga[0].m_IdCode, DistinctCode(3));
}

TEST_F(ChainSim, BypassedDevicesTakeOneBitAndKeepTheirImages)
{
    std::vector<uint32_t> codes;
    for (int k = 0; k < 8; ++k)
        codes.push_back(DistinctCode(k));
    json file = HealthyBoard(BsdlForTests(m_Dir));
    FirstBoard(file)["idcodes"] = CodeList(codes);
    Start(file);
    for (CProAsic3& fpga : m_Fpga) {
        fpga.m_IdCode = 0x11111111;
        fpga.m_Bsr.fill(0x5A);
    }
    for (size_t selected : {size_t{3}, size_t{0}, size_t{7}}) {
        m_Fpga[selected].SelectRegister(PA3_REG_IDCODE, false);
        ScanIR(m_Chain);
        ScanDR(m_Chain);
        for (CProAsic3& fpga : m_Fpga) {
            fpga.MergeCapture();
            fpga.SelectBypass();
        }
        EXPECT_EQ(m_Fpga[selected].m_IdCode, codes[selected]) << "FPGA " << selected;
    }
    for (size_t k = 0; k < 8; ++k) {
        if (k != 0 && k != 3 && k != 7) {
            EXPECT_EQ(m_Fpga[k].m_IdCode, 0x11111111u) << "FPGA " << k;
        }
        EXPECT_EQ(m_Fpga[k].m_Bsr[0], 0x5A);
        EXPECT_EQ(m_Fpga[k].m_Bsr[302], 0x5A);
    }
}

// EXTEST over a net between two FPGAs: the driver's output cell drives, the receiver's input cell
// captures, and the driven cells of the image are kept as they were.
class ExtestSim : public ChainSim {
protected:
    void StartWithNet(int pull)
    {
        const std::string bsdl = BsdlForTests(m_Dir);
        _BSDLDATA data;
        ASSERT_EQ(ReadBsdl(bsdl.c_str(), data), 1);
        // Two bidirectional ports with all three cells.
        for (const _PINDESC& pin : data.pins) {
            if (pin.dir == 2 && pin.outCell >= 0 && pin.ctrlCell >= 0 && pin.inCell >= 0 && pin.disable >= 0) {
                if (m_Driver.name.empty())
                    m_Driver = pin;
                else if (m_Receiver.name.empty())
                    m_Receiver = pin;
            }
        }
        ASSERT_FALSE(m_Receiver.name.empty()) << "no two bidirectional ports in " << bsdl;
        json file = HealthyBoard(bsdl);
        FirstBoard(file)["pull"] = pull;
        FirstBoard(file)["nets"] = json::array({json::array({"0:$" + m_Driver.name, "1:$" + m_Receiver.name})});
        Start(file);
        for (CProAsic3& fpga : m_Fpga) {
            fpga.m_Bsdl = data;
            std::copy_n(data.safeBits.begin(), std::min<size_t>(303, data.safeBits.size()), fpga.m_Bsr.begin());
        }
        // Whatever the safe image says, the receiver does not drive.
        SetCell(m_Fpga[1].m_Bsr, m_Receiver.ctrlCell, m_Receiver.disable != 0);
        for (size_t k = 0; k < 8; ++k)
            m_Vector[k] = m_Fpga[k].m_Bsr;
    }

    // One vector as the interconnection test drives it: preload, then EXTEST.
    void Drive(bool enabled, bool value)
    {
        std::array<uint8_t, 303>& image = m_Vector[0];
        SetCell(image, m_Driver.outCell, value);
        SetCell(image, m_Driver.ctrlCell, enabled ? m_Driver.disable == 0 : m_Driver.disable != 0);
        for (size_t k = 0; k < 8; ++k)
            m_Fpga[k].m_Bsr = m_Vector[k];
        Cycle(PA3_REG_SAMPLE_PRELOAD, true);
        Cycle(PA3_REG_EXTEST, false);
    }

    _PINDESC m_Driver;
    _PINDESC m_Receiver;
    std::array<std::array<uint8_t, 303>, 8> m_Vector{};
};

TEST_F(ExtestSim, TheDrivenValueCrossesTheNet)
{
    ASSERT_NO_FATAL_FAILURE(StartWithNet(1));
    for (bool value : {false, true, false}) {
        Drive(true, value);
        EXPECT_EQ(CellBit(m_Fpga[1].m_Bsr, m_Receiver.inCell), value) << "receiver captures " << value;
        EXPECT_EQ(CellBit(m_Fpga[0].m_Bsr, m_Driver.inCell), value) << "the driver reads its own pin";
        // Driven cells keep the vector's values.
        EXPECT_EQ(CellBit(m_Fpga[0].m_Bsr, m_Driver.outCell), value);
        EXPECT_EQ(CellBit(m_Fpga[0].m_Bsr, m_Driver.ctrlCell), m_Driver.disable == 0);
    }
}

TEST_F(ExtestSim, AnUndrivenNetReadsItsPull)
{
    ASSERT_NO_FATAL_FAILURE(StartWithNet(0));
    Drive(true, true);
    EXPECT_TRUE(CellBit(m_Fpga[1].m_Bsr, m_Receiver.inCell));
    Drive(false, true);  // output disabled: the net floats to the pull level
    EXPECT_FALSE(CellBit(m_Fpga[1].m_Bsr, m_Receiver.inCell));
}
