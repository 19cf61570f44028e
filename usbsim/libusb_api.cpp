// libusb-1.0.so.0 of the simulator: the part of libusb-1.0's interface that libftdi1 and the
// project's libftdi driver call, with libusb's own types and error codes (libusb.h), on a bus that
// holds the simulated FT2232H adapters of the board file. Contexts, device lists, handles, config
// descriptors and transfers are objects of this library, looked up by the pointers it handed out.
// Synchronous transfers sleep while the chip holds its answer back; asynchronous ones complete in
// libusb_handle_events_timeout(_completed), which calls their callbacks.
#include <libusb.h>

#include <sys/time.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "ft2232h_device.h"

using usbsim::Clock;
using usbsim::CUsbFt2232h;

struct libusb_context {
    std::vector<std::unique_ptr<libusb_device>> devices;  // one per simulated device, made when first listed
    std::vector<libusb_transfer*> pending;                 // submitted transfers, in order
    int users = 1;                                         // libusb_init calls on the default context
};

struct libusb_device {
    libusb_context* context = nullptr;
    CUsbFt2232h* model = nullptr;
    int references = 0;
};

struct libusb_device_handle {
    libusb_device* device = nullptr;
    bool autoDetach = false;
};

namespace {

constexpr uint8_t kBusNumber = 1;
constexpr uint8_t kFirstAddress = 5;
constexpr uint8_t kMaxPowerUnits = 50;  // 100 mA in 2 mA units
constexpr uint8_t kBusPowered = 0x80;
constexpr uint8_t kVendorClass = 0xFF;

// A config descriptor with everything it points to, in one object.
struct ConfigBlock {
    libusb_config_descriptor config{};
    libusb_interface interfaces[usbsim::kInterfaces]{};
    libusb_interface_descriptor settings[usbsim::kInterfaces]{};
    libusb_endpoint_descriptor endpoints[usbsim::kInterfaces][2]{};
};

// A transfer of libusb_alloc_transfer and its state while it is submitted.
struct TransferBox {
    std::vector<std::max_align_t> storage;  // the libusb_transfer and its isochronous packet descriptors
    libusb_transfer* transfer = nullptr;
    bool submitted = false;
    bool cancelled = false;
    Clock::time_point due = Clock::time_point::max();
    usbsim::InTransfer in;
};

// The endpoint's interface and direction; -1 for an endpoint the device does not have.
int InterfaceOf(unsigned char endpoint, bool* in)
{
    for (int n = 0; n < usbsim::kInterfaces; ++n) {
        if (endpoint == usbsim::InEndpoint(n) || endpoint == usbsim::OutEndpoint(n)) {
            *in = endpoint == usbsim::InEndpoint(n);
            return n;
        }
    }
    return -1;
}

Clock::time_point After(unsigned int ms, Clock::time_point from)
{
    return ms == 0 ? Clock::time_point::max() : from + std::chrono::milliseconds(ms);
}

// The process-wide bus and every object handed out to the callers.
class CBus {
public:
    static CBus& Instance()
    {
        static CBus bus;
        return bus;
    }

    std::mutex mutex;
    std::vector<std::unique_ptr<CUsbFt2232h>> adapters;
    std::map<libusb_context*, std::unique_ptr<libusb_context>> contexts;
    libusb_context* defaultContext = nullptr;
    std::map<libusb_device_handle*, std::unique_ptr<libusb_device_handle>> handles;
    std::map<libusb_device**, std::vector<libusb_device*>> lists;
    std::map<libusb_config_descriptor*, std::unique_ptr<ConfigBlock>> configs;
    std::map<libusb_transfer*, std::unique_ptr<TransferBox>> transfers;

    libusb_context* Context(libusb_context* ctx) { return ctx ? ctx : defaultContext; }
    bool Known(libusb_device_handle* handle) const { return handle && handles.count(handle) > 0; }
    TransferBox* Box(libusb_transfer* transfer)
    {
        auto found = transfers.find(transfer);
        return found == transfers.end() ? nullptr : found->second.get();
    }

