// The I2C bus on channel A of the simulated adapter, decoded from the pin levels.
#pragma once

#include <cstdint>

namespace qbxsim {

// An I2C slave as the bus decoder drives it, byte by byte.
class I2cSlave {
public:
    virtual ~I2cSlave() = default;
    virtual void Start() = 0;                       // START or repeated START seen
    virtual void Stop() = 0;                        // STOP seen
    virtual bool Address(uint8_t addressByte) = 0;  // first byte after a START (bit 0 = read); true = ACK
    virtual bool Write(uint8_t data) = 0;           // a byte from the master; true = ACK
    virtual uint8_t Read() = 0;                     // the next byte the slave sends
    virtual void ReadAck(bool ack) = 0;             // the master's acknowledge of that byte (false = NACK)
};

// Decodes the bus from the pin levels: START/STOP (SDA changing while SCL is high), bits sampled on
// SCL rising edges, the slave's bits and acknowledges put on SDA after SCL falling edges. The line
// is a wired-AND of the master's SDA and the slave's.
//
// When one Update() changes SCL and SDA together, the SDA change is taken to happen while SCL is
// low: before a rising edge (data set up) and after a falling edge (data changed after the clock),
// which is how a master shifts bits. Only an SDA change with SCL high and unchanged is a START or
// a STOP. Both lines start high (released, pulled up).
class I2cBus {
public:
    explicit I2cBus(I2cSlave* slave);   // nullptr: nobody on the bus (no acknowledge ever)
    // The master's levels (true = high), called after every change of SCL or of the master's SDA.
    void Update(bool scl, bool sdaMaster);
    // SDA on the wire (master AND slave): what the master reads back through its DI pin.
    bool Sda() const;
    uint64_t Bytes() const;      // bytes transferred in either direction, address bytes included

private:
    enum class Phase {
        Idle,        // no transfer: waiting for a START
        Address,     // receiving the address byte
        Receive,     // receiving a data byte from the master
        SlaveAck,    // ninth clock after a received byte: the slave's acknowledge
        Transmit,    // sending a data byte to the master
        MasterAck,   // ninth clock after a sent byte: the master's acknowledge
        Silent,      // not addressed, or after a not-acknowledge: waiting for START or STOP
    };

    void RisingEdge();
    void FallingEdge();
    void StartCondition();
    void StopCondition();
    bool Wire() const { return m_SdaMaster && m_SdaSlave; }

    I2cSlave* m_Slave;
    bool m_Scl = true;
    bool m_SdaMaster = true;
    bool m_SdaSlave = true;      // false = the slave pulls SDA low
    Phase m_Phase = Phase::Idle;
    bool m_Reading = false;      // the addressed transfer is a read (address bit 0 set)
    bool m_Acked = false;        // the slave acknowledged the byte of the current SlaveAck phase
    bool m_MasterAcked = false;  // the master's acknowledge sampled in the MasterAck phase
    int m_Bits = 0;              // bits of the current byte clocked so far
    uint8_t m_Shift = 0;         // byte being received or sent
    uint64_t m_Bytes = 0;
};

}  // namespace qbxsim
