#include "usb_i2c.h"

#include "fake_fixture.h"
#include "usbwire.h"

using usbwire::CUsbI2C;

namespace {

constexpr uint8_t kBridge = 0x30;  // the slave's 8-bit address (7-bit 0x18)

// A START from SCL/SDA high, with the pin value's general-purpose bits in gpio.
std::vector<uint8_t> Start(size_t hold, uint8_t gpio = 0, uint8_t direction = 0x03)
{
    std::vector<uint8_t> bytes = fake::Repeat({0x80, static_cast<uint8_t>(gpio | 0x03), direction}, hold);
    fake::Append(bytes, fake::Repeat({0x80, static_cast<uint8_t>(gpio | 0x01), direction}, hold));
    fake::Append(bytes, {0x80, gpio, direction});
    return bytes;
}

std::vector<uint8_t> Stop(size_t hold, uint8_t gpio = 0, uint8_t direction = 0x03)
{
    std::vector<uint8_t> bytes = fake::Repeat({0x80, gpio, direction}, hold);
    fake::Append(bytes, fake::Repeat({0x80, static_cast<uint8_t>(gpio | 0x01), direction}, hold));
    fake::Append(bytes, {0x80, static_cast<uint8_t>(gpio | 0x03), direction});
    return bytes;
}

std::vector<uint8_t> WriteByte(uint8_t byte) { return {0x37, 0x07, byte, 0x37, 0x00, 0xFF}; }
std::vector<uint8_t> ReadByte(bool nack) { return {0x37, 0x07, 0xFF, 0x37, 0x00, static_cast<uint8_t>(nack ? 0xFF : 0x00)}; }

class I2CTest : public FakeDriverTest {
protected:
    void Open(uint32_t rate = 100000)
    {
        ASSERT_TRUE(i2c.Open("FT2232H MiniModule A", rate));
        F.ClearLogs();
    }

    CUsbI2C i2c;
};

}  // namespace

// ---- open and clock rates ---------------------------------------------------------------------

TEST_F(I2CTest, OpenSetsUpTheChannelAt100kHz)
{
    ASSERT_TRUE(i2c.Open("FT2232H MiniModule A", 100000));
    EXPECT_EQ(fake::Written(0), SetupBytes(0x03, 0x03, 299));
    EXPECT_EQ(i2c.PinValue(), 0x03);
    EXPECT_EQ(i2c.PinDirection(), 0x03);
    EXPECT_FALSE(i2c.BusHeld());
    EXPECT_EQ(F.Divisor(0), 299u);
    EXPECT_EQ(F.LowPins(0), 0x0303u);
}

TEST_F(I2CTest, DivisorsAndHoldCounts)
{
    EXPECT_EQ(CUsbI2C::DivisorForRate(100000), 299);
    EXPECT_EQ(CUsbI2C::DivisorForRate(400000), 74);
    EXPECT_EQ(CUsbI2C::DivisorForRate(458), 65501);
    EXPECT_EQ(CUsbI2C::DivisorForRate(457), -1);
    EXPECT_EQ(CUsbI2C::DivisorForRate(0), -1);
    EXPECT_EQ(CUsbI2C::DivisorForRate(30000000), -1);
    EXPECT_EQ(CUsbI2C::DivisorForRate(10737418), 1);
    EXPECT_EQ(CUsbI2C::DivisorForRate(10737419), -1);  // rate x 400 no longer fits 32 bits
    EXPECT_EQ(CUsbI2C::DivisorForRate(30000001), -1);
    EXPECT_EQ(CUsbI2C::HoldCount(100000), 25u);
    EXPECT_EQ(CUsbI2C::HoldCount(400000), 6u);
    EXPECT_EQ(CUsbI2C::HoldCount(3000000), 0u);
}

TEST_F(I2CTest, Rate458OpensAnd457FailsWithStatus22WithoutTouchingTheBus)
{
    ASSERT_TRUE(i2c.Open("FT2232H MiniModule A", 458));
    EXPECT_EQ(F.Divisor(0), 65501u);
    i2c.Close();

    F.ClearLogs();
    CUsbI2C slow;
    EXPECT_FALSE(slow.Open("FT2232H MiniModule A", 457));
    EXPECT_EQ(slow.Status(), usbwire::kStatusClockRange);
    EXPECT_TRUE(fake::Written(0).empty());
    slow.Close();
    std::vector<std::string> expected = {"FT_CreateDeviceInfoList() = 0", "FT_GetDeviceInfoList(2) = 0",
                                         "FT_OpenEx(QBX0001A,1) = 0", "FT_Close(0) = 0"};
    EXPECT_EQ(fake::Calls(), expected);
}

