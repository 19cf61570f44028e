// The scripted D2XX driver of the usbwire tests (see fake_d2xx.h).
#include "fake_d2xx.h"

#include "d2xx.h"

#include <algorithm>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr unsigned kNoSlave = 0xFF;

struct Config {
    bool mute = false;
    bool quiet = false;
    unsigned syncIgnore = 0;
    int ignoreOpcode = -1;
    unsigned readChunk = 0;
    unsigned zeroWrites = 0;
    unsigned writeLimit = 0;
    unsigned jtagDelay = 0;
    bool jtagFill = false;
    std::vector<bool> jtagPattern;  // empty: delay line
    unsigned slave = 0x18;
    int nackIndex = -1;
    int jamIndex = -1;
    std::vector<uint8_t> readData;
};

struct FailRule {
    std::string function;
    unsigned skip;
    unsigned times;  // UINT_MAX: for ever
    FT_STATUS status;
};

// The I2C bus of a channel: master levels from the pin writes and 0x37 shifts, one slave.
class I2cBus {
public:
    enum class Phase { Idle, Address, Write, Read, Ignore };

    explicit I2cBus(const Config& config) : m_Config(config) {}

    bool Line() const { return m_Master && m_SlaveOut; }

    // New master levels of SCL and SDA (1 = released or driven high).
    void Drive(bool scl, bool sda)
    {
        if (m_Scl && scl) {
            bool before = Line();
            m_Master = sda;
            bool after = Line();
            if (before && !after)
                Start();
            else if (!before && after)
                Stop();
        } else if (!m_Scl && scl) {
            m_Master = sda;  // SDA settles before SCL rises
            m_Scl = true;
            Rising();
        } else if (m_Scl && !scl) {
            m_Scl = false;
            Falling();
            m_Master = sda;  // and changes after SCL fell
        } else {
            m_Master = sda;
        }
    }

    // One clock of a 0x37 shift with the master's bit; returns the bit read back.
    bool Clock(bool bit)
    {
        if (m_Scl) {
            m_Scl = false;
            Falling();
        }
        m_Master = bit;
        m_Scl = true;
        Rising();
        bool seen = Line();
        m_Scl = false;
        Falling();
        return seen;
    }

    std::string trace;

private:
    void Start()
    {
        m_Phase = Phase::Address;
        m_Bit = 0;
        m_Shift = 0;
        m_Index = 0;
        m_SlaveOut = true;
        Append("S");
    }

    void Stop()
    {
        m_Phase = Phase::Idle;
        m_SlaveOut = true;
        Append("P");
    }

    bool Acknowledges() const
    {
        if (m_Index == m_Config.nackIndex)
            return false;
        if (m_Phase == Phase::Address)
            return m_Config.slave != kNoSlave && (m_Shift >> 1) == m_Config.slave;
        return true;
    }

    // What the slave puts on SDA for the coming clock.
    bool SlaveDrive() const
    {
        switch (m_Phase) {
        case Phase::Address:
        case Phase::Write:
            if (m_Bit < 8)
                return m_Index != m_Config.jamIndex;
            return !Acknowledges();
        case Phase::Read:
            return m_Bit < 8 ? ((m_Out >> (7 - m_Bit)) & 1) != 0 : true;
        default:
            return true;
        }
    }

    void Falling() { m_SlaveOut = SlaveDrive(); }

    void Rising()
    {
        bool level = Line();
        switch (m_Phase) {
        case Phase::Address:
        case Phase::Write:
            if (m_Bit < 8) {
                m_Shift = static_cast<uint8_t>((m_Shift << 1) | (level ? 1 : 0));
                ++m_Bit;
                return;
            }
            {
                bool ack = !level;
                char token[8];
                std::snprintf(token, sizeof token, "%02X%c", m_Shift, ack ? '+' : '-');
                Append(token);
                if (!ack)
                    m_Phase = Phase::Ignore;
                else if (m_Phase == Phase::Address && (m_Shift & 1)) {
                    m_Phase = Phase::Read;
                    m_Out = NextReadByte();
                } else
                    m_Phase = Phase::Write;
            }
            m_Bit = 0;
            m_Shift = 0;
            ++m_Index;
            return;
        case Phase::Read:
            if (m_Bit < 8) {
                ++m_Bit;
                return;
            }
            {
                char token[8];
                std::snprintf(token, sizeof token, "r%02X%c", m_Out, level ? '-' : '+');
                Append(token);
            }
            if (level) {
                m_Phase = Phase::Ignore;
            } else {
                m_Out = NextReadByte();
            }
            m_Bit = 0;
            ++m_Index;
            return;
        default:
            return;
        }
    }

