#include "onewire_master.h"

#include "platform.h"
#include "usbwire.h"

int COneWireMaster::Write(const uint8_t* data, unsigned count, bool stop)
{
    void* handle = m_I2C;
    if (handle == nullptr)
        return ONEWIRE_NO_HANDLE;
    return I2C_Write(handle, BridgeAddress(), data, count, stop ? 1 : 0);
}

int COneWireMaster::Read(uint8_t* buffer, unsigned count, bool stop)
{
    void* handle = m_I2C;
    if (handle == nullptr)
        return ONEWIRE_NO_HANDLE;
    return I2C_Read(handle, BridgeAddress(), buffer, count, stop ? 1 : 0);
}

int COneWireMaster::WaitIdle(uint8_t& status, bool finish)
{
    for (int reads = 1;; ++reads) {
        int rc = Read(&status, 1, false);
        if (rc != ONEWIRE_OK)
            return rc;
        platform::SleepMs(1);
        if (reads >= kMaxStatusReads)
            return ONEWIRE_BUSY;
        if ((status & DS2482_STATUS_BUSY) == 0)
            break;
    }
    if (finish)
        return Read(&status, 1, true);
    return ONEWIRE_OK;
}

int COneWireMaster::Reset()
{
    const uint8_t command = DS2482_CMD_RESET;
    int rc = Write(&command, 1, false);
    if (rc != ONEWIRE_OK)
        return rc;
    uint8_t status = 0;
    rc = WaitIdle(status, true);
    if (rc != ONEWIRE_OK)
        return rc;
    return (status & DS2482_STATUS_PRESENCE) ? ONEWIRE_OK : ONEWIRE_NO_PRESENCE;
}

int COneWireMaster::WriteByte(uint8_t byte)
{
    const uint8_t command[2] = {DS2482_CMD_WRITE_BYTE, byte};
    int rc = Write(command, 2, false);
    if (rc != ONEWIRE_OK)
        return rc;
    uint8_t status = 0;
    return WaitIdle(status, true);
}

int COneWireMaster::ReadByte(uint8_t& byte)
{
    const uint8_t command = DS2482_CMD_READ_BYTE;
    int rc = Write(&command, 1, false);
    if (rc != ONEWIRE_OK)
        return rc;
    uint8_t status = 0;
    rc = WaitIdle(status, false);
    if (rc != ONEWIRE_OK)
        return rc;
    // End the status read with a not-acknowledged byte, keeping the bus for the repeated START.
    void* handle = m_I2C;
    if (handle == nullptr)
        return ONEWIRE_NO_HANDLE;
    I2C_ForceLastAcknH(handle);
    rc = Read(&status, 1, false);
    if (rc != ONEWIRE_OK)
        return rc;
    const uint8_t pointer[2] = {DS2482_CMD_SET_POINTER, DS2482_PTR_READ_DATA};
    rc = Write(pointer, 2, false);
    if (rc != ONEWIRE_OK)
        return rc;
    uint8_t data = 0;
    rc = Read(&data, 1, true);
    if (rc != ONEWIRE_OK)
        return rc;
    byte = data;
    return ONEWIRE_OK;
}

int COneWireMaster::Triplet(bool direction, uint8_t& status)
{
    const uint8_t command[2] = {DS2482_CMD_TRIPLET, static_cast<uint8_t>(direction ? 0x80 : 0x00)};
    int rc = Write(command, 2, false);
    if (rc != ONEWIRE_OK)
        return rc;
    return WaitIdle(status, true);
}

int COneWireMaster::ReadConfig(uint8_t& config)
{
    const uint8_t pointer[2] = {DS2482_CMD_SET_POINTER, DS2482_PTR_CONFIG};
    int rc = Write(pointer, 2, true);
    if (rc != ONEWIRE_OK)
        return rc;
    return Read(&config, 1, true);
}

int COneWireMaster::WriteConfig(uint8_t config)
{
    const uint8_t low = config & 0x0F;
    const uint8_t command[2] = {DS2482_CMD_WRITE_CONFIG, static_cast<uint8_t>((~config << 4) | low)};
    int rc = Write(command, 2, false);
    if (rc != ONEWIRE_OK)
        return rc;
    uint8_t readBack = 0;
    rc = Read(&readBack, 1, true);
    if (rc != ONEWIRE_OK)
        return rc;
    return readBack == low ? ONEWIRE_OK : ONEWIRE_NO_PRESENCE;
}

int COneWireMaster::MatchRom(const _ROMID& rom)
{
    int rc = Reset();
    if (rc != ONEWIRE_OK)
        return rc;
    rc = WriteByte(ONEWIRE_MATCH_ROM);
    if (rc != ONEWIRE_OK)
        return rc;
    for (uint8_t byte : rom.bytes) {
        rc = WriteByte(byte);
        if (rc != ONEWIRE_OK)
            return rc;
    }
    return ONEWIRE_OK;
}

int COneWireMaster::SearchPass(bool first, _ROMID& rom)
{
    if (first)
        m_Search.Start();
    int rc = Reset();
    if (rc != ONEWIRE_OK)
        return rc;
    rc = WriteByte(ONEWIRE_SEARCH_ROM);
    if (rc != ONEWIRE_OK)
        return rc;

    uint64_t taken = 0;
    uint64_t conflicts = 0;
    for (int i = 0; i < 64; ++i) {
        uint8_t status = 0;
        rc = Triplet(m_Search.Direction(i), status);
        if (rc != ONEWIRE_OK)
            return rc;
        const uint64_t bit = uint64_t{1} << i;
        if (status & DS2482_STATUS_DIR)
            taken |= bit;
        // Both read slots alike: the devices disagree (0 0) or nobody answered (1 1).
        if (((status & DS2482_STATUS_SBR) != 0) == ((status & DS2482_STATUS_TSB) != 0))
            conflicts |= bit;
    }
    const bool more = m_Search.Finish(taken, conflicts);
    rom = _ROMID::FromValue(taken);
    return more ? SEARCH_MORE : SEARCH_LAST;
}

int COneWireMaster::EnumerateBus()
{
    m_Devices.clear();
    bool first = true;
    for (int pass = 0; pass < kMaxSearchPasses; ++pass) {
        _ROMID rom;
        int rc = SearchPass(first, rom);
        first = false;
        if (rc != SEARCH_MORE && rc != SEARCH_LAST)
            break;
        if (!rom.CrcValid())
            break;
        m_Devices.push_back(rom);
        if (rc == SEARCH_LAST)
            break;
    }
    return static_cast<int>(m_Devices.size());
}

int COneWireMaster::FindFamily(uint8_t family, std::vector<_ROMID>& ids, int room)
{
    ids.clear();
    if (m_Devices.empty())
        EnumerateBus();
    for (const _ROMID& rom : m_Devices) {
        if (static_cast<int>(ids.size()) >= room)
            break;
        if (rom.Family() == family)
            ids.push_back(rom);
    }
    return static_cast<int>(ids.size());
}
