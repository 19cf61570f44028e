// The fifteen usbwire functions without an adapter, for tests and benchmarks of the scan and
// instrument layers: link qbx_usbwire_spy instead of usbwire and create one UsbwireSpy, which answers
// every call through its hooks and records it (unless quiet). Without a spy the functions fail.
// The active spy is the one global: the C functions have no other way to find the object.
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

    void* Handle() { return &m_Handle; }  // what the opens return

    // Hooks; by default writes succeed, and reads and JTAG_Out destinations give zeros.
    std::function<int(const uint8_t* data, unsigned count)> i2cWrite;
    std::function<int(uint8_t* buffer, unsigned count)> i2cRead;
    std::function<int(unsigned count, const uint8_t* source, uint8_t* destination)> jtagOut;

    // Every call with its numbers and bytes: "I2C_Write 48 1 0 : B4", "JTAG_Tms 6 5"; "?" after the
    // function when it was given another handle than Handle().
    std::vector<std::string> calls;

    bool Recording() const { return m_Mode == kRecord; }

private:
    Mode m_Mode;
    unsigned char m_Handle = 0;
};

}  // namespace qbxtest
