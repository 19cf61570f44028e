#include "ft2232h.h"

#include "platform.h"

#include <algorithm>
#include <cstring>

namespace usbwire {

namespace {

// Opcodes the engine does not know, sent to synchronise with it.
constexpr uint8_t kSyncFirst = 0xAA;
constexpr uint8_t kSyncSecond = 0xAB;

// The channel settings of Setup.
constexpr ULONG kUsbTransferSize = 65536;  // bytes per USB request, each way
constexpr ULONG kWriteTimeoutMs = 5000;    // the read time-out stays 0: only bytes that have arrived are read
constexpr UCHAR kLatencyTimerMs = 16;      // replies end with send-immediate and need not wait for it
constexpr uint32_t kSettleMs = 20;         // pause around the clock settings

// Letter case compared in the C locale, whatever the process locale is.
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// text (NUL-terminated) equals field (at most size characters, NUL-terminated only if shorter).
bool EqualIgnoringCase(const char* text, const char* field, size_t size)
{
    size_t length = strnlen(field, size);
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\0' || LowerAscii(text[i]) != LowerAscii(field[i]))
            return false;
    }
    return text[length] == '\0';
}

}  // namespace

CFT2232h::~CFT2232h() { CloseDevice(); }

bool CFT2232h::UseDriver()
{
    if (!m_HaveDriver) {
        // The first use resolves the driver (once per process).
        if (const D2xxDriver* driver = GetD2xxDriver()) {
            m_Driver = *driver;
            m_HaveDriver = true;
        }
    }
    return m_HaveDriver;
}

bool CFT2232h::IsOpen()
{
    if (m_Handle == nullptr || !m_HaveDriver) {
        m_Status = FT_INVALID_HANDLE;
        return false;
    }
    return true;
}

int CFT2232h::Enumerate()
{
    m_DeviceList.clear();
    if (!UseDriver())
        return 0;
    DWORD count = 0;
    m_Status = m_Driver.CreateDeviceInfoList(&count);
    if (m_Status != FT_OK)
        return 0;
    m_DeviceList.assign(count, FT_DEVICE_LIST_INFO_NODE{});
    DWORD filled = count;
    m_Status = m_Driver.GetDeviceInfoList(m_DeviceList.data(), &filled);
    if (m_Status != FT_OK) {
        m_DeviceList.clear();
        return 0;
    }
    // A list that shrank since FT_CreateDeviceInfoList keeps only the records filled in.
    if (filled < count)
        m_DeviceList.resize(filled);
    std::erase_if(m_DeviceList, [](const FT_DEVICE_LIST_INFO_NODE& node) {
        return node.Type != FT_DEVICE_2232H && node.Type != FT_DEVICE_4232H;
    });
    return static_cast<int>(m_DeviceList.size());
}

bool CFT2232h::OpenByDescription(const char* description)
{
    if (description == nullptr) {
        m_Status = FT_INVALID_PARAMETER;
        return false;
    }
    if (!UseDriver()) {
        m_Status = FT_OTHER_ERROR;
        return false;
    }
    Enumerate();
    for (const FT_DEVICE_LIST_INFO_NODE& node : m_DeviceList) {
        if (!EqualIgnoringCase(description, node.Description, sizeof node.Description))
            continue;
        // The record's serial number fills all 16 characters (without NUL) when it is that long.
        char serial[sizeof node.SerialNumber + 1] = {};
        std::memcpy(serial, node.SerialNumber, sizeof node.SerialNumber);
        FT_HANDLE handle = nullptr;
        m_Status = m_Driver.OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle);
        if (m_Status == FT_OK && handle != nullptr) {
            m_Handle = handle;
            return true;
        }
        if (m_Status == FT_OK)
            m_Status = FT_DEVICE_NOT_OPENED;
        m_Handle = nullptr;
        return false;
    }
    if (m_Status == FT_OK)
        m_Status = FT_DEVICE_NOT_FOUND;
    return false;
}

void CFT2232h::CloseDevice()
{
    m_DeviceList.clear();
    if (m_Handle != nullptr) {
        m_Status = m_Driver.Close(m_Handle);
        m_Handle = nullptr;
    }
}

