// The digest's parts that do not depend on the platform's MD5.
#include "datahash.h"

#include <cstdio>

bool CDataHash::AddSalt() { return AddString(std::string_view(HASH_SALT, HASH_SALT_LENGTH)); }

bool CDataHash::GetHexString(std::string& text)
{
    std::vector<uint8_t> value;
    if (!GetValue(value))
        return false;
    text.clear();
    for (uint8_t byte : value) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", byte);
        text += hex;
    }
    return true;
}
