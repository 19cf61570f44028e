#include "usb_jtag.h"

#include "platform.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace usbwire {

namespace {

constexpr uint8_t kTdi = 0x02;
constexpr uint8_t kTdo = 0x04;
constexpr uint8_t kTms = 0x08;
constexpr uint32_t kClosePauseMs = 100;

// Where bit k of an n-bit string sits in a buffer of this layout: byte and bit.
std::pair<size_t, unsigned> Place(CUsbJtag::Layout layout, uint32_t n, uint32_t k)
{
    if (layout == CUsbJtag::Layout::kBigEndian) {
        uint32_t fromTop = n - 1 - k;  // bit n - 1 is bit 7 of byte 0
        return {fromTop / 8, 7 - fromTop % 8};
    }
    return {k / 8, k % 8};
}

// Copies an n-bit string from a buffer in one layout into a buffer in another; the unused bits
// of `to` are cleared.
void Relayout(const uint8_t* from, CUsbJtag::Layout fromLayout, uint8_t* to, CUsbJtag::Layout toLayout, uint32_t n)
{
    std::fill(to, to + (n - 1) / 8 + 1, 0);
    for (uint32_t k = 0; k < n; ++k) {
        auto [fromByte, fromBit] = Place(fromLayout, n, k);
        auto [toByte, toBit] = Place(toLayout, n, k);
        if ((from[fromByte] >> fromBit) & 1)
            to[toByte] = static_cast<uint8_t>(to[toByte] | (1u << toBit));
    }
}

}  // namespace

CUsbJtag::~CUsbJtag() { CUsbJtag::Close(); }

bool CUsbJtag::Open(const char* description)
{
    if (!OpenByDescription(description))
        return false;
    m_PinValue = static_cast<uint8_t>(m_PinValue & kTdo);
    m_PinDirection = static_cast<uint8_t>(~kTdo & 0xFF);  // 0xFB: all outputs but TDO
    const std::array<uint8_t, 6> pins = {mpsse::kSetLowByte,  m_PinValue, m_PinDirection,
                                         mpsse::kSetHighByte, 0x00,       0x00};  // high byte: inputs
    return Setup(pins, kDivisor);
}

void CUsbJtag::Close()
{
    // Releasing the pins needs an open device; a never-opened or already closed object has none,
    // and then there is nothing to release or wait for.
    if (m_Handle != nullptr) {
        m_PinDirection = 0x00;  // every pin an input: the JTAG lines float
        const std::array<uint8_t, 6> pins = {mpsse::kSetLowByte,  m_PinValue, m_PinDirection,
                                             mpsse::kSetHighByte, 0x00,       0x00};
        ClearQueues();
        for (uint8_t byte : pins)
            AppendCommand(byte);
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
    AppendCommand(mpsse::kTmsBitsOut);
    AppendCommand(static_cast<uint8_t>(n - 1));
    AppendCommand(pattern);
    return Flush();
}

bool CUsbJtag::SetAddress(uint8_t address)
{
    m_PinValue = static_cast<uint8_t>((address << 4) | (m_PinValue & 0x0F));
    ClearQueues();
    AppendCommand(mpsse::kSetLowByte);
    AppendCommand(m_PinValue);
    AppendCommand(m_PinDirection);
    return Flush();
}

void CUsbJtag::QueuePins(bool tms, uint8_t data, bool clearFirst)
{
    m_PinValue = static_cast<uint8_t>((m_PinValue & ~(kTms | kTdi)) | (tms ? kTms : 0) | ((data & 1) ? kTdi : 0));
    AppendCommand(mpsse::kSetLowByte, clearFirst);
    AppendCommand(m_PinValue);
    AppendCommand(m_PinDirection);
}

void CUsbJtag::QueueBits(bool tms, uint8_t data, uint8_t n, bool clearFirst)
{
    QueuePins(tms, data, clearFirst);
    AppendCommand(mpsse::kBitsOutLsb);
    AppendCommand(static_cast<uint8_t>(n - 1));
    AppendCommand(data);
}

void CUsbJtag::QueueBitsRead(bool tms, uint8_t data, uint8_t n, bool clearFirst)
{
    QueuePins(tms, data, clearFirst);
    AppendCommand(mpsse::kBitsInOutLsb);
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

bool CUsbJtag::ShiftCapturing(uint32_t n, const uint8_t* source, uint8_t* reply, bool lastAlone, bool lastTms)
{
    const size_t bytes = (n - 1) / 8 + 1;
    const uint32_t body = lastAlone ? n - 1 : n;
    bool first = true;  // the first group clears the queues
    for (uint32_t done = 0; done < body;) {
        uint32_t group = std::min<uint32_t>(8, body - done);
        QueueBitsRead(false, source ? source[done / 8] : 0, static_cast<uint8_t>(group), first);
        first = false;
        done += group;
    }
    if (lastAlone) {
        uint8_t last = source ? static_cast<uint8_t>(source[(n - 1) / 8] >> ((n - 1) % 8)) : 0;
        QueueBitsRead(lastTms, last, 1, first);
    }
    // Zeroed only now that every source byte has been taken, so that source and reply may be the
    // same buffer.
    std::fill(reply, reply + bytes, 0);
    AppendCommand(mpsse::kSendImmediate);
    if (!Flush())
        return false;
    return CollectBits({reply, bytes});
}

bool CUsbJtag::Shift(Layout layout, uint32_t n, const uint8_t* source, uint8_t* destination, bool exit)
{
    if (!CheckCount(n))
        return false;
    const size_t bytes = (n - 1) / 8 + 1;
    const bool bigEndian = layout == Layout::kBigEndian;
    // The shift itself takes and gives LSB-first strings; a big-endian one is rewritten.
    std::vector<uint8_t> sourceScratch;
    const uint8_t* lsbSource = source;
    if (bigEndian && source != nullptr) {
        sourceScratch.resize(bytes);
        Relayout(source, Layout::kBigEndian, sourceScratch.data(), Layout::kLsbFirst, n);
        lsbSource = sourceScratch.data();
    }
    std::vector<uint8_t> replyScratch;
    uint8_t* reply = destination;
    if (bigEndian || destination == nullptr) {
        replyScratch.resize(bytes);
        reply = replyScratch.data();
    }
    // With exit, the last bit alone with TMS high: the TAPs leave Shift-DR/IR for Exit1.
    if (!ShiftCapturing(n, lsbSource, reply, exit, true))
        return false;
    if (bigEndian && destination != nullptr)
        Relayout(reply, Layout::kLsbFirst, destination, Layout::kBigEndian, n);
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
    return ShiftCapturing(n, source, destination, true, lastTms);
}

}  // namespace usbwire