TEST_F(I2CTest, RateZeroAndRatesBeyondTheHoldCountFailCleanly)
{
    EXPECT_FALSE(i2c.Open("FT2232H MiniModule A", 0));
    EXPECT_EQ(i2c.Status(), usbwire::kStatusClockRange);
    i2c.Close();
    CUsbI2C fast;
    EXPECT_FALSE(fast.Open("FT2232H MiniModule A", 11000000));
    EXPECT_EQ(fast.Status(), usbwire::kStatusClockRange);
    EXPECT_TRUE(fake::Written(0).empty());

    EXPECT_EQ(I2C_Open("FT2232H MiniModule A", 0), nullptr);
    EXPECT_EQ(I2C_Open("FT2232H MiniModule A", 457), nullptr);
    EXPECT_EQ(I2C_Open("FT2232H MiniModule X", 100000), nullptr);
    EXPECT_EQ(I2C_Open(nullptr, 100000), nullptr);
}

// ---- START, STOP, bytes -------------------------------------------------------------------------

TEST_F(I2CTest, StartAndStopAre153BytesEachAt100kHz)
{
    Open();
    i2c.QueueStart();
    EXPECT_EQ(i2c.Command(), Start(25));
    EXPECT_EQ(i2c.Command().size(), 153u);
    i2c.ClearQueues();
    i2c.QueueStop();
    EXPECT_EQ(i2c.Command(), Stop(25));
    EXPECT_EQ(i2c.Command().size(), 153u);
}

TEST_F(I2CTest, StartAt400kHzHoldsSixWrites)
{
    Open(400000);
    i2c.QueueStart();
    EXPECT_EQ(i2c.Command(), Start(6));
}

TEST_F(I2CTest, QueuedBytesAndTheirPendingReplies)
{
    Open();
    i2c.QueueWriteByte(0xA5);
    i2c.QueueReadByte(false);
    i2c.QueueReadByte(true);
    std::vector<uint8_t> expected = WriteByte(0xA5);
    fake::Append(expected, ReadByte(false));
    fake::Append(expected, ReadByte(true));
    EXPECT_EQ(i2c.Command(), expected);
    ASSERT_EQ(i2c.PendingReads().size(), 6u);
    const uint8_t bits[6] = {8, 1, 8, 1, 8, 1};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(i2c.PendingReads()[i].bits, bits[i]);
}

TEST_F(I2CTest, CollectRepliesMasksEachByteToItsBits)
{
    Open();
    i2c.AddPendingRead(8);
    i2c.AddPendingRead(1);
    i2c.AddPendingRead(3);
    const uint8_t replies[3] = {0xC3, 0xFE, 0xFD};
    F.InjectReply(0, replies, 3);
    uint8_t out[3] = {};
    ASSERT_TRUE(i2c.CollectReplies(out));
    EXPECT_EQ(out[0], 0xC3);
    EXPECT_EQ(out[1], 0x00);
    EXPECT_EQ(out[2], 0x05);
    EXPECT_TRUE(i2c.PendingReads().empty());
}

// ---- transfers --------------------------------------------------------------------------------

TEST_F(I2CTest, WriteWithStopIsTwoTransactionsByteForByte)
{
    Open();
    const uint8_t data[1] = {0x05};
    ASSERT_EQ(i2c.Write(kBridge, data, 1, true), 0);
    std::vector<uint8_t> expected = Start(25);
    fake::Append(expected, WriteByte(0x30));
    fake::Append(expected, {0x87});
    fake::Append(expected, WriteByte(0x05));
    fake::Append(expected, Stop(25));
    fake::Append(expected, {0x87});
    EXPECT_EQ(fake::Written(0), expected);
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{160, 160}));
    EXPECT_EQ(fake::I2CTrace(0), "S 30+ 05+ P");
    EXPECT_FALSE(i2c.BusHeld());
}

TEST_F(I2CTest, WriteClearsTheReadBitOfTheAddress)
{
    Open();
    const uint8_t data[2] = {0xE1, 0xF0};
    ASSERT_EQ(i2c.Write(0x31, data, 2, true), 0);
    EXPECT_EQ(fake::I2CTrace(0), "S 30+ E1+ F0+ P");
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{160, 7, 160}));
}

