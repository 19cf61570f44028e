#include "usbwire_spy.h"

#include <cstring>

#include "usbwire.h"

namespace qbxtest {

namespace {
UsbwireSpy* g_ActiveSpy = nullptr;

UsbwireCall& Record(const char* function, void* handle, std::vector<int64_t> args)
{
    UsbwireCall call;
    call.function = function;
    call.handle = handle;
    call.args = std::move(args);
    g_ActiveSpy->calls.push_back(std::move(call));
    return g_ActiveSpy->calls.back();
}
}  // namespace

std::string UsbwireCall::Text() const
{
    std::string text = function;
    for (int64_t arg : args)
        text += " " + std::to_string(arg);
    return text;
}

UsbwireSpy::UsbwireSpy()
{
    g_ActiveSpy = this;
}

UsbwireSpy::~UsbwireSpy()
{
    if (g_ActiveSpy == this)
        g_ActiveSpy = nullptr;
}

UsbwireSpy* UsbwireSpy::Active()
{
    return g_ActiveSpy;
}

size_t UsbwireSpy::Count(std::string_view function) const
{
    size_t n = 0;
    for (const UsbwireCall& call : calls)
        if (call.function == function)
            ++n;
    return n;
}

std::vector<std::string> UsbwireSpy::Texts() const
{
    std::vector<std::string> texts;
    for (const UsbwireCall& call : calls)
        texts.push_back(call.Text());
    return texts;
}

}  // namespace qbxtest

using qbxtest::g_ActiveSpy;
using qbxtest::Record;
using qbxtest::UsbwireCall;

extern "C" {

void* I2C_Open(const char* description, unsigned int rate)
{
    if (g_ActiveSpy == nullptr)
        return nullptr;
    Record("I2C_Open", nullptr, {rate});
    return g_ActiveSpy->i2cOpen ? g_ActiveSpy->i2cOpen(description, rate) : g_ActiveSpy->I2cHandle();
}

void I2C_Close(void* handle)
{
    if (g_ActiveSpy != nullptr)
        Record("I2C_Close", handle, {});
}

int I2C_Write(void* handle, unsigned char address, const unsigned char* data, unsigned int count, int stop)
{
    if (g_ActiveSpy == nullptr)
        return -1;
    UsbwireCall& call = Record("I2C_Write", handle, {address, count, stop});
    if (data != nullptr)
        call.data.assign(data, data + count);
    return g_ActiveSpy->i2cWrite ? g_ActiveSpy->i2cWrite(address, data, count, stop) : 0;
}

int I2C_Read(void* handle, unsigned char address, unsigned char* buffer, unsigned int count, int stop)
{
    if (g_ActiveSpy == nullptr)
        return -1;
    Record("I2C_Read", handle, {address, count, stop});
    if (g_ActiveSpy->i2cRead)
        return g_ActiveSpy->i2cRead(address, buffer, count, stop);
    std::memset(buffer, 0, count);
    return 0;
}

void I2C_ForceLastAcknH(void* handle)
{
    if (g_ActiveSpy != nullptr)
        Record("I2C_ForceLastAcknH", handle, {});
}

void I2C_GPIODirection(void* handle, int pin, unsigned char direction)
{
    if (g_ActiveSpy != nullptr)
        Record("I2C_GPIODirection", handle, {pin, direction});
}

int I2C_GPIOWrite(void* handle, int pin, unsigned char level)
{
    if (g_ActiveSpy == nullptr)
        return -1;
    Record("I2C_GPIOWrite", handle, {pin, level});
    return 1;
}

void* JTAG_Open(const char* description)
{
    if (g_ActiveSpy == nullptr)
        return nullptr;
    Record("JTAG_Open", nullptr, {});
    return g_ActiveSpy->jtagOpen ? g_ActiveSpy->jtagOpen(description) : g_ActiveSpy->JtagHandle();
}

void JTAG_Close(void* handle)
{
    if (g_ActiveSpy != nullptr)
        Record("JTAG_Close", handle, {});
}

int JTAG_Tms(void* handle, unsigned char pattern, unsigned char count)
{
    if (g_ActiveSpy == nullptr)
        return 0;
    Record("JTAG_Tms", handle, {pattern, count});
    return 1;
}

int JTAG_Addr(void* handle, unsigned char address)
{
    if (g_ActiveSpy == nullptr)
        return 0;
    Record("JTAG_Addr", handle, {address});
    return 1;
}

int JTAG_Out(void* handle, int mode, unsigned int count, const unsigned char* source, unsigned char* destination,
             int exit)
{
    if (g_ActiveSpy == nullptr)
        return 0;
    UsbwireCall& call = Record("JTAG_Out", handle, {mode, count, exit});
    const unsigned bytes = count == 0 ? 0 : (count - 1) / 8 + 1;
    call.nullSource = source == nullptr;
    call.nullDestination = destination == nullptr;
    if (source != nullptr)
        call.data.assign(source, source + bytes);
    if (g_ActiveSpy->jtagOut)
        return g_ActiveSpy->jtagOut(mode, count, source, destination, exit);
    if (destination != nullptr)
        std::memset(destination, 0, bytes);
    return 1;
}

int JTAG_ShiftIn(void* handle, unsigned char start, unsigned int count, const unsigned char* source, int exit)
{
    if (g_ActiveSpy == nullptr)
        return 0;
    UsbwireCall& call = Record("JTAG_ShiftIn", handle, {start, count, exit});
    call.nullSource = source == nullptr;
    return 1;
}

int JTAG_ShiftInOut(void* handle, unsigned int count, const unsigned char* source, unsigned char* destination)
{
    if (g_ActiveSpy == nullptr)
        return 0;
    Record("JTAG_ShiftInOut", handle, {count});
    if (destination != nullptr && count != 0)
        std::memset(destination, 0, (count - 1) / 8 + 1);
    (void)source;
    return 1;
}

int JTAG_ShiftInOut_ex(void* handle, unsigned int count, const unsigned char* source, unsigned char* destination,
                       int lastTms)
{
    if (g_ActiveSpy == nullptr)
        return 0;
    Record("JTAG_ShiftInOut_ex", handle, {count, lastTms});
    if (destination != nullptr && count != 0)
        std::memset(destination, 0, (count - 1) / 8 + 1);
    (void)source;
    return 1;
}

}  // extern "C"
