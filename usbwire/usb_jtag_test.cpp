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

// The string as it comes back from a chain that returns every bit: the unused bits zero (the
// low ones in the big-endian layout, the high ones otherwise).
Bytes Returned(Bytes string, uint32_t n, bool bigEndian)
{
    if (n % 8 != 0)
        string.back() &= static_cast<uint8_t>(bigEndian ? 0xFF << (8 - n % 8) : 0xFF >> (8 - n % 8));
    return string;
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

TEST_F(JtagTest, OpenSetsUpTheChannelAt1MHzAndCloseReleasesEveryPin)
{
    void* handle = JTAG_Open("FT2232H MiniModule B");
    ASSERT_NE(handle, nullptr);
    EXPECT_DOUBLE_EQ(B().ClockHz(), 1e6);
    // TCK, TDI, TMS and the select lines driven low; TDO and the high byte inputs.
    EXPECT_EQ(std::tuple(B().lowValue, B().lowDirection, B().highDirection), std::tuple(0x00, 0xFB, 0x00));
    EXPECT_TRUE(F.devices[0].written.empty());
    ASSERT_EQ(JTAG_Addr(handle, 0x05), 1);
    uint64_t slept = clock.Slept();
    JTAG_Close(handle);
    EXPECT_EQ(std::tuple(B().lowValue, B().lowDirection, B().highDirection), std::tuple(0x50, 0x00, 0x00));
    EXPECT_FALSE(B().open);
    EXPECT_EQ(clock.Slept() - slept, 100u);
}

TEST_F(JtagTest, FailedOpensReleaseThePinsAndCloseTheDevice)
{
    EXPECT_EQ(JTAG_Open("FT2232H MiniModule C"), nullptr);
    EXPECT_EQ(JTAG_Open(nullptr), nullptr);
    EXPECT_EQ(clock.Slept(), 0u);  // nothing to release
    F.mute = true;                 // the set-up fails
    B().lowDirection = B().highDirection = 0xFF;
    EXPECT_EQ(JTAG_Open("FT2232H MiniModule B"), nullptr);
    EXPECT_EQ(std::tuple(B().lowDirection, B().highDirection), std::tuple(0x00, 0x00));
    EXPECT_FALSE(B().open);

    F.mute = false;
    F.FailCall("FT_SetBitMode", 1, FT_IO_ERROR);
    EXPECT_EQ(I2C_Open("FT2232H MiniModule A", 100000), nullptr);
    EXPECT_FALSE(F.devices[0].open);
    void* handle = I2C_Open("FT2232H MiniModule A", 100000);
    ASSERT_NE(handle, nullptr);
    I2C_Close(handle);
    EXPECT_FALSE(F.devices[0].open);
}

TEST_F(JtagTest, TmsPatternsHoldTdiFromBit7AndAddressesDriveGpiol)
{
    Open();
    ASSERT_EQ(JTAG_Tms(&jtag, 0x1F, 5), 1);
    ASSERT_EQ(JTAG_Tms(&jtag, 0xFF, 5), 1);
    ASSERT_EQ(JTAG_Tms(&jtag, 0x02, 3), 1);  // 0, 1, 0
    // TMS 1 with TDI 0, then with TDI 1.
    EXPECT_EQ(B().clocks, (Bytes{2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 0, 2, 0}));
    ASSERT_EQ(JTAG_Addr(&jtag, 0x15), 1);  // the low four bits on GPIOL0..3
    EXPECT_EQ(B().lowValue, 0x50);
    const uint8_t one[1] = {0x01};
    ASSERT_EQ(JTAG_Out(&jtag, 0, 1, one, nullptr, 1), 1);  // ends with TMS and TDI high
    ASSERT_EQ(JTAG_Addr(&jtag, 0x03), 1);
    EXPECT_EQ(std::tuple(B().lowValue, B().lowDirection), std::tuple(0x3A, 0xFB));
}

TEST_F(JtagTest, EveryLengthLayoutAndLastTmsRoundTripsThroughALoopBack)
{
    Open();
    for (uint32_t n = 1; n <= 40; ++n) {
        const size_t bytes = (n - 1) / 8 + 1;
        for (int mode : {int{JTAG_OUT_LSB_FIRST}, int{JTAG_OUT_BIG_ENDIAN}, 7}) {
            for (int exit : {0, 1}) {
                Bytes source = RandomBytes(bytes, n * 31 + static_cast<uint32_t>(mode) * 7 + exit);
                Bytes destination(bytes, 0xA5);
                F.ClearLogs();
                ASSERT_EQ(JTAG_Out(&jtag, mode, n, source.data(), destination.data(), exit), 1);
                ASSERT_EQ(Levels(2), ExitOnLast(n, exit)) << n << " " << mode;
                ASSERT_EQ(destination, Returned(source, n, mode == JTAG_OUT_BIG_ENDIAN)) << n << " " << mode;
                Bits tdi = Levels(1);
                for (size_t k = 0; mode != JTAG_OUT_BIG_ENDIAN && k < n; ++k)
                    ASSERT_EQ(tdi[k], Bit(source, k)) << n << " " << k;
            }
        }
        for (int lastTms : {0, 1}) {
            Bytes source = RandomBytes(bytes, n);
            Bytes destination(bytes, 0xA5);
            F.ClearLogs();
            ASSERT_EQ(lastTms ? JTAG_ShiftInOut(&jtag, n, source.data(), destination.data())
                              : JTAG_ShiftInOut_ex(&jtag, n, source.data(), destination.data(), 0),
                      1);
            ASSERT_EQ(Levels(2), ExitOnLast(n, lastTms)) << n;
            ASSERT_EQ(destination, Returned(source, n, false)) << n;
        }
        // A null destination still reads every bit; a null source shifts zeros.
        F.ClearLogs();
        Bytes destination(bytes, 0xA5);
        ASSERT_EQ(JTAG_Out(&jtag, 0, n, nullptr, nullptr, 1), 1);
        ASSERT_EQ(JTAG_Out(&jtag, 0, n, nullptr, destination.data(), 1), 1);
        ASSERT_EQ(Levels(1), Bits(2 * n, false));
        ASSERT_EQ(destination, Bytes(bytes, 0));
        ASSERT_TRUE(B().received.empty());
    }
}

// Every case shifts in place: the source is also the destination.
TEST_F(JtagTest, CapturesOfADelayingChainInBothLayouts)
{
    const struct {
        int mode;
        uint32_t n;
        Bytes source;
        uint32_t number;  // the value the source holds, bit 0 shifted first
        unsigned delay;   // clocks the chain delays TDO, with ones before
        Bytes captured;
    } cases[] = {
        {JTAG_OUT_BIG_ENDIAN, 12, {0xAB, 0xC0}, 0xABC, 0, {0xAB, 0xC0}},
        {JTAG_OUT_BIG_ENDIAN, 12, {0xAB, 0xC0}, 0xABC, 3, {0x5E, 0x70}},    // (0xABC << 3 | 7) & 0xFFF
        {JTAG_OUT_BIG_ENDIAN, 16, {0x12, 0x34}, 0x1234, 3, {0x91, 0xA7}},   // whole bytes: a byte reversal
        {JTAG_OUT_BIG_ENDIAN, 27, {0x12, 0x34, 0x56, 0xE0}, 0x91A2B7, 0, {0x12, 0x34, 0x56, 0xE0}},
        {JTAG_OUT_LSB_FIRST, 20, {0x5A, 0xC3, 0x0F}, 0xFC35A, 5, {0x5F, 0x6B, 0x08}},  // (n << 5 | 31) & 0xFFFFF
    };
    Open();
    for (const auto& c : cases) {
        F.ClearLogs();
        F.jtagDelay = c.delay;
        B().delayLine.clear();
        Bytes buffer = c.source;
        ASSERT_EQ(JTAG_Out(&jtag, c.mode, c.n, buffer.data(), buffer.data(), 1), 1);
        Bits tdi = Levels(1);
        ASSERT_EQ(tdi.size(), c.n);
        for (size_t k = 0; k < c.n; ++k)
            EXPECT_EQ(tdi[k], ((c.number >> k) & 1) != 0) << c.n << " bit " << k;
        EXPECT_EQ(buffer, c.captured) << c.n << " delay " << c.delay;
    }
}

TEST_F(JtagTest, BoundaryRegisterOf2424BitsIsOneWrite)
{
    Open();
    F.readChunk = 7;  // the replies arrive in pieces
    Bytes source = RandomBytes(303, 2424);
    Bytes destination(303);
    ASSERT_EQ(JTAG_Out(&jtag, 0, 2424, source.data(), destination.data(), 1), 1);
    EXPECT_EQ(destination, source);
    // 302 groups of eight, one of seven, the exit bit: 304 groups of six bytes, then send-immediate.
    EXPECT_EQ(B().writeSizes, std::vector<size_t>{304 * 6 + 1});
}

TEST_F(JtagTest, FailuresAndRecovery)
{
    uint8_t buffer[1] = {};
    Open();
    EXPECT_EQ(JTAG_Out(&jtag, 0, 0, buffer, buffer, 1), 0);  // zero bits or no destination: nothing sent
    EXPECT_EQ(JTAG_ShiftIn(&jtag, 0, 0, buffer, 1), 0);
    EXPECT_EQ(JTAG_ShiftInOut(&jtag, 0, buffer, buffer), 0);
    EXPECT_EQ(JTAG_ShiftInOut(&jtag, 8, buffer, nullptr), 0);
    EXPECT_EQ(JTAG_Tms(&jtag, 0x1F, 0), 0);
    EXPECT_TRUE(B().written.empty());

    const uint8_t source[2] = {0x5A, 2};
    uint8_t destination[2];
    F.mute = true;
    EXPECT_EQ(JTAG_Out(&jtag, 0, 12, source, destination, 1), 0);
    EXPECT_EQ(jtag.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 5000u);
    EXPECT_LT(Elapsed(), 6000u);
    for (const char* function : {"FT_GetQueueStatus", "FT_Write"}) {  // a driver failure ends at once
        F.FailCall(function, 0, FT_IO_ERROR);
        uint32_t before = Elapsed();
        EXPECT_EQ(JTAG_Out(&jtag, 0, 8, nullptr, destination, 1), 0) << function;
        EXPECT_EQ(jtag.Status(), uint32_t{FT_IO_ERROR}) << function;
        EXPECT_LT(Elapsed() - before, 100u) << function;
        F.mute = false;
    }
    ASSERT_EQ(JTAG_Out(&jtag, 0, 8, source, destination, 1), 1);  // the next shift starts clean
    EXPECT_EQ(destination[0], 0x5A);
}

TEST_F(JtagTest, ShiftInStartsAtItsStartBitAndNeverReadsPastTheString)
{
    const struct {
        uint8_t start;
        uint32_t n;
        Bytes source;  // empty: null
        bool exit;
    } cases[] = {{3, 6, {0xF8, 0x01}, false}, {0, 8, {0x81}, true}, {0, 8, {0x3C}, false},
                 {4, 20, {0xF0, 0xAA, 0x0F}, false}, {5, 10, {}, true}};
    Open();
    for (const auto& c : cases) {
        F.ClearLogs();
        // Exactly as long as the string: a read beyond it is an error under AddressSanitizer.
        auto source = std::make_unique<uint8_t[]>(c.source.size());
        std::copy(c.source.begin(), c.source.end(), source.get());
        Bytes string((c.start + c.n + 7) / 8, 0);
        std::copy(c.source.begin(), c.source.end(), string.begin());
        ASSERT_EQ(JTAG_ShiftIn(&jtag, c.start, c.n, c.source.empty() ? nullptr : source.get(), c.exit), 1);
        EXPECT_TRUE(B().received.empty());  // nothing read back
        Bits tdi = Levels(1);
        ASSERT_EQ(tdi.size(), c.n);
        for (size_t k = 0; k < c.n; ++k)
            EXPECT_EQ(tdi[k], Bit(string, c.start + k)) << int(c.start) << " " << c.n << " bit " << k;
        EXPECT_EQ(Levels(2), ExitOnLast(c.n, c.exit));
    }
}
