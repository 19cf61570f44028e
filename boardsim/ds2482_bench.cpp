// The bridge side's cost per unit of traffic: one bridge transfer decoded from pin levels, one
// 1-Wire byte through the DS2482, and a whole ROM search over the board's three devices.
#include <benchmark/benchmark.h>

#include <memory>

#include "ds18s20.h"
#include "ds2450.h"
#include "ds2482.h"
#include "i2c_bus.h"
#include "onewire_test_support.h"

namespace {

using namespace qbxsim;

struct Board {
    Ds18s20 thermometer{MakeRom(0x10, 0x00080157A3B2, false), {}};
    Ds2450 adc1{MakeRom(0x20, 0x0000000C1D2E, false), {}};
    Ds2450 adc2{MakeRom(0x20, 0x0000000C1D2F, false), {}};
    OneWireBus bus;
    Ds2482 bridge{{}, bus};

    Board()
    {
        bus.SetDevices({&thermometer, &adc1, &adc2});
        bus.SetPowered(true);
    }
};

// Pin updates of one byte with its acknowledge clock, as the adapter's bit shifts make them.
bool ClockByte(I2cBus& i2c, uint8_t b)
{
    for (int i = 7; i >= 0; --i) {
        const bool bit = ((b >> i) & 1) != 0;
        i2c.Update(false, bit);
        i2c.Update(true, bit);
        benchmark::DoNotOptimize(i2c.Sda());
    }
    i2c.Update(false, true);
    i2c.Update(true, true);
    const bool ack = !i2c.Sda();
    i2c.Update(false, true);
    return ack;
}

void BM_PinLevelWriteReadTransfer(benchmark::State& state)
{
    Board board;
    I2cBus i2c(&board.bridge);
    for (auto _ : state) {
        // START 30 E1 F0, repeated START 31 [status] NACK, STOP.
        i2c.Update(true, true);
        i2c.Update(true, false);
        i2c.Update(false, false);
        ClockByte(i2c, 0x30);
        ClockByte(i2c, 0xE1);
        ClockByte(i2c, 0xF0);
        i2c.Update(true, true);
        i2c.Update(true, false);
        i2c.Update(false, false);
        ClockByte(i2c, 0x31);
        benchmark::DoNotOptimize(ClockByte(i2c, 0xFF));
        i2c.Update(false, false);
        i2c.Update(true, false);
        i2c.Update(true, true);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_PinLevelWriteReadTransfer);

void BM_OneWireByteThroughBridge(benchmark::State& state)
{
    Board board;
    test::BridgeHost host{board.bridge};
    for (auto _ : state) {
        host.OneWireReset();
        host.WriteByte(0xCC);
        benchmark::DoNotOptimize(host.ReadByte());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_OneWireByteThroughBridge);

void BM_RomSearchThreeDevices(benchmark::State& state)
{
    Board board;
    test::BridgeHost host{board.bridge};
    for (auto _ : state)
        benchmark::DoNotOptimize(host.Search());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_RomSearchThreeDevices)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
