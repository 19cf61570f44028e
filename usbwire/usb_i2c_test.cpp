#include "usb_i2c.h"

#include "fake_fixture.h"
#include "usbwire.h"

using usbwire::CUsbI2C;

namespace {

using Bytes = std::vector<uint8_t>;
using Sizes = std::vector<size_t>;

constexpr uint8_t kBridge = 0x30;  // the slave's 8-bit address (7-bit 0x18)

class I2CTest : public FakeDriverTest {
protected:
    void Open()
    {
        ASSERT_TRUE(i2c.Open("FT2232H MiniModule A", 100000));
        F.ClearLogs();
    }
    fake::Device& A() { return F.devices[0]; }

    CUsbI2C i2c;
};

}  // namespace

// SCL runs at the rate; a START and a STOP hold each level for a time that scales with the bit.
TEST_F(I2CTest, RatesSetTheClockAndTheLengthOfStartAndStop)
{
    const struct {
        uint32_t rate;
        double hz;    // 0: open fails with status 22 without touching the bus
        size_t hold;  // pin writes per phase of START and STOP
    } cases[] = {{100000, 100000, 25}, {400000, 400000, 6}, {458, 458.0, 5458}, {457, 0, 0}, {0, 0, 0},
                 {11000000, 0, 0}};
    for (const auto& c : cases) {
        F.Reset();
        CUsbI2C master;
        ASSERT_EQ(master.Open("FT2232H MiniModule A", c.rate), c.hz > 0) << c.rate;
        if (c.hz == 0) {
            EXPECT_EQ(master.Status(), usbwire::kStatusClockRange) << c.rate;
            EXPECT_TRUE(A().written.empty()) << c.rate;
            continue;
        }
        EXPECT_NEAR(A().ClockHz(), c.hz, 0.01) << c.rate;
        EXPECT_EQ(std::tuple(A().lowValue, A().lowDirection), std::tuple(0x03, 0x03)) << "SCL and SDA high";
        F.ClearLogs();
        F.slave = 0x19;  // START and address, not acknowledged, STOP
        EXPECT_EQ(master.Write(kBridge, nullptr, 0, true), 1);
        EXPECT_EQ(A().trace, "S 30- P");
        const size_t condition = 3 * (2 * c.hold + 1);  // of 3-byte pin writes
        EXPECT_EQ(A().written.size(), 2 * condition + 7) << c.rate;
    }
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
        Sizes sizes;  // the writes: START and address 160 bytes, a byte 7, a STOP of its own 153
        std::string trace;
        bool held;
    } cases[] = {
        {"acknowledged: STOP with the last byte", 0x18, -1, -1, {0x05, 0xE1}, true, 0, {160, 7, 160},
         "S 30+ 05+ E1+ P", false},
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
        // The read bit of the address byte is cleared.
        EXPECT_EQ(I2C_Write(&master, kBridge | 1, c.data.data(), static_cast<unsigned>(c.data.size()), c.stop),
                  c.result)
            << c.name;
        EXPECT_EQ(A().writeSizes, c.sizes) << c.name;
        EXPECT_EQ(A().trace, c.trace) << c.name;
        EXPECT_EQ(master.BusHeld(), c.held) << c.name;
    }
}

TEST_F(I2CTest, HeldBusContinuesForTheSameAddressAndRepeatsStartForAnother)
{
    Open();
    const uint8_t first[1] = {0x01};
    const uint8_t second[1] = {0x02};
    F.readData = {0x5A};
    ASSERT_EQ(I2C_Write(&i2c, kBridge, first, 1, 0), 0);
    ASSERT_EQ(I2C_Write(&i2c, kBridge, second, 1, 0), 0);  // no START, no address
    ASSERT_EQ(I2C_Write(&i2c, kBridge, nullptr, 0, 1), 0);  // nothing to send: no STOP either
    EXPECT_TRUE(i2c.BusHeld());
    uint8_t buffer[1] = {};
    ASSERT_EQ(I2C_Read(&i2c, kBridge, buffer, 1, 1), 0);
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_EQ(A().trace, "S 30+ 01+ 02+ S 31+ r5A- P");
    EXPECT_EQ(A().writeSizes, (Sizes{160, 7, 7, 160, 160}));
    EXPECT_FALSE(i2c.BusHeld());
}

