#include "ftdi_driver.h"

#include "platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

using namespace d2xxftdi;

namespace {

// What one fake channel saw and what its chip has to send.
struct ChannelState {
    std::deque<uint8_t> chip;     // bytes the chip will send
    int readPiece = 1 << 20;      // at most this many per Read
    bool readFails = false;
    bool writeFails = false;
    int writeLimit = 1 << 30;
    std::vector<uint8_t> written;
    std::vector<std::string> calls;
    int readMs = 0;
    int writeMs = 0;
    bool closed = false;
};

class FakeChannel : public IFtdiChannel {
public:
    explicit FakeChannel(std::shared_ptr<ChannelState> state) : m_State(std::move(state)) {}
    ~FakeChannel() override { m_State->closed = true; }
    int Reset() override
    {
        m_State->calls.push_back("reset");
        return 0;
    }
    int Read(uint8_t* buffer, int size) override
    {
        if (m_State->readFails)
            return -1;
        int n = std::min({size, m_State->readPiece, static_cast<int>(m_State->chip.size())});
        for (int i = 0; i < n; ++i) {
            buffer[i] = m_State->chip.front();
            m_State->chip.pop_front();
        }
        return n;
    }
    int Write(const uint8_t* buffer, int size) override
    {
        if (m_State->writeFails)
            return -1;
        int n = std::min(size, m_State->writeLimit);
        m_State->written.insert(m_State->written.end(), buffer, buffer + n);
        return n;
    }
    int SetReadChunkSize(unsigned size) override { return Record("readchunk " + std::to_string(size)); }
    int SetWriteChunkSize(unsigned size) override { return Record("writechunk " + std::to_string(size)); }
    int SetEventChar(uint8_t c, bool on) override { return Record("event " + std::to_string(c) + " " + std::to_string(on)); }
    int SetErrorChar(uint8_t c, bool on) override { return Record("error " + std::to_string(c) + " " + std::to_string(on)); }
    void SetUsbTimeouts(int readMs, int writeMs) override
    {
        m_State->readMs = readMs;
        m_State->writeMs = writeMs;
    }
    int SetLatencyTimer(uint8_t ms) override { return Record("latency " + std::to_string(ms)); }
    int SetBitMode(uint8_t mask, uint8_t mode) override
    {
        return Record("bitmode " + std::to_string(mask) + " " + std::to_string(mode));
    }

private:
    int Record(std::string call)
    {
        m_State->calls.push_back(std::move(call));
        return 0;
    }
    std::shared_ptr<ChannelState> m_State;
};

class FakeBus : public IFtdiBus {
public:
    int List(std::vector<UsbDevice>& out) override
    {
        out = devices;
        return listResult < 0 ? listResult : static_cast<int>(devices.size());
    }
    std::unique_ptr<IFtdiChannel> Open(const UsbDevice& device, int channel) override
    {
        opens.push_back(std::to_string(device.bus) + ":" + std::to_string(device.address) + "/" +
                        std::to_string(channel));
        if (openFails)
            return nullptr;
        last = std::make_shared<ChannelState>();
        return std::make_unique<FakeChannel>(last);
    }

