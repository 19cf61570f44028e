// The board's 1-Wire bus, reached through a DS2482 I2C-to-1-Wire bridge on the adapter's I2C
// channel: reset, byte write and read, ROM search and selection, and the list of devices found.
#pragma once

#include <cstdint>
#include <vector>

#include "rom_search.h"
#include "romid.h"

// Result codes of the instrument operations (0 = success). The adapter's own I2C results (-1, 1,
// 2) pass through unchanged.
enum : int {
    ONEWIRE_OK = 0,
    ONEWIRE_NO_HANDLE = -1,    // no I2C handle, a USB failure, or a device slot without a master
    ONEWIRE_NACK = 1,          // the bridge did not acknowledge
    ONEWIRE_READBACK = 2,      // a byte read back from the I2C bus differs from the one sent
    ONEWIRE_NO_PRESENCE = 17,  // no presence pulse, or the configuration read back differs
    ONEWIRE_CRC_ERROR = 18,    // CRC mismatch in a device transfer
    ONEWIRE_BUSY = 19,         // the bridge stayed busy
};

// Results of one search pass besides the error codes.
enum : int {
    SEARCH_MORE = 0,  // a device was found and more remain
    SEARCH_LAST = 3,  // a device was found and it was the last one
};

// Bridge commands, status bits and configuration bits (DS2482 command set).
enum : uint8_t {
    DS2482_CMD_RESET = 0xB4,
    DS2482_CMD_WRITE_BYTE = 0xA5,
    DS2482_CMD_READ_BYTE = 0x96,
    DS2482_CMD_TRIPLET = 0x78,
    DS2482_CMD_WRITE_CONFIG = 0xD2,
    DS2482_CMD_SET_POINTER = 0xE1,
    DS2482_PTR_CONFIG = 0xC3,
    DS2482_PTR_READ_DATA = 0xE1,
    DS2482_STATUS_BUSY = 0x01,
    DS2482_STATUS_PRESENCE = 0x02,
    DS2482_STATUS_SBR = 0x20,
    DS2482_STATUS_TSB = 0x40,
    DS2482_STATUS_DIR = 0x80,
    DS2482_CONFIG_SPU = 0x04,
};

// 1-Wire ROM commands.
enum : uint8_t {
    ONEWIRE_MATCH_ROM = 0x55,
    ONEWIRE_SKIP_ROM = 0xCC,
    ONEWIRE_SEARCH_ROM = 0xF0,
};

class COneWireMaster {
public:
    // Status reads of one busy wait: an idle status must come within the first 39.
    static constexpr int kMaxStatusReads = 40;
    // Search passes of one enumeration. A sound bus of that many devices does not exist; the bound
    // keeps a bus that answers inconsistently from keeping the station searching for ever.
    static constexpr int kMaxSearchPasses = 256;

    // i2c is the caller's handle variable, read afresh at every transfer; address is the bridge's
    // AD2..AD0 (the station uses 0).
    explicit COneWireMaster(void*& i2c, uint8_t address = 0) : m_I2C(i2c), m_Address(address) {}
    COneWireMaster(const COneWireMaster&) = delete;
    COneWireMaster& operator=(const COneWireMaster&) = delete;

    // The bridge's 8-bit I2C address byte: (0x18 | AD) << 1, 0x30 for address 0.
    uint8_t BridgeAddress() const { return static_cast<uint8_t>((0x18 | (m_Address & 7)) << 1); }

    // Polls the status until the bridge is idle (1 ms between reads). With finish, reads the status
    // once more and ends the I2C transfer; without, the read stays open.
    int WaitIdle(uint8_t& status, bool finish);
    // 1-Wire reset; 17 when no device answered with a presence pulse.
    int Reset();
    int WriteByte(uint8_t byte);
    int ReadByte(uint8_t& byte);
    // One ROM-search step with the given direction; status gets the bridge's status byte.
    int Triplet(bool direction, uint8_t& status);
    int ReadConfig(uint8_t& config);
    // Writes the low four bits of config; 17 when the configuration read back differs.
    int WriteConfig(uint8_t config);
    // Reset, then select one device.
    int MatchRom(const _ROMID& rom);
    // One pass of the ROM search: SEARCH_MORE, SEARCH_LAST or an error code (rom then unchanged).
    int SearchPass(bool first, _ROMID& rom);
    // Searches the whole bus into m_Devices; returns the number of devices.
    int EnumerateBus();
    // Copies, in search order, up to room identities of the given family into ids (which is
    // replaced); searches the bus first when the list is empty. Returns the number copied.
    int FindFamily(uint8_t family, std::vector<_ROMID>& ids, int room);
    // Forgets the devices, so that the next FindFamily searches the bus again.
    void ClearDevices() { m_Devices.clear(); }

    void*& m_I2C;
    uint8_t m_Address;
    std::vector<_ROMID> m_Devices;
    CRomSearch m_Search;

private:
    int Write(const uint8_t* data, unsigned count, bool stop);
    int Read(uint8_t* buffer, unsigned count, bool stop);
};