    void CloseHandle(libusb_device_handle* handle)
    {
        for (int n = 0; n < usbsim::kInterfaces; ++n)
            handle->device->model->Release(n, handle);
        handles.erase(handle);
    }

private:
    // The adapters of the board file: the first with its stats and trace files, the others (two or
    // more identical adapters) each from a fresh load of the same file, with serial numbers
    // "<serial>2", "<serial>3", ...
    CBus()
    {
        qbxsim::_SIMSETUP setup = qbxsim::SetupFromEnvironment();
        if (!setup.config || !setup.config->adapterPresent)
            return;
        const qbxsim::_SIMUSBCONFIG usb = setup.config->usb;
        const std::string path = setup.config->path;
        for (int n = 0; n < usb.adapters; ++n) {
            std::unique_ptr<qbxsim::_SIMCONFIG> config = std::move(setup.config);
            qbxsim::_SIMFILES files = n == 0 ? setup.files : qbxsim::_SIMFILES{};
            std::string error;
            if (!config && !(config = qbxsim::LoadBoardFile(path, &error))) {
                qbxsim::SimComplain(error);
                return;
            }
            std::optional<std::string> serial = usb.serialNumber;
            if (serial && n > 0)
                *serial += std::to_string(n + 1);
            adapters.push_back(std::make_unique<CUsbFt2232h>(
                std::make_unique<qbxsim::CSimChip>(std::move(config), std::move(files)), usb, serial,
                static_cast<uint8_t>(kFirstAddress + n)));
        }
    }
};

// No exception may cross into the C caller.
template <typename Call>
int Guarded(Call call)
{
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return LIBUSB_ERROR_NO_MEM;
    } catch (...) {
        return LIBUSB_ERROR_OTHER;
    }
}

// Runs the submitted transfers of a context as far as they go now. Those that completed are taken
// off the list and returned (their callbacks are due); *wake is when one may go on.
std::vector<libusb_transfer*> Progress(CBus& bus, libusb_context* ctx, Clock::time_point now, Clock::time_point* wake)
{
    std::vector<libusb_transfer*> finished;
    for (libusb_transfer* t : ctx->pending) {
        TransferBox& box = *bus.Box(t);
        if (!bus.Known(t->dev_handle)) {  // its handle was closed meanwhile
            t->status = LIBUSB_TRANSFER_NO_DEVICE;
            box.submitted = false;
            finished.push_back(t);
            continue;
        }
        CUsbFt2232h& device = *t->dev_handle->device->model;
        bool in = false;
        const int n = InterfaceOf(t->endpoint, &in);
        int error = LIBUSB_SUCCESS;
        bool done = true;
        if (box.cancelled) {
            t->status = LIBUSB_TRANSFER_CANCELLED;
        } else if (!in) {
            error = device.BulkOut(n, t->buffer, t->length, t->dev_handle);
            t->actual_length = error ? 0 : t->length;
        } else {
            Clock::time_point ready = Clock::time_point::max();
            done = device.BulkIn(n, box.in, t->dev_handle, now, &ready, &error);
            if (!done && now >= box.due) {
                done = true;
                t->status = LIBUSB_TRANSFER_TIMED_OUT;
            }
            *wake = std::min({*wake, ready, box.due});
            if (done && !error)
                device.Finish(n, box.in);
            t->actual_length = box.in.done;
        }
        if (!done)
            continue;
        if (!box.cancelled && t->status != LIBUSB_TRANSFER_TIMED_OUT)
            t->status = error == LIBUSB_ERROR_NO_DEVICE ? LIBUSB_TRANSFER_NO_DEVICE
                        : error                         ? LIBUSB_TRANSFER_ERROR
                                                        : LIBUSB_TRANSFER_COMPLETED;
        box.submitted = false;
        finished.push_back(t);
    }
    std::erase_if(ctx->pending, [&](libusb_transfer* t) { return std::count(finished.begin(), finished.end(), t) > 0; });
    return finished;
}

}  // namespace

#define USBSIM_EXPORT extern "C" __attribute__((visibility("default")))

// ---- library and device list ---------------------------------------------------------------------

USBSIM_EXPORT int libusb_init(libusb_context** ctx)
{
    return Guarded([&] {
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        if (!ctx && bus.defaultContext) {
            ++bus.defaultContext->users;
            return LIBUSB_SUCCESS;
        }
        auto made = std::make_unique<libusb_context>();
        libusb_context* context = made.get();
        bus.contexts.emplace(context, std::move(made));
        if (ctx)
            *ctx = context;
        else
            bus.defaultContext = context;
        return LIBUSB_SUCCESS;
    });
}