    std::vector<UsbDevice> devices;
    int listResult = 0;
    bool openFails = false;
    std::vector<std::string> opens;
    std::shared_ptr<ChannelState> last;
};

UsbDevice Chip(uint16_t release, std::string product, std::string serial, uint8_t address = 5)
{
    UsbDevice device;
    device.bus = 1;
    device.address = address;
    device.vendor = 0x0403;
    device.product = release == 0x0800 ? 0x6011 : release == 0x0900 ? 0x6014 : 0x6010;
    device.release = release;
    device.highSpeed = release >= 0x0700;
    device.stringsRead = true;
    device.description = std::move(product);
    device.serial = std::move(serial);
    return device;
}

std::string Field(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

class FtdiDriverTest : public ::testing::Test {
protected:
    FtdiDriverTest() : driver(bus), installed(clock) {}

    std::vector<FT_DEVICE_LIST_INFO_NODE> List()
    {
        DWORD count = 0;
        EXPECT_EQ(driver.CreateDeviceInfoList(&count), FT_OK);
        std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count);
        DWORD filled = count;
        EXPECT_EQ(driver.GetDeviceInfoList(nodes.data(), &filled), FT_OK);
        EXPECT_EQ(filled, count);
        return nodes;
    }

    FT_HANDLE OpenSerial(const char* serial)
    {
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(driver.OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
        EXPECT_NE(handle, nullptr);
        return handle;
    }

    FakeBus bus;
    CFtdiDriver driver;
    platform::FakeClock clock;
    platform::ScopedClock installed;
};

}  // namespace

// ---- records ---------------------------------------------------------------------------------------

TEST(FtdiRecords, OneRecordPerChannelNamedAsTheVendorDriverNamesThem)
{
    std::vector<ChannelRecord> records = FormRecords(
        {Chip(0x0700, "FT2232H MiniModule", "FT80197L"), Chip(0x0800, "Quad RS232-HS", "FTQ1", 6)});
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].description, "FT2232H MiniModule A");
    EXPECT_EQ(records[0].serial, "FT80197LA");
    EXPECT_EQ(records[1].description, "FT2232H MiniModule B");
    EXPECT_EQ(records[1].serial, "FT80197LB");
    EXPECT_EQ(records[0].type, ULONG{FT_DEVICE_2232H});
    EXPECT_EQ(records[1].type, ULONG{FT_DEVICE_2232H});
    EXPECT_EQ(records[0].id, 0x04036010u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(records[2 + i].type, ULONG{FT_DEVICE_4232H});
        EXPECT_EQ(records[2 + i].description, std::string("Quad RS232-HS ") + static_cast<char>('A' + i));
        EXPECT_EQ(records[2 + i].serial, std::string("FTQ1") + static_cast<char>('A' + i));
        EXPECT_EQ(records[2 + i].channel, i);
        EXPECT_EQ(records[2 + i].id, 0x04036011u);
    }
    EXPECT_NE(records[0].location, records[1].location);
}

TEST(FtdiRecords, SingleChannelAndOtherChipsKeepTheirOwnTypeAndNames)
{
    std::vector<ChannelRecord> records =
        FormRecords({Chip(0x0900, "Single RS232-HS", "FT232H1"), Chip(0x0500, "Dual RS232", "OLD"),
                     Chip(0x1234, "Mystery", "M1")});
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].type, ULONG{FT_DEVICE_232H});
    EXPECT_EQ(records[0].description, "Single RS232-HS");
    EXPECT_EQ(records[0].serial, "FT232H1");
    EXPECT_EQ(records[1].type, ULONG{FT_DEVICE_2232C});
    EXPECT_EQ(records[2].serial, "OLDB");
    EXPECT_EQ(records[3].type, ULONG{FT_DEVICE_UNKNOWN});
}

TEST(FtdiRecords, ChipWithoutSerialNumberGivesJustTheChannelLetter)
{
    std::vector<ChannelRecord> records = FormRecords({Chip(0x0700, "Dual RS232-HS", "")});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].serial, "A");
    EXPECT_EQ(records[1].serial, "B");
    EXPECT_EQ(records[0].description, "Dual RS232-HS A");
}

TEST(FtdiRecords, BusyChipIsListedOpenedWithoutStrings)
{
    UsbDevice chip = Chip(0x0700, "FT2232H MiniModule", "FT80197L");
    chip.stringsRead = false;
    std::vector<ChannelRecord> records = FormRecords({chip});
    ASSERT_EQ(records.size(), 2u);
    FT_DEVICE_LIST_INFO_NODE node = ToNode(records[0], nullptr);
    EXPECT_EQ(node.Flags, ULONG{FT_FLAGS_OPENED | FT_FLAGS_HISPEED});
    EXPECT_EQ(node.Type, ULONG{FT_DEVICE_2232H});
    EXPECT_EQ(Field(node.Description, 64), "");
    EXPECT_EQ(Field(node.SerialNumber, 16), "");
}

TEST(FtdiRecords, NodeFieldsAreCutLikeTheVendorDriver)
{
    std::vector<ChannelRecord> records =
        FormRecords({Chip(0x0700, std::string(70, 'P'), "ABCDEFGHIJKLMNO")});  // 15 + letter = 16
    FT_DEVICE_LIST_INFO_NODE node = ToNode(records[1], nullptr);
    // A 16-character serial number fills the field without a NUL.
    EXPECT_EQ(std::string(node.SerialNumber, 16), "ABCDEFGHIJKLMNOB");
    // The description keeps its NUL: 63 characters at most.
    EXPECT_EQ(Field(node.Description, 64), std::string(63, 'P'));
    EXPECT_EQ(node.Flags, ULONG{FT_FLAGS_HISPEED});
    EXPECT_EQ(node.ftHandle, nullptr);
}

