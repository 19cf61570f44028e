#include "wiring.h"

#include <gtest/gtest.h>

#include "boardsim_test_support.h"
#include "mpsse.h"

namespace qbxsim {
namespace {

using Bytes = std::vector<uint8_t>;

std::unique_ptr<CSimBoard> MakeBoard(_SIMBOARDSPEC spec, bool switchConducts = true)
{
    spec.idcodes = {0x11111111, 0x3E74E1CF};
    auto jtagSwitch = std::make_unique<testing::ConductingSwitch>();
    jtagSwitch->conducts = switchConducts;
    std::vector<std::unique_ptr<OneWireDevice>> wire;
    wire.push_back(std::move(jtagSwitch));
    return std::make_unique<CSimBoard>(spec, testing::TinyLayout(), std::move(wire));
}

// Channel B's engine wired to a powered board (chain 0x11111111, 0x3E74E1CF).
struct ChannelB {
    explicit ChannelB(int address, int tdoStuck = -1, bool switchConducts = true)
        : socket(MakeSocket(address, tdoStuck, switchConducts))
    {
        engine.SetBitMode(0, 0x02);
    }
    std::unique_ptr<CSimSocket> MakeSocket(int address, int tdoStuck, bool switchConducts)
    {
        _SIMBOARDSPEC spec;
        spec.chainAddress = address;
        spec.tdoStuck = tdoStuck;
        std::vector<std::unique_ptr<CSimBoard>> boards;
        boards.push_back(MakeBoard(spec, switchConducts));
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

// The chain answers on its address while powered and switched on; else TDO reads 1. A stuck TDO holds.
TEST(Wiring, TheChainAnswersOnItsAddressWhilePoweredAndSwitchedOn)
{
    struct Case {
        const char* what;
        int address, tdoStuck;
        bool switchConducts, powered;
        uint8_t firstByte;   // of the IDCODE nearest TDO, 0x3E74E1CF
    } cases[] = {
        {"connected", 1, -1, true, true, 0xCF},       {"another address", 2, -1, true, true, 0xFF},
        {"switch open", 1, -1, false, true, 0xFF},    {"unpowered", 1, -1, true, false, 0xFF},
        {"TDO stuck at 0", 1, 0, true, true, 0x00},   {"TDO stuck at 1", 1, 1, true, true, 0xFF},
    };
    for (const Case& c : cases) {
        ChannelB b(c.address, c.tdoStuck, c.switchConducts);
        b.socket->SetPower(c.powered);
        // Address 1 on GPIOL0..3, Test-Logic-Reset, Shift-DR, 8 bits in, then the pins.
        const Bytes reply = b.Run({0x80, 0x10, 0xFB, 0x4B, 0x04, 0x1F, 0x4B, 0x03, 0x02, 0x3B, 0x07, 0x00, 0x81});
        ASSERT_EQ(reply.size(), 2u) << c.what;
        EXPECT_EQ(reply[0], c.firstByte) << c.what;
        EXPECT_EQ(reply[1] & kPinTdo, (c.firstByte & 1) ? kPinTdo : 0) << c.what;   // IDCODE bit 8 is 1
    }
}

// Released address lines read high; no edge reaches the chain while another address is driven.
TEST(Wiring, TheChainKeepsItsStateWhileAnotherAddressIsDriven)
{
    ChannelB b(15);
    b.Run({0x80, 0x00, 0x0B, 0x4B, 0x04, 0x1F, 0x4B, 0x03, 0x02});  // GPIOL inputs: address 15, Shift-DR
    EXPECT_EQ(b.wiring.Address(), 15u);
    b.Run({0x80, 0x20, 0xFB, 0x4B, 0x06, 0x7F, 0x3B, 0x07, 0x00});  // address 2: clocks elsewhere
    EXPECT_EQ(b.socket->Current()->Fpga(0).State(), TapState::ShiftDr);
    b.Run({0x80, 0x00, 0x0B});
    EXPECT_EQ(b.Run({0x3B, 0x07, 0x00}), (Bytes{0xCF}));
}

// Channel A: GPIOL3 driven high powers the board; each later rising edge brings the next board, and
// after the last the socket stays empty.
TEST(Wiring, BoardPowerIsGpiol3DrivenHighAndBringsTheNextBoard)
{
    std::vector<std::unique_ptr<CSimBoard>> boards;
    boards.push_back(MakeBoard({}));
    boards.push_back(MakeBoard({}));
    const CSimBoard* first = boards[0].get();
    const CSimBoard* second = boards[1].get();
    OneWireBus wire;
    I2cBus bus(nullptr);
    CSimSocket socket(std::move(boards), wire);
    CBridgeWiring wiring(bus, socket);
    auto pins = [&](uint8_t value, uint8_t direction) {
        wiring.Drive(value, direction);
        return socket.Powered();
    };
    EXPECT_FALSE(socket.Powered());
    EXPECT_TRUE(pins(0x83, 0x83));
    EXPECT_EQ(socket.Current(), first);
    EXPECT_TRUE(wire.Reset()) << "its 1-Wire devices answer";
    EXPECT_FALSE(pins(0x83, 0x03)) << "GPIOL3 released";
    EXPECT_TRUE(pins(0x83, 0x83));
    EXPECT_EQ(socket.Current(), second);
    EXPECT_FALSE(pins(0x03, 0x83)) << "GPIOL3 driven low";
    EXPECT_TRUE(pins(0x83, 0x83));
    EXPECT_EQ(socket.Current(), nullptr);
    EXPECT_FALSE(wire.Reset()) << "an empty socket: no presence";
}

}  // namespace
}  // namespace qbxsim
