// One pass of the board cycle: serial number and current, sensors, supply values, JTAG chain,
// LOCKPLL pattern, interconnection runs, temperature, signed report, result box.
//
// Every message about the board goes through ReportError, which also fails the board; values that
// are only printed (identities, supply values, codes, temperature) never fail it.
#include <cinttypes>
#include <cstdio>
#include <unistd.h>

#include "error_report.h"
#include "i2c_channel.h"
#include "jtag_chain.h"
#include "platform.h"
#include "report.h"
#include "test_station.h"
#include "usbwire.h"

namespace {

uint64_t Id(const _ROMID& rom)
{
    return rom.Value();
}

}  // namespace

bool CTestStation::TestBoard()
{
    I2C_GPIOWrite(m_I2CHandle, kBoard.enablePin, 0);
    g_BoardFail = 0;

    const std::string prompt = platform::Format("Install board whith addr=%d and enter serial number (0=exit) ", kBoard.chainAddress);
    if (!m_Input.AskSerial(prompt.c_str(), m_Serial) || m_Serial == 0)
        return false;
    m_Records.BeginBoard(*this);

    OpenErrorFile(m_ErrorFilePath.c_str());
    I2C_GPIOWrite(m_I2CHandle, kBoard.enablePin, 1);
    platform::SleepMs(kBoard.powerUpMs);

    if (!m_Input.AskCurrent("Insert Board Current (Ampere)= ", m_BoardCurrent)) {
        m_Records.EndBoard(*this, kVerdictEnded, false);
        return false;
    }
    if (m_BoardCurrent < kBoard.minCurrent || m_BoardCurrent > kBoard.maxCurrent) {
        std::printf("Invalid Board Current=%.3f (must be from %g to %g)\r\n", m_BoardCurrent, kBoard.minCurrent, kBoard.maxCurrent);
        m_Records.EndBoard(*this, kVerdictEnded);
        return false;
    }

    // A new board: its sensors are searched and assigned from nothing.
    m_OneWire.ClearDevices();
    m_Board.m_TempSensor = CDs18s20();
    m_Board.m_AdcSensor1.Clear();
    m_Board.m_AdcSensor2.Clear();
    m_Temperature = 0.0f;

    FindTemperatureSensor();
    FindAdcSensors();
    ReadSupply();

    if (!g_BoardFail) {
        // The JTAG switch, as SwitchJtagOn does it; a failure here shows in the chain check.
        m_Board.SwitchJtagOn();
        CheckChain();
        ScanIdCodes();
        m_Board.m_TempSensor.StartConversionAll();
        m_Board.WriteLockPllPattern();
        RunInterconnectionTest();

        if (m_Board.m_TempSensor.ReadTemperature(m_Temperature) != ONEWIRE_OK)
            ReportError("Read Temperature ERROR\r\n");
        else {
            std::printf("Temperature=%.2f\r\n", static_cast<double>(m_Temperature));
            m_TemperatureRead = true;
        }

        if (!g_BoardFail) {
            std::printf("Test Interconnections OK\r\n");
            ReportValues values;
            values.serial = m_Serial;
            values.outputFolder = m_OutputFolder;
            values.temperatureSensor = Id(m_Board.m_TempSensor.m_Rom);
            values.adcSensor1 = Id(m_Board.m_AdcSensor1.m_Rom);
            values.adcSensor2 = Id(m_Board.m_AdcSensor2.m_Rom);
            values.operatorCurrent = m_BoardCurrent;
            values.vin = m_Board.m_Vin;
            values.vmem = m_Board.m_Vmem;
            values.current = m_Board.m_Current;
            values.powerFlags = m_Board.m_PowerFlags;
            values.temperature = m_Temperature;
            values.vectorsDigest = m_Board.m_VectorsDigest;
            m_ReportPath = WriteReport(values);
        }
    }
    if (g_BoardFail)
        CheckAdapterLink();
    g_ErrorFile.Sync();
    std::fflush(stdout);
    m_Records.EndBoard(*this, g_BoardFail ? kVerdictFail : kVerdictPass);

    if (!g_BoardFail)
        ShowSuccessBox(m_ReportPath);
    else
        ShowFailBox(m_ErrorFilePath, g_ErrorFile.Failure());
    CloseErrorFile();
    return true;
}

