// The diagnosis of a failing run of the example board (nets 10 and 21 shorted: twelve wrong cells),
// the work the station adds to a failing board's cycle beside recording it.
#include <benchmark/benchmark.h>

#include "diagnosis.h"

namespace {

void BM_DiagnoseExampleShort(benchmark::State& state)
{
    const std::string examples = std::string(QBX_SOURCE_DIR) + "/examples";
    _BSDLDATA bsdl;
    CNetModel model;
    std::vector<std::string> problems;
    std::string digest;
    if (!ReadBsdl((examples + "/a3pe3000.bsd").c_str(), bsdl) || !model.Load(examples + "/interconnect.vec", bsdl, problems, digest)) {
        state.SkipWithError("the example files cannot be read");
        return;
    }
    // The wrong cells of the example short, as the station reports them.
    std::vector<_FAILEDPIN> failed;
    for (int abs : {1, 3, 8, 11})
        for (const auto& [fpga, port] : {std::pair{0, "LNK6"}, std::pair{6, "LNK294"}})
            failed.push_back({fpga, port, "", abs, 0});
    for (int abs : {2, 5, 7, 9})
        failed.push_back({3, "LNK147", "", abs, 0});
    for (auto _ : state) {
        std::vector<_NETFAULT> faults = Diagnose(model, failed);
        benchmark::DoNotOptimize(faults);
        if (faults.size() != 1 || faults[0].kind != NetFaultKind::Short)
            state.SkipWithError("not the short");
    }
}
BENCHMARK(BM_DiagnoseExampleShort)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
