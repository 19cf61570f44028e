#include "ftdi_driver.h"

#include "platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <tuple>
#include <vector>

using namespace d2xxftdi;

namespace {

using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

// One opened channel: what it saw, and what its chip has to send.
struct FakeChannel : IFtdiChannel {
    explicit FakeChannel(int& closed) : closed(closed) {}
    ~FakeChannel() override { ++closed; }
    int Reset() override { return Record("reset"); }
    int Read(uint8_t* buffer, int size) override
    {
        if (fails)
            return -1;
        int n = std::min({size, readPiece, static_cast<int>(chip.size())});
        std::copy_n(chip.begin(), n, buffer);
        chip.erase(chip.begin(), chip.begin() + n);
        return n;
    }
    int Write(const uint8_t* buffer, int size) override
    {
        if (fails)
            return -1;
        int n = std::min(size, writeLimit);
        written.insert(written.end(), buffer, buffer + n);
        return n;
    }
    int SetReadChunkSize(unsigned size) override { return Record("readchunk", size); }
    int SetWriteChunkSize(unsigned size) override { return Record("writechunk", size); }
    int SetEventChar(uint8_t c, bool on) override { return Record("event", c, on); }
    int SetErrorChar(uint8_t c, bool on) override { return Record("error", c, on); }
    void SetUsbTimeouts(int read, int write) override { readMs = read, writeMs = write; }
    int SetLatencyTimer(uint8_t ms) override { return Record("latency", ms); }
    int SetBitMode(uint8_t mask, uint8_t mode) override { return Record("bitmode", mask, mode); }
    // "bitmode 0 2"
    int Record(std::string call, auto... values)
    {
        ((call += " " + std::to_string(values)), ...);
        calls.push_back(call);
        return 0;
    }

    int& closed;               // counts the channels closed
    std::deque<uint8_t> chip;  // bytes the chip will send
    int readPiece = 1 << 20;   // at most this many per Read
    bool fails = false;        // Read and Write fail
    int writeLimit = 1 << 30;
    Bytes written;
    Strings calls;
    int readMs = 0;
    int writeMs = 0;
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
        opens.push_back(std::to_string(device.address) + "/" + std::to_string(channel));
        if (openFails)
            return nullptr;
        auto opened = std::make_unique<FakeChannel>(closed);
        last = opened.get();
        return opened;
    }

    std::vector<UsbDevice> devices;
    int listResult = 0;
    bool openFails = false;
    Strings opens;  // "address/channel"
    FakeChannel* last = nullptr;  // the channel opened last, while it is open
    int closed = 0;
};

UsbDevice Chip(uint16_t release, std::string product, std::string serial, uint8_t address = 5)
{
    uint16_t id = release == 0x0800 ? 0x6011 : 0x6010;
    return {1, address, 0x0403, id, release, release >= 0x0700, true, std::move(product), std::move(serial)};
}

std::string Field(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

class FtdiDriverTest : public ::testing::Test {
protected:
    FtdiDriverTest() : driver(bus), installed(clock) { bus.devices = {Chip(0x0700, "FT2232H MiniModule", "FT80197L")}; }

    std::vector<FT_DEVICE_LIST_INFO_NODE> List()
    {
        DWORD count = 0;
        EXPECT_EQ(driver.CreateDeviceInfoList(&count), FT_OK);
        std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count);
        EXPECT_EQ(driver.GetDeviceInfoList(nodes.data(), &count), FT_OK);
        EXPECT_EQ(count, nodes.size());
        return nodes;
    }
    FT_STATUS Open(const char* serial, FT_HANDLE& handle, DWORD flags = FT_OPEN_BY_SERIAL_NUMBER)
    {
        return driver.OpenEx(const_cast<char*>(serial), flags, &handle);
    }
    FT_HANDLE Open(const char* serial)
    {
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(Open(serial, handle), FT_OK);
        return handle;
    }
    DWORD Waiting(FT_HANDLE handle)
    {
        DWORD waiting = 99;
        EXPECT_EQ(driver.GetQueueStatus(handle, &waiting), FT_OK);
        return waiting;
    }
    Bytes Read(FT_HANDLE handle, DWORD count)
    {
        Bytes bytes(count);
        DWORD got = 0;
        EXPECT_EQ(driver.Read(handle, bytes.data(), count, &got), FT_OK);
        bytes.resize(got);
        return bytes;
    }

    FakeBus bus;
    CFtdiDriver driver;
    platform::FakeClock clock;
    platform::ScopedClock installed;
};

}  // namespace

