#include "onewire_crc.h"

namespace qbxsim {

uint8_t Crc8(uint8_t crc, uint8_t byte)
{
    for (int i = 0; i < 8; ++i) {
        const bool mix = ((crc ^ byte) & 0x01) != 0;
        crc >>= 1;
        if (mix)
            crc ^= 0x8C;
        byte >>= 1;
    }
    return crc;
}

uint8_t Crc8(std::span<const uint8_t> bytes)
{
    uint8_t crc = 0;
    for (uint8_t b : bytes)
        crc = Crc8(crc, b);
    return crc;
}

uint16_t Crc16(uint16_t crc, uint8_t byte)
{
    for (int i = 0; i < 8; ++i) {
        const bool mix = ((crc ^ byte) & 0x01) != 0;
        crc >>= 1;
        if (mix)
            crc ^= 0xA001;
        byte >>= 1;
    }
    return crc;
}

uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc)
{
    for (uint8_t b : bytes)
        crc = Crc16(crc, b);
    return crc;
}

}  // namespace qbxsim
