// The fifteen exported functions. A handle is the address of a CUsbI2C or CUsbJtag made by the
// open function and destroyed by the matching close. Nothing may escape as an exception into the
// C caller: a failed allocation becomes the function's failure result.
#include "usbwire.h"

#include "usb_i2c.h"
#include "usb_jtag.h"

#include <memory>

#ifdef _WIN32
#define USBWIRE_EXPORT  // usbwire.def names the exports of usbwire.dll
#else
#define USBWIRE_EXPORT __attribute__((visibility("default")))
#endif

using usbwire::CUsbI2C;
using usbwire::CUsbJtag;

namespace {

// A new master opened with these arguments, or null (the destructor closes what was opened).
template <typename Master, typename... Arguments>
void* OpenMaster(Arguments... arguments)
{
    try {
        auto master = std::make_unique<Master>();
        if (!master->Open(arguments...))
            return nullptr;
        return master.release();
    } catch (...) {
        return nullptr;
    }
}

// The master's virtual Close, then its destruction; a null handle is ignored.
template <typename Master>
void CloseMaster(void* handle)
{
    if (handle == nullptr)
        return;
    std::unique_ptr<Master> master(static_cast<Master*>(handle));
    master->Close();
}

// call(master) for a handle: onNull for a null handle, onException when the call throws.
template <typename Master, typename Call>
int CallMaster(void* handle, int onNull, int onException, Call call)
{
    if (handle == nullptr)
        return onNull;
    try {
        return call(*static_cast<Master*>(handle));
    } catch (...) {
        return onException;
    }
}

// The JTAG operations give 1 or 0; a null handle gives 0 instead of a crash.
template <typename Call>
int CallJtag(void* handle, Call call)
{
    return CallMaster<CUsbJtag>(handle, 0, 0, [&](CUsbJtag& master) { return call(master) ? 1 : 0; });
}

}  // namespace

extern "C" {

USBWIRE_EXPORT void* I2C_Open(const char* description, unsigned int rate)
{
    return OpenMaster<CUsbI2C>(description, static_cast<uint32_t>(rate));
}

USBWIRE_EXPORT void I2C_Close(void* handle) { CloseMaster<CUsbI2C>(handle); }

USBWIRE_EXPORT int I2C_Write(void* handle, unsigned char address, const unsigned char* data, unsigned int count,
                             int stop)
{
    return CallMaster<CUsbI2C>(handle, CUsbI2C::kUsbFailure, CUsbI2C::kUsbFailure,
                               [&](CUsbI2C& master) { return master.Write(address, data, count, stop != 0); });
}

USBWIRE_EXPORT int I2C_Read(void* handle, unsigned char address, unsigned char* buffer, unsigned int count, int stop)
{
    return CallMaster<CUsbI2C>(handle, CUsbI2C::kUsbFailure, CUsbI2C::kUsbFailure,
                               [&](CUsbI2C& master) { return master.Read(address, buffer, count, stop != 0); });
}

USBWIRE_EXPORT void I2C_ForceLastAcknH(void* handle)
{
    if (handle != nullptr)
        static_cast<CUsbI2C*>(handle)->ForceLastNack();
}

USBWIRE_EXPORT void I2C_GPIODirection(void* handle, int pin, unsigned char direction)
{
    if (handle != nullptr)
        static_cast<CUsbI2C*>(handle)->SetGpioDirection(pin, direction);
}

USBWIRE_EXPORT int I2C_GPIOWrite(void* handle, int pin, unsigned char level)
{
    return CallMaster<CUsbI2C>(handle, -1, 0, [&](CUsbI2C& master) { return master.WriteGpio(pin, level) ? 1 : 0; });
}

USBWIRE_EXPORT void* JTAG_Open(const char* description) { return OpenMaster<CUsbJtag>(description); }

USBWIRE_EXPORT void JTAG_Close(void* handle) { CloseMaster<CUsbJtag>(handle); }

USBWIRE_EXPORT int JTAG_Tms(void* handle, unsigned char pattern, unsigned char count)
{
    return CallJtag(handle, [&](CUsbJtag& master) { return master.ClockTms(pattern, count); });
}

USBWIRE_EXPORT int JTAG_Addr(void* handle, unsigned char address)
{
    return CallJtag(handle, [&](CUsbJtag& master) { return master.SetAddress(address); });
}

USBWIRE_EXPORT int JTAG_Out(void* handle, int mode, unsigned int count, const unsigned char* source,
                            unsigned char* destination, int exit)
{
    const auto layout = mode == JTAG_OUT_BIG_ENDIAN ? CUsbJtag::Layout::kBigEndian : CUsbJtag::Layout::kLsbFirst;
    return CallJtag(handle,
                    [&](CUsbJtag& master) { return master.Shift(layout, count, source, destination, exit != 0); });
}

USBWIRE_EXPORT int JTAG_ShiftIn(void* handle, unsigned char start, unsigned int count, const unsigned char* source,
                                int exit)
{
    return CallJtag(handle, [&](CUsbJtag& master) { return master.ShiftOut(start, count, source, exit != 0); });
}

USBWIRE_EXPORT int JTAG_ShiftInOut(void* handle, unsigned int count, const unsigned char* source,
                                   unsigned char* destination)
{
    return CallJtag(handle, [&](CUsbJtag& master) { return master.ShiftInOut(count, source, destination, true); });
}

USBWIRE_EXPORT int JTAG_ShiftInOut_ex(void* handle, unsigned int count, const unsigned char* source,
                                      unsigned char* destination, int lastTms)
{
    return CallJtag(handle,
                    [&](CUsbJtag& master) { return master.ShiftInOut(count, source, destination, lastTms != 0); });
}

}  // extern "C"
