#include "usb_jtag.h"

#include "fake_fixture.h"
#include "usbwire.h"

#include <memory>
#include <random>

using usbwire::CUsbJtag;

namespace {

using Bytes = std::vector<uint8_t>;
using Bits = std::vector<bool>;

// Bit k of an LSB-first string.
bool Bit(const Bytes& bytes, size_t k) { return ((bytes[k / 8] >> (k % 8)) & 1) != 0; }

Bytes RandomBytes(size_t count, uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

class JtagTest : public FakeDriverTest {
protected:
    void Open()
    {
        ASSERT_TRUE(jtag.Open("FT2232H MiniModule B"));
        F.ClearLogs();
    }
    fake::Device& B() { return F.devices[1]; }
    // One level of the logged clocks: mask 1 TDI, 2 TMS, 4 TDO.
    Bits Levels(uint8_t mask)
    {
        Bits bits;
        for (uint8_t clock : B().clocks)
            bits.push_back((clock & mask) != 0);
        return bits;
    }
    // TMS low on every clock but (when exit is set) the last one.
    static Bits ExitOnLast(size_t n, bool exit)
    {
        Bits bits(n, false);
        bits.back() = exit;
        return bits;
    }

    CUsbJtag jtag;
};

}  // namespace

// ---- open, close, TMS and address -----------------------------------------------------------------

TEST_F(JtagTest, OpenSetsUpTheChannelAt1MHzAndCloseReleasesEveryPin)
{
    void* handle = JTAG_Open("FT2232H MiniModule B");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(B().written, SetupBytes(0x00, 0xFB, 29));
    EXPECT_TRUE(F.devices[0].written.empty());
    ASSERT_EQ(JTAG_Addr(handle, 0x05), 1);
    F.ClearLogs();
    uint64_t slept = clock.Slept();
    JTAG_Close(handle);
    EXPECT_EQ(B().written, (Bytes{0x80, 0x50, 0x00, 0x82, 0x00, 0x00}));
    EXPECT_EQ(F.log, (std::vector<std::string>{"FT_Write(1,6->6) = 0", "FT_Close(1) = 0"}));
    EXPECT_EQ(clock.Slept() - slept, 100u);
}

TEST_F(JtagTest, FailedOpens)
{
    // No such channel: nothing written, no pause.
    EXPECT_EQ(JTAG_Open("FT2232H MiniModule C"), nullptr);
    EXPECT_EQ(JTAG_Open(nullptr), nullptr);
    EXPECT_EQ(clock.Slept(), 0u);
    EXPECT_TRUE(B().written.empty());
    // A failed set-up releases the pins and closes the device.
    F.mute = true;
    EXPECT_EQ(JTAG_Open("FT2232H MiniModule B"), nullptr);
    std::vector<std::string> calls = F.CallsWithoutPolls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], "FT_Write(1,6->6) = 0");
    EXPECT_EQ(calls.back(), "FT_Close(1) = 0");
    EXPECT_EQ(Bytes(B().written.end() - 6, B().written.end()), (Bytes{0x80, 0x00, 0x00, 0x82, 0x00, 0x00}));
}

TEST_F(JtagTest, ClockTmsSendsOneCommandAndHoldsTdiFromBit7)
{
    Open();
    ASSERT_EQ(JTAG_Tms(&jtag, 0x1F, 5), 1);
    ASSERT_EQ(JTAG_Tms(&jtag, 0xFF, 5), 1);
    ASSERT_EQ(JTAG_Tms(&jtag, 0x02, 3), 1);  // 0, 1, 0
    EXPECT_EQ(B().written, (Bytes{0x4B, 0x04, 0x1F, 0x4B, 0x04, 0xFF, 0x4B, 0x02, 0x02}));
    // TMS 1 with TDI 0, then with TDI 1.
    EXPECT_EQ(B().clocks, (Bytes{2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 0, 2, 0}));
}

TEST_F(JtagTest, SetAddressDrivesTheLowFourBitsOntoGpiolAndKeepsTmsAndTdi)
{
    Open();
    ASSERT_TRUE(jtag.SetAddress(0x15));
    EXPECT_EQ(B().written, (Bytes{0x80, 0x50, 0xFB}));
    const uint8_t one[1] = {0x01};
    ASSERT_TRUE(JTAG_Out(&jtag, 0, 1, one, nullptr, true));  // ends with TMS and TDI high
    F.ClearLogs();
    ASSERT_TRUE(jtag.SetAddress(0x03));
    EXPECT_EQ(B().written, (Bytes{0x80, 0x3A, 0xFB}));
}