TEST(FtdiRecords, ChannelSerialSplitsIntoChipSerialAndChannel)
{
    std::string chip;
    int channel = -1;
    ASSERT_TRUE(ParseChannelSerial("FT80197LA", chip, channel));
    EXPECT_EQ(chip, "FT80197L");
    EXPECT_EQ(channel, 0);
    ASSERT_TRUE(ParseChannelSerial("FTQ1D", chip, channel));
    EXPECT_EQ(chip, "FTQ1");
    EXPECT_EQ(channel, 3);
    ASSERT_TRUE(ParseChannelSerial("B", chip, channel));
    EXPECT_EQ(chip, "");
    EXPECT_EQ(channel, 1);
    EXPECT_FALSE(ParseChannelSerial("", chip, channel));
    EXPECT_FALSE(ParseChannelSerial("FT80197E", chip, channel));
    EXPECT_FALSE(ParseChannelSerial("ft80197la", chip, channel));
}

// ---- list and open ------------------------------------------------------------------------------

TEST_F(FtdiDriverTest, ListReportsEveryChannelAndFillsOnlyTheGivenCount)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes = List();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(Field(nodes[0].Description, 64), "FT2232H MiniModule A");
    EXPECT_EQ(Field(nodes[1].SerialNumber, 16), "FT80197LB");

    FT_DEVICE_LIST_INFO_NODE one[1] = {};
    DWORD count = 1;
    EXPECT_EQ(driver.GetDeviceInfoList(one, &count), FT_OK);
    EXPECT_EQ(count, 2u);  // the whole list's length
    EXPECT_EQ(Field(one[0].SerialNumber, 16), "FT80197LA");
}

