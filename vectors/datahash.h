// MD5 digest rendered as upper-case hexadecimal, on OpenSSL's libcrypto (EVP).
//
// Calling order: Init, then any number of AddString/AddSalt, then GetHexString (or GetValue) once.
// Finishing consumes the started digest; further AddString calls return false until the next Init.
// The MD5 algorithm (the "provider") is fetched from the calling thread's default OpenSSL library
// context by the first Init that finds it, and kept until the object is destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/types.h>

// The salt hashed after the last line of a report, before the digest is finished.
inline constexpr char HASH_SALT[] = "$-KLM_VOSTA_NODE-$";
inline constexpr size_t HASH_SALT_LENGTH = sizeof(HASH_SALT) - 1;  // 18 bytes, no terminator

// Length of the hexadecimal text of an MD5 digest.
inline constexpr size_t HASH_HEX_LENGTH = 32;

class CDataHash {
public:
    // Neither the algorithm nor a digest is held after construction; destruction frees both.
    CDataHash() = default;

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
    bool HasProvider() const { return m_Provider != nullptr; }
    bool HasHash() const { return m_Hash != nullptr; }

private:
    struct FreeProvider {
        void operator()(EVP_MD* md) const;
    };
    struct FreeHash {
        void operator()(EVP_MD_CTX* ctx) const;
    };

    // Each flag of the digest is the presence of its object: set exactly while it is held.
    std::unique_ptr<EVP_MD, FreeProvider> m_Provider;
    std::unique_ptr<EVP_MD_CTX, FreeHash> m_Hash;
};
