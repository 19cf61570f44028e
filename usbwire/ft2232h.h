// CFT2232h: one opened channel of an FTDI FT2232H/FT4232H, that is one MPSSE engine. Finds the
// channel by its description, opens it through the D2XX driver, brings the engine into a known
// state and keeps the queue of MPSSE command bytes with the list of reply bytes they will bring.
// The bus masters (CUsbI2C, CUsbJtag) build their cycles on it.
#pragma once

#include "d2xx.h"
#include "d2xx_driver.h"
#include "mpsse_commands.h"

#include <cstdint>
#include <span>
#include <vector>

namespace usbwire {

// One expected reply byte of the MPSSE engine.
struct _RDINFO {
    int32_t kind;  // always 0: the byte carries `bits` received bits
    uint8_t bits;  // 1 to 8
};

// The library's own status codes, kept in m_Status beside the D2XX ones.
inline constexpr uint32_t kStatusTimeout = 20;     // reply missing or incomplete in time
inline constexpr uint32_t kStatusClockRange = 22;  // the clock rate needs an impossible divisor

class CFT2232h {
public:
    // Limits of the transfers.
    static constexpr uint32_t kWriteChunk = 4096;        // bytes per FT_Write
    static constexpr uint32_t kMaxStalledWrites = 100;   // writes in a row that accept nothing
    static constexpr uint32_t kWaitForDataMs = 100;
    static constexpr uint32_t kReadTimeoutMs = 5000;     // ReadExact and each half of Synchronize

    CFT2232h() = default;
    virtual ~CFT2232h();
    CFT2232h(const CFT2232h&) = delete;
    CFT2232h& operator=(const CFT2232h&) = delete;

    // Rebuilds m_DeviceList with the FT2232H/FT4232H records of the driver; returns their number.
    int Enumerate();
    // Enumerates and opens the first record whose description equals this one, ignoring case.
    bool OpenByDescription(const char* description);
    // Empties the device list and closes the device if it is open.
    virtual void Close();
    // Resets the device and throws away the bytes waiting in its receive buffer.
    bool ResetAndDrain();
    void ClearQueues()
    {
        m_Command.clear();
        m_PendingReads.clear();
    }
    void AppendCommand(uint8_t byte, bool clearFirst = false)
    {
        if (clearFirst)
            ClearQueues();
        m_Command.push_back(byte);
    }
    void AddPendingRead(uint8_t bits) { m_PendingReads.push_back(_RDINFO{0, bits}); }
    // Writes the command queue (in chunks of at most kWriteChunk) and empties it.
    bool Flush();
    // Waits up to kWaitForDataMs for at least one received byte; status 20 when none came.
    bool WaitForData();
    // Reads what has arrived, at most maximum bytes; count tells how many.
    bool ReadAvailable(uint8_t* buffer, uint32_t maximum, uint32_t& count);
    // Reads exactly length bytes within kReadTimeoutMs; status 20 when they did not all come.
    bool ReadExact(uint8_t* buffer, uint32_t length);
    // The bad-command handshake: sends opcodes the engine does not know until it echoes one back
    // (kBadCommand and the opcode), then one more, so that no earlier byte is taken for a reply.
    bool Synchronize();
    bool SendOpcode(uint8_t opcode);
    bool SetClockDivisor(uint16_t divisor);
    // The channel set-up; pinSetup is the master's pin write (the low and the high byte).
    bool Setup(std::span<const uint8_t> pinSetup, uint16_t divisor);

    uint32_t Status() const { return m_Status; }
    FT_HANDLE Handle() const { return m_Handle; }
    const std::vector<FT_DEVICE_LIST_INFO_NODE>& DeviceList() const { return m_DeviceList; }
    const std::vector<uint8_t>& Command() const { return m_Command; }
    const std::vector<_RDINFO>& PendingReads() const { return m_PendingReads; }

protected:
    // What the base Close does, callable from destructors without virtual dispatch.
    void CloseDevice();
    // False (with status FT_INVALID_HANDLE) when no device is open: nothing is sent then.
    bool IsOpen();

    std::vector<FT_DEVICE_LIST_INFO_NODE> m_DeviceList;
    uint32_t m_Status = FT_OK;
    FT_HANDLE m_Handle = nullptr;
    std::vector<uint8_t> m_Command;
    std::vector<_RDINFO> m_PendingReads;

private:
    bool UseDriver();
    // Scans bytes for kBadCommand immediately followed by echo; lastWasFa carries over between reads.
    static bool ScanForEcho(const uint8_t* bytes, uint32_t count, uint8_t echo, bool& lastWasFa);
    // Synchronize's read: takes every byte waiting and scans it for the echo. The answer may come
    // split over several reads, and bytes left from before the handshake may precede it.
    bool ReadAndScan(uint8_t echo, bool& lastWasFa, bool& found);

    // The driver's functions, copied from the loaded table at the first use.
    D2xxDriver m_Driver;
    bool m_HaveDriver = false;
};

}  // namespace usbwire
