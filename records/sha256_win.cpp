// SHA-256 through the CryptoAPI: the provider of type PROV_RSA_AES (the one with the SHA-2 family),
// one hash object of CALG_SHA_256.
#include "sha256.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <vector>

struct CSha256::State {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool ok = false;
    State()
    {
        ok = (::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
              (provider = 0, false)) &&
             ::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
    }
    ~State()
    {
        if (hash != 0)
            ::CryptDestroyHash(hash);
        if (provider != 0)
            ::CryptReleaseContext(provider, 0);
    }
};

CSha256::CSha256() : m_State(std::make_unique<State>()) {}

CSha256::~CSha256() = default;

bool CSha256::Add(const void* data, size_t size)
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (m_State->ok && size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        m_State->ok = ::CryptHashData(m_State->hash, bytes, chunk, 0) != 0;
        bytes += chunk;
        size -= chunk;
    }
    return m_State->ok;
}

std::string CSha256::Hex()
{
    DWORD length = 0;
    DWORD field = sizeof length;
    if (!m_State->ok || !::CryptGetHashParam(m_State->hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&length), &field, 0))
        return "";
    std::vector<BYTE> digest(length);
    if (!::CryptGetHashParam(m_State->hash, HP_HASHVAL, digest.data(), &length, 0))
        return "";
    m_State->ok = false;
    std::string hex;
    for (BYTE byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}