TEST_F(I2CTest, AddressNotAcknowledgedGivesOneAndAStop)
{
    Open();
    F.SetI2CSlave(0x19);
    const uint8_t data[1] = {0x05};
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), 1);
    EXPECT_EQ(fake::I2CTrace(0), "S 30- P");
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{160, 153}));
    EXPECT_FALSE(i2c.BusHeld());
    uint8_t buffer[1];
    EXPECT_EQ(i2c.Read(kBridge, buffer, 1, true), 1);
}

TEST_F(I2CTest, AddressReadBackDifferentGivesTwoAndAStop)
{
    Open();
    F.SetI2CJam(0);
    EXPECT_EQ(i2c.Write(kBridge, nullptr, 0, true), 2);
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{160, 153}));
    std::vector<uint8_t> bytes = fake::Written(0);
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 153, bytes.end()), Stop(25));
}

TEST_F(I2CTest, DataByteNotAcknowledgedStopsTheTransfer)
{
    Open();
    F.SetI2CNack(2);
    const uint8_t data[3] = {0x11, 0x22, 0x33};
    EXPECT_EQ(i2c.Write(kBridge, data, 3, true), 1);
    EXPECT_EQ(fake::I2CTrace(0), "S 30+ 11+ 22- P");
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{160, 7, 7, 153}));
    EXPECT_FALSE(i2c.BusHeld());
}

TEST_F(I2CTest, LastByteNotAcknowledgedWithStopSendsNoSecondStop)
{
    Open();
    F.SetI2CNack(1);
    const uint8_t data[1] = {0x11};
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), 1);
    EXPECT_EQ(fake::I2CTrace(0), "S 30+ 11- P");
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{160, 160}));
}

TEST_F(I2CTest, DataByteReadBackDifferentGivesTwo)
{
    Open();
    F.SetI2CJam(1);
    const uint8_t data[2] = {0x11, 0x22};
    EXPECT_EQ(i2c.Write(kBridge, data, 2, false), 2);
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{160, 7, 153}));
    EXPECT_FALSE(i2c.BusHeld());
}

TEST_F(I2CTest, WriteOfNoBytesSendsStartAndAddressAndKeepsTheBus)
{
    Open();
    EXPECT_EQ(i2c.Write(kBridge, nullptr, 0, true), 0);
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{160}));
    EXPECT_EQ(fake::I2CTrace(0), "S 30+");
    EXPECT_TRUE(i2c.BusHeld());
}

TEST_F(I2CTest, SecondWriteWithoutStopContinuesTheTransfer)
{
    Open();
    const uint8_t first[1] = {0x01};
    const uint8_t second[1] = {0x02};
    ASSERT_EQ(i2c.Write(kBridge, first, 1, false), 0);
    EXPECT_TRUE(i2c.BusHeld());
    ASSERT_EQ(i2c.Write(kBridge, second, 1, false), 0);
    // No START and no address the second time.
    EXPECT_EQ(fake::WriteSizes(0), (std::vector<size_t>{160, 7, 7}));
    EXPECT_EQ(fake::I2CTrace(0), "S 30+ 01+ 02+");
    ASSERT_EQ(i2c.Write(kBridge, nullptr, 0, true), 0);  // nothing to send: no STOP either
    EXPECT_TRUE(i2c.BusHeld());
}

TEST_F(I2CTest, WriteThenReadUsesARepeatedStart)
{
    Open();
    const uint8_t reg[1] = {0xE1};
    const uint8_t answer[1] = {0x5A};
    F.SetI2CReadData(answer, 1);
    ASSERT_EQ(i2c.Write(kBridge, reg, 1, false), 0);
    uint8_t buffer[1] = {};
    ASSERT_EQ(i2c.Read(kBridge, buffer, 1, true), 0);
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_EQ(fake::I2CTrace(0), "S 30+ E1+ S 31+ r5A- P");
    // The repeated START: pin value 0x00 (SCL low after the byte) rises to 0x03, then the START.
    std::vector<uint8_t> bytes = fake::Written(0);
    std::vector<uint8_t> third(bytes.begin() + 167, bytes.begin() + 167 + 160);
    std::vector<uint8_t> expected = Start(25);
    fake::Append(expected, WriteByte(0x31));
    fake::Append(expected, {0x87});
    EXPECT_EQ(fake::Hex(third), fake::Hex(expected));
    EXPECT_FALSE(i2c.BusHeld());
}

