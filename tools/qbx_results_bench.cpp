// The supervisor's questions over 100,000 recorded boards in an SQLite file, and over 1,000,000
// boards of 20 benches in a line's PostgreSQL database: qbx-results yield and pareto, as the command
// runs them (open the database, query, print). The targets: at most 200 ms each on the file, at
// most 500 ms on the line's database.
//
// The file is built once beside the build (bench-100k.db) and kept for later runs: 60 days, two
// vector files, about 8 % failing boards, each with one or two faults on the 48 nets, the nets of
// a few failing far more often than the rest (as a production line's Pareto looks). The line's
// database is made alike by a throwaway server of the benchmark's own, with SQL (one million
// appends would take the server hours of syncs): every field of a board, but placeholder hashes,
// which yield and pareto do not read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "platform.h"
#include "postgres_test_support.h"
#include "qbx_results.h"

namespace {

constexpr int64_t kBoards = 100000;
constexpr int kDays = 60;
constexpr int kNets = 48;

std::string Database()
{
    const std::string path = std::string(QBX_BINARY_DIR) + "/bench-100k.db";
    if (std::filesystem::exists(path)) {
        int64_t records = 0;
        OpenResultsDb(path, false)->Sql().Query("SELECT COUNT(*) FROM boards", {}, [&](const SqlRow& row) { records = SqlInt(row[0]); });
        if (records == kBoards)
            return path;
        std::filesystem::remove(path);
    }
    auto db = OpenResultsDb(path, true, true);
    uint64_t seed = 12345;
    auto next = [&](uint64_t n) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return (seed >> 33) % n;
    };
    auto net = [&]() {  // nets 0..3 fail far more often than the rest
        const uint64_t pick = next(100);
        return static_cast<int>(pick < 40 ? pick % 4 : next(kNets));
    };
    for (int64_t i = 0; i < kBoards; ++i) {
        BoardRecord r;
        r.started = platform::Format("2024-%02d-%02dT08:%02d:00.000Z", 3 + static_cast<int>(i * kDays / kBoards) / 30,
                                     1 + static_cast<int>(i * kDays / kBoards) % 30, static_cast<int>(i % 60));
        r.ended = r.started;
        r.vectorsFile = i % 3 == 0 ? "interconnect-b.vec" : "interconnect.vec";
        r.serial = static_cast<uint32_t>(1000 + i);
        r.verdict = next(100) < 8 ? kVerdictFail : kVerdictPass;
        if (r.verdict == kVerdictFail) {
            for (int j = 0; j < 6; ++j) {
                r.errorLines.push_back("Vector 2 (abs=1) INTERCONNECT ERROR fpga 0 pin:LNK6 (G29) read=0 expected=1");
                r.pinErrors.push_back({j, 2, 1, "INTERCONNECT", 0, "LNK6", "G29", 0, 1});
            }
            const int faults = 1 + static_cast<int>(next(2));
            for (int f = 0; f < faults; ++f) {
                const std::string a = platform::Format("fpga %d pin:LNK%d", net() % 8, 100 + net());
                r.faults.push_back({"open-or-stuck", 1, "net " + a + ": all receivers read 1", {a}});
            }
        }
        std::string why;
        if (!db->Append(r, why))
            throw CSqlError(why);
    }
    return path;
}

void RunCommand(benchmark::State& state, const char* command)
{
    const std::string path = Database();
    FILE* sink = std::fopen("/dev/null", "w");
    for (auto _ : state)
        if (RunQbxResults({"--db", path, command}, sink, sink) != 0)
            state.SkipWithError("the command failed");
    std::fclose(sink);
}

