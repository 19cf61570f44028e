#include "adapter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qbxsim {

namespace {

constexpr uintptr_t kHandleTag = 0xA0;  // low byte of every handle: tag | channel

bool ValidBitMode(UCHAR mode)
{
    switch (mode) {
    case 0x00: case 0x01: case 0x02: case 0x04: case 0x08: case 0x10: case 0x20: case 0x40:
        return true;
    default:
        return false;
    }
}

}  // namespace

CSimAdapter& CSimAdapter::Instance()
{
    static const std::unique_ptr<CSimAdapter> instance = [] {
        _SIMSETUP setup = SetupFromEnvironment();
        return std::make_unique<CSimAdapter>(std::move(setup.config), std::move(setup.files));
    }();
    return *instance;
}

CSimAdapter::CSimAdapter(std::unique_ptr<_SIMCONFIG> config, _SIMFILES files) : m_Chip(std::move(config), std::move(files))
{
    m_Channels.resize(kChannels);
    for (int i = 0; i < kChannels; ++i) {
        m_Channels[i].serial = std::string("FTQBXSIM") + CSimChip::Letter(i);
        m_Channels[i].description = std::string("FT2232H MiniModule ") + CSimChip::Letter(i);
        m_Channels[i].locId = 0x1011 + static_cast<DWORD>(i);
    }
}

FT_STATUS CSimAdapter::Lookup(FT_HANDLE handle, Channel** channel)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if ((value & 0xFE) != kHandleTag)
        return FT_INVALID_HANDLE;
    uint64_t generation = value >> 8;
    int index = static_cast<int>(value & 1);
    if (generation == 0 || generation > m_Generation)
        return FT_INVALID_HANDLE;
    if (m_IssuedTo[generation - 1] != index)  // that generation went to the other channel
        return FT_INVALID_HANDLE;
    Channel& c = m_Channels[index];
    if (!c.open || c.generation != generation)  // this open has ended
        return FT_DEVICE_NOT_OPENED;
    *channel = &c;
    return FT_OK;
}

FT_HANDLE CSimAdapter::HandleOf(uint64_t generation, int index)
{
    return reinterpret_cast<FT_HANDLE>(static_cast<uintptr_t>((generation << 8) | kHandleTag |
                                                              static_cast<uintptr_t>(index)));
}

void CSimAdapter::DropQueued(Channel& c)
{
    c.rx.clear();
    c.rxHead = 0;
}

template <typename Body>
FT_STATUS CSimAdapter::OnChannel(FT_HANDLE handle, Body body)
{
    std::lock_guard lock(m_Mutex);
    Channel* c = nullptr;
    FT_STATUS status = Lookup(handle, &c);
    if (status != FT_OK)
        return status;
    if (m_Chip.LinkDead())
        return FT_IO_ERROR;
    return body(*c);
}

FT_STATUS CSimAdapter::CreateDeviceInfoList(DWORD* count)
{
    std::lock_guard lock(m_Mutex);
    if (!count)
        return FT_INVALID_PARAMETER;
    if (m_Chip.LinkDead())
        return FT_IO_ERROR;
    *count = HasDevices() ? kChannels : 0;
    return FT_OK;
}

FT_STATUS CSimAdapter::GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* list, DWORD* count)
{
    std::lock_guard lock(m_Mutex);
    if (!count)
        return FT_INVALID_PARAMETER;
    if (m_Chip.LinkDead())
        return FT_IO_ERROR;
    DWORD devices = HasDevices() ? kChannels : 0;
    if (devices > 0 && *count > 0 && !list)
        return FT_INVALID_PARAMETER;
    DWORD fill = std::min(*count, devices);
    for (DWORD i = 0; i < fill; ++i) {
        const Channel& c = m_Channels[i];
        FT_DEVICE_LIST_INFO_NODE& node = list[i];
        std::memset(&node, 0, sizeof node);
        node.Flags = FT_FLAGS_HISPEED | (c.open ? FT_FLAGS_OPENED : 0);
        node.Type = FT_DEVICE_2232H;
        node.ID = kDeviceId;
        node.LocId = c.locId;
        std::snprintf(node.SerialNumber, sizeof node.SerialNumber, "%s", c.serial.c_str());
        std::snprintf(node.Description, sizeof node.Description, "%s", c.description.c_str());
        node.ftHandle = c.open ? HandleOf(c.generation, static_cast<int>(i)) : nullptr;
    }
    *count = devices;
    return FT_OK;
}

