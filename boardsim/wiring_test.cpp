#include "wiring.h"

#include <gtest/gtest.h>

#include "boardsim_test_support.h"
#include "mpsse.h"

namespace qbxsim {
namespace {

using Bytes = std::vector<uint8_t>;

class FakeWireDevice : public OneWireDevice {
public:
    uint64_t Rom() const override { return 0x20; }
    void PowerOn() override { ++powerOns; }
    bool Reset() override { return true; }
    bool Slot(bool masterBit) override { return masterBit; }
    bool JtagSwitchConducts() const override { return conducts; }
    bool conducts = true;
    int powerOns = 0;
};

class ChannelBTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        m_Layout = testing::TinyLayout(m_Dir, &error);
        ASSERT_TRUE(m_Layout) << error;
    }
    void Build(std::vector<_SIMBOARDSPEC> specs)
    {
        std::vector<std::unique_ptr<CSimBoard>> boards;
        m_Devices.clear();
        for (const _SIMBOARDSPEC& spec : specs) {
            auto device = std::make_unique<FakeWireDevice>();
            m_Devices.push_back(device.get());
            std::vector<std::unique_ptr<OneWireDevice>> wire;
            wire.push_back(std::move(device));
            boards.push_back(std::make_unique<CSimBoard>(spec, m_Layout, std::move(wire)));
        }
        m_Socket = std::make_unique<CSimSocket>(std::move(boards), m_Bus);
        m_Wiring = std::make_unique<CJtagWiring>(*m_Socket, m_Bus);
        m_Engine = std::make_unique<CMpsseEngine>(m_Wiring.get());
        m_Engine->SetBitMode(0, 0x02);
    }
    static _SIMBOARDSPEC Spec(int address, std::vector<std::optional<uint32_t>> ids, int tdoStuck = -1)
    {
        _SIMBOARDSPEC spec;
        spec.chainAddress = address;
        spec.idcodes = std::move(ids);
        spec.tdoStuck = tdoStuck;
        return spec;
    }
    Bytes Run(const Bytes& bytes)
    {
        Bytes reply;
        m_Engine->Write(bytes.data(), bytes.size(), reply);
        return reply;
    }
    // Selects the address, resets the TAPs and reads the first 32 bits of the IDCODE path.
    uint32_t ReadIdcode(unsigned address)
    {
        uint8_t pins = static_cast<uint8_t>(address << 4);
        Bytes reply = Run({0x80, pins, 0xFB, 0x4B, 0x04, 0x1F, 0x4B, 0x03, 0x02, 0x80, pins, 0xFB, 0x3B, 0x07, 0x00,
                           0x3B, 0x07, 0x00, 0x3B, 0x07, 0x00, 0x3B, 0x07, 0x00});
        EXPECT_EQ(reply.size(), 4u);
        uint32_t id = 0;
        for (size_t i = 0; i < reply.size(); ++i)
            id |= static_cast<uint32_t>(reply[i]) << (8 * i);
        return id;
    }

    testing::TempDir m_Dir;
    std::shared_ptr<const CBoundaryLayout> m_Layout;
    OneWireBus m_Bus;
    std::vector<FakeWireDevice*> m_Devices;
    std::unique_ptr<CSimSocket> m_Socket;
    std::unique_ptr<CJtagWiring> m_Wiring;
    std::unique_ptr<CMpsseEngine> m_Engine;
};

TEST_F(ChannelBTest, ChainAnswersOnlyOnItsAddressWhilePoweredAndSwitchedOn)
{
    Build({Spec(1, {0x11111111, 0x3E74E1CF})});
    EXPECT_EQ(ReadIdcode(1), 0xFFFFFFFFu) << "unpowered";
    m_Socket->SetPower(true);
    EXPECT_EQ(ReadIdcode(1), 0x3E74E1CFu);
    EXPECT_EQ(ReadIdcode(2), 0xFFFFFFFFu) << "another address";
    m_Devices[0]->conducts = false;
    EXPECT_EQ(ReadIdcode(1), 0xFFFFFFFFu) << "JTAG switch off";
    m_Devices[0]->conducts = true;
    EXPECT_EQ(ReadIdcode(1), 0x3E74E1CFu);
}

TEST_F(ChannelBTest, AddressLinesThatAreInputsReadHigh)
{
    Build({Spec(15, {0x3E74E1CF})});
    m_Socket->SetPower(true);
    Run({0x80, 0x00, 0x0B, 0x4B, 0x04, 0x1F, 0x4B, 0x03, 0x02});
    EXPECT_EQ(m_Wiring->Address(), 15u);
    EXPECT_EQ(Run({0x3B, 0x07, 0x00}), (Bytes{0xCF}));
}

TEST_F(ChannelBTest, StuckTdoHoldsItsLevel)
{
    Build({Spec(1, {0x3E74E1CF}, 0)});
    m_Socket->SetPower(true);
    EXPECT_EQ(ReadIdcode(1), 0u);
    EXPECT_EQ(Run({0x81})[0] & kPinTdo, 0);
}

