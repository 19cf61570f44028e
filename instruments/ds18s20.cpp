#include "ds18s20.h"

#include "crc.h"

bool CDs18s20::IsValid() const
{
    return m_Master != nullptr && m_Rom.Family() == DS18S20_FAMILY && m_Rom.CrcValid();
}

int CDs18s20::ReadPowerSupply(bool& powered)
{
    if (m_Master == nullptr)
        return ONEWIRE_NO_HANDLE;
    int rc = m_Master->MatchRom(m_Rom);
    if (rc != ONEWIRE_OK)
        return rc;
    rc = m_Master->WriteByte(DS18S20_READ_POWER_SUPPLY);
    if (rc != ONEWIRE_OK)
        return rc;
    uint8_t flag = 0;
    rc = m_Master->ReadByte(flag);
    if (rc != ONEWIRE_OK)
        return rc;
    powered = flag != 0;
    return m_Master->Reset();
}

int CDs18s20::StartConversionAll()
{
    if (m_Master == nullptr)
        return ONEWIRE_NO_HANDLE;
    int rc = m_Master->Reset();
    if (rc != ONEWIRE_OK)
        return rc;
    rc = m_Master->WriteByte(ONEWIRE_SKIP_ROM);
    if (rc != ONEWIRE_OK)
        return rc;
    uint8_t config = 0;
    rc = m_Master->ReadConfig(config);
    if (rc != ONEWIRE_OK)
        return rc;
    rc = m_Master->WriteConfig(static_cast<uint8_t>(config | DS2482_CONFIG_SPU));
    if (rc != ONEWIRE_OK)
        return rc;
    return m_Master->WriteByte(DS18S20_CONVERT_T);
}

int CDs18s20::ReadTemperature(float& celsius)
{
    if (m_Master == nullptr)
        return ONEWIRE_NO_HANDLE;
    int rc = m_Master->MatchRom(m_Rom);
    if (rc != ONEWIRE_OK)
        return rc;
    rc = m_Master->WriteByte(DS18S20_READ_SCRATCHPAD);
    if (rc != ONEWIRE_OK)
        return rc;
    uint8_t scratchpad[9] = {};
    uint8_t crc = 0;
    for (uint8_t& byte : scratchpad) {
        rc = m_Master->ReadByte(byte);
        if (rc != ONEWIRE_OK)
            return rc;
        crc = Crc8(crc, byte);
    }
    if (crc != 0)
        return ONEWIRE_CRC_ERROR;
    // A DS18S20 has COUNT_PER_C wired to 16; 0 cannot come from a working device and would divide
    // by zero.
    if (scratchpad[7] == 0)
        return ONEWIRE_CRC_ERROR;
    celsius = ScratchpadCelsius(scratchpad);
    return ONEWIRE_OK;
}

float ScratchpadCelsius(const uint8_t scratchpad[9])
{
    const auto raw = static_cast<int16_t>(scratchpad[0] | (scratchpad[1] << 8));
    const int whole = raw >> 1;  // arithmetic shift: -1 stays -1
    const int countRemain = scratchpad[6];
    const int countPerC = scratchpad[7];
    const double celsius = whole - 0.25 + static_cast<double>(countPerC - countRemain) / countPerC;
    return static_cast<float>(celsius);
}
