// The simulated FT2232H Mini Module as the USB bus sees it: its descriptors, the vendor requests
// of FTDI's serial engine, the two interfaces with their bulk endpoints, and the ways the bus can
// refuse it to a program (no permission, an interface held by another program or by the kernel's
// serial driver, the adapter unplugged). Below it the simulated chip and board (CSimChip) answer
// the MPSSE bytes. The caller serialises every call (one lock for the whole bus).
#pragma once

#include <libusb.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim_chip.h"

namespace usbsim {

using Clock = std::chrono::steady_clock;

inline constexpr uint16_t kFtdiVendor = 0x0403;
inline constexpr uint16_t kFt2232hProduct = 0x6010;
inline constexpr uint16_t kFt2232hRelease = 0x0700;
inline constexpr int kInterfaces = 2;
inline constexpr int kPacketSize = 512;                // high-speed bulk packets
inline constexpr int kStatusBytes = 2;                 // modem and line status at the head of each IN packet
inline constexpr int kPayloadSize = kPacketSize - kStatusBytes;
inline constexpr uint8_t kDefaultLatencyMs = 16;

// Bulk endpoints of interface A (0) and B (1): IN 0x81 / 0x83, OUT 0x02 / 0x04.
inline constexpr uint8_t InEndpoint(int interface) { return static_cast<uint8_t>(0x81 + 2 * interface); }
inline constexpr uint8_t OutEndpoint(int interface) { return static_cast<uint8_t>(0x02 + 2 * interface); }

// One bulk IN transfer under way: the caller's buffer, the packets put into it so far (status
// bytes included, as on the bus), and their data bytes alone.
struct InTransfer {
    uint8_t* buffer = nullptr;
    int length = 0;
    int done = 0;
    bool waited = false;         // the latency timer held it back at least once
    std::vector<uint8_t> data;   // the data bytes, without status bytes
};

class CUsbFt2232h {
public:
    // serial: the chip's serial number string, none when absent.
    CUsbFt2232h(std::unique_ptr<qbxsim::CSimChip> chip, const qbxsim::_SIMUSBCONFIG& usb,
                std::optional<std::string> serial, uint8_t address);

    uint8_t Address() const { return m_Address; }
    bool Gone() const { return m_Gone; }
    bool OpenDenied() const { return m_PermissionDenied; }

    libusb_device_descriptor DeviceDescriptor() const;
    // A raw string descriptor (0: the language list), or LIBUSB_ERROR_PIPE (the device stalls)
    // for an index it does not have.
    int StringDescriptor(uint8_t index, std::vector<uint8_t>& out) const;

    // Interface claims as the kernel arbitrates them; owner tells the programs' handles apart.
    int Claim(int interface, const void* owner, bool autoDetach);
    int Release(int interface, const void* owner);
    int DetachKernelDriver(int interface);

    // A control transfer: the standard GET_DESCRIPTOR and FTDI's vendor requests (interface in the
    // low byte of wIndex: 1 = A, 2 = B). Returns the bytes moved in the data stage or an error.
    int Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                uint16_t length);
    // A bulk OUT: MPSSE bytes for the interface's engine. The write after fail_after_writes
    // unplugs the adapter: LIBUSB_ERROR_NO_DEVICE then and for everything after.
    int BulkOut(int interface, const uint8_t* data, int length, const void* owner);

    // Moves packets into a bulk IN transfer as the chip sends them: full packets whenever it holds
    // 510 bytes; a short packet, which ends the transfer, with the bytes a send-immediate command
    // released, or else whatever it holds (possibly nothing but the status bytes) once the latency
    // timer runs out. True when the transfer is complete (or failed: *error); false while it
    // waits, with the time the timer runs out in *wake.
    bool BulkIn(int interface, InTransfer& transfer, const void* owner, Clock::time_point now,
                Clock::time_point* wake, int* error);
    // The end of a bulk IN transfer: counted and traced.
    void Finish(int interface, const InTransfer& transfer);

    // Writes the counters to QBXSIM_STATS when no interface is claimed any more.
    void WriteStatsIfIdle();

private:
    struct Interface {
        std::vector<uint8_t> toHost;  // reply bytes not yet sent, from head on
        size_t head = 0;
        size_t releasedEnd = 0;       // bytes before this index go out at once (send immediate)
        Clock::time_point lastPacket{};
        uint8_t latencyMs = kDefaultLatencyMs;
        uint16_t modemControl = 0, flowControl = 0, baudValue = 0, baudIndex = 0, dataFormat = 0;
        uint16_t eventChar = 0, errorChar = 0;
        const void* claimedBy = nullptr;
        bool claimedElsewhere = false;  // by another program
        bool kernelDriver = false;      // the kernel's serial driver is bound to it
        uint64_t bulkOut = 0, bulkIn = 0, control = 0, latencyWaits = 0;
    };

    int Vendor(Interface& i, int interface, uint8_t request, uint16_t value, uint8_t* data, uint16_t length);
    int CheckEndpoint(int interface, const void* owner) const;
    void SendPacket(Interface& i, InTransfer& t, size_t count, Clock::time_point now);
    static void DropToHost(Interface& i);

    std::unique_ptr<qbxsim::CSimChip> m_Chip;
    std::optional<std::string> m_Serial;
    uint8_t m_Address;
    bool m_PermissionDenied;
    bool m_Gone = false;
    bool m_EverClaimed = false;
    Interface m_Interfaces[kInterfaces];
    std::vector<uint16_t> m_Eeprom;
    std::vector<uint8_t> m_TraceLine;
};

}  // namespace usbsim
