// CUsbJtag: a JTAG master on one MPSSE channel. Clocks TMS patterns, shifts bit strings through
// the chain on TDI while capturing TDO (optionally raising TMS on the last bit), and drives the
// four target-select lines GPIOL0..3. It keeps no TAP state: the caller chooses every pattern.
#pragma once

#include "ft2232h.h"

#include <cstdint>
#include <span>

namespace usbwire {

class CUsbJtag : public CFT2232h {
public:
    static constexpr uint16_t kDivisor = 29;  // TCK = 60 MHz / ((1 + 29) x 2) = 1 MHz

    // How Shift's buffers hold an n-bit string (bit 0 is the first shifted).
    enum class Layout {
        kLsbFirst,   // bit k in byte k / 8, bit k % 8
        kBigEndian,  // a big-endian number (bit 0 its least significant), left-aligned: byte 0 holds
                     // the most significant bits; the low 8 - n % 8 bits of the last byte are unused
    };

    CUsbJtag() = default;
    ~CUsbJtag() override;

    // Opens the channel with this description and sets it up as JTAG master.
    bool Open(const char* description);
    // Makes every pin of the channel an input, waits 100 ms, then closes the device.
    void Close() override;

    // Clocks n bits (1 to 7, bit 0 first) of pattern onto TMS; bit 7 is held on TDI.
    bool ClockTms(uint8_t pattern, uint8_t n);
    // Drives the low four bits of address onto GPIOL0..GPIOL3.
    bool SetAddress(uint8_t address);
    // Shifts n bits in and captures n bits; with exit TMS rises on the last bit.
    bool Shift(Layout layout, uint32_t n, const uint8_t* source, uint8_t* destination, bool exit);
    // Shifts n bits starting at bit `start` of source; nothing is read back.
    bool ShiftOut(uint8_t start, uint32_t n, const uint8_t* source, bool exit);
    // Shifts n bits and captures them into destination; the last bit with TMS = lastTms.
    bool ShiftInOut(uint32_t n, const uint8_t* source, uint8_t* destination, bool lastTms);

    void QueueBits(bool tms, uint8_t data, uint8_t n, bool clearFirst);
    void QueueBitsRead(bool tms, uint8_t data, uint8_t n, bool clearFirst);
    // Reads one reply byte per pending entry and packs their bits LSB first into destination,
    // whose bytes must be zero. The pending list is left as it is.
    bool CollectBits(std::span<uint8_t> destination);

    uint8_t PinValue() const { return m_PinValue; }
    uint8_t PinDirection() const { return m_PinDirection; }

private:
    void QueuePins(bool tms, uint8_t data, bool clearFirst);
    // Shifts n bits of source (LSB first; null: zeros) in groups of eight aligned on the bytes,
    // with TMS low; with lastAlone the last bit goes alone with TMS = lastTms. Captures the n bits
    // into reply (LSB first), which may be the source.
    bool ShiftCapturing(uint32_t n, const uint8_t* source, uint8_t* reply, bool lastAlone, bool lastTms);
    // n = 0 is outside every shift's range: fails with FT_INVALID_PARAMETER, nothing is sent.
    bool CheckCount(uint32_t n);

    uint8_t m_PinValue = 0;
    uint8_t m_PinDirection = 0;
};

}  // namespace usbwire
