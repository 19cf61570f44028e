#include "ds2450.h"

#include <gtest/gtest.h>

#include "onewire_crc.h"
#include "onewire_test_support.h"

namespace qbxsim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Complemented(uint16_t crc)
{
    return {static_cast<uint8_t>(~crc & 0xFF), static_cast<uint8_t>((~crc >> 8) & 0xFF)};
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

struct Converter : ::testing::Test {
    OneWireBus bus;
    test::SlotMaster master{bus};
    Ds2450 device{MakeRom(0x20, 0x0000000C1D2E, false), {{0.44, 3.30, 0.0, 1.80}, false, false}};

    Converter()
    {
        bus.SetDevices({&device});
        bus.SetPowered(true);
    }
    // Reset, Skip ROM, the bytes, then n bytes read.
    Bytes Transfer(Bytes out, size_t n)
    {
        out.insert(out.begin(), kSkipRom);
        return master.Transfer(out, n);
    }
    // Write Memory of consecutive bytes; returns what the device sent (CRC, CRC, read-back per byte).
    Bytes WriteMemory(uint8_t address, const Bytes& data)
    {
        Bytes replies = Transfer({Ds2450::kWriteMemory, address, 0x00}, 0);
        for (uint8_t b : data) {
            master.Write({b});
            for (uint8_t r : master.Read(3))
                replies.push_back(r);
        }
        return replies;
    }
    Bytes Convert(uint8_t select = 0x0F, uint8_t readout = 0x00) { return Transfer({Ds2450::kConvert, select, readout}, 2); }
    Bytes Results() { return Bytes(device.Memory().begin(), device.Memory().begin() + 8); }
    void PowerCycle()
    {
        bus.SetPowered(false);
        bus.SetPowered(true);
    }
};

TEST_F(Converter, WorkedCrcExamples)
{
    // 55 08 00 00 -> 6F F1 and the read-back; the next byte 0x01 at 0x0009 -> FE 39.
    EXPECT_EQ(WriteMemory(0x08, {0x00, 0x01}), (Bytes{0x6F, 0xF1, 0x00, 0xFE, 0x39, 0x01}));
    EXPECT_EQ(Convert(), (Bytes{0x3A, 0x03}));
    EXPECT_EQ(master.ReadByte(), 0xFF) << "conversion done";
    PowerCycle();
    EXPECT_EQ(Transfer({Ds2450::kReadMemory, 0x00, 0x00}, 10), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xDC, 0x25}));
}

TEST_F(Converter, MemoryPagesAndLimits)
{
    const Bytes page = Transfer({Ds2450::kReadMemory, 0x0C, 0x00}, 4 + 2 + 3);
    EXPECT_EQ(Slice(page, 0, 4), (Bytes{0x08, 0x8C, 0x08, 0x8C})) << "power-on control and status bytes";
    EXPECT_EQ(Slice(page, 4, 6), Complemented(Crc16(Bytes{Ds2450::kReadMemory, 0x0C, 0x00, 0x08, 0x8C, 0x08, 0x8C})))
        << "the CRC covers the command and the address";
    EXPECT_EQ(Slice(page, 6, 9), Bytes(3, 0xFF)) << "one page per command";
    for (const Bytes& outside : {Bytes{Ds2450::kReadMemory, 0x10, 0x00}, Bytes{Ds2450::kReadMemory, 0x00, 0x01},
                                 Bytes{Ds2450::kWriteMemory, 0x10, 0x00, 0x12}})
        EXPECT_EQ(Transfer(outside, 3), Bytes(3, 0xFF)) << "pages 2 and 3 are not modelled";
    EXPECT_EQ(Slice(WriteMemory(0x0F, {0x00, 0x00}), 3, 6), Bytes(3, 0xFF)) << "writing stops at 0x0F";

    const Bytes replies = WriteMemory(0x08, {0xFF, 0xFF});
    EXPECT_EQ((Bytes{replies[2], replies[5]}), (Bytes{0xCF, 0xBD})) << "bits that always read 0";
    WriteMemory(0x09, {0x0C});   // POR written 0
    EXPECT_EQ(device.Memory()[0x09], 0x0C);
    PowerCycle();
    EXPECT_EQ(device.Memory()[0x09], 0x8C) << "power-on sets POR again";
}

