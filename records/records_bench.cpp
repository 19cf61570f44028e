// What recording adds to a board's cycle: one record appended in its own write transaction, synced
// to the disk before it returns (as the station appends it), for a passing board and for a failing
// board with its error lines, wrong cells and diagnosis. The targets: at most 5 ms per board into
// an SQLite file, at most 10 ms into a local PostgreSQL server.
//
// The PostgreSQL figures come from a throwaway server of the benchmark's own (durable: it syncs
// each commit as a real server does), reached through its Unix socket. With it, what a board costs
// while the server is stopped (the connection refused) and while it is frozen (connections taken
// but never answered: the connect time-out, once, then the boards go straight to the fallback
// file for a while).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "postgres_test_support.h"
#include "results_db.h"

namespace {

// A failing board as the example short gives it: twelve wrong cells, one short between two nets.
BoardRecord Board(bool failing)
{
    BoardRecord r;
    r.started = "2024-05-01T10:00:00.000Z";
    r.ended = "2024-05-01T10:00:02.500Z";
    r.host = "bench";
    r.programVersion = "1.0";
    r.bsdlFile = "examples/a3pe3000.bsd";
    r.bsdlDigest = std::string(64, 'a');
    r.vectorsFile = "examples/interconnect.vec";
    r.vectorsDigest = std::string(32, 'B');
    r.serial = 1;
    r.operatorCurrent = 0.5;
    r.thermometer = "6C00080157A3B210";
    r.adcSensor1 = "C80000000C1D2E20";
    r.adcSensor2 = "FF0000000C1D2F20";
    r.vin = 3.287109;
    r.vmem = 1.792969;
    r.supplyCurrent = 0.498047;
    r.powerFlags = 1;
    r.temperature = 24.5;
    r.idCodes.assign(8, 0x3E74E1CF);
    r.verdict = failing ? kVerdictFail : kVerdictPass;
    if (!failing) {
        r.reportFile = "out/QBX_1_6C00080157A3B210.txt";
        r.reportSignature = std::string(32, 'C');
        return r;
    }
    for (int i = 0; i < 12; ++i) {
        r.errorLines.push_back("Vector 2 (abs=1) INTERCONNECT ERROR fpga 0 pin:LNK6 (G29) read=0 expected=1");
        r.pinErrors.push_back({i, 2, 1, "INTERCONNECT", 0, "LNK6", "G29", 0, 1});
    }
    r.faults.push_back({"short", std::nullopt, "short between net fpga 2 pin:LNK99 (L2) and net fpga 5 pin:LNK247 (V3)",
                        {"fpga 2 pin:LNK99 (L2)", "fpga 5 pin:LNK247 (V3)"}});
    return r;
}

void AppendBoard(benchmark::State& state, bool failing)
{
    // Beside the build, on the disk the build is on (not a memory file system).
    const std::string path = std::string(QBX_BINARY_DIR) + "/bench-append.db";
    std::filesystem::remove(path);
    auto db = OpenResultsDb(path, true);
    const BoardRecord board = Board(failing);
    for (auto _ : state) {
        BoardRecord r = board;
        std::string why;
        if (!db->Append(r, why))
            state.SkipWithError(why.c_str());
    }
    db.reset();
    std::filesystem::remove(path);
}

BENCHMARK_CAPTURE(AppendBoard, passing, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(AppendBoard, failing, true)->Unit(benchmark::kMillisecond)->UseRealTime();

qbxtest::CPrivatePostgres& Server()
{
    static qbxtest::CPrivatePostgres server(true);
    return server;
}

void AppendBoardPostgres(benchmark::State& state, bool failing)
{
    if (Server().Server().conninfo.empty()) {
        state.SkipWithError(Server().Server().why.c_str());
        return;
    }
    const qbxtest::CTestDatabase database(Server().Server().conninfo);
    auto db = OpenResultsDb(database.Target(), true);
    const BoardRecord board = Board(failing);
    for (auto _ : state) {
        BoardRecord r = board;
        std::string why;
        if (!db->Append(r, why))
            state.SkipWithError(why.c_str());
    }
}

BENCHMARK_CAPTURE(AppendBoardPostgres, passing, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(AppendBoardPostgres, failing, true)->Unit(benchmark::kMillisecond)->UseRealTime();

// The station's recorder while the server is stopped or frozen: each iteration is one board.
// connect_s: the recorder's first connection attempt (at the station's start-up).
void RecordWhileServerDown(benchmark::State& state, bool frozen)
{
    qbxtest::CPrivatePostgres& server = Server();
    if (server.Server().conninfo.empty()) {
        state.SkipWithError(server.Server().why.c_str());
        return;
    }
    const qbxtest::TempDir dir;
    const qbxtest::CTestDatabase database(server.Server().conninfo);
    if (!(frozen ? server.Freeze(true) : server.Halt())) {
        state.SkipWithError("the server cannot be stopped");
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    std::string note;
    auto recorder = OpenBoardRecorder(database.Target(), dir.File("fallback.db"), note);
    state.counters["connect_s"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const BoardRecord board = Board(false);
    for (auto _ : state) {
        BoardRecord r = board;
        std::string why;
        if (!recorder->Append(r, why) || why.find("recorded in ") != 0)
            state.SkipWithError(("not recorded in the fallback file: " + why).c_str());
    }
    if (!(frozen ? server.Freeze(false) : server.Resume()))
        state.SkipWithError("the server cannot be started again");
}

BENCHMARK_CAPTURE(RecordWhileServerDown, stopped, false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK_CAPTURE(RecordWhileServerDown, frozen, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