TEST_F(I2CTest, ReadWithStopAcknowledgesAllButTheLastByte)
{
    Open();
    const uint8_t answer[3] = {0xA5, 0x00, 0xFF};
    F.SetI2CReadData(answer, 3);
    uint8_t buffer[3] = {};
    ASSERT_EQ(i2c.Read(kBridge, buffer, 3, true), 0);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 3), std::vector<uint8_t>(answer, answer + 3));
    std::vector<uint8_t> expected = Start(25);
    fake::Append(expected, WriteByte(0x31));
    fake::Append(expected, {0x87});
    fake::Append(expected, ReadByte(false));
    fake::Append(expected, ReadByte(false));
    fake::Append(expected, ReadByte(true));
    fake::Append(expected, Stop(25));
    fake::Append(expected, {0x87});
    EXPECT_EQ(fake::Hex(fake::Written(0)), fake::Hex(expected));
    EXPECT_EQ(fake::I2CTrace(0), "S 31+ rA5+ r00+ rFF- P");
    EXPECT_FALSE(i2c.BusHeld());
}

TEST_F(I2CTest, ForcedLastNackEndsAReadWithoutStop)
{
    Open();
    const uint8_t answer[3] = {1, 2, 3};
    F.SetI2CReadData(answer, 3);
    i2c.ForceLastNack();
    uint8_t buffer[3] = {};
    ASSERT_EQ(i2c.Read(kBridge, buffer, 3, false), 0);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(fake::I2CTrace(0), "S 31+ r01+ r02+ r03-");
    EXPECT_TRUE(i2c.BusHeld());
    EXPECT_FALSE(i2c.ForceNackPending());
    std::vector<uint8_t> bytes = fake::Written(0);
    std::vector<uint8_t> tail(bytes.end() - 7, bytes.end());
    std::vector<uint8_t> expected = ReadByte(true);
    fake::Append(expected, {0x87});
    EXPECT_EQ(tail, expected);
}

TEST_F(I2CTest, ForcedNackWaitsForTheLastByteOfARead)
{
    Open();
    I2C_ForceLastAcknH(&i2c);
    EXPECT_TRUE(i2c.ForceNackPending());
    const uint8_t data[1] = {7};
    ASSERT_EQ(i2c.Write(kBridge, data, 1, true), 0);  // writes leave it alone
    EXPECT_TRUE(i2c.ForceNackPending());
    uint8_t buffer[2];
    ASSERT_EQ(i2c.Read(kBridge, buffer, 2, true), 0);  // a read with STOP clears it too
    EXPECT_FALSE(i2c.ForceNackPending());
}

// ---- general-purpose lines ----------------------------------------------------------------------

TEST_F(I2CTest, GpioDirectionTakesEffectWithTheNextPinWrite)
{
    Open();
    i2c.SetGpioDirection(4, 1);
    EXPECT_TRUE(fake::Written(0).empty());  // nothing sent
    EXPECT_EQ(i2c.PinDirection(), 0x83);
    ASSERT_TRUE(i2c.WriteGpio(4, 0));
    EXPECT_EQ(fake::Written(0), (std::vector<uint8_t>{0x80, 0x03, 0x83}));
    ASSERT_TRUE(i2c.WriteGpio(4, 1));
    ASSERT_TRUE(i2c.WriteGpio(0, 1));  // line 0 is TMS/CS, still an input
    EXPECT_EQ(fake::Written(0), (std::vector<uint8_t>{0x80, 0x03, 0x83, 0x80, 0x83, 0x83, 0x80, 0x8B, 0x83}));
    i2c.SetGpioDirection(4, 0);
    i2c.SetGpioDirection(1, 0xFF);
    EXPECT_EQ(i2c.PinDirection(), 0x13);
}

TEST_F(I2CTest, GpioLinesOutsideZeroToFourChangeNothing)
{
    Open();
    i2c.SetGpioDirection(5, 1);
    i2c.SetGpioDirection(-1, 1);
    i2c.SetGpioDirection(1000, 1);
    EXPECT_EQ(i2c.PinDirection(), 0x03);
    ASSERT_TRUE(i2c.WriteGpio(-3, 1));
    EXPECT_EQ(fake::Written(0), (std::vector<uint8_t>{0x80, 0x03, 0x03}));
}

TEST_F(I2CTest, GpioLinesShowInTheStartAndStopRuns)
{
    Open();
    I2C_GPIODirection(&i2c, 4, 1);
    ASSERT_EQ(I2C_GPIOWrite(&i2c, 4, 1), 1);
    F.ClearLogs();
    ASSERT_EQ(i2c.Write(kBridge, nullptr, 0, true), 0);
    std::vector<uint8_t> expected = Start(25, 0x80, 0x83);
    fake::Append(expected, WriteByte(0x30));
    fake::Append(expected, {0x87});
    EXPECT_EQ(fake::Written(0), expected);
}

