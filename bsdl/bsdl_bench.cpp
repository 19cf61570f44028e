// ReadBsdl of the example A3PE3000 file (2424 cells, 813 ports): target at most 5 ms.
#include "bsdl.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>

static const std::string kExample = std::string(QBX_SOURCE_DIR) + "/examples/a3pe3000.bsd";

static void BM_ReadBsdlExample(benchmark::State& state)
{
    for (auto _ : state) {
        _BSDLDATA data;
        if (ReadBsdl(kExample.c_str(), data) != 1 || data.pins.size() != 813) {
            state.SkipWithError("cannot read the example BSDL file");
            break;
        }
        benchmark::DoNotOptimize(data.pins.data());
    }
}
BENCHMARK(BM_ReadBsdlExample)->Unit(benchmark::kMillisecond);

// The scanning half alone, on the text already in memory.
static void BM_ReadBsdlTextExample(benchmark::State& state)
{
    std::ifstream in(kExample, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto _ : state) {
        _BSDLDATA data;
        ReadBsdlText(text.c_str(), data);
        benchmark::DoNotOptimize(data.pins.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadBsdlTextExample)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
