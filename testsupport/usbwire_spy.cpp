#include "usbwire_spy.h"

#include <cstring>
#include <initializer_list>

#include "usbwire.h"

namespace qbxtest {

namespace {
UsbwireSpy* g_ActiveSpy = nullptr;

// Records a call and returns the spy (null without one).
UsbwireSpy* Record(const char* function, void* handle, std::initializer_list<int64_t> args = {},
                   const uint8_t* data = nullptr, unsigned count = 0)
{
    if (g_ActiveSpy == nullptr || !g_ActiveSpy->Recording())
        return g_ActiveSpy;
    std::string text = function;
    if (handle != g_ActiveSpy->Handle())
        text += "?";
    for (int64_t arg : args)
        text += " " + std::to_string(arg);
    for (unsigned i = 0; data != nullptr && i < count; ++i) {
        static const char kHex[] = "0123456789ABCDEF";
        text += i == 0 ? " : " : " ";
        text += {kHex[data[i] >> 4], kHex[data[i] & 15]};
    }
    g_ActiveSpy->calls.push_back(std::move(text));
    return g_ActiveSpy;
}

void* ActiveHandle() { return g_ActiveSpy != nullptr ? g_ActiveSpy->Handle() : nullptr; }
}  // namespace

UsbwireSpy::UsbwireSpy(Mode mode) : m_Mode(mode) { g_ActiveSpy = this; }

UsbwireSpy::~UsbwireSpy()
{
    if (g_ActiveSpy == this)
        g_ActiveSpy = nullptr;
}

}  // namespace qbxtest

using qbxtest::ActiveHandle;
using qbxtest::Record;
using qbxtest::UsbwireSpy;

extern "C" {

void* I2C_Open(const char*, unsigned int rate)
{
    UsbwireSpy* spy = Record("I2C_Open", ActiveHandle(), {rate});
    return spy ? spy->Handle() : nullptr;
}

void I2C_Close(void* handle) { Record("I2C_Close", handle); }

int I2C_Write(void* handle, unsigned char address, const unsigned char* data, unsigned int count, int stop)
{
    UsbwireSpy* spy = Record("I2C_Write", handle, {address, count, stop}, data, count);
    return !spy ? -1 : spy->i2cWrite ? spy->i2cWrite(data, count) : 0;
}

int I2C_Read(void* handle, unsigned char address, unsigned char* buffer, unsigned int count, int stop)
{
    UsbwireSpy* spy = Record("I2C_Read", handle, {address, count, stop});
    if (spy && spy->i2cRead)
        return spy->i2cRead(buffer, count);
    std::memset(buffer, 0, count);
    return spy ? 0 : -1;
}

void I2C_ForceLastAcknH(void* handle) { Record("I2C_ForceLastAcknH", handle); }

void I2C_GPIODirection(void* handle, int pin, unsigned char direction) { Record("I2C_GPIODirection", handle, {pin, direction}); }

int I2C_GPIOWrite(void* handle, int pin, unsigned char level)
{
    return Record("I2C_GPIOWrite", handle, {pin, level}) ? 1 : -1;
}

void* JTAG_Open(const char*)
{
    UsbwireSpy* spy = Record("JTAG_Open", ActiveHandle());
    return spy ? spy->Handle() : nullptr;
}

void JTAG_Close(void* handle) { Record("JTAG_Close", handle); }

int JTAG_Tms(void* handle, unsigned char pattern, unsigned char count)
{
    return Record("JTAG_Tms", handle, {pattern, count}) ? 1 : 0;
}

int JTAG_Addr(void* handle, unsigned char address) { return Record("JTAG_Addr", handle, {address}) ? 1 : 0; }

int JTAG_Out(void* handle, int mode, unsigned int count, const unsigned char* source, unsigned char* destination,
             int exit)
{
    const unsigned bytes = count == 0 ? 0 : (count - 1) / 8 + 1;
    UsbwireSpy* spy = Record("JTAG_Out", handle, {mode, count, exit}, source, bytes);
    if (spy && spy->jtagOut)
        return spy->jtagOut(count, source, destination);
    if (destination != nullptr)
        std::memset(destination, 0, bytes);
    return spy ? 1 : 0;
}

// Not used by the layers under test; they answer like the others.
int JTAG_ShiftIn(void* handle, unsigned char start, unsigned int count, const unsigned char*, int exit)
{
    return Record("JTAG_ShiftIn", handle, {start, count, exit}) ? 1 : 0;
}

int JTAG_ShiftInOut_ex(void* handle, unsigned int count, const unsigned char*, unsigned char* destination, int lastTms)
{
    if (destination != nullptr && count != 0)
        std::memset(destination, 0, (count - 1) / 8 + 1);
    return Record("JTAG_ShiftInOut_ex", handle, {count, lastTms}) ? 1 : 0;
}

int JTAG_ShiftInOut(void* handle, unsigned int count, const unsigned char* source, unsigned char* destination)
{
    return JTAG_ShiftInOut_ex(handle, count, source, destination, 1);
}

}  // extern "C"
