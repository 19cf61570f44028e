// The seam on libftdi1: listing FTDI chips, opening one channel, and the per-channel calls.
#include "ftdi_seam.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <climits>

namespace d2xxftdi {

namespace {

// Frees a libftdi context (and closes its device) at the end of a scope.
struct ContextDeleter {
    void operator()(ftdi_context* context) const { ftdi_free(context); }
};
using ContextPtr = std::unique_ptr<ftdi_context, ContextDeleter>;

// Frees a libftdi device list at the end of a scope.
struct DeviceList {
    ftdi_device_list* head = nullptr;
    ~DeviceList() { ftdi_list_free(&head); }
};

class LibftdiChannel : public IFtdiChannel {
public:
    explicit LibftdiChannel(ContextPtr context) : m_Context(std::move(context)) {}
    ~LibftdiChannel() override { ftdi_usb_close(m_Context.get()); }

    int Reset() override { return ftdi_usb_reset(m_Context.get()); }
    // At most one USB transfer per call. ftdi_read_data goes on reading until a transfer brings no
    // data, and the chip sends such a transfer only when its latency timer runs out: asked for all
    // there is, every poll that found data would wait one latency period (16 ms) more. Asked for
    // one byte, it returns after the first transfer that brought data and keeps the rest in its
    // buffer, which the second call empties without going to the bus.
    int Read(uint8_t* buffer, int size) override
    {
        if (size <= 0)
            return 0;
        int got = ftdi_read_data(m_Context.get(), buffer, 1);
        if (got <= 0)
            return got;
        const int buffered = static_cast<int>(std::min<unsigned>(m_Context->readbuffer_remaining, INT_MAX));
        const int more = std::min(size - 1, buffered);
        if (more > 0) {
            const int rest = ftdi_read_data(m_Context.get(), buffer + 1, more);
            if (rest < 0)
                return rest;
            got += rest;
        }
        return got;
    }
    int Write(const uint8_t* buffer, int size) override { return ftdi_write_data(m_Context.get(), buffer, size); }
    int SetReadChunkSize(unsigned size) override { return ftdi_read_data_set_chunksize(m_Context.get(), size); }
    int SetWriteChunkSize(unsigned size) override { return ftdi_write_data_set_chunksize(m_Context.get(), size); }
    int SetEventChar(uint8_t character, bool enable) override
    {
        return ftdi_set_event_char(m_Context.get(), character, enable ? 1 : 0);
    }
    int SetErrorChar(uint8_t character, bool enable) override
    {
        return ftdi_set_error_char(m_Context.get(), character, enable ? 1 : 0);
    }
    void SetUsbTimeouts(int readMs, int writeMs) override
    {
        // libftdi 1.5 has no setter: the context's fields are public.
        m_Context->usb_read_timeout = readMs;
        m_Context->usb_write_timeout = writeMs;
    }
    int SetLatencyTimer(uint8_t ms) override { return ftdi_set_latency_timer(m_Context.get(), ms); }
    int SetBitMode(uint8_t mask, uint8_t mode) override { return ftdi_set_bitmode(m_Context.get(), mask, mode); }

private:
    ContextPtr m_Context;
};

// Why libusb cannot open the device: NoPermission for a device node this user may not open.
UsbProblem OpenProblem(libusb_device* device)
{
    libusb_device_handle* handle = nullptr;
    const int result = libusb_open(device, &handle);
    if (result == 0) {
        libusb_close(handle);
        return UsbProblem::Other;
    }
    return result == LIBUSB_ERROR_ACCESS ? UsbProblem::NoPermission : UsbProblem::Other;
}

// Reads one string set of a chip; with a missing string (a chip without serial number, for
// instance) the others are still read.
bool ReadStrings(ftdi_context* context, libusb_device* device, UsbDevice& out)
{
    char description[128] = {};
    char serial[128] = {};
    int result = ftdi_usb_get_strings2(context, device, nullptr, 0, description, sizeof description, serial,
                                       sizeof serial);
    if (result == -4) {  // libusb could not open it
        out.problem = OpenProblem(device);
        return false;
    }
    if (result == 0) {
        out.description = description;
        out.serial = serial;
        return true;
    }
    if (result != -9) {  // anything but "no serial number" means the chip could not be asked
        out.problem = UsbProblem::Other;
        return false;
    }
    description[0] = '\0';
    if (ftdi_usb_get_strings2(context, device, nullptr, 0, description, sizeof description, nullptr, 0) != 0)
        return false;
    out.description = description;
    out.serial.clear();
    return true;
}

class LibftdiBus : public IFtdiBus {
public:
    int List(std::vector<UsbDevice>& devices) override
    {
        devices.clear();
        ContextPtr context(ftdi_new());
        if (!context)
            return -1;
        DeviceList list;
        // Vendor and product 0: every FTDI chip that libftdi knows (0x0403 with 0x6001, 0x6010,
        // 0x6011, 0x6014, 0x6015).
        int found = ftdi_usb_find_all(context.get(), &list.head, 0, 0);
        if (found < 0)
            return found;
        for (ftdi_device_list* entry = list.head; entry != nullptr; entry = entry->next) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(entry->dev, &descriptor) != 0)
                continue;
            UsbDevice device;
            device.bus = libusb_get_bus_number(entry->dev);
            device.address = libusb_get_device_address(entry->dev);
            device.vendor = descriptor.idVendor;
            device.product = descriptor.idProduct;
            device.release = descriptor.bcdDevice;
            device.highSpeed = libusb_get_device_speed(entry->dev) >= LIBUSB_SPEED_HIGH;
            device.stringsRead = ReadStrings(context.get(), entry->dev, device);
            devices.push_back(std::move(device));
        }
        return static_cast<int>(devices.size());
    }

    std::unique_ptr<IFtdiChannel> Open(const UsbDevice& device, int channel) override
    {
        m_LastProblem = UsbProblem::Other;
        if (channel < 0 || channel > 3)
            return nullptr;
        ContextPtr context(ftdi_new());
        if (!context)
            return nullptr;
        // The interface must be chosen before the device is opened.
        if (ftdi_set_interface(context.get(), static_cast<ftdi_interface>(INTERFACE_A + channel)) < 0)
            return nullptr;
        context->module_detach_mode = AUTO_DETACH_SIO_MODULE;
        DeviceList list;
        if (ftdi_usb_find_all(context.get(), &list.head, 0, 0) < 0)
            return nullptr;
        for (ftdi_device_list* entry = list.head; entry != nullptr; entry = entry->next) {
            if (libusb_get_bus_number(entry->dev) != device.bus ||
                libusb_get_device_address(entry->dev) != device.address)
                continue;
            const int result = ftdi_usb_open_dev(context.get(), entry->dev);
            if (result == 0)
                return std::make_unique<LibftdiChannel>(std::move(context));
            // -4: libusb could not open it; -5: the interface could not be claimed; -8: the kernel
            // driver could not be detached for lack of permission.
            m_LastProblem = result == -5   ? UsbProblem::InUse
                            : result == -8 ? UsbProblem::NoPermission
                            : result == -4 ? OpenProblem(entry->dev)
                                           : UsbProblem::Other;
            return nullptr;
        }
        return nullptr;
    }

    UsbProblem LastOpenProblem() const override { return m_LastProblem; }

private:
    UsbProblem m_LastProblem = UsbProblem::Other;
};

}  // namespace

std::unique_ptr<IFtdiBus> MakeLibftdiBus() { return std::make_unique<LibftdiBus>(); }

}  // namespace d2xxftdi
