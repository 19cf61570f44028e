// The built Test_QBX_FPGA recording boards against the simulator: records, kills, unusable
// databases, two stations, a PostgreSQL line, a server down at start or mid-run, codes that form no nets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>

#include "postgres_test_support.h"
#include "results_db.h"
#include "sim_board.h"

using namespace qbxtest;
using ::testing::HasSubstr;
using ::testing::Not;
using json = nlohmann::json;

namespace {

const std::string kBsdl = ExamplesDir() + "/a3pe3000.bsd";
const std::string kVectors = ExamplesDir() + "/interconnect.vec";
const std::string kShortDiagnosis = "Diagnosis: short between net fpga 2 pin:LNK99 (L2) and net fpga 5 pin:LNK247 (V3)";

// The example sequence (a board that passes, then one with nets 10 and 21 shorted), repeated.
std::string SequenceFile(const TempDir& dir, int times) { return ExampleBoards(dir, "sequence.json", times); }

ProcessResult Station(const std::string& boards, const std::string& output, const std::string& input,
                      const std::optional<std::string>& results = std::nullopt, ProcessOptions options = {},
                      const std::string& vectors = kVectors)
{
    std::filesystem::create_directories(output);
    options.args = {kBsdl, vectors, output};
    options.input = input;
    options.env["QBX_RESULTS"] = results;
    return RunStation(boards, options);
}

std::vector<BoardRecord> Records(const std::string& path)
{
    std::vector<BoardRecord> records;
    OpenResultsDb(path, false)->ForEachRecord({}, [&](const BoardRecord& r) { records.push_back(r); });
    return records;
}

// The text after "prefix" on the console, up to the line end.
std::string After(const std::string& out, const std::string& prefix)
{
    const size_t at = out.find(prefix);
    return at == std::string::npos ? "" : out.substr(at + prefix.size(), out.find("\r\n", at) - at - prefix.size());
}

}  // namespace