TEST_F(I2CTest, ReadsAcknowledgeEveryByteButTheLastOfAStopOrAForcedNack)
{
    Open();
    F.readData = {0xA5, 0x00, 0xFF, 0x01};
    uint8_t buffer[2] = {};
    ASSERT_EQ(i2c.Read(kBridge, buffer, 2, false), 0);
    EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{0xA5, 0x00}));
    EXPECT_EQ(A().writeSizes.size(), 2u);  // the address, then every byte of the read at once
    I2C_ForceLastAcknH(&i2c);
    ASSERT_EQ(i2c.Read(kBridge, buffer, 1, false), 0);  // continues the held bus
    EXPECT_TRUE(i2c.BusHeld());
    EXPECT_FALSE(i2c.ForceNackPending());
    i2c.ForceLastNack();
    const uint8_t data[1] = {7};
    ASSERT_EQ(i2c.Write(kBridge, data, 1, true), 0);  // writes leave it pending
    EXPECT_TRUE(i2c.ForceNackPending());
    ASSERT_EQ(i2c.Read(kBridge, buffer, 1, true), 0);  // a read with STOP clears it too
    EXPECT_FALSE(i2c.ForceNackPending());
    EXPECT_EQ(A().trace, "S 31+ rA5+ r00+ rFF- S 30+ 07+ P S 31+ r01- P");
}

// General-purpose line p is low-byte bit p + 3: TMS/CS, then GPIOL0..3.
TEST_F(I2CTest, GpioLinesTakeTheirDirectionWithTheNextPinWriteAndKeepTheirLevels)
{
    Open();
    I2C_GPIODirection(&i2c, 4, 1);
    I2C_GPIODirection(&i2c, 5, 1);  // lines outside 0..4 change nothing
    I2C_GPIODirection(&i2c, -1, 1);
    EXPECT_TRUE(A().written.empty());
    ASSERT_EQ(I2C_GPIOWrite(&i2c, 4, 1), 1);
    ASSERT_EQ(I2C_GPIOWrite(&i2c, 0, 1), 1);  // TMS/CS: latched, still an input
    ASSERT_EQ(I2C_GPIOWrite(&i2c, -3, 1), 1);
    EXPECT_EQ(std::tuple(A().lowValue, A().lowDirection), std::tuple(0x8B, 0x83));
    const uint8_t data[1] = {1};
    ASSERT_EQ(i2c.Write(kBridge, data, 1, true), 0);
    EXPECT_EQ(A().trace, "S 30+ 01+ P");
    EXPECT_EQ(A().lowValue, 0x8B);  // through START and STOP
}

TEST_F(I2CTest, UsbFailuresDropThePendingRepliesSoTheNextTransferIsClean)
{
    Open();
    EXPECT_EQ(i2c.Write(kBridge, nullptr, 2, true), -1);  // null buffers with a count: nothing sent
    EXPECT_EQ(i2c.Read(kBridge, nullptr, 2, true), -1);
    EXPECT_TRUE(A().written.empty());
    const uint8_t data[1] = {1};
    F.mute = true;  // missing replies: status 20
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), -1);
    EXPECT_EQ(i2c.Status(), usbwire::kStatusTimeout);
    EXPECT_GT(Elapsed(), 5000u);
    EXPECT_TRUE(i2c.PendingReads().empty());
    EXPECT_FALSE(i2c.BusHeld());  // the bus state is unknown: the next transfer begins with a START

    F.mute = false;
    F.ClearLogs();
    F.FailCall("FT_Write", 0, FT_IO_ERROR);
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), -1);
    EXPECT_EQ(i2c.Status(), uint32_t{FT_IO_ERROR});
    uint32_t before = Elapsed();  // the next transfer waits only for its own replies
    EXPECT_EQ(i2c.Write(kBridge, data, 1, true), 0);
    EXPECT_LT(Elapsed() - before, 100u);
    EXPECT_EQ(A().trace, "S 30+ 01+ P");

    // The same inside a read that continues a held bus.
    ASSERT_EQ(i2c.Read(kBridge, nullptr, 0, false), 0);
    F.FailCall("FT_Write", 0, FT_IO_ERROR);
    uint8_t buffer[4];
    EXPECT_EQ(i2c.Read(kBridge, buffer, 4, false), -1);
    EXPECT_TRUE(i2c.PendingReads().empty());
    EXPECT_FALSE(i2c.BusHeld());
    F.FailCall("FT_Write", 0, FT_IO_ERROR);
    EXPECT_EQ(I2C_GPIOWrite(&i2c, 4, 1), 0);
}
