#include "ft2232h.h"

#include "fake_fixture.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using usbwire::CFT2232h;

namespace {

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
        size_t count = 0;
        for (const std::string& line : fake::Calls())
            count += line.rfind(prefix, 0) == 0;
        return count;
    }

    CFT2232h dev;
};

// Captures what is written to standard error while alive.
class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        m_File = std::tmpfile();
        m_Saved = dup(2);
        dup2(fileno(m_File), 2);
    }
    ~StderrCapture()
    {
        Restore();
        std::fclose(m_File);
    }
    std::string Text()
    {
        Restore();
        std::string text;
        std::rewind(m_File);
        char buffer[512];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_File)) > 0)
            text.append(buffer, n);
        return text;
    }

private:
    void Restore()
    {
        if (m_Saved >= 0) {
            std::fflush(stderr);
            dup2(m_Saved, 2);
            close(m_Saved);
            m_Saved = -1;
        }
    }
    std::FILE* m_File = nullptr;
    int m_Saved = -1;
};

size_t CountLines(const std::string& text)
{
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

}  // namespace

// ---- enumeration and open -------------------------------------------------------------------

TEST_F(FT2232hTest, EnumerateKeepsOnlyFT2232HAndFT4232HInOrder)
{
    F.ClearDevices();
    F.AddDevice("Serial 232R", "R1", FT_DEVICE_232R);
    F.AddDevice("Dual A", "D1A", FT_DEVICE_2232H);
    F.AddDevice("Single 232H", "H1", FT_DEVICE_232H);
    F.AddDevice("Quad C", "Q1C", FT_DEVICE_4232H);
    F.AddDevice("Old 2232C", "C1A", FT_DEVICE_2232C);
    ASSERT_EQ(dev.Enumerate(), 2);
    ASSERT_EQ(dev.DeviceList().size(), 2u);
    EXPECT_STREQ(dev.DeviceList()[0].SerialNumber, "D1A");
    EXPECT_STREQ(dev.DeviceList()[1].SerialNumber, "Q1C");
}

TEST_F(FT2232hTest, DescriptionMatchIgnoresLetterCase)
{
    ASSERT_TRUE(dev.OpenByDescription("ft2232h MINIMODULE b"));
    EXPECT_NE(dev.Handle(), nullptr);
    std::vector<std::string> calls = fake::Calls();
    std::vector<std::string> expected = {"FT_CreateDeviceInfoList() = 0", "FT_GetDeviceInfoList(2) = 0",
                                         "FT_OpenEx(QBX0001B,1) = 0"};
    EXPECT_EQ(calls, expected);
}

TEST_F(FT2232hTest, WrongTypeIsNeverOpenedEvenWhenItsDescriptionMatches)
{
    F.ClearDevices();
    F.AddDevice("FT2232H MiniModule A", "WRONG", FT_DEVICE_232R);
    EXPECT_FALSE(dev.OpenByDescription("FT2232H MiniModule A"));
    EXPECT_EQ(dev.Handle(), nullptr);
    EXPECT_EQ(CountCalls("FT_OpenEx"), 0u);

    F.AddDevice("FT2232H MiniModule A", "RIGHT", FT_DEVICE_4232H);
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    EXPECT_EQ(fake::Calls().back(), "FT_OpenEx(RIGHT,1) = 0");
}

TEST_F(FT2232hTest, TheTwoChannelsOpenDifferentDevices)
{
    CFT2232h other;
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    ASSERT_TRUE(other.OpenByDescription("FT2232H MiniModule B"));
    EXPECT_NE(dev.Handle(), other.Handle());
    // Each channel's bytes reach its own device.
    dev.AppendCommand(0x11);
    other.AppendCommand(0x22);
    ASSERT_TRUE(dev.Flush());
    ASSERT_TRUE(other.Flush());
    EXPECT_EQ(fake::Written(0), std::vector<uint8_t>{0x11});
    EXPECT_EQ(fake::Written(1), std::vector<uint8_t>{0x22});
}

TEST_F(FT2232hTest, NoMatchingDeviceFailsAndKeepsTheList)
{
    EXPECT_FALSE(dev.OpenByDescription("FT2232H MiniModule C"));
    EXPECT_EQ(dev.Handle(), nullptr);
    EXPECT_EQ(dev.DeviceList().size(), 2u);
    EXPECT_EQ(dev.Status(), uint32_t{FT_DEVICE_NOT_FOUND});
    EXPECT_EQ(CountCalls("FT_OpenEx"), 0u);
    EXPECT_FALSE(dev.OpenByDescription(nullptr));
}

