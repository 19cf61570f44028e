// Speed of the vector file reader and of the digest.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <string>

#include "vectors.h"

namespace fs = std::filesystem;

namespace {

class CNullVectors : public CBsrVectors {
public:
    int AddPinVector(const std::string&, int, int, const std::string&, const std::string&) override { return 1; }
};

// A realistic vector file of about lines lines: groups of 8 devices, each with DRIVE and SENSOR
// sections of pin lines carrying a few dozen bits.
std::string MakeVectorFile(int lines)
{
    std::string text;
    int written = 0;
    unsigned seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    for (int group = 0; written < lines; ++group) {
        text += "<GROUP_" + std::to_string(group) + ">\r\n";
        ++written;
        for (const char* section : {"DRIVE:", "SENSOR:"}) {
            text += std::string("  ") + section + "\r\n";
            ++written;
            for (int i = 0; i < 40 && written < lines - 1; ++i, ++written) {
                text += "  " + std::to_string(i % 8) + "-" + static_cast<char>('A' + next() % 22) +
                        std::to_string(1 + next() % 34) + "\t";
                const int bits = 24 + static_cast<int>(next() % 24);
                for (int b = 0; b < bits; ++b)
                    text += (next() & 1) ? '1' : '0';
                text += "\r\n";
            }
        }
        text += "</GROUP_" + std::to_string(group) + ">\r\n";
        ++written;
    }
    return text;
}

void BM_LoadVectorFile(benchmark::State& state)
{
    const int lines = static_cast<int>(state.range(0));
    fs::path path = fs::temp_directory_path() / ("qbx-vectors-bench-" + std::to_string(getpid()) + ".txt");
    const std::string text = MakeVectorFile(lines);
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    CNullVectors reader;
    for (auto _ : state) {
        if (!reader.Load(path.c_str())) {
            state.SkipWithError("Load failed");
            break;
        }
        benchmark::DoNotOptimize(reader.m_VectorsDigest.data());
    }
    state.counters["pin_lines"] = static_cast<double>(reader.m_PinNames.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    fs::remove(path);
}
BENCHMARK(BM_LoadVectorFile)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_DataHash(benchmark::State& state)
{
    const std::string block(static_cast<size_t>(state.range(0)), 'x');
    std::string hex;
    for (auto _ : state) {
        CDataHash hash;
        hash.Init();
        hash.AddString(block);
        hash.AddSalt();
        hash.GetHexString(hex);
        benchmark::DoNotOptimize(hex.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_DataHash)->Arg(64)->Arg(64 << 10)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
