// CUsbI2C: an I2C bus master on one MPSSE channel. START and STOP are runs of pin writes, bytes and
// acknowledge bits are clocked with a bit shift (MSB first, on the falling edge) and read back from
// SDA (wired to TDO/DI). A transfer without STOP keeps the bus for the next call to the same
// address byte. Five spare lines (TMS/CS and GPIOL0..3) serve as general-purpose lines 0 to 4.
#pragma once

#include "ft2232h.h"

#include <cstdint>
#include <span>

namespace usbwire {

class CUsbI2C : public CFT2232h {
public:
    // Results of Write and Read.
    static constexpr int kUsbFailure = -1;
    static constexpr int kDone = 0;
    static constexpr int kNotAcknowledged = 1;
    static constexpr int kReadBackDiffers = 2;

    CUsbI2C() = default;

    // Opens the channel with this description and sets it up for SCL at rate Hz.
    bool Open(const char* description, uint32_t rate);
    int Write(uint8_t address, const uint8_t* data, uint32_t count, bool stop);
    int Read(uint8_t address, uint8_t* buffer, uint32_t count, bool stop);
    void ForceLastNack() { m_ForceNack = 1; }
    void SetGpioDirection(int pin, uint8_t direction);
    bool WriteGpio(int pin, uint8_t level);

    void QueueStart();
    void QueueStop();
    void QueueWriteByte(uint8_t byte);
    void QueueReadByte(bool nack);
    // Reads one reply byte per pending entry into destination, masked to its bits; empties the
    // pending list whether or not the read succeeded.
    bool CollectReplies(std::span<uint8_t> destination);

    // The SCL divisor for a rate, or -1 when the rate is out of range (0, too slow, too fast, or
    // so fast that the hold count cannot be computed).
    static int32_t DivisorForRate(uint32_t rate);
    // Pin writes per phase of START and STOP at this rate.
    static uint32_t HoldCount(uint32_t rate);

    uint8_t PinValue() const { return m_PinValue; }
    uint8_t PinDirection() const { return m_PinDirection; }
    bool BusHeld() const { return m_BusHeld != 0; }
    bool ForceNackPending() const { return m_ForceNack != 0; }

private:
    void QueuePinWrite(uint32_t times = 1);
    // count bits (1 to 8) of bits out on SDA, MSB first, and as many read back, one reply byte.
    void QueueShift(uint8_t bits, uint8_t count);
    // The address phase shared by Write and Read: -1, 0, 1 or 2.
    int AddressPhase(uint8_t address);
    int WriteBytes(uint8_t address, const uint8_t* data, uint32_t count, bool stop);
    int ReadBytes(uint8_t address, uint8_t* buffer, uint32_t count, bool stop);
    // Flush, then CollectReplies. A failed flush also drops the entries of its transaction, so
    // that the next transaction does not wait for replies that will never come.
    bool Transact(std::span<uint8_t> destination);

    uint8_t m_PinValue = 0;
    uint8_t m_PinDirection = 0;
    uint32_t m_ClockRate = 0;
    int32_t m_BusHeld = 0;
    uint8_t m_LastAddress = 0;
    int32_t m_ForceNack = 0;
};

}  // namespace usbwire