TEST_F(FT2232hTest, OpenExFailureLeavesTheObjectClosed)
{
    F.FailCall("FT_OpenEx", 0, 1, FT_DEVICE_NOT_OPENED);
    EXPECT_FALSE(dev.OpenByDescription("FT2232H MiniModule A"));
    EXPECT_EQ(dev.Handle(), nullptr);
    EXPECT_EQ(dev.Status(), uint32_t{FT_DEVICE_NOT_OPENED});
}

TEST_F(FT2232hTest, EnumerationFailuresLeaveAnEmptyList)
{
    F.FailCall("FT_CreateDeviceInfoList", 0, 1, FT_IO_ERROR);
    EXPECT_FALSE(dev.OpenByDescription("FT2232H MiniModule A"));
    EXPECT_EQ(dev.Status(), uint32_t{FT_IO_ERROR});
    EXPECT_TRUE(dev.DeviceList().empty());

    F.FailCall("FT_GetDeviceInfoList", 0, 1, FT_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(dev.OpenByDescription("FT2232H MiniModule A"));
    EXPECT_EQ(dev.Status(), uint32_t{FT_INSUFFICIENT_RESOURCES});
    EXPECT_TRUE(dev.DeviceList().empty());
}

TEST_F(FT2232hTest, FullLengthRecordFieldsWithoutNulAreHandledSafely)
{
    F.ClearDevices();
    std::string description(64, 'D');  // fills the field: no NUL
    F.AddDevice((description + "XYZ").c_str(), "ABCDEFGHIJKLMNOPQR", FT_DEVICE_2232H);
    EXPECT_FALSE(dev.OpenByDescription((description + "XYZ").c_str()));
    ASSERT_TRUE(dev.OpenByDescription(description.c_str()));
    // The serial number passed on is the field's 16 characters, NUL-terminated.
    EXPECT_EQ(fake::Calls().back(), "FT_OpenEx(ABCDEFGHIJKLMNOP,1) = 0");
}

TEST_F(FT2232hTest, CloseEmptiesTheListAndClosesOnce)
{
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    dev.Close();
    EXPECT_EQ(dev.Handle(), nullptr);
    EXPECT_TRUE(dev.DeviceList().empty());
    dev.Close();
    EXPECT_EQ(CountCalls("FT_Close"), 1u);
}

// ---- flush ------------------------------------------------------------------------------------

TEST_F(FT2232hTest, FlushOfAnEmptyQueueWritesNothing)
{
    OpenEngine();
    EXPECT_TRUE(dev.Flush());
    EXPECT_EQ(CountCalls("FT_Write"), 0u);
}

TEST_F(FT2232hTest, FlushSplitsAt4096AndFollowsWhatTheDriverAccepted)
{
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    std::vector<uint8_t> bytes(10000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    for (uint8_t byte : bytes)
        dev.AppendCommand(byte);
    ASSERT_TRUE(dev.Flush());
    EXPECT_TRUE(dev.Command().empty());
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{4096, 4096, 1808}));
    EXPECT_EQ(fake::Written(0), bytes);

    // A driver that takes at most 3000 bytes per call: every byte still goes out, in order.
    F.ClearLogs();
    F.SetWriteLimit(3000);
    for (uint8_t byte : bytes)
        dev.AppendCommand(byte);
    ASSERT_TRUE(dev.Flush());
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{4096, 4096, 4000, 1000}));
    EXPECT_EQ(fake::Written(0), bytes);
}

TEST_F(FT2232hTest, WritesThatAcceptNothingAreRetriedABoundedNumberOfTimes)
{
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    F.SetZeroWrites(CFT2232h::kMaxStalledWrites - 1);
    dev.AppendCommand(0x42);
    ASSERT_TRUE(dev.Flush());
    EXPECT_EQ(fake::Written(0), std::vector<uint8_t>{0x42});

    F.ClearLogs();
    F.SetZeroWrites(1000000);
    dev.AppendCommand(0x43);
    EXPECT_FALSE(dev.Flush());
    EXPECT_EQ(dev.Status(), uint32_t{FT_FAILED_TO_WRITE_DEVICE});
    EXPECT_EQ(CountCalls("FT_Write"), CFT2232h::kMaxStalledWrites);
    EXPECT_TRUE(dev.Command().empty());
}

