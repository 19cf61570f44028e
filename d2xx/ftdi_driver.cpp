#include "ftdi_driver.h"

#include "platform.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace d2xxftdi {

namespace {

// Channel serial numbers and descriptions end in the channel's letter.
char ChannelLetter(int channel) { return static_cast<char>('A' + channel); }

// "USB bus 001 device 005", as lsusb numbers them.
std::string Where(const UsbDevice& device)
{
    char text[32];
    std::snprintf(text, sizeof text, "USB bus %03u device %03u", device.bus, device.address);
    return text;
}

// "FT80197L on USB bus 001 device 005", or "no serial number on ..." for a chip without one.
std::string SerialAndWhere(const UsbDevice& device)
{
    return (device.serial.empty() ? std::string("no serial number") : device.serial) + " on " + Where(device);
}

bool ValidTransferSize(ULONG size) { return size >= 64 && size <= 65536 && size % 64 == 0; }

// The arguments of Read and Write; zeroes the count done. FT_OK when the call may go on.
FT_STATUS CheckTransfer(LPVOID buffer, DWORD count, LPDWORD done)
{
    if (done == nullptr || (buffer == nullptr && count != 0))
        return FT_INVALID_PARAMETER;
    *done = 0;
    return FT_OK;
}

}  // namespace

ChipKind KindOf(uint16_t release)
{
    switch (release) {
    case 0x0200:
        return {FT_DEVICE_AM, 1};
    case 0x0400:
        return {FT_DEVICE_BM, 1};
    case 0x0500:
        return {FT_DEVICE_2232C, 2};
    case 0x0600:
        return {FT_DEVICE_232R, 1};
    case 0x0700:
        return {FT_DEVICE_2232H, 2};
    case 0x0800:
        return {FT_DEVICE_4232H, 4};
    case 0x0900:
        return {FT_DEVICE_232H, 1};
    default:
        return {FT_DEVICE_UNKNOWN, 1};
    }
}

std::vector<ChannelRecord> FormRecords(const std::vector<UsbDevice>& devices)
{
    std::vector<ChannelRecord> records;
    for (const UsbDevice& device : devices) {
        ChipKind kind = KindOf(device.release);
        for (int channel = 0; channel < kind.channels; ++channel) {
            ChannelRecord record;
            record.device = device;
            record.channel = channel;
            record.type = kind.type;
            record.id = (static_cast<ULONG>(device.vendor) << 16) | device.product;
            record.location = (static_cast<DWORD>(device.bus) << 12) | (static_cast<DWORD>(device.address) << 4) |
                              static_cast<DWORD>(channel + 1);
            record.highSpeed = device.highSpeed;
            record.busy = !device.stringsRead;
            if (device.stringsRead) {
                record.description = device.description;
                record.serial = device.serial;
                if (kind.channels > 1) {
                    record.description += ' ';
                    record.description += ChannelLetter(channel);
                    record.serial += ChannelLetter(channel);
                }
            }
            records.push_back(std::move(record));
        }
    }
    return records;
}

FT_DEVICE_LIST_INFO_NODE ToNode(const ChannelRecord& record, FT_HANDLE handle)
{
    FT_DEVICE_LIST_INFO_NODE node{};
    node.Flags = (record.highSpeed ? FT_FLAGS_HISPEED : 0) | ((record.busy || handle) ? FT_FLAGS_OPENED : 0);
    node.Type = record.type;
    node.ID = record.id;
    node.LocId = record.location;
    std::memcpy(node.SerialNumber, record.serial.data(), std::min(record.serial.size(), sizeof node.SerialNumber));
    std::memcpy(node.Description, record.description.data(),
                std::min(record.description.size(), sizeof node.Description - 1));
    node.ftHandle = handle;
    return node;
}

bool ParseChannelSerial(const std::string& channelSerial, std::string& chipSerial, int& channel)
{
    if (channelSerial.empty())
        return false;
    char letter = channelSerial.back();
    if (letter < 'A' || letter > 'D')
        return false;
    chipSerial = channelSerial.substr(0, channelSerial.size() - 1);
    channel = letter - 'A';
    return true;
}

// ---- the receive queue --------------------------------------------------------------------------

