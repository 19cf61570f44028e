#include "ft2232h_device.h"

#include <ftdi.h>

#include <algorithm>
#include <cstring>

namespace usbsim {

namespace {

// The two status bytes at the head of every IN packet: no modem line active; the transmitter
// holding register and the transmitter empty (the chip has nothing of its own to send).
constexpr uint8_t kModemStatus = 0x00;
constexpr uint8_t kLineStatus = 0x60;

constexpr uint16_t kLanguageEnglishUs = 0x0409;
constexpr uint8_t kManufacturerIndex = 1, kProductIndex = 2, kSerialIndex = 3;
const char* const kManufacturer = "FTDI";
const char* const kProduct = "FT2232H MiniModule";

constexpr size_t kEepromWords = 128;  // a 93C56 behind the chip
constexpr uint16_t kBlankWord = 0xFFFF;

constexpr uint8_t kRequestKind = 0x60;       // bits 5..6 of bmRequestType
constexpr uint8_t kRequestRecipient = 0x1F;  // bits 0..4

bool ValidBitMode(uint8_t mode)
{
    switch (mode) {
    case 0x00: case 0x01: case 0x02: case 0x04: case 0x08: case 0x10: case 0x20: case 0x40:
        return true;
    default:
        return false;
    }
}

// Copies the reply of an IN request into the caller's data stage.
int Answer(std::initializer_list<uint8_t> bytes, uint8_t* data, uint16_t length)
{
    const size_t n = std::min<size_t>(length, bytes.size());
    if (n > 0)
        std::memcpy(data, bytes.begin(), n);
    return static_cast<int>(n);
}

}  // namespace

CUsbFt2232h::CUsbFt2232h(std::unique_ptr<qbxsim::CSimChip> chip, const qbxsim::_SIMUSBCONFIG& usb,
                         std::optional<std::string> serial, uint8_t address)
    : m_Chip(std::move(chip)),
      m_Serial(std::move(serial)),
      m_Address(address),
      m_PermissionDenied(usb.permissionDenied),
      m_Eeprom(kEepromWords, kBlankWord)
{
    for (int n = 0; n < kInterfaces; ++n) {
        m_Interfaces[n].claimedElsewhere = usb.interfaceInUse[n];
        m_Interfaces[n].kernelDriver = usb.kernelDriver;
    }
    m_Eeprom[1] = kFtdiVendor;
    m_Eeprom[2] = kFt2232hProduct;
    m_Eeprom[3] = kFt2232hRelease;
}

libusb_device_descriptor CUsbFt2232h::DeviceDescriptor() const
{
    libusb_device_descriptor d{};
    d.bLength = LIBUSB_DT_DEVICE_SIZE;
    d.bDescriptorType = LIBUSB_DT_DEVICE;
    d.bcdUSB = 0x0200;
    d.bMaxPacketSize0 = 64;
    d.idVendor = kFtdiVendor;
    d.idProduct = kFt2232hProduct;
    d.bcdDevice = kFt2232hRelease;
    d.iManufacturer = kManufacturerIndex;
    d.iProduct = kProductIndex;
    d.iSerialNumber = m_Serial ? kSerialIndex : 0;
    d.bNumConfigurations = 1;
    return d;
}

int CUsbFt2232h::StringDescriptor(uint8_t index, std::vector<uint8_t>& out) const
{
    std::string text;
    switch (index) {
    case 0:
        out = {4, LIBUSB_DT_STRING, kLanguageEnglishUs & 0xFF, kLanguageEnglishUs >> 8};
        return static_cast<int>(out.size());
    case kManufacturerIndex: text = kManufacturer; break;
    case kProductIndex: text = kProduct; break;
    case kSerialIndex:
        if (!m_Serial)
            return LIBUSB_ERROR_PIPE;
        text = *m_Serial;
        break;
    default:
        return LIBUSB_ERROR_PIPE;
    }
    out = {static_cast<uint8_t>(2 + 2 * text.size()), LIBUSB_DT_STRING};
    for (char c : text) {  // UTF-16LE
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    return static_cast<int>(out.size());
}

int CUsbFt2232h::Claim(int interface, const void* owner, bool autoDetach)
{
    if (m_Gone)
        return LIBUSB_ERROR_NO_DEVICE;
    if (interface < 0 || interface >= kInterfaces)
        return LIBUSB_ERROR_NOT_FOUND;
    Interface& i = m_Interfaces[interface];
    if (i.claimedBy == owner)
        return LIBUSB_SUCCESS;
    if (i.claimedElsewhere || i.claimedBy)
        return LIBUSB_ERROR_BUSY;
    if (i.kernelDriver) {
        if (!autoDetach)
            return LIBUSB_ERROR_BUSY;
        i.kernelDriver = false;
    }
    i.claimedBy = owner;
    m_EverClaimed = true;
    m_Chip->Opened(interface);
    return LIBUSB_SUCCESS;
}

int CUsbFt2232h::Release(int interface, const void* owner)
{
    if (interface < 0 || interface >= kInterfaces || m_Interfaces[interface].claimedBy != owner)
        return LIBUSB_ERROR_NOT_FOUND;
    m_Interfaces[interface].claimedBy = nullptr;
    WriteStatsIfIdle();
    return m_Gone ? LIBUSB_ERROR_NO_DEVICE : LIBUSB_SUCCESS;
}

int CUsbFt2232h::DetachKernelDriver(int interface)
{
    if (m_Gone)
        return LIBUSB_ERROR_NO_DEVICE;
    if (interface < 0 || interface >= kInterfaces)
        return LIBUSB_ERROR_NOT_FOUND;
    Interface& i = m_Interfaces[interface];
    if (!i.kernelDriver)  // none bound, or another program's claim (which is no kernel driver)
        return LIBUSB_ERROR_NOT_FOUND;
    i.kernelDriver = false;
    return LIBUSB_SUCCESS;
}

int CUsbFt2232h::Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                         uint16_t length)
{
    if (m_Gone)
        return LIBUSB_ERROR_NO_DEVICE;
    const bool in = (requestType & LIBUSB_ENDPOINT_IN) != 0;
    if ((requestType & kRequestRecipient) != LIBUSB_RECIPIENT_DEVICE)
        return LIBUSB_ERROR_PIPE;
    if ((requestType & kRequestKind) == LIBUSB_REQUEST_TYPE_STANDARD) {
        if (!in || request != LIBUSB_REQUEST_GET_DESCRIPTOR)
            return LIBUSB_ERROR_PIPE;
        std::vector<uint8_t> raw;
        if ((value >> 8) == LIBUSB_DT_STRING) {
            if (int r = StringDescriptor(static_cast<uint8_t>(value & 0xFF), raw); r < 0)
                return r;
        } else if ((value >> 8) == LIBUSB_DT_DEVICE) {
            const libusb_device_descriptor d = DeviceDescriptor();
            raw = {d.bLength, d.bDescriptorType, 0x00, 0x02, d.bDeviceClass, d.bDeviceSubClass, d.bDeviceProtocol,
                   d.bMaxPacketSize0, kFtdiVendor & 0xFF, kFtdiVendor >> 8, kFt2232hProduct & 0xFF,
                   kFt2232hProduct >> 8, kFt2232hRelease & 0xFF, kFt2232hRelease >> 8, d.iManufacturer, d.iProduct,
                   d.iSerialNumber, d.bNumConfigurations};
        } else {
            return LIBUSB_ERROR_PIPE;
        }
        const size_t n = std::min<size_t>(length, raw.size());
        std::memcpy(data, raw.data(), n);
        return static_cast<int>(n);
    }
    if ((requestType & kRequestKind) != LIBUSB_REQUEST_TYPE_VENDOR)
        return LIBUSB_ERROR_PIPE;
    if (request == SIO_READ_EEPROM_REQUEST) {  // wIndex is the word address here
        if (!in)
            return LIBUSB_ERROR_PIPE;
        const uint16_t word = m_Eeprom[index % kEepromWords];
        return Answer({static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>(word >> 8)}, data, length);
    }
    // The interface in the low byte of wIndex: 1 = A, 2 = B (0, as older chips take it, is A).
    const int port = index & 0xFF;
    const int interface = port == 0 ? 0 : port - 1;
    if (interface >= kInterfaces)
        return LIBUSB_ERROR_PIPE;
    const bool answers = request == SIO_POLL_MODEM_STATUS_REQUEST || request == SIO_GET_LATENCY_TIMER_REQUEST ||
                         request == SIO_READ_PINS_REQUEST;
    if (in != answers)
        return LIBUSB_ERROR_PIPE;
    Interface& i = m_Interfaces[interface];
    ++i.control;
    const uint8_t setup[] = {requestType, request, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8),
                             static_cast<uint8_t>(index & 0xFF), static_cast<uint8_t>(index >> 8),
                             static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8)};
    m_Chip->Trace().Record(qbxsim::CSimChip::Letter(interface), 'C', setup, sizeof setup);
    qbxsim::CMpsseEngine& engine = m_Chip->Engine(interface);
    switch (request) {
    case SIO_RESET_REQUEST:
        if (value == SIO_RESET_SIO) {  // both buffers, flow control and the event character
            DropToHost(i);
            engine.Purge();
            i.flowControl = 0;
            i.eventChar = 0;
        } else if (value == SIO_TCOFLUSH) {  // the bytes from the host not yet executed
            engine.Purge();
        } else if (value == SIO_TCIFLUSH) {  // the bytes waiting for the host
            DropToHost(i);
        } else {
            return LIBUSB_ERROR_PIPE;
        }
        return 0;
    case SIO_SET_MODEM_CTRL_REQUEST: {
        const uint16_t mask = value >> 8;
        i.modemControl = static_cast<uint16_t>((i.modemControl & ~mask) | (value & mask));
        return 0;
    }
    case SIO_SET_FLOW_CTRL_REQUEST: i.flowControl = index & 0xFF00; return 0;
    case SIO_SET_BAUDRATE_REQUEST:
        i.baudValue = value;
        i.baudIndex = index & 0xFF00;
        return 0;
    case SIO_SET_DATA_REQUEST: i.dataFormat = value; return 0;
    case SIO_POLL_MODEM_STATUS_REQUEST: return Answer({kModemStatus, kLineStatus}, data, length);
    case SIO_SET_EVENT_CHAR_REQUEST: i.eventChar = value; return 0;
    case SIO_SET_ERROR_CHAR_REQUEST: i.errorChar = value; return 0;
    case SIO_SET_LATENCY_TIMER_REQUEST: i.latencyMs = static_cast<uint8_t>(value & 0xFF); return 0;
    case SIO_GET_LATENCY_TIMER_REQUEST: return Answer({i.latencyMs}, data, length);
    case SIO_SET_BITMODE_REQUEST:
        if (!ValidBitMode(static_cast<uint8_t>(value >> 8)))
            return LIBUSB_ERROR_PIPE;
        engine.SetBitMode(static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8));
        return 0;
    case SIO_READ_PINS_REQUEST: return Answer({m_Chip->Pins(interface)}, data, length);
    default:
        return LIBUSB_ERROR_PIPE;
    }
}