void CFT2232h::Close() { CloseDevice(); }

bool CFT2232h::ResetAndDrain()
{
    if (!IsOpen())
        return false;
    m_Status = m_Driver.ResetDevice(m_Handle);
    if (m_Status != FT_OK)
        return false;
    DWORD waiting = 0;
    m_Status = m_Driver.GetQueueStatus(m_Handle, &waiting);
    if (m_Status != FT_OK)
        return false;
    if (waiting == 0)
        return true;
    std::vector<uint8_t> scratch(waiting);
    uint32_t count = 0;
    return ReadAvailable(scratch.data(), waiting, count);
}

bool CFT2232h::Flush()
{
    m_Status = FT_OK;
    if (!m_Command.empty() && IsOpen()) {
        size_t written = 0;
        uint32_t stalled = 0;
        while (m_Status == FT_OK && written < m_Command.size()) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(kWriteChunk, m_Command.size() - written));
            DWORD done = 0;
            m_Status = m_Driver.Write(m_Handle, m_Command.data() + written, chunk, &done);
            if (m_Status != FT_OK)
                break;
            done = std::min(done, chunk);  // a driver claiming more than it was given
            if (done == 0) {
                // A write that succeeds without taking anything would spin for ever.
                if (++stalled >= kMaxStalledWrites) {
                    m_Status = FT_FAILED_TO_WRITE_DEVICE;
                    break;
                }
            } else {
                stalled = 0;
            }
            written += done;
        }
    }
    m_Command.clear();
    return m_Status == FT_OK;
}

bool CFT2232h::WaitForData()
{
    if (!IsOpen())
        return false;
    uint32_t start = platform::TickCountMs();
    for (;;) {
        DWORD waiting = 0;
        m_Status = m_Driver.GetQueueStatus(m_Handle, &waiting);
        if (m_Status != FT_OK)
            return false;
        if (waiting != 0)
            return true;
        if (platform::TickCountMs() - start > kWaitForDataMs) {
            m_Status = kStatusTimeout;
            return false;
        }
    }
}

bool CFT2232h::ReadAvailable(uint8_t* buffer, uint32_t maximum, uint32_t& count)
{
    count = 0;
    if (!IsOpen())
        return false;
    DWORD waiting = 0;
    m_Status = m_Driver.GetQueueStatus(m_Handle, &waiting);
    if (m_Status == FT_OK && waiting != 0 && maximum != 0) {
        DWORD wanted = std::min<DWORD>(waiting, maximum);
        DWORD got = 0;
        m_Status = m_Driver.Read(m_Handle, buffer, wanted, &got);
        count = std::min(got, wanted);
    }
    return m_Status == FT_OK;
}

bool CFT2232h::ReadExact(uint8_t* buffer, uint32_t length)
{
    if (!IsOpen())
        return false;
    uint32_t start = platform::TickCountMs();
    uint32_t have = 0;
    while (have < length) {
        DWORD got = 0;
        DWORD waiting = 0;
        m_Status = m_Driver.GetQueueStatus(m_Handle, &waiting);
        if (m_Status != FT_OK)
            return false;
        if (waiting != 0) {
            DWORD wanted = std::min<DWORD>(waiting, length - have);
            m_Status = m_Driver.Read(m_Handle, buffer + have, wanted, &got);
            if (m_Status != FT_OK)
                return false;
            got = std::min(got, wanted);
            have += got;
        }
        if (got == 0 && platform::TickCountMs() - start > kReadTimeoutMs) {
            m_Status = kStatusTimeout;
            return false;
        }
    }
    return true;
}

bool CFT2232h::ScanForEcho(const uint8_t* bytes, uint32_t count, uint8_t echo, bool& lastWasFa)
{
    for (uint32_t i = 0; i < count; ++i) {
        if (lastWasFa && bytes[i] == echo)
            return true;
        lastWasFa = bytes[i] == mpsse::kBadCommand;
    }
    return false;
}

