// Host time for the traffic of one interconnection vector through libusbwire.so and the
// simulator: a SAMPLE/PRELOAD scan and an EXTEST scan of eight A3PE3000 boundary registers
// (2424 cells each): two IR scans and two DR scans, each DR scan a capture pass of eight
// 2424-bit shifts with capture and an update pass of eight without, then Update-DR.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "sim_board.h"
#include "sim_host.h"

namespace {

// The chain as the station drives it: every device's IR and DR in one scan, device nearest TDO
// first in the bit strings.
class Chain {
public:
    Chain(void* jtag, unsigned char address) : m_Jtag(jtag), m_Address(address) {}

    bool Reset() { return JTAG_Addr(m_Jtag, m_Address) && JTAG_Tms(m_Jtag, 255, 5); }

    // Test-Logic-Reset, Shift-DR, then 32 bits at a time until 0 or all ones (at most limit codes).
    std::vector<uint32_t> ReadIdcodes(size_t limit = 16)
    {
        std::vector<uint32_t> ids;
        if (!Reset() || !JTAG_Tms(m_Jtag, 2, 4))
            return ids;
        for (size_t i = 0; i < limit; ++i) {
            unsigned char bytes[4] = {};
            if (!JTAG_Out(m_Jtag, 0, 32, nullptr, bytes, 0))
                break;
            uint32_t id = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
            if (id == 0 || id == 0xFFFFFFFF)
                break;
            ids.push_back(id);
        }
        JTAG_Tms(m_Jtag, 255, 5);
        return ids;
    }

    // Run-Test/Idle -> Shift-IR, one 8-bit instruction per device, Update-IR -> Run-Test/Idle.
    bool ScanIr(const std::vector<uint8_t>& codes)
    {
        bool ok = JTAG_Addr(m_Jtag, m_Address) && JTAG_Tms(m_Jtag, 6, 5);
        for (size_t i = 0; i < codes.size() && ok; ++i) {
            unsigned char code = codes[i];
            ok = JTAG_Out(m_Jtag, 0, 8, &code, nullptr, i + 1 == codes.size()) != 0;
        }
        return ok && JTAG_Tms(m_Jtag, 1, 2);
    }

    // A DR scan of `bits`-long registers: a capture pass that shifts zeros and keeps what each
    // register captured, then an update pass that shifts the images, then Update-DR.
    bool ScanDr(size_t bits, const std::vector<std::vector<uint8_t>>& images, std::vector<std::vector<uint8_t>>* captured)
    {
        const size_t bytes = (bits + 7) / 8;
        bool ok = JTAG_Addr(m_Jtag, m_Address) && JTAG_Tms(m_Jtag, 2, 4);
        if (captured)
            captured->assign(images.size(), std::vector<uint8_t>(bytes, 0));
        for (size_t i = 0; i < images.size() && ok; ++i)
            ok = JTAG_Out(m_Jtag, 0, static_cast<unsigned>(bits), nullptr, captured ? (*captured)[i].data() : nullptr, 0) != 0;
        for (size_t i = 0; i < images.size() && ok; ++i)
            ok = JTAG_Out(m_Jtag, 0, static_cast<unsigned>(bits), images[i].data(), nullptr, i + 1 == images.size()) != 0;
        return ok && JTAG_Tms(m_Jtag, 1, 2);
    }

private:
    void* m_Jtag;
    unsigned char m_Address;
};

constexpr size_t kCells = 2424;
constexpr size_t kDevices = 8;

struct Station {
    void* i2c = nullptr;
    void* jtag = nullptr;
    std::string error;
};

// Opens both channels once for the whole run, on a healthy eight-FPGA board.
Station& Open()
{
    static Station station = [] {
        Station s;
        const std::string bsdl = std::string(QBX_SOURCE_DIR) + "/examples/a3pe3000.bsd";
        if (!std::ifstream(bsdl)) {
            s.error = "no " + bsdl;
            return s;
        }
        const std::string board = (std::filesystem::temp_directory_path() / "qbxsim-bench-board.json").string();
        std::ofstream(board) << R"({"bsdl": ")" << bsdl << R"(", "bridge": {"busy_reads": 0}, "boards": [{"chain_address": 1, "idcodes": [)"
                             << R"("0x3E74E1CF", "0x3E74E1CF", "0x3E74E1CF", "0x3E74E1CF",)"
                             << R"("0x3E74E1CF", "0x3E74E1CF", "0x3E74E1CF", "0x3E74E1CF"],)"
                             << R"("nets": [["0:$DATA0", "1:$DATA0", "2:$DATA0"], ["3:$DATA7", "4:$DATA7"]],)"
                             << R"("onewire": [{"type": "DS2450", "serial": "0000000C1D2F", "volts": [3.3, 3.3, 1.65, 3.3], "jtag_switch": true}]}]})";
        qbxtest::UseSimulator(board);
        s.i2c = I2C_Open("FT2232H MiniModule A", 100000);
        s.jtag = JTAG_Open("FT2232H MiniModule B");
        std::remove(board.c_str());
        if (!s.i2c || !s.jtag) {
            s.error = "cannot open the simulated adapter";
            return s;
        }
        if (!qbxsim::host::PowerAndSwitchJtagOn(s.i2c))
            s.error = "cannot switch the board's JTAG chain on";
        else if (Chain(s.jtag, 1).ReadIdcodes().size() != kDevices)
            s.error = "the chain does not show eight devices";
        return s;
    }();
    return station;
}

void BM_InterconnectionVector(benchmark::State& state)
{
    Station& station = Open();
    if (!station.error.empty()) {
        state.SkipWithError(station.error.c_str());
        return;
    }
    Chain chain(station.jtag, 1);
    std::vector<std::vector<uint8_t>> images(kDevices, std::vector<uint8_t>(kCells / 8, 0x00));
    for (size_t d = 0; d < kDevices; ++d)
        for (size_t i = 0; i < images[d].size(); ++i)
            images[d][i] = static_cast<uint8_t>(i * 37 + d);
    std::vector<std::vector<uint8_t>> captured;
    for (auto _ : state) {
        bool ok = chain.ScanIr(std::vector<uint8_t>(kDevices, 0x01)) && chain.ScanDr(kCells, images, &captured) &&
                  chain.ScanIr(std::vector<uint8_t>(kDevices, 0x00)) && chain.ScanDr(kCells, images, &captured);
        if (!ok) {
            state.SkipWithError("a scan failed");
            break;
        }
        benchmark::DoNotOptimize(captured.data());
    }
    state.counters["tck_per_vector"] = static_cast<double>(2 * (5 + kDevices * 8 + 2) + 2 * (4 + 2 * kDevices * kCells + 2));
}
BENCHMARK(BM_InterconnectionVector)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
