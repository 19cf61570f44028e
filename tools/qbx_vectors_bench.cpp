// How long qbx-vectors takes: the whole command on the example board (board file, BSDL file,
// checks, output), and the formatting alone for boards of many nets.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "net_vectors.h"

namespace {

void BM_ExampleBoard(benchmark::State& state)
{
    const std::string board = std::string(QBX_SOURCE_DIR) + "/examples/boards/healthy.json";
    FILE* sink = std::fopen("/dev/null", "w");
    if (!sink) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    for (auto _ : state) {
        int status = RunQbxVectors({board}, sink, sink);
        if (status != 0) {
            state.SkipWithError("qbx-vectors refused the example board");
            break;
        }
    }
    std::fclose(sink);
}
BENCHMARK(BM_ExampleBoard)->Unit(benchmark::kMillisecond);

void BM_FormatNets(benchmark::State& state)
{
    _NETLIST netlist;
    netlist.boardFile = "many.json";
    netlist.bsdl = "x.bsd";
    netlist.chainLength = 8;
    const size_t nets = static_cast<size_t>(state.range(0));
    for (size_t i = 0; i < nets; ++i) {
        int driver = static_cast<int>(i % 8);
        netlist.nets.push_back({{"", driver, "$LNK" + std::to_string(i)},
                                {"", (driver + 1) % 8, "$LNK" + std::to_string(i)},
                                {"", (driver + 3) % 8, "$LNK" + std::to_string(i)}});
    }
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = FormatVectorFile(netlist);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_FormatNets)->Arg(48)->Arg(800)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