void BM_Yield100k(benchmark::State& state)
{
    RunCommand(state, "yield");
}
BENCHMARK(BM_Yield100k)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Pareto100k(benchmark::State& state)
{
    RunCommand(state, "pareto");
}
BENCHMARK(BM_Pareto100k)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Verify100k(benchmark::State& state)
{
    RunCommand(state, "verify");
}
BENCHMARK(BM_Verify100k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

constexpr int64_t kLineBoards = 1000000;
constexpr int kBenches = 20;

// The line's database, made at the first call; "" with the reason in why when there is no server.
std::string LineDatabase(std::string& why)
{
    static qbxtest::CPrivatePostgres server;
    static std::unique_ptr<qbxtest::CTestDatabase> database;
    if (server.Server().conninfo.empty()) {
        why = server.Server().why;
        return "";
    }
    if (database)
        return database->Target();
    database = std::make_unique<qbxtest::CTestDatabase>(server.Server().conninfo);
    auto db = OpenResultsDb(database->Target(), true);
    // The load's own VACUUM below stands for the server's autovacuum, which would otherwise run
    // meanwhile and hold back the visibility map.
    for (const char* table : {"boards", "fault_nets"})
        db->Sql().Execute(std::string("ALTER TABLE ") + table + " SET (autovacuum_enabled = false)");
    const std::string sequence = platform::Format("generate_series(1, %lld)", static_cast<long long>(kLineBoards));
    db->Sql().Execute(
        std::string("INSERT INTO boards (id, started, ended, test_day, host, program_version, bsdl_file, bsdl_digest, vectors_file, "
                    "vectors_digest, serial, operator_current, thermometer, adc_sensor1, adc_sensor2, vin, vmem, supply_current, "
                    "power_flags, temperature, idcodes, verdict, report_file, report_signature, prev_hash, hash, bench, bench_seq, "
                    "hash_format) ") +
        "SELECT i, t, t, substr(t, 1, 10), 'pc-' || (i % " + std::to_string(kBenches) + "), '1.0', 'examples/a3pe3000.bsd', "
        "repeat('a', 64), CASE WHEN i % 3 = 0 THEN 'interconnect-b.vec' ELSE 'interconnect.vec' END, repeat('B', 32), 1000 + i, 0.5, "
        "'6C00080157A3B210', 'C80000000C1D2E20', 'FF0000000C1D2F20', 3.287109, 1.792969, 0.498047, 1, 24.5, "
        "'3E74E1CF 3E74E1CF 3E74E1CF 3E74E1CF 3E74E1CF 3E74E1CF 3E74E1CF 3E74E1CF', "
        "CASE WHEN (i * 2654435761) % 100 < 8 THEN 'FAIL' ELSE 'PASS' END, '', '', repeat('0', 64), repeat('0', 64), "
        "'bench-' || lpad((i % " + std::to_string(kBenches) + " + 1)::text, 2, '0'), i / " + std::to_string(kBenches) + " + 1, 2 "
        "FROM (SELECT i, to_char(timestamp '2024-03-01' + (i * " + std::to_string(kDays) + " / " + std::to_string(kLineBoards) +
        ") * interval '1 day' + (i % 36000) * interval '1 second', 'YYYY-MM-DD\"T\"HH24:MI:SS\".000Z\"') AS t FROM " + sequence + " AS i) AS g");
    // One or two faults per failing board; nets 0..3 far more often than the rest.
    const std::string faults = "SELECT b.id, f.f AS f, CASE WHEN (b.id * 7 + f.f * 13) % 100 < 40 THEN (b.id + f.f) % 4 ELSE "
                               "(b.id * 31 + f.f * 17) % " + std::to_string(kNets) + " END AS n, b.bench FROM boards b CROSS JOIN "
                               "generate_series(0, 1) AS f(f) WHERE b.verdict = 'FAIL' AND (f.f = 0 OR b.id % 2 = 0)";
    const std::string net = "'fpga ' || (n % 8) || ' pin:LNK' || (100 + n)";
    db->Sql().Execute("INSERT INTO faults (board_id, seq, kind, level, description) SELECT id, f, 'open-or-stuck', 1, 'net ' || " + net +
                      " || ': all receivers read 1' FROM (" + faults + ") AS x");
    db->Sql().Execute("INSERT INTO fault_nets (board_id, fault_seq, seq, net, kind, bench) SELECT id, f, 0, " + net +
                      ", 'open-or-stuck', bench FROM (" + faults + ") AS x");
    // What the server's autovacuum does after such a load: statistics and the visibility map.
    db->Sql().Execute("VACUUM ANALYZE boards");
    db->Sql().Execute("VACUUM ANALYZE fault_nets");
    return database->Target();
}

void RunLineCommand(benchmark::State& state, std::vector<std::string> args)
{
    std::string why;
    const std::string target = LineDatabase(why);
    if (target.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    args.insert(args.begin(), {"--db", target});
    FILE* sink = std::fopen("/dev/null", "w");
    for (auto _ : state)
        if (RunQbxResults(args, sink, sink) != 0)
            state.SkipWithError("the command failed");
    std::fclose(sink);
}

void BM_YieldLine1M(benchmark::State& state)
{
    RunLineCommand(state, {"yield"});
}
BENCHMARK(BM_YieldLine1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_YieldByBenchLine1M(benchmark::State& state)
{
    RunLineCommand(state, {"yield", "--by-bench"});
}
BENCHMARK(BM_YieldByBenchLine1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ParetoLine1M(benchmark::State& state)
{
    RunLineCommand(state, {"pareto"});
}
BENCHMARK(BM_ParetoLine1M)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ParetoByBenchLine1M(benchmark::State& state)
{
    RunLineCommand(state, {"pareto", "--by-bench"});
}
BENCHMARK(BM_ParetoByBenchLine1M)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
