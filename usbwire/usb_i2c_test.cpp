#include "usb_i2c.h"

#include "fake_fixture.h"
#include "usbwire.h"

using usbwire::CUsbI2C;

namespace {

using Bytes = std::vector<uint8_t>;
using Sizes = std::vector<size_t>;

constexpr uint8_t kBridge = 0x30;  // the slave's 8-bit address (7-bit 0x18)

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// hold pin writes of each level in turn, then one of the last level.
Bytes PinRun(size_t hold, uint8_t first, uint8_t second, uint8_t last, uint8_t direction)
{
    Bytes bytes;
    for (uint8_t level : {first, second})
        for (size_t i = 0; i < hold; ++i)
            bytes = bytes + Bytes{0x80, level, direction};
    return bytes + Bytes{0x80, last, direction};
}
// START and STOP, with the general-purpose bits of the pin value in gpio.
Bytes Start(size_t hold, uint8_t gpio = 0, uint8_t direction = 0x03)
{
    return PinRun(hold, gpio | 0x03, gpio | 0x01, gpio, direction);
}
Bytes Stop(size_t hold) { return PinRun(hold, 0x00, 0x01, 0x03, 0x03); }
Bytes WriteByte(uint8_t byte) { return {0x37, 0x07, byte, 0x37, 0x00, 0xFF}; }
Bytes ReadByte(bool nack) { return {0x37, 0x07, 0xFF, 0x37, 0x00, static_cast<uint8_t>(nack ? 0xFF : 0x00)}; }

class I2CTest : public FakeDriverTest {
protected:
    void Open(uint32_t rate = 100000)
    {
        ASSERT_TRUE(i2c.Open("FT2232H MiniModule A", rate));
        F.ClearLogs();
    }
    const Bytes& Written() { return F.devices[0].written; }
    const Sizes& WriteSizes() { return F.devices[0].writeSizes; }
    const std::string& Trace() { return F.devices[0].trace; }

    CUsbI2C i2c;
};

}  // namespace

// ---- open, clock rates, START and STOP --------------------------------------------------------

TEST_F(I2CTest, ClockRatesDivisorsAndStartStopLengths)
{
    const struct {
        uint32_t rate;
        int32_t divisor;   // -1: open fails with status 22 without touching the bus
        size_t hold;       // pin writes per phase of START and STOP
    } cases[] = {{100000, 299, 25}, {400000, 74, 6}, {458, 65501, 5458}, {457, -1, 0},
                 {0, -1, 0},        {11000000, -1, 0}};
    for (const auto& c : cases) {
        F.Reset();
        CUsbI2C master;
        EXPECT_EQ(master.Open("FT2232H MiniModule A", c.rate), c.divisor >= 0) << c.rate;
        if (c.divisor < 0) {
            EXPECT_EQ(master.Status(), usbwire::kStatusClockRange) << c.rate;
            EXPECT_TRUE(F.devices[0].written.empty()) << c.rate;
            continue;
        }
        EXPECT_EQ(F.devices[0].written, SetupBytes(0x03, 0x03, static_cast<uint16_t>(c.divisor))) << c.rate;
        master.QueueStart();
        EXPECT_EQ(master.Command(), Start(c.hold)) << c.rate;
        master.ClearQueues();
        master.QueueStop();
        EXPECT_EQ(master.Command(), Stop(c.hold)) << c.rate;
    }
}

// ---- transfers --------------------------------------------------------------------------------

TEST_F(I2CTest, WriteWithStopIsTwoTransactionsByteForByte)
{
    Open();
    const uint8_t data[2] = {0x05, 0xE1};
    ASSERT_EQ(i2c.Write(0x31, data, 2, true), 0);  // the read bit of the address is cleared
    EXPECT_EQ(Written(), Start(25) + WriteByte(0x30) + Bytes{0x87} + WriteByte(0x05) + Bytes{0x87} +
                             WriteByte(0xE1) + Stop(25) + Bytes{0x87});
    EXPECT_EQ(WriteSizes(), (Sizes{160, 7, 160}));
    EXPECT_EQ(Trace(), "S 30+ 05+ E1+ P");
    EXPECT_FALSE(i2c.BusHeld());
}

