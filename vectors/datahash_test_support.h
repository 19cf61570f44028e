// For tests: an OpenSSL that has no MD5, as on a system configured without the default provider.
// Windows' CryptoAPI cannot be made to lack MD5 from inside a process: there the cases that need
// it are skipped (kMd5CanBeTakenAway).
#pragma once

#ifdef _WIN32

#include <gtest/gtest.h>

namespace qbxtest {

inline constexpr bool kMd5CanBeTakenAway = false;

// Not to be made on Windows (the tests skip first): it cannot take MD5 away there.
class ScopedNoMd5 {
public:
    ScopedNoMd5() { ADD_FAILURE() << "MD5 cannot be taken away from the CryptoAPI"; }
};

}  // namespace qbxtest

#else

#include <openssl/crypto.h>
#include <openssl/provider.h>

namespace qbxtest {

inline constexpr bool kMd5CanBeTakenAway = true;

// While an object of this class lives, the calling thread's default OpenSSL library context holds
// the null provider only, so fetching MD5 fails: a CDataHash that does not yet hold the algorithm
// cannot start a digest. The thread's previous context comes back at destruction.
class ScopedNoMd5 {
public:
    ScopedNoMd5() : m_Previous(OSSL_LIB_CTX_set0_default(m_Context)) {}
    ~ScopedNoMd5()
    {
        OSSL_LIB_CTX_set0_default(m_Previous);
        OSSL_PROVIDER_unload(m_Null);
        OSSL_LIB_CTX_free(m_Context);
    }
    ScopedNoMd5(const ScopedNoMd5&) = delete;
    ScopedNoMd5& operator=(const ScopedNoMd5&) = delete;

private:
    OSSL_LIB_CTX* m_Context = OSSL_LIB_CTX_new();
    OSSL_PROVIDER* m_Null = OSSL_PROVIDER_load(m_Context, "null");  // keeps the default one out
    OSSL_LIB_CTX* m_Previous;
};

}  // namespace qbxtest

#endif  // _WIN32
