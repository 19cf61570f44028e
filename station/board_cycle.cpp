// One pass of the board cycle: serial number and current, sensors, supply values, JTAG chain,
// LOCKPLL pattern, interconnection runs, temperature, signed report, result box.
//
// Every message about the board goes through ReportError, which also fails the board; values that
// are only printed (identities, supply values, codes, temperature) never fail it.
#include <cinttypes>
#include <cstdio>
#include <unistd.h>

#include "error_report.h"
#include "platform.h"
#include "report.h"
#include "supply.h"
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
    I2C_GPIOWrite(m_I2CHandle, kBoardEnablePin, 0);
    g_BoardFail = 0;

    if (!m_Input.AskSerial("Install board whith addr=1 and enter serial number (0=exit) ", m_Serial) || m_Serial == 0)
        return false;
    m_Records.BeginBoard(*this);

    OpenErrorFile(m_ErrorFilePath.c_str());
    I2C_GPIOWrite(m_I2CHandle, kBoardEnablePin, 1);
    platform::SleepMs(10);

    if (!m_Input.AskCurrent("Insert Board Current (Ampere)= ", m_BoardCurrent)) {
        m_Records.EndBoard(*this, kVerdictEnded, false);
        return false;
    }
    if (m_BoardCurrent < kMinCurrent || m_BoardCurrent > kMaxCurrent) {
        std::printf("Invalid Board Current=%.3f (must be from 0.4 to 0.8)\r\n", m_BoardCurrent);
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
    std::fflush(stdout);
    m_Records.EndBoard(*this, g_BoardFail ? kVerdictFail : kVerdictPass);

    if (!g_BoardFail)
        ShowSuccessBox(m_ReportPath);
    else
        ShowFailBox(m_ErrorFilePath);
    CloseErrorFile();
    return true;
}

void CTestStation::FindTemperatureSensor()
{
    m_OneWire.FindFamily(DS18S20_FAMILY, m_TempCandidates, kTemperatureRoom);
    for (const _ROMID& candidate : m_TempCandidates) {
        if (candidate.Family() != DS18S20_FAMILY || !candidate.CrcValid()) {
            ReportError("Error creating sensor DS18S20 %" PRIX64 "\r\n", Id(candidate));
            continue;
        }
        CDs18s20 sensor(&m_OneWire, candidate);
        for (int attempt = 0; attempt < 2; ++attempt) {
            bool powered = false;
            if (sensor.ReadPowerSupply(powered) == ONEWIRE_OK && powered) {
                m_Board.m_TempSensor = sensor;
                std::printf("QBX %d sensor id %" PRIX64 "\r\n", kBoardAddress, Id(candidate));
                break;
            }
            ReportError("Warning Sensor DS18S20 %" PRIX64 " not powered or read error\r\n", Id(candidate));
        }
    }
    if (!m_Board.m_TempSensor.IsValid())
        ReportError("QBX %d Sensor DS18S20 not found\r\n", kBoardAddress);
}

void CTestStation::PulseAdcOutputC()
{
    static const uint8_t kOutputCOn[8] = {0x00, 0x01, 0x00, 0x01, 0x80, 0x01, 0x00, 0x01};
    static const uint8_t kOutputsOff[8] = {0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01};
    for (const _ROMID& candidate : m_AdcCandidates) {
        CDs2450 scratch;
        if (!scratch.Attach(&m_OneWire, candidate))
            continue;
        scratch.WriteMemory(kOutputCOn);
        scratch.WriteMemory(kOutputsOff);
    }
}

void CTestStation::FindAdcSensors()
{
    m_OneWire.FindFamily(DS2450_FAMILY, m_AdcCandidates, kAdcRoom);
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
        switch (ClassifyAdc(m_ProbeAdc.m_Volts[0], m_ProbeAdc.m_Volts[1])) {
        case ADC_SENSOR2:
            std::printf("QBX %d adcsensor2 id %" PRIX64 "\r\n", kBoardAddress, Id(candidate));
            m_Board.m_AdcSensor2.Attach(&m_OneWire, candidate);
            break;
        case ADC_SENSOR1:
            std::printf("QBX %d adcsensor1 id %" PRIX64 "\r\n", kBoardAddress, Id(candidate));
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
        ReportError("QBX %d Sensor DS2450 not found\r\n", kBoardAddress);
        return;
    }
    // adcsensor1's channel B output on; neither this write nor the reading fails the board (the
    // values then stay 0).
    m_Board.m_AdcSensor1.m_Config[1] = DS2450_WORD_OUTPUT_ON;
    m_Board.m_AdcSensor1.WriteChannelConfig();
    m_Board.ReadPower();
    std::printf("Vin=%f\r\n", static_cast<double>(m_Board.m_Vin));
    std::printf("Vmem=%f\r\n", static_cast<double>(m_Board.m_Vmem));
    std::printf("Vmem_fault=%u\r\n", static_cast<unsigned>((m_Board.m_PowerFlags >> 2) & 1u));
    std::printf("I=%f\r\n", static_cast<double>(m_Board.m_Current));
    std::printf("Bus=%u\r\n", static_cast<unsigned>(m_Board.m_PowerFlags & 3u));
}

void CTestStation::CheckChain()
{
    std::vector<uint32_t> codes;
    ReadIdCodes(codes, m_Board.m_Chain);
    m_IdCodes = codes;
    if (codes.empty())
        ReportError("ERROR JTAG chain\r\n");
    for (uint32_t code : codes) {
        if (code == CProAsic3::kIdCode)
            std::printf("id=%s\r\n", CProAsic3::kDeviceName);
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
        JTAG_Addr(m_JtagHandle, static_cast<uint8_t>(kBoardAddress));
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
    for (int run = 1; run <= kRuns; ++run) {
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
    std::fprintf(stderr, "Run %d of %d: vector %d of %d\r", run, kRuns, vector + 1, count);
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