    uint8_t NextReadByte()
    {
        if (m_ReadPosition < m_Config.readData.size())
            return m_Config.readData[m_ReadPosition++];
        return 0xFF;
    }

    void Append(const char* token)
    {
        if (m_Config.quiet)
            return;
        if (!trace.empty())
            trace += ' ';
        trace += token;
    }

    const Config& m_Config;
    bool m_Scl = true;
    bool m_Master = true;
    bool m_SlaveOut = true;
    Phase m_Phase = Phase::Idle;
    unsigned m_Bit = 0;
    uint8_t m_Shift = 0;
    uint8_t m_Out = 0xFF;
    int m_Index = 0;
    size_t m_ReadPosition = 0;
};

struct Device {
    Device(const Config& config, int index) : index(index), bus(config) {}

    int index;
    std::string description;
    std::string serial;
    unsigned type = FT_DEVICE_2232H;
    bool open = false;
    bool mpsse = false;
    std::deque<uint8_t> received;
    std::vector<uint8_t> partial;  // a command split across writes
    uint8_t lowValue = 0;
    uint8_t lowDirection = 0;
    uint8_t highValue = 0;
    uint8_t highDirection = 0;
    unsigned divisor = 0;
    std::deque<bool> delayLine;
    size_t patternPosition = 0;
    I2cBus bus;
    std::vector<uint8_t> written;
    std::vector<uint8_t> clocks;
};

struct Fake {
    std::recursive_mutex mutex;
    Config config;
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<FailRule> rules;
    std::string log;
    std::string scratch;  // the text returned by the last query

    Fake() { Reset(); }

    void Reset()
    {
        config = Config{};
        devices.clear();
        rules.clear();
        log.clear();
        AddDevice("FT2232H MiniModule A", "QBX0001A", FT_DEVICE_2232H);
        AddDevice("FT2232H MiniModule B", "QBX0001B", FT_DEVICE_2232H);
    }

    int AddDevice(const char* description, const char* serial, unsigned type)
    {
        int index = static_cast<int>(devices.size());
        auto device = std::make_unique<Device>(config, index);
        device->description = description ? description : "";
        device->serial = serial ? serial : "";
        device->type = type;
        devices.push_back(std::move(device));
        return index;
    }

    Device* Find(FT_HANDLE handle)
    {
        for (auto& device : devices) {
            if (device.get() == handle && device->open)
                return device.get();
        }
        return nullptr;
    }

    Device* At(int index)
    {
        if (index < 0 || static_cast<size_t>(index) >= devices.size())
            return nullptr;
        return devices[static_cast<size_t>(index)].get();
    }