TEST_F(Converter, Conversions)
{
    WriteMemory(0x08, {0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01});   // 16 bits, 5.12 V
    Convert();
    // 0.44 V, 3.30 V, 0 V, 1.80 V of 5.12 V in 65536 steps.
    EXPECT_EQ(Results(), (Bytes{0x00, 0x16, 0x00, 0xA5, 0x00, 0x00, 0x00, 0x5A}));
    Bytes head = Results();
    head.insert(head.begin(), {Ds2450::kReadMemory, 0x00, 0x00});
    EXPECT_EQ(Slice(Transfer({Ds2450::kReadMemory, 0x00, 0x00}, 10), 8, 10), Complemented(Crc16(head)));
    WriteMemory(0x08, Bytes(8, 0x00));   // 2.56 V: 3.30 V is beyond full scale
    Convert();
    EXPECT_EQ(Results(), (Bytes{0x00, 0x2C, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xB4}));

    // A: OE=1 OC=0 (conducts: 0 V); B: OE=1 OC=1 (off); C: OE=0 OC=1; D: plain input.
    WriteMemory(0x08, {0x80, 0x01, 0xC0, 0x01, 0x40, 0x01, 0x00, 0x01});
    Convert();
    EXPECT_EQ(Results(), (Bytes{0x00, 0x00, 0x00, 0xA5, 0x00, 0x00, 0x00, 0x5A}));

    PowerCycle();   // results back to 0
    WriteMemory(0x08, {0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01});
    EXPECT_EQ(Transfer({Ds2450::kConvert, 0x0F, 0x00}, 1).size(), 1u);   // a reset before the CRC's end
    EXPECT_EQ(Results(), Bytes(8, 0)) << "cancels the conversion";
    EXPECT_EQ(Convert(0x08, 0xFF), Complemented(Crc16(Bytes{0x3C, 0x08, 0xFF})));
    EXPECT_EQ(Results(), (Bytes{0, 0, 0, 0, 0, 0, 0x00, 0x5A})) << "only the selected channel D";

    Ds2450 fine(MakeRom(0x20, 1, false), {{1.001, 1.001, 1.001, 1.001}, false, false});
    bus.SetDevices({&fine});
    // A: 16 bits, B: 12 bits, C: 8 bits, D: 1 bit; all 5.12 V.
    WriteMemory(0x08, {0x00, 0x01, 0x0C, 0x01, 0x08, 0x01, 0x01, 0x01});
    EXPECT_EQ(fine.ConversionResult(0), 0x320D);   // 12812.8 -> 12813
    EXPECT_EQ(fine.ConversionResult(1), 0x3210);   // 800.8 -> 801 of 4096, low bits 0
    EXPECT_EQ(fine.ConversionResult(2), 0x3200);   // 50.05 -> 50 of 256
    EXPECT_EQ(fine.ConversionResult(3), 0x0000);   // 0.39 -> 0 of 2
}

// The JTAG switch: channel A's output of the marked converter conducting (OE = 1, OC = 0) while
// the board is powered. A bad_memory_crc converter sends its CRC-16 replies uncomplemented.
TEST_F(Converter, JtagSwitchAndBadCrc)
{
    Ds2450 wired(MakeRom(0x20, 2, false), {{}, true, false});
    bus.SetDevices({&device, &wired});
    auto setChannelA = [&](uint8_t control) { WriteMemory(0x08, {control}); };
    EXPECT_FALSE(bus.JtagSwitchOn());
    setChannelA(0x80);
    EXPECT_TRUE(bus.JtagSwitchOn());
    EXPECT_FALSE(device.JtagSwitchConducts()) << "not the marked converter";
    setChannelA(0xC0);
    EXPECT_FALSE(bus.JtagSwitchOn());
    setChannelA(0x80);
    bus.SetPowered(false);
    EXPECT_FALSE(bus.JtagSwitchOn());
    EXPECT_TRUE(Transfer({Ds2450::kReadMemory, 0x08, 0x00}, 2).empty()) << "unpowered: no presence";
    EXPECT_EQ(master.Read(2), (Bytes{0xFF, 0xFF}));
    bus.SetPowered(true);
    EXPECT_FALSE(bus.JtagSwitchOn()) << "power-on: output off";

    Ds2450 bad(MakeRom(0x20, 3, false), {{}, false, true});
    bus.SetDevices({&bad});
    EXPECT_EQ(WriteMemory(0x08, {0x00}), (Bytes{0x90, 0x0E, 0x00})) << "6F F1 not complemented";
    EXPECT_EQ(Slice(Transfer({Ds2450::kReadMemory, 0x00, 0x00}, 10), 8, 10), (Bytes{0x23, 0xDA}));
}

}  // namespace
}  // namespace qbxsim