USBSIM_EXPORT void libusb_exit(libusb_context* ctx)
{
    Guarded([&] {
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        libusb_context* context = bus.Context(ctx);
        if (!context || !bus.contexts.count(context))
            return 0;
        if (!ctx && --context->users > 0)
            return 0;
        std::vector<libusb_device_handle*> open;
        for (const auto& [handle, owned] : bus.handles)
            if (handle->device->context == context)
                open.push_back(handle);
        for (libusb_device_handle* handle : open)
            bus.CloseHandle(handle);
        if (context == bus.defaultContext)
            bus.defaultContext = nullptr;
        bus.contexts.erase(context);
        return 0;
    });
}

USBSIM_EXPORT ssize_t libusb_get_device_list(libusb_context* ctx, libusb_device*** list)
{
    return Guarded([&] {
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        libusb_context* context = bus.Context(ctx);
        if (!list || !context || !bus.contexts.count(context))
            return static_cast<int>(LIBUSB_ERROR_INVALID_PARAM);
        std::vector<libusb_device*> devices;
        for (const auto& adapter : bus.adapters) {
            if (adapter->Gone())  // unplugged: no longer on the bus
                continue;
            auto same = std::find_if(context->devices.begin(), context->devices.end(),
                                     [&](const auto& d) { return d->model == adapter.get(); });
            if (same == context->devices.end()) {
                context->devices.push_back(std::make_unique<libusb_device>());
                same = context->devices.end() - 1;
                (*same)->context = context;
                (*same)->model = adapter.get();
            }
            ++(*same)->references;
            devices.push_back(same->get());
        }
        const int count = static_cast<int>(devices.size());
        devices.push_back(nullptr);
        libusb_device** array = devices.data();
        bus.lists.emplace(array, std::move(devices));
        *list = array;
        return count;
    });
}

USBSIM_EXPORT void libusb_free_device_list(libusb_device** list, int unrefDevices)
{
    Guarded([&] {
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        auto found = bus.lists.find(list);
        if (found == bus.lists.end())
            return 0;
        if (unrefDevices)
            for (libusb_device* device : found->second)
                if (device)
                    --device->references;
        bus.lists.erase(found);
        return 0;
    });
}

USBSIM_EXPORT libusb_device* libusb_ref_device(libusb_device* dev)
{
    CBus& bus = CBus::Instance();
    std::lock_guard lock(bus.mutex);
    if (dev)
        ++dev->references;
    return dev;
}

USBSIM_EXPORT void libusb_unref_device(libusb_device* dev)
{
    CBus& bus = CBus::Instance();
    std::lock_guard lock(bus.mutex);
    if (dev)
        --dev->references;  // the context keeps the device until libusb_exit
}

// ---- descriptors and addresses (read without opening the device, as from sysfs) ------------------

USBSIM_EXPORT int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc)
{
    if (!dev || !desc)
        return LIBUSB_ERROR_INVALID_PARAM;
    *desc = dev->model->DeviceDescriptor();
    return LIBUSB_SUCCESS;
}

