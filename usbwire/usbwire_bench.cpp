// CPU time of the library's hot paths on a driver that answers at once: the fake D2XX driver in
// its quiet mode (no logs), which still decodes every MPSSE command and computes every reply, so
// the figures include the fake's own work and are an upper bound for the library alone.
#include "usbwire.h"

#include "fake_d2xx.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

void UseQuietFake()
{
    setenv("USBWIRE_DRIVER", "libd2xx-fake.so", 1);
    fake::Fake().Reset();
    fake::Fake().quiet = true;
}

std::vector<unsigned char> RandomBytes(size_t count)
{
    std::mt19937 random(2424);
    std::vector<unsigned char> bytes(count);
    for (unsigned char& byte : bytes)
        byte = static_cast<unsigned char>(random());
    return bytes;
}

// One JTAG_Out of a whole boundary register (2424 bits) with capture and the exit bit, in the
// LSB-first layout (argument 0) and in the big-endian layout (1), which rewrites both buffers.
void BM_JtagOut2424Capture(benchmark::State& state)
{
    UseQuietFake();
    void* jtag = JTAG_Open("FT2232H MiniModule B");
    if (jtag == nullptr) {
        state.SkipWithError("JTAG_Open failed");
        return;
    }
    const int mode = static_cast<int>(state.range(0));
    std::vector<unsigned char> source = RandomBytes(303);
    std::vector<unsigned char> destination(303);
    for (auto _ : state) {
        if (JTAG_Out(jtag, mode, 2424, source.data(), destination.data(), 1) != 1) {
            state.SkipWithError("JTAG_Out failed");
            break;
        }
        benchmark::DoNotOptimize(destination.data());
    }
    if (destination != source)
        state.SkipWithError("the loop-back chain did not return the bits");
    state.SetItemsProcessed(state.iterations() * 2424);
    JTAG_Close(jtag);
}
BENCHMARK(BM_JtagOut2424Capture)->ArgName("mode")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One 8-byte I2C_Write with STOP to an acknowledging slave: START and address, then one
// transaction per byte (nine round trips).
void BM_I2CWrite8(benchmark::State& state)
{
    UseQuietFake();
    void* i2c = I2C_Open("FT2232H MiniModule A", 100000);
    if (i2c == nullptr) {
        state.SkipWithError("I2C_Open failed");
        return;
    }
    const unsigned char data[8] = {0xD2, 0xF0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    for (auto _ : state) {
        if (I2C_Write(i2c, 0x30, data, 8, 1) != 0) {
            state.SkipWithError("I2C_Write failed");
            break;
        }
    }
    I2C_Close(i2c);
}
BENCHMARK(BM_I2CWrite8)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