TEST(StationRecords, EveryBoardIsRecordedWithWhatItShowedAndTheDiagnosisStaysOnTheConsole)
{
    TempDir dir;
    const std::string output = dir.File("out");
    const ProcessResult r = Station(SequenceFile(dir, 1), output, "11\n0.5\n12\n0.6\n13\n0.9\n");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Results database " + output + "/results.db\r\n"));
    // The diagnosis follows the last wrong pin, before the temperature; the error file keeps its lines.
    EXPECT_THAT(r.out, HasSubstr("INTERCONNECT ERROR fpga 6 pin:LNK294 (Y8) read=0 expected=1\r\n" + kShortDiagnosis +
                                 "\r\nTemperature=24.50\r\n"));

    const std::vector<BoardRecord> records = Records(output + "/results.db");
    ASSERT_EQ(records.size(), 3u);
    const BoardRecord& pass = records[0];
    EXPECT_EQ(pass.verdict, kVerdictPass);
    EXPECT_EQ(pass.serial, 11u);
    EXPECT_EQ(pass.operatorCurrent, 0.5);
    EXPECT_EQ(pass.vectorsDigest, After(r.out, "vectors="));
    EXPECT_EQ(pass.thermometer, After(r.out, "QBX 1 sensor id "));
    EXPECT_EQ(pass.adcSensor2, After(r.out, "QBX 1 adcsensor2 id "));
    EXPECT_EQ(pass.vin ? std::to_string(*pass.vin) : "", After(r.out, "Vin="));
    EXPECT_EQ(pass.temperature, 24.5);
    EXPECT_EQ(pass.idCodes, std::vector<uint32_t>(8, 0x3E74E1CF));
    EXPECT_EQ(pass.bsdlDigest.size(), 64u);
    EXPECT_EQ(std::make_tuple(pass.bench, pass.seq), std::make_tuple(pass.host, int64_t{1})) << "the bench is the host unless named";
    EXPECT_THAT(pass.started, ::testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z"));
    EXPECT_LT(pass.started, pass.ended);
    EXPECT_EQ(pass.reportFile, output + "/QBX_11_" + pass.thermometer + ".txt");
    EXPECT_EQ(pass.reportSignature + "\r\n", CrLfLines(ReadFile(pass.reportFile)).back() + "\r\n");

    const BoardRecord& fail = records[1];
    EXPECT_EQ(fail.verdict, kVerdictFail);
    std::string lines;
    for (const std::string& line : fail.errorLines)
        lines += line + "\r\n";
    EXPECT_EQ(fail.errorLines.size(), 12u);
    EXPECT_THAT(r.out, HasSubstr(lines));
    ASSERT_EQ(fail.pinErrors.size(), 12u);
    const PinErrorRecord& first = fail.pinErrors[0];
    EXPECT_EQ((std::make_tuple(first.line, first.vector, first.abs, first.group, first.fpga, first.pin, first.packagePin, first.read,
                               first.expected)),
              std::make_tuple(0, 2, 1, std::string("INTERCONNECT"), 0, std::string("LNK6"), std::string("G29"), 0, 1));
    ASSERT_EQ(fail.faults.size(), 1u);
    EXPECT_EQ("Diagnosis: " + fail.faults[0].description, kShortDiagnosis);
    EXPECT_EQ(fail.faults[0].nets, (std::vector<std::string>{"fpga 2 pin:LNK99 (L2)", "fpga 5 pin:LNK247 (V3)"}));
    EXPECT_EQ(fail.reportFile, "");

    const BoardRecord& ended = records[2];  // 0.9 A ended the program at its current prompt
    EXPECT_EQ(std::make_tuple(ended.verdict, ended.serial, ended.operatorCurrent, ended.thermometer, ended.idCodes.size()),
              std::make_tuple(std::string(kVerdictEnded), 13u, std::optional<double>(0.9), std::string(), size_t{0}));
    EXPECT_EQ(OpenResultsDb(output + "/results.db", false)->Verify().problems, std::vector<std::string>{});

    ProcessOptions list;
    list.args = {"--db", output + "/results.db", "list"};
    const ProcessResult listed = RunProcess(BuiltProgram("qbx-results"), list);
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_THAT(listed.out, ::testing::ContainsRegex("ENDED.*\n.*FAIL .* short between.*\n.*PASS"));
}

// SIGKILL at many moments: the chain stays whole and at most the board in progress is lost.
TEST(StationRecords, AStationKilledAtAnyMomentLosesAtMostTheBoardInProgress)
{
    TempDir dir;
    const std::string boards = SequenceFile(dir, 2);  // pass, fail, pass, fail
    const std::string db = dir.File("shared.db");
    constexpr int kBoards = 3;
    const ProcessResult whole = Station(boards, dir.File("whole"), OperatorInput(1, kBoards), db);
    ASSERT_EQ(Occurrences(whole.out, "| Test Board "), 3u) << whole.out;

    std::vector<std::function<bool(const std::string&, double)>> kills;
    for (int k = 1; k <= 6; ++k)
        kills.push_back([&, k](const std::string&, double seconds) { return seconds >= whole.seconds * k / 7; });
    for (const char* line : {"Test Interconnections OK", "| Test Board SUCCESS", "Vector ", kShortDiagnosis.c_str(), "| Test Board FAIL"})
        kills.push_back([line = std::string(line)](const std::string& out, double) { return out.find(line) != std::string::npos; });

    size_t recorded = kBoards, killed = 0;
    for (size_t run = 0; run < kills.size(); ++run) {
        SCOPED_TRACE("kill " + std::to_string(run));
        ProcessOptions options;
        options.killWhen = kills[run];
        const uint32_t first = 100 * static_cast<uint32_t>(run + 1);
        const ProcessResult r = Station(boards, dir.File("run" + std::to_string(run)), OperatorInput(first, kBoards), db, options);
        killed += r.signal == SIGKILL;
        if (r.signal != SIGKILL) {
            EXPECT_EQ(r.status, 0) << "a run that ended before its moment to be killed must end well";
        }
        const size_t boxes = Occurrences(r.out, "| Test Board ");

        auto results = OpenResultsDb(db, true);  // checks the file's structure
        const ChainCheck check = results->Verify();
        EXPECT_EQ(check.problems, std::vector<std::string>{});
        std::vector<uint32_t> serials;
        results->ForEachRecord({}, [&](const BoardRecord& b) {
            if (b.serial >= first && b.serial < first + 100)
                serials.push_back(b.serial);
        });
        EXPECT_GE(serials.size(), boxes);
        EXPECT_LE(serials.size(), boxes + 1);
        for (size_t i = 0; i < serials.size(); ++i)
            EXPECT_EQ(serials[i], first + i);
        recorded += serials.size();
        EXPECT_EQ(check.records, static_cast<int64_t>(recorded));
    }
    EXPECT_GE(killed + 2, kills.size()) << "a run may end before its moment (a busy machine is slower than the first run)";
}

TEST(StationRecords, ADatabaseThatCannotBeUsedIsNamedAtEveryBoardAndTheStationGoesOn)
{
    TempDir dir;
    const std::string boards = SequenceFile(dir, 1);
    const std::string mount = dir.File("disk");
    std::filesystem::create_directories(mount);
    const bool mounted = ::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=512k") == 0;
    struct Case {
        std::string name;
        std::function<std::string()> make;  // the database's path
        std::string why;
    };
    auto recordOne = [](const std::string& path) {
        BoardRecord r;
        r.started = r.ended = UtcNow();
        r.verdict = kVerdictPass;
        std::string why;
        EXPECT_TRUE(OpenResultsDb(path, true)->Append(r, why)) << why;
        return path;
    };
    std::vector<Case> cases = {
        {"not SQLite", [&] { WriteFile(dir.File("text.db"), "serial;verdict\n"); return dir.File("text.db"); }, "file is not a database"},
        {"a folder", [&] { return dir.Path(); }, "a folder, not a database file"},
        {"no such folder", [&] { return dir.File("none/results.db"); }, "No such file or directory"},
    };
    if (mounted)
        cases.push_back({"read-only disk", [&] {
                             recordOne(mount + "/ro.db");
                             EXPECT_EQ(::mount("tmpfs", mount.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=512k"), 0);
                             return mount + "/ro.db";
                         },
                         "read-only"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.make();
        const std::string before = std::filesystem::is_regular_file(path) ? ReadFile(path) : "";
        const std::string output = dir.File("out-" + std::to_string(&c - cases.data()));
        const ProcessResult r = Station(boards, output, OperatorInput(21, 2), path);
        EXPECT_EQ(r.status, 0);
        const std::string line = After(r.out, "Results are not recorded: ");
        EXPECT_THAT(line, HasSubstr(path + ": "));
        EXPECT_THAT(line, HasSubstr(c.why));
        EXPECT_EQ(Occurrences(r.out, "Results are not recorded: " + line + "\r\n"), 3u) << "at start-up and at each board";
        EXPECT_EQ(Occurrences(r.out, "| Test Board SUCCESS"), 1u);
        EXPECT_EQ(Occurrences(r.out, kShortDiagnosis), 1u);
        EXPECT_TRUE(FileExists(output + "/QBX_21_" + After(r.out, "QBX 1 sensor id ") + ".txt"));
        EXPECT_THAT(ReadFile(output + "/error.txt"), HasSubstr("INTERCONNECT ERROR"));
        EXPECT_THAT(ReadFile(output + "/error.txt"), Not(HasSubstr("Diagnosis"))) << "the diagnosis is for the console only";
        if (!before.empty()) {
            EXPECT_TRUE(ReadFile(path) == before) << "the file was changed";
        }
    }
    if (!mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (not root?): the read-only and full disk cases were not run";

    // A disk that fills up while the station runs: each board says it was not recorded, the
    // records before stay, and recording goes on once there is room again.
    ::umount(mount.c_str());
    ASSERT_EQ(::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=512k"), 0);
    const std::string full = recordOne(mount + "/full.db");
    ProcessOptions fill;
    fill.killWhen = [&, filled = false](const std::string& out, double) mutable {
        if (!filled && out.find("Results database") != std::string::npos) {
            std::ofstream filler(mount + "/filler", std::ios::binary);
            const std::string block(4096, 'x');
            while (filler.write(block.data(), block.size())) {
            }
            filled = true;
        }
        return false;
    };
    const ProcessResult r = Station(boards, dir.File("out-full"), OperatorInput(31, 2), full, fill);
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("Results of board 31 not recorded: " + full + ": database or disk is full\r\n"));
    EXPECT_THAT(r.out, HasSubstr("Results of board 32 not recorded: "));
    EXPECT_EQ(Occurrences(r.out, "| Test Board SUCCESS"), 1u);
    std::filesystem::remove(mount + "/filler");
    EXPECT_EQ(Records(full).size(), 1u);
    const ProcessResult again = Station(boards, dir.File("out-again"), OperatorInput(41, 2), full);
    EXPECT_THAT(again.out, Not(HasSubstr("not recorded")));
    EXPECT_EQ(Records(full).size(), 3u);
    EXPECT_EQ(OpenResultsDb(full, false)->Verify().problems, std::vector<std::string>{});
    ::umount(mount.c_str());
}

TEST(StationRecords, TwoStationsRecordIntoOneDatabaseAndLoseNothing)
{
    TempDir dir;
    const std::string boards = SequenceFile(dir, 2), db = dir.File("line.db");
    auto station = [&](uint32_t first) {
        return std::async(std::launch::async, [&, first] { return Station(boards, dir.File("out" + std::to_string(first)), OperatorInput(first, 4), db); });
    };
    auto a = station(100), b = station(200);
    const ProcessResult ra = a.get(), rb = b.get();
    EXPECT_THAT(ra.out + rb.out, Not(HasSubstr("not recorded")));
    std::multiset<uint32_t> serials;
    for (const BoardRecord& r : Records(db))
        serials.insert(r.serial);
    EXPECT_EQ(serials, (std::multiset<uint32_t>{100, 101, 102, 103, 200, 201, 202, 203}));
    EXPECT_EQ(OpenResultsDb(db, false)->Verify().problems, std::vector<std::string>{});
}

TEST(StationRecords, TheStationsOfALineRecordIntoOneServerAndTheReportCoversThemAll)
{
    const TestServer server = TestPostgresServer();
    QBX_REQUIRE_SERVER(server);
    const CTestDatabase line(server.conninfo);
    TempDir dir;
    const std::string boards = SequenceFile(dir, 2);  // pass, fail, pass, fail
    std::vector<std::future<ProcessResult>> stations;
    std::multiset<std::pair<std::string, uint32_t>> tested;
    for (uint32_t bench = 1; bench <= 3; ++bench) {
        for (uint32_t serial = 100 * bench; serial < 100 * bench + 4; ++serial)
            tested.emplace("bench-" + std::to_string(bench), serial);
        stations.push_back(std::async(std::launch::async, [&, bench] {
            ProcessOptions options;
            options.env["QBX_BENCH"] = "bench-" + std::to_string(bench);
            return Station(boards, dir.File("out" + std::to_string(bench)), OperatorInput(100 * bench, 4), line.Uri(), options);
        }));
    }
    for (auto& station : stations) {
        const ProcessResult r = station.get();
        EXPECT_EQ(r.status, 0);
        EXPECT_THAT(r.out, HasSubstr("Results database " + line.Uri() + "\r\n"));
        EXPECT_THAT(r.out, Not(HasSubstr("Results of board"))) << "every board recorded into the server";
    }
    std::multiset<std::pair<std::string, uint32_t>> recorded;
    for (const BoardRecord& r : Records(line.Uri()))
        recorded.emplace(r.bench, r.serial);
    EXPECT_EQ(recorded, tested);
    const ChainCheck check = OpenResultsDb(line.Target(), false)->Verify();
    EXPECT_EQ(check.problems, std::vector<std::string>{});
    EXPECT_EQ(check.benches.size(), 3u);

    // The supervisor's page, from the same QBX_RESULTS, covers every bench.
    ProcessOptions report;
    report.args = {"report", dir.File("line.html")};
    report.env = {{"QBX_RESULTS", line.Uri()}};
    const ProcessResult page = RunProcess(BuiltProgram("qbx-results"), report);
    ASSERT_EQ(page.status, 0) << page.err;
    const std::string html = ReadFile(dir.File("line.html"));
    EXPECT_THAT(html, HasSubstr("12 boards with a verdict: 6 passed, 6 failed"));
    for (const char* bench : {"bench-1", "bench-2", "bench-3"})
        EXPECT_THAT(html, HasSubstr(std::string("<tr><td>") + bench + "</td><td align=\"right\">2</td><td align=\"right\">2</td>"));
}

// The server stops after a run's first board and is down at the next start: each board goes to the
// server or the fallback file, once; qbx-results copy brings the fallback's boards over, once.
TEST(StationRecords, AServerDownAtStartOrMidRunLosesNoBoardAndCopyBringsItsBoardsOver)
{
    CPrivatePostgres server;
    QBX_REQUIRE_SERVER(server.Server());
    const CTestDatabase line(server.Server().conninfo);
    TempDir dir;
    const std::string boards = SequenceFile(dir, 2), output = dir.File("out"), fallback = output + "/results-fallback.db";
    auto afterFirstBoard = [](std::function<bool()> act) {
        return [act, done = false](const std::string& out, double) mutable {
            if (!done && out.find("| Test Board ") != std::string::npos) {
                done = true;
                EXPECT_TRUE(act());
            }
            return false;
        };
    };
    ProcessOptions options;
    options.env["QBX_BENCH"] = "bench-x";
    options.killWhen = afterFirstBoard([&] { return server.Halt(); });
    const ProcessResult first = Station(boards, output, OperatorInput(1, 4), line.Target(), options);
    options.killWhen = afterFirstBoard([&] { return server.Resume(); });
    const ProcessResult second = Station(boards, output, OperatorInput(11, 3), line.Target(), options);

    const std::string out = first.out + second.out;
    EXPECT_THAT(first.out, Not(HasSubstr("Results of board 1 ")));
    EXPECT_THAT(first.out, HasSubstr("Results of board 4 recorded in " + fallback + ": " + line.Target() + ": "));
    EXPECT_THAT(second.out, HasSubstr("Results database not reached: " + line.Target() + ": "));
    EXPECT_THAT(second.out, HasSubstr("Results of board 11 recorded in " + fallback + ": "));
    EXPECT_THAT(second.out, Not(HasSubstr("Results of board 13 "))) << "recording goes back to the server once it answers";
    EXPECT_THAT(out, Not(HasSubstr("not recorded")));
    for (uint32_t serial : {1, 2, 3, 4, 11, 12, 13})
        EXPECT_LE(Occurrences(out, "Results of board " + std::to_string(serial) + " "), 1u);
    const size_t fellBack = Occurrences(out, "recorded in " + fallback + ": ");
    ASSERT_EQ(Records(fallback).size(), fellBack);
    EXPECT_EQ(Records(line.Target()).size() + fellBack, 7u);

    auto copy = [&]() {
        ProcessOptions options;
        options.args = {"copy", fallback, line.Uri()};
        return RunProcess(BuiltProgram("qbx-results"), options);
    };
    EXPECT_THAT(copy().out, HasSubstr("bench bench-x: " + std::to_string(fellBack) + " copied, 0 already there\n"));
    EXPECT_THAT(copy().out, HasSubstr("bench bench-x: 0 copied, " + std::to_string(fellBack) + " already there\n"));
    std::multiset<uint32_t> serials;
    for (const BoardRecord& r : Records(line.Target()))
        serials.insert(r.serial);
    EXPECT_EQ(serials, (std::multiset<uint32_t>{1, 2, 3, 4, 11, 12, 13}));
    EXPECT_EQ(OpenResultsDb(line.Target(), false)->Verify().problems, std::vector<std::string>{});
}

TEST(StationRecords, AVectorFileWhoseCodesFormNoNetsIsNamedAndItsFailuresShownUnexplained)
{
    TempDir dir;
    // The first receiver of the first net expects values that no driver drives.
    std::string text = ReadFile(kVectors);
    const size_t sensor = text.find("SENSOR:\r\n") + 9;
    const size_t bits = text.find(' ', sensor) + 1;
    text.replace(bits, 12, "010101010101");
    WriteFile(dir.File("hand.vec"), text);
    const std::string pin = text.substr(sensor, text.find(' ', sensor) - sensor);
    const ProcessResult r = Station(SequenceFile(dir, 1), dir.File("out"), OperatorInput(51, 1), std::nullopt, {}, dir.File("hand.vec"));
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("Net diagnosis: SENSOR lines whose values are no DRIVE line's (pins on no net): " + pin + "\r\n"));
    EXPECT_THAT(r.out, ::testing::ContainsRegex("Diagnosis: unexplained: fpga 1 pin:LNK48 \\([A-Z0-9]+\\) read wrong in vectors [0-9= ]+ "
                                                "and is on no net\r\n"));
    EXPECT_EQ(Records(dir.File("out/results.db")).at(0).faults.at(0).kind, "unexplained");
}
