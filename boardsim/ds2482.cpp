#include "ds2482.h"

namespace qbxsim {

namespace {

// Command codes of the DS2482-100.
constexpr uint8_t kSetReadPointer = 0xE1;
constexpr uint8_t kWriteConfig = 0xD2;
constexpr uint8_t kOneWireReset = 0xB4;
constexpr uint8_t kWriteByte = 0xA5;
constexpr uint8_t kReadByte = 0x96;
constexpr uint8_t kTriplet = 0x78;

bool TakesParameter(uint8_t code)
{
    return code == kSetReadPointer || code == kWriteConfig || code == kWriteByte || code == kTriplet;
}

bool IsOneWireCommand(uint8_t code)
{
    return code == kOneWireReset || code == kWriteByte || code == kReadByte || code == kTriplet;
}

}  // namespace

Ds2482::Ds2482(const Ds2482Config& config, OneWireBus& bus) : m_Cfg(config), m_Bus(bus)
{
    if (m_Cfg.busyReads < 0)
        m_Cfg.busyReads = 0;
}

void Ds2482::Start()
{
    m_Addressed = false;
    m_Expect = Expect::Nothing;
}

void Ds2482::Stop()
{
    m_Addressed = false;
    m_Expect = Expect::Nothing;
}

bool Ds2482::Address(uint8_t addressByte)
{
    m_Addressed = (addressByte >> 1) == kAddress;
    m_ReadMode = (addressByte & 0x01) != 0;
    m_Expect = m_Addressed && !m_ReadMode ? Expect::Command : Expect::Nothing;
    return m_Addressed;
}

bool Ds2482::Write(uint8_t data)
{
    if (!m_Addressed || m_ReadMode)
        return false;
    switch (m_Expect) {
    case Expect::Command:
        if (data != kSetReadPointer && !IsOneWireCommand(data) && data != kWriteConfig) {
            m_Expect = Expect::Done;   // unknown code (0xC3 Channel Select is a -800 command)
            return false;
        }
        if (data != kSetReadPointer && Busy()) {
            m_Expect = Expect::Done;   // 1-Wire busy: refused and ignored
            return false;
        }
        if (TakesParameter(data)) {
            m_Command = data;
            m_Expect = Expect::Parameter;
            return true;
        }
        m_Expect = Expect::Done;
        return ExecuteCommand(data);
    case Expect::Parameter:
        m_Expect = Expect::Done;
        return ExecuteWithParameter(m_Command, data);
    case Expect::Nothing:
    case Expect::Done:
        break;
    }
    m_Expect = Expect::Done;   // a byte beyond the command
    return false;
}

uint8_t Ds2482::Read()
{
    switch (m_Pointer) {
    case kDataReg:
        return m_Data;
    case kConfigReg:
        return m_Config;
    default:
        break;
    }
    // Status: every read while 1WB is set counts down the busy period.
    if (m_StuckBusy)
        return static_cast<uint8_t>(m_Status | k1WB);
    if (m_BusyLeft > 0) {
        const uint8_t shown = static_cast<uint8_t>(m_Status | k1WB);
        if (--m_BusyLeft == 0) {
            m_Status = m_PendingStatus;
            m_Data = m_PendingData;
        }
        return shown;
    }
    return m_Status;
}

void Ds2482::ReadAck(bool /*ack*/) {}

bool Ds2482::ExecuteCommand(uint8_t code)
{
    if (code == kOneWireReset) {
        BeginOneWire();
        const bool presence = m_Bus.Reset();
        uint8_t status = static_cast<uint8_t>(m_Status & ~(kPPD | kSD));
        if (presence)
            status |= kPPD;
        FinishOneWire(status, false);
        return true;
    }
    if (code == kReadByte) {
        BeginOneWire();
        uint8_t value = 0;
        for (int i = 0; i < 8; ++i)
            if (m_Bus.Slot(true))
                value |= static_cast<uint8_t>(1u << i);
        m_PendingData = value;
        FinishOneWire(m_Status, false);
        return true;
    }
    return false;
}

bool Ds2482::ExecuteWithParameter(uint8_t code, uint8_t p)
{
    switch (code) {
    case kSetReadPointer:
        if (p != kStatusReg && p != kDataReg && p != kConfigReg)
            return false;   // 0xD2 (channel selection) exists on the -800 only
        m_Pointer = p;
        return true;
    case kWriteConfig: {
        const uint8_t low = p & 0x0F;
        if ((p >> 4) != (~p & 0x0F))
            return false;   // upper nibble is not the complement: refused, nothing changes
        m_Config = low;
        m_Status &= static_cast<uint8_t>(~kRST);
        m_Pointer = kConfigReg;
        if (m_PullupActive && !(low & kSPU))
            SetPullup(false);
        return true;
    }
    case kWriteByte:
        BeginOneWire();
        for (int i = 0; i < 8; ++i)
            m_Bus.Slot(((p >> i) & 1) != 0);
        FinishOneWire(m_Status, true);
        return true;
    case kTriplet: {
        BeginOneWire();
        const bool first = m_Bus.Slot(true);
        const bool second = m_Bus.Slot(true);
        bool direction;
        if (first != second)
            direction = first;            // every device agrees
        else if (!first)
            direction = (p & 0x80) != 0;  // discrepancy: the master's choice
        else
            direction = true;             // nobody answered
        m_Bus.Slot(direction);
        uint8_t status = static_cast<uint8_t>(m_Status & ~(kSBR | kTSB | kDIR));
        if (first)
            status |= kSBR;
        if (second)
            status |= kTSB;
        if (direction)
            status |= kDIR;
        FinishOneWire(status, false);
        return true;
    }
    default:
        return false;
    }
}

// Every 1-Wire command ends a strong pull-up still running from the command before.
void Ds2482::BeginOneWire()
{
    if (m_PullupActive)
        SetPullup(false);
    m_PendingData = m_Data;
    m_Pointer = kStatusReg;
}

void Ds2482::FinishOneWire(uint8_t status, bool armPullup)
{
    // SPU set before a Write Byte: the pull-up starts after its last slot.
    if (armPullup && (m_Config & kSPU))
        SetPullup(true);
    m_PendingStatus = status;
    if (m_Cfg.stuckBusy) {
        m_StuckBusy = true;
    } else if (m_Cfg.busyReads > 0) {
        m_BusyLeft = m_Cfg.busyReads;
    } else {
        m_Status = m_PendingStatus;
        m_Data = m_PendingData;
    }
}

// The pull-up is one-shot: when it ends, SPU reads 0.
void Ds2482::SetPullup(bool on)
{
    if (on == m_PullupActive)
        return;
    m_PullupActive = on;
    if (!on)
        m_Config &= static_cast<uint8_t>(~kSPU);
    m_Bus.SetStrongPullup(on);
}

}  // namespace qbxsim