TEST_F(I2CTest, WriteOutcomes)
{
    const struct {
        const char* name;
        unsigned slave;
        int nack;
        int jam;
        Bytes data;
        bool stop;
        int result;
        Sizes sizes;  // the writes: a STOP of its own is 153 bytes
        std::string trace;
        bool held;
    } cases[] = {
        {"address not acknowledged", 0x19, -1, -1, {0x05}, true, 1, {160, 153}, "S 30- P", false},
        {"address read back differs", 0x18, -1, 0, {}, true, 2, {160, 153}, "S 00- P", false},
        {"data byte not acknowledged", 0x18, 2, -1, {0x11, 0x22, 0x33}, true, 1, {160, 7, 7, 153},
         "S 30+ 11+ 22- P", false},
        {"last byte not acknowledged: no second STOP", 0x18, 1, -1, {0x11}, true, 1, {160, 160}, "S 30+ 11- P", false},
        {"data byte read back differs", 0x18, -1, 1, {0x11, 0x22}, false, 2, {160, 7, 153}, "S 30+ 00+ P", false},
        {"no bytes: START and address only, the bus stays held", 0x18, -1, -1, {}, true, 0, {160}, "S 30+", true},
    };
    for (const auto& c : cases) {
        F.Reset();
        CUsbI2C master;
        ASSERT_TRUE(master.Open("FT2232H MiniModule A", 100000));
        F.ClearLogs();
        F.slave = c.slave;
        F.nackIndex = c.nack;
        F.jamIndex = c.jam;
        EXPECT_EQ(I2C_Write(&master, kBridge, c.data.data(), static_cast<unsigned>(c.data.size()), c.stop), c.result)
            << c.name;
        EXPECT_EQ(F.devices[0].writeSizes, c.sizes) << c.name;
        EXPECT_EQ(F.devices[0].trace, c.trace) << c.name;
        EXPECT_EQ(master.BusHeld(), c.held) << c.name;
        const Bytes& written = F.devices[0].written;
        if (c.sizes.back() == 153) {
            EXPECT_EQ(Bytes(written.end() - 153, written.end()), Stop(25)) << c.name;
        }
    }
}

TEST_F(I2CTest, HeldBusContinuesForTheSameAddressAndRepeatsStartForAnother)
{
    Open();
    const uint8_t first[1] = {0x01};
    const uint8_t second[1] = {0x02};
    const uint8_t answer[1] = {0x5A};
    F.readData.assign(answer, answer + 1);
    ASSERT_EQ(I2C_Write(&i2c, kBridge, first, 1, 0), 0);
    ASSERT_EQ(I2C_Write(&i2c, kBridge, second, 1, 0), 0);  // no START, no address
    ASSERT_EQ(I2C_Write(&i2c, kBridge, nullptr, 0, 1), 0);  // nothing to send: no STOP either
    EXPECT_TRUE(i2c.BusHeld());
    uint8_t buffer[1] = {};
    ASSERT_EQ(I2C_Read(&i2c, kBridge, buffer, 1, 1), 0);
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_EQ(Trace(), "S 30+ 01+ 02+ S 31+ r5A- P");
    EXPECT_EQ(WriteSizes(), (Sizes{160, 7, 7, 160, 160}));
    // The repeated START: SDA and SCL rise together from the held bus (pin value 0x00), then START.
    EXPECT_EQ(Bytes(Written().begin() + 174, Written().begin() + 334), Start(25) + WriteByte(0x31) + Bytes{0x87});
    EXPECT_FALSE(i2c.BusHeld());
}

TEST_F(I2CTest, ReadWithStopAcknowledgesAllButTheLastByte)
{
    Open();
    F.readData = {0xA5, 0x00, 0xFF};
    uint8_t buffer[3] = {};
    ASSERT_EQ(i2c.Read(kBridge, buffer, 3, true), 0);
    EXPECT_EQ(Bytes(buffer, buffer + 3), F.readData);
    EXPECT_EQ(Written(), Start(25) + WriteByte(0x31) + Bytes{0x87} + ReadByte(false) + ReadByte(false) +
                             ReadByte(true) + Stop(25) + Bytes{0x87});
    EXPECT_EQ(Trace(), "S 31+ rA5+ r00+ rFF- P");
    EXPECT_FALSE(i2c.BusHeld());
}

TEST_F(I2CTest, ForcedLastNackWaitsForTheLastByteOfAReadAndKeepsTheBus)
{
    Open();
    F.readData = {1, 2, 3};
    I2C_ForceLastAcknH(&i2c);
    const uint8_t data[1] = {7};
    ASSERT_EQ(i2c.Write(kBridge, data, 1, true), 0);  // writes leave it alone
    EXPECT_TRUE(i2c.ForceNackPending());
    F.ClearLogs();
    uint8_t buffer[3] = {};
    ASSERT_EQ(i2c.Read(kBridge, buffer, 3, false), 0);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(Trace(), "S 31+ r01+ r02+ r03-");  // no STOP
    EXPECT_EQ(Bytes(Written().end() - 7, Written().end()), ReadByte(true) + Bytes{0x87});
    EXPECT_TRUE(i2c.BusHeld());
    EXPECT_FALSE(i2c.ForceNackPending());

    i2c.ForceLastNack();
    ASSERT_EQ(i2c.Read(kBridge, buffer, 2, true), 0);  // a read with STOP clears it too
    EXPECT_FALSE(i2c.ForceNackPending());
}

