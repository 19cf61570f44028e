// What the QBX station's adapter has on its two channels' pins.
//
// Channel A: SCL on ADBUS0, the master's SDA on ADBUS1 (released high while it is an input),
// SDA read back on ADBUS2 (tied to the same line), the board-enable line on GPIOL3 (ADBUS7: the
// board is powered while it is an output driven high). Released lines read high (the I2C
// pull-ups and the chip's own pull-ups).
//
// Channel B: TCK on BDBUS0, TDI on BDBUS1, TDO on BDBUS2, TMS on BDBUS3, the chain address on
// GPIOL0..GPIOL3 (GPIOL0 = address bit 0). The board holds a released TCK low and a released TMS
// or TDI high (IEEE 1149.1 pull-ups); released address lines read high. The chain is connected
// only while the board in the socket is powered, the address equals its chain address and its
// JTAG switch conducts; otherwise it sees no clock and TDO reads 1.
#pragma once

#include <cstdint>

#include "i2c_bus.h"
#include "mpsse.h"
#include "onewire.h"
#include "socket.h"

namespace qbxsim {

class CBridgeWiring : public CPinTarget {
public:
    CBridgeWiring(I2cBus& bus, CSimSocket& socket) : m_Bus(bus), m_Socket(socket) {}

    void Drive(uint8_t value, uint8_t direction) override;
    uint8_t Sense() override;

private:
    I2cBus& m_Bus;
    CSimSocket& m_Socket;
    bool m_Scl = true;
    bool m_Sda = true;
};

class CJtagWiring : public CPinTarget {
public:
    CJtagWiring(CSimSocket& socket, const OneWireBus& bus) : m_Socket(socket), m_Bus(bus) {}

    void Drive(uint8_t value, uint8_t direction) override;
    uint8_t Sense() override;
    bool Pulses(unsigned n, uint8_t doBits, bool sampleOnRise, uint8_t value, uint8_t direction,
                uint32_t* diBits) override;
    // Power and the JTAG switch change only through channel A: within one write to channel B
    // they are looked up once.
    void BeginCommands() override;
    void EndCommands() override { m_Cached = false; }

    // The address the GPIOL lines present now, and the board the chain port reaches (null: none).
    unsigned Address() const { return m_Address; }
    CSimBoard* Connected();

private:
    void Follow(uint8_t value, uint8_t direction);  // takes the pin levels; no clock edge
    bool Tdo();

    CSimSocket& m_Socket;
    const OneWireBus& m_Bus;
    CSimBoard* LiveBoard();  // the board in the socket if powered with its switch on, else null

    CSimBoard* m_Board = nullptr;  // the board connected at the last pin change
    bool m_Cached = false;
    CSimBoard* m_CachedLive = nullptr;
    bool m_Tck = false;
    bool m_Tdi = true;
    bool m_Tms = true;
    unsigned m_Address = 0xF;
};

}  // namespace qbxsim
