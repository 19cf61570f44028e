// Host time of the real Test_QBX_FPGA on the simulated example board, beside the hardware time the
// simulator models for the same work.
//
// Each iteration runs the station twice on examples/boards/healthy.json, one board each: with
// examples/interconnect.vec and with a vector file without pin lines. The difference is the three
// interconnection runs, which gives the per-vector figures:
//   host_s_per_board       wall time of the whole program for one board (the benchmark's time)
//   modelled_s_per_board   the simulator's modelled hardware time (TCK/SCL clocks, 1-Wire slots,
//                          125 us per USB round trip) for the same run
//   modelled_s_per_vector  modelled time of one vector (two IR and two DR scans of the chain)
//   tck_s_per_vector       the TCK clocks of one vector at 1 MHz: the floor set by the JTAG clock
//   host_s_per_vector      host wall time of one vector on the simulator
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "test_files.h"

using namespace qbxtest;

namespace {

struct StationRun {
    double wall = 0.0;
    double modelled = 0.0;
    double tckB = 0.0;
    bool ok = false;
    std::string error;
};

StationRun RunOneBoard(const std::string& vectors, const TempDir& dir, const std::string& name)
{
    const std::string examples = std::string(QBX_SOURCE_DIR) + "/examples";
    const std::string output = dir.File(name);
    std::filesystem::create_directories(output);
    const std::string stats = output + "/stats.json";
    ProcessOptions options;
    options.args = {examples + "/a3pe3000.bsd", vectors, output};
    options.input = "1\n0.5\n0\n";
    options.env = {{"USBWIRE_DRIVER", "libqbxsim.so"},
                   {"QBXSIM_BOARD", examples + "/boards/healthy.json"},
                   {"QBXSIM_STATS", stats},
                   {"QBXSIM_TRACE", std::nullopt}};
    const ProcessResult r = RunProcess(BuiltProgram("Test_QBX_FPGA"), options);
    StationRun run;
    run.wall = r.seconds;
    if (r.status != 0 || r.out.find("Test Board SUCCESS") == std::string::npos) {
        run.error = "the example board did not pass: " + r.out + r.err;
        return run;
    }
    const nlohmann::json counters = nlohmann::json::parse(ReadFile(stats), nullptr, false);
    if (counters.is_discarded()) {
        run.error = "no simulator counters in " + stats;
        return run;
    }
    run.modelled = counters.value("modelled_seconds", 0.0);
    run.tckB = counters["channels"]["B"].value("tck_clocks", 0.0);
    run.ok = true;
    return run;
}

// Vectors of the example file, from the truth table the station wrote (one value per vector).
int VectorCount(const std::string& truthTable)
{
    std::ifstream in(truthTable);
    std::string line;
    if (!std::getline(in, line))
        return 0;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return static_cast<int>(line.size() - line.rfind(' ') - 1);
}

void BM_ExampleBoardOnSimulator(benchmark::State& state)
{
    const std::string examples = std::string(QBX_SOURCE_DIR) + "/examples";
    const std::string vectors = examples + "/interconnect.vec";
    if (!FileExists(vectors) || !FileExists(examples + "/boards/healthy.json")) {
        state.SkipWithError("the example board or vector file is missing");
        return;
    }
    TempDir dir;
    const std::string none = dir.File("none.vec");
    std::ofstream(none, std::ios::binary) << "no pin lines\r\n";

    double wall = 0, modelled = 0, modelledPerVector = 0, tckPerVector = 0, hostPerVector = 0;
    int n = 0;
    int iteration = 0;
    for (auto _ : state) {
        const std::string suffix = std::to_string(iteration++);
        const StationRun with = RunOneBoard(vectors, dir, "with" + suffix);
        const StationRun without = RunOneBoard(none, dir, "without" + suffix);
        if (!with.ok || !without.ok) {
            state.SkipWithError((with.ok ? without.error : with.error).c_str());
            return;
        }
        n = VectorCount(dir.File("with" + suffix + "/truetable.txt"));
        const double driven = 3.0 * n;  // three runs
        state.SetIterationTime(with.wall);
        wall += with.wall;
        modelled += with.modelled;
        modelledPerVector += (with.modelled - without.modelled) / driven;
        tckPerVector += (with.tckB - without.tckB) / driven / 1e6;
        hostPerVector += (with.wall - without.wall) / driven;
    }
    const double runs = iteration > 0 ? iteration : 1;
    state.counters["vectors"] = n;
    state.counters["host_s_per_board"] = wall / runs;
    state.counters["modelled_s_per_board"] = modelled / runs;
    state.counters["modelled_s_per_vector"] = modelledPerVector / runs;
    state.counters["tck_s_per_vector"] = tckPerVector / runs;
    state.counters["host_s_per_vector"] = hostPerVector / runs;
}
BENCHMARK(BM_ExampleBoardOnSimulator)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