TEST_F(FT2232hTest, WriteFailureKeepsTheDriverStatusAndEmptiesTheQueue)
{
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    F.FailCall("FT_Write", 0, 1, FT_IO_ERROR);
    dev.AppendCommand(0x01);
    dev.AddPendingRead(8);
    EXPECT_FALSE(dev.Flush());
    EXPECT_EQ(dev.Status(), uint32_t{FT_IO_ERROR});
    EXPECT_TRUE(dev.Command().empty());
    EXPECT_EQ(dev.PendingReads().size(), 1u);  // left for the caller
    EXPECT_TRUE(dev.Flush());  // a new flush starts with status 0
    EXPECT_EQ(dev.Status(), uint32_t{FT_OK});
}

TEST_F(FT2232hTest, QueueOperations)
{
    dev.AppendCommand(1);
    dev.AddPendingRead(8);
    dev.AddPendingRead(1);
    ASSERT_EQ(dev.PendingReads().size(), 2u);
    EXPECT_EQ(dev.PendingReads()[0].kind, 0);
    EXPECT_EQ(dev.PendingReads()[1].bits, 1);
    dev.AppendCommand(2, true);
    EXPECT_EQ(dev.Command(), std::vector<uint8_t>{2});
    EXPECT_TRUE(dev.PendingReads().empty());
    // Nothing is open: a non-empty flush fails without calling a driver.
    EXPECT_FALSE(dev.Flush());
    EXPECT_EQ(dev.Status(), uint32_t{FT_INVALID_HANDLE});
}

// ---- reading ----------------------------------------------------------------------------------

TEST_F(FT2232hTest, WaitForDataTimesOutAfter100ms)
{
    OpenEngine();
    EXPECT_FALSE(dev.WaitForData());
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 100u);
    EXPECT_LT(Elapsed(), 400u);

    uint8_t byte = 7;
    F.InjectReply(0, &byte, 1);
    EXPECT_TRUE(dev.WaitForData());
}

TEST_F(FT2232hTest, ReadAvailableTakesAtMostTheMaximum)
{
    OpenEngine();
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    F.InjectReply(0, bytes, 5);
    uint8_t out[5] = {};
    uint32_t count = 99;
    ASSERT_TRUE(dev.ReadAvailable(out, 3, count));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(out[2], 3);
    ASSERT_TRUE(dev.ReadAvailable(out, 5, count));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(out[1], 5);
    ASSERT_TRUE(dev.ReadAvailable(out, 5, count));
    EXPECT_EQ(count, 0u);
}

TEST_F(FT2232hTest, ReadExactGathersPiecesAndTimesOutAfter5000ms)
{
    OpenEngine();
    const uint8_t bytes[4] = {9, 8, 7, 6};
    F.InjectReply(0, bytes, 4);
    F.SetReadChunk(1);
    uint8_t out[4] = {};
    ASSERT_TRUE(dev.ReadExact(out, 4));
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(bytes, bytes + 4));
    EXPECT_LT(Elapsed(), 5000u);

    F.InjectReply(0, bytes, 3);
    EXPECT_FALSE(dev.ReadExact(out, 4));
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 5000u);
    EXPECT_LT(Elapsed(), 12000u);
}

TEST_F(FT2232hTest, ReadExactStopsAtADriverError)
{
    OpenEngine();
    F.FailCall("FT_GetQueueStatus", 0, 1, FT_IO_ERROR);
    uint8_t out[2];
    EXPECT_FALSE(dev.ReadExact(out, 2));
    EXPECT_EQ(dev.Status(), uint32_t{FT_IO_ERROR});
    EXPECT_LT(Elapsed(), 100u);
}

TEST_F(FT2232hTest, ResetAndDrainThrowsAwayWaitingBytes)
{
    OpenEngine();
    const uint8_t stale[5] = {0xFA, 0xAA, 1, 2, 3};
    F.InjectReply(0, stale, 5);
    ASSERT_TRUE(dev.ResetAndDrain());
    EXPECT_EQ(F.Pending(0), 0u);
    std::vector<std::string> calls = fake::CallsWithoutPolls();
    std::vector<std::string> expected = {"FT_ResetDevice(0) = 0", "FT_Read(0,5->5) = 0"};
    EXPECT_EQ(calls, expected);

    F.FailCall("FT_ResetDevice", 0, 1, FT_IO_ERROR);
    EXPECT_FALSE(dev.ResetAndDrain());
    EXPECT_EQ(dev.Status(), uint32_t{FT_IO_ERROR});
}