bool CFtdiDriver::Channel::Poll()
{
    uint8_t buffer[kPollSize];
    int got = usb->Read(buffer, static_cast<int>(sizeof buffer));
    if (got < 0)
        return false;
    received.insert(received.end(), buffer, buffer + std::min<int>(got, static_cast<int>(sizeof buffer)));
    return true;
}

CFtdiDriver::LockedChannel CFtdiDriver::Lock(FT_HANDLE handle)
{
    std::shared_ptr<Channel> channel;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        auto found = m_Open.find(handle);
        if (found != m_Open.end())
            channel = found->second;
    }
    return LockedChannel(std::move(channel));
}

FT_HANDLE CFtdiDriver::HandleOf(const ChannelRecord& record)
{
    for (const auto& [handle, channel] : m_Open) {
        const ChannelRecord& open = channel->record;
        if (open.device.bus == record.device.bus && open.device.address == record.device.address &&
            open.channel == record.channel)
            return handle;
    }
    return nullptr;
}

void CFtdiDriver::Notice(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_NoticeMutex);
    if (!m_Noticed.insert(text).second)
        return;
    std::fprintf(stderr, "d2xx-ftdi: %s\r\n", text.c_str());
    std::fflush(stderr);
}

void CFtdiDriver::NoticeProblem(UsbProblem problem, const UsbDevice& device, int channel)
{
    if (problem == UsbProblem::NoPermission) {
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", device.vendor, device.product);
        Notice(std::string("no permission to open the FTDI chip ") + id + " on " + Where(device) +
               ": install the udev rule " + kUdevRule +
               " (cmake --install puts it in place), reload the rules with \"udevadm control --reload-rules && "
               "udevadm trigger\" and plug the adapter in again");
    } else if (problem == UsbProblem::InUse && channel >= 0) {
        Notice(std::string("channel ") + ChannelLetter(channel) + " of \"" + device.description + "\" on " +
               Where(device) + " is in use by another program");
    }
}

bool CFtdiDriver::ListChips(std::vector<UsbDevice>& devices)
{
    if (m_Bus.List(devices) < 0) {
        devices.clear();
        return false;
    }
    for (const UsbDevice& device : devices)
        if (!device.stringsRead)
            NoticeProblem(device.problem, device, -1);
    return true;
}

size_t CFtdiDriver::OpenCount()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Open.size();
}

// ---- the thirteen functions ---------------------------------------------------------------------

FT_STATUS CFtdiDriver::CreateDeviceInfoList(LPDWORD count)
{
    if (count == nullptr)
        return FT_INVALID_PARAMETER;
    std::vector<UsbDevice> devices;
    ListChips(devices);  // without USB access at all: an empty list, as with no adapter attached
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Records = FormRecords(devices);
    *count = static_cast<DWORD>(m_Records.size());
    return FT_OK;
}

FT_STATUS CFtdiDriver::GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes, LPDWORD count)
{
    if (count == nullptr || (nodes == nullptr && *count != 0))
        return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_Mutex);
    size_t filled = std::min<size_t>(*count, m_Records.size());
    for (size_t i = 0; i < filled; ++i)
        nodes[i] = ToNode(m_Records[i], HandleOf(m_Records[i]));
    *count = static_cast<DWORD>(m_Records.size());
    return FT_OK;
}

