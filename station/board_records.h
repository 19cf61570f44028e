// What the station keeps of each board beside its result files: the board's record in the results
// database, and the diagnosis to the net of a failing interconnection run, shown on the console.
//
// The record gathers the board's reported messages (through the error path's observer) and its
// wrong cells (through the board model's observer) while the cycle runs, and everything else from
// the station when the board's verdict is known; it is then appended in one transaction, before the
// result box. When the database cannot be used the station tests as before and says so at every
// board.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board_record.h"
#include "diagnosis.h"

class CTestStation;

class CBoardRecords {
public:
    // The environment variable that names the results database (an SQLite file, or a line's
    // PostgreSQL server by its connection string); unset or empty: results.db in the output folder.
    static constexpr const char* kResultsVariable = "QBX_RESULTS";
    // The environment variable that names the bench in every record; unset or empty: the host name.
    static constexpr const char* kBenchVariable = "QBX_BENCH";
    // In the output folder: where the boards are recorded while the line's server is unreachable.
    static constexpr const char* kFallbackFile = "results-fallback.db";

    CBoardRecords() = default;
    ~CBoardRecords();
    CBoardRecords(const CBoardRecords&) = delete;
    CBoardRecords& operator=(const CBoardRecords&) = delete;

    // At start-up, once the files are loaded and the output folder is known: opens the results
    // database and reads the vector file's nets; prints a line about each that cannot be used.
    void Start(CTestStation& station, const std::string& bsdlPath, const std::string& vectorsPath);

    // The operator entered a serial number: a new board's record begins.
    void BeginBoard(CTestStation& station);

    // After a failing interconnection run: prints the faults its wrong cells point at.
    void ShowDiagnosis();

    // The board's verdict is known (kVerdictEnded: the operator ended the program at its current
    // prompt, currentEntered telling whether a current was typed): records it.
    void EndBoard(const CTestStation& station, const char* verdict, bool currentEntered = true);

private:
    std::unique_ptr<CBoardRecorder> m_Recorder;
    std::string m_NotRecorded;  // why nothing is recorded, when it is not
    bool m_SayEveryBoard = false;
    CNetModel m_Nets;
    bool m_HaveNets = false;
    BoardRecord m_Template;  // what every record of the run shares
    BoardRecord m_Board;     // the board under test
    bool m_InBoard = false;
};