// ---- synchronisation --------------------------------------------------------------------------

TEST_F(FT2232hTest, SynchronizeSendsAAThenAB)
{
    OpenEngine();
    ASSERT_TRUE(dev.Synchronize());
    EXPECT_EQ(fake::Written(0), (std::vector<uint8_t>{0xAA, 0xAB}));
}

TEST_F(FT2232hTest, SynchronizeResendsAAWhileTheEngineIsSilent)
{
    OpenEngine();
    F.SetSyncIgnore(3);
    ASSERT_TRUE(dev.Synchronize());
    EXPECT_EQ(fake::Written(0), (std::vector<uint8_t>{0xAA, 0xAA, 0xAA, 0xAA, 0xAB}));
}

TEST_F(FT2232hTest, SynchronizeFindsTheEchoSplitAcrossReads)
{
    OpenEngine();
    F.SetReadChunk(1);  // 0xFA and its echo come in different reads
    ASSERT_TRUE(dev.Synchronize());
    // The read with 0xFA alone found nothing, so one more 0xAA went out; the read after it found
    // the echo of the first.
    EXPECT_EQ(fake::Written(0), (std::vector<uint8_t>{0xAA, 0xAA, 0xAB}));
}

TEST_F(FT2232hTest, SynchronizeIgnoresLooseBytesThatAreNotTheEcho)
{
    OpenEngine();
    // Stale bytes that hold 0xAA but not after 0xFA, and 0xFA followed by something else.
    const uint8_t stale[4] = {0xAA, 0xFA, 0x12, 0xAA};
    F.InjectReply(0, stale, 4);
    F.SetIgnoreOpcode(0xAA);
    EXPECT_FALSE(dev.Synchronize());
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
}

TEST_F(FT2232hTest, SynchronizeTimesOutWhenTheEngineNeverAnswers)
{
    OpenEngine();
    F.SetMute(1);
    EXPECT_FALSE(dev.Synchronize());
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 5000u);
    EXPECT_LT(Elapsed(), 6000u);
    for (uint8_t byte : fake::Written(0))
        EXPECT_EQ(byte, 0xAA);  // never got to 0xAB
}

TEST_F(FT2232hTest, SynchronizeWaitsForABWithoutResending)
{
    OpenEngine();
    F.SetIgnoreOpcode(0xAB);
    EXPECT_FALSE(dev.Synchronize());
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
    EXPECT_EQ(fake::Written(0), (std::vector<uint8_t>{0xAA, 0xAB}));
    EXPECT_GT(Elapsed(), 5000u);
}

// ---- set-up -----------------------------------------------------------------------------------

TEST_F(FT2232hTest, SetupCallsEveryDriverFunctionInOrder)
{
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    F.ClearLogs();
    const uint8_t pins[6] = {0x80, 0x03, 0x03, 0x82, 0x00, 0x00};
    ASSERT_TRUE(dev.Setup(pins, 299));
    std::vector<std::string> expected = {
        "FT_ResetDevice(0) = 0",
        "FT_GetQueueStatus(0->0) = 0",
        "FT_SetUSBParameters(0,65536,65536) = 0",
        "FT_SetChars(0,0,0,0,0) = 0",
        "FT_SetTimeouts(0,0,5000) = 0",
        "FT_SetLatencyTimer(0,16) = 0",
        "FT_SetBitMode(0,0,0) = 0",
        "FT_SetBitMode(0,0,2) = 0",
        "FT_Write(0,1->1) = 0",        // 0xAA
        "FT_GetQueueStatus(0->2) = 0", // WaitForData
        "FT_GetQueueStatus(0->2) = 0", // how many
        "FT_GetQueueStatus(0->2) = 0", // ReadAvailable
        "FT_Read(0,2->2) = 0",         // 0xFA 0xAA
        "FT_Write(0,1->1) = 0",        // 0xAB
        "FT_GetQueueStatus(0->2) = 0",
        "FT_GetQueueStatus(0->2) = 0",
        "FT_GetQueueStatus(0->2) = 0",
        "FT_Read(0,2->2) = 0",         // 0xFA 0xAB
        "FT_ResetDevice(0) = 0",
        "FT_GetQueueStatus(0->0) = 0",
        "FT_Write(0,1->1) = 0",        // 0x8A
        "FT_Write(0,1->1) = 0",        // 0x97
        "FT_Write(0,1->1) = 0",        // 0x8D
        "FT_Write(0,1->1) = 0",        // 0x85
        "FT_ResetDevice(0) = 0",
        "FT_GetQueueStatus(0->0) = 0",
        "FT_Write(0,6->6) = 0",        // pins
        "FT_Write(0,3->3) = 0",        // divisor
    };
    EXPECT_EQ(fake::Calls(), expected);
    EXPECT_EQ(fake::Written(0), SetupBytes(0x03, 0x03, 299));
    EXPECT_EQ(F.Divisor(0), 299u);
    EXPECT_EQ(clock.Slept(), 40u);  // the two 20 ms pauses
}

