#include "ft2232h.h"

#include "fake_fixture.h"

#include <algorithm>
#include <string>

using usbwire::CFT2232h;

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

class FT2232hTest : public FakeDriverTest {
protected:
    // Opens channel A and puts the fake's engine into MPSSE mode, without the set-up.
    void OpenEngine()
    {
        ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
        ASSERT_EQ(usbwire::GetD2xxDriver()->SetBitMode(dev.Handle(), 0, FT_BITMODE_MPSSE), FT_OK);
        F.ClearLogs();
    }

    size_t CountCalls(const std::string& prefix)
    {
        return std::count_if(F.log.begin(), F.log.end(),
                             [&](const std::string& line) { return line.starts_with(prefix); });
    }

    CFT2232h dev;
};

}  // namespace

// ---- enumeration and open -------------------------------------------------------------------

TEST_F(FT2232hTest, OpenTakesTheFirstFT2232HOrFT4232HWhoseDescriptionMatchesInAnyCase)
{
    F.devices.clear();
    F.AddDevice("FT2232H MiniModule A", "WRONG", FT_DEVICE_232R);
    F.AddDevice("Dual A", "D1A", FT_DEVICE_2232H);
    F.AddDevice("Single 232H", "H1", FT_DEVICE_232H);
    F.AddDevice("FT2232H MiniModule A", "Q1C", FT_DEVICE_4232H);
    F.AddDevice("FT2232H MiniModule A", "LATER", FT_DEVICE_2232H);
    ASSERT_EQ(dev.Enumerate(), 3);
    EXPECT_STREQ(dev.DeviceList()[0].SerialNumber, "D1A");
    EXPECT_STREQ(dev.DeviceList()[1].SerialNumber, "Q1C");
    F.ClearLogs();
    ASSERT_TRUE(dev.OpenByDescription("ft2232h MINIMODULE a"));
    EXPECT_EQ(F.log, (Lines{"FT_CreateDeviceInfoList() = 0", "FT_GetDeviceInfoList(5) = 0", "FT_OpenEx(Q1C,1) = 0"}));
}

TEST_F(FT2232hTest, FailedOpensLeaveTheObjectClosed)
{
    EXPECT_FALSE(dev.OpenByDescription("FT2232H MiniModule C"));
    EXPECT_EQ(dev.Status(), uint32_t{FT_DEVICE_NOT_FOUND});
    EXPECT_EQ(dev.DeviceList().size(), 2u);  // the FT2232H records found
    EXPECT_FALSE(dev.OpenByDescription(nullptr));
    EXPECT_EQ(CountCalls("FT_OpenEx"), 0u);

    // A failing driver call: its status stays, the list is empty after a failed enumeration.
    const struct {
        const char* function;
        FT_STATUS status;
        size_t listed;
    } cases[] = {{"FT_CreateDeviceInfoList", FT_IO_ERROR, 0},
                 {"FT_GetDeviceInfoList", FT_INSUFFICIENT_RESOURCES, 0},
                 {"FT_OpenEx", FT_DEVICE_NOT_OPENED, 2}};
    for (const auto& c : cases) {
        F.FailCall(c.function, 0, c.status);
        EXPECT_FALSE(dev.OpenByDescription("FT2232H MiniModule A")) << c.function;
        EXPECT_EQ(dev.Handle(), nullptr) << c.function;
        EXPECT_EQ(dev.Status(), c.status) << c.function;
        EXPECT_EQ(dev.DeviceList().size(), c.listed) << c.function;
    }
}

TEST_F(FT2232hTest, FullLengthRecordFieldsWithoutNulAreHandledSafely)
{
    F.devices.clear();
    std::string description(64, 'D');  // fills the field: no NUL
    F.AddDevice(description + "XYZ", "ABCDEFGHIJKLMNOPQR", FT_DEVICE_2232H);
    EXPECT_FALSE(dev.OpenByDescription((description + "XYZ").c_str()));
    ASSERT_TRUE(dev.OpenByDescription(description.c_str()));
    // The serial number passed on is the field's 16 characters, NUL-terminated.
    EXPECT_EQ(F.log.back(), "FT_OpenEx(ABCDEFGHIJKLMNOP,1) = 0");
}

// ---- flush ------------------------------------------------------------------------------------

TEST_F(FT2232hTest, FlushSplitsAt4096)
{
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));  // plain bytes: no engine
    EXPECT_TRUE(dev.Flush());  // an empty queue writes nothing
    EXPECT_EQ(CountCalls("FT_Write"), 0u);

    Bytes bytes(10000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    for (uint8_t byte : bytes)
        dev.AppendCommand(byte);
    ASSERT_TRUE(dev.Flush());
    EXPECT_TRUE(dev.Command().empty());
    EXPECT_EQ(F.devices[0].writeSizes, (std::vector<size_t>{4096, 4096, 1808}));
    EXPECT_EQ(F.devices[0].written, bytes);
}

