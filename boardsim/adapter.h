// The simulated FT2232H Mini Module as the D2XX driver interface presents it: two device
// records, open and close by serial number, description or location, the MPSSE engine behind
// each channel, the QBX board wired to the channels, and the USB link's failures.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board_file.h"
#include "d2xx.h"
#include "ds2482.h"
#include "i2c_bus.h"
#include "mpsse.h"
#include "onewire.h"
#include "socket.h"
#include "stats.h"
#include "wiring.h"

namespace qbxsim {

// Where the adapter's files go; all optional.
struct _SIMFILES {
    std::string stats;  // QBXSIM_STATS: the counters, written at the last close
    std::string trace;  // QBXSIM_TRACE: every write and read
};

class CSimAdapter {
public:
    static constexpr int kChannels = 2;
    static constexpr ULONG kDeviceId = 0x04036010;  // VID 0x0403, PID 0x6010

    // A null config stands for a board file that could not be loaded: the adapter then lists no
    // device. Messages about files go to standard error.
    explicit CSimAdapter(std::unique_ptr<_SIMCONFIG> config, _SIMFILES files = {});
    CSimAdapter(const CSimAdapter&) = delete;
    CSimAdapter& operator=(const CSimAdapter&) = delete;

    // The process-wide adapter behind the exported D2XX functions, made on first use from the
    // board file named by QBXSIM_BOARD (or the example healthy board), QBXSIM_STATS and
    // QBXSIM_TRACE.
    static CSimAdapter& Instance();

    // The D2XX functions. FT_Read never waits: it returns what is queued, at most the count
    // asked for, because the engine answers every command within the FT_Write that carries it.
    // A handle of a channel that has been closed gives FT_DEVICE_NOT_OPENED; a value that was
    // never a handle gives FT_INVALID_HANDLE. Once the link has died (fail_after_writes) every
    // call returns FT_IO_ERROR; FT_Close still releases the handle.
    FT_STATUS CreateDeviceInfoList(DWORD* count);
    // *count is in/out: the capacity of `list` on entry (at most that many records are
    // written), the number of devices on return.
    FT_STATUS GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* list, DWORD* count);
    FT_STATUS OpenEx(void* arg, DWORD flags, FT_HANDLE* handle);
    FT_STATUS Close(FT_HANDLE handle);
    FT_STATUS ResetDevice(FT_HANDLE handle);
    FT_STATUS GetQueueStatus(FT_HANDLE handle, DWORD* queued);
    FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got);
    FT_STATUS Write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written);
    FT_STATUS SetUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize);
    FT_STATUS SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled, UCHAR errorChar, UCHAR errorEnabled);
    FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs);
    FT_STATUS SetLatencyTimer(FT_HANDLE handle, UCHAR ms);
    FT_STATUS SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode);

    // For tests and the stats file.
    bool HasDevices() const { return m_Config && m_Config->adapterPresent; }
    CMpsseEngine& Engine(int channel) { return m_Channels[channel].engine; }
    CSimSocket* Socket() { return m_Socket.get(); }
    OneWireBus& OneWire() { return m_OneWire; }
    CJtagWiring* JtagPort() { return m_JtagWiring.get(); }
    _SIMCHANNELREPORT Report(int channel) const;
    std::string StatsText() const;
    bool LinkDead() const { return m_LinkDead; }

private:
    struct Channel {
        explicit Channel(CPinTarget* target) : engine(target) {}
        CMpsseEngine engine;
        std::string serial;
        std::string description;
        DWORD locId = 0;
        bool open = false;
        uint64_t generation = 0;  // of the current or last open
        std::vector<uint8_t> rx;  // bytes waiting for FT_Read, from rxHead on
        size_t rxHead = 0;
        ULONG inTransferSize = 4096, outTransferSize = 4096;
        ULONG readTimeout = 0, writeTimeout = 0;
        UCHAR latency = 16;
        UCHAR eventChar = 0, eventEnabled = 0, errorChar = 0, errorEnabled = 0;
        _SIMCHANNELSTATS stats;
    };

    // Finds the channel of a handle: FT_OK, FT_INVALID_HANDLE or FT_DEVICE_NOT_OPENED.
    FT_STATUS Lookup(FT_HANDLE handle, Channel** channel);
    // What every call on a handle but FT_Close does first: takes the lock, finds the channel and
    // refuses a dead link (FT_IO_ERROR); then returns body(channel).
    template <typename Body> FT_STATUS OnChannel(FT_HANDLE handle, Body body);
    static FT_HANDLE HandleOf(uint64_t generation, int index);
    static void DropQueued(Channel& c);  // forgets the bytes waiting for FT_Read
    size_t Queued(const Channel& c) const { return c.rx.size() - c.rxHead; }
    void WriteStats();
    static char Letter(int index) { return static_cast<char>('A' + index); }
    char LetterOf(const Channel& c) const { return Letter(static_cast<int>(&c - m_Channels.data())); }

    std::mutex m_Mutex;
    std::unique_ptr<_SIMCONFIG> m_Config;
    _SIMFILES m_Files;
    CSimTrace m_Trace;

    OneWireBus m_OneWire;
    std::unique_ptr<Ds2482> m_Bridge;
    std::unique_ptr<I2cBus> m_I2c;
    std::unique_ptr<CSimSocket> m_Socket;
    std::unique_ptr<CBridgeWiring> m_BridgeWiring;
    std::unique_ptr<CJtagWiring> m_JtagWiring;
    std::vector<Channel> m_Channels;

    uint64_t m_Generation = 0;
    std::vector<uint8_t> m_IssuedTo;  // channel of each generation handed out (generation 1 first)
    uint64_t m_Writes = 0;  // FT_Write calls on either channel: the link is one USB device
    bool m_LinkDead = false;
    std::vector<uint8_t> m_Scratch;
};

// The board file the process-wide adapter loads when QBXSIM_BOARD is not set:
// examples/boards/healthy.json beside libqbxsim.so, else in the source tree.
std::string DefaultBoardFile();

}  // namespace qbxsim
