// The diagnosis on the simulator: every single fault of the example board and a sample of double
// faults, run through the board model; the diagnosis must name the injected faults.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <iostream>
#include <map>
#include <set>

#include "diagnosis.h"
#include "i2c_channel.h"
#include "jtag_chain.h"
#include "platform.h"
#include "qbx_zor.h"
#include "sim_board.h"
#include "usbwire.h"

using json = nlohmann::json;

namespace {

const std::string kExamples = qbxtest::ExamplesDir();
constexpr int kPull = 1;  // the example board's pull level

// A fault for the board file and the diagnosis it should get, as Key() writes a diagnosed fault.
struct Injected {
    json fault;
    std::string expected;
    std::set<size_t> nets;  // the nets it touches
};

std::string Key(const _NETFAULT& f)
{
    std::string key = NetFaultKindName(f.kind);
    for (size_t n : f.nets)
        key += " " + std::to_string(n);
    for (const std::string& pin : f.pins)
        key += " " + pin;
    return f.value >= 0 && f.kind != NetFaultKind::Short ? key + " =" + std::to_string(f.value) : key;
}

std::string Endpoint(const _NETEND& end)
{
    return std::to_string(end.fpga) + ":" + end.pin;
}

// Every single fault of the model's nets, on the simulator's terms.
std::vector<Injected> AllSingleFaults(const CNetModel& model)
{
    std::vector<Injected> faults;
    const auto value = [](int v) { return " =" + std::to_string(v); };
    for (size_t n = 0; n < model.nets.size(); ++n) {
        const _NET& net = model.nets[n];
        const std::string openOrStuck = "open-or-stuck " + std::to_string(n);
        faults.push_back({{{"open", Endpoint(net.driver)}}, openOrStuck + value(kPull), {n}});
        for (const _NETEND& receiver : net.receivers)
            faults.push_back({{{"open", Endpoint(receiver)}},
                              net.receivers.size() == 1 ? openOrStuck + value(kPull)
                                                        : "open-receiver " + std::to_string(n) + " " + receiver.Name() + value(kPull),
                              {n}});
        for (int stuck : {0, 1})
            faults.push_back({{{"stuck", Endpoint(net.driver)}, {"value", stuck}}, openOrStuck + value(stuck), {n}});
        for (size_t m = n + 1; m < model.nets.size(); ++m)
            faults.push_back({{{"short", {Endpoint(net.driver), Endpoint(model.nets[m].driver)}}},
                              "short " + std::to_string(n) + " " + std::to_string(m), {n, m}});
    }
    return faults;
}

// Standard output to /dev/null while the board model reports its error lines.
class QuietStdout {
public:
    QuietStdout() : m_Saved(::dup(STDOUT_FILENO))
    {
        std::fflush(stdout);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        ::dup2(m_Saved, STDOUT_FILENO);
        ::close(m_Saved);
    }

private:
    int m_Saved;
};

// The faults put on a board together, and the nets they touch.
struct Case {
    std::vector<const Injected*> faults;
    std::set<size_t> nets;
};

struct Score {
    size_t right = 0;   // cases diagnosed exactly
    size_t blamed = 0;  // diagnosed faults that name a net the case does not touch
    size_t stray = 0;   // wrong cells on no net of any case of their board
    std::vector<std::string> misses;
};

// What the diagnosis should say about a case: each fault's key, shorts that share a net joined
// into one short of all their nets (the simulator makes them one net).
std::set<std::string> Expected(const Case& c)
{
    std::set<std::string> expected;
    std::vector<std::set<size_t>> shorts;
    for (const Injected* f : c.faults) {
        if (f->nets.size() < 2)
            expected.insert(f->expected);
        else if (!shorts.empty() && std::any_of(f->nets.begin(), f->nets.end(), [&](size_t n) { return shorts.back().count(n); }))
            shorts.back().insert(f->nets.begin(), f->nets.end());
        else
            shorts.push_back(f->nets);
    }
    for (const std::set<size_t>& nets : shorts) {
        std::string key = "short";
        for (size_t n : nets)
            key += " " + std::to_string(n);
        expected.insert(key);
    }
    return expected;
}

// The example board's BSDL and vectors in a board model on the simulator, and the diagnosis of
// fault cases put on simulated boards.
class DiagnosisOnSimulator : public testing::Test {
protected:
    void SetUp() override
    {
        std::vector<std::string> problems;
        std::string digest;
        ASSERT_TRUE(ReadBsdl((kExamples + "/a3pe3000.bsd").c_str(), m_Bsdl));
        ASSERT_TRUE(m_Model.Load(kExamples + "/interconnect.vec", m_Bsdl, problems, digest));
        ASSERT_EQ(problems, std::vector<std::string>{});
        ASSERT_EQ(m_Model.nets.size(), 48u);
    }