bool CFT2232h::ReadAndScan(uint8_t echo, bool& lastWasFa, bool& found)
{
    found = false;
    DWORD waiting = 0;
    m_Status = m_Driver.GetQueueStatus(m_Handle, &waiting);
    if (m_Status != FT_OK)
        return false;
    std::vector<uint8_t> bytes(waiting);
    uint32_t count = 0;
    if (!ReadAvailable(bytes.data(), waiting, count))
        return false;
    found = ScanForEcho(bytes.data(), count, echo, lastWasFa);
    return true;
}

bool CFT2232h::Synchronize()
{
    if (!IsOpen())
        return false;

    // First half: the first opcode until the engine echoes it, resent after each silent 100 ms.
    uint32_t start = platform::TickCountMs();
    bool lastWasFa = false;
    bool found = false;
    while (!found) {
        if (!SendOpcode(kSyncFirst))
            return false;
        if (!WaitForData()) {
            if (m_Status != kStatusTimeout)
                return false;
        } else if (!ReadAndScan(kSyncFirst, lastWasFa, found)) {
            return false;
        }
        if (platform::TickCountMs() - start > kReadTimeoutMs) {
            m_Status = kStatusTimeout;
            return false;
        }
    }

    // Second half: the second opcode once, then wait for its echo without sending anything more.
    // Echoes of the first opcode still on their way are not mistaken for the end of the handshake.
    if (!SendOpcode(kSyncSecond))
        return false;
    start = platform::TickCountMs();
    lastWasFa = false;
    for (;;) {
        if (WaitForData()) {
            if (!ReadAndScan(kSyncSecond, lastWasFa, found))
                return false;
            if (found)
                return true;
        } else if (m_Status != kStatusTimeout) {
            return false;
        }
        if (platform::TickCountMs() - start > kReadTimeoutMs) {
            m_Status = kStatusTimeout;
            return false;
        }
    }
}

bool CFT2232h::SendOpcode(uint8_t opcode)
{
    ClearQueues();
    AppendCommand(opcode);
    return Flush();
}

bool CFT2232h::SetClockDivisor(uint16_t divisor)
{
    ClearQueues();
    AppendCommand(mpsse::kSetClockDivisor);
    AppendCommand(static_cast<uint8_t>(divisor & 0xFF));
    AppendCommand(static_cast<uint8_t>(divisor >> 8));
    return Flush();
}

bool CFT2232h::Setup(std::span<const uint8_t> pinSetup, uint16_t divisor)
{
    if (!ResetAndDrain())
        return false;
    m_Status = m_Driver.SetUSBParameters(m_Handle, kUsbTransferSize, kUsbTransferSize);
    if (m_Status != FT_OK)
        return false;
    m_Status = m_Driver.SetChars(m_Handle, 0, 0, 0, 0);
    if (m_Status != FT_OK)
        return false;
    m_Status = m_Driver.SetTimeouts(m_Handle, 0, kWriteTimeoutMs);
    if (m_Status != FT_OK)
        return false;
    m_Status = m_Driver.SetLatencyTimer(m_Handle, kLatencyTimerMs);
    if (m_Status != FT_OK)
        return false;
    m_Status = m_Driver.SetBitMode(m_Handle, 0x00, FT_BITMODE_RESET);
    if (m_Status != FT_OK)
        return false;
    m_Status = m_Driver.SetBitMode(m_Handle, 0x00, FT_BITMODE_MPSSE);
    if (m_Status != FT_OK)
        return false;
    if (!Synchronize())
        return false;
    if (!ResetAndDrain())
        return false;
    platform::SleepMs(kSettleMs);
    // The engine may keep settings of an earlier user: clock from the 60 MHz master clock, no
    // adaptive or three-phase clocking, no loopback. Each its own write.
    for (uint8_t opcode : {mpsse::kDisableDivideBy5, mpsse::kDisableAdaptive, mpsse::kDisableThreePhase,
                           mpsse::kLoopbackOff}) {
        if (!SendOpcode(opcode))
            return false;
    }
    platform::SleepMs(kSettleMs);
    if (!ResetAndDrain())
        return false;
    ClearQueues();
    for (uint8_t byte : pinSetup)
        AppendCommand(byte);
    if (!Flush())
        return false;
    return SetClockDivisor(divisor);
}

}  // namespace usbwire
