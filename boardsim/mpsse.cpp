#include "mpsse.h"

#include "d2xx.h"
#include "mpsse_commands.h"

namespace qbxsim {

using namespace mpsse;

namespace {

uint8_t Reverse8(uint32_t b)
{
    b &= 0xFF;
    b = ((b & 0xF0) >> 4) | ((b & 0x0F) << 4);
    b = ((b & 0xCC) >> 2) | ((b & 0x33) << 2);
    b = ((b & 0xAA) >> 1) | ((b & 0x55) << 1);
    return static_cast<uint8_t>(b);
}

}  // namespace

namespace {

bool DecodeBadOpcode(uint8_t op);

// One lookup per command byte instead of the decoding below.
struct BadOpcodeTable {
    bool bad[256];
    BadOpcodeTable()
    {
        for (int op = 0; op < 256; ++op)
            bad[op] = DecodeBadOpcode(static_cast<uint8_t>(op));
    }
};

}  // namespace

bool CMpsseEngine::IsBadOpcode(uint8_t op)
{
    static const BadOpcodeTable table;
    return table.bad[op];
}

namespace {

bool DecodeBadOpcode(uint8_t op)
{
    if (!(op & kNotDataShift)) {
        if (op & kWriteTms)  // TMS commands are bit commands; MSB-first ones only with a read
            return !(op & kBitMode) || (!(op & kLsbFirst) && !(op & kReadTdo));
        return !(op & (kWriteTdi | kReadTdo));  // 0x00..0x0F move no data
    }
    switch (op) {
    case kSetLowByte: case kReadLowByte: case kSetHighByte: case kReadHighByte:
    case kLoopbackOn: case kLoopbackOff: case kSetClockDivisor: case kSendImmediate:
    case kWaitIoHigh: case kWaitIoLow: case kDisableDivideBy5: case kEnableDivideBy5:
    case kEnableThreePhase: case kDisableThreePhase: case kClockBits: case kClockBytes:
    case kClockUntilIoHigh: case kClockUntilIoLow: case kEnableAdaptive: case kDisableAdaptive:
    case kClockBytesOrIoHigh: case kClockBytesOrIoLow:
        return false;
    default:
        return true;  // including kDriveZeroOnly, which only the FT232H knows
    }
}

}  // namespace

size_t CMpsseEngine::CommandLength(const uint8_t* data, size_t available)
{
    uint8_t op = data[0];
    if (IsBadOpcode(op))
        return 1;
    if (!(op & kNotDataShift)) {
        bool writes = (op & kWriteTms) || (op & kWriteTdi);
        if (op & kBitMode)
            return writes ? 3 : 2;
        if (available < 3)
            return 0;
        size_t length = static_cast<size_t>(data[1]) | (static_cast<size_t>(data[2]) << 8);
        return writes ? 3 + length + 1 : 3;
    }
    switch (op) {
    case kSetLowByte: case kSetHighByte: case kSetClockDivisor: case kClockBytes:
    case kClockBytesOrIoHigh: case kClockBytesOrIoLow:
        return 3;
    case kClockBits: return 2;
    default: return 1;
    }
}

void CMpsseEngine::SetBitMode(uint8_t /*mask*/, uint8_t mode)
{
    if (mode == FT_BITMODE_MPSSE) {
        m_Mpsse = true;
        return;
    }
    m_Mpsse = false;
    m_Stalled = false;
    m_Partial.clear();
    m_Divisor = 0;
    m_DivideBy5 = true;
    m_ThreePhase = false;
    m_Adaptive = false;
    m_Loopback = false;
    m_LowValue = m_LowDirection = m_HighValue = m_HighDirection = 0;
    UpdateBitSeconds();
    if (m_Target)
        m_Target->Drive(m_LowValue, m_LowDirection);
}

void CMpsseEngine::UpdateBitSeconds()
{
    m_BitSeconds = (m_ThreePhase ? 1.5 : 1.0) / ClockHz();
}

void CMpsseEngine::Purge()
{
    m_Partial.clear();
    m_Stalled = false;
}

double CMpsseEngine::ClockHz() const
{
    double base = m_DivideBy5 ? kDividedBy5ClockHz : kMasterClockHz;
    return base / ((1.0 + m_Divisor) * 2.0);
}

void CMpsseEngine::Write(const uint8_t* data, size_t size, std::vector<uint8_t>& reply)
{
    m_SendImmediateAt = kNoSendImmediate;
    if (!m_Mpsse || m_Stalled || size == 0)
        return;
    if (m_Target)
        m_Target->BeginCommands();
    if (m_Partial.empty()) {
        size_t used = Process(data, size, reply);
        if (used < size && !m_Stalled)
            m_Partial.assign(data + used, data + size);
    } else {
        m_Partial.insert(m_Partial.end(), data, data + size);
        size_t used = Process(m_Partial.data(), m_Partial.size(), reply);
        if (m_Stalled)
            m_Partial.clear();
        else
            m_Partial.erase(m_Partial.begin(), m_Partial.begin() + static_cast<std::ptrdiff_t>(used));
    }
    if (m_Target)
        m_Target->EndCommands();
}

size_t CMpsseEngine::Process(const uint8_t* data, size_t size, std::vector<uint8_t>& reply)
{
    size_t pos = 0;
    while (pos < size && !m_Stalled) {
        if (data[pos] == kSetLowByte && size - pos >= 3) {  // the most frequent command, taken directly
            m_LowDirection = data[pos + 2];
            SetLow(data[pos + 1]);
            pos += 3;
            continue;
        }
        size_t length = CommandLength(data + pos, size - pos);
        if (length == 0 || length > size - pos)
            break;
        Execute(data + pos, reply);
        pos += length;
    }
    // A stalled engine never reads the rest: a reset or purge throws it away.
    return m_Stalled ? size : pos;
}

void CMpsseEngine::SetLow(uint8_t value)
{
    m_LowValue = value;
    if (m_Target)
        m_Target->Drive(m_LowValue, m_LowDirection);
}

uint8_t CMpsseEngine::ReadLow()
{
    uint8_t outside = m_Target ? m_Target->Sense() : 0xFF;
    uint8_t levels = static_cast<uint8_t>((m_LowValue & m_LowDirection) | (outside & ~m_LowDirection));
    if (m_Loopback)  // TDI/DO is connected to TDO/DI inside the chip
        levels = static_cast<uint8_t>((levels & ~kPinTdo) | ((m_LowValue & kPinTdi) ? kPinTdo : 0));
    return levels;
}

bool CMpsseEngine::SampleDi()
{
    return (ReadLow() & kPinTdo) != 0;
}

void CMpsseEngine::CountClocks(uint64_t n)
{
    m_Clocks += n;
    m_ClockSeconds += static_cast<double>(n) * m_BitSeconds;
}

// n pulses on TCK/SK away from its idle level and back. On pulse k the written pin (DO, or TMS
// for a TMS command) takes bit k of outBits at the write edge and DI is sampled just before the
// read edge. A write edge that comes first in the pulse changes the pin at that edge (a device
// sampling on that same edge still sees the old level); one that comes second sets the pin up
// before the pulse. Returns the samples, bit k for pulse k.
uint32_t CMpsseEngine::Clock(unsigned n, uint8_t outBits, bool writeDo, bool writeTms, bool negWrite, bool negRead)
{
    if (m_Adaptive) {  // waits for RTCK, which never follows
        m_Stalled = true;
        return 0;
    }
    CountClocks(n);
    const bool idle = (m_LowValue & kPinTck) != 0;
    const uint8_t writePin = writeTms ? kPinTms : writeDo ? kPinTdi : 0;

    if (!idle && (m_LowDirection & kPinTck) && !writeTms && (negWrite || !writeDo) && !m_Loopback && m_Target) {
        uint8_t doBits = writeDo ? outBits : ((m_LowValue & kPinTdi) ? 0xFF : 0x00);
        uint32_t di = 0;
        if (m_Target->Pulses(n, doBits, !negRead, m_LowValue, m_LowDirection, &di)) {
            if (writeDo) {
                bool last = (outBits >> (n - 1)) & 1;
                m_LowValue = static_cast<uint8_t>(last ? (m_LowValue | kPinTdi) : (m_LowValue & ~kPinTdi));
            }
            return di & ((1u << n) - 1);
        }
    }

    const bool firstEdgeRising = !idle;
    const bool writeFirst = negWrite != firstEdgeRising;
    const bool readFirst = negRead != firstEdgeRising;
    auto setOut = [&](unsigned k) {
        if (!writePin)
            return;
        bool bit = (outBits >> k) & 1;
        SetLow(static_cast<uint8_t>(bit ? (m_LowValue | writePin) : (m_LowValue & ~writePin)));
    };
    uint32_t samples = 0;
    for (unsigned k = 0; k < n; ++k) {
        if (!writeFirst)
            setOut(k);
        if (readFirst)
            samples |= static_cast<uint32_t>(SampleDi()) << k;
        SetLow(static_cast<uint8_t>(m_LowValue ^ kPinTck));
        if (writeFirst)
            setOut(k);
        if (!readFirst)
            samples |= static_cast<uint32_t>(SampleDi()) << k;
        SetLow(static_cast<uint8_t>(m_LowValue ^ kPinTck));
    }
    return samples;
}

void CMpsseEngine::ExecuteShift(const uint8_t* cmd, std::vector<uint8_t>& reply)
{
    const uint8_t op = cmd[0];
    const bool tms = op & kWriteTms;
    const bool lsb = op & kLsbFirst;
    const bool read = op & kReadTdo;
    const bool writeDo = !tms && (op & kWriteTdi);
    const bool negWrite = op & kWriteOnFalling;
    const bool negRead = op & kReadOnFalling;

    if (op & kBitMode) {
        const unsigned n = (cmd[1] & 7u) + 1;
        const uint8_t data = (tms || writeDo) ? cmd[2] : 0;
        // Bit k to put out on pulse k: LSB first from bit 0 up, MSB first from bit 7 down.
        const uint8_t out = lsb ? data : Reverse8(data);
        if (tms) {  // bit 7 of the byte goes on DO before the first pulse and stays there
            SetLow(static_cast<uint8_t>((data & 0x80) ? (m_LowValue | kPinTdi) : (m_LowValue & ~kPinTdi)));
        }
        uint32_t samples = Clock(n, out, writeDo, tms, negWrite, negRead);
        if (read && !m_Stalled) {
            uint8_t byte = 0;
            if (lsb)  // shifted in from the top: the last bit read lands in bit 7
                byte = static_cast<uint8_t>(samples << (8 - n));
            else      // shifted in from the bottom: the last bit read lands in bit 0
                for (unsigned k = 0; k < n; ++k)
                    byte = static_cast<uint8_t>(byte | (((samples >> k) & 1) << (n - 1 - k)));
            reply.push_back(byte);
        }
        return;
    }

    const size_t count = (static_cast<size_t>(cmd[1]) | (static_cast<size_t>(cmd[2]) << 8)) + 1;
    for (size_t i = 0; i < count && !m_Stalled; ++i) {
        const uint8_t data = writeDo ? cmd[3 + i] : 0;
        uint32_t samples = Clock(8, lsb ? data : Reverse8(data), writeDo, false, negWrite, negRead);
        if (read && !m_Stalled)
            reply.push_back(lsb ? static_cast<uint8_t>(samples) : Reverse8(samples));
    }
}

void CMpsseEngine::Execute(const uint8_t* cmd, std::vector<uint8_t>& reply)
{
    const uint8_t op = cmd[0];
    if (IsBadOpcode(op)) {
        reply.push_back(kBadCommand);
        reply.push_back(op);
        return;
    }
    if (!(op & kNotDataShift)) {
        ExecuteShift(cmd, reply);
        return;
    }
    switch (op) {
    case kSetLowByte:
        m_LowDirection = cmd[2];
        SetLow(cmd[1]);
        break;
    case kSetHighByte:  // nothing on the QBX adapter uses the high byte
        m_HighValue = cmd[1];
        m_HighDirection = cmd[2];
        break;
    case kReadLowByte:
        reply.push_back(ReadLow());
        break;
    case kReadHighByte:  // released high-byte pins read high (the chip's pull-ups)
        reply.push_back(static_cast<uint8_t>((m_HighValue & m_HighDirection) | ~m_HighDirection));
        break;
    case kLoopbackOn: m_Loopback = true; break;
    case kLoopbackOff: m_Loopback = false; break;
    case kSetClockDivisor:
        m_Divisor = static_cast<uint16_t>(cmd[1] | (cmd[2] << 8));
        UpdateBitSeconds();
        break;
    case kSendImmediate: m_SendImmediateAt = reply.size(); break;
    case kWaitIoHigh:
    case kWaitIoLow: {
        bool high = (ReadLow() & kPinGpiol1) != 0;
        if (high != (op == kWaitIoHigh))
            m_Stalled = true;
        break;
    }
    case kDisableDivideBy5: m_DivideBy5 = false; UpdateBitSeconds(); break;
    case kEnableDivideBy5: m_DivideBy5 = true; UpdateBitSeconds(); break;
    case kEnableThreePhase: m_ThreePhase = true; UpdateBitSeconds(); break;
    case kDisableThreePhase: m_ThreePhase = false; UpdateBitSeconds(); break;
    case kClockBits:
        Clock((cmd[1] & 7u) + 1, 0, false, false, true, false);
        break;
    case kClockBytes: {
        size_t bytes = (static_cast<size_t>(cmd[1]) | (static_cast<size_t>(cmd[2]) << 8)) + 1;
        for (size_t i = 0; i < bytes && !m_Stalled; ++i)
            Clock(8, 0, false, false, true, false);
        break;
    }
    case kClockUntilIoHigh:  // nothing on the board moves GPIOL1
    case kClockUntilIoLow: {
        bool high = (ReadLow() & kPinGpiol1) != 0;
        if (high != (op == kClockUntilIoHigh))
            m_Stalled = true;
        break;
    }
    case kClockBytesOrIoHigh:
    case kClockBytesOrIoLow: {
        bool high = (ReadLow() & kPinGpiol1) != 0;
        if (high == (op == kClockBytesOrIoHigh))
            break;
        size_t bytes = (static_cast<size_t>(cmd[1]) | (static_cast<size_t>(cmd[2]) << 8)) + 1;
        for (size_t i = 0; i < bytes && !m_Stalled; ++i)
            Clock(8, 0, false, false, true, false);
        break;
    }
    case kEnableAdaptive: m_Adaptive = true; break;
    case kDisableAdaptive: m_Adaptive = false; break;
    default: break;
    }
}

}  // namespace qbxsim
