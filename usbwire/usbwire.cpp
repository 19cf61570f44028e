// The fifteen exported functions. A handle is the address of a CUsbI2C or CUsbJtag made by the
// open function and destroyed by the matching close. Nothing may escape as an exception into the
// C caller: a failed allocation becomes the function's failure result.
#include "usbwire.h"

#include "usb_i2c.h"
#include "usb_jtag.h"

#include <memory>

#define USBWIRE_EXPORT __attribute__((visibility("default")))

using usbwire::CUsbI2C;
using usbwire::CUsbJtag;

namespace {

CUsbI2C* AsI2C(void* handle) { return static_cast<CUsbI2C*>(handle); }
CUsbJtag* AsJtag(void* handle) { return static_cast<CUsbJtag*>(handle); }

}  // namespace

extern "C" {

USBWIRE_EXPORT void* I2C_Open(const char* description, unsigned int rate)
{
    try {
        auto master = std::make_unique<CUsbI2C>();
        if (!master->Open(description, rate))
            return nullptr;  // the destructor closes the device if it was opened
        return master.release();
    } catch (...) {
        return nullptr;
    }
}

USBWIRE_EXPORT void I2C_Close(void* handle)
{
    if (handle == nullptr)
        return;
    std::unique_ptr<CUsbI2C> master(AsI2C(handle));
    master->Close();
}

USBWIRE_EXPORT int I2C_Write(void* handle, unsigned char address, const unsigned char* data, unsigned int count,
                             int stop)
{
    if (handle == nullptr)
        return CUsbI2C::kUsbFailure;
    try {
        return AsI2C(handle)->Write(address, data, count, stop != 0);
    } catch (...) {
        return CUsbI2C::kUsbFailure;
    }
}

USBWIRE_EXPORT int I2C_Read(void* handle, unsigned char address, unsigned char* buffer, unsigned int count, int stop)
{
    if (handle == nullptr)
        return CUsbI2C::kUsbFailure;
    try {
        return AsI2C(handle)->Read(address, buffer, count, stop != 0);
    } catch (...) {
        return CUsbI2C::kUsbFailure;
    }
}

USBWIRE_EXPORT void I2C_ForceLastAcknH(void* handle)
{
    if (handle != nullptr)
        AsI2C(handle)->ForceLastNack();
}

USBWIRE_EXPORT void I2C_GPIODirection(void* handle, int pin, unsigned char direction)
{
    if (handle != nullptr)
        AsI2C(handle)->SetGpioDirection(pin, direction);
}

USBWIRE_EXPORT int I2C_GPIOWrite(void* handle, int pin, unsigned char level)
{
    if (handle == nullptr)
        return -1;
    try {
        return AsI2C(handle)->WriteGpio(pin, level) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

USBWIRE_EXPORT void* JTAG_Open(const char* description)
{
    try {
        auto master = std::make_unique<CUsbJtag>();
        if (!master->Open(description))
            return nullptr;  // the destructor releases the pins and closes the device
        return master.release();
    } catch (...) {
        return nullptr;
    }
}

USBWIRE_EXPORT void JTAG_Close(void* handle)
{
    if (handle == nullptr)
        return;
    std::unique_ptr<CUsbJtag> master(AsJtag(handle));
    master->Close();
}

USBWIRE_EXPORT int JTAG_Tms(void* handle, unsigned char pattern, unsigned char count)
{
    if (handle == nullptr)
        return 0;
    try {
        return AsJtag(handle)->ClockTms(pattern, count) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

USBWIRE_EXPORT int JTAG_Addr(void* handle, unsigned char address)
{
    if (handle == nullptr)
        return 0;
    try {
        return AsJtag(handle)->SetAddress(address) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

USBWIRE_EXPORT int JTAG_Out(void* handle, int mode, unsigned int count, const unsigned char* source,
                            unsigned char* destination, int exit)
{
    if (handle == nullptr)
        return 0;
    try {
        return AsJtag(handle)->Shift(mode, count, source, destination, exit != 0) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

USBWIRE_EXPORT int JTAG_ShiftIn(void* handle, unsigned char start, unsigned int count, const unsigned char* source,
                                int exit)
{
    if (handle == nullptr)
        return 0;
    try {
        return AsJtag(handle)->ShiftOut(start, count, source, exit != 0) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

USBWIRE_EXPORT int JTAG_ShiftInOut(void* handle, unsigned int count, const unsigned char* source,
                                   unsigned char* destination)
{
    if (handle == nullptr)
        return 0;
    try {
        return AsJtag(handle)->ShiftInOut(count, source, destination, true) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

USBWIRE_EXPORT int JTAG_ShiftInOut_ex(void* handle, unsigned int count, const unsigned char* source,
                                      unsigned char* destination, int lastTms)
{
    if (handle == nullptr)
        return 0;
    try {
        return AsJtag(handle)->ShiftInOut(count, source, destination, lastTms != 0) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
