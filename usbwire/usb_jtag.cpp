#include "usb_jtag.h"

#include "platform.h"

#include <algorithm>
#include <array>
#include <vector>

namespace usbwire {

namespace {

constexpr uint8_t kTdi = 0x02;
constexpr uint8_t kTdo = 0x04;
constexpr uint8_t kTms = 0x08;
constexpr uint8_t kShiftOut = 0x1B;      // bits out LSB first on -ve edge
constexpr uint8_t kShiftInOut = 0x3B;    // the same, TDO sampled on +ve edge
constexpr uint8_t kClockTms = 0x4B;      // TMS bits, bit 7 held on TDI
constexpr uint32_t kClosePauseMs = 100;

}  // namespace

CUsbJtag::~CUsbJtag() { CUsbJtag::Close(); }

bool CUsbJtag::Open(const char* description)
{
    if (!OpenByDescription(description))
        return false;
    m_PinValue = static_cast<uint8_t>(m_PinValue & kTdo);
    m_PinDirection = static_cast<uint8_t>(~kTdo & 0xFF);  // 0xFB: all outputs but TDO
    const std::array<uint8_t, 6> pins = {kSetLowPins, m_PinValue, m_PinDirection, kSetHighPins, 0x00, 0x00};
    return Setup(pins, kDivisor);
}

void CUsbJtag::Close()
{
    // Releasing the pins needs an open device; a never-opened or already closed object has none,
    // and then there is nothing to release or wait for.
    if (m_Handle != nullptr) {
        m_PinDirection = 0x00;
        ClearQueues();
        AppendCommand(kSetLowPins);
        AppendCommand(m_PinValue);
        AppendCommand(0x00);
        AppendCommand(kSetHighPins);
        AppendCommand(0x00);
        AppendCommand(0x00);
        Flush();
        platform::SleepMs(kClosePauseMs);
    }
    CloseDevice();
}

bool CUsbJtag::CheckCount(uint32_t n)
{
    if (n == 0) {
        m_Status = FT_INVALID_PARAMETER;
        return false;
    }
    return true;
}

bool CUsbJtag::ClockTms(uint8_t pattern, uint8_t n)
{
    if (!CheckCount(n))
        return false;
    AppendCommand(kClockTms);
    AppendCommand(static_cast<uint8_t>(n - 1));
    AppendCommand(pattern);
    return Flush();
}

bool CUsbJtag::SetAddress(uint8_t address)
{
    m_PinValue = static_cast<uint8_t>((address << 4) | (m_PinValue & 0x0F));
    ClearQueues();
    AppendCommand(kSetLowPins);
    AppendCommand(m_PinValue);
    AppendCommand(m_PinDirection);
    return Flush();
}

void CUsbJtag::QueuePins(bool tms, uint8_t data, bool clearFirst)
{
    m_PinValue = static_cast<uint8_t>((m_PinValue & ~(kTms | kTdi)) | (tms ? kTms : 0) | ((data & 1) ? kTdi : 0));
    AppendCommand(kSetLowPins, clearFirst);
    AppendCommand(m_PinValue);
    AppendCommand(m_PinDirection);
}

void CUsbJtag::QueueBits(bool tms, uint8_t data, uint8_t n, bool clearFirst)
{
    QueuePins(tms, data, clearFirst);
    AppendCommand(kShiftOut);
    AppendCommand(static_cast<uint8_t>(n - 1));
    AppendCommand(data);
}

void CUsbJtag::QueueBitsRead(bool tms, uint8_t data, uint8_t n, bool clearFirst)
{
    QueuePins(tms, data, clearFirst);
    AppendCommand(kShiftInOut);
    AppendCommand(static_cast<uint8_t>(n - 1));
    AppendCommand(data);
    AddPendingRead(n);
}

bool CUsbJtag::CollectBits(std::span<uint8_t> destination)
{
    std::vector<uint8_t> replies(m_PendingReads.size());
    if (!ReadExact(replies.data(), static_cast<uint32_t>(replies.size())))
        return false;
    size_t byte = 0;
    unsigned position = 0;
    for (size_t i = 0; i < replies.size() && byte < destination.size(); ++i) {
        unsigned bits = m_PendingReads[i].bits;
        // The n bits read sit in the top n bits of the reply, the first one lowest.
        unsigned value = (static_cast<unsigned>(replies[i]) >> (8u - bits)) << position;
        destination[byte] = static_cast<uint8_t>(destination[byte] | (value & 0xFF));
        position += bits;
        if (position >= 8) {
            position -= 8;
            ++byte;
            if (position != 0 && byte < destination.size())
                destination[byte] = static_cast<uint8_t>(destination[byte] | (value >> 8));
        }
    }
    return true;
}

bool CUsbJtag::Shift(int mode, uint32_t n, const uint8_t* source, uint8_t* destination, bool exit)
{
    if (!CheckCount(n))
        return false;
    const size_t bytes = (n - 1) / 8 + 1;
    const unsigned r = n % 8;

    // Mode 1: the string is a big-endian number, left-aligned; rewrite it LSB first.
    std::vector<uint8_t> sourceScratch;
    const uint8_t* src = source;
    if (mode == 1 && source != nullptr) {
        sourceScratch.resize(bytes);
        for (size_t j = 0; j < bytes; ++j) {
            if (r == 0) {
                sourceScratch[j] = source[bytes - 1 - j];
            } else {
                unsigned value = static_cast<unsigned>(source[bytes - 1 - j]) >> (8 - r);
                if (j + 1 < bytes)
                    value |= static_cast<unsigned>(source[bytes - 2 - j]) << r;
                sourceScratch[j] = static_cast<uint8_t>(value);
            }
        }
        src = sourceScratch.data();
    }
    std::vector<uint8_t> replyScratch;
    uint8_t* reply = destination;
    if (mode == 1 || destination == nullptr) {
        replyScratch.resize(bytes);
        reply = replyScratch.data();
    }

    // The body in groups of eight aligned on the bytes, each with its own pin write (TMS low).
    const uint32_t body = exit ? n - 1 : n;
    bool first = true;
    for (uint32_t done = 0; done < body;) {
        uint32_t group = std::min<uint32_t>(8, body - done);
        QueueBitsRead(false, src ? src[done / 8] : 0, static_cast<uint8_t>(group), first);
        first = false;
        done += group;
    }
    if (exit) {
        // The last bit alone, with TMS high: the TAPs leave Shift-DR/IR for Exit1.
        uint8_t last = src ? static_cast<uint8_t>(src[(n - 1) / 8] >> ((n - 1) % 8)) : 0;
        QueueBitsRead(true, last, 1, first);
    }
    // Zeroed only now that every source byte has been taken, so that source and destination
    // may be the same buffer.
    std::fill(reply, reply + bytes, 0);
    AppendCommand(kSendImmediate);
    if (!Flush())
        return false;
    if (!CollectBits({reply, bytes}))
        return false;

    if (mode == 1 && destination != nullptr) {
        destination[bytes - 1] = 0;
        for (size_t j = 0; j < bytes; ++j) {
            if (r == 0) {
                destination[bytes - 1 - j] = reply[j];
            } else {
                destination[bytes - 1 - j] =
                    static_cast<uint8_t>(destination[bytes - 1 - j] | (reply[j] << (8 - r)));
                if (j + 1 < bytes)
                    destination[bytes - 2 - j] = static_cast<uint8_t>(reply[j] >> r);
            }
        }
    }
    return true;
}

bool CUsbJtag::ShiftOut(uint8_t start, uint32_t n, const uint8_t* source, bool exit)
{
    if (!CheckCount(n))
        return false;
    size_t index = start / 8;
    unsigned position = start % 8;
    uint8_t current = source ? static_cast<uint8_t>(source[index] >> position) : 0;
    const uint32_t body = exit ? n - 1 : n;
    unsigned gathered = 0;
    bool first = true;
    for (uint32_t i = 0; i < body; ++i) {
        ++gathered;
        if (++position == 8) {
            QueueBits(false, current, static_cast<uint8_t>(gathered), first);
            first = false;
            gathered = 0;
            position = 0;
            // The next source byte only when a bit of it is needed: never read past the string.
            if (i + 1 < body || exit) {
                ++index;
                current = source ? source[index] : 0;
            }
        }
    }
    if (gathered != 0) {
        QueueBits(false, current, static_cast<uint8_t>(gathered), first);
        first = false;
        current = static_cast<uint8_t>(current >> gathered);
    }
    if (exit)
        QueueBits(true, current, 1, first);
    return Flush();
}

bool CUsbJtag::ShiftInOut(uint32_t n, const uint8_t* source, uint8_t* destination, bool lastTms)
{
    if (!CheckCount(n))
        return false;
    if (destination == nullptr) {
        m_Status = FT_INVALID_PARAMETER;
        return false;
    }
    const size_t bytes = (n - 1) / 8 + 1;
    const uint32_t body = n - 1;
    bool first = true;
    for (uint32_t done = 0; done < body;) {
        uint32_t group = std::min<uint32_t>(8, body - done);
        QueueBitsRead(false, source ? source[done / 8] : 0, static_cast<uint8_t>(group), first);
        first = false;
        done += group;
    }
    uint8_t last = source ? static_cast<uint8_t>(source[(n - 1) / 8] >> ((n - 1) % 8)) : 0;
    QueueBitsRead(lastTms, last, 1, first);
    std::fill(destination, destination + bytes, 0);
    AppendCommand(kSendImmediate);
    if (!Flush())
        return false;
    return CollectBits({destination, bytes});
}

}  // namespace usbwire
