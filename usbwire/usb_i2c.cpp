#include "usb_i2c.h"

#include <array>
#include <vector>

namespace usbwire {

namespace {

constexpr uint8_t kScl = 0x01;         // TCK/SK
constexpr uint8_t kSdaOut = 0x02;      // TDI/DO
constexpr uint8_t kSdaIn = 0x04;       // TDO/DI
// Bits out MSB first while SCL falls, read back from SDA as it falls too.
constexpr uint8_t kShiftBits = mpsse::kBitsInOutMsbFalling;
constexpr uint8_t kSdaReleased = 0xFF;  // SDA driven high: the slave's turn
constexpr uint8_t kAcknowledge = 0x00;

// Low-byte bit of general-purpose line pin (0 to 4), or 0 for any other pin number.
uint8_t GpioBit(int pin) { return (pin >= 0 && pin <= 4) ? static_cast<uint8_t>(1u << (pin + 3)) : 0; }

}  // namespace

int32_t CUsbI2C::DivisorForRate(uint32_t rate)
{
    // The hold count divides by rate x 400, which must fit 32 bits (rates up to ~10.7 MHz).
    if (rate == 0 || static_cast<uint64_t>(rate) * 400u > 0xFFFFFFFFull)
        return -1;
    uint32_t divisor = ((mpsse::kMasterClockHz / rate) >> 1) - 1u;
    if (divisor > 0xFFFF)
        return -1;
    return static_cast<int32_t>(divisor);
}

uint32_t CUsbI2C::HoldCount(uint32_t rate)
{
    if (rate == 0 || static_cast<uint64_t>(rate) * 400u > 0xFFFFFFFFull)
        return 0;
    return 1000000000u / (rate * 400u);
}

bool CUsbI2C::Open(const char* description, uint32_t rate)
{
    if (!OpenByDescription(description))
        return false;
    m_ClockRate = rate;
    int32_t divisor = DivisorForRate(rate);
    if (divisor < 0) {
        m_Status = kStatusClockRange;
        return false;
    }
    m_PinValue = static_cast<uint8_t>(m_PinValue | kScl | kSdaOut);
    m_PinDirection = static_cast<uint8_t>((m_PinDirection & ~kSdaIn) | kScl | kSdaOut);
    const std::array<uint8_t, 6> pins = {mpsse::kSetLowByte,  m_PinValue, m_PinDirection,
                                         mpsse::kSetHighByte, 0x00,       0x00};  // high byte: inputs
    return Setup(pins, static_cast<uint16_t>(divisor));
}

void CUsbI2C::QueuePinWrite(uint32_t times)
{
    for (uint32_t i = 0; i < times; ++i) {
        AppendCommand(mpsse::kSetLowByte);
        AppendCommand(m_PinValue);
        AppendCommand(m_PinDirection);
    }
}

void CUsbI2C::QueueStart()
{
    // After a transfer left open this is a repeated START: SDA and SCL rise together first.
    uint32_t hold = HoldCount(m_ClockRate);
    m_PinValue = static_cast<uint8_t>(m_PinValue | kScl | kSdaOut);
    QueuePinWrite(hold);
    m_PinValue = static_cast<uint8_t>(m_PinValue & ~kSdaOut);  // SDA falls while SCL is high
    QueuePinWrite(hold);
    m_PinValue = static_cast<uint8_t>(m_PinValue & ~kScl);
    QueuePinWrite();
}

void CUsbI2C::QueueStop()
{
    uint32_t hold = HoldCount(m_ClockRate);
    m_PinValue = static_cast<uint8_t>(m_PinValue & ~(kScl | kSdaOut));
    QueuePinWrite(hold);
    m_PinValue = static_cast<uint8_t>(m_PinValue | kScl);
    QueuePinWrite(hold);
    m_PinValue = static_cast<uint8_t>(m_PinValue | kSdaOut);  // SDA rises while SCL is high
    QueuePinWrite();
}

void CUsbI2C::QueueShift(uint8_t bits, uint8_t count)
{
    AppendCommand(kShiftBits);
    AppendCommand(static_cast<uint8_t>(count - 1));
    AppendCommand(bits);
    AddPendingRead(count);
}

void CUsbI2C::QueueWriteByte(uint8_t byte)
{
    QueueShift(byte, 8);
    QueueShift(kSdaReleased, 1);  // the slave's acknowledge
}

void CUsbI2C::QueueReadByte(bool nack)
{
    QueueShift(kSdaReleased, 8);  // the slave's byte
    QueueShift(nack ? kSdaReleased : kAcknowledge, 1);
}

bool CUsbI2C::CollectReplies(std::span<uint8_t> destination)
{
    std::vector<uint8_t> replies(m_PendingReads.size());
    bool ok = ReadExact(replies.data(), static_cast<uint32_t>(replies.size()));
    size_t count = std::min(replies.size(), destination.size());
    for (size_t i = 0; i < count; ++i) {
        unsigned bits = m_PendingReads[i].bits;
        destination[i] = static_cast<uint8_t>(replies[i] & (0xFFu >> (8u - bits)));
    }
    m_PendingReads.clear();
    return ok;
}

bool CUsbI2C::Transact(std::span<uint8_t> destination)
{
    if (!Flush()) {
        m_PendingReads.clear();
        return false;
    }
    return CollectReplies(destination);
}

int CUsbI2C::AddressPhase(uint8_t address)
{
    if (m_BusHeld && m_LastAddress == address)
        return kDone;  // the open transfer continues
    m_LastAddress = address;
    QueueStart();
    QueueWriteByte(address);
    AppendCommand(mpsse::kSendImmediate);
    m_BusHeld = 1;
    std::array<uint8_t, 2> reply{};
    if (!Transact(reply))
        return kUsbFailure;
    if (reply[0] != address || reply[1] != 0) {
        m_BusHeld = 0;
        QueueStop();
        if (!Flush())
            return kUsbFailure;
        return reply[0] == address ? kNotAcknowledged : kReadBackDiffers;
    }
    return kDone;
}

int CUsbI2C::Write(uint8_t address, const uint8_t* data, uint32_t count, bool stop)
{
    if (data == nullptr && count != 0)
        return kUsbFailure;  // nothing sent: the bus keeps its state
    int result = WriteBytes(address, data, count, stop);
    // After a USB failure nobody knows how far the bus got: the next transfer starts afresh with a
    // START rather than sending bytes to a slave that may never have been addressed.
    if (result == kUsbFailure)
        m_BusHeld = 0;
    return result;
}

int CUsbI2C::Read(uint8_t address, uint8_t* buffer, uint32_t count, bool stop)
{
    if (buffer == nullptr && count != 0)
        return kUsbFailure;  // nothing sent: the bus keeps its state
    int result = ReadBytes(address, buffer, count, stop);
    if (result == kUsbFailure)
        m_BusHeld = 0;
    return result;
}

int CUsbI2C::WriteBytes(uint8_t address, const uint8_t* data, uint32_t count, bool stop)
{
    int result = AddressPhase(static_cast<uint8_t>(address & 0xFE));
    if (result != kDone)
        return result;
    for (uint32_t i = 0; i < count; ++i) {
        QueueWriteByte(data[i]);
        bool stopSent = false;
        if (stop && i + 1 == count) {
            QueueStop();  // in the same write as the last byte
            m_BusHeld = 0;
            stopSent = true;
        }
        AppendCommand(mpsse::kSendImmediate);
        std::array<uint8_t, 2> reply{};
        if (!Transact(reply))
            return kUsbFailure;
        if (reply[0] == data[i] && reply[1] == 0)
            continue;
        if (!stopSent) {
            m_BusHeld = 0;
            QueueStop();
            if (!Flush())
                return kUsbFailure;
        }
        return reply[0] == data[i] ? kNotAcknowledged : kReadBackDiffers;
    }
    return kDone;
}

int CUsbI2C::ReadBytes(uint8_t address, uint8_t* buffer, uint32_t count, bool stop)
{
    int result = AddressPhase(static_cast<uint8_t>(address | 0x01));
    if (result != kDone)
        return result;
    for (uint32_t i = 0; i < count; ++i) {
        bool last = i + 1 == count;
        if (stop && last) {
            QueueReadByte(true);
            QueueStop();
            m_BusHeld = 0;
            m_ForceNack = 0;
        } else if (m_ForceNack && last) {
            m_ForceNack = 0;
            QueueReadByte(true);  // the bus stays held
        } else {
            QueueReadByte(false);
        }
    }
    AppendCommand(mpsse::kSendImmediate);
    std::vector<uint8_t> scratch(2 * static_cast<size_t>(count));
    if (!Transact(scratch))
        return kUsbFailure;
    for (uint32_t i = 0; i < count; ++i)
        buffer[i] = scratch[2 * static_cast<size_t>(i)];  // the acknowledge bits are not looked at
    return kDone;
}

void CUsbI2C::SetGpioDirection(int pin, uint8_t direction)
{
    uint8_t bit = GpioBit(pin);
    m_PinDirection = static_cast<uint8_t>((direction & 1) ? (m_PinDirection | bit) : (m_PinDirection & ~bit));
}

bool CUsbI2C::WriteGpio(int pin, uint8_t level)
{
    uint8_t bit = GpioBit(pin);
    m_PinValue = static_cast<uint8_t>((level & 1) ? (m_PinValue | bit) : (m_PinValue & ~bit));
    ClearQueues();
    QueuePinWrite();
    return Flush();
}

}  // namespace usbwire