    // Applies the scripted failures of a function; FT_OK when the call may go on.
    FT_STATUS Injected(const char* function)
    {
        for (FailRule& rule : rules) {
            if (rule.function != function)
                continue;
            if (rule.skip > 0) {
                --rule.skip;
                continue;
            }
            if (rule.times == 0)
                continue;
            if (rule.times != UINT_MAX)
                --rule.times;
            return rule.status;
        }
        return FT_OK;
    }

    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        if (config.quiet)
            return;
        char line[256];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        log += line;
        log += '\n';
    }

    void Reply(Device& device, uint8_t byte)
    {
        if (!config.mute)
            device.received.push_back(byte);
    }

    bool ChainClock(Device& device, bool tdi)
    {
        if (!config.jtagPattern.empty()) {
            bool tdo = config.jtagPattern[device.patternPosition % config.jtagPattern.size()];
            ++device.patternPosition;
            return tdo;
        }
        if (config.jtagDelay == 0)
            return tdi;
        while (device.delayLine.size() < config.jtagDelay)
            device.delayLine.push_back(config.jtagFill);
        device.delayLine.push_back(tdi);
        bool tdo = device.delayLine.front();
        device.delayLine.pop_front();
        return tdo;
    }

    void LogClock(Device& device, bool tdi, bool tms, bool tdo)
    {
        if (!config.quiet)
            device.clocks.push_back(static_cast<uint8_t>((tdi ? 1 : 0) | (tms ? 2 : 0) | (tdo ? 4 : 0)));
    }

    void SetLowPins(Device& device, uint8_t value, uint8_t direction)
    {
        device.lowValue = value;
        device.lowDirection = direction;
        bool scl = (direction & 0x01) ? (value & 0x01) != 0 : true;
        bool sda = (direction & 0x02) ? (value & 0x02) != 0 : true;
        device.bus.Drive(scl, sda);
    }

    // Length of the command starting with this opcode, or 1 for a bad opcode.
    static size_t CommandLength(uint8_t opcode)
    {
        switch (opcode) {
        case 0x80:
        case 0x82:
        case 0x86:
        case 0x1B:
        case 0x3B:
        case 0x37:
        case 0x4B:
            return 3;
        default:
            return 1;
        }
    }

    void Execute(Device& device, const uint8_t* command)
    {
        uint8_t opcode = command[0];
        switch (opcode) {
        case 0x80:
            SetLowPins(device, command[1], command[2]);
            return;
        case 0x82:
            device.highValue = command[1];
            device.highDirection = command[2];
            return;
        case 0x86:
            device.divisor = static_cast<unsigned>(command[1] | (command[2] << 8));
            return;
        case 0x81: {
            uint8_t pins = device.lowValue;
            pins = static_cast<uint8_t>((pins & ~0x04) | (device.bus.Line() ? 0x04 : 0));
            Reply(device, pins);
            return;
        }
        case 0x83:
            Reply(device, device.highValue);
            return;
        case 0x84:
        case 0x85:
        case 0x87:
        case 0x8A:
        case 0x8B:
        case 0x8C:
        case 0x8D:
        case 0x96:
        case 0x97:
            return;
        case 0x1B:
        case 0x3B: {
            unsigned n = command[1] + 1u;
            if (n > 8) {
                BadCommand(device, opcode);
                return;
            }
            bool tms = (device.lowValue & 0x08) != 0;
            unsigned read = 0;
            for (unsigned i = 0; i < n; ++i) {
                bool tdi = ((command[2] >> i) & 1) != 0;
                bool tdo = ChainClock(device, tdi);
                LogClock(device, tdi, tms, tdo);
                read |= (tdo ? 1u : 0u) << i;
            }
            device.lowValue = static_cast<uint8_t>((device.lowValue & ~0x02) | (((command[2] >> (n - 1)) & 1) << 1));
            if (opcode == 0x3B) {
                // The bits read fill the top n bits, the first one lowest; the rest is noise.
                unsigned noise = (1u << (8 - n)) - 1u;
                Reply(device, static_cast<uint8_t>((read << (8 - n)) | noise));
            }
            return;
        }
        case 0x37: {
            unsigned n = command[1] + 1u;
            if (n > 8) {
                BadCommand(device, opcode);
                return;
            }
            unsigned read = 0;
            bool driven = (device.lowDirection & 0x02) != 0;
            for (unsigned i = 0; i < n; ++i) {
                bool bit = driven ? ((command[2] >> (7 - i)) & 1) != 0 : true;
                read = (read << 1) | (device.bus.Clock(bit) ? 1u : 0u);
            }
            // The bits read fill the low n bits, the first one highest; the rest is noise.
            Reply(device, static_cast<uint8_t>(read | (0xFFu << n)));
            return;
        }
        case 0x4B: {
            unsigned n = command[1] + 1u;
            if (n > 8) {
                BadCommand(device, opcode);
                return;
            }
            bool tdi = (command[2] & 0x80) != 0;
            for (unsigned i = 0; i < n; ++i)
                LogClock(device, tdi, ((command[2] >> i) & 1) != 0, false);
            bool lastTms = ((command[2] >> (n - 1)) & 1) != 0;
            device.lowValue = static_cast<uint8_t>((device.lowValue & ~0x0A) | (lastTms ? 0x08 : 0) | (tdi ? 0x02 : 0));
            return;
        }
        default:
            BadCommand(device, opcode);
            return;
        }
    }

    void BadCommand(Device& device, uint8_t opcode)
    {
        if (opcode == config.ignoreOpcode)
            return;
        if (config.syncIgnore > 0) {
            --config.syncIgnore;
            return;
        }
        Reply(device, 0xFA);
        Reply(device, opcode);
    }

    void Feed(Device& device, const uint8_t* bytes, size_t count)
    {
        if (!config.quiet)
            device.written.insert(device.written.end(), bytes, bytes + count);
        if (!device.mpsse)
            return;
        for (size_t i = 0; i < count; ++i) {
            device.partial.push_back(bytes[i]);
            if (device.partial.size() == CommandLength(device.partial[0])) {
                Execute(device, device.partial.data());
                device.partial.clear();
            }
        }
    }
};

