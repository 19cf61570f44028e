// Host time of the real Test_QBX_FPGA per interconnection vector on the real adapter's path
// (libd2xx-ftdi.so on Debian's libftdi1 on the simulator's libusb) beside the D2XX-level simulator
// (libqbxsim.so), and the USB transfers a vector costs.
//
// Each iteration runs the station twice on examples/boards/healthy.json, one board each: with the
// vectors of examples/interconnect.vec repeated ten times (120 vectors, so that the vectors' share
// stands out of the run's noise) and with a vector file without pin lines; the difference is the
// three interconnection runs. Counters:
//   host_s_per_vector        host wall time of one vector
//   host_s_per_board         wall time of the whole program for one board (the benchmark's time)
//   writes_per_vector        FT_Write calls (libqbxsim.so) or bulk OUT transfers (libftdi) per vector
//   reads_per_vector         FT_Read calls or bulk IN transfers per vector
//   latency_waits            bulk IN transfers the chip's latency timer held back, whole board (libftdi)
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "test_files.h"

using namespace qbxtest;

namespace {

const std::string kExamples = std::string(QBX_SOURCE_DIR) + "/examples";

struct BoardRun {
    double wall = 0;
    double writes = 0, reads = 0, latencyWaits = 0;
    int vectors = 0;
    std::string error;
};

BoardRun RunOneBoard(bool libftdi, const std::string& vectors, const TempDir& dir, const std::string& name)
{
    const std::string output = dir.File(name);
    std::filesystem::create_directories(output);
    ProcessOptions options;
    options.args = {kExamples + "/a3pe3000.bsd", vectors, output};
    options.input = "1\n0.5\n0\n";
    options.env = {{"QBXSIM_BOARD", kExamples + "/boards/healthy.json"},
                   {"QBXSIM_STATS", output + "/stats.json"},
                   {"QBXSIM_TRACE", std::nullopt},
                   {"USBWIRE_DRIVER", libftdi ? std::nullopt : std::optional<std::string>("libqbxsim.so")},
                   {"LD_LIBRARY_PATH", libftdi ? std::optional<std::string>(QBX_USBSIM_LIBRARY_DIR) : std::nullopt}};
    const ProcessResult r = RunProcess(BuiltProgram("Test_QBX_FPGA"), options);
    BoardRun run;
    run.wall = r.seconds;
    const nlohmann::json stats = nlohmann::json::parse(ReadFile(output + "/stats.json"), nullptr, false);
    if (r.status != 0 || r.out.find("Test Board SUCCESS") == std::string::npos || stats.is_discarded()) {
        run.error = "the example board did not pass: " + r.out + r.err;
        return run;
    }
    for (const char* channel : {"A", "B"}) {
        const nlohmann::json& c = stats["channels"][channel];
        run.writes += c["writes"].get<double>();
        run.reads += c["reads"].get<double>();
        if (c.contains("usb"))
            run.latencyWaits += c["usb"]["latency_waits"].get<double>();
    }
    // One value per vector on each truth-table line.
    std::ifstream table(output + "/truetable.txt");
    std::string line;
    if (std::getline(table, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        run.vectors = static_cast<int>(line.size() - line.rfind(' ') - 1);
    }
    return run;
}

// examples/interconnect.vec with every pin's vector bits repeated `times` times.
std::string RepeatedVectors(int times)
{
    std::string text;
    std::istringstream in(ReadFile(kExamples + "/interconnect.vec"));
    for (std::string line; std::getline(in, line);) {
        const size_t space = line.rfind(' ');
        const bool pinLine = !line.empty() && line[0] >= '0' && line[0] <= '9' && space != std::string::npos;
        if (pinLine) {
            std::string bits = line.substr(space + 1);
            while (!bits.empty() && bits.back() == '\r')
                bits.pop_back();
            line = line.substr(0, space + 1);
            for (int i = 0; i < times; ++i)
                line += bits;
            line += '\r';
        }
        text += line + "\n";
    }
    return text;
}

// state.range(0): 0 = libqbxsim.so, 1 = libd2xx-ftdi.so on libftdi1 on the simulated USB device.
void BM_InterconnectionVectors(benchmark::State& state)
{
    const bool libftdi = state.range(0) == 1;
    state.SetLabel(libftdi ? "libd2xx-ftdi.so + libftdi1 + simulated libusb" : "libqbxsim.so");
    TempDir dir;
    const std::string none = dir.File("none.vec");
    WriteFile(none, "no pin lines\r\n");
    const std::string vectorFile = dir.File("long.vec");
    WriteFile(vectorFile, RepeatedVectors(10));
    double perVector = 0, board = 0, writes = 0, reads = 0, waits = 0;
    int iteration = 0, vectors = 0;
    for (auto _ : state) {
        const std::string suffix = std::to_string(iteration++);
        const BoardRun with = RunOneBoard(libftdi, vectorFile, dir, "with" + suffix);
        const BoardRun without = RunOneBoard(libftdi, none, dir, "without" + suffix);
        if (!with.error.empty() || !without.error.empty() || with.vectors == 0) {
            state.SkipWithError((with.error + without.error + " (no vectors?)").c_str());
            return;
        }
        vectors = with.vectors;
        const double driven = 3.0 * vectors;  // three runs
        state.SetIterationTime(with.wall);
        board += with.wall;
        perVector += (with.wall - without.wall) / driven;
        writes += (with.writes - without.writes) / driven;
        reads += (with.reads - without.reads) / driven;
        waits += with.latencyWaits;
    }
    const double runs = iteration > 0 ? iteration : 1;
    state.counters["vectors"] = vectors;
    state.counters["host_s_per_vector"] = perVector / runs;
    state.counters["host_s_per_board"] = board / runs;
    state.counters["writes_per_vector"] = writes / runs;
    state.counters["reads_per_vector"] = reads / runs;
    state.counters["latency_waits"] = waits / runs;
}
BENCHMARK(BM_InterconnectionVectors)->Arg(0)->Arg(1)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