// ---- Shift (JTAG_Out) -------------------------------------------------------------------------------

TEST_F(JtagTest, ShiftGroupsAndTheExitBit)
{
    const struct {
        uint32_t n;
        Bytes source;  // empty: null
        bool exit;
        bool capture;
        Bytes written;
        size_t replies;
    } cases[] = {
        // Groups of 8 and 3 bits with TMS low, then one bit with TMS high.
        {12, {0xA5, 0x0B}, true, true,
         {0x80, 0x02, 0xFB, 0x3B, 0x07, 0xA5, 0x80, 0x02, 0xFB, 0x3B, 0x02, 0x0B,  //
          0x80, 0x0A, 0xFB, 0x3B, 0x00, 0x01, 0x87},
         3},
        // The exit bit of 9 is bit 0 of the second byte.
        {9, {0x3C, 0x01}, true, true,
         {0x80, 0x00, 0xFB, 0x3B, 0x07, 0x3C, 0x80, 0x0A, 0xFB, 0x3B, 0x00, 0x01, 0x87}, 2},
        {1, {0x00}, true, true, {0x80, 0x08, 0xFB, 0x3B, 0x00, 0x00, 0x87}, 1},
        // A null destination still clocks and reads every bit.
        {12, {0xFF, 0x0F}, true, false,
         {0x80, 0x02, 0xFB, 0x3B, 0x07, 0xFF, 0x80, 0x02, 0xFB, 0x3B, 0x02, 0x0F,  //
          0x80, 0x0A, 0xFB, 0x3B, 0x00, 0x01, 0x87},
         3},
        // A null source shifts zeros.
        {16, {}, false, true, {0x80, 0x00, 0xFB, 0x3B, 0x07, 0x00, 0x80, 0x00, 0xFB, 0x3B, 0x07, 0x00, 0x87}, 2},
    };
    Open();
    for (const auto& c : cases) {
        F.ClearLogs();
        Bytes destination((c.n + 7) / 8, 0xEE);
        ASSERT_TRUE(JTAG_Out(&jtag, 0, c.n, c.source.empty() ? nullptr : c.source.data(),
                               c.capture ? destination.data() : nullptr, c.exit));
        EXPECT_EQ(B().written, c.written) << c.n;
        EXPECT_EQ(B().writeSizes.size(), 1u) << c.n;
        EXPECT_EQ(B().readTotal, c.replies) << c.n;
        EXPECT_TRUE(B().received.empty()) << c.n;
        EXPECT_EQ(Levels(2), ExitOnLast(c.n, c.exit)) << c.n;
        if (c.capture) {  // the loop-back returns the bits, the rest of the last byte zero
            EXPECT_EQ(destination, c.source.empty() ? Bytes(destination.size(), 0) : c.source) << c.n;
        }
    }
}

TEST_F(JtagTest, ModeOneShiftsABigEndianNumberLeastSignificantBitFirst)
{
    const struct {
        uint32_t n;
        Bytes source;
        uint32_t number;  // the value the source holds
        unsigned delay;   // clocks the chain delays TDO
        Bytes destination;
    } cases[] = {
        {12, {0xAB, 0xC0}, 0xABC, 0, {0xAB, 0xC0}},
        {12, {0xAB, 0xC0}, 0xABC, 3, {0x5E, 0x00}},  // (0xABC << 3) & 0xFFF = 0x5E0
        {16, {0x12, 0x34}, 0x1234, 3, {0x91, 0xA0}},  // whole bytes: a byte reversal
    };
    Open();
    for (const auto& c : cases) {
        F.ClearLogs();
        F.jtagDelay = c.delay;
        B().delayLine.clear();
        Bytes destination(c.source.size(), 0x55);
        ASSERT_TRUE(JTAG_Out(&jtag, 1, c.n, c.source.data(), destination.data(), true));
        Bits tdi = Levels(1);
        ASSERT_EQ(tdi.size(), c.n);
        for (size_t k = 0; k < c.n; ++k)
            EXPECT_EQ(tdi[k], ((c.number >> k) & 1) != 0) << c.n << " bit " << k;
        EXPECT_EQ(destination, c.destination) << c.n << " delay " << c.delay;
    }
}

