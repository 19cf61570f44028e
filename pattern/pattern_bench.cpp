// The matcher on long lines: the pin-line pattern of the vector reader over a 10 MB line without
// "-" (every start position runs the greedy set to the end of the line in the plain scan), and
// the same pattern on an ordinary pin line.
#include "pattern.h"

#include <benchmark/benchmark.h>

#include <string>

static void BM_PinPatternLongLineWithoutDash(benchmark::State& state)
{
    std::string line(static_cast<size_t>(state.range(0)), 'x');
    CMatch m;
    m.Compile("[ \t]*\\c[^-]+\\c-\\c[^ \t]+\\c[ \t]+\\c[0-1]+\\c", 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(m.Match(line.c_str()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_PinPatternLongLineWithoutDash)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

static void BM_PinPatternLongLineFoundAtTheEnd(benchmark::State& state)
{
    std::string line = std::string(static_cast<size_t>(state.range(0)), 'a') + "-PIN 0101";
    CMatch m;
    m.Compile("[ \t]*\\c[^-]+\\c-\\c[^ \t]+\\c[ \t]+\\c[0-1]+\\c", 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(m.Match(line.c_str()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_PinPatternLongLineFoundAtTheEnd)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

static void BM_PinPatternShortLine(benchmark::State& state)
{
    const char* line = "  3-AB12   0110110011";
    CMatch m;
    m.Compile("[ \t]*\\c[^-]+\\c-\\c[^ \t]+\\c[ \t]+\\c[0-1]+\\c", 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(m.Match(line));
        benchmark::DoNotOptimize(m.GetCapture(5, line, 6));
    }
}
BENCHMARK(BM_PinPatternShortLine);

BENCHMARK_MAIN();