USBSIM_EXPORT int libusb_get_config_descriptor(libusb_device* dev, uint8_t configIndex, libusb_config_descriptor** config)
{
    return Guarded([&] {
        if (!dev || !config)
            return static_cast<int>(LIBUSB_ERROR_INVALID_PARAM);
        if (configIndex != 0)
            return static_cast<int>(LIBUSB_ERROR_NOT_FOUND);
        auto block = std::make_unique<ConfigBlock>();
        libusb_config_descriptor& c = block->config;
        c.bLength = LIBUSB_DT_CONFIG_SIZE;
        c.bDescriptorType = LIBUSB_DT_CONFIG;
        c.wTotalLength = LIBUSB_DT_CONFIG_SIZE + usbsim::kInterfaces * (LIBUSB_DT_INTERFACE_SIZE + 2 * LIBUSB_DT_ENDPOINT_SIZE);
        c.bNumInterfaces = usbsim::kInterfaces;
        c.bConfigurationValue = 1;
        c.bmAttributes = kBusPowered;
        c.MaxPower = kMaxPowerUnits;
        c.interface = block->interfaces;
        for (int n = 0; n < usbsim::kInterfaces; ++n) {
            libusb_interface_descriptor& s = block->settings[n];
            s.bLength = LIBUSB_DT_INTERFACE_SIZE;
            s.bDescriptorType = LIBUSB_DT_INTERFACE;
            s.bInterfaceNumber = static_cast<uint8_t>(n);
            s.bNumEndpoints = 2;
            s.bInterfaceClass = s.bInterfaceSubClass = s.bInterfaceProtocol = kVendorClass;
            s.iInterface = 2;  // the product string
            s.endpoint = block->endpoints[n];
            for (int e = 0; e < 2; ++e) {
                libusb_endpoint_descriptor& d = block->endpoints[n][e];
                d.bLength = LIBUSB_DT_ENDPOINT_SIZE;
                d.bDescriptorType = LIBUSB_DT_ENDPOINT;
                d.bEndpointAddress = e == 0 ? usbsim::InEndpoint(n) : usbsim::OutEndpoint(n);
                d.bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
                d.wMaxPacketSize = usbsim::kPacketSize;
            }
            block->interfaces[n] = {&block->settings[n], 1};
        }
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        *config = &block->config;
        bus.configs.emplace(&block->config, std::move(block));
        return static_cast<int>(LIBUSB_SUCCESS);
    });
}

USBSIM_EXPORT void libusb_free_config_descriptor(libusb_config_descriptor* config)
{
    CBus& bus = CBus::Instance();
    std::lock_guard lock(bus.mutex);
    bus.configs.erase(config);
}

USBSIM_EXPORT uint8_t libusb_get_bus_number(libusb_device* dev) { return dev ? kBusNumber : 0; }

USBSIM_EXPORT uint8_t libusb_get_device_address(libusb_device* dev) { return dev ? dev->model->Address() : 0; }

USBSIM_EXPORT int libusb_get_device_speed(libusb_device* dev) { return dev ? LIBUSB_SPEED_HIGH : LIBUSB_SPEED_UNKNOWN; }

// ---- opening, configuration, interfaces ----------------------------------------------------------

USBSIM_EXPORT int libusb_open(libusb_device* dev, libusb_device_handle** handle)
{
    return Guarded([&] {
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        if (!dev || !handle)
            return static_cast<int>(LIBUSB_ERROR_INVALID_PARAM);
        if (dev->model->Gone())
            return static_cast<int>(LIBUSB_ERROR_NO_DEVICE);
        if (dev->model->OpenDenied())  // the device node is not accessible to this user
            return static_cast<int>(LIBUSB_ERROR_ACCESS);
        auto made = std::make_unique<libusb_device_handle>();
        made->device = dev;
        ++dev->references;
        *handle = made.get();
        bus.handles.emplace(made.get(), std::move(made));
        return static_cast<int>(LIBUSB_SUCCESS);
    });
}

USBSIM_EXPORT void libusb_close(libusb_device_handle* handle)
{
    Guarded([&] {
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        if (bus.Known(handle)) {
            --handle->device->references;
            bus.CloseHandle(handle);
        }
        return 0;
    });
}

USBSIM_EXPORT int libusb_get_configuration(libusb_device_handle* handle, int* config)
{
    CBus& bus = CBus::Instance();
    std::lock_guard lock(bus.mutex);
    if (!bus.Known(handle) || !config)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (handle->device->model->Gone())
        return LIBUSB_ERROR_NO_DEVICE;
    *config = 1;
    return LIBUSB_SUCCESS;
}