FT_STATUS CSimAdapter::OpenEx(void* arg, DWORD flags, FT_HANDLE* handle)
{
    std::lock_guard lock(m_Mutex);
    if (!handle)
        return FT_INVALID_PARAMETER;
    *handle = nullptr;
    if (m_Chip.LinkDead())
        return FT_IO_ERROR;
    // Only by serial number, as usbwire opens: by description or location is not modelled.
    if (flags != FT_OPEN_BY_SERIAL_NUMBER || !arg)
        return FT_INVALID_PARAMETER;
    if (!HasDevices())
        return FT_DEVICE_NOT_FOUND;
    int index = -1;
    for (int i = 0; i < kChannels && index < 0; ++i)
        if (std::strcmp(static_cast<const char*>(arg), m_Channels[i].serial.c_str()) == 0)
            index = i;
    if (index < 0)
        return FT_DEVICE_NOT_FOUND;
    Channel& c = m_Channels[index];
    if (c.open)
        return FT_DEVICE_NOT_OPENED;
    c.open = true;
    c.generation = ++m_Generation;
    m_IssuedTo.push_back(static_cast<uint8_t>(index));
    DropQueued(c);
    m_Chip.Opened(index);
    *handle = HandleOf(c.generation, index);
    return FT_OK;
}

FT_STATUS CSimAdapter::Close(FT_HANDLE handle)
{
    std::lock_guard lock(m_Mutex);
    Channel* c = nullptr;
    FT_STATUS status = Lookup(handle, &c);
    if (status != FT_OK)
        return status;
    c->open = false;
    DropQueued(*c);
    bool anyOpen = false;
    for (const Channel& other : m_Channels)
        anyOpen = anyOpen || other.open;
    if (!anyOpen)
        m_Chip.WriteStats();
    return m_Chip.LinkDead() ? FT_IO_ERROR : FT_OK;
}

FT_STATUS CSimAdapter::ResetDevice(FT_HANDLE handle)
{
    return OnChannel(handle, [&](Channel& c) -> FT_STATUS {
        DropQueued(c);
        m_Chip.Engine(IndexOf(c)).Purge();
        return FT_OK;
    });
}

FT_STATUS CSimAdapter::GetQueueStatus(FT_HANDLE handle, DWORD* queued)
{
    return OnChannel(handle, [&](Channel& c) -> FT_STATUS {
        if (!queued)
            return FT_INVALID_PARAMETER;
        *queued = static_cast<DWORD>(Queued(c));
        return FT_OK;
    });
}

FT_STATUS CSimAdapter::Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got)
{
    return OnChannel(handle, [&](Channel& c) -> FT_STATUS {
        if (!got || (!buffer && count > 0))
            return FT_INVALID_PARAMETER;
        size_t n = std::min<size_t>(count, Queued(c));
        if (n > 0)
            std::memcpy(buffer, c.rx.data() + c.rxHead, n);
        m_Chip.Read(IndexOf(c), c.rx.data() + c.rxHead, n);
        c.rxHead += n;
        if (c.rxHead == c.rx.size())
            DropQueued(c);
        *got = static_cast<DWORD>(n);
        return FT_OK;
    });
}

FT_STATUS CSimAdapter::Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written)
{
    return OnChannel(handle, [&](Channel& c) -> FT_STATUS {
        if (!written || (!buffer && count > 0))
            return FT_INVALID_PARAMETER;
        *written = 0;
        if (!m_Chip.Write(IndexOf(c), static_cast<const uint8_t*>(buffer), count, c.rx))
            return FT_IO_ERROR;
        *written = count;
        return FT_OK;
    });
}

FT_STATUS CSimAdapter::SetUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize)
{
    return OnChannel(handle, [&](Channel& c) -> FT_STATUS {
        // Transfer sizes are multiples of 64 from 64 bytes to 64 KiB; only the IN size matters.
        if (inSize < 64 || inSize > 65536 || inSize % 64 != 0)
            return FT_INVALID_PARAMETER;
        c.inTransferSize = inSize;
        c.outTransferSize = outSize;
        DropQueued(c);  // data held in the driver is lost
        return FT_OK;
    });
}

FT_STATUS CSimAdapter::SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled, UCHAR errorChar,
                                UCHAR errorEnabled)
{
    return OnChannel(handle, [&](Channel& c) -> FT_STATUS {
        c.eventChar = eventChar;
        c.eventEnabled = eventEnabled;
        c.errorChar = errorChar;
        c.errorEnabled = errorEnabled;
        return FT_OK;
    });
}

FT_STATUS CSimAdapter::SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs)
{
    return OnChannel(handle, [&](Channel& c) -> FT_STATUS {
        c.readTimeout = readMs;
        c.writeTimeout = writeMs;
        return FT_OK;
    });
}

FT_STATUS CSimAdapter::SetLatencyTimer(FT_HANDLE handle, UCHAR ms)
{
    return OnChannel(handle, [&](Channel& c) -> FT_STATUS {
        if (ms < 2)  // the latency timer runs from 2 to 255 ms
            return FT_INVALID_PARAMETER;
        c.latency = ms;
        return FT_OK;
    });
}

FT_STATUS CSimAdapter::SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode)
{
    return OnChannel(handle, [&](Channel& c) -> FT_STATUS {
        if (!ValidBitMode(mode))
            return FT_INVALID_PARAMETER;
        m_Chip.Engine(IndexOf(c)).SetBitMode(mask, mode);
        return FT_OK;
    });
}

}  // namespace qbxsim
