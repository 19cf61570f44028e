// CFtdiDriver: the thirteen D2XX functions on the libftdi seam. Lists one record per channel with
// the description and serial number formed as the vendor driver forms them, opens a channel by
// its serial number (or description, or location), and emulates the driver's receive queue: every
// FT_GetQueueStatus polls the chip into a FIFO of its own and reports what has arrived.
// Unlike the vendor's driver it opens no channel of a chip while another chip with the same
// description is present: a station with two identical adapters cannot tell which one holds the
// board. Why a chip cannot be used (no permission, an interface in use, two identical adapters)
// goes to standard error, one line the first time.
#pragma once

#include "d2xx.h"
#include "ftdi_seam.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace d2xxftdi {

// The chip behind a bcdDevice value: the D2XX Type and the number of channels.
struct ChipKind {
    ULONG type;
    int channels;
};
ChipKind KindOf(uint16_t release);

// One device-list record, one per channel.
struct ChannelRecord {
    UsbDevice device;
    int channel = 0;  // 0 = A
    ULONG type = FT_DEVICE_UNKNOWN;
    ULONG id = 0;     // VID << 16 | PID
    DWORD location = 0;
    bool highSpeed = false;
    bool busy = false;  // could not be asked for its strings: open elsewhere or not permitted
    std::string description;
    std::string serial;
};

// The records of the chips, in their order, channels A, B, ... of each chip.
std::vector<ChannelRecord> FormRecords(const std::vector<UsbDevice>& devices);

// Fills a D2XX record: strings cut to the field (the serial loses its NUL at 16 characters, as
// the vendor's does; the description keeps one).
FT_DEVICE_LIST_INFO_NODE ToNode(const ChannelRecord& record, FT_HANDLE handle);

// Splits a channel serial number "FT80197LA" into the chip's serial "FT80197L" and channel 0;
// false when the last character is not a channel letter A..D.
bool ParseChannelSerial(const std::string& channelSerial, std::string& chipSerial, int& channel);

class CFtdiDriver {
public:
    static constexpr uint32_t kPollSize = 4096;            // bytes asked of the chip per poll
    static constexpr uint32_t kDefaultTimeoutMs = 5000;    // read/write limit when set to 0
    static constexpr const char* kUdevRule = "60-qbx-ft2232h.rules";

    explicit CFtdiDriver(IFtdiBus& bus) : m_Bus(bus) {}
    CFtdiDriver(const CFtdiDriver&) = delete;
    CFtdiDriver& operator=(const CFtdiDriver&) = delete;

    FT_STATUS CreateDeviceInfoList(LPDWORD count);
    FT_STATUS GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes, LPDWORD count);
    FT_STATUS OpenEx(PVOID argument, DWORD flags, FT_HANDLE* handle);
    FT_STATUS Close(FT_HANDLE handle);
    FT_STATUS ResetDevice(FT_HANDLE handle);
    FT_STATUS GetQueueStatus(FT_HANDLE handle, DWORD* waiting);
    FT_STATUS Read(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD got);
    FT_STATUS Write(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written);
    FT_STATUS SetUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize);
    FT_STATUS SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled, UCHAR errorChar, UCHAR errorEnabled);
    FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs);
    FT_STATUS SetLatencyTimer(FT_HANDLE handle, UCHAR ms);
    FT_STATUS SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode);

    size_t OpenCount();

private:
    struct Channel {
        std::mutex mutex;
        std::unique_ptr<IFtdiChannel> usb;
        ChannelRecord record;
        std::deque<uint8_t> received;
        uint32_t readTimeoutMs = 0;
        // Polls the chip once into received; false on a USB error.
        bool Poll();
    };

    // The open channel behind a handle, locked while this object lives; empty for an unknown handle.
    class LockedChannel {
    public:
        explicit LockedChannel(std::shared_ptr<Channel> channel) : m_Channel(std::move(channel))
        {
            if (m_Channel)
                m_Lock = std::unique_lock<std::mutex>(m_Channel->mutex);
        }
        explicit operator bool() const { return m_Channel != nullptr; }
        Channel* operator->() const { return m_Channel.get(); }

    private:
        std::shared_ptr<Channel> m_Channel;
        std::unique_lock<std::mutex> m_Lock;
    };
    LockedChannel Lock(FT_HANDLE handle);
    FT_HANDLE HandleOf(const ChannelRecord& record);
    // Lists the chips (false when the USB side cannot be asked) and says once why a chip could
    // not be asked for its strings.
    bool ListChips(std::vector<UsbDevice>& devices);
    // One line on standard error, "d2xx-ftdi: <text>", the first time only.
    void Notice(const std::string& text);
    void NoticeProblem(UsbProblem problem, const UsbDevice& device, int channel);

    IFtdiBus& m_Bus;
    std::mutex m_Mutex;  // guards the two members below
    std::vector<ChannelRecord> m_Records;  // the list of the last FT_CreateDeviceInfoList
    std::map<FT_HANDLE, std::shared_ptr<Channel>> m_Open;
    std::mutex m_NoticeMutex;
    std::set<std::string> m_Noticed;
};

}  // namespace d2xxftdi