    void TearDown() override
    {
        CloseJtag(m_Jtag);
        CloseI2CChannel(m_I2C);
    }

    // Runs the cases, several on one simulated board when they touch different nets: on the board
    // a net is joined to another only by a short, so each case's wrong cells are those it gives
    // alone. That is checked, not assumed: every wrong cell must lie on a net of one of its
    // board's cases (else it counts as stray), and each case is diagnosed from its own cells.
    Score Run(const std::vector<Case>& cases)
    {
        std::vector<std::vector<size_t>> boards;
        std::vector<std::set<size_t>> taken;
        for (size_t i = 0; i < cases.size(); ++i) {
            size_t b = 0;
            while (b < boards.size() && std::any_of(cases[i].nets.begin(), cases[i].nets.end(), [&](size_t n) { return taken[b].count(n); }))
                ++b;
            if (b == boards.size()) {
                boards.emplace_back();
                taken.emplace_back();
            }
            boards[b].push_back(i);
            taken[b].insert(cases[i].nets.begin(), cases[i].nets.end());
        }

        json file = json::parse(qbxtest::ReadFile(kExamples + "/boards/healthy.json"));
        file["bsdl"] = kExamples + "/a3pe3000.bsd";
        file["bridge"]["busy_reads"] = 0;
        const json healthy = file["boards"][0];
        file["boards"] = json::array();
        for (const std::vector<size_t>& board : boards) {
            file["boards"].push_back(healthy);
            for (size_t i : board)
                for (const Injected* f : cases[i].faults)
                    file["boards"].back()["faults"].push_back(f->fault);
        }
        qbxtest::UseSimulator(qbxtest::WriteBoardFile(m_Dir, file));
        platform::FakeClock clock;
        platform::ScopedClock useClock(clock);
        EXPECT_EQ(OpenI2CChannel(m_I2C), 0);
        EXPECT_TRUE(OpenJtag(m_Jtag));
        I2C_GPIODirection(m_I2C, 4, 1);
        EXPECT_NE(m_Board.LoadBsdl((kExamples + "/a3pe3000.bsd").c_str()), 0);
        EXPECT_NE(m_Board.Load((kExamples + "/interconnect.vec").c_str()), 0);
        m_Board.AttachChain(m_Jtag, 1);
        m_Board.WriteLockPllPattern();
        std::vector<_FAILEDPIN> failed;
        m_Board.m_OnWrongCell = [&](const _WRONGCELL& c) { failed.push_back({c.fpga, c.pin, c.packagePin, c.abs, c.read}); };

        Score score;
        QuietStdout quiet;
        for (const std::vector<size_t>& board : boards) {
            I2C_GPIOWrite(m_I2C, 4, 0);
            I2C_GPIOWrite(m_I2C, 4, 1);  // the next board of the file
            m_Board.m_AdcSensor1.Attach(&m_Master, _ROMID::FromSerial(DS2450_FAMILY, 0x0000000C1D2E));
            m_Board.m_AdcSensor2.Attach(&m_Master, _ROMID::FromSerial(DS2450_FAMILY, 0x0000000C1D2F));
            failed.clear();
            m_Board.RunVectors();
            std::map<size_t, size_t> owner;  // net -> case
            for (size_t i : board)
                for (size_t n : cases[i].nets)
                    owner[n] = i;
            std::map<size_t, std::vector<_FAILEDPIN>> cells;
            for (const _FAILEDPIN& cell : failed) {
                size_t n = 0, r = 0;
                if (m_Model.FindReceiver(cell.fpga, cell.port, n, r) && owner.count(n))
                    cells[owner[n]].push_back(cell);
                else
                    ++score.stray;
            }
            for (size_t i : board) {
                const std::set<std::string> expected = Expected(cases[i]);
                std::set<std::string> diagnosed;
                for (const _NETFAULT& fault : Diagnose(m_Model, cells[i])) {
                    diagnosed.insert(Key(fault));
                    score.blamed += std::any_of(fault.nets.begin(), fault.nets.end(), [&](size_t n) { return !cases[i].nets.count(n); });
                }
                if (diagnosed == expected) {
                    ++score.right;
                    continue;
                }
                std::string miss;
                for (const Injected* f : cases[i].faults)
                    miss += (miss.empty() ? "" : " + ") + f->fault.dump();
                miss += ": expected " + *expected.begin() + (expected.size() > 1 ? " and more" : "") + ", diagnosed ";
                miss += diagnosed.empty() ? "nothing" : *diagnosed.begin() + (diagnosed.size() > 1 ? " and more" : "");
                score.misses.push_back(miss);
            }
        }
        return score;
    }