FT_STATUS CFtdiDriver::OpenEx(PVOID argument, DWORD flags, FT_HANDLE* handle)
{
    if (handle == nullptr)
        return FT_INVALID_PARAMETER;
    *handle = nullptr;
    if (flags != FT_OPEN_BY_SERIAL_NUMBER && flags != FT_OPEN_BY_DESCRIPTION && flags != FT_OPEN_BY_LOCATION)
        return FT_INVALID_PARAMETER;
    if (flags != FT_OPEN_BY_LOCATION && argument == nullptr)
        return FT_INVALID_PARAMETER;

    std::vector<UsbDevice> devices;
    if (!ListChips(devices))
        return FT_DEVICE_NOT_FOUND;
    std::vector<ChannelRecord> records = FormRecords(devices);

    const ChannelRecord* match = nullptr;
    if (flags == FT_OPEN_BY_LOCATION) {
        auto location = static_cast<DWORD>(reinterpret_cast<uintptr_t>(argument));
        for (const ChannelRecord& record : records) {
            if (!record.busy && record.location == location) {
                match = &record;
                break;
            }
        }
    } else {
        const char* text = static_cast<const char*>(argument);
        std::string key(text, strnlen(text, 256));
        if (flags == FT_OPEN_BY_DESCRIPTION) {
            for (const ChannelRecord& record : records) {
                if (!record.busy && record.description.substr(0, 63) == key.substr(0, 63)) {
                    match = &record;
                    break;
                }
            }
        } else {
            // "<chip serial><channel letter>": strip the letter, pick the channel; a chip with one
            // channel goes by its serial number as it is.
            std::string chipSerial;
            int channel = 0;
            bool parsed = ParseChannelSerial(key, chipSerial, channel);
            for (const ChannelRecord& record : records) {
                if (record.busy)
                    continue;
                int channels = KindOf(record.device.release).channels;
                bool equal = channels > 1 ? (parsed && record.device.serial == chipSerial && record.channel == channel)
                                          : record.device.serial == key;
                if (equal) {
                    match = &record;
                    break;
                }
            }
            // A record's serial field holds only 16 characters; the caller may pass just those.
            if (match == nullptr && key.size() == 16) {
                for (const ChannelRecord& record : records) {
                    if (!record.busy && record.serial.size() > 16 && record.serial.compare(0, 16, key) == 0) {
                        match = &record;
                        break;
                    }
                }
            }
        }
    }
    if (match == nullptr)
        return FT_DEVICE_NOT_FOUND;
    // Another chip that answers to the same description: refuse to guess which adapter is meant.
    std::string others;
    for (const ChannelRecord& record : records) {
        const UsbDevice& chip = record.device;
        if (record.channel == 0 && !record.busy && chip.description == match->device.description &&
            (chip.bus != match->device.bus || chip.address != match->device.address))
            others += ", " + SerialAndWhere(chip);
    }
    if (!others.empty()) {
        Notice("more than one adapter \"" + match->device.description + "\" is present (" +
               SerialAndWhere(match->device) + others + "): none of them is opened; unplug all but one");
        return FT_DEVICE_NOT_OPENED;
    }

    std::lock_guard<std::mutex> lock(m_Mutex);
    if (HandleOf(*match) != nullptr)
        return FT_DEVICE_NOT_OPENED;  // already open here
    std::unique_ptr<IFtdiChannel> usb = m_Bus.Open(match->device, match->channel);
    if (!usb) {
        NoticeProblem(m_Bus.LastOpenProblem(), match->device, match->channel);
        return FT_DEVICE_NOT_OPENED;
    }
    auto channel = std::make_shared<Channel>();
    channel->usb = std::move(usb);
    channel->record = *match;
    FT_HANDLE opened = channel.get();
    m_Open[opened] = std::move(channel);
    *handle = opened;
    return FT_OK;
}

FT_STATUS CFtdiDriver::Close(FT_HANDLE handle)
{
    std::shared_ptr<Channel> channel;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        auto found = m_Open.find(handle);
        if (found == m_Open.end())
            return FT_INVALID_HANDLE;
        channel = std::move(found->second);
        m_Open.erase(found);
    }
    std::lock_guard<std::mutex> lock(channel->mutex);
    channel->usb.reset();  // closes the interface and frees its context
    return FT_OK;
}

