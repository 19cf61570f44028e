// CPU time the scan layers themselves add per interconnection vector, with an adapter library that
// answers at once (the quiet usbwire stand-in of testsupport/): selections, two IR scans, two DR scans with their
// merges, over eight ProASIC3 models. The target is at most 0.5 ms per vector, under 1 % of the
// 78 ms the vector's clocks take at 1 MHz.
#include <benchmark/benchmark.h>

#include <array>

#include "jtag_chain.h"
#include "proasic3.h"
#include "usbwire_spy.h"

namespace {

struct Board {
    Board()
    {
        for (size_t k = 0; k < fpga.size(); ++k) {
            fpga[k].m_Next = k > 0 ? &fpga[k - 1] : nullptr;
            fpga[k].m_Bsdl.driveMask.assign(303, 0);
            for (size_t i = 0; i < 303; ++i) {
                fpga[k].m_Bsdl.driveMask[i] = static_cast<uint8_t>(0xB6 >> (i % 3));
                vector[k][i] = static_cast<uint8_t>(i * 7 + k);
            }
        }
        chain = {&fpga[7], &handle, 1};
    }

    void ScanChain()
    {
        ScanIR(chain);
        ScanDR(chain);
        for (CProAsic3& device : fpga) {
            device.MergeCapture();
            device.SelectBypass();
        }
    }

    // One vector as the interconnection test drives it.
    void Vector()
    {
        for (size_t k = 0; k < fpga.size(); ++k) {
            fpga[k].m_Bsr = vector[k];
            fpga[k].SelectRegister(PA3_REG_SAMPLE_PRELOAD, true);
        }
        ScanChain();
        for (CProAsic3& device : fpga)
            device.SelectRegister(PA3_REG_EXTEST, false);
        ScanChain();
    }

    qbxtest::UsbwireSpy adapter{qbxtest::UsbwireSpy::kQuiet};
    void* handle = adapter.Handle();
    std::array<CProAsic3, 8> fpga;
    std::array<std::array<uint8_t, 303>, 8> vector{};
    _JTAGCHAIN chain;
};

void BM_ScanLayersPerVector(benchmark::State& state)
{
    Board board;
    for (auto _ : state) {
        board.Vector();
        benchmark::DoNotOptimize(board.fpga[0].m_Bsr.data());
    }
    state.SetLabel("SAMPLE/PRELOAD + EXTEST over 8 x 2424 cells, adapter answering at once");
}
BENCHMARK(BM_ScanLayersPerVector)->Unit(benchmark::kMicrosecond);

void BM_ScanLayersExtestScan(benchmark::State& state)
{
    Board board;
    for (auto _ : state) {
        for (CProAsic3& device : board.fpga)
            device.SelectRegister(PA3_REG_EXTEST, false);
        board.ScanChain();
        benchmark::DoNotOptimize(board.fpga[0].m_Bsr.data());
    }
}
BENCHMARK(BM_ScanLayersExtestScan)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
