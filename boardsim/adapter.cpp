#include "adapter.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "files.h"
#include "platform.h"

#ifndef QBXSIM_SOURCE_EXAMPLES
#define QBXSIM_SOURCE_EXAMPLES ""
#endif

namespace qbxsim {

namespace {

constexpr uintptr_t kHandleTag = 0xA0;  // low byte of every handle: tag | channel

void Complain(const std::string& message)
{
    std::fprintf(stderr, "qbxsim: %s\r\n", message.c_str());
}

bool FileExists(const std::string& path)
{
    std::ifstream in(path);
    return static_cast<bool>(in);
}

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

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

std::string DefaultBoardFile()
{
    const std::string relative = "examples/boards/healthy.json";
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DefaultBoardFile), &info) && info.dli_fname) {
        std::string beside = platform::JoinPath(platform::DirName(info.dli_fname), relative);
        if (FileExists(beside))
            return beside;
    }
    std::string examples = QBXSIM_SOURCE_EXAMPLES;
    if (!examples.empty())
        return platform::JoinPath(examples, "boards/healthy.json");
    return relative;
}

CSimAdapter& CSimAdapter::Instance()
{
    static const std::unique_ptr<CSimAdapter> instance = [] {
        std::string path = Environment("QBXSIM_BOARD");
        std::unique_ptr<_SIMCONFIG> config;
        std::string error;
        if (path.empty()) {
            path = DefaultBoardFile();
            if (!FileExists(path))
                Complain("no board file: QBXSIM_BOARD is not set and the example board " + path +
                         " is missing; the adapter lists no device");
            else if (!(config = LoadBoardFile(path, &error)))
                Complain(error + "; the adapter lists no device");
        } else if (!(config = LoadBoardFile(path, &error))) {
            Complain(error + "; the adapter lists no device");
        }
        return std::make_unique<CSimAdapter>(std::move(config),
                                             _SIMFILES{Environment("QBXSIM_STATS"), Environment("QBXSIM_TRACE")});
    }();
    return *instance;
}

CSimAdapter::CSimAdapter(std::unique_ptr<_SIMCONFIG> config, _SIMFILES files)
    : m_Config(std::move(config)), m_Files(std::move(files)), m_Trace(std::string())
{
    std::string traceError;
    m_Trace = CSimTrace(m_Files.trace, &traceError);
    if (!traceError.empty())
        Complain(traceError);

    std::vector<std::unique_ptr<CSimBoard>> boards;
    if (m_Config) {
        if (m_Config->bridgePresent)
            m_Bridge = std::make_unique<Ds2482>(m_Config->bridge, m_OneWire);
        for (size_t i = 0; i < m_Config->boards.size(); ++i)
            boards.push_back(std::make_unique<CSimBoard>(m_Config->boards[i], m_Config->layout,
                                                         std::move(m_Config->oneWire[i])));
    }
    m_I2c = std::make_unique<I2cBus>(m_Bridge.get());
    m_Socket = std::make_unique<CSimSocket>(std::move(boards), m_OneWire);
    m_BridgeWiring = std::make_unique<CBridgeWiring>(*m_I2c, *m_Socket);
    m_JtagWiring = std::make_unique<CJtagWiring>(*m_Socket, m_OneWire);

    m_Channels.reserve(kChannels);
    m_Channels.emplace_back(m_BridgeWiring.get());
    m_Channels.emplace_back(m_JtagWiring.get());
    for (int i = 0; i < kChannels; ++i) {
        m_Channels[i].serial = std::string("FTQBXSIM") + Letter(i);
        m_Channels[i].description = std::string("FT2232H MiniModule ") + Letter(i);
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
    if (m_LinkDead)
        return FT_IO_ERROR;
    return body(*c);
}

FT_STATUS CSimAdapter::CreateDeviceInfoList(DWORD* count)
{
    std::lock_guard lock(m_Mutex);
    if (!count)
        return FT_INVALID_PARAMETER;
    if (m_LinkDead)
        return FT_IO_ERROR;
    *count = HasDevices() ? kChannels : 0;
    return FT_OK;
}

FT_STATUS CSimAdapter::GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* list, DWORD* count)
{
    std::lock_guard lock(m_Mutex);
    if (!count)
        return FT_INVALID_PARAMETER;
    if (m_LinkDead)
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
    if (m_LinkDead)
        return FT_IO_ERROR;
    if (flags != FT_OPEN_BY_SERIAL_NUMBER && flags != FT_OPEN_BY_DESCRIPTION && flags != FT_OPEN_BY_LOCATION)
        return FT_INVALID_PARAMETER;
    if (flags != FT_OPEN_BY_LOCATION && !arg)
        return FT_INVALID_PARAMETER;
    if (!HasDevices())
        return FT_DEVICE_NOT_FOUND;
    int index = -1;
    for (int i = 0; i < kChannels && index < 0; ++i) {
        const Channel& c = m_Channels[i];
        switch (flags) {
        case FT_OPEN_BY_SERIAL_NUMBER:
            if (std::strcmp(static_cast<const char*>(arg), c.serial.c_str()) == 0)
                index = i;
            break;
        case FT_OPEN_BY_DESCRIPTION:
            if (std::strcmp(static_cast<const char*>(arg), c.description.c_str()) == 0)
                index = i;
            break;
        default:
            if (static_cast<DWORD>(reinterpret_cast<uintptr_t>(arg)) == c.locId)
                index = i;
            break;
        }
    }
    if (index < 0)
        return FT_DEVICE_NOT_FOUND;
    Channel& c = m_Channels[index];
    if (c.open)
        return FT_DEVICE_NOT_OPENED;
    c.open = true;
    c.generation = ++m_Generation;
    m_IssuedTo.push_back(static_cast<uint8_t>(index));
    DropQueued(c);
    c.stats.inTransaction = false;
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
        WriteStats();
    return m_LinkDead ? FT_IO_ERROR : FT_OK;
}

