// The simulated FT2232H Mini Module as the D2XX driver interface presents it: two device
// records, open (by serial number, as usbwire opens) and close, the MPSSE engine behind
// each channel, the QBX board wired to the channels, and the USB link's failures.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "d2xx.h"
#include "sim_chip.h"

namespace qbxsim {

class CSimAdapter {
public:
    static constexpr int kChannels = CSimChip::kChannels;
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
    bool HasDevices() const { return m_Chip.HasDevices(); }
    CMpsseEngine& Engine(int channel) { return m_Chip.Engine(channel); }
    CSimSocket* Socket() { return m_Chip.Socket(); }
    OneWireBus& OneWire() { return m_Chip.OneWire(); }
    CJtagWiring* JtagPort() { return m_Chip.JtagPort(); }
    _SIMCHANNELREPORT Report(int channel) const { return m_Chip.Report(channel); }
    std::string StatsText() const { return m_Chip.StatsText(); }
    bool LinkDead() const { return m_Chip.LinkDead(); }

private:
    struct Channel {
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
    };

    // Finds the channel of a handle: FT_OK, FT_INVALID_HANDLE or FT_DEVICE_NOT_OPENED.
    FT_STATUS Lookup(FT_HANDLE handle, Channel** channel);
    // What every call on a handle but FT_Close does first: takes the lock, finds the channel and
    // refuses a dead link (FT_IO_ERROR); then returns body(channel).
    template <typename Body> FT_STATUS OnChannel(FT_HANDLE handle, Body body);
    static FT_HANDLE HandleOf(uint64_t generation, int index);
    static void DropQueued(Channel& c);  // forgets the bytes waiting for FT_Read
    size_t Queued(const Channel& c) const { return c.rx.size() - c.rxHead; }
    int IndexOf(const Channel& c) const { return static_cast<int>(&c - m_Channels.data()); }

    std::mutex m_Mutex;
    CSimChip m_Chip;
    std::vector<Channel> m_Channels;

    uint64_t m_Generation = 0;
    std::vector<uint8_t> m_IssuedTo;  // channel of each generation handed out (generation 1 first)
};

}  // namespace qbxsim