TEST_F(FT2232hTest, FlushFailuresEmptyTheQueueAndKeepTheStatus)
{
    OpenEngine();
    F.zeroWrites = CFT2232h::kMaxStalledWrites - 1;  // writes that accept nothing are retried
    dev.AppendCommand(0x42);
    ASSERT_TRUE(dev.Flush());
    EXPECT_EQ(F.devices[0].written, Bytes{0x42});
    F.ClearLogs();
    F.zeroWrites = 1000000;  // ... a bounded number of times
    dev.AppendCommand(0x43);
    EXPECT_FALSE(dev.Flush());
    EXPECT_EQ(dev.Status(), uint32_t{FT_FAILED_TO_WRITE_DEVICE});
    EXPECT_EQ(CountCalls("FT_Write"), CFT2232h::kMaxStalledWrites);
    EXPECT_TRUE(dev.Command().empty());

    F.zeroWrites = 0;
    F.FailCall("FT_Write", 0, FT_IO_ERROR);
    dev.AppendCommand(0x01);
    dev.AddPendingRead(8);
    EXPECT_FALSE(dev.Flush());
    EXPECT_EQ(dev.Status(), uint32_t{FT_IO_ERROR});
    EXPECT_TRUE(dev.Command().empty());
    EXPECT_EQ(dev.PendingReads().size(), 1u);  // left for the caller
    EXPECT_TRUE(dev.Flush());                  // a new flush starts with status 0
}

// ---- reading ----------------------------------------------------------------------------------

TEST_F(FT2232hTest, WaitForDataTimesOutAfter100msAndReadAvailableTakesAtMostTheMaximum)
{
    OpenEngine();
    EXPECT_FALSE(dev.WaitForData());
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 100u);
    EXPECT_LT(Elapsed(), 400u);

    F.devices[0].received = {1, 2, 3, 4, 5};
    EXPECT_TRUE(dev.WaitForData());
    uint8_t out[5] = {};
    uint32_t count = 99;
    ASSERT_TRUE(dev.ReadAvailable(out, 3, count));
    EXPECT_EQ(Bytes(out, out + count), (Bytes{1, 2, 3}));
    ASSERT_TRUE(dev.ReadAvailable(out, 5, count));
    EXPECT_EQ(Bytes(out, out + count), (Bytes{4, 5}));
    ASSERT_TRUE(dev.ReadAvailable(out, 5, count));
    EXPECT_EQ(count, 0u);
}

TEST_F(FT2232hTest, ReadExactGathersPiecesAndTimesOutAfter5000ms)
{
    OpenEngine();
    F.devices[0].received = {9, 8, 7, 6};
    F.readChunk = 1;
    uint8_t out[4] = {};
    ASSERT_TRUE(dev.ReadExact(out, 4));
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{9, 8, 7, 6}));
    EXPECT_LT(Elapsed(), 5000u);

    F.devices[0].received = {1, 2, 3};
    EXPECT_FALSE(dev.ReadExact(out, 4));
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 5000u);
    EXPECT_LT(Elapsed(), 12000u);

    uint32_t before = Elapsed();
    F.FailCall("FT_GetQueueStatus", 0, FT_IO_ERROR);
    EXPECT_FALSE(dev.ReadExact(out, 2));
    EXPECT_EQ(dev.Status(), uint32_t{FT_IO_ERROR});
    EXPECT_LT(Elapsed() - before, 100u);
}

TEST_F(FT2232hTest, ResetAndDrainThrowsAwayWaitingBytes)
{
    OpenEngine();
    F.devices[0].received = {0xFA, 0xAA, 1, 2, 3};
    ASSERT_TRUE(dev.ResetAndDrain());
    EXPECT_TRUE(F.devices[0].received.empty());
    EXPECT_EQ(F.CallsWithoutPolls(), (Lines{"FT_ResetDevice(0) = 0", "FT_Read(0,5->5) = 0"}));

    F.FailCall("FT_ResetDevice", 0, FT_IO_ERROR);
    EXPECT_FALSE(dev.ResetAndDrain());
    EXPECT_EQ(dev.Status(), uint32_t{FT_IO_ERROR});
}

// ---- synchronisation and set-up ---------------------------------------------------------------