FT_STATUS CSimAdapter::ResetDevice(FT_HANDLE handle)
{
    return OnChannel(handle, [&](Channel& c) -> FT_STATUS {
        DropQueued(c);
        c.engine.Purge();
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
        m_Trace.Record(LetterOf(c), 'R', c.rx.data() + c.rxHead, n);
        c.rxHead += n;
        if (c.rxHead == c.rx.size())
            DropQueued(c);
        c.stats.CountRead(n);
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
        ++m_Writes;
        if (m_Config->failAfterWrites && m_Writes > *m_Config->failAfterWrites) {
            m_LinkDead = true;
            return FT_IO_ERROR;
        }
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        m_Trace.Record(LetterOf(c), 'W', bytes, count);
        c.stats.CountWrite(count);
        if (m_Config->muteAfterWrites && m_Writes > *m_Config->muteAfterWrites) {
            m_Scratch.clear();
            c.engine.Write(bytes, count, m_Scratch);  // the pins still move; no answer comes back
        } else {
            c.engine.Write(bytes, count, c.rx);
        }
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
        c.engine.SetBitMode(mask, mode);
        return FT_OK;
    });
}

_SIMCHANNELREPORT CSimAdapter::Report(int channel) const
{
    const Channel& c = m_Channels[channel];
    _SIMCHANNELREPORT r;
    r.usb = c.stats;
    r.tckClocks = c.engine.Clocks();
    r.clockSeconds = c.engine.ClockSeconds();
    if (channel == 0) {
        r.i2cBytes = m_I2c->Bytes();
        r.oneWireResets = m_OneWire.Resets();
        r.oneWireBytes = m_OneWire.Bytes();
        r.oneWireSeconds = m_OneWire.ModelledSeconds();
    }
    return r;
}

std::string CSimAdapter::StatsText() const
{
    return StatsJson(Report(0), Report(1));
}

void CSimAdapter::WriteStats()
{
    if (m_Files.stats.empty())
        return;
    std::string error;
    if (!platform::WriteFileAtomically(m_Files.stats, StatsText(), &error))
        Complain("cannot write stats file " + m_Files.stats + ": " + error);
}

}  // namespace qbxsim
