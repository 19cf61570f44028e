// The diagnosis against the board simulator: every single open, stuck net and short of the example
// board, and a fixed sample of double faults, are put on simulated boards and run through the board
// model as the station runs them; the diagnosis of the wrong cells must name the injected faults.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <iostream>
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

const std::string kExamples = std::string(QBX_SOURCE_DIR) + "/examples";
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

// The example board's BSDL and vectors in a board model on the simulator, one simulated board per
// fault set, and the diagnosis of each.
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

public:
    // Runs one board per fault set; returns how many were diagnosed exactly, and counts diagnoses
    // that name a net no injected fault touches.
    size_t Run(const std::vector<std::vector<const Injected*>>& boards, size_t& blamedHealthy,
               std::vector<std::string>* misses = nullptr)
    {
        json file = json::parse(qbxtest::ReadFile(kExamples + "/boards/healthy.json"));
        file["bsdl"] = kExamples + "/a3pe3000.bsd";
        file["bridge"]["busy_reads"] = 0;
        const json healthy = file["boards"][0];
        file["boards"] = json::array();
        for (const std::vector<const Injected*>& faults : boards) {
            file["boards"].push_back(healthy);
            for (const Injected* f : faults)
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

        size_t right = 0;
        QuietStdout quiet;
        for (const std::vector<const Injected*>& faults : boards) {
            I2C_GPIOWrite(m_I2C, 4, 0);
            I2C_GPIOWrite(m_I2C, 4, 1);  // the next board of the file
            m_Board.m_AdcSensor1.Attach(&m_Master, _ROMID::FromSerial(DS2450_FAMILY, 0x0000000C1D2E));
            m_Board.m_AdcSensor2.Attach(&m_Master, _ROMID::FromSerial(DS2450_FAMILY, 0x0000000C1D2F));
            failed.clear();
            const bool passed = m_Board.RunVectors() != 0;
            std::set<std::string> expected, diagnosed;
            std::set<size_t> touched;
            std::vector<std::set<size_t>> shorts;
            for (const Injected* f : faults) {
                touched.insert(f->nets.begin(), f->nets.end());
                if (f->nets.size() < 2)
                    expected.insert(f->expected);
                else if (!shorts.empty() && std::any_of(f->nets.begin(), f->nets.end(), [&](size_t n) { return shorts.back().count(n); }))
                    shorts.back().insert(f->nets.begin(), f->nets.end());  // shorts sharing a net make one net of three
                else
                    shorts.push_back(f->nets);
            }
            for (const std::set<size_t>& nets : shorts) {
                std::string key = "short";
                for (size_t n : nets)
                    key += " " + std::to_string(n);
                expected.insert(key);
            }
            for (const _NETFAULT& fault : Diagnose(m_Model, failed)) {
                diagnosed.insert(Key(fault));
                blamedHealthy += std::any_of(fault.nets.begin(), fault.nets.end(), [&](size_t n) { return !touched.count(n); });
            }
            right += !passed && diagnosed == expected;
            if (misses != nullptr && diagnosed != expected)
                misses->push_back(faults[0]->fault.dump() + (faults.size() > 1 ? " + " + faults[1]->fault.dump() : std::string()) +
                                  ": expected " + faults[0]->expected + (faults.size() > 1 ? " + " + faults[1]->expected : std::string()) +
                                  ", diagnosed " +
                                  (diagnosed.empty() ? "nothing" : *diagnosed.begin() + " and " + std::to_string(diagnosed.size() - 1) + " more"));
        }
        return right;
    }

protected:
    qbxtest::TempDir m_Dir;
    _BSDLDATA m_Bsdl;
    CNetModel m_Model;
    CQbx_zor m_Board;
    void* m_I2C = nullptr;
    void* m_Jtag = nullptr;
    COneWireMaster m_Master{m_I2C, 0};
};

}  // namespace

// Every single fault, in four parts that the two cores run side by side.
class SingleFaultsOnSimulator : public DiagnosisOnSimulator, public testing::WithParamInterface<size_t> {};
constexpr size_t kSingleParts = 4;

TEST_P(SingleFaultsOnSimulator, AreEachNamedExactly)
{
    const std::vector<Injected> all = AllSingleFaults(m_Model);
    std::vector<std::vector<const Injected*>> boards;
    for (size_t i = GetParam(); i < all.size(); i += kSingleParts)
        boards.push_back({&all[i]});
    size_t blamed = 0;
    std::vector<std::string> misses;
    const size_t right = Run(boards, blamed, &misses);
    std::cout << "single faults, part " << GetParam() + 1 << " of " << kSingleParts << ": " << right << " of "
              << boards.size() << " diagnosed exactly (" << all.size() << " in all)\n";
    EXPECT_EQ(right, boards.size());
    EXPECT_EQ(blamed, 0u);
    for (const std::string& miss : misses)
        ADD_FAILURE() << miss;
}

INSTANTIATE_TEST_SUITE_P(Parts, SingleFaultsOnSimulator, testing::Range(size_t{0}, kSingleParts));

// Two faults on one board (two shorts that share a net are one short of three nets). Some pairs
// look exactly like other faults with these vectors: a net stuck and shorted makes its partner
// stuck too, so the short cannot be seen; three shorted nets whose codes AND to 0 in every vector
// read like three stuck nets. On the fixed sample below those are 3 of 300 pairs and everything
// else is named exactly; the floor of 97 % allows a few more such pairs if the sample changes,
// and no diagnosis may blame a net that neither fault touches.
TEST_F(DiagnosisOnSimulator, DoubleFaultsAreMostlyNamedExactlyAndHealthyNetsAreNotBlamed)
{
    constexpr size_t kPairs = 300;
    const std::vector<Injected> singles = AllSingleFaults(m_Model);
    std::vector<std::vector<const Injected*>> boards;
    uint64_t seed = 0x5EED;
    while (boards.size() < kPairs) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const size_t a = (seed >> 33) % singles.size(), b = (seed >> 7) % singles.size();
        if (a != b)
            boards.push_back({&singles[a], &singles[b]});
    }
    size_t blamed = 0;
    std::vector<std::string> misses;
    const size_t right = Run(boards, blamed, &misses);
    for (const std::string& miss : misses)
        std::cout << "  " << miss << "\n";
    const double rate = 100.0 * static_cast<double>(right) / kPairs;
    std::cout << "double faults: " << right << " of " << kPairs << " diagnosed exactly (" << rate << " %), " << blamed
              << " diagnoses named a net no fault touches\n";
    RecordProperty("double_fault_hit_rate_percent", std::to_string(rate));
    EXPECT_GE(rate, 97.0);
    EXPECT_EQ(blamed, 0u);
}
