#include "usb_jtag.h"

#include "fake_fixture.h"
#include "usbwire.h"

#include <memory>
#include <random>

using usbwire::CUsbJtag;

namespace {

constexpr int kChannelB = 1;

// The bit k of an LSB-first string.
bool Bit(const std::vector<uint8_t>& bytes, size_t k) { return ((bytes[k / 8] >> (k % 8)) & 1) != 0; }

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

// The TDI, TMS and TDO levels of the logged clocks.
std::vector<bool> Tdi(const std::vector<uint8_t>& clocks)
{
    std::vector<bool> bits;
    for (uint8_t clock : clocks)
        bits.push_back((clock & 1) != 0);
    return bits;
}
std::vector<bool> Tms(const std::vector<uint8_t>& clocks)
{
    std::vector<bool> bits;
    for (uint8_t clock : clocks)
        bits.push_back((clock & 2) != 0);
    return bits;
}

class JtagTest : public FakeDriverTest {
protected:
    void Open()
    {
        ASSERT_TRUE(jtag.Open("FT2232H MiniModule B"));
        F.ClearLogs();
    }

    size_t TotalRead()
    {
        size_t total = 0;
        for (const std::string& line : fake::Calls()) {
            unsigned device, asked, got;
            if (std::sscanf(line.c_str(), "FT_Read(%u,%u->%u)", &device, &asked, &got) == 3)
                total += got;
        }
        return total;
    }

    CUsbJtag jtag;
};

}  // namespace

// ---- open, close, TMS and address -----------------------------------------------------------------

TEST_F(JtagTest, OpenSetsUpTheChannelAt1MHz)
{
    ASSERT_TRUE(jtag.Open("FT2232H MiniModule B"));
    EXPECT_EQ(fake::Written(kChannelB), SetupBytes(0x00, 0xFB, 29));
    EXPECT_TRUE(fake::Written(0).empty());
    EXPECT_EQ(jtag.PinValue(), 0x00);
    EXPECT_EQ(jtag.PinDirection(), 0xFB);
    EXPECT_EQ(F.Divisor(kChannelB), 29u);
}

TEST_F(JtagTest, CloseReleasesEveryPinWaitsAndCloses)
{
    void* handle = JTAG_Open("FT2232H MiniModule B");
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(JTAG_Addr(handle, 0x05), 1);
    F.ClearLogs();
    uint64_t slept = clock.Slept();
    JTAG_Close(handle);
    EXPECT_EQ(fake::Written(kChannelB), (std::vector<uint8_t>{0x80, 0x50, 0x00, 0x82, 0x00, 0x00}));
    std::vector<std::string> expected = {"FT_Write(1,6->6) = 0", "FT_Close(1) = 0"};
    EXPECT_EQ(fake::Calls(), expected);
    EXPECT_EQ(clock.Slept() - slept, 100u);
}

TEST_F(JtagTest, FailedOpenWithoutDeviceNeitherWritesNorWaits)
{
    EXPECT_EQ(JTAG_Open("FT2232H MiniModule C"), nullptr);
    EXPECT_EQ(JTAG_Open(nullptr), nullptr);
    EXPECT_EQ(clock.Slept(), 0u);
    for (const std::string& line : fake::Calls())
        EXPECT_EQ(line.rfind("FT_Write", 0), std::string::npos) << line;
}

TEST_F(JtagTest, FailedSetupReleasesThePinsAndClosesTheDevice)
{
    F.SetMute(1);
    EXPECT_EQ(JTAG_Open("FT2232H MiniModule B"), nullptr);
    std::vector<std::string> calls = fake::CallsWithoutPolls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "FT_Write(1,6->6) = 0");
    EXPECT_EQ(calls.back(), "FT_Close(1) = 0");
    std::vector<uint8_t> bytes = fake::Written(kChannelB);
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 6, bytes.end()),
              (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x82, 0x00, 0x00}));
}

