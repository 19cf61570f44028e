#include "ds2450.h"

#include <gtest/gtest.h>

#include "onewire_crc.h"
#include "onewire_test_support.h"

namespace qbxsim {
namespace {

using Bytes = std::vector<uint8_t>;
using test::SlotMaster;

Bytes Complemented(uint16_t crc)
{
    return {static_cast<uint8_t>(~crc & 0xFF), static_cast<uint8_t>((~crc >> 8) & 0xFF)};
}

struct Converter : ::testing::Test {
    OneWireBus bus;
    SlotMaster master{bus};
    Ds2450 device{MakeRom(0x20, 0x0000000C1D2E, false), false,
                  {{0.44, 3.30, 0.0, 1.80}, false, false}};

    Converter()
    {
        bus.SetDevices({&device});
        bus.SetPowered(true);
    }
    // Reset, Skip ROM, the bytes, then n bytes read.
    Bytes Transfer(const Bytes& out, size_t n)
    {
        EXPECT_TRUE(master.Reset());
        master.WriteByte(kSkipRom);
        master.Write(out);
        return master.Read(n);
    }
    // Write Memory of consecutive bytes; returns everything the device sent (CRC, CRC, read-back
    // per byte).
    Bytes WriteMemory(uint8_t address, const Bytes& data)
    {
        EXPECT_TRUE(master.Reset());
        master.Write({kSkipRom, Ds2450::kWriteMemory, address, 0x00});
        Bytes replies;
        for (uint8_t b : data) {
            master.WriteByte(b);
            for (uint8_t r : master.Read(3))
                replies.push_back(r);
        }
        return replies;
    }
    Bytes Convert(uint8_t select = 0x0F, uint8_t readout = 0x00)
    {
        return Transfer({Ds2450::kConvert, select, readout}, 2);
    }
    Bytes Results() { return Bytes(device.Memory().begin(), device.Memory().begin() + 8); }
};

// ---- the worked CRC examples -------------------------------------------------------------------

TEST_F(Converter, WriteMemoryCrcPerByteAndReadBack)
{
    // 55 08 00 00 -> 6F F1; the next byte 0x01 at 0x0009 -> FE 39.
    EXPECT_EQ(WriteMemory(0x08, {0x00, 0x01}), (Bytes{0x6F, 0xF1, 0x00, 0xFE, 0x39, 0x01}));
    EXPECT_EQ(device.Memory()[0x08], 0x00);
    EXPECT_EQ(device.Memory()[0x09], 0x01);
}

TEST_F(Converter, ConvertCrcReply)
{
    EXPECT_EQ(Convert(), (Bytes{0x3A, 0x03}));
    EXPECT_EQ(master.ReadByte(), 0xFF);   // conversion done
}

TEST_F(Converter, ReadMemoryCrcOfPageZero)
{
    EXPECT_EQ(Transfer({Ds2450::kReadMemory, 0x00, 0x00}, 10),
              (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xDC, 0x25}));
}

// ---- memory ------------------------------------------------------------------------------------

TEST_F(Converter, PowerOnControlPageAndPorBit)
{
    const Bytes page1 = Transfer({Ds2450::kReadMemory, 0x08, 0x00}, 8);
    EXPECT_EQ(page1, (Bytes{0x08, 0x8C, 0x08, 0x8C, 0x08, 0x8C, 0x08, 0x8C}));
    WriteMemory(0x09, {0x0C});   // POR written 0
    EXPECT_EQ(device.Memory()[0x09], 0x0C);
    bus.SetPowered(false);
    bus.SetPowered(true);
    EXPECT_EQ(device.Memory()[0x09], 0x8C);
}

TEST_F(Converter, ReadingOnGivesWholePagesEachWithItsOwnCrc)
{
    const Bytes all = Transfer({Ds2450::kReadMemory, 0x0C, 0x00}, 4 + 2 + 3 * 10 + 1);
    Bytes head = {Ds2450::kReadMemory, 0x0C, 0x00};
    head.insert(head.end(), all.begin(), all.begin() + 4);
    EXPECT_EQ(Bytes(all.begin(), all.begin() + 4), (Bytes{0x08, 0x8C, 0x08, 0x8C}));
    EXPECT_EQ(Bytes(all.begin() + 4, all.begin() + 6), Complemented(Crc16(head)));
    for (int page = 2; page < 4; ++page) {
        const auto at = all.begin() + 6 + (page - 2) * 10;
        const Bytes data(at, at + 8);
        EXPECT_EQ(data, Bytes(device.Memory().begin() + page * 8,
                              device.Memory().begin() + page * 8 + 8));
        EXPECT_EQ(Bytes(at + 8, at + 10), Complemented(Crc16(data))) << page;
    }
    // After page 3 (the last) the line stays released.
    EXPECT_EQ(Bytes(all.begin() + 26, all.end()), Bytes(11, 0xFF));
}

TEST_F(Converter, AddressesBeyondTheMemoryAreSilent)
{
    EXPECT_EQ(Transfer({Ds2450::kReadMemory, 0x20, 0x00}, 3), Bytes(3, 0xFF));
    EXPECT_EQ(Transfer({Ds2450::kReadMemory, 0x00, 0x01}, 3), Bytes(3, 0xFF));
    EXPECT_EQ(WriteMemory(0x20, {0x12}), Bytes(3, 0xFF));
    // Writing on past 0x1F stops there.
    const Bytes replies = WriteMemory(0x1F, {0x00, 0x00});
    EXPECT_EQ(Bytes(replies.begin() + 3, replies.end()), Bytes(3, 0xFF));
}

TEST_F(Converter, AlwaysZeroBitsAndReadOnlyCalibration)
{
    Bytes replies = WriteMemory(0x08, {0xFF, 0xFF});
    EXPECT_EQ(replies[2], 0xCF);
    EXPECT_EQ(replies[5], 0xBD);
    replies = WriteMemory(0x18, {0x5A});
    EXPECT_EQ(replies[2], 0x00);   // calibration: unchanged
    replies = WriteMemory(0x1C, {0x40});
    EXPECT_EQ(replies[2], 0x40);   // the VCC flag takes a write
    replies = WriteMemory(0x10, {0x64, 0x96});
    EXPECT_EQ(replies[2], 0x64);
    EXPECT_EQ(replies[5], 0x96);
}

// ---- conversion --------------------------------------------------------------------------------

TEST_F(Converter, SixteenBitResultsAtBothRanges)
{
    WriteMemory(0x08, {0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01});   // 16 bits, 5.12 V
    Convert();
    // 0.44 V, 3.30 V, 0 V, 1.80 V of 5.12 V in 65536 steps.
    EXPECT_EQ(Results(), (Bytes{0x00, 0x16, 0x00, 0xA5, 0x00, 0x00, 0x00, 0x5A}));
    const Bytes read = Transfer({Ds2450::kReadMemory, 0x00, 0x00}, 10);
    EXPECT_EQ(Bytes(read.begin(), read.begin() + 8), Results());
    Bytes head = {Ds2450::kReadMemory, 0x00, 0x00};
    head.insert(head.end(), read.begin(), read.begin() + 8);
    EXPECT_EQ(Bytes(read.begin() + 8, read.end()), Complemented(Crc16(head)));

    WriteMemory(0x08, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});   // 2.56 V
    Convert();
    EXPECT_EQ(Results(), (Bytes{0x00, 0x2C, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xB4}));
}

