// The supervisor's questions over 100,000 recorded boards: qbx-results yield and pareto, as the
// command runs them (open the database, query, print). The target is at most 200 ms each.
//
// The database is built once beside the build (bench-100k.db) and kept for later runs: 60 days, two
// vector files, about 8 % failing boards, each with one or two faults on the 48 nets, the nets of
// a few failing far more often than the rest (as a production line's Pareto looks).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "platform.h"
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

}  // namespace

BENCHMARK_MAIN();
