// MD5 digest rendered as upper-case hexadecimal: on Windows through the CryptoAPI (advapi32,
// datahash_win.cpp), elsewhere on OpenSSL's libcrypto (EVP, datahash.cpp). Same bytes, same text.
//
// Calling order: Init, then any number of AddString/AddSalt, then GetHexString (or GetValue) once.
// Finishing consumes the started digest; further AddString calls return false until the next Init.
// The MD5 algorithm (the "provider": OpenSSL's, from the calling thread's default library context;
// on Windows the CryptoAPI's default provider) is acquired by the first Init that finds it, and
// kept until the object is destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <openssl/types.h>
#endif

// The salt hashed after the last line of a report, before the digest is finished.
inline constexpr char HASH_SALT[] = "$-KLM_VOSTA_NODE-$";
inline constexpr size_t HASH_SALT_LENGTH = sizeof(HASH_SALT) - 1;  // 18 bytes, no terminator

// Length of the hexadecimal text of an MD5 digest.
inline constexpr size_t HASH_HEX_LENGTH = 32;

class CDataHash {
public:
    // Neither the algorithm nor a digest is held after construction; destruction frees both.
#ifdef _WIN32
    CDataHash();
#else
    CDataHash() = default;
#endif

    // Prepares a fresh MD5 digest, discarding one that was started and not finished. True when
    // both the algorithm and the digest are ready.
    bool Init();
    // Hashes the bytes of text (its length, no terminator). False, and nothing hashed, when no
    // digest is started.
    bool AddString(std::string_view text);
    // Hashes the 18 bytes of HASH_SALT.
    bool AddSalt();
    // Finishes the digest into value (16 bytes). False, with nothing changed, when no digest is
    // started; otherwise the started digest is consumed whatever the outcome.
    bool GetValue(std::vector<uint8_t>& value);
    // Finishes the digest and replaces text by its bytes as "%02X" each. On failure text keeps its
    // previous contents.
    bool GetHexString(std::string& text);

    // The provider flag: the MD5 algorithm is held. The hash flag: a digest is started and
    // accepts data.
    bool HasProvider() const;
    bool HasHash() const;

private:
#ifdef _WIN32
    // A CryptoAPI handle (HCRYPTPROV or HCRYPTHASH), released when the holder dies or is reset.
    class CryptoHandle {
    public:
        using Release = void (*)(uintptr_t);
        explicit CryptoHandle(Release release) : m_Release(release) {}
        ~CryptoHandle() { Reset(); }
        CryptoHandle(const CryptoHandle&) = delete;
        CryptoHandle& operator=(const CryptoHandle&) = delete;
        uintptr_t Get() const { return m_Value; }
        void Reset(uintptr_t value = 0)
        {
            if (m_Value != 0)
                m_Release(m_Value);
            m_Value = value;
        }

    private:
        Release m_Release;
        uintptr_t m_Value = 0;
    };

    // Each flag of the digest is the presence of its handle; the hash goes before the provider.
    CryptoHandle m_Provider;
    CryptoHandle m_Hash;
#else
    struct FreeProvider {
        void operator()(EVP_MD* md) const;
    };
    struct FreeHash {
        void operator()(EVP_MD_CTX* ctx) const;
    };

    // Each flag of the digest is the presence of its object: set exactly while it is held.
    std::unique_ptr<EVP_MD, FreeProvider> m_Provider;
    std::unique_ptr<EVP_MD_CTX, FreeHash> m_Hash;
#endif
};
