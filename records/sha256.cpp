#include "sha256.h"

#include <openssl/evp.h>

#include <cstdio>

struct CSha256::State {
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> context{EVP_MD_CTX_new()};
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
};

CSha256::CSha256() : m_State(std::make_unique<State>()) {}

CSha256::~CSha256() = default;

bool CSha256::Add(const void* data, size_t size)
{
    m_State->ok = m_State->ok && EVP_DigestUpdate(m_State->context.get(), data, size) == 1;
    return m_State->ok;
}

std::string CSha256::Hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_State->ok || EVP_DigestFinal_ex(m_State->context.get(), digest, &length) != 1)
        return "";
    m_State->ok = false;
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}