int CUsbFt2232h::CheckEndpoint(int interface, const void* owner) const
{
    if (m_Gone)
        return LIBUSB_ERROR_NO_DEVICE;
    if (interface < 0 || interface >= kInterfaces || m_Interfaces[interface].claimedBy != owner)
        return LIBUSB_ERROR_NOT_FOUND;  // I/O only on an endpoint of an interface the program claimed
    return LIBUSB_SUCCESS;
}

int CUsbFt2232h::BulkOut(int interface, const uint8_t* data, int length, const void* owner)
{
    if (int error = CheckEndpoint(interface, owner))
        return error;
    if (length <= 0)
        return LIBUSB_SUCCESS;
    Interface& i = m_Interfaces[interface];
    if (!m_Chip->Write(interface, data, static_cast<size_t>(length), i.toHost)) {
        m_Gone = true;  // unplugged: this transfer and every later one fail
        return LIBUSB_ERROR_NO_DEVICE;
    }
    ++i.bulkOut;
    const size_t released = m_Chip->Engine(interface).SendImmediateAt();
    if (!m_Chip->Muted() && released != qbxsim::CMpsseEngine::kNoSendImmediate)
        i.releasedEnd = std::max(i.releasedEnd, released);
    return LIBUSB_SUCCESS;
}