TEST_F(JtagTest, EveryLengthModeAndExitFlagRoundTripsThroughALoopBack)
{
    Open();
    for (uint32_t n = 1; n <= 40; ++n) {
        for (int mode : {0, 1, 7}) {
            for (bool exit : {false, true}) {
                size_t bytes = (n - 1) / 8 + 1;
                Bytes source = RandomBytes(bytes, n * 31 + static_cast<uint32_t>(mode) * 7 + exit);
                Bytes destination(bytes, 0xA5);
                F.ClearLogs();
                ASSERT_TRUE(JTAG_Out(&jtag, mode, n, source.data(), destination.data(), exit));
                ASSERT_EQ(Levels(2), ExitOnLast(n, exit)) << n << " " << mode;
                // The unused bits: the low ones in mode 1, the high ones otherwise.
                Bytes expected = source;
                if (n % 8 != 0)
                    expected.back() &= static_cast<uint8_t>(mode == 1 ? 0xFF << (8 - n % 8) : 0xFF >> (8 - n % 8));
                ASSERT_EQ(destination, expected) << "n " << n << " mode " << mode << " exit " << exit;
                Bits tdi = Levels(1);
                for (size_t k = 0; mode != 1 && k < n; ++k)
                    ASSERT_EQ(tdi[k], Bit(source, k)) << n << " " << k;
            }
        }
    }
}

TEST_F(JtagTest, DelayedChainShiftsTheCaptureAndSourceMayBeTheDestination)
{
    Open();
    F.jtagDelay = 5;
    F.jtagFill = true;
    Bytes source = RandomBytes(3, 99);
    Bytes buffer = source;
    ASSERT_TRUE(JTAG_Out(&jtag, 0, 20, buffer.data(), buffer.data(), true));
    for (size_t k = 0; k < 20; ++k)
        EXPECT_EQ(Bit(buffer, k), k < 5 ? true : Bit(source, k - 5)) << k;
    EXPECT_EQ(buffer[2] & 0xF0, 0);

    F.jtagDelay = 0;
    Bytes original = {0x12, 0x34, 0x56, 0xE0};
    buffer = original;
    ASSERT_TRUE(JTAG_Out(&jtag, 1, 27, buffer.data(), buffer.data(), true));
    EXPECT_EQ(buffer, original);
}

TEST_F(JtagTest, BoundaryRegisterOf2424BitsIsOneWriteAndOneRead)
{
    Open();
    Bytes source = RandomBytes(303, 2424);
    Bytes destination(303);
    ASSERT_EQ(JTAG_Out(&jtag, 0, 2424, source.data(), destination.data(), 1), 1);
    EXPECT_EQ(destination, source);
    // 302 groups of eight, one of seven, the exit bit: 304 groups of six bytes, then 0x87.
    EXPECT_EQ(B().writeSizes, std::vector<size_t>{304 * 6 + 1});
    EXPECT_EQ(B().readTotal, 304u);
}

TEST_F(JtagTest, ShiftFailuresAndRecovery)
{
    Open();
    const uint8_t source[2] = {0x5A, 2};
    uint8_t destination[2];
    F.mute = true;
    EXPECT_EQ(JTAG_Out(&jtag, 0, 12, source, destination, 1), 0);
    EXPECT_EQ(jtag.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 5000u);

    F.mute = false;
    F.FailCall("FT_Write", 0, FT_IO_ERROR);
    uint32_t before = Elapsed();
    EXPECT_FALSE(JTAG_Out(&jtag, 0, 8, nullptr, destination, true));
    EXPECT_EQ(jtag.Status(), uint32_t{FT_IO_ERROR});
    EXPECT_LT(Elapsed() - before, 100u);
    // The next shift starts clean and works.
    ASSERT_TRUE(JTAG_Out(&jtag, 0, 8, source, destination, true));
    EXPECT_EQ(destination[0], 0x5A);
}

// ---- ShiftOut (JTAG_ShiftIn) and ShiftInOut ------------------------------------------------------