TEST_F(FT2232hTest, SynchronizeHandshake)
{
    const struct {
        const char* name;
        unsigned syncIgnore;
        unsigned readChunk;
        int ignoreOpcode;
        bool mute;
        Bytes stale;
        bool ok;
        Bytes written;  // empty: some 0xAA and nothing else
    } cases[] = {
        {"at once", 0, 0, -1, false, {}, true, {0xAA, 0xAB}},
        {"0xAA resent while the engine is silent", 3, 0, -1, false, {}, true, {0xAA, 0xAA, 0xAA, 0xAA, 0xAB}},
        // The read with 0xFA alone finds nothing, one more 0xAA goes out, the next read ends the echo.
        {"0xFA and its echo in different reads", 0, 1, -1, false, {}, true, {0xAA, 0xAA, 0xAB}},
        {"0xAB never answered: no 0xAA resent", 0, 0, 0xAB, false, {}, false, {0xAA, 0xAB}},
        {"an engine that never answers", 0, 0, -1, true, {}, false, {}},
        {"loose bytes are not the echo", 0, 0, 0xAA, false, {0xAA, 0xFA, 0x12, 0xAA}, false, {}},
    };
    for (const auto& c : cases) {
        F.Reset();
        OpenEngine();
        F.syncIgnore = c.syncIgnore;
        F.readChunk = c.readChunk;
        F.ignoreOpcode = c.ignoreOpcode;
        F.mute = c.mute;
        F.devices[0].received.assign(c.stale.begin(), c.stale.end());
        uint32_t start = Elapsed();
        EXPECT_EQ(dev.Synchronize(), c.ok) << c.name;
        const Bytes& written = F.devices[0].written;
        if (c.written.empty()) {
            auto isAA = [](uint8_t byte) { return byte == 0xAA; };
            EXPECT_TRUE(!written.empty() && std::all_of(written.begin(), written.end(), isAA)) << c.name;
        } else {
            EXPECT_EQ(written, c.written) << c.name;
        }
        if (!c.ok) {
            EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout) << c.name;
            EXPECT_GT(Elapsed() - start, 5000u) << c.name;
            EXPECT_LT(Elapsed() - start, 11000u) << c.name;
        }
        dev.Close();
    }
}

TEST_F(FT2232hTest, SetupCallsEveryDriverFunctionInOrder)
{
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    F.ClearLogs();
    const uint8_t pins[6] = {0x80, 0x03, 0x03, 0x82, 0x00, 0x00};
    ASSERT_TRUE(dev.Setup(pins, 299));
    const Lines expected = {
        "FT_ResetDevice(0) = 0", "FT_SetUSBParameters(0,65536,65536) = 0", "FT_SetChars(0,0,0,0,0) = 0",
        "FT_SetTimeouts(0,0,5000) = 0", "FT_SetLatencyTimer(0,16) = 0", "FT_SetBitMode(0,0,0) = 0",
        "FT_SetBitMode(0,0,2) = 0", "FT_Write(0,1->1) = 0", "FT_Read(0,2->2) = 0",  // 0xAA, 0xFA 0xAA
        "FT_Write(0,1->1) = 0", "FT_Read(0,2->2) = 0",                              // 0xAB, 0xFA 0xAB
        "FT_ResetDevice(0) = 0", "FT_Write(0,1->1) = 0", "FT_Write(0,1->1) = 0",    // 0x8A, 0x97
        "FT_Write(0,1->1) = 0", "FT_Write(0,1->1) = 0", "FT_ResetDevice(0) = 0",    // 0x8D, 0x85
        "FT_Write(0,6->6) = 0", "FT_Write(0,3->3) = 0",                             // pins, divisor
    };
    EXPECT_EQ(F.CallsWithoutPolls(), expected);
    EXPECT_EQ(F.devices[0].written, SetupBytes(0x03, 0x03, 299));
    EXPECT_EQ(clock.Slept(), 40u);  // the two 20 ms pauses
}

TEST_F(FT2232hTest, SetupStopsAtTheFirstFailingStep)
{
    const uint8_t pins[6] = {0x80, 0x03, 0x03, 0x82, 0x00, 0x00};
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    F.FailCall("FT_SetLatencyTimer", 0, FT_INVALID_PARAMETER);
    EXPECT_FALSE(dev.Setup(pins, 299));
    EXPECT_EQ(dev.Status(), uint32_t{FT_INVALID_PARAMETER});
    EXPECT_EQ(CountCalls("FT_SetBitMode"), 0u);
    EXPECT_TRUE(F.devices[0].written.empty());

    // An engine that never answers: status 20 after about 5 s, nothing written after the handshake.
    F.mute = true;
    uint32_t start = Elapsed();
    EXPECT_FALSE(dev.Setup(pins, 299));
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed() - start, 5000u);
    EXPECT_LT(Elapsed() - start, 6000u);
    EXPECT_EQ(CountCalls("FT_Write(0,3"), 0u);  // no divisor
}