TEST(Ds2450Conversion, ResolutionLeavesLowBitsZero)
{
    Ds2450 device(MakeRom(0x20, 1, false), false, {{1.001, 1.001, 1.001, 1.001}, false, false});
    OneWireBus bus;
    bus.SetDevices({&device});
    bus.SetPowered(true);
    SlotMaster master{bus};
    master.Reset();
    // A: 16 bits, B: 12 bits, C: 8 bits, D: 1 bit; all 5.12 V.
    master.Write({kSkipRom, Ds2450::kWriteMemory, 0x08, 0x00});
    for (uint8_t b : {0x00, 0x01, 0x0C, 0x01, 0x08, 0x01, 0x01, 0x01}) {
        master.WriteByte(b);
        master.Read(3);
    }
    EXPECT_EQ(device.ConversionResult(0), 0x320D);   // 12812.8 -> 12813
    EXPECT_EQ(device.ConversionResult(1), 0x3210);   // 800.8 -> 801 of 4096
    EXPECT_EQ(device.ConversionResult(2), 0x3200);   // 50.05 -> 50 of 256
    EXPECT_EQ(device.ConversionResult(3), 0x0000);   // 0.39 -> 0 of 2
}

TEST_F(Converter, ConductingOutputReadsZeroVolts)
{
    // A: OE=1 OC=0 (conducts); B: OE=1 OC=1 (off); C: OE=0 OC=1 (plain input); D: plain input.
    WriteMemory(0x08, {0x80, 0x01, 0xC0, 0x01, 0x40, 0x01, 0x00, 0x01});
    Convert();
    EXPECT_EQ(Results(), (Bytes{0x00, 0x00, 0x00, 0xA5, 0x00, 0x00, 0x00, 0x5A}));
}