TEST_F(JtagTest, ClockTmsSendsOneCommandAndHoldsTdiFromBit7)
{
    Open();
    ASSERT_TRUE(jtag.ClockTms(0x1F, 5));
    ASSERT_TRUE(jtag.ClockTms(0xFF, 5));
    EXPECT_EQ(fake::Written(kChannelB), (std::vector<uint8_t>{0x4B, 0x04, 0x1F, 0x4B, 0x04, 0xFF}));
    std::vector<uint8_t> clocks = fake::Clocks(kChannelB);
    ASSERT_EQ(clocks.size(), 10u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(clocks[i], 0x02) << i;      // TMS 1, TDI 0
        EXPECT_EQ(clocks[5 + i], 0x03) << i;  // TMS 1, TDI 1
    }
    ASSERT_TRUE(jtag.ClockTms(0x02, 3));  // 0, 1, 0
    clocks = fake::Clocks(kChannelB);
    EXPECT_EQ(std::vector<uint8_t>(clocks.begin() + 10, clocks.end()), (std::vector<uint8_t>{0x00, 0x02, 0x00}));
    EXPECT_FALSE(jtag.ClockTms(0x1F, 0));  // no clock to give
    EXPECT_EQ(fake::Written(kChannelB).size(), 9u);
}

TEST_F(JtagTest, SetAddressDrivesTheLowFourBitsOntoGpiol)
{
    Open();
    ASSERT_TRUE(jtag.SetAddress(0x15));
    EXPECT_EQ(fake::Written(kChannelB), (std::vector<uint8_t>{0x80, 0x50, 0xFB}));
    EXPECT_EQ(F.LowPins(kChannelB), 0xFB50u);
}

TEST_F(JtagTest, SetAddressKeepsTheLevelsOfTmsAndTdi)
{
    Open();
    const uint8_t one[1] = {0x01};
    ASSERT_TRUE(jtag.Shift(0, 1, one, nullptr, true));  // ends with TMS and TDI high
    F.ClearLogs();
    ASSERT_TRUE(jtag.SetAddress(0x03));
    EXPECT_EQ(fake::Written(kChannelB), (std::vector<uint8_t>{0x80, 0x3A, 0xFB}));
}

// ---- Shift (JTAG_Out) -------------------------------------------------------------------------------

TEST_F(JtagTest, TwelveBitsWithExitAreGroupsOfEightThreeAndOne)
{
    Open();
    const uint8_t source[2] = {0xA5, 0x0B};
    uint8_t destination[2] = {0xEE, 0xEE};
    ASSERT_TRUE(jtag.Shift(0, 12, source, destination, true));
    std::vector<uint8_t> expected = {0x80, 0x02, 0xFB, 0x3B, 0x07, 0xA5,  // bits 0..7
                                     0x80, 0x02, 0xFB, 0x3B, 0x02, 0x0B,  // bits 8..10
                                     0x80, 0x0A, 0xFB, 0x3B, 0x00, 0x01,  // bit 11, TMS high
                                     0x87};
    EXPECT_EQ(fake::Written(kChannelB), expected);
    EXPECT_EQ(fake::WriteSizes(kChannelB), std::vector<size_t>{19});
    EXPECT_EQ(TotalRead(), 3u);
    EXPECT_EQ(destination[0], 0xA5);
    EXPECT_EQ(destination[1], 0x0B);  // bits 8..11 in bits 0..3, the rest zero
    std::vector<bool> tms = Tms(fake::Clocks(kChannelB));
    ASSERT_EQ(tms.size(), 12u);
    for (size_t i = 0; i < 11; ++i)
        EXPECT_FALSE(tms[i]) << i;
    EXPECT_TRUE(tms[11]);
}

TEST_F(JtagTest, NineBitsWithExitTakeTheExitBitFromTheNextByte)
{
    Open();
    const uint8_t source[2] = {0x3C, 0x01};
    uint8_t destination[2] = {0xFF, 0xFF};
    ASSERT_TRUE(jtag.Shift(0, 9, source, destination, true));
    std::vector<uint8_t> expected = {0x80, 0x00, 0xFB, 0x3B, 0x07, 0x3C, 0x80, 0x0A, 0xFB, 0x3B, 0x00, 0x01, 0x87};
    EXPECT_EQ(fake::Written(kChannelB), expected);
    EXPECT_EQ(destination[0], 0x3C);
    EXPECT_EQ(destination[1], 0x01);
}