TEST_F(FT2232hTest, SetupStopsAtTheFirstFailingStep)
{
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    F.FailCall("FT_SetLatencyTimer", 0, 1, FT_INVALID_PARAMETER);
    const uint8_t pins[6] = {0x80, 0x03, 0x03, 0x82, 0x00, 0x00};
    EXPECT_FALSE(dev.Setup(pins, 299));
    EXPECT_EQ(dev.Status(), uint32_t{FT_INVALID_PARAMETER});
    EXPECT_EQ(CountCalls("FT_SetBitMode"), 0u);
    EXPECT_TRUE(fake::Written(0).empty());
}

TEST_F(FT2232hTest, SetupFailsWithStatus20WhenTheEngineIsMute)
{
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    F.SetMute(1);
    const uint8_t pins[6] = {0x80, 0x03, 0x03, 0x82, 0x00, 0x00};
    EXPECT_FALSE(dev.Setup(pins, 299));
    EXPECT_EQ(dev.Status(), usbwire::kStatusTimeout);
    EXPECT_EQ(CountCalls("FT_Write(0,3"), 0u);  // no divisor written
}

// ---- the driver ---------------------------------------------------------------------------------

TEST_F(FT2232hTest, UnloadableDriverFailsEveryOpenWithOneLineOnStderr)
{
    setenv("USBWIRE_DRIVER", "libqbx-no-such-driver.so", 1);
    usbwire::ResetD2xxDriverForTesting();
    StderrCapture capture;
    CFT2232h other;
    EXPECT_FALSE(dev.OpenByDescription("FT2232H MiniModule A"));
    EXPECT_FALSE(other.OpenByDescription("FT2232H MiniModule B"));
    EXPECT_EQ(dev.Handle(), nullptr);
    std::string text = capture.Text();
    EXPECT_EQ(CountLines(text), 1u) << text;
    EXPECT_NE(text.find("libqbx-no-such-driver.so"), std::string::npos) << text;
    EXPECT_NE(text.find("cannot open shared object file"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(FT2232hTest, DriverWithoutTheD2xxFunctionsIsRefused)
{
    setenv("USBWIRE_DRIVER", "libm.so.6", 1);  // loads, but has none of the functions
    usbwire::ResetD2xxDriverForTesting();
    StderrCapture capture;
    EXPECT_EQ(usbwire::GetD2xxDriver(), nullptr);
    EXPECT_FALSE(dev.OpenByDescription("FT2232H MiniModule A"));
    std::string text = capture.Text();
    EXPECT_EQ(CountLines(text), 1u) << text;
    EXPECT_NE(text.find("libm.so.6"), std::string::npos) << text;
    EXPECT_NE(text.find("FT_CreateDeviceInfoList"), std::string::npos) << text;
}

TEST_F(FT2232hTest, DriverByPathAndByNameBesideTheLibrary)
{
    setenv("USBWIRE_DRIVER", fake::LibraryPath().c_str(), 1);
    usbwire::ResetD2xxDriverForTesting();
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    dev.Close();

    // By name, found in the folder of the code that loads it, not on the loader's search path.
    setenv("USBWIRE_DRIVER", fake::kLibraryName, 1);
    usbwire::ResetD2xxDriverForTesting();
    StderrCapture capture;
    ASSERT_TRUE(dev.OpenByDescription("FT2232H MiniModule A"));
    EXPECT_EQ(capture.Text(), "");
}

TEST_F(FT2232hTest, WithoutUSBWIRE_DRIVERTheLibftdiDriverIsLoaded)
{
    unsetenv("USBWIRE_DRIVER");
    usbwire::ResetD2xxDriverForTesting();
    StderrCapture capture;
    EXPECT_NE(usbwire::GetD2xxDriver(), nullptr);
    EXPECT_FALSE(dev.OpenByDescription("QBX test: no such adapter"));
    EXPECT_EQ(capture.Text(), "");
}
