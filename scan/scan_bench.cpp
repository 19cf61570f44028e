// Host time of the scans through the real libusbwire.so and the board simulator (libqbxsim.so):
// one ScanIR + ScanDR over eight ProASIC3 models in EXTEST, and a whole vector (SAMPLE/PRELOAD and
// EXTEST scans). Measures the library's command building and the simulated adapter, not a board.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <vector>

#include "ds2450.h"
#include "i2c_channel.h"
#include "jtag_chain.h"
#include "onewire_master.h"
#include "proasic3.h"
#include "sim_board.h"
#include "usbwire.h"

namespace {

// A healthy simulated board, powered, its JTAG switch on, both channels open.
class SimBoard {
public:
    SimBoard()
    {
        qbxtest::UseSimulator(qbxtest::WriteBoardFile(m_Dir, qbxtest::HealthyBoard(qbxtest::BsdlForTests(m_Dir))));
        if (OpenI2CChannel(m_I2C) != 0)
            return;
        I2C_GPIODirection(m_I2C, 4, 1);
        I2C_GPIOWrite(m_I2C, 4, 1);
        std::vector<_ROMID> converters;
        m_Master.FindFamily(DS2450_FAMILY, converters, 30);
        for (const _ROMID& rom : converters) {
            CDs2450 adc;
            adc.Attach(&m_Master, rom);
            adc.m_Config[0] = DS2450_WORD_OUTPUT_ON;
            adc.WriteChannelConfig();
        }
        if (!OpenJtag(m_Jtag))
            return;
        for (size_t k = 0; k < m_Fpga.size(); ++k) {
            m_Fpga[k].m_Next = k > 0 ? &m_Fpga[k - 1] : nullptr;
            m_Fpga[k].m_Bsdl.driveMask.assign(303, 0xFF);
        }
        m_Chain = {&m_Fpga[7], &m_Jtag, 1};
        std::vector<uint32_t> ids;
        ReadIdCodes(ids, m_Chain);
        m_Ready = ids.size() == 8;
    }

    ~SimBoard()
    {
        CloseJtag(m_Jtag);
        if (m_I2C != nullptr)
            I2C_GPIOWrite(m_I2C, 4, 0);
        CloseI2CChannel(m_I2C);
    }

    bool Ready() const { return m_Ready; }

    void Scan(int type, bool preload)
    {
        for (CProAsic3& device : m_Fpga)
            device.SelectRegister(type, preload);
        ScanIR(m_Chain);
        ScanDR(m_Chain);
        for (CProAsic3& device : m_Fpga) {
            device.MergeCapture();
            device.SelectBypass();
        }
    }

    std::array<CProAsic3, 8> m_Fpga;

private:
    qbxtest::TempDir m_Dir;
    void* m_I2C = nullptr;
    void* m_Jtag = nullptr;
    COneWireMaster m_Master{m_I2C};
    _JTAGCHAIN m_Chain;
    bool m_Ready = false;
};

SimBoard& Board()
{
    static SimBoard board;
    return board;
}

void BM_ExtestScanThroughSimulator(benchmark::State& state)
{
    SimBoard& board = Board();
    if (!board.Ready()) {
        state.SkipWithError("the simulated board did not answer (libqbxsim.so built?)");
        return;
    }
    for (auto _ : state) {
        board.Scan(PA3_REG_EXTEST, false);
        benchmark::DoNotOptimize(board.m_Fpga[0].m_Bsr.data());
    }
    state.SetLabel("ScanIR + ScanDR, 8 x 2424 cells");
}
BENCHMARK(BM_ExtestScanThroughSimulator)->Unit(benchmark::kMillisecond);

void BM_VectorThroughSimulator(benchmark::State& state)
{
    SimBoard& board = Board();
    if (!board.Ready()) {
        state.SkipWithError("the simulated board did not answer (libqbxsim.so built?)");
        return;
    }
    for (auto _ : state) {
        board.Scan(PA3_REG_SAMPLE_PRELOAD, true);
        board.Scan(PA3_REG_EXTEST, false);
        benchmark::DoNotOptimize(board.m_Fpga[0].m_Bsr.data());
    }
    state.SetLabel("SAMPLE/PRELOAD + EXTEST scans");
}
BENCHMARK(BM_VectorThroughSimulator)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