TEST_F(JtagTest, ShiftOutStartsAtItsStartBitAndNeverReadsPastTheString)
{
    const struct {
        uint8_t start;
        uint32_t n;
        Bytes source;  // empty: null
        bool exit;
        Bytes written;
    } cases[] = {
        // From bit 3 the first group has five bits.
        {3, 6, {0xF8, 0x01}, false, {0x80, 0x02, 0xFB, 0x1B, 0x04, 0x1F, 0x80, 0x02, 0xFB, 0x1B, 0x00, 0x01}},
        {0, 8, {0x81}, true, {0x80, 0x02, 0xFB, 0x1B, 0x06, 0x81, 0x80, 0x0A, 0xFB, 0x1B, 0x00, 0x01}},
        {0, 8, {0x3C}, false, {0x80, 0x00, 0xFB, 0x1B, 0x07, 0x3C}},
        {4, 20, {0xF0, 0xAA, 0x0F}, false,
         {0x80, 0x02, 0xFB, 0x1B, 0x03, 0x0F, 0x80, 0x00, 0xFB, 0x1B, 0x07, 0xAA, 0x80, 0x02, 0xFB, 0x1B, 0x07, 0x0F}},
        {5, 10, {}, true,
         {0x80, 0x00, 0xFB, 0x1B, 0x02, 0x00, 0x80, 0x00, 0xFB, 0x1B, 0x05, 0x00, 0x80, 0x08, 0xFB, 0x1B, 0x00, 0x00}},
    };
    Open();
    for (const auto& c : cases) {
        F.ClearLogs();
        // Exactly as long as the string: a read beyond it is an error under AddressSanitizer.
        auto source = std::make_unique<uint8_t[]>(c.source.size());
        std::copy(c.source.begin(), c.source.end(), source.get());
        Bytes string((c.start + c.n + 7) / 8, 0);
        std::copy(c.source.begin(), c.source.end(), string.begin());
        ASSERT_EQ(JTAG_ShiftIn(&jtag, c.start, c.n, c.source.empty() ? nullptr : source.get(), c.exit), 1);
        EXPECT_EQ(B().written, c.written) << int(c.start) << " " << c.n;
        EXPECT_EQ(B().readTotal, 0u);
        Bits tdi = Levels(1);
        ASSERT_EQ(tdi.size(), c.n);
        for (size_t k = 0; k < c.n; ++k)
            EXPECT_EQ(tdi[k], Bit(string, c.start + k)) << int(c.start) << " " << c.n << " bit " << k;
        EXPECT_EQ(Levels(2), ExitOnLast(c.n, c.exit));
    }
}

TEST_F(JtagTest, ShiftInOutQueuesTheLastBitAloneWithTheChosenTms)
{
    Open();
    const uint8_t source[2] = {0xFF, 0x02};
    uint8_t destination[2] = {};
    ASSERT_EQ(JTAG_ShiftInOut(&jtag, 10, source, destination), 1);
    EXPECT_EQ(B().written, (Bytes{0x80, 0x02, 0xFB, 0x3B, 0x07, 0xFF, 0x80, 0x00, 0xFB, 0x3B, 0x00, 0x02, 0x80, 0x0A,
                                  0xFB, 0x3B, 0x00, 0x01, 0x87}));
    EXPECT_EQ(Bytes(destination, destination + 2), (Bytes{0xFF, 0x02}));
    EXPECT_EQ(Levels(2), ExitOnLast(10, true));

    F.ClearLogs();
    ASSERT_EQ(JTAG_ShiftInOut_ex(&jtag, 10, source, destination, 0), 1);
    EXPECT_EQ(B().written[13], 0x02);  // TMS low on the last bit
    EXPECT_EQ(Levels(2), ExitOnLast(10, false));

    F.ClearLogs();
    EXPECT_EQ(JTAG_ShiftInOut(&jtag, 8, source, nullptr), 0);  // the destination is required
    EXPECT_TRUE(B().written.empty());
}

// ---- bad input ------------------------------------------------------------------------------------

TEST_F(JtagTest, ZeroBitsAreRefusedWithoutSendingAnything)
{
    uint8_t buffer[1] = {};
    Open();
    EXPECT_EQ(JTAG_Out(&jtag, 0, 0, buffer, buffer, 1), 0);
    EXPECT_EQ(JTAG_ShiftIn(&jtag, 0, 0, buffer, 1), 0);
    EXPECT_EQ(JTAG_ShiftInOut(&jtag, 0, buffer, buffer), 0);
    EXPECT_EQ(JTAG_Tms(&jtag, 0x1F, 0), 0);
    EXPECT_TRUE(B().written.empty());
}