// ---- records ---------------------------------------------------------------------------------------

TEST(FtdiRecords, OneRecordPerChannelNamedAndCutAsTheVendorDriverDoes)
{
    UsbDevice busy = Chip(0x0700, "Busy", "B1");
    busy.stringsRead = false;
    std::vector<ChannelRecord> records =
        FormRecords({Chip(0x0700, "FT2232H MiniModule", "FT80197L"), Chip(0x0800, "Quad RS232-HS", "FTQ1", 6),
                     Chip(0x0900, "Single RS232-HS", "FT232H1"), Chip(0x0700, "Dual RS232-HS", ""), busy});
    using Record = std::tuple<ULONG, int, std::string, std::string>;  // type, channel, description, serial
    std::vector<Record> got;
    for (const ChannelRecord& r : records)
        got.emplace_back(r.type, r.channel, r.description, r.serial);
    EXPECT_EQ(got, (std::vector<Record>{
                       {FT_DEVICE_2232H, 0, "FT2232H MiniModule A", "FT80197LA"},
                       {FT_DEVICE_2232H, 1, "FT2232H MiniModule B", "FT80197LB"},
                       {FT_DEVICE_4232H, 0, "Quad RS232-HS A", "FTQ1A"}, {FT_DEVICE_4232H, 1, "Quad RS232-HS B", "FTQ1B"},
                       {FT_DEVICE_4232H, 2, "Quad RS232-HS C", "FTQ1C"}, {FT_DEVICE_4232H, 3, "Quad RS232-HS D", "FTQ1D"},
                       {FT_DEVICE_232H, 0, "Single RS232-HS", "FT232H1"}, {FT_DEVICE_2232H, 0, "Dual RS232-HS A", "A"},
                       {FT_DEVICE_2232H, 1, "Dual RS232-HS B", "B"},
                       {FT_DEVICE_2232H, 0, "", ""}, {FT_DEVICE_2232H, 1, "", ""},  // busy: no strings
                   }));
    EXPECT_EQ(records[0].id, 0x04036010u);
    EXPECT_EQ(records[2].id, 0x04036011u);
    EXPECT_NE(records[0].location, records[1].location);
    EXPECT_EQ(ToNode(records[9], nullptr).Flags, ULONG{FT_FLAGS_OPENED | FT_FLAGS_HISPEED});

    records = FormRecords({Chip(0x0700, std::string(70, 'P'), "ABCDEFGHIJKLMNO")});
    FT_DEVICE_LIST_INFO_NODE node = ToNode(records[1], nullptr);
    // A 16-character serial number fills the field without a NUL; the description keeps its NUL.
    EXPECT_EQ(std::string(node.SerialNumber, 16), "ABCDEFGHIJKLMNOB");
    EXPECT_EQ(Field(node.Description, 64), std::string(63, 'P'));
    EXPECT_EQ(node.Flags, ULONG{FT_FLAGS_HISPEED});
    EXPECT_EQ(node.Type, ULONG{FT_DEVICE_2232H});
}

// ---- list and open ------------------------------------------------------------------------------

TEST_F(FtdiDriverTest, ListAndOpenBySerialDescriptionOrLocation)
{
    bus.devices.insert(bus.devices.begin(), Chip(0x0700, "Other", "X1", 3));
    FT_HANDLE b = Open("FT80197LB");
    FT_HANDLE a = Open("FT80197LA");
    EXPECT_NE(a, b);
    EXPECT_EQ(driver.OpenCount(), 2u);
    // The list now shows both channels opened, with their handles.
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes = List();
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(nodes[0].Flags & FT_FLAGS_OPENED, 0u);
    EXPECT_EQ(nodes[2].Flags & FT_FLAGS_OPENED, ULONG{FT_FLAGS_OPENED});
    EXPECT_EQ(nodes[2].ftHandle, a);
    EXPECT_EQ(nodes[3].ftHandle, b);
    EXPECT_EQ(Field(nodes[3].SerialNumber, 16), "FT80197LB");
    FT_DEVICE_LIST_INFO_NODE one[1] = {};
    DWORD count = 1;  // only the given count is filled; the whole list's length comes back
    EXPECT_EQ(driver.GetDeviceInfoList(one, &count), FT_OK);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(Field(one[0].SerialNumber, 16), "X1A");
    ASSERT_EQ(driver.Close(a) | driver.Close(b), FT_OK);

    bus.devices = {Chip(0x0700, "FT2232H MiniModule", "ABCDEFGHIJKLMNOP")};  // 16 + letter
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(Open("FT2232H MiniModule B", handle, FT_OPEN_BY_DESCRIPTION), FT_OK);
    EXPECT_EQ(driver.Close(handle), FT_OK);
    auto location = reinterpret_cast<const char*>(static_cast<uintptr_t>(List()[1].LocId));
    ASSERT_EQ(Open(location, handle, FT_OPEN_BY_LOCATION), FT_OK);
    EXPECT_EQ(driver.Close(handle), FT_OK);
    // The record's field holds only the first 16 characters; they open channel A.
    ASSERT_EQ(Open("ABCDEFGHIJKLMNOP", handle), FT_OK);
    EXPECT_EQ(bus.opens, (Strings{"5/1", "5/0", "5/1", "5/1", "5/0"}));
}