// ---- failures -----------------------------------------------------------------------------------

TEST_F(I2CTest, NullHandlesAreRefused)
{
    uint8_t buffer[1] = {0};
    EXPECT_EQ(I2C_Write(nullptr, kBridge, buffer, 1, 1), -1);
    EXPECT_EQ(I2C_Read(nullptr, kBridge, buffer, 1, 1), -1);
    EXPECT_EQ(I2C_GPIOWrite(nullptr, 4, 1), -1);
    I2C_ForceLastAcknH(nullptr);
    I2C_GPIODirection(nullptr, 4, 1);
    I2C_Close(nullptr);
    EXPECT_TRUE(fake::Calls().empty());
}

TEST_F(I2CTest, NullBuffersWithACountAreRefused)
{
    Open();
    EXPECT_EQ(i2c.Write(kBridge, nullptr, 2, true), -1);
    EXPECT_EQ(i2c.Read(kBridge, nullptr, 2, true), -1);
    EXPECT_TRUE(fake::Written(0).empty());
}

TEST_F(I2CTest, MissingRepliesFailWithStatus20)
{
    Open();
    F.SetMute(1);
    const uint8_t data[1] = {1};
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), -1);
    EXPECT_EQ(i2c.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 5000u);
    EXPECT_TRUE(i2c.PendingReads().empty());
}

TEST_F(I2CTest, FailedFlushDropsItsPendingRepliesSoTheNextTransferIsClean)
{
    Open();
    F.FailCall("FT_Write", 0, 1, FT_IO_ERROR);
    const uint8_t data[1] = {1};
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), -1);
    EXPECT_EQ(i2c.Status(), uint32_t{FT_IO_ERROR});
    EXPECT_TRUE(i2c.PendingReads().empty());
    // After a USB failure the bus state is unknown: the next transfer begins with a START.
    EXPECT_FALSE(i2c.BusHeld());
    // It waits only for its own replies: no time-out, success.
    uint32_t before = Elapsed();
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), 0);
    EXPECT_LT(Elapsed() - before, 100u);
    EXPECT_EQ(fake::I2CTrace(0), "S 30+ 01+ P");
}

TEST_F(I2CTest, FailedFlushInsideAReadAlsoDropsItsReplies)
{
    Open();
    ASSERT_EQ(i2c.Write(kBridge, nullptr, 0, false), 0);  // bus held: the read skips the address
    ASSERT_EQ(i2c.Read(kBridge | 1, nullptr, 0, false), 0);
    F.FailCall("FT_Write", 0, 1, FT_IO_ERROR);
    uint8_t buffer[4];
    EXPECT_EQ(i2c.Read(kBridge, buffer, 4, false), -1);
    EXPECT_TRUE(i2c.PendingReads().empty());
}

TEST_F(I2CTest, WritesThatNeverTakeABytePassAsAUsbFailure)
{
    Open();
    F.SetZeroWrites(1000000);
    const uint8_t data[1] = {1};
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), -1);
    EXPECT_EQ(i2c.Status(), uint32_t{FT_FAILED_TO_WRITE_DEVICE});
    EXPECT_EQ(I2C_GPIOWrite(&i2c, 4, 1), 0);
}

TEST_F(I2CTest, OpenAndCloseThroughTheExports)
{
    void* handle = I2C_Open("ft2232h minimodule a", 100000);
    ASSERT_NE(handle, nullptr);
    const uint8_t data[2] = {0xD2, 0xF0};
    EXPECT_EQ(I2C_Write(handle, kBridge, data, 2, 1), 0);
    uint8_t buffer[1];
    EXPECT_EQ(I2C_Read(handle, kBridge, buffer, 1, 1), 0);
    I2C_Close(handle);
    EXPECT_EQ(fake::Calls().back(), "FT_Close(0) = 0");
    EXPECT_EQ(fake::I2CTrace(0), "S 30+ D2+ F0+ P S 31+ rFF- P");
}

TEST_F(I2CTest, FailedSetupClosesTheDeviceAndReturnsNull)
{
    F.FailCall("FT_SetBitMode", 1, 1, FT_IO_ERROR);
    EXPECT_EQ(I2C_Open("FT2232H MiniModule A", 100000), nullptr);
    EXPECT_EQ(fake::Calls().back(), "FT_Close(0) = 0");
    // The channel is free again.
    void* handle = I2C_Open("FT2232H MiniModule A", 100000);
    EXPECT_NE(handle, nullptr);
    I2C_Close(handle);
}
