// The USB model under Debian's libftdi1 and the project's libftdi driver, where the station's runs
// do not reach: D2XX settings the station never makes, the asynchronous transfers and the vendor
// requests that libftdi1 offers but the station's path never sends. This program is linked to the
// simulator's libusb-1.0.so.0, so libftdi1 and libd2xx-ftdi.so find it already loaded.
#include <dlfcn.h>
#include <ftdi.h>
#include <libusb.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "d2xx.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Every case starts the bus on the example healthy board (each case runs in its own process).
class UsbModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("QBXSIM_BOARD", (std::string(QBX_SOURCE_DIR) + "/examples/boards/healthy.json").c_str(), 1);
        ::unsetenv("QBXSIM_STATS");
        ::unsetenv("QBXSIM_TRACE");
        Dl_info info{};
        ASSERT_NE(dladdr(reinterpret_cast<void*>(&libusb_init), &info), 0);
        ASSERT_EQ(std::string(info.dli_fname).rfind(QBX_USBSIM_LIBRARY_DIR, 0), 0u)
            << "libusb comes from " << info.dli_fname << ", not from the simulator";
    }
};

Bytes Read(FT_HANDLE handle, DWORD count)
{
    Bytes bytes(count);
    DWORD got = 0;
    EXPECT_EQ(FT_Read(handle, bytes.data(), count, &got), FT_OK);
    bytes.resize(got);
    return bytes;
}

FT_STATUS Write(FT_HANDLE handle, Bytes bytes)
{
    DWORD written = 0;
    return FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written);
}

}  // namespace

TEST_F(UsbModelTest, TheLibftdiDriverKeepsD2xxSemanticsAtSettingsTheStationNeverMakes)
{
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_OpenEx(const_cast<char*>("FT2232H MiniModule B"), FT_OPEN_BY_DESCRIPTION, &handle), FT_OK);
    ASSERT_EQ(FT_SetBitMode(handle, 0, FT_BITMODE_MPSSE), FT_OK);
    // A read time-out shorter than the latency timer: polling the idle chip finds nothing (it
    // answers only when its timer runs out) instead of failing; FT_Read returns short.
    ASSERT_EQ(FT_SetTimeouts(handle, 5, 1000), FT_OK);
    DWORD queued = 99;
    EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
    EXPECT_EQ(queued, 0u);
    EXPECT_EQ(Read(handle, 2), Bytes{});
    // A reply that no send-immediate releases comes when the latency timer runs out.
    ASSERT_EQ(Write(handle, {0xAA}), FT_OK);
    EXPECT_EQ(Read(handle, 2), (Bytes{0xFA, 0xAA}));
    // FT_ResetDevice drops what the chip holds for the host; the engine goes on.
    ASSERT_EQ(Write(handle, {0xAA, 0x87}), FT_OK);
    ASSERT_EQ(FT_ResetDevice(handle), FT_OK);
    EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
    EXPECT_EQ(queued, 0u);
    ASSERT_EQ(Write(handle, {0xAB, 0x87}), FT_OK);
    EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
    EXPECT_EQ(queued, 2u);
    EXPECT_EQ(Read(handle, 2), (Bytes{0xFA, 0xAB}));
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

TEST_F(UsbModelTest, AsynchronousTransfersAndTheRequestsTheStationNeverSends)
{
    ftdi_context* ftdi = ftdi_new();
    ASSERT_NE(ftdi, nullptr);
    ASSERT_EQ(ftdi_set_interface(ftdi, INTERFACE_B), 0);
    ASSERT_EQ(ftdi_usb_open_desc(ftdi, 0x0403, 0x6010, "FT2232H MiniModule", nullptr), 0) << ftdi_get_error_string(ftdi);
    ASSERT_EQ(ftdi_set_bitmode(ftdi, 0, BITMODE_MPSSE), 0);

    // Two bad opcodes and send-immediate, written and answered through submitted transfers.
    uint8_t commands[] = {0xAA, 0xAB, 0x87};
    uint8_t reply[4] = {};
    ftdi_transfer_control* write = ftdi_write_data_submit(ftdi, commands, sizeof commands);
    ftdi_transfer_control* read = ftdi_read_data_submit(ftdi, reply, sizeof reply);
    ASSERT_NE(write, nullptr);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(ftdi_transfer_data_done(write), 3);
    EXPECT_EQ(ftdi_transfer_data_done(read), 4);
    EXPECT_EQ(Bytes(reply, reply + 4), (Bytes{0xFA, 0xAA, 0xFA, 0xAB}));
    // A read that nothing answers ends when it is cancelled.
    read = ftdi_read_data_submit(ftdi, reply, sizeof reply);
    ASSERT_NE(read, nullptr);
    timeval wait{0, 100000};
    ftdi_transfer_data_cancel(read, &wait);

    unsigned char latency = 0;
    ASSERT_EQ(ftdi_set_latency_timer(ftdi, 5), 0);
    ASSERT_EQ(ftdi_get_latency_timer(ftdi, &latency), 0);
    EXPECT_EQ(latency, 5);
    unsigned short status = 0;
    ASSERT_EQ(ftdi_poll_modem_status(ftdi, &status), 0);
    EXPECT_EQ(status, 0x6000) << "transmitter empty, no modem line active";
    // TMS high and TCK, TDI, TMS outputs: the pins read back as driven, TDO (no chain) and the
    // released GPIOL lines high.
    uint8_t pins[] = {0x80, 0x08, 0x0B};
    ASSERT_EQ(ftdi_write_data(ftdi, pins, sizeof pins), 3);
    unsigned char levels = 0;
    ASSERT_EQ(ftdi_read_pins(ftdi, &levels), 0);
    EXPECT_EQ(levels, 0xFC);
    unsigned short word = 0;
    ASSERT_EQ(ftdi_read_eeprom_location(ftdi, 2, &word), 0);
    EXPECT_EQ(word, 0x6010);
    EXPECT_EQ(ftdi_usb_close(ftdi), 0);
    ftdi_free(ftdi);
}