TEST_F(Converter, OnlySelectedChannelsConvert)
{
    WriteMemory(0x08, {0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01});
    EXPECT_EQ(Convert(0x08, 0xFF), Complemented(Crc16(Bytes{0x3C, 0x08, 0xFF})));
    EXPECT_EQ(Results(), (Bytes{0, 0, 0, 0, 0, 0, 0x00, 0x5A}));
}

TEST_F(Converter, ResetBeforeTheCrcCancelsTheConversion)
{
    WriteMemory(0x08, {0x00, 0x01});
    EXPECT_EQ(Transfer({Ds2450::kConvert, 0x01, 0x00}, 1).size(), 1u);   // one CRC byte only
    EXPECT_EQ(Results()[1], 0x00);
    Convert(0x01);
    EXPECT_EQ(Results()[1], 0x16);
}

// ---- options and power -------------------------------------------------------------------------

TEST(Ds2450Options, JtagSwitchFollowsChannelAOutput)
{
    Ds2450 plain(MakeRom(0x20, 1, false), false, {});
    Ds2450 wired(MakeRom(0x20, 2, false), false, {{}, true, false});
    OneWireBus bus;
    bus.SetDevices({&plain, &wired});
    bus.SetPowered(true);
    SlotMaster master{bus};
    auto setChannelA = [&](uint8_t control) {
        master.Reset();
        master.Write({kSkipRom, Ds2450::kWriteMemory, 0x08, 0x00, control});
        master.Read(3);
    };
    EXPECT_FALSE(bus.JtagSwitchOn());
    setChannelA(0x80);
    EXPECT_TRUE(bus.JtagSwitchOn());
    EXPECT_FALSE(plain.JtagSwitchConducts());
    setChannelA(0xC0);
    EXPECT_FALSE(bus.JtagSwitchOn());
    setChannelA(0x80);
    bus.SetPowered(false);
    EXPECT_FALSE(bus.JtagSwitchOn());
    bus.SetPowered(true);   // power-on: output off
    EXPECT_FALSE(bus.JtagSwitchOn());
}

TEST(Ds2450Options, BadMemoryCrcSpoilsEveryCrcReply)
{
    Ds2450 device(MakeRom(0x20, 1, false), false, {{}, false, true});
    OneWireBus bus;
    bus.SetDevices({&device});
    bus.SetPowered(true);
    SlotMaster master{bus};
    master.Reset();
    master.Write({kSkipRom, Ds2450::kWriteMemory, 0x08, 0x00, 0x00});
    EXPECT_EQ(master.Read(3), (Bytes{0x90, 0x0E, 0x00}));   // 6F F1 uncomplemented
    master.Reset();
    master.Write({kSkipRom, Ds2450::kReadMemory, 0x00, 0x00});
    const Bytes read = master.Read(10);
    EXPECT_EQ(Bytes(read.begin() + 8, read.end()), (Bytes{0x23, 0xDA}));
}

TEST_F(Converter, UnpoweredConverterIsSilent)
{
    bus.SetPowered(false);
    EXPECT_FALSE(master.Reset());
    master.Write({kSkipRom, Ds2450::kReadMemory, 0x08, 0x00});
    EXPECT_EQ(master.Read(2), (Bytes{0xFF, 0xFF}));
}

}  // namespace
}  // namespace qbxsim