USBSIM_EXPORT int libusb_set_configuration(libusb_device_handle* handle, int configuration)
{
    CBus& bus = CBus::Instance();
    std::lock_guard lock(bus.mutex);
    if (!bus.Known(handle))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (handle->device->model->Gone())
        return LIBUSB_ERROR_NO_DEVICE;
    return configuration == 1 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

USBSIM_EXPORT int libusb_claim_interface(libusb_device_handle* handle, int interfaceNumber)
{
    CBus& bus = CBus::Instance();
    std::lock_guard lock(bus.mutex);
    if (!bus.Known(handle))
        return LIBUSB_ERROR_INVALID_PARAM;
    return handle->device->model->Claim(interfaceNumber, handle, handle->autoDetach);
}

USBSIM_EXPORT int libusb_release_interface(libusb_device_handle* handle, int interfaceNumber)
{
    return Guarded([&] {
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        if (!bus.Known(handle))
            return static_cast<int>(LIBUSB_ERROR_INVALID_PARAM);
        return handle->device->model->Release(interfaceNumber, handle);
    });
}

USBSIM_EXPORT int libusb_detach_kernel_driver(libusb_device_handle* handle, int interfaceNumber)
{
    CBus& bus = CBus::Instance();
    std::lock_guard lock(bus.mutex);
    if (!bus.Known(handle))
        return LIBUSB_ERROR_INVALID_PARAM;
    return handle->device->model->DetachKernelDriver(interfaceNumber);
}

USBSIM_EXPORT int libusb_set_auto_detach_kernel_driver(libusb_device_handle* handle, int enable)
{
    CBus& bus = CBus::Instance();
    std::lock_guard lock(bus.mutex);
    if (!bus.Known(handle))
        return LIBUSB_ERROR_INVALID_PARAM;
    handle->autoDetach = enable != 0;
    return LIBUSB_SUCCESS;
}

// ---- synchronous transfers -----------------------------------------------------------------------

USBSIM_EXPORT int libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request,
                                          uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                                          unsigned int /*timeout*/)
{
    return Guarded([&] {
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        if (!bus.Known(handle) || (length > 0 && !data))
            return static_cast<int>(LIBUSB_ERROR_INVALID_PARAM);
        return handle->device->model->Control(requestType, request, value, index, data, length);
    });
}

USBSIM_EXPORT int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                                       int length, int* transferred, unsigned int timeout)
{
    return Guarded([&] {
        CBus& bus = CBus::Instance();
        std::unique_lock lock(bus.mutex);
        bool in = false;
        const int n = InterfaceOf(endpoint, &in);
        if (!bus.Known(handle) || !transferred || length < 0 || (length > 0 && !data))
            return static_cast<int>(LIBUSB_ERROR_INVALID_PARAM);
        *transferred = 0;
        CUsbFt2232h& device = *handle->device->model;
        if (n < 0)
            return static_cast<int>(device.Gone() ? LIBUSB_ERROR_NO_DEVICE : LIBUSB_ERROR_NOT_FOUND);
        if (!in) {
            const int error = device.BulkOut(n, data, length, handle);
            *transferred = error ? 0 : length;
            return error;
        }
        usbsim::InTransfer t{data, length, 0, false, {}};
        const Clock::time_point deadline = After(timeout, Clock::now());
        for (;;) {
            const Clock::time_point now = Clock::now();
            Clock::time_point wake;
            int error = LIBUSB_SUCCESS;
            if (device.BulkIn(n, t, handle, now, &wake, &error)) {
                if (!error)
                    device.Finish(n, t);
                *transferred = t.done;
                return error;
            }
            if (now >= deadline) {
                *transferred = t.done;
                return static_cast<int>(LIBUSB_ERROR_TIMEOUT);
            }
            // The chip holds its answer until the latency timer runs out; let others use the bus.
            lock.unlock();
            std::this_thread::sleep_until(std::min(wake, deadline));
            lock.lock();
            if (!bus.Known(handle))
                return static_cast<int>(LIBUSB_ERROR_NO_DEVICE);
        }
    });
}

USBSIM_EXPORT int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index, unsigned char* data,
                                                     int length)
{
    return Guarded([&] {
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        if (!bus.Known(handle) || !data || length <= 0 || index == 0)
            return static_cast<int>(LIBUSB_ERROR_INVALID_PARAM);
        CUsbFt2232h& device = *handle->device->model;
        if (device.Gone())
            return static_cast<int>(LIBUSB_ERROR_NO_DEVICE);
        std::vector<uint8_t> raw;
        if (int r = device.StringDescriptor(index, raw); r < 0)
            return r;
        int count = 0;
        for (size_t at = 2; at + 1 < raw.size() && count < length - 1; at += 2) {
            const unsigned unit = raw[at] | (raw[at + 1] << 8);
            data[count++] = static_cast<unsigned char>(unit < 0x80 ? unit : '?');
        }
        data[count] = '\0';
        return count;
    });
}

// ---- asynchronous transfers ----------------------------------------------------------------------