FT_STATUS CFtdiDriver::ResetDevice(FT_HANDLE handle)
{
    LockedChannel channel = Lock(handle);
    if (!channel)
        return FT_INVALID_HANDLE;
    channel->received.clear();
    return channel->usb->Reset() < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS CFtdiDriver::GetQueueStatus(FT_HANDLE handle, DWORD* waiting)
{
    LockedChannel channel = Lock(handle);
    if (!channel)
        return FT_INVALID_HANDLE;
    if (waiting == nullptr)
        return FT_INVALID_PARAMETER;
    if (!channel->Poll())
        return FT_IO_ERROR;
    *waiting = static_cast<DWORD>(std::min<size_t>(channel->received.size(), UINT_MAX));
    return FT_OK;
}

FT_STATUS CFtdiDriver::Read(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD got)
{
    LockedChannel channel = Lock(handle);
    if (!channel)
        return FT_INVALID_HANDLE;
    if (FT_STATUS status = CheckTransfer(buffer, count, got); status != FT_OK)
        return status;
    auto* out = static_cast<uint8_t*>(buffer);
    DWORD have = 0;
    auto take = [&] {
        size_t n = std::min<size_t>(count - have, channel->received.size());
        std::copy_n(channel->received.begin(), n, out + have);
        channel->received.erase(channel->received.begin(), channel->received.begin() + static_cast<ptrdiff_t>(n));
        have += static_cast<DWORD>(n);
    };
    take();
    // Blocks until the count has arrived or the read time-out ran out (then a short count, FT_OK).
    uint32_t limit = channel->readTimeoutMs ? channel->readTimeoutMs : kDefaultTimeoutMs;
    uint32_t start = platform::TickCountMs();
    while (have < count) {
        if (!channel->Poll()) {
            *got = have;
            return FT_IO_ERROR;
        }
        take();
        if (have < count && platform::TickCountMs() - start >= limit)
            break;
    }
    *got = have;
    return FT_OK;
}

FT_STATUS CFtdiDriver::Write(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written)
{
    LockedChannel channel = Lock(handle);
    if (!channel)
        return FT_INVALID_HANDLE;
    if (FT_STATUS status = CheckTransfer(buffer, count, written); status != FT_OK)
        return status;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    DWORD done = 0;
    while (done < count) {
        int piece = static_cast<int>(std::min<DWORD>(count - done, 1u << 30));
        int result = channel->usb->Write(bytes + done, piece);
        if (result < 0) {
            *written = done;
            return FT_IO_ERROR;
        }
        done += static_cast<DWORD>(std::min(result, piece));
        if (result < piece)
            break;  // a short write (time-out): report what went out
    }
    *written = done;
    return FT_OK;
}

FT_STATUS CFtdiDriver::SetUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize)
{
    LockedChannel channel = Lock(handle);
    if (!channel)
        return FT_INVALID_HANDLE;
    if (!ValidTransferSize(inSize) || (outSize != 0 && !ValidTransferSize(outSize)))
        return FT_INVALID_PARAMETER;
    // As with the vendor's driver, data held in the driver is lost.
    channel->received.clear();
    if (channel->usb->SetReadChunkSize(inSize) < 0)
        return FT_IO_ERROR;
    if (outSize != 0 && channel->usb->SetWriteChunkSize(outSize) < 0)
        return FT_IO_ERROR;
    return FT_OK;
}

FT_STATUS CFtdiDriver::SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventEnabled, UCHAR errorChar,
                                UCHAR errorEnabled)
{
    LockedChannel channel = Lock(handle);
    if (!channel)
        return FT_INVALID_HANDLE;
    if (channel->usb->SetEventChar(eventChar, eventEnabled != 0) < 0)
        return FT_IO_ERROR;
    if (channel->usb->SetErrorChar(errorChar, errorEnabled != 0) < 0)
        return FT_IO_ERROR;
    return FT_OK;
}

FT_STATUS CFtdiDriver::SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs)
{
    LockedChannel channel = Lock(handle);
    if (!channel)
        return FT_INVALID_HANDLE;
    channel->readTimeoutMs = readMs;
    // FT_Read keeps the read time-out itself. A single USB read transfer must outlast the chip's
    // latency timer (up to 255 ms), after which an idle chip answers with status bytes only: with
    // a shorter limit a poll of an idle chip would fail instead of finding nothing. libusb takes 0
    // as "no limit": keep a limit on the writes too.
    const int writeLimit = static_cast<int>(writeMs == 0 ? kDefaultTimeoutMs : std::min<ULONG>(writeMs, INT_MAX));
    channel->usb->SetUsbTimeouts(static_cast<int>(kDefaultTimeoutMs), writeLimit);
    return FT_OK;
}

FT_STATUS CFtdiDriver::SetLatencyTimer(FT_HANDLE handle, UCHAR ms)
{
    LockedChannel channel = Lock(handle);
    if (!channel)
        return FT_INVALID_HANDLE;
    if (ms == 0)
        return FT_INVALID_PARAMETER;
    return channel->usb->SetLatencyTimer(ms) < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS CFtdiDriver::SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode)
{
    LockedChannel channel = Lock(handle);
    if (!channel)
        return FT_INVALID_HANDLE;
    return channel->usb->SetBitMode(mask, mode) < 0 ? FT_IO_ERROR : FT_OK;
}

}  // namespace d2xxftdi