TEST_F(FtdiDriverTest, NoUsbAccessGivesAnEmptyList)
{
    bus.listResult = -3;
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    EXPECT_TRUE(List().empty());
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(driver.OpenEx(const_cast<char*>("FT80197LA"), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
}

TEST_F(FtdiDriverTest, OpenBySerialPicksTheChannelOfTheLetter)
{
    bus.devices = {Chip(0x0700, "Other", "X1", 3), Chip(0x0700, "FT2232H MiniModule", "FT80197L", 7)};
    FT_HANDLE b = OpenSerial("FT80197LB");
    ASSERT_EQ(bus.opens.size(), 1u);
    EXPECT_EQ(bus.opens[0], "1:7/1");
    FT_HANDLE a = OpenSerial("FT80197LA");
    EXPECT_EQ(bus.opens[1], "1:7/0");
    EXPECT_NE(a, b);
    EXPECT_EQ(driver.OpenCount(), 2u);

    // The list now shows both channels opened, with their handles.
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes = List();
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(nodes[0].Flags & FT_FLAGS_OPENED, 0u);
    EXPECT_EQ(nodes[2].Flags & FT_FLAGS_OPENED, ULONG{FT_FLAGS_OPENED});
    EXPECT_EQ(nodes[2].ftHandle, a);
    EXPECT_EQ(nodes[3].ftHandle, b);
}

TEST_F(FtdiDriverTest, OpenByDescriptionLocationAndSixteenCharacterSerial)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "ABCDEFGHIJKLMNOP")};  // 16 + letter
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(driver.OpenEx(const_cast<char*>("FT2232H MiniModule B"), FT_OPEN_BY_DESCRIPTION, &handle), FT_OK);
    EXPECT_EQ(bus.opens.back(), "1:5/1");
    EXPECT_EQ(driver.Close(handle), FT_OK);

    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes = List();
    ASSERT_EQ(nodes.size(), 2u);
    ASSERT_EQ(driver.OpenEx(reinterpret_cast<PVOID>(static_cast<uintptr_t>(nodes[1].LocId)), FT_OPEN_BY_LOCATION,
                            &handle),
              FT_OK);
    EXPECT_EQ(bus.opens.back(), "1:5/1");
    EXPECT_EQ(driver.Close(handle), FT_OK);

    // The record's field holds only the first 16 characters; they open channel A.
    ASSERT_EQ(driver.OpenEx(const_cast<char*>("ABCDEFGHIJKLMNOP"), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
    EXPECT_EQ(bus.opens.back(), "1:5/0");
}

TEST_F(FtdiDriverTest, OpenFailures)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(1);
    EXPECT_EQ(driver.OpenEx(const_cast<char*>("FT80197LC"), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(driver.OpenEx(const_cast<char*>("NOPE"), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(driver.OpenEx(nullptr, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_INVALID_PARAMETER);
    EXPECT_EQ(driver.OpenEx(const_cast<char*>("FT80197LA"), 8, &handle), FT_INVALID_PARAMETER);
    EXPECT_EQ(driver.OpenEx(const_cast<char*>("FT80197LA"), FT_OPEN_BY_SERIAL_NUMBER, nullptr), FT_INVALID_PARAMETER);
    EXPECT_TRUE(bus.opens.empty());

    bus.openFails = true;
    EXPECT_EQ(driver.OpenEx(const_cast<char*>("FT80197LA"), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(handle, nullptr);
    bus.openFails = false;
    OpenSerial("FT80197LA");
    // A channel open here cannot be opened a second time.
    EXPECT_EQ(driver.OpenEx(const_cast<char*>("FT80197LA"), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(driver.OpenCount(), 1u);
}

TEST_F(FtdiDriverTest, ClosedOrUnknownHandlesAreRejected)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    FT_HANDLE handle = OpenSerial("FT80197LA");
    std::shared_ptr<ChannelState> state = bus.last;
    EXPECT_EQ(driver.Close(handle), FT_OK);
    EXPECT_TRUE(state->closed);
    EXPECT_EQ(driver.OpenCount(), 0u);

    DWORD count = 0;
    uint8_t byte = 0;
    EXPECT_EQ(driver.Close(handle), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.ResetDevice(handle), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.GetQueueStatus(handle, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.Read(handle, &byte, 1, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.Write(handle, &byte, 1, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.SetUSBParameters(handle, 4096, 4096), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.SetChars(handle, 0, 0, 0, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.SetTimeouts(handle, 0, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.SetLatencyTimer(handle, 16), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.SetBitMode(handle, 0, 2), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.GetQueueStatus(nullptr, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(driver.GetQueueStatus(reinterpret_cast<FT_HANDLE>(0x1234), &count), FT_INVALID_HANDLE);
}

// ---- the receive queue ----------------------------------------------------------------------------

TEST_F(FtdiDriverTest, QueueStatusReportsWhatHasArrived)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    FT_HANDLE handle = OpenSerial("FT80197LA");
    ChannelState& chip = *bus.last;
    DWORD waiting = 99;
    ASSERT_EQ(driver.GetQueueStatus(handle, &waiting), FT_OK);
    EXPECT_EQ(waiting, 0u);

    chip.chip = {1, 2, 3, 4, 5};
    ASSERT_EQ(driver.GetQueueStatus(handle, &waiting), FT_OK);
    EXPECT_EQ(waiting, 5u);
    uint8_t buffer[8] = {};
    DWORD got = 0;
    ASSERT_EQ(driver.Read(handle, buffer, 3, &got), FT_OK);
    ASSERT_EQ(got, 3u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[2], 3);
    // What is left stays queued, and newly arrived bytes are added behind it.
    chip.chip = {6};
    ASSERT_EQ(driver.GetQueueStatus(handle, &waiting), FT_OK);
    EXPECT_EQ(waiting, 3u);
    ASSERT_EQ(driver.Read(handle, buffer, 3, &got), FT_OK);
    ASSERT_EQ(got, 3u);
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(buffer[1], 5);
    EXPECT_EQ(buffer[2], 6);
}

TEST_F(FtdiDriverTest, ReadCollectsBytesArrivingInPieces)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    FT_HANDLE handle = OpenSerial("FT80197LA");
    bus.last->readPiece = 2;
    bus.last->chip = {10, 11, 12, 13, 14, 15, 16};
    uint8_t buffer[7] = {};
    DWORD got = 0;
    ASSERT_EQ(driver.Read(handle, buffer, 7, &got), FT_OK);
    ASSERT_EQ(got, 7u);
    EXPECT_EQ(buffer[6], 16);
}

TEST_F(FtdiDriverTest, ReadReturnsShortAtItsTimeOut)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    FT_HANDLE handle = OpenSerial("FT80197LA");
    bus.last->chip = {1, 2};
    ASSERT_EQ(driver.SetTimeouts(handle, 50, 5000), FT_OK);
    uint8_t buffer[4] = {};
    DWORD got = 0;
    uint32_t start = platform::TickCountMs();
    ASSERT_EQ(driver.Read(handle, buffer, 4, &got), FT_OK);
    EXPECT_EQ(got, 2u);
    EXPECT_GE(platform::TickCountMs() - start, 50u);
    EXPECT_LT(platform::TickCountMs() - start, 5000u);

    // Read time-out 0: the default limit of 5000 ms, never a hang.
    ASSERT_EQ(driver.SetTimeouts(handle, 0, 5000), FT_OK);
    start = platform::TickCountMs();
    ASSERT_EQ(driver.Read(handle, buffer, 1, &got), FT_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(platform::TickCountMs() - start, 5000u);
}

TEST_F(FtdiDriverTest, UsbErrorsBecomeIoErrors)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    FT_HANDLE handle = OpenSerial("FT80197LA");
    bus.last->readFails = true;
    bus.last->writeFails = true;
    DWORD count = 0;
    uint8_t byte = 0x55;
    EXPECT_EQ(driver.GetQueueStatus(handle, &count), FT_IO_ERROR);
    EXPECT_EQ(driver.Read(handle, &byte, 1, &count), FT_IO_ERROR);
    EXPECT_EQ(driver.Write(handle, &byte, 1, &count), FT_IO_ERROR);
    EXPECT_EQ(count, 0u);
}

TEST_F(FtdiDriverTest, WriteReportsWhatWentOut)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    FT_HANDLE handle = OpenSerial("FT80197LB");
    uint8_t bytes[5] = {0x80, 0x03, 0x03, 0x82, 0x00};
    DWORD written = 0;
    ASSERT_EQ(driver.Write(handle, bytes, 5, &written), FT_OK);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(bus.last->written, std::vector<uint8_t>(bytes, bytes + 5));
    bus.last->writeLimit = 2;
    ASSERT_EQ(driver.Write(handle, bytes, 5, &written), FT_OK);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(driver.Write(handle, nullptr, 5, &written), FT_INVALID_PARAMETER);
}

TEST_F(FtdiDriverTest, ResetAndUsbParametersDropQueuedBytes)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    FT_HANDLE handle = OpenSerial("FT80197LA");
    ChannelState& chip = *bus.last;
    DWORD waiting = 0;
    chip.chip = {1, 2, 3};
    ASSERT_EQ(driver.GetQueueStatus(handle, &waiting), FT_OK);
    ASSERT_EQ(waiting, 3u);
    ASSERT_EQ(driver.ResetDevice(handle), FT_OK);
    EXPECT_EQ(chip.calls.back(), "reset");
    ASSERT_EQ(driver.GetQueueStatus(handle, &waiting), FT_OK);
    EXPECT_EQ(waiting, 0u);

    chip.chip = {4};
    ASSERT_EQ(driver.GetQueueStatus(handle, &waiting), FT_OK);
    ASSERT_EQ(waiting, 1u);
    ASSERT_EQ(driver.SetUSBParameters(handle, 65536, 65536), FT_OK);
    ASSERT_EQ(driver.GetQueueStatus(handle, &waiting), FT_OK);
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(chip.calls[chip.calls.size() - 2], "readchunk 65536");
    EXPECT_EQ(chip.calls.back(), "writechunk 65536");
    EXPECT_EQ(driver.SetUSBParameters(handle, 100, 4096), FT_INVALID_PARAMETER);
    EXPECT_EQ(driver.SetUSBParameters(handle, 0, 4096), FT_INVALID_PARAMETER);
    EXPECT_EQ(driver.SetUSBParameters(handle, 131072, 4096), FT_INVALID_PARAMETER);
}

TEST_F(FtdiDriverTest, SettingsMapOntoTheChannel)
{
    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")};
    FT_HANDLE handle = OpenSerial("FT80197LA");
    ChannelState& chip = *bus.last;
    ASSERT_EQ(driver.SetChars(handle, 0, 0, 0, 0), FT_OK);
    ASSERT_EQ(driver.SetLatencyTimer(handle, 16), FT_OK);
    ASSERT_EQ(driver.SetBitMode(handle, 0x00, 0x00), FT_OK);
    ASSERT_EQ(driver.SetBitMode(handle, 0x00, 0x02), FT_OK);
    ASSERT_EQ(driver.SetTimeouts(handle, 0, 5000), FT_OK);
    std::vector<std::string> expected = {"event 0 0", "error 0 0", "latency 16", "bitmode 0 0", "bitmode 0 2"};
    EXPECT_EQ(chip.calls, expected);
    // libusb would take 0 as "no limit": every transfer keeps one.
    EXPECT_EQ(chip.readMs, 5000);
    EXPECT_EQ(chip.writeMs, 5000);
    ASSERT_EQ(driver.SetTimeouts(handle, 300, 700), FT_OK);
    EXPECT_EQ(chip.readMs, 300);
    EXPECT_EQ(chip.writeMs, 700);
    EXPECT_EQ(driver.SetLatencyTimer(handle, 0), FT_INVALID_PARAMETER);
}