TEST_F(JtagTest, OneBitWithExitClocksOnlyTheExitBit)
{
    Open();
    const uint8_t source[1] = {0x00};
    uint8_t destination[1] = {0xFF};
    ASSERT_TRUE(jtag.Shift(0, 1, source, destination, true));
    EXPECT_EQ(fake::Written(kChannelB), (std::vector<uint8_t>{0x80, 0x08, 0xFB, 0x3B, 0x00, 0x00, 0x87}));
    EXPECT_EQ(destination[0], 0x00);
    EXPECT_EQ(fake::Clocks(kChannelB), std::vector<uint8_t>{0x02});
}

TEST_F(JtagTest, NullDestinationStillClocksAndReadsEveryBit)
{
    Open();
    const uint8_t source[2] = {0xFF, 0x0F};
    ASSERT_TRUE(jtag.Shift(0, 12, source, nullptr, true));
    EXPECT_EQ(TotalRead(), 3u);
    EXPECT_EQ(fake::Clocks(kChannelB).size(), 12u);
    EXPECT_EQ(F.Pending(kChannelB), 0u);
}

TEST_F(JtagTest, NullSourceShiftsZeros)
{
    Open();
    uint8_t destination[2] = {0xFF, 0xFF};
    ASSERT_TRUE(jtag.Shift(0, 16, nullptr, destination, false));
    EXPECT_EQ(destination[0], 0);
    EXPECT_EQ(destination[1], 0);
    for (bool tdi : Tdi(fake::Clocks(kChannelB)))
        EXPECT_FALSE(tdi);
}

TEST_F(JtagTest, ModeOneShiftsABigEndianNumberLeastSignificantBitFirst)
{
    Open();
    const uint8_t source[2] = {0xAB, 0xC0};
    uint8_t destination[2] = {0x55, 0x55};
    ASSERT_TRUE(jtag.Shift(1, 12, source, destination, false));
    std::vector<bool> expected = {0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1};
    EXPECT_EQ(Tdi(fake::Clocks(kChannelB)), expected);
    EXPECT_EQ(destination[0], 0xAB);
    EXPECT_EQ(destination[1], 0xC0);
}

TEST_F(JtagTest, ModeOneWithWholeBytesIsAByteReversal)
{
    Open();
    const uint8_t source[2] = {0x12, 0x34};
    uint8_t destination[2] = {};
    ASSERT_TRUE(jtag.Shift(1, 16, source, destination, true));
    std::vector<uint8_t> bytes = fake::Written(kChannelB);
    EXPECT_EQ(bytes[5], 0x34);   // the first group carries the last byte
    EXPECT_EQ(bytes[11], 0x12);
    EXPECT_EQ(destination[0], 0x12);
    EXPECT_EQ(destination[1], 0x34);
}

TEST_F(JtagTest, ModeOneCapturesADelayedValueIntoTheSameLayout)
{
    Open();
    F.SetJtagDelay(3, 0);
    const uint8_t source[2] = {0xAB, 0xC0};  // 0xABC
    uint8_t destination[2] = {};
    ASSERT_TRUE(jtag.Shift(1, 12, source, destination, true));
    // The chain returns the value three clocks late: (0xABC << 3) & 0xFFF = 0x5E0.
    EXPECT_EQ(destination[0], 0x5E);
    EXPECT_EQ(destination[1], 0x00);
}

