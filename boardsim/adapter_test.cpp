#include "adapter.h"

#include <cstring>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "boardsim_test_support.h"
#include "test_files.h"

namespace qbxsim {
namespace {

using Bytes = std::vector<uint8_t>;

class AdapterTest : public ::testing::Test {
protected:
    void SetUp() override { qbxtest::WriteFile(m_Dir.File("tiny.bsd"), testing::TinyBsdlText()); }

    std::unique_ptr<CSimAdapter> Make(const std::string& adapterSettings = "{}", _SIMFILES files = {})
    {
        std::string text = R"({"bsdl": "tiny.bsd", "adapter": )" + adapterSettings +
                           R"(, "boards": [{"idcodes": ["0x3E74E1CF"]}]})";
        std::string error;
        auto config = ParseBoardFile(text, m_Dir.File("board.json"), &error);
        EXPECT_TRUE(config) << error;
        return std::make_unique<CSimAdapter>(std::move(config), std::move(files));
    }
    static FT_HANDLE Open(CSimAdapter& a, const char* serial, bool mpsse = true)
    {
        FT_HANDLE h = nullptr;
        EXPECT_EQ(a.OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
        if (mpsse) {
            EXPECT_EQ(a.SetBitMode(h, 0, 0x02), FT_OK);
        }
        return h;
    }
    static FT_STATUS Write(CSimAdapter& a, FT_HANDLE h, const Bytes& bytes)
    {
        DWORD written = 0;
        FT_STATUS status = a.Write(h, const_cast<uint8_t*>(bytes.data()), static_cast<DWORD>(bytes.size()), &written);
        EXPECT_EQ(written, status == FT_OK ? bytes.size() : 0u);
        return status;
    }
    static Bytes Read(CSimAdapter& a, FT_HANDLE h, DWORD want = 1000)
    {
        Bytes buffer(want);
        DWORD got = 0;
        EXPECT_EQ(a.Read(h, buffer.data(), want, &got), FT_OK);
        buffer.resize(got);
        return buffer;
    }

    qbxtest::TempDir m_Dir;
};

// What the station's runs do not show: the records' other fields and how many are written, and
// the refusals.
TEST_F(AdapterTest, DeviceListAndOpening)
{
    auto a = Make();
    DWORD count = 0;
    ASSERT_EQ(a->CreateDeviceInfoList(&count), FT_OK);
    ASSERT_EQ(count, 2u);
    FT_HANDLE b = Open(*a, "FTQBXSIMB", false);
    FT_DEVICE_LIST_INFO_NODE nodes[3];
    std::memset(nodes, 0x5C, sizeof nodes);
    DWORD capacity = 1;
    ASSERT_EQ(a->GetDeviceInfoList(nodes, &capacity), FT_OK);
    EXPECT_EQ(capacity, 2u) << "the count of devices, though only one record fitted";
    EXPECT_EQ(static_cast<unsigned char>(nodes[1].Description[0]), 0x5C);
    capacity = 3;
    ASSERT_EQ(a->GetDeviceInfoList(nodes, &capacity), FT_OK);
    EXPECT_EQ(static_cast<unsigned char>(nodes[2].Description[0]), 0x5C) << "nothing written past the devices";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(nodes[i].ID, 0x04036010u);   // VID 0x0403, PID 0x6010
        EXPECT_EQ(nodes[i].Flags, static_cast<ULONG>(FT_FLAGS_HISPEED | (i == 1 ? FT_FLAGS_OPENED : 0)));
        EXPECT_EQ(nodes[i].ftHandle, i == 1 ? b : nullptr);
    }
    FT_HANDLE again = nullptr;
    const struct {
        const char* arg;
        DWORD flags;
        FT_STATUS status;
    } refused[] = {
        {"FTQBXSIMB", FT_OPEN_BY_SERIAL_NUMBER, FT_DEVICE_NOT_OPENED},   // a channel opens once
        {"FTQBXSIMC", FT_OPEN_BY_SERIAL_NUMBER, FT_DEVICE_NOT_FOUND},
        {"ftqbxsima", FT_OPEN_BY_SERIAL_NUMBER, FT_DEVICE_NOT_FOUND},   // the driver compares exactly
        {"FT2232H MiniModule A", FT_OPEN_BY_DESCRIPTION, FT_INVALID_PARAMETER},   // not modelled
        {nullptr, FT_OPEN_BY_SERIAL_NUMBER, FT_INVALID_PARAMETER},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(a->OpenEx(const_cast<char*>(r.arg), r.flags, &again), r.status) << (r.arg ? r.arg : "null");
        EXPECT_EQ(again, nullptr);
    }
    EXPECT_EQ(a->OpenEx(const_cast<char*>("FTQBXSIMA"), FT_OPEN_BY_SERIAL_NUMBER, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(a->GetDeviceInfoList(nullptr, &capacity), FT_INVALID_PARAMETER);
    EXPECT_EQ(a->CreateDeviceInfoList(nullptr), FT_INVALID_PARAMETER);
}

// A closed handle stays dead (a new open gives a new one); values that were never handles, or
// another channel's tag on a live generation, are invalid.
TEST_F(AdapterTest, HandlesAfterCloseAndForeignValues)
{
    auto a = Make();
    FT_HANDLE h = Open(*a, "FTQBXSIMA", false);
    EXPECT_EQ(a->Close(h), FT_OK);
    EXPECT_EQ(a->Close(h), FT_DEVICE_NOT_OPENED);
    FT_HANDLE fresh = Open(*a, "FTQBXSIMA", false);
    EXPECT_NE(fresh, h);
    EXPECT_EQ(a->ResetDevice(h), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(a->ResetDevice(fresh), FT_OK);
    int local = 0;
    EXPECT_EQ(a->ResetDevice(&local), FT_INVALID_HANDLE);
    EXPECT_EQ(a->ResetDevice(nullptr), FT_INVALID_HANDLE);
    FT_HANDLE b = Open(*a, "FTQBXSIMB", false);
    EXPECT_EQ(a->ResetDevice(reinterpret_cast<FT_HANDLE>(reinterpret_cast<uintptr_t>(b) ^ 1)), FT_INVALID_HANDLE);
}

TEST_F(AdapterTest, ReadsWritesAndSettings)
{
    auto a = Make();
    FT_HANDLE h = Open(*a, "FTQBXSIMA", false);
    ASSERT_EQ(Write(*a, h, {0xAA}), FT_OK);
    EXPECT_TRUE(Read(*a, h).empty()) << "not in MPSSE mode yet";
    EXPECT_EQ(a->SetBitMode(h, 0, 0x03), FT_INVALID_PARAMETER);
    EXPECT_EQ(a->SetLatencyTimer(h, 1), FT_INVALID_PARAMETER);
    EXPECT_EQ(a->SetUSBParameters(h, 100, 4096), FT_INVALID_PARAMETER);
    ASSERT_EQ(a->SetBitMode(h, 0, 0x02), FT_OK);
    ASSERT_EQ(Write(*a, h, {0xAA, 0xAB}), FT_OK);   // bad opcodes: 0xFA and the opcode
    DWORD queued = 0;
    ASSERT_EQ(a->GetQueueStatus(h, &queued), FT_OK);
    EXPECT_EQ(queued, 4u);
    EXPECT_EQ(Read(*a, h, 3), (Bytes{0xFA, 0xAA, 0xFA}));
    EXPECT_EQ(Read(*a, h, 10), (Bytes{0xAB}));
    DWORD got = 0;
    EXPECT_EQ(a->Read(h, nullptr, 4, &got), FT_INVALID_PARAMETER);
    EXPECT_EQ(a->Write(h, nullptr, 4, &got), FT_INVALID_PARAMETER);

    ASSERT_EQ(Write(*a, h, {0xAA, 0x80, 0x08}), FT_OK);
    ASSERT_EQ(a->ResetDevice(h), FT_OK);
    ASSERT_EQ(a->GetQueueStatus(h, &queued), FT_OK);
    EXPECT_EQ(queued, 0u) << "FT_ResetDevice purges the replies";
    ASSERT_EQ(Write(*a, h, {0x81}), FT_OK);
    EXPECT_EQ(Read(*a, h).size(), 1u) << "0x81 is a command again, not the rest of 0x80";
    ASSERT_EQ(a->SetBitMode(h, 0, 0x00), FT_OK);
    ASSERT_EQ(Write(*a, h, {0xAA}), FT_OK);
    EXPECT_TRUE(Read(*a, h).empty()) << "out of MPSSE mode again";
}

TEST_F(AdapterTest, LinkDiesOrGoesMuteAfterTheConfiguredWrites)
{
    auto a = Make(R"({"fail_after_writes": 3})");
    FT_HANDLE ha = Open(*a, "FTQBXSIMA");
    FT_HANDLE hb = Open(*a, "FTQBXSIMB");
    EXPECT_EQ(Write(*a, ha, {0xAA}), FT_OK);
    EXPECT_EQ(Write(*a, hb, {0xAA}), FT_OK);
    EXPECT_EQ(Write(*a, ha, {0xAA}), FT_OK);
    EXPECT_EQ(Write(*a, hb, {0xAA}), FT_IO_ERROR) << "writes count across both channels";
    DWORD n = 0;
    Bytes buffer(4);
    EXPECT_EQ(a->GetQueueStatus(ha, &n), FT_IO_ERROR);
    EXPECT_EQ(a->Read(ha, buffer.data(), 4, &n), FT_IO_ERROR);
    EXPECT_EQ(a->SetBitMode(hb, 0, 0), FT_IO_ERROR);
    EXPECT_EQ(a->CreateDeviceInfoList(&n), FT_IO_ERROR);
    EXPECT_EQ(a->Close(ha), FT_IO_ERROR);
    EXPECT_EQ(a->Close(ha), FT_DEVICE_NOT_OPENED) << "the first close released the handle";
    FT_HANDLE h = nullptr;
    EXPECT_EQ(a->OpenEx(const_cast<char*>("FTQBXSIMA"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_IO_ERROR);

    auto muted = Make(R"({"mute_after_writes": 1})");
    h = Open(*muted, "FTQBXSIMB");
    ASSERT_EQ(Write(*muted, h, {0xAA}), FT_OK);
    EXPECT_EQ(Read(*muted, h), (Bytes{0xFA, 0xAA}));
    ASSERT_EQ(Write(*muted, h, {0xAA, 0x80, 0x08, 0x0B}), FT_OK);
    EXPECT_TRUE(Read(*muted, h).empty());
    EXPECT_EQ(muted->Engine(1).LowValue(), 0x08) << "the pins still move";
}

TEST_F(AdapterTest, StatsAtTheLastCloseAndTraceLines)
{
    auto a = Make("{}", {m_Dir.File("stats.json"), m_Dir.File("trace.txt")});
    FT_HANDLE ha = Open(*a, "FTQBXSIMA", false);
    FT_HANDLE hb = Open(*a, "FTQBXSIMB");
    // A round trip lasts from the first write until a read returns data: an empty read on the way
    // does not end it.
    ASSERT_EQ(Write(*a, hb, {0x8A, 0x86, 0x1D, 0x00, 0x80, 0x08, 0x0B}), FT_OK);
    EXPECT_EQ(Read(*a, hb).size(), 0u);
    ASSERT_EQ(Write(*a, hb, {0x3B, 0x07, 0x00, 0x3B, 0x03, 0x00}), FT_OK);
    EXPECT_EQ(Read(*a, hb).size(), 2u);
    ASSERT_EQ(Write(*a, hb, {0xAA}), FT_OK);
    EXPECT_EQ(Read(*a, hb, 1).size(), 1u);
    EXPECT_EQ(Read(*a, hb, 1).size(), 1u);
    ASSERT_EQ(a->Close(hb), FT_OK);
    EXPECT_FALSE(qbxtest::FileExists(m_Dir.File("stats.json"))) << "channel A is still open";
    ASSERT_EQ(a->Close(ha), FT_OK);
    const std::string text = qbxtest::ReadFile(m_Dir.File("stats.json"));
    EXPECT_NE(text.find("}\r\n"), std::string::npos);
    auto j = nlohmann::json::parse(text);
    const auto& b = j["channels"]["B"];
    const std::pair<const char*, int> counts[] = {{"writes", 3}, {"reads", 4},        {"bytes_written", 14},
                                                  {"bytes_read", 4}, {"transactions", 2}, {"tck_clocks", 12}};
    for (const auto& [key, value] : counts)
        EXPECT_EQ(b[key], value) << key;
    EXPECT_EQ(j["channels"]["A"]["writes"], 0);
    const double expected = 12e-6 + 2 * kUsbRoundTripSeconds;   // 12 clocks at 1 MHz, two round trips
    EXPECT_NEAR(b["modelled_seconds"].get<double>(), expected, 1e-12);
    EXPECT_NEAR(j["modelled_seconds"].get<double>(), expected, 1e-12);
    EXPECT_EQ(qbxtest::ReadFile(m_Dir.File("trace.txt")),
              "B W 8A 86 1D 00 80 08 0B\r\nB R\r\nB W 3B 07 00 3B 03 00\r\nB R FF F0\r\nB W AA\r\nB R FA\r\nB R AA\r\n");
}

}  // namespace
}  // namespace qbxsim
