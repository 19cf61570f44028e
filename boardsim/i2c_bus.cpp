#include "i2c_bus.h"

namespace qbxsim {

I2cBus::I2cBus(I2cSlave* slave) : m_Slave(slave) {}

void I2cBus::Update(bool scl, bool sdaMaster)
{
    if (scl == m_Scl) {
        const bool before = Wire();
        m_SdaMaster = sdaMaster;
        const bool after = Wire();
        if (scl && before != after) {
            if (after)
                StopCondition();
            else
                StartCondition();
        }
        return;
    }
    if (scl) {
        m_SdaMaster = sdaMaster;   // data set up while SCL was low
        m_Scl = true;
        RisingEdge();
    } else {
        m_Scl = false;
        FallingEdge();
        m_SdaMaster = sdaMaster;   // data changed after the clock fell
    }
}

bool I2cBus::Sda() const { return Wire(); }

uint64_t I2cBus::Bytes() const { return m_Bytes; }

void I2cBus::StartCondition()
{
    m_SdaSlave = true;
    m_Phase = Phase::Address;
    m_Bits = 0;
    m_Shift = 0;
    if (m_Slave)
        m_Slave->Start();
}

void I2cBus::StopCondition()
{
    m_SdaSlave = true;
    const bool wasBusy = m_Phase != Phase::Idle;
    m_Phase = Phase::Idle;
    m_Bits = 0;
    if (wasBusy && m_Slave)
        m_Slave->Stop();
}

// The master (or, in a read, the master sampling the slave) takes the bit while SCL is high.
void I2cBus::RisingEdge()
{
    switch (m_Phase) {
    case Phase::Address:
    case Phase::Receive:
        if (m_Bits < 8) {
            m_Shift = static_cast<uint8_t>((m_Shift << 1) | (Wire() ? 1 : 0));
            if (++m_Bits == 8)
                ++m_Bytes;
        }
        break;
    case Phase::Transmit:
        if (m_Bits < 8 && ++m_Bits == 8)
            ++m_Bytes;
        break;
    case Phase::MasterAck:
        m_MasterAcked = !Wire();
        m_Bits = 9;   // the acknowledge clock has been given
        break;
    case Phase::SlaveAck:
        m_Bits = 9;
        break;
    case Phase::Idle:
    case Phase::Silent:
        break;
    }
}

// The slave changes SDA only while SCL is low: right after a falling edge.
void I2cBus::FallingEdge()
{
    switch (m_Phase) {
    case Phase::Address:
        if (m_Bits == 8) {
            m_Reading = (m_Shift & 0x01) != 0;
            m_Acked = m_Slave != nullptr && m_Slave->Address(m_Shift);
            m_SdaSlave = !m_Acked;
            m_Phase = Phase::SlaveAck;
        }
        break;
    case Phase::Receive:
        if (m_Bits == 8) {
            m_Acked = m_Slave->Write(m_Shift);
            m_SdaSlave = !m_Acked;
            m_Phase = Phase::SlaveAck;
        }
        break;
    case Phase::SlaveAck:
        if (m_Bits == 9) {
            m_SdaSlave = true;
            if (!m_Acked) {
                m_Phase = Phase::Silent;
            } else if (m_Reading) {
                m_Shift = m_Slave->Read();
                m_Bits = 0;
                m_SdaSlave = (m_Shift & 0x80) != 0;
                m_Phase = Phase::Transmit;
            } else {
                m_Shift = 0;
                m_Bits = 0;
                m_Phase = Phase::Receive;
            }
        }
        break;
    case Phase::Transmit:
        if (m_Bits == 8) {
            m_SdaSlave = true;   // released for the master's acknowledge
            m_Phase = Phase::MasterAck;
        } else if (m_Bits > 0) {
            m_SdaSlave = ((m_Shift << m_Bits) & 0x80) != 0;
        }
        break;
    case Phase::MasterAck:
        if (m_Bits == 9) {
            m_Slave->ReadAck(m_MasterAcked);
            if (m_MasterAcked) {
                m_Shift = m_Slave->Read();
                m_Bits = 0;
                m_SdaSlave = (m_Shift & 0x80) != 0;
                m_Phase = Phase::Transmit;
            } else {
                m_Phase = Phase::Silent;
            }
        }
        break;
    case Phase::Idle:
    case Phase::Silent:
        break;
    }
}

}  // namespace qbxsim