// ---- general-purpose lines ----------------------------------------------------------------------

TEST_F(I2CTest, GpioDirectionTakesEffectWithTheNextPinWrite)
{
    Open();
    I2C_GPIODirection(&i2c, 4, 1);
    I2C_GPIODirection(&i2c, 5, 1);  // lines outside 0..4 change nothing
    I2C_GPIODirection(&i2c, -1, 1);
    EXPECT_TRUE(Written().empty());
    ASSERT_EQ(I2C_GPIOWrite(&i2c, 4, 0), 1);
    ASSERT_EQ(I2C_GPIOWrite(&i2c, 4, 1), 1);
    ASSERT_EQ(I2C_GPIOWrite(&i2c, 0, 1), 1);  // line 0 is TMS/CS, still an input
    ASSERT_EQ(I2C_GPIOWrite(&i2c, -3, 1), 1);
    EXPECT_EQ(Written(), (Bytes{0x80, 0x03, 0x83, 0x80, 0x83, 0x83, 0x80, 0x8B, 0x83, 0x80, 0x8B, 0x83}));
    i2c.SetGpioDirection(4, 0);
    i2c.SetGpioDirection(1, 0xFF);
    EXPECT_EQ(i2c.PinDirection(), 0x13);

    // The lines keep their levels through START and STOP.
    i2c.SetGpioDirection(4, 1);
    i2c.SetGpioDirection(1, 0);
    F.ClearLogs();
    ASSERT_EQ(i2c.Write(kBridge, nullptr, 0, true), 0);
    EXPECT_EQ(Written(), Start(25, 0x88, 0x83) + WriteByte(0x30) + Bytes{0x87});
}

// ---- failures -----------------------------------------------------------------------------------

TEST_F(I2CTest, UsbFailuresDropThePendingRepliesSoTheNextTransferIsClean)
{
    Open();
    EXPECT_EQ(i2c.Write(kBridge, nullptr, 2, true), -1);  // null buffers with a count: nothing sent
    EXPECT_EQ(i2c.Read(kBridge, nullptr, 2, true), -1);
    EXPECT_TRUE(Written().empty());
    const uint8_t data[1] = {1};
    F.mute = true;  // missing replies: status 20
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), -1);
    EXPECT_EQ(i2c.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 5000u);
    EXPECT_TRUE(i2c.PendingReads().empty());

    F.mute = false;
    F.ClearLogs();
    F.FailCall("FT_Write", 0, FT_IO_ERROR);
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), -1);
    EXPECT_EQ(i2c.Status(), uint32_t{FT_IO_ERROR});
    EXPECT_TRUE(i2c.PendingReads().empty());
    EXPECT_FALSE(i2c.BusHeld());  // the bus state is unknown: the next transfer begins with a START
    // It waits only for its own replies: no time-out, success.
    uint32_t before = Elapsed();
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), 0);
    EXPECT_LT(Elapsed() - before, 100u);
    EXPECT_EQ(Trace(), "S 30+ 01+ P");

    // The same inside a read that continues a held bus.
    ASSERT_EQ(i2c.Read(kBridge, nullptr, 0, false), 0);
    F.FailCall("FT_Write", 0, FT_IO_ERROR);
    uint8_t buffer[4];
    EXPECT_EQ(i2c.Read(kBridge, buffer, 4, false), -1);
    EXPECT_TRUE(i2c.PendingReads().empty());
    F.FailCall("FT_Write", 0, FT_IO_ERROR);
    EXPECT_EQ(I2C_GPIOWrite(&i2c, 4, 1), 0);
}

TEST_F(I2CTest, FailedSetupClosesTheDeviceAndReturnsNull)
{
    F.FailCall("FT_SetBitMode", 1, FT_IO_ERROR);
    EXPECT_EQ(I2C_Open("FT2232H MiniModule A", 100000), nullptr);
    EXPECT_EQ(F.log.back(), "FT_Close(0) = 0");
    void* handle = I2C_Open("FT2232H MiniModule A", 100000);  // the channel is free again
    EXPECT_NE(handle, nullptr);
    I2C_Close(handle);
    EXPECT_EQ(F.log.back(), "FT_Close(0) = 0");
}