TEST_F(FtdiDriverTest, OpenFailures)
{
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(1);
    EXPECT_EQ(Open("FT80197LC", handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(Open("NOPE", handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(Open(nullptr, handle), FT_INVALID_PARAMETER);
    EXPECT_EQ(Open("FT80197LA", handle, 8), FT_INVALID_PARAMETER);
    EXPECT_EQ(driver.OpenEx(const_cast<char*>("FT80197LA"), FT_OPEN_BY_SERIAL_NUMBER, nullptr), FT_INVALID_PARAMETER);
    EXPECT_TRUE(bus.opens.empty());

    bus.openFails = true;
    EXPECT_EQ(Open("FT80197LA", handle), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(handle, nullptr);
    bus.openFails = false;
    Open("FT80197LA");
    // A channel open here cannot be opened a second time.
    EXPECT_EQ(Open("FT80197LA", handle), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(driver.OpenCount(), 1u);
    // No USB access at all: an empty list, as with no adapter attached.
    bus.listResult = -3;
    EXPECT_TRUE(List().empty());
    EXPECT_EQ(Open("FT80197LB", handle), FT_DEVICE_NOT_FOUND);
}

TEST_F(FtdiDriverTest, ClosedOrUnknownHandlesAreRejected)
{
    FT_HANDLE handle = Open("FT80197LA");
    EXPECT_EQ(driver.Close(handle), FT_OK);
    EXPECT_EQ(bus.closed, 1);
    EXPECT_EQ(driver.OpenCount(), 0u);

    DWORD count = 0;
    uint8_t byte = 0;
    for (FT_HANDLE bad : {handle, FT_HANDLE{nullptr}, reinterpret_cast<FT_HANDLE>(0x1234)}) {
        EXPECT_EQ(driver.Close(bad), FT_INVALID_HANDLE);
        EXPECT_EQ(driver.ResetDevice(bad), FT_INVALID_HANDLE);
        EXPECT_EQ(driver.GetQueueStatus(bad, &count), FT_INVALID_HANDLE);
        EXPECT_EQ(driver.Read(bad, &byte, 1, &count), FT_INVALID_HANDLE);
        EXPECT_EQ(driver.Write(bad, &byte, 1, &count), FT_INVALID_HANDLE);
        EXPECT_EQ(driver.SetUSBParameters(bad, 4096, 4096), FT_INVALID_HANDLE);
        EXPECT_EQ(driver.SetChars(bad, 0, 0, 0, 0), FT_INVALID_HANDLE);
        EXPECT_EQ(driver.SetTimeouts(bad, 0, 0), FT_INVALID_HANDLE);
        EXPECT_EQ(driver.SetLatencyTimer(bad, 16), FT_INVALID_HANDLE);
        EXPECT_EQ(driver.SetBitMode(bad, 0, 2), FT_INVALID_HANDLE);
    }
}

// ---- the receive queue ----------------------------------------------------------------------------

TEST_F(FtdiDriverTest, QueueStatusReportsWhatHasArrivedAndReadsTakeItInOrderUpToTheirTimeOut)
{
    FT_HANDLE handle = Open("FT80197LA");
    FakeChannel& usb = *bus.last;
    EXPECT_EQ(Waiting(handle), 0u);
    usb.chip = {1, 2, 3, 4, 5};
    EXPECT_EQ(Waiting(handle), 5u);
    EXPECT_EQ(Read(handle, 3), (Bytes{1, 2, 3}));
    // What is left stays queued, and newly arrived bytes are added behind it.
    usb.chip = {6};
    EXPECT_EQ(Waiting(handle), 3u);
    usb.readPiece = 1;  // a read collects bytes arriving in pieces ...
    ASSERT_EQ(driver.SetTimeouts(handle, 50, 5000), FT_OK);
    usb.chip = {7};
    uint32_t start = platform::TickCountMs();
    EXPECT_EQ(Read(handle, 6), (Bytes{4, 5, 6, 7}));  // ... and returns short at its time-out
    EXPECT_GE(platform::TickCountMs() - start, 50u);
    EXPECT_LT(platform::TickCountMs() - start, 100u);
    // Read time-out 0: the default limit of 5000 ms, never a hang.
    ASSERT_EQ(driver.SetTimeouts(handle, 0, 5000), FT_OK);
    start = platform::TickCountMs();
    EXPECT_EQ(Read(handle, 1), Bytes{});
    EXPECT_GE(platform::TickCountMs() - start, 5000u);
}

TEST_F(FtdiDriverTest, WriteReportsWhatWentOutAndUsbErrorsBecomeIoErrors)
{
    FT_HANDLE handle = Open("FT80197LB");
    uint8_t bytes[5] = {0x80, 0x03, 0x03, 0x82, 0x00};
    DWORD count = 0;
    ASSERT_EQ(driver.Write(handle, bytes, 5, &count), FT_OK);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(bus.last->written, Bytes(bytes, bytes + 5));
    bus.last->writeLimit = 2;
    ASSERT_EQ(driver.Write(handle, bytes, 5, &count), FT_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(driver.Write(handle, nullptr, 5, &count), FT_INVALID_PARAMETER);

    bus.last->fails = true;
    EXPECT_EQ(driver.GetQueueStatus(handle, &count), FT_IO_ERROR);
    EXPECT_EQ(driver.Read(handle, bytes, 1, &count), FT_IO_ERROR);
    EXPECT_EQ(driver.Write(handle, bytes, 1, &count), FT_IO_ERROR);
    EXPECT_EQ(count, 0u);
}

TEST_F(FtdiDriverTest, SettingsMapOntoTheChannelAndResetsDropQueuedBytes)
{
    FT_HANDLE handle = Open("FT80197LA");
    FakeChannel& usb = *bus.last;
    usb.chip = {1, 2, 3};
    ASSERT_EQ(Waiting(handle), 3u);
    ASSERT_EQ(driver.ResetDevice(handle), FT_OK);
    EXPECT_EQ(Waiting(handle), 0u);
    usb.chip = {4};
    ASSERT_EQ(Waiting(handle), 1u);
    ASSERT_EQ(driver.SetUSBParameters(handle, 65536, 65536), FT_OK);  // as with the vendor's driver
    EXPECT_EQ(Waiting(handle), 0u);
    for (ULONG bad : {100u, 0u, 131072u})
        EXPECT_EQ(driver.SetUSBParameters(handle, bad, 4096), FT_INVALID_PARAMETER) << bad;

    ASSERT_EQ(driver.SetChars(handle, 0, 0, 0, 0), FT_OK);
    ASSERT_EQ(driver.SetLatencyTimer(handle, 16), FT_OK);
    EXPECT_EQ(driver.SetLatencyTimer(handle, 0), FT_INVALID_PARAMETER);
    ASSERT_EQ(driver.SetBitMode(handle, 0x00, 0x00), FT_OK);
    ASSERT_EQ(driver.SetBitMode(handle, 0x00, 0x02), FT_OK);
    EXPECT_EQ(usb.calls, (Strings{"reset", "readchunk 65536", "writechunk 65536", "event 0 0", "error 0 0",
                                   "latency 16", "bitmode 0 0", "bitmode 0 2"}));
    // libusb would take 0 as "no limit": every transfer keeps one. Read transfers keep the default,
    // longer than any latency timer; FT_Read keeps the read time-out itself.
    ASSERT_EQ(driver.SetTimeouts(handle, 0, 5000), FT_OK);
    EXPECT_EQ(std::make_pair(usb.readMs, usb.writeMs), std::make_pair(5000, 5000));
    ASSERT_EQ(driver.SetTimeouts(handle, 3, 700), FT_OK);
    EXPECT_EQ(std::make_pair(usb.readMs, usb.writeMs), std::make_pair(5000, 700));
}