TEST_F(JtagTest, EveryLengthModeAndExitFlagRoundTripsThroughALoopBack)
{
    Open();
    for (uint32_t n = 1; n <= 40; ++n) {
        for (int mode : {0, 1, 7}) {
            for (bool exit : {false, true}) {
                size_t bytes = (n - 1) / 8 + 1;
                std::vector<uint8_t> source = RandomBytes(bytes, n * 31 + static_cast<uint32_t>(mode) * 7 + exit);
                std::vector<uint8_t> destination(bytes, 0xA5);
                F.ClearLogs();
                ASSERT_TRUE(jtag.Shift(mode, n, source.data(), destination.data(), exit));
                std::vector<uint8_t> clocks = fake::Clocks(kChannelB);
                ASSERT_EQ(clocks.size(), n);
                for (size_t i = 0; i < n; ++i)
                    ASSERT_EQ(Tms(clocks)[i], exit && i + 1 == n) << n << " " << mode << " " << exit << " " << i;
                std::vector<uint8_t> expected = source;
                if (mode == 1) {
                    if (n % 8 != 0)
                        expected.back() = static_cast<uint8_t>(expected.back() & (0xFF << (8 - n % 8)));
                } else if (n % 8 != 0) {
                    expected.back() = static_cast<uint8_t>(expected.back() & (0xFF >> (8 - n % 8)));
                }
                ASSERT_EQ(destination, expected) << "n " << n << " mode " << mode << " exit " << exit;
                // Bit k on TDI is bit k of the LSB-first string.
                if (mode != 1) {
                    for (size_t k = 0; k < n; ++k)
                        ASSERT_EQ(Tdi(clocks)[k], Bit(source, k)) << n << " " << k;
                }
            }
        }
    }
}

TEST_F(JtagTest, DelayedChainShiftsTheCaptureByItsLength)
{
    Open();
    F.SetJtagDelay(5, 1);
    std::vector<uint8_t> source = RandomBytes(3, 99);
    std::vector<uint8_t> destination(3, 0);
    ASSERT_TRUE(jtag.Shift(0, 20, source.data(), destination.data(), true));
    for (size_t k = 0; k < 20; ++k)
        EXPECT_EQ(Bit(destination, k), k < 5 ? true : Bit(source, k - 5)) << k;
    EXPECT_EQ(destination[2] & 0xF0, 0);
}

TEST_F(JtagTest, FixedPatternIsCapturedAsItComes)
{
    Open();
    const uint8_t idcode[4] = {0xCF, 0xE1, 0x74, 0x3E};  // 0x3E74E1CF, LSB first
    F.SetJtagPattern(idcode, 32);
    uint8_t destination[4] = {};
    ASSERT_TRUE(jtag.Shift(0, 32, nullptr, destination, true));
    EXPECT_EQ(std::vector<uint8_t>(destination, destination + 4), std::vector<uint8_t>(idcode, idcode + 4));
}

TEST_F(JtagTest, BoundaryRegisterOf2424BitsIsOneWriteAndOneRead)
{
    Open();
    std::vector<uint8_t> source = RandomBytes(303, 2424);
    std::vector<uint8_t> destination(303);
    ASSERT_TRUE(jtag.Shift(0, 2424, source.data(), destination.data(), true));
    EXPECT_EQ(destination, source);
    // 302 groups of eight, one of seven, the exit bit: 304 groups of six bytes, then 0x87.
    EXPECT_EQ(fake::WriteSizes(kChannelB), std::vector<size_t>{304 * 6 + 1});
    EXPECT_EQ(TotalRead(), 304u);
}

TEST_F(JtagTest, LongShiftsAreWrittenIn4096ByteChunks)
{
    Open();
    std::vector<uint8_t> source = RandomBytes(1000, 8000);
    std::vector<uint8_t> destination(1000);
    ASSERT_TRUE(jtag.Shift(0, 8000, source.data(), destination.data(), false));
    EXPECT_EQ(fake::WriteSizes(kChannelB), (std::vector<size_t>{4096, 1905}));
    EXPECT_EQ(destination, source);
}

TEST_F(JtagTest, SourceAndDestinationMayBeTheSameBuffer)
{
    Open();
    for (int mode : {0, 1}) {
        std::vector<uint8_t> original = RandomBytes(4, 5 + static_cast<uint32_t>(mode));
        original[3] = static_cast<uint8_t>(mode == 1 ? original[3] & 0xE0 : original[3] & 0x07);
        std::vector<uint8_t> buffer = original;
        ASSERT_TRUE(jtag.Shift(mode, 27, buffer.data(), buffer.data(), true));
        EXPECT_EQ(buffer, original) << mode;
    }
}