    qbxtest::TempDir m_Dir;
    _BSDLDATA m_Bsdl;
    CNetModel m_Model;
    CQbx_zor m_Board;
    void* m_I2C = nullptr;
    void* m_Jtag = nullptr;
    COneWireMaster m_Master{m_I2C, 0};
};

}  // namespace

TEST_F(DiagnosisOnSimulator, EverySingleOpenStuckNetAndShortIsNamedExactly)
{
    const std::vector<Injected> singles = AllSingleFaults(m_Model);
    std::vector<Case> cases;
    for (const Injected& f : singles)
        cases.push_back({{&f}, f.nets});
    const Score score = Run(cases);
    std::cout << "single faults: " << score.right << " of " << cases.size() << " diagnosed exactly\n";
    RecordProperty("single_fault_hit_rate_percent", std::to_string(100.0 * static_cast<double>(score.right) / static_cast<double>(cases.size())));
    EXPECT_EQ(cases.size(), 1348u);  // 48 open drivers, 76 open receivers, 96 stuck nets, 1128 shorts
    EXPECT_EQ(score.right, cases.size());
    EXPECT_EQ(score.blamed, 0u);
    EXPECT_EQ(score.stray, 0u);
    for (const std::string& miss : score.misses)
        ADD_FAILURE() << miss;
}

// Two faults on one board. Some pairs look exactly like other faults with these vectors (a stuck net
// shorted, an open pin shorted, shorts whose codes AND alike): 16 of this sample's 1000; no healthy net is blamed.
TEST_F(DiagnosisOnSimulator, DoubleFaultsAreMostlyNamedExactlyAndHealthyNetsAreNotBlamed)
{
    constexpr size_t kPairs = 1000;
    const std::vector<Injected> singles = AllSingleFaults(m_Model);
    std::vector<Case> cases;
    uint64_t seed = 0x5EED;
    while (cases.size() < kPairs) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const size_t a = (seed >> 33) % singles.size(), b = (seed >> 7) % singles.size();
        if (a == b)
            continue;
        Case c{{&singles[a], &singles[b]}, singles[a].nets};
        c.nets.insert(singles[b].nets.begin(), singles[b].nets.end());
        cases.push_back(std::move(c));
    }
    const Score score = Run(cases);
    const double rate = 100.0 * static_cast<double>(score.right) / kPairs;
    std::cout << "double faults: " << score.right << " of " << kPairs << " diagnosed exactly (" << rate << " %), " << score.blamed
              << " diagnoses named a net no fault touches\n";
    for (const std::string& miss : score.misses)
        std::cout << "  " << miss << "\n";
    RecordProperty("double_fault_hit_rate_percent", std::to_string(rate));
    EXPECT_GE(rate, 97.0);
    EXPECT_EQ(score.blamed, 0u);
    EXPECT_EQ(score.stray, 0u);
}
