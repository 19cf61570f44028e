// The MD5 digest on Windows, through the CryptoAPI of advapi32: the default provider of type
// PROV_RSA_FULL (acquired once, with a new key set when there is none), then one hash object of
// CALG_MD5 per digest.
#include "datahash.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

namespace {

void ReleaseProvider(uintptr_t provider) { ::CryptReleaseContext(static_cast<HCRYPTPROV>(provider), 0); }

void DestroyHash(uintptr_t hash) { ::CryptDestroyHash(static_cast<HCRYPTHASH>(hash)); }

HCRYPTPROV AcquireProvider()
{
    HCRYPTPROV provider = 0;
    if (::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0))
        return provider;
    provider = 0;
    if (::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        return provider;
    return 0;
}

}  // namespace

CDataHash::CDataHash() : m_Provider(&ReleaseProvider), m_Hash(&DestroyHash) {}

bool CDataHash::HasProvider() const { return m_Provider.Get() != 0; }

bool CDataHash::HasHash() const { return m_Hash.Get() != 0; }

bool CDataHash::Init()
{
    // The provider is acquired once and kept until destruction.
    if (!HasProvider())
        m_Provider.Reset(AcquireProvider());

    // A digest that was started and not finished is discarded.
    m_Hash.Reset();

    if (HasProvider()) {
        HCRYPTHASH hash = 0;
        if (::CryptCreateHash(static_cast<HCRYPTPROV>(m_Provider.Get()), CALG_MD5, 0, 0, &hash))
            m_Hash.Reset(hash);
    }
    return HasProvider() && HasHash();
}

bool CDataHash::AddString(std::string_view text)
{
    if (!HasProvider() || !HasHash())
        return false;
    // CryptHashData takes at most 4 GiB - 1 at a time.
    constexpr size_t kMaxChunk = 0x40000000;
    const BYTE* data = reinterpret_cast<const BYTE*>(text.data());
    size_t left = text.size();
    do {
        const DWORD chunk = static_cast<DWORD>(std::min(left, kMaxChunk));
        if (!::CryptHashData(static_cast<HCRYPTHASH>(m_Hash.Get()), data, chunk, 0))
            return false;
        data += chunk;
        left -= chunk;
    } while (left > 0);
    return true;
}

bool CDataHash::GetValue(std::vector<uint8_t>& value)
{
    if (!HasProvider() || !HasHash())
        return false;

    const HCRYPTHASH hash = static_cast<HCRYPTHASH>(m_Hash.Get());
    bool ok = false;
    DWORD size = 0;
    DWORD length = sizeof size;
    if (::CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &length, 0) && size > 0) {
        std::vector<uint8_t> bytes(size);
        length = size;
        if (::CryptGetHashParam(hash, HP_HASHVAL, bytes.data(), &length, 0) && length == size) {
            value = std::move(bytes);
            ok = true;
        }
    }
    // The hash object is consumed whatever the outcome; the provider stays.
    m_Hash.Reset();
    return ok;
}
