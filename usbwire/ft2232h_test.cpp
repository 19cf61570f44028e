#include "ft2232h.h"

#include "fake_fixture.h"

#include <algorithm>

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
    fake::Device& A() { return F.devices[0]; }

    CFT2232h dev;
    const uint8_t pins[6] = {0x80, 0x03, 0x13, 0x82, 0x00, 0x00};
};

}  // namespace

TEST_F(FT2232hTest, OpenTakesTheFirstFT2232HOrFT4232HRecordWhoseDescriptionMatchesInAnyCase)
{
    F.devices.clear();
    F.AddDevice("FT2232H MiniModule A", "WRONG", FT_DEVICE_232R);
    F.AddDevice("Dual A", "D1A", FT_DEVICE_2232H);
    F.AddDevice("FT2232H MiniModule A", "Q1C", FT_DEVICE_4232H);
    F.AddDevice("FT2232H MiniModule A", "LATER", FT_DEVICE_2232H);
    const std::string full(64, 'D');  // fills the field: no NUL; so does the serial number
    F.AddDevice(full + "XYZ", "ABCDEFGHIJKLMNOPQR", FT_DEVICE_2232H);
    ASSERT_EQ(dev.Enumerate(), 4);
    ASSERT_TRUE(dev.OpenByDescription("ft2232h MINIMODULE a"));
    EXPECT_TRUE(F.devices[2].open);
    CFT2232h other;
    EXPECT_FALSE(other.OpenByDescription((full + "XYZ").c_str()));
    ASSERT_TRUE(other.OpenByDescription(full.c_str()));  // opened by the field's 16 characters
    EXPECT_TRUE(F.devices[4].open);
}

TEST_F(FT2232hTest, FailedOpensLeaveTheObjectClosed)
{
    EXPECT_FALSE(dev.OpenByDescription(nullptr));
    EXPECT_FALSE(dev.OpenByDescription("FT2232H MiniModule C"));
    EXPECT_EQ(dev.Status(), uint32_t{FT_DEVICE_NOT_FOUND});
    EXPECT_EQ(dev.DeviceList().size(), 2u);  // the FT2232H records found
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

TEST_F(FT2232hTest, FlushWritesInChunksAndRetriesWritesThatTakeNothingABoundedNumberOfTimes)
{
    OpenEngine();
    EXPECT_TRUE(dev.Flush());  // an empty queue writes nothing
    const Bytes bytes(10000, mpsse::kSendImmediate);
    for (uint8_t byte : bytes)
        dev.AppendCommand(byte);
    ASSERT_TRUE(dev.Flush());
    EXPECT_EQ(A().writeSizes, (std::vector<size_t>{4096, 4096, 1808}));
    EXPECT_EQ(A().written, bytes);
    EXPECT_TRUE(dev.Command().empty());

    F.zeroWrites = CFT2232h::kMaxStalledWrites - 1;
    dev.AppendCommand(0x42);
    ASSERT_TRUE(dev.Flush());
    EXPECT_EQ(A().written.back(), 0x42);
    F.ClearLogs();
    F.zeroWrites = 1000000;
    dev.AppendCommand(0x43);
    EXPECT_FALSE(dev.Flush());
    EXPECT_EQ(dev.Status(), uint32_t{FT_FAILED_TO_WRITE_DEVICE});
    EXPECT_EQ(A().writeSizes.size(), CFT2232h::kMaxStalledWrites);
    EXPECT_TRUE(dev.Command().empty());
}

TEST_F(FT2232hTest, ReadsTakeWhatHasArrivedAtMostTheMaximumAndWaitForData100ms)
{
    OpenEngine();
    EXPECT_FALSE(dev.WaitForData());
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 100u);
    EXPECT_LT(Elapsed(), 400u);
    A().received = {1, 2, 3, 4, 5};
    EXPECT_TRUE(dev.WaitForData());
    uint8_t out[5] = {};
    uint32_t count = 99;
    ASSERT_TRUE(dev.ReadAvailable(out, 3, count));
    EXPECT_EQ(Bytes(out, out + count), (Bytes{1, 2, 3}));
    ASSERT_TRUE(dev.ResetAndDrain());  // throws away what waits
    EXPECT_TRUE(A().received.empty());
    EXPECT_EQ(A().settings, Lines{"FT_ResetDevice"});
}

TEST_F(FT2232hTest, SynchronizeHandshake)
{
    const struct {
        const char* name;
        unsigned syncIgnore, readChunk;
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
        A().received.assign(c.stale.begin(), c.stale.end());
        uint32_t start = Elapsed();
        EXPECT_EQ(dev.Synchronize(), c.ok) << c.name;
        auto isAA = [](uint8_t byte) { return byte == 0xAA; };
        if (c.written.empty())
            EXPECT_TRUE(!A().written.empty() && std::all_of(A().written.begin(), A().written.end(), isAA)) << c.name;
        else
            EXPECT_EQ(A().written, c.written) << c.name;
        if (!c.ok) {
            EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout) << c.name;
            EXPECT_GT(Elapsed() - start, 5000u) << c.name;
            EXPECT_LT(Elapsed() - start, 11000u) << c.name;
        }
        dev.Close();
    }
}

// The configuration FTDI's AN_135 describes, and an engine in a known state whatever an earlier
// user left in it.
TEST_F(FT2232hTest, SetupConfiguresTheChannelAndTheEngineAndStopsAtAFailingStep)
{
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    A().adaptive = A().threePhase = A().loopback = true;
    A().highDirection = 0xFF;
    ASSERT_TRUE(dev.Setup(pins, 299));
    EXPECT_EQ(A().settings, (Lines{"FT_ResetDevice", "FT_SetUSBParameters 65536 65536", "FT_SetChars 0 0 0 0",
                                   "FT_SetTimeouts 0 5000", "FT_SetLatencyTimer 16", "FT_SetBitMode 0 0",
                                   "FT_SetBitMode 0 2", "FT_ResetDevice", "FT_ResetDevice"}));
    EXPECT_DOUBLE_EQ(A().ClockHz(), 100000.0);  // 60 MHz / ((1 + 299) x 2)
    EXPECT_FALSE(A().adaptive || A().threePhase || A().loopback);
    EXPECT_EQ(std::tuple(A().lowValue, A().lowDirection, A().highDirection), std::tuple(0x03, 0x13, 0x00));
    EXPECT_EQ(clock.Slept(), 40u);  // two pauses of 20 ms

    const struct {
        const char* function;
        unsigned skip;
        size_t settings;  // those made before
        Bytes written;
    } failing[] = {{"FT_ResetDevice", 0, 0, {}}, {"FT_SetLatencyTimer", 0, 4, {}}, {"FT_ResetDevice", 1, 7, {0xAA, 0xAB}}};
    for (const auto& c : failing) {
        F.ClearLogs();
        F.FailCall(c.function, c.skip, FT_INVALID_PARAMETER);
        EXPECT_FALSE(dev.Setup(pins, 299)) << c.function;
        EXPECT_EQ(dev.Status(), uint32_t{FT_INVALID_PARAMETER}) << c.function;
        EXPECT_EQ(A().settings.size(), c.settings) << c.function;
        EXPECT_EQ(A().written, c.written) << c.function;
    }
    F.mute = true;  // no handshake: status 20 after about 5 s, nothing sent after it
    A().lowDirection = 0;
    uint32_t start = Elapsed();
    EXPECT_FALSE(dev.Setup(pins, 299));
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
    EXPECT_LT(Elapsed() - start, 6000u);
    EXPECT_EQ(A().lowDirection, 0x00);
}
