#include "wiring.h"

#include <gtest/gtest.h>

#include "boardsim_test_support.h"
#include "mpsse.h"

namespace qbxsim {
namespace {

using Bytes = std::vector<uint8_t>;

// Channel B's engine wired to a powered board (chain 0x11111111, 0x3E74E1CF; switch on).
struct ChannelB {
    ChannelB(int address, int tdoStuck = -1) : socket(MakeSocket(address, tdoStuck)) { engine.SetBitMode(0, 0x02); }
    std::unique_ptr<CSimSocket> MakeSocket(int address, int tdoStuck)
    {
        _SIMBOARDSPEC spec;
        spec.chainAddress = address;
        spec.idcodes = {0x11111111, 0x3E74E1CF};
        spec.tdoStuck = tdoStuck;
        std::vector<std::unique_ptr<OneWireDevice>> wire;
        wire.push_back(std::make_unique<testing::ConductingSwitch>());
        std::vector<std::unique_ptr<CSimBoard>> boards;
        boards.push_back(std::make_unique<CSimBoard>(spec, testing::TinyLayout(), std::move(wire)));
        auto made = std::make_unique<CSimSocket>(std::move(boards), bus);
        made->SetPower(true);
        return made;
    }
    Bytes Run(const Bytes& bytes)
    {
        Bytes reply;
        engine.Write(bytes.data(), bytes.size(), reply);
        return reply;
    }

    OneWireBus bus;
    std::unique_ptr<CSimSocket> socket;
    CJtagWiring wiring{*socket, bus};
    CMpsseEngine engine{&wiring};
};

// Released address lines read high; the chain keeps its TAP state while the port talks to
// another address, and no edge reaches it meanwhile; a stuck TDO holds its level.
TEST(Wiring, ChainAddressAndTdo)
{
    ChannelB b(15);
    b.Run({0x80, 0x00, 0x0B, 0x4B, 0x04, 0x1F, 0x4B, 0x03, 0x02});  // GPIOL inputs: address 15, Shift-DR
    EXPECT_EQ(b.wiring.Address(), 15u);
    b.Run({0x80, 0x20, 0xFB, 0x4B, 0x06, 0x7F, 0x3B, 0x07, 0x00});  // address 2: clocks elsewhere
    EXPECT_EQ(b.socket->Current()->Fpga(0).State(), TapState::ShiftDr);
    b.Run({0x80, 0x00, 0x0B});
    EXPECT_EQ(b.Run({0x3B, 0x07, 0x00}), (Bytes{0xCF}));

    ChannelB stuck(1, 0);
    const Bytes reply = stuck.Run({0x80, 0x10, 0xFB, 0x4B, 0x04, 0x1F, 0x4B, 0x03, 0x02, 0x3B, 0x07, 0x00, 0x81});
    ASSERT_EQ(reply.size(), 2u);
    EXPECT_EQ(reply[0], 0x00) << "TDO stuck at 0";
    EXPECT_EQ(reply[1] & kPinTdo, 0);
}

// Channel A: the board is powered while GPIOL3 is an output driven high.
TEST(Wiring, BoardPowerIsGpiol3DrivenHigh)
{
    OneWireBus wire;
    I2cBus bus(nullptr);
    CSimSocket socket({}, wire);
    CBridgeWiring wiring(bus, socket);
    auto pins = [&](uint8_t value, uint8_t direction) {
        wiring.Drive(value, direction);
        return socket.Powered();
    };
    EXPECT_FALSE(socket.Powered());
    EXPECT_TRUE(pins(0x83, 0x83));
    EXPECT_TRUE(wire.Powered());
    EXPECT_FALSE(pins(0x83, 0x03)) << "GPIOL3 released";
    EXPECT_FALSE(pins(0x03, 0x83)) << "GPIOL3 driven low";
}

}  // namespace
}  // namespace qbxsim
