// CPU time the station itself adds per interconnection vector: the board model and the scan layers
// over eight ProASIC3 models, with an adapter library that answers at once
// (the quiet usbwire stand-in of testsupport/), on the example BSDL and vector files. One vector is the
// SAMPLE/PRELOAD scan, the EXTEST scan, the merges and the comparison of every claimed cell.
//
// The stand-in chain captures zeros; the sensed cells of the vectors are set to 0 here, so that
// every vector passes, as on a good board, and no error line is formatted.
#include <benchmark/benchmark.h>

#include <string>

#include "qbx_zor.h"
#include "usbwire_spy.h"

namespace {

struct ExampleBoard {
    ExampleBoard()
    {
        const std::string examples = std::string(QBX_SOURCE_DIR) + "/examples";
        if (!board.LoadBsdl((examples + "/a3pe3000.bsd").c_str()) || !board.Load((examples + "/interconnect.vec").c_str()) ||
            board.VectorCount() == 0) {
            error = "cannot load the example BSDL and vector files from " + examples;
            return;
        }
        for (CProAsic3& fpga : board.m_Fpga) {
            const std::vector<uint8_t>& drive = fpga.m_Bsdl.driveMask;
            for (_VECTOR& vector : fpga.m_Vectors) {
                for (size_t p = 0; p < vector.image.size(); ++p) {
                    const uint8_t driven = p < drive.size() ? drive[p] : 0;
                    vector.image[p] = static_cast<uint8_t>(vector.image[p] & ~(fpga.m_CellsUsed[p] & ~driven));
                }
            }
        }
        board.AttachChain(handle, 1);
    }

    qbxtest::UsbwireSpy adapter{qbxtest::UsbwireSpy::kQuiet};
    void* handle = adapter.Handle();
    CQbx_zor board;
    std::string error;
};

void BM_BoardCpuPerVector(benchmark::State& state)
{
    ExampleBoard example;
    if (!example.error.empty()) {
        state.SkipWithError(example.error.c_str());
        return;
    }
    const int n = example.board.VectorCount();
    int j = 0;
    int failed = 0;
    for (auto _ : state) {
        if (example.board.DriveVector(j) != CQbx_zor::VECTOR_PASSED)
            ++failed;
        j = (j + 1) % n;
    }
    if (failed != 0)
        state.SkipWithError("a vector did not pass against the stand-in chain");
    state.counters["vectors"] = n;
    state.SetLabel("DriveVector: preload + EXTEST scans, merges, comparison; adapter answering at once");
}
BENCHMARK(BM_BoardCpuPerVector)->Unit(benchmark::kMicrosecond);

void BM_BoardCpuLockPllAndTruthTable(benchmark::State& state)
{
    // The per-board and start-up work on the vectors: the LOCKPLL pattern and the truth table.
    ExampleBoard example;
    if (!example.error.empty()) {
        state.SkipWithError(example.error.c_str());
        return;
    }
    for (auto _ : state) {
        example.board.WriteLockPllPattern();
        benchmark::DoNotOptimize(example.board.TruthTable());
    }
}
BENCHMARK(BM_BoardCpuLockPllAndTruthTable)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