TEST_F(JtagTest, ShiftFailsWithStatus20WhenRepliesAreMissing)
{
    Open();
    F.SetMute(1);
    uint8_t destination[2];
    const uint8_t source[2] = {1, 2};
    EXPECT_FALSE(jtag.Shift(0, 12, source, destination, true));
    EXPECT_EQ(jtag.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 5000u);
    EXPECT_EQ(JTAG_Out(&jtag, 0, 12, source, destination, 1), 0);
}

TEST_F(JtagTest, ShiftFailsOnAWriteFailure)
{
    Open();
    F.FailCall("FT_Write", 0, 1, FT_IO_ERROR);
    uint8_t destination[1];
    EXPECT_FALSE(jtag.Shift(0, 8, nullptr, destination, true));
    EXPECT_EQ(jtag.Status(), uint32_t{FT_IO_ERROR});
    EXPECT_LT(Elapsed(), 100u);
    // The next shift clears the queues and works.
    F.SetJtagDelay(0, 0);
    const uint8_t source[1] = {0x5A};
    ASSERT_TRUE(jtag.Shift(0, 8, source, destination, true));
    EXPECT_EQ(destination[0], 0x5A);
}

// ---- ShiftOut (JTAG_ShiftIn) ------------------------------------------------------------------

TEST_F(JtagTest, ShiftOutFromBitThreeStartsWithAFiveBitGroup)
{
    Open();
    const uint8_t source[2] = {0xF8, 0x01};
    ASSERT_TRUE(jtag.ShiftOut(3, 6, source, false));
    EXPECT_EQ(fake::Written(kChannelB),
              (std::vector<uint8_t>{0x80, 0x02, 0xFB, 0x1B, 0x04, 0x1F, 0x80, 0x02, 0xFB, 0x1B, 0x00, 0x01}));
    EXPECT_EQ(TotalRead(), 0u);
    std::vector<bool> tdi = Tdi(fake::Clocks(kChannelB));
    EXPECT_EQ(tdi, std::vector<bool>(6, true));
}

