// The stand-in for the fifteen usbwire functions, for tests and benchmarks of the scan and
// instrument layers without an adapter. Link qbx_usbwire_spy instead of the usbwire library and
// create one UsbwireSpy: every call is then answered through its hooks (by default at once:
// writes succeed, reads and destinations give zeros) and, unless it is quiet, recorded into it, for
// unit tests of what reaches the adapter (the exact call sequences the protocols fix, and the
// paths that must not touch it at all). A quiet spy records nothing, for the benchmarks of the
// layers' own CPU time. Without a spy the functions fail (opens give null, transfers -1 or 0).
//
// The one global here, the active spy, is a test seam: the C functions have no other way to find
// the object.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qbxtest {

class UsbwireSpy {
public:
    enum Mode { kRecord, kQuiet };
    explicit UsbwireSpy(Mode mode = kRecord);
    ~UsbwireSpy();
    UsbwireSpy(const UsbwireSpy&) = delete;
    UsbwireSpy& operator=(const UsbwireSpy&) = delete;

    // What the opens return; the calls record only this handle, nothing else.
    void* Handle() { return &m_Handle; }

    // Hooks; by default writes succeed, and reads and JTAG_Out destinations give zeros.
    std::function<int(const uint8_t* data, unsigned count)> i2cWrite;
    std::function<int(uint8_t* buffer, unsigned count)> i2cRead;
    std::function<int(unsigned count, const uint8_t* source, uint8_t* destination)> jtagOut;

    // Every call: the function, its numeric arguments in decimal and the bytes handed over in
    // hexadecimal ("I2C_Write 48 1 0 : B4", "JTAG_Out 0 8 1 : FF", "JTAG_Tms 6 5"); "?" after the
    // function when it was given another handle than Handle().
    std::vector<std::string> calls;

    bool Recording() const { return m_Mode == kRecord; }

private:
    Mode m_Mode;
    unsigned char m_Handle = 0;
};

}  // namespace qbxtest