USBSIM_EXPORT libusb_transfer* libusb_alloc_transfer(int isoPackets)
{
    if (isoPackets < 0)
        return nullptr;
    try {
        auto box = std::make_unique<TransferBox>();
        const size_t bytes = sizeof(libusb_transfer) + static_cast<size_t>(isoPackets) * sizeof(libusb_iso_packet_descriptor);
        box->storage.resize((bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
        box->transfer = ::new (static_cast<void*>(box->storage.data())) libusb_transfer{};
        box->transfer->num_iso_packets = isoPackets;
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        libusb_transfer* transfer = box->transfer;
        bus.transfers.emplace(transfer, std::move(box));
        return transfer;
    } catch (...) {
        return nullptr;
    }
}

USBSIM_EXPORT void libusb_free_transfer(libusb_transfer* transfer)
{
    CBus& bus = CBus::Instance();
    std::lock_guard lock(bus.mutex);
    TransferBox* box = bus.Box(transfer);
    if (!box || box->submitted)  // freeing a transfer in flight is the caller's error: keep it
        return;
    if (transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER)
        std::free(transfer->buffer);
    bus.transfers.erase(transfer);
}

USBSIM_EXPORT int libusb_submit_transfer(libusb_transfer* transfer)
{
    return Guarded([&] {
        CBus& bus = CBus::Instance();
        std::lock_guard lock(bus.mutex);
        TransferBox* box = bus.Box(transfer);
        if (!box || !bus.Known(transfer->dev_handle) || transfer->length < 0)
            return static_cast<int>(LIBUSB_ERROR_INVALID_PARAM);
        if (box->submitted)
            return static_cast<int>(LIBUSB_ERROR_BUSY);
        CUsbFt2232h& device = *transfer->dev_handle->device->model;
        if (device.Gone())
            return static_cast<int>(LIBUSB_ERROR_NO_DEVICE);
        bool in = false;
        if (transfer->type != LIBUSB_TRANSFER_TYPE_BULK)
            return static_cast<int>(LIBUSB_ERROR_NOT_SUPPORTED);
        if (InterfaceOf(transfer->endpoint, &in) < 0)
            return static_cast<int>(LIBUSB_ERROR_NOT_FOUND);
        box->submitted = true;
        box->cancelled = false;
        box->due = After(transfer->timeout, Clock::now());
        box->in = usbsim::InTransfer{transfer->buffer, transfer->length, 0, false, {}};
        transfer->actual_length = 0;
        transfer->dev_handle->device->context->pending.push_back(transfer);
        return static_cast<int>(LIBUSB_SUCCESS);
    });
}

USBSIM_EXPORT int libusb_cancel_transfer(libusb_transfer* transfer)
{
    CBus& bus = CBus::Instance();
    std::lock_guard lock(bus.mutex);
    TransferBox* box = bus.Box(transfer);
    if (!box || !box->submitted)
        return LIBUSB_ERROR_NOT_FOUND;
    box->cancelled = true;
    return LIBUSB_SUCCESS;
}

USBSIM_EXPORT int libusb_handle_events_timeout_completed(libusb_context* ctx, struct timeval* tv, int* completed)
{
    return Guarded([&] {
        CBus& bus = CBus::Instance();
        const Clock::time_point start = Clock::now();
        const Clock::time_point deadline =
            tv ? start + std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec) : start;
        for (;;) {
            std::vector<libusb_transfer*> finished;
            Clock::time_point wake = deadline;
            {
                std::lock_guard lock(bus.mutex);
                libusb_context* context = bus.Context(ctx);
                if (!context || !bus.contexts.count(context))
                    return static_cast<int>(LIBUSB_ERROR_INVALID_PARAM);
                if (completed && *completed)
                    return static_cast<int>(LIBUSB_SUCCESS);
                finished = Progress(bus, context, Clock::now(), &wake);
            }
            for (libusb_transfer* t : finished)  // outside the lock: a callback may submit again
                if (t->callback)
                    t->callback(t);
            if (!finished.empty() || Clock::now() >= deadline)
                return static_cast<int>(LIBUSB_SUCCESS);
            std::this_thread::sleep_until(std::min(wake, deadline));
        }
    });
}

USBSIM_EXPORT int libusb_handle_events_timeout(libusb_context* ctx, struct timeval* tv)
{
    return libusb_handle_events_timeout_completed(ctx, tv, nullptr);
}