TEST_F(ChannelBTest, BoardSequenceAdvancesOnEachPowerUpAfterTheFirst)
{
    Build({Spec(1, {0x11111111}), Spec(1, {0x22222223})});
    EXPECT_EQ(m_Socket->Current(), m_Socket->Current());
    m_Socket->SetPower(true);
    EXPECT_EQ(ReadIdcode(1), 0x11111111u);
    EXPECT_EQ(m_Devices[0]->powerOns, 1);
    m_Socket->SetPower(false);
    EXPECT_FALSE(m_Bus.Reset()) << "no presence while unpowered";
    m_Socket->SetPower(true);
    EXPECT_EQ(ReadIdcode(1), 0x22222223u);
    EXPECT_EQ(m_Devices[1]->powerOns, 1);
    EXPECT_TRUE(m_Bus.Reset());
    m_Socket->SetPower(false);
    m_Socket->SetPower(true);
    EXPECT_EQ(m_Socket->Current(), nullptr) << "after the last board the socket is empty";
    EXPECT_FALSE(m_Bus.Reset());
    EXPECT_EQ(ReadIdcode(1), 0xFFFFFFFFu);
    m_Socket->SetPower(false);
    m_Socket->SetPower(true);
    EXPECT_EQ(m_Socket->Index(), 2u);
}

// The chain keeps its TAP state while the port is switched to another address, and no edge
// reaches it meanwhile.
TEST_F(ChannelBTest, DeselectedChainSeesNoClock)
{
    Build({Spec(1, {0x3E74E1CF})});
    m_Socket->SetPower(true);
    Run({0x80, 0x10, 0xFB, 0x4B, 0x04, 0x1F, 0x4B, 0x03, 0x02});  // address 1: Shift-DR
    Run({0x80, 0x20, 0xFB, 0x4B, 0x06, 0x7F, 0x3B, 0x07, 0x00});  // address 2: clocks elsewhere
    EXPECT_EQ(m_Socket->Current()->Fpga(0).State(), TapState::ShiftDr);
    Run({0x80, 0x10, 0xFB});
    EXPECT_EQ(Run({0x3B, 0x07, 0x00}), (Bytes{0xCF}));
}

// ---- channel A ----------------------------------------------------------------------------------

class RecordingSlave : public I2cSlave {
public:
    void Start() override { events.push_back("start"); }
    void Stop() override { events.push_back("stop"); }
    bool Address(uint8_t byte) override
    {
        events.push_back("address " + std::to_string(byte));
        return (byte & 0xFE) == 0x30;
    }
    bool Write(uint8_t data) override
    {
        events.push_back("write " + std::to_string(data));
        return true;
    }
    uint8_t Read() override { return 0x5A; }
    void ReadAck(bool ack) override { events.push_back(ack ? "ack" : "nack"); }
    std::vector<std::string> events;
};

TEST(ChannelA, I2cTransferAndBoardPowerThroughThePins)
{
    OneWireBus wire;
    RecordingSlave slave;
    I2cBus bus(&slave);
    CSimSocket socket({}, wire);
    CBridgeWiring wiring(bus, socket);
    CMpsseEngine engine(&wiring);
    engine.SetBitMode(0, 0x02);
    auto run = [&](const Bytes& bytes) {
        Bytes reply;
        engine.Write(bytes.data(), bytes.size(), reply);
        return reply;
    };
    const Bytes start = {0x80, 0x03, 0x03, 0x80, 0x01, 0x03, 0x80, 0x00, 0x03};
    const Bytes stop = {0x80, 0x00, 0x03, 0x80, 0x01, 0x03, 0x80, 0x03, 0x03};
    Bytes write = start;
    for (uint8_t b : {0x37, 0x07, 0x30, 0x37, 0x00, 0xFF, 0x37, 0x07, 0x42, 0x37, 0x00, 0xFF})
        write.push_back(b);
    write.insert(write.end(), stop.begin(), stop.end());
    EXPECT_EQ(run(write), (Bytes{0x30, 0x00, 0x42, 0x00})) << "each byte read back, then ACK (0)";

    Bytes read = start;
    for (uint8_t b : {0x37, 0x07, 0x31, 0x37, 0x00, 0xFF, 0x37, 0x07, 0xFF, 0x37, 0x00, 0xFF})
        read.push_back(b);
    read.insert(read.end(), stop.begin(), stop.end());
    EXPECT_EQ(run(read), (Bytes{0x31, 0x00, 0x5A, 0x01})) << "the slave's byte, then the master's NACK";
    EXPECT_EQ(slave.events, (std::vector<std::string>{"start", "address 48", "write 66", "stop", "start",
                                                      "address 49", "nack", "stop"}));
    EXPECT_EQ(bus.Bytes(), 4u);

    Bytes nobody = start;
    for (uint8_t b : {0x37, 0x07, 0x40, 0x37, 0x00, 0xFF})
        nobody.push_back(b);
    EXPECT_EQ(run(nobody), (Bytes{0x40, 0x01})) << "an address nobody answers is not acknowledged";

    EXPECT_FALSE(socket.Powered());
    run({0x80, 0x83, 0x83});
    EXPECT_TRUE(socket.Powered()) << "GPIOL3 an output driven high";
    EXPECT_TRUE(wire.Powered());
    run({0x80, 0x83, 0x03});
    EXPECT_FALSE(socket.Powered()) << "GPIOL3 released";
    run({0x80, 0x03, 0x83});
    EXPECT_FALSE(socket.Powered()) << "GPIOL3 driven low";
}

}  // namespace
}  // namespace qbxsim
