// The seam between the D2XX driver logic (CFtdiDriver) and libftdi1: what the driver needs of the
// USB side, small enough that tests replace it with a fake. libftdi_seam.cpp implements it on
// libftdi1; nothing else in the driver touches libftdi or libusb.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace d2xxftdi {

// Why a chip could not be asked for its strings, or a channel could not be opened.
enum class UsbProblem {
    None,
    NoPermission,  // the device node is not accessible to this user (no udev rule)
    InUse,         // another program (or a kernel driver that would not let go) holds the interface
    Other,
};

// One FTDI chip on the USB bus.
struct UsbDevice {
    uint8_t bus = 0;
    uint8_t address = 0;
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t release = 0;     // bcdDevice: tells the chip (0x0700 FT2232H, 0x0800 FT4232H, ...)
    bool highSpeed = false;   // attached at USB high speed
    bool stringsRead = false; // false: busy in another program or no permission to open it
    std::string description;  // USB product string
    std::string serial;       // USB serial number string ("" when the chip has none)
    UsbProblem problem = UsbProblem::None;  // why the strings could not be read
};

// One opened channel (interface) of a chip. Results follow libftdi: < 0 is an error.
class IFtdiChannel {
public:
    virtual ~IFtdiChannel() = default;
    // SIO reset: purges the chip's buffers.
    virtual int Reset() = 0;
    // Reads what the chip has sent, at most size bytes; 0 when nothing came.
    virtual int Read(uint8_t* buffer, int size) = 0;
    // Writes the bytes; returns how many were written.
    virtual int Write(const uint8_t* buffer, int size) = 0;
    virtual int SetReadChunkSize(unsigned size) = 0;
    virtual int SetWriteChunkSize(unsigned size) = 0;
    virtual int SetEventChar(uint8_t character, bool enable) = 0;
    virtual int SetErrorChar(uint8_t character, bool enable) = 0;
    // Time limits of single USB transfers, in ms.
    virtual void SetUsbTimeouts(int readMs, int writeMs) = 0;
    virtual int SetLatencyTimer(uint8_t ms) = 0;
    virtual int SetBitMode(uint8_t mask, uint8_t mode) = 0;
};

class IFtdiBus {
public:
    virtual ~IFtdiBus() = default;
    // The FTDI chips present; < 0 when the USB side cannot be asked.
    virtual int List(std::vector<UsbDevice>& devices) = 0;
    // Opens channel (0 = A, 1 = B, ...) of a listed chip, detaching the kernel's serial driver from
    // that interface; null on failure.
    virtual std::unique_ptr<IFtdiChannel> Open(const UsbDevice& device, int channel) = 0;
    // Why the last Open returned null.
    virtual UsbProblem LastOpenProblem() const { return UsbProblem::Other; }
};

// The seam on libftdi1 (libftdi_seam.cpp).
std::unique_ptr<IFtdiBus> MakeLibftdiBus();

}  // namespace d2xxftdi
