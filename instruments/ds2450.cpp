#include "ds2450.h"

#include "crc.h"

void CDs2450::Clear()
{
    m_Master = nullptr;
    m_Rom = _ROMID{};
    m_Raw.fill(0);
    m_Volts.fill(0.0f);
    m_Config.fill(DS2450_WORD_INPUT);
}

bool CDs2450::Attach(COneWireMaster* master, const _ROMID& rom)
{
    m_Master = master;
    m_Rom = rom;
    m_Raw.fill(0);
    m_Volts.fill(0.0f);
    m_Config.fill(DS2450_WORD_INPUT);
    return IsValid();
}

bool CDs2450::IsValid() const
{
    return m_Master != nullptr && m_Rom.Family() == DS2450_FAMILY && m_Rom.CrcValid();
}

int CDs2450::CheckCrc(uint16_t crc)
{
    uint8_t low = 0;
    uint8_t high = 0;
    int rc = m_Master->ReadByte(low);
    if (rc != ONEWIRE_OK)
        return rc;
    rc = m_Master->ReadByte(high);
    if (rc != ONEWIRE_OK)
        return rc;
    const auto device = static_cast<uint16_t>(low | (high << 8));
    return device == static_cast<uint16_t>(~crc) ? ONEWIRE_OK : ONEWIRE_CRC_ERROR;
}

int CDs2450::SendCommand(const uint8_t (&command)[3], uint16_t& crc)
{
    int rc = m_Master->MatchRom(m_Rom);
    if (rc != ONEWIRE_OK)
        return rc;
    for (uint8_t byte : command) {
        rc = m_Master->WriteByte(byte);
        if (rc != ONEWIRE_OK)
            return rc;
    }
    crc = Crc16(command);
    return ONEWIRE_OK;
}

int CDs2450::WriteMemory(const uint8_t bytes[8])
{
    if (m_Master == nullptr)
        return ONEWIRE_NO_HANDLE;
    uint16_t crc = 0;
    int rc = SendCommand({DS2450_WRITE_MEMORY, 0x08, 0x00}, crc);
    if (rc != ONEWIRE_OK)
        return rc;
    for (int k = 0; k < 8; ++k) {
        rc = m_Master->WriteByte(bytes[k]);
        if (rc != ONEWIRE_OK)
            return rc;
        crc = Crc16(crc, bytes[k]);
        rc = CheckCrc(crc);
        if (rc != ONEWIRE_OK && rc != ONEWIRE_CRC_ERROR)
            return rc;
        // The device echoes the byte it stored; it is read to keep in step, not compared.
        uint8_t echo = 0;
        int echoRc = m_Master->ReadByte(echo);
        if (echoRc != ONEWIRE_OK)
            return echoRc;
        if (rc == ONEWIRE_CRC_ERROR)
            return rc;
        // Every later byte's CRC starts from its own target address.
        crc = static_cast<uint16_t>(0x0009 + k);
    }
    return ONEWIRE_OK;
}

int CDs2450::WriteChannelConfig()
{
    uint8_t bytes[8];
    for (int ch = 0; ch < 4; ++ch) {
        bytes[2 * ch] = static_cast<uint8_t>(m_Config[static_cast<size_t>(ch)] >> 8);
        bytes[2 * ch + 1] = static_cast<uint8_t>(m_Config[static_cast<size_t>(ch)] & 0xFF);
    }
    return WriteMemory(bytes);
}

int CDs2450::Convert()
{
    if (m_Master == nullptr)
        return ONEWIRE_NO_HANDLE;
    // Channels A-D, no preset of the results.
    uint16_t crc = 0;
    const int rc = SendCommand({DS2450_CONVERT, 0x0F, 0x00}, crc);
    if (rc != ONEWIRE_OK)
        return rc;
    return CheckCrc(crc);
}

int CDs2450::ReadResults(uint8_t bytes[8])
{
    if (!IsValid())
        return ONEWIRE_NO_HANDLE;
    uint16_t crc = 0;
    int rc = SendCommand({DS2450_READ_MEMORY, 0x00, 0x00}, crc);
    if (rc != ONEWIRE_OK)
        return rc;
    for (int k = 0; k < 8; ++k) {
        rc = m_Master->ReadByte(bytes[k]);
        if (rc != ONEWIRE_OK)
            return rc;
        crc = Crc16(crc, bytes[k]);
    }
    return CheckCrc(crc);
}

int CDs2450::ReadVoltages()
{
    uint8_t bytes[8] = {};
    int rc = m_Master == nullptr ? ONEWIRE_NO_HANDLE : ReadResults(bytes);
    if (rc != ONEWIRE_OK) {
        m_Volts.fill(-1.0f);
        m_Raw.fill(0);
        return rc;
    }
    for (size_t ch = 0; ch < 4; ++ch) {
        m_Raw[ch] = static_cast<uint16_t>(bytes[2 * ch] + 256 * bytes[2 * ch + 1]);
        m_Volts[ch] = AdcVolts(m_Raw[ch], m_Config[ch]);
    }
    return ONEWIRE_OK;
}

float AdcVolts(uint16_t raw, uint16_t channelWord)
{
    const float fullScale = (channelWord & 1) ? 5.1f : 2.55f;
    return static_cast<float>(raw) * fullScale / 65536.0f;
}