Fake& State()
{
    static Fake fake;
    return fake;
}

int IndexOf(Device* device) { return device ? device->index : -1; }

}  // namespace

// ---- the thirteen D2XX functions ---------------------------------------------------------------

FAKE_EXPORT FT_STATUS FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    FT_STATUS status = f.Injected("FT_CreateDeviceInfoList");
    if (status == FT_OK && lpdwNumDevs == nullptr)
        status = FT_INVALID_PARAMETER;
    if (status == FT_OK)
        *lpdwNumDevs = static_cast<DWORD>(f.devices.size());
    f.Log("FT_CreateDeviceInfoList() = %u", status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    FT_STATUS status = f.Injected("FT_GetDeviceInfoList");
    if (status == FT_OK && lpdwNumDevs == nullptr)
        status = FT_INVALID_PARAMETER;
    unsigned given = lpdwNumDevs ? *lpdwNumDevs : 0;
    if (status == FT_OK) {
        size_t count = std::min<size_t>(given, f.devices.size());
        for (size_t i = 0; i < count; ++i) {
            const Device& device = *f.devices[i];
            FT_DEVICE_LIST_INFO_NODE node{};
            node.Flags = FT_FLAGS_HISPEED | (device.open ? FT_FLAGS_OPENED : 0);
            node.Type = device.type;
            node.ID = 0x04036010;
            node.LocId = static_cast<DWORD>(0x100 + i);
            std::memcpy(node.SerialNumber, device.serial.data(),
                        std::min(device.serial.size(), sizeof node.SerialNumber));
            std::memcpy(node.Description, device.description.data(),
                        std::min(device.description.size(), sizeof node.Description));
            node.ftHandle = device.open ? const_cast<Device*>(&device) : nullptr;
            pDest[i] = node;
        }
        *lpdwNumDevs = static_cast<DWORD>(f.devices.size());
    }
    f.Log("FT_GetDeviceInfoList(%u) = %u", given, status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_OpenEx(PVOID pvArg1, DWORD dwFlags, FT_HANDLE* pHandle)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    std::string text = pvArg1 ? std::string(static_cast<const char*>(pvArg1)) : std::string("(null)");
    FT_STATUS status = f.Injected("FT_OpenEx");
    Device* match = nullptr;
    if (status == FT_OK) {
        for (auto& device : f.devices) {
            const std::string& key = dwFlags == FT_OPEN_BY_DESCRIPTION ? device->description : device->serial;
            size_t field = dwFlags == FT_OPEN_BY_DESCRIPTION ? 64 : 16;
            if (text == key || (key.size() >= field && text == key.substr(0, field))) {
                match = device.get();
                break;
            }
        }
        if (dwFlags != FT_OPEN_BY_SERIAL_NUMBER && dwFlags != FT_OPEN_BY_DESCRIPTION)
            status = FT_INVALID_PARAMETER;
        else if (match == nullptr)
            status = FT_DEVICE_NOT_FOUND;
        else if (match->open)
            status = FT_DEVICE_NOT_OPENED;
    }
    if (status == FT_OK) {
        match->open = true;
        match->mpsse = false;
        match->received.clear();
        match->partial.clear();
        if (pHandle)
            *pHandle = match;
    }
    f.Log("FT_OpenEx(%s,%u) = %u", text.c_str(), dwFlags, status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_Close(FT_HANDLE ftHandle)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    Device* device = f.Find(ftHandle);
    FT_STATUS status = device ? f.Injected("FT_Close") : FT_STATUS{FT_INVALID_HANDLE};
    if (device) {
        // Closed even when the call reports a failure: the handle is gone either way.
        device->open = false;
        device->mpsse = false;
    }
    f.Log("FT_Close(%d) = %u", IndexOf(device), status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    Device* device = f.Find(ftHandle);
    FT_STATUS status = device ? f.Injected("FT_ResetDevice") : FT_STATUS{FT_INVALID_HANDLE};
    if (status == FT_OK)
        device->partial.clear();  // bytes already in the host's queue stay there
    f.Log("FT_ResetDevice(%d) = %u", IndexOf(device), status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* lpdwAmountInRxQueue)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    Device* device = f.Find(ftHandle);
    FT_STATUS status = device ? f.Injected("FT_GetQueueStatus") : FT_STATUS{FT_INVALID_HANDLE};
    if (status == FT_OK && lpdwAmountInRxQueue == nullptr)
        status = FT_INVALID_PARAMETER;
    DWORD waiting = 0;
    if (status == FT_OK) {
        waiting = static_cast<DWORD>(device->received.size());
        if (f.config.readChunk != 0)
            waiting = std::min<DWORD>(waiting, f.config.readChunk);
        *lpdwAmountInRxQueue = waiting;
    }
    f.Log("FT_GetQueueStatus(%d->%u) = %u", IndexOf(device), waiting, status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpdwBytesReturned)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    Device* device = f.Find(ftHandle);
    FT_STATUS status = device ? f.Injected("FT_Read") : FT_STATUS{FT_INVALID_HANDLE};
    if (status == FT_OK && (lpdwBytesReturned == nullptr || (lpBuffer == nullptr && dwBytesToRead != 0)))
        status = FT_INVALID_PARAMETER;
    DWORD count = 0;
    if (status == FT_OK) {
        count = static_cast<DWORD>(std::min<size_t>(dwBytesToRead, device->received.size()));
        auto* out = static_cast<uint8_t*>(lpBuffer);
        for (DWORD i = 0; i < count; ++i) {
            out[i] = device->received.front();
            device->received.pop_front();
        }
        *lpdwBytesReturned = count;
    }
    f.Log("FT_Read(%d,%u->%u) = %u", IndexOf(device), dwBytesToRead, count, status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpdwBytesWritten)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    Device* device = f.Find(ftHandle);
    FT_STATUS status = device ? f.Injected("FT_Write") : FT_STATUS{FT_INVALID_HANDLE};
    if (status == FT_OK && (lpdwBytesWritten == nullptr || (lpBuffer == nullptr && dwBytesToWrite != 0)))
        status = FT_INVALID_PARAMETER;
    DWORD accepted = 0;
    if (status == FT_OK) {
        if (f.config.zeroWrites > 0) {
            --f.config.zeroWrites;
        } else {
            accepted = dwBytesToWrite;
            if (f.config.writeLimit != 0)
                accepted = std::min<DWORD>(accepted, f.config.writeLimit);
            f.Feed(*device, static_cast<const uint8_t*>(lpBuffer), accepted);
        }
        *lpdwBytesWritten = accepted;
    }
    f.Log("FT_Write(%d,%u->%u) = %u", IndexOf(device), dwBytesToWrite, accepted, status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize, ULONG ulOutTransferSize)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    Device* device = f.Find(ftHandle);
    FT_STATUS status = device ? f.Injected("FT_SetUSBParameters") : FT_STATUS{FT_INVALID_HANDLE};
    f.Log("FT_SetUSBParameters(%d,%u,%u) = %u", IndexOf(device), ulInTransferSize, ulOutTransferSize, status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_SetChars(FT_HANDLE ftHandle, UCHAR uEventChar, UCHAR uEventCharEnabled, UCHAR uErrorChar,
                                  UCHAR uErrorCharEnabled)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    Device* device = f.Find(ftHandle);
    FT_STATUS status = device ? f.Injected("FT_SetChars") : FT_STATUS{FT_INVALID_HANDLE};
    f.Log("FT_SetChars(%d,%u,%u,%u,%u) = %u", IndexOf(device), uEventChar, uEventCharEnabled, uErrorChar,
          uErrorCharEnabled, status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG dwReadTimeout, ULONG dwWriteTimeout)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    Device* device = f.Find(ftHandle);
    FT_STATUS status = device ? f.Injected("FT_SetTimeouts") : FT_STATUS{FT_INVALID_HANDLE};
    f.Log("FT_SetTimeouts(%d,%u,%u) = %u", IndexOf(device), dwReadTimeout, dwWriteTimeout, status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    Device* device = f.Find(ftHandle);
    FT_STATUS status = device ? f.Injected("FT_SetLatencyTimer") : FT_STATUS{FT_INVALID_HANDLE};
    f.Log("FT_SetLatencyTimer(%d,%u) = %u", IndexOf(device), ucLatency, status);
    return status;
}

FAKE_EXPORT FT_STATUS FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable)
{
    Fake& f = State();
    std::lock_guard<std::recursive_mutex> lock(f.mutex);
    Device* device = f.Find(ftHandle);
    FT_STATUS status = device ? f.Injected("FT_SetBitMode") : FT_STATUS{FT_INVALID_HANDLE};
    if (status == FT_OK) {
        device->mpsse = ucEnable == FT_BITMODE_MPSSE;
        device->partial.clear();
    }
    f.Log("FT_SetBitMode(%d,%u,%u) = %u", IndexOf(device), ucMask, ucEnable, status);
    return status;
}

// ---- control functions -------------------------------------------------------------------------

#define FAKE_LOCK                   \
    Fake& f = State();              \
    std::lock_guard<std::recursive_mutex> lock(f.mutex)

FAKE_EXPORT void FakeD2xx_Reset(void)
{
    FAKE_LOCK;
    f.Reset();
}

FAKE_EXPORT void FakeD2xx_ClearDevices(void)
{
    FAKE_LOCK;
    f.devices.clear();
}

FAKE_EXPORT int FakeD2xx_AddDevice(const char* description, const char* serial, unsigned type)
{
    FAKE_LOCK;
    return f.AddDevice(description, serial, type);
}

FAKE_EXPORT void FakeD2xx_FailCall(const char* function, unsigned skip, unsigned times, unsigned status)
{
    FAKE_LOCK;
    f.rules.push_back(FailRule{function ? function : "", skip, times == 0 ? UINT_MAX : times, status});
}

FAKE_EXPORT void FakeD2xx_SetZeroWrites(unsigned count)
{
    FAKE_LOCK;
    f.config.zeroWrites = count;
}

FAKE_EXPORT void FakeD2xx_SetWriteLimit(unsigned bytes)
{
    FAKE_LOCK;
    f.config.writeLimit = bytes;
}

FAKE_EXPORT void FakeD2xx_SetMute(int mute)
{
    FAKE_LOCK;
    f.config.mute = mute != 0;
}

FAKE_EXPORT void FakeD2xx_SetSyncIgnore(unsigned count)
{
    FAKE_LOCK;
    f.config.syncIgnore = count;
}

FAKE_EXPORT void FakeD2xx_SetIgnoreOpcode(int opcode)
{
    FAKE_LOCK;
    f.config.ignoreOpcode = opcode;
}

FAKE_EXPORT void FakeD2xx_SetReadChunk(unsigned bytes)
{
    FAKE_LOCK;
    f.config.readChunk = bytes;
}

FAKE_EXPORT void FakeD2xx_SetQuiet(int quiet)
{
    FAKE_LOCK;
    f.config.quiet = quiet != 0;
}

FAKE_EXPORT void FakeD2xx_InjectReply(int device, const unsigned char* data, unsigned count)
{
    FAKE_LOCK;
    if (Device* d = f.At(device))
        d->received.insert(d->received.end(), data, data + count);
}

FAKE_EXPORT void FakeD2xx_SetJtagDelay(unsigned bits, int fill)
{
    FAKE_LOCK;
    f.config.jtagPattern.clear();
    f.config.jtagDelay = bits;
    f.config.jtagFill = fill != 0;
    for (auto& device : f.devices) {
        device->delayLine.clear();
        device->patternPosition = 0;
    }
}

FAKE_EXPORT void FakeD2xx_SetJtagPattern(const unsigned char* pattern, unsigned count)
{
    FAKE_LOCK;
    f.config.jtagPattern.clear();
    for (unsigned i = 0; i < count; ++i)
        f.config.jtagPattern.push_back(((pattern[i / 8] >> (i % 8)) & 1) != 0);
    for (auto& device : f.devices) {
        device->delayLine.clear();
        device->patternPosition = 0;
    }
}

FAKE_EXPORT void FakeD2xx_SetI2CSlave(unsigned address7)
{
    FAKE_LOCK;
    f.config.slave = address7;
}

FAKE_EXPORT void FakeD2xx_SetI2CNack(int index)
{
    FAKE_LOCK;
    f.config.nackIndex = index;
}

FAKE_EXPORT void FakeD2xx_SetI2CJam(int index)
{
    FAKE_LOCK;
    f.config.jamIndex = index;
}

FAKE_EXPORT void FakeD2xx_SetI2CReadData(const unsigned char* data, unsigned count)
{
    FAKE_LOCK;
    f.config.readData.assign(data, data + count);
}

FAKE_EXPORT const char* FakeD2xx_CallLog(void)
{
    FAKE_LOCK;
    f.scratch = f.log;
    return f.scratch.c_str();
}

FAKE_EXPORT size_t FakeD2xx_Written(int device, unsigned char* out, size_t max)
{
    FAKE_LOCK;
    Device* d = f.At(device);
    if (!d)
        return 0;
    if (out)
        std::memcpy(out, d->written.data(), std::min(max, d->written.size()));
    return d->written.size();
}

FAKE_EXPORT const char* FakeD2xx_I2CTrace(int device)
{
    FAKE_LOCK;
    Device* d = f.At(device);
    f.scratch = d ? d->bus.trace : std::string();
    return f.scratch.c_str();
}

FAKE_EXPORT size_t FakeD2xx_Clocks(int device, unsigned char* out, size_t max)
{
    FAKE_LOCK;
    Device* d = f.At(device);
    if (!d)
        return 0;
    if (out)
        std::memcpy(out, d->clocks.data(), std::min(max, d->clocks.size()));
    return d->clocks.size();
}

FAKE_EXPORT unsigned FakeD2xx_LowPins(int device)
{
    FAKE_LOCK;
    Device* d = f.At(device);
    return d ? static_cast<unsigned>(d->lowValue | (d->lowDirection << 8)) : 0;
}

FAKE_EXPORT unsigned FakeD2xx_Divisor(int device)
{
    FAKE_LOCK;
    Device* d = f.At(device);
    return d ? d->divisor : 0;
}

FAKE_EXPORT unsigned FakeD2xx_Pending(int device)
{
    FAKE_LOCK;
    Device* d = f.At(device);
    return d ? static_cast<unsigned>(d->received.size()) : 0;
}

FAKE_EXPORT void FakeD2xx_ClearLogs(void)
{
    FAKE_LOCK;
    f.log.clear();
    for (auto& device : f.devices) {
        device->written.clear();
        device->clocks.clear();
        device->bus.trace.clear();
    }
}
