#include "crc.h"

uint8_t Crc8(uint8_t crc, uint8_t byte)
{
    for (int bit = 0; bit < 8; ++bit) {
        bool mix = ((crc ^ byte) & 1) != 0;
        crc = static_cast<uint8_t>(crc >> 1);
        if (mix)
            crc ^= 0x8C;
        byte = static_cast<uint8_t>(byte >> 1);
    }
    return crc;
}

uint8_t Crc8(std::span<const uint8_t> bytes, uint8_t crc)
{
    for (uint8_t byte : bytes)
        crc = Crc8(crc, byte);
    return crc;
}

uint16_t Crc16(uint16_t crc, uint8_t byte)
{
    for (int bit = 0; bit < 8; ++bit) {
        bool mix = ((crc ^ byte) & 1) != 0;
        crc = static_cast<uint16_t>(crc >> 1);
        if (mix)
            crc ^= 0xA001;
        byte = static_cast<uint8_t>(byte >> 1);
    }
    return crc;
}

uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc)
{
    for (uint8_t byte : bytes)
        crc = Crc16(crc, byte);
    return crc;
}
