// SHA-256 of bytes handed over in pieces, as lower-case hexadecimal: OpenSSL's EVP (sha256.cpp) or,
// on Windows, the CryptoAPI (sha256_win.cpp).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // Hashes size bytes; false when the digest has failed (then or before).
    bool Add(const void* data, size_t size);
    // The digest of everything added, in hexadecimal; "" when it failed. Once only.
    std::string Hex();

private:
    struct State;
    std::unique_ptr<State> m_State;
};
