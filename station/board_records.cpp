#include "board_records.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

#include "error_report.h"
#include "platform.h"
#include "romid.h"
#include "test_station.h"

namespace {

std::string HostName() { return Printable(platform::HostName()); }

// A reported message as the record keeps it: without its line end.
std::string Line(std::string_view message)
{
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.remove_suffix(1);
    return Printable(message);
}

// The last line of a report: its signature.
std::string LastLine(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty() && line != "\r")
            last = line;
    return Line(last);
}

}  // namespace

CBoardRecords::~CBoardRecords()
{
    SetReportObserver(nullptr);
}

void CBoardRecords::Start(CTestStation& station, const std::string& bsdlPath, const std::string& vectorsPath)
{
    m_Template.host = HostName();
    const char* bench = std::getenv(kBenchVariable);
    m_Template.bench = bench != nullptr && *bench != '\0' ? Printable(bench) : m_Template.host;
    m_Template.programVersion = QBX_VERSION;
    m_Template.bsdlFile = Printable(bsdlPath);
    m_Template.bsdlDigest = FileSha256(bsdlPath);
    m_Template.vectorsFile = Printable(vectorsPath);
    m_Template.vectorsDigest = Printable(station.m_Board.m_VectorsDigest);

    const char* named = std::getenv(kResultsVariable);
    const std::string target = named != nullptr && *named != '\0' ? named : platform::JoinPath(station.m_OutputFolder, "results.db");
    m_Recorder = OpenBoardRecorder(target, platform::JoinPath(station.m_OutputFolder, kFallbackFile), m_NotRecorded);
    if (m_Recorder) {
        std::printf("Results database %s\r\n", m_Recorder->Name().c_str());
        // The line's server did not answer: the boards go to the fallback file meanwhile.
        if (!m_NotRecorded.empty())
            std::printf("Results database not reached: %s\r\n", Printable(m_NotRecorded).c_str());
    } else {
        std::printf("Results are not recorded: %s\r\n", m_NotRecorded.c_str());
        // A database that cannot be used is named at every board; a build without one says it once.
        m_SayEveryBoard = ResultsDatabaseBuilt();
    }

    std::vector<std::string> problems;
    std::string digest;
    if (m_Nets.Load(vectorsPath, station.m_Board.m_Fpga[0].m_Bsdl, problems, digest) && digest != station.m_Board.m_VectorsDigest)
        problems.insert(problems.begin(), "the vector file changed after it was loaded");
    m_HaveNets = !m_Nets.nets.empty() && digest == station.m_Board.m_VectorsDigest;
    for (const std::string& problem : problems)
        std::printf("Net diagnosis: %s\r\n", Printable(problem).c_str());
    std::fflush(stdout);

    SetReportObserver([this](std::string_view message) {
        if (m_InBoard)
            m_Board.errorLines.push_back(Line(message));
    });
    station.m_Board.m_OnWrongCell = [this](const _WRONGCELL& c) {
        if (m_InBoard)
            m_Board.pinErrors.push_back({static_cast<int>(m_Board.errorLines.size()) - 1, c.vector, c.abs, Printable(c.group), c.fpga,
                                         Printable(c.pin), Printable(c.packagePin), c.read, c.expected});
    };
}

void CBoardRecords::BeginBoard(CTestStation& station)
{
    m_Board = m_Template;
    m_Board.started = UtcNow();
    m_Board.serial = station.m_Serial;
    m_InBoard = true;
    station.m_IdCodes.clear();
    station.m_TemperatureRead = false;
}

void CBoardRecords::ShowDiagnosis()
{
    if (!m_HaveNets || m_Board.pinErrors.empty())
        return;
    // Every message after the first wrong cell must be a wrong cell: anything else (a failed
    // transfer) means the run did not compare every vector.
    std::set<int> pinLines;
    for (const PinErrorRecord& pin : m_Board.pinErrors)
        pinLines.insert(pin.line);
    for (int line = m_Board.pinErrors.front().line; line < static_cast<int>(m_Board.errorLines.size()); ++line) {
        if (!pinLines.count(line)) {
            std::printf("Diagnosis: none, the run did not compare every vector\r\n");
            std::fflush(stdout);
            return;
        }
    }

    std::vector<_FAILEDPIN> failed;
    for (const PinErrorRecord& pin : m_Board.pinErrors)
        failed.push_back({pin.fpga, pin.pin, pin.packagePin, pin.abs, pin.read});
    for (const _NETFAULT& fault : Diagnose(m_Nets, failed)) {
        FaultRecord record{NetFaultKindName(fault.kind), std::nullopt, Printable(DescribeNetFault(m_Nets, fault)), {}};
        if (fault.value >= 0)
            record.level = fault.value;
        for (size_t n : fault.nets)
            record.nets.push_back(Printable(m_Nets.nets.at(n).driver.Name()));
        std::printf("Diagnosis: %s\r\n", record.description.c_str());
        m_Board.faults.push_back(std::move(record));
    }
    std::fflush(stdout);
}

void CBoardRecords::EndBoard(const CTestStation& station, const char* verdict, bool currentEntered)
{
    if (!m_InBoard)
        return;
    m_InBoard = false;
    BoardRecord& r = m_Board;
    r.ended = UtcNow();
    r.verdict = verdict;
    if (currentEntered)
        r.operatorCurrent = station.m_BoardCurrent;
    if (r.verdict != kVerdictEnded) {
        const CQbx_zor& board = station.m_Board;
        if (board.m_TempSensor.IsValid())
            r.thermometer = RomText(board.m_TempSensor.m_Rom);
        if (board.m_AdcSensor1.IsValid())
            r.adcSensor1 = RomText(board.m_AdcSensor1.m_Rom);
        if (board.m_AdcSensor2.IsValid())
            r.adcSensor2 = RomText(board.m_AdcSensor2.m_Rom);
        // The supply values are read only when both converters were found.
        if (board.m_AdcSensor1.IsValid() && board.m_AdcSensor2.IsValid()) {
            r.vin = board.m_Vin;
            r.vmem = board.m_Vmem;
            r.supplyCurrent = board.m_Current;
            r.powerFlags = board.m_PowerFlags;
        }
        if (station.m_TemperatureRead)
            r.temperature = station.m_Temperature;
        r.idCodes = station.m_IdCodes;
        if (r.verdict == kVerdictPass) {
            r.reportFile = Printable(station.m_ReportPath);
            r.reportSignature = LastLine(station.m_ReportPath);
        }
    }

    std::string why;
    if (m_Recorder && !m_Recorder->Append(r, why))
        std::printf("Results of board %u not recorded: %s\r\n", r.serial, Printable(why).c_str());
    else if (m_Recorder && !why.empty())
        std::printf("Results of board %u %s\r\n", r.serial, Printable(why).c_str());
    else if (!m_Recorder && m_SayEveryBoard)
        std::printf("Results are not recorded: %s\r\n", m_NotRecorded.c_str());
    std::fflush(stdout);
}