void CUsbFt2232h::DropToHost(Interface& i)
{
    i.toHost.clear();
    i.head = 0;
    i.releasedEnd = 0;
}

void CUsbFt2232h::SendPacket(Interface& i, InTransfer& t, size_t count, Clock::time_point now)
{
    uint8_t* packet = t.buffer + t.done;
    packet[0] = kModemStatus;
    packet[1] = kLineStatus;
    const uint8_t* bytes = i.toHost.data() + i.head;
    if (count > 0)
        std::memcpy(packet + kStatusBytes, bytes, count);
    t.data.insert(t.data.end(), bytes, bytes + count);
    t.done += kStatusBytes + static_cast<int>(count);
    i.head += count;
    if (i.head == i.toHost.size())
        DropToHost(i);
    i.lastPacket = now;  // the latency timer starts again with every packet
}

bool CUsbFt2232h::BulkIn(int interface, InTransfer& t, const void* owner, Clock::time_point now,
                         Clock::time_point* wake, int* error)
{
    *error = CheckEndpoint(interface, owner);
    if (*error)
        return true;
    Interface& i = m_Interfaces[interface];
    const auto latency = std::chrono::milliseconds(std::max<int>(i.latencyMs, 1));
    for (;;) {
        const int room = t.length - t.done;
        if (t.done > 0 && room < kPacketSize)
            return true;  // no room for another packet
        const int capacity = std::min(kPayloadSize, room - kStatusBytes);
        if (capacity < 0) {
            *error = LIBUSB_ERROR_OVERFLOW;
            return true;
        }
        const size_t held = i.toHost.size() - i.head;
        if (capacity == kPayloadSize && held >= static_cast<size_t>(kPayloadSize)) {
            SendPacket(i, t, kPayloadSize, now);  // a full packet goes at once
            continue;
        }
        const size_t released = i.releasedEnd > i.head ? std::min(i.releasedEnd - i.head, held) : 0;
        const bool timerRanOut = now >= i.lastPacket + latency;
        if (released > 0 || timerRanOut) {  // a short packet ends the transfer
            SendPacket(i, t, std::min<size_t>(timerRanOut ? held : released, static_cast<size_t>(capacity)), now);
            return true;
        }
        t.waited = true;
        *wake = i.lastPacket + latency;
        return false;
    }
}

void CUsbFt2232h::Finish(int interface, const InTransfer& t)
{
    Interface& i = m_Interfaces[interface];
    ++i.bulkIn;
    if (t.waited)
        ++i.latencyWaits;
    m_Chip->Read(interface, t.data.data(), t.data.size());
}

void CUsbFt2232h::WriteStatsIfIdle()
{
    if (!m_EverClaimed)
        return;
    for (const Interface& i : m_Interfaces)
        if (i.claimedBy)
            return;
    qbxsim::_SIMCHANNELREPORT reports[kInterfaces];
    for (int n = 0; n < kInterfaces; ++n) {
        const Interface& i = m_Interfaces[n];
        reports[n] = m_Chip->Report(n);
        reports[n].usbTransfers = {{"bulk_out", i.bulkOut},
                                   {"bulk_in", i.bulkIn},
                                   {"control", i.control},
                                   {"latency_waits", i.latencyWaits}};
    }
    m_Chip->WriteStats(qbxsim::StatsJson(reports[0], reports[1]));
}

}  // namespace usbsim