TEST_F(JtagTest, ShiftOutWithExitRaisesTmsOnTheLastBit)
{
    Open();
    auto source = std::make_unique<uint8_t[]>(1);  // exactly one byte: nothing beyond may be read
    source[0] = 0x81;
    ASSERT_TRUE(jtag.ShiftOut(0, 8, source.get(), true));
    EXPECT_EQ(fake::Written(kChannelB),
              (std::vector<uint8_t>{0x80, 0x02, 0xFB, 0x1B, 0x06, 0x81, 0x80, 0x0A, 0xFB, 0x1B, 0x00, 0x01}));
    std::vector<bool> tms = Tms(fake::Clocks(kChannelB));
    EXPECT_EQ(tms, (std::vector<bool>{0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST_F(JtagTest, ShiftOutNeverReadsPastTheString)
{
    Open();
    auto one = std::make_unique<uint8_t[]>(1);
    one[0] = 0x3C;
    ASSERT_TRUE(jtag.ShiftOut(0, 8, one.get(), false));
    auto three = std::make_unique<uint8_t[]>(3);
    three[0] = 0xF0;
    three[1] = 0xAA;
    three[2] = 0x0F;
    ASSERT_TRUE(jtag.ShiftOut(4, 20, three.get(), false));  // bits 4..23: groups of 4, 8, 8
    std::vector<uint8_t> bytes = fake::Written(kChannelB);
    ASSERT_EQ(bytes.size(), 24u);
    EXPECT_EQ(bytes[10], 0x03);  // the 4-bit group
    EXPECT_EQ(bytes[11], 0x0F);
    EXPECT_EQ(bytes[17], 0xAA);
    EXPECT_EQ(bytes[23], 0x0F);
}

TEST_F(JtagTest, ShiftOutOfAnOpenedChainWithNullSourceShiftsZeros)
{
    Open();
    ASSERT_EQ(JTAG_ShiftIn(&jtag, 5, 10, nullptr, 1), 1);
    std::vector<uint8_t> clocks = fake::Clocks(kChannelB);
    ASSERT_EQ(clocks.size(), 10u);
    for (bool tdi : Tdi(clocks))
        EXPECT_FALSE(tdi);
    EXPECT_TRUE(Tms(clocks).back());
}

// ---- ShiftInOut ------------------------------------------------------------------------------------

TEST_F(JtagTest, ShiftInOutQueuesTheLastBitAloneWithTheChosenTms)
{
    Open();
    const uint8_t source[2] = {0xFF, 0x02};
    uint8_t destination[2] = {};
    ASSERT_TRUE(jtag.ShiftInOut(10, source, destination, true));
    std::vector<uint8_t> expected = {0x80, 0x02, 0xFB, 0x3B, 0x07, 0xFF, 0x80, 0x00, 0xFB, 0x3B,
                                     0x00, 0x02, 0x80, 0x0A, 0xFB, 0x3B, 0x00, 0x01, 0x87};
    EXPECT_EQ(fake::Written(kChannelB), expected);
    EXPECT_EQ(destination[0], 0xFF);
    EXPECT_EQ(destination[1], 0x02);

    F.ClearLogs();
    ASSERT_EQ(JTAG_ShiftInOut_ex(&jtag, 10, source, destination, 0), 1);
    std::vector<uint8_t> bytes = fake::Written(kChannelB);
    EXPECT_EQ(bytes[13], 0x02);  // TMS low on the last bit
    EXPECT_EQ(Tms(fake::Clocks(kChannelB)), std::vector<bool>(10, false));

    F.ClearLogs();
    ASSERT_EQ(JTAG_ShiftInOut(&jtag, 10, source, destination), 1);
    EXPECT_TRUE(Tms(fake::Clocks(kChannelB)).back());
}

TEST_F(JtagTest, ShiftInOutNeedsADestination)
{
    Open();
    const uint8_t source[1] = {1};
    EXPECT_FALSE(jtag.ShiftInOut(8, source, nullptr, true));
    EXPECT_EQ(JTAG_ShiftInOut(&jtag, 8, source, nullptr), 0);
    EXPECT_TRUE(fake::Written(kChannelB).empty());
}

// ---- bad input ------------------------------------------------------------------------------------

TEST_F(JtagTest, ZeroBitsAreRefusedWithoutSendingAnything)
{
    Open();
    uint8_t buffer[1] = {0};
    EXPECT_EQ(JTAG_Out(&jtag, 0, 0, buffer, buffer, 1), 0);
    EXPECT_EQ(JTAG_ShiftIn(&jtag, 0, 0, buffer, 1), 0);
    EXPECT_EQ(JTAG_ShiftInOut(&jtag, 0, buffer, buffer), 0);
    EXPECT_EQ(JTAG_Tms(&jtag, 0x1F, 0), 0);
    EXPECT_TRUE(fake::Written(kChannelB).empty());
}

TEST_F(JtagTest, NullHandlesReturnZeroInsteadOfCrashing)
{
    uint8_t buffer[4] = {};
    EXPECT_EQ(JTAG_Tms(nullptr, 0x1F, 5), 0);
    EXPECT_EQ(JTAG_Addr(nullptr, 1), 0);
    EXPECT_EQ(JTAG_Out(nullptr, 0, 8, buffer, buffer, 1), 0);
    EXPECT_EQ(JTAG_ShiftIn(nullptr, 0, 8, buffer, 1), 0);
    EXPECT_EQ(JTAG_ShiftInOut(nullptr, 8, buffer, buffer), 0);
    EXPECT_EQ(JTAG_ShiftInOut_ex(nullptr, 8, buffer, buffer, 0), 0);
    JTAG_Close(nullptr);
    EXPECT_TRUE(fake::Calls().empty());
}
