// The test station Test_QBX_FPGA: start-up from the command line (station/startup.cpp), then the
// per-board test cycle (station/board_cycle.cpp) until the operator ends it, then the end of the
// program. All station state lives here for the whole run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "board_records.h"
#include "ds2450.h"
#include "files.h"
#include "onewire_master.h"
#include "operator_input.h"
#include "qbx_zor.h"
#include "romid.h"

class CTestStation {
public:
    // The board under test: every board fact comes from its description.
    static constexpr const _BOARDDESC& kBoard = CQbx_zor::kBoard;

    // Operator input is read from in; console output goes to standard output.
    explicit CTestStation(std::FILE* in = stdin);
    ~CTestStation();
    CTestStation(const CTestStation&) = delete;
    CTestStation& operator=(const CTestStation&) = delete;

    // The whole program: start-up, the board cycle until the operator ends it, the end. Returns the
    // exit status.
    int Run(int argc, char** argv);

    // Start-up. Returns -1 when the station is ready for the board cycle, else the exit status.
    int Start(int argc, char** argv);
    // One pass of the board cycle. False when the operator ended the program (serial number 0, a
    // current out of range, or the end of the input).
    bool TestBoard();
    // Board disabled, channels closed.
    void End();

private:
    // Steps of one board's cycle.
    void FindTemperatureSensor();
    void FindAdcSensors();
    void PulseAdcOutputC();
    void ReadSupply();
    void CheckChain();
    void ScanIdCodes();
    void RunInterconnectionTest();
    void CheckAdapterLink();
    void ShowProgress(int run, int vector, int count);
    void ClearProgress();

public:
    void* m_JtagHandle = nullptr;
    void* m_I2CHandle = nullptr;
    CQbx_zor m_Board;
    COneWireMaster m_OneWire;
    CDs2450 m_ProbeAdc;
    std::vector<_ROMID> m_TempCandidates;
    std::vector<_ROMID> m_AdcCandidates;
    std::string m_OutputFolder;
    std::string m_ErrorFilePath;
    std::string m_TruthTablePath;
    std::string m_ReportPath;
    uint32_t m_Serial = 0;
    double m_BoardCurrent = 0.0;
    float m_Temperature = 0.0f;
    // For the board's record: the identification codes the chain check read, and whether the
    // temperature was read.
    std::vector<uint32_t> m_IdCodes;
    bool m_TemperatureRead = false;
    CBoardRecords m_Records;

private:
    COperatorInput m_Input;
    platform::CFolderLock m_FolderLock;
    bool m_ProgressShown = false;
};
