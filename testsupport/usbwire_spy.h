// A recording stand-in for the fifteen usbwire functions, for unit tests that check which adapter
// calls a layer makes (and that it makes none without a channel). Link qbx_usbwire_spy instead of
// the usbwire library, and create one UsbwireSpy per test; the functions then record every call
// into it and answer through its hooks. Without a spy every function does nothing and fails
// (opens return null, transfers -1 or 0).
//
// The one global here, the active spy, is a test seam: the C functions have no other way to find
// the object.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qbxtest {

struct UsbwireCall {
    std::string function;       // "JTAG_Out"
    void* handle = nullptr;
    std::vector<int64_t> args;  // the numeric arguments in order (address, mode, count, stop, ...)
    std::vector<uint8_t> data;  // bytes handed to the call (I2C_Write data, JTAG_Out source)
    bool nullSource = false;    // JTAG_Out/JTAG_ShiftIn given no source
    bool nullDestination = false;

    // "JTAG_Tms 6 5": the function and its numeric arguments in decimal.
    std::string Text() const;
};

class UsbwireSpy {
public:
    UsbwireSpy();
    ~UsbwireSpy();
    UsbwireSpy(const UsbwireSpy&) = delete;
    UsbwireSpy& operator=(const UsbwireSpy&) = delete;

    // A distinct non-null handle for each channel kind.
    void* I2cHandle() { return &m_I2cHandle; }
    void* JtagHandle() { return &m_JtagHandle; }

    // Hooks. Defaults: opens succeed with the handles above; writes succeed; reads and JTAG_Out
    // destinations give zeros; JTAG_Tms/Addr return 1; I2C_GPIOWrite returns 1.
    std::function<void*(const char* description, unsigned rate)> i2cOpen;
    std::function<void*(const char* description)> jtagOpen;
    std::function<int(uint8_t address, const uint8_t* data, unsigned count, int stop)> i2cWrite;
    std::function<int(uint8_t address, uint8_t* buffer, unsigned count, int stop)> i2cRead;
    std::function<int(int mode, unsigned count, const uint8_t* source, uint8_t* destination, int exit)> jtagOut;

    std::vector<UsbwireCall> calls;

    // Calls of one function.
    size_t Count(std::string_view function) const;
    // Text() of every call, in order.
    std::vector<std::string> Texts() const;

    static UsbwireSpy* Active();

private:
    unsigned char m_I2cHandle = 0;
    unsigned char m_JtagHandle = 0;
};

}  // namespace qbxtest