void CTestStation::CheckAdapterLink()
{
    // A failing board's messages may come from a link that died (the adapter unplugged): then
    // every transfer fails, a plain pin write included. Neither write changes a line: the board
    // stays enabled and at its chain address.
    const bool i2cLost = m_I2CHandle != nullptr && I2C_GPIOWrite(m_I2CHandle, kBoard.enablePin, 1) != 1;
    const bool jtagLost = m_JtagHandle != nullptr && JTAG_Addr(m_JtagHandle, static_cast<uint8_t>(kBoard.chainAddress)) != 1;
    if (i2cLost && jtagLost)
        ReportError("USB adapter lost: every transfer to %s and %s fails\r\n", kI2CDescription, kJtagDescription);
    else if (i2cLost || jtagLost)
        ReportError("USB adapter lost: every transfer to %s fails\r\n", i2cLost ? kI2CDescription : kJtagDescription);
}

void CTestStation::FindTemperatureSensor()
{
    m_OneWire.FindFamily(kBoard.thermometerFamily, m_TempCandidates, kBoard.thermometerRoom);
    for (const _ROMID& candidate : m_TempCandidates) {
        if (candidate.Family() != kBoard.thermometerFamily || !candidate.CrcValid()) {
            ReportError("Error creating sensor DS18S20 %" PRIX64 "\r\n", Id(candidate));
            continue;
        }
        CDs18s20 sensor(&m_OneWire, candidate);
        for (int attempt = 0; attempt < 2; ++attempt) {
            bool powered = false;
            if (sensor.ReadPowerSupply(powered) == ONEWIRE_OK && powered) {
                m_Board.m_TempSensor = sensor;
                std::printf("QBX %d sensor id %" PRIX64 "\r\n", kBoard.chainAddress, Id(candidate));
                break;
            }
            ReportError("Warning Sensor DS18S20 %" PRIX64 " not powered or read error\r\n", Id(candidate));
        }
    }
    if (!m_Board.m_TempSensor.IsValid())
        ReportError("QBX %d Sensor DS18S20 not found\r\n", kBoard.chainAddress);
}

void CTestStation::PulseAdcOutputC()
{
    // Every converter found: the board's pulsed channel's output on, then every output off.
    for (const _ROMID& candidate : m_AdcCandidates) {
        CDs2450 scratch;
        if (!scratch.Attach(&m_OneWire, candidate))
            continue;
        scratch.m_Config[kBoard.pulsedChannel] = DS2450_WORD_OUTPUT_ON;
        scratch.WriteChannelConfig();
        scratch.m_Config.fill(DS2450_WORD_INPUT);
        scratch.WriteChannelConfig();
    }
}

void CTestStation::FindAdcSensors()
{
    m_OneWire.FindFamily(kBoard.converterFamily, m_AdcCandidates, kBoard.converterRoom);
    PulseAdcOutputC();
    for (const _ROMID& candidate : m_AdcCandidates) {
        if (!m_ProbeAdc.Attach(&m_OneWire, candidate)) {
            ReportError("Error creating adcsensor DS2450 %" PRIX64 "\r\n", Id(candidate));
            continue;
        }
        m_ProbeAdc.m_Config.fill(DS2450_WORD_INPUT);
        if (m_ProbeAdc.WriteChannelConfig() != ONEWIRE_OK || m_ProbeAdc.Convert() != ONEWIRE_OK ||
            m_ProbeAdc.ReadVoltages() != ONEWIRE_OK) {
            ReportError("Read/Write error Sensor DS2450 %" PRIX64 "\r\n", Id(candidate));
            continue;
        }
        switch (kBoard.ClassifyAdc(m_ProbeAdc.m_Volts[ADC_CHANNEL_A], m_ProbeAdc.m_Volts[ADC_CHANNEL_B])) {
        case ADC_SENSOR2:
            std::printf("QBX %d adcsensor2 id %" PRIX64 "\r\n", kBoard.chainAddress, Id(candidate));
            m_Board.m_AdcSensor2.Attach(&m_OneWire, candidate);
            break;
        case ADC_SENSOR1:
            std::printf("QBX %d adcsensor1 id %" PRIX64 "\r\n", kBoard.chainAddress, Id(candidate));
            m_Board.m_AdcSensor1.Attach(&m_OneWire, candidate);
            break;
        case ADC_NOT_ASSIGNED:
            ReportError("Error Sensor DS2450 %" PRIX64 " not assigned\r\n", Id(candidate));
            break;
        }
    }
}

void CTestStation::ReadSupply()
{
    if (!m_Board.m_AdcSensor1.IsValid() || !m_Board.m_AdcSensor2.IsValid()) {
        ReportError("QBX %d Sensor DS2450 not found\r\n", kBoard.chainAddress);
        return;
    }
    // adcsensor1's supply output on; neither this write nor the reading fails the board (the
    // values then stay 0).
    m_Board.m_AdcSensor1.m_Config[kBoard.supplyOutputChannel] = DS2450_WORD_OUTPUT_ON;
    m_Board.m_AdcSensor1.WriteChannelConfig();
    m_Board.ReadPower();
    std::printf("Vin=%f\r\n", static_cast<double>(m_Board.m_Vin));
    std::printf("Vmem=%f\r\n", static_cast<double>(m_Board.m_Vmem));
    const _POWERFLAGS flags = _POWERFLAGS::Unpack(m_Board.m_PowerFlags);
    std::printf("Vmem_fault=%u\r\n", flags.vmemFault ? 1u : 0u);
    std::printf("I=%f\r\n", static_cast<double>(m_Board.m_Current));
    std::printf("Bus=%u\r\n", flags.bus);
}

void CTestStation::CheckChain()
{
    std::vector<uint32_t> codes;
    ReadIdCodes(codes, m_Board.m_Chain);
    m_IdCodes = codes;
    if (codes.empty())
        ReportError("ERROR JTAG chain\r\n");
    for (uint32_t code : codes) {
        if (code == kBoard.fpgaIdCode)
            std::printf("id=%s\r\n", kBoard.fpgaName);
        else
            ReportError("ERROR id=%08X\r\n", code);
    }
    if (codes.size() != static_cast<size_t>(CQbx_zor::kFpgaCount))
        ReportError("ERROR JTAG chain interrupted\r\n");
}

void CTestStation::ScanIdCodes()
{
    // The codes land in each model's m_IdCode; nothing checks them here (CheckChain did).
    for (CProAsic3& fpga : m_Board.m_Fpga)
        fpga.SelectRegister(PA3_REG_IDCODE, false);
    ScanIR(m_Board.m_Chain);
    ScanDR(m_Board.m_Chain);
    if (m_JtagHandle != nullptr) {
        JTAG_Addr(m_JtagHandle, static_cast<uint8_t>(kBoard.chainAddress));
        JTAG_Tms(m_JtagHandle, TMS_TEST_LOGIC_RESET, TMS_TEST_LOGIC_RESET_BITS);
    }
    for (CJtagStream* device = m_Board.m_Chain.first; device != nullptr; device = device->m_Next) {
        device->MergeCapture();
        device->SelectBypass();
    }
}

void CTestStation::RunInterconnectionTest()
{
    if (g_BoardFail)
        return;
    const bool showProgress = isatty(STDERR_FILENO) != 0;
    for (int run = 1; run <= kBoard.runs; ++run) {
        if (showProgress)
            m_Board.m_OnVector = [this, run](int vector, int count) { ShowProgress(run, vector, count); };
        const int passed = m_Board.RunVectors();
        m_Board.m_OnVector = nullptr;
        ClearProgress();
        if (!passed) {
            m_Records.ShowDiagnosis();
            m_Board.ApplyFirstVector();
            g_BoardFail = 1;
            return;
        }
    }
}

void CTestStation::ShowProgress(int run, int vector, int count)
{
    // Written on the terminal only, and left with the cursor at the start of the line so that a
    // message printed meanwhile overwrites it.
    std::fprintf(stderr, "Run %d of %d: vector %d of %d\r", run, kBoard.runs, vector + 1, count);
    std::fflush(stderr);
    m_ProgressShown = true;
}

void CTestStation::ClearProgress()
{
    if (!m_ProgressShown)
        return;
    std::fprintf(stderr, "%40s\r", "");
    std::fflush(stderr);
    m_ProgressShown = false;
}
