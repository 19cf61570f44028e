#include "datahash.h"


#include <openssl/evp.h>

bool CDataHash::HasProvider() const { return m_Provider != nullptr; }

bool CDataHash::HasHash() const { return m_Hash != nullptr; }

void CDataHash::FreeProvider::operator()(EVP_MD* md) const { EVP_MD_free(md); }

void CDataHash::FreeHash::operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }

bool CDataHash::Init()
{
    // The algorithm is fetched once and kept until destruction.
    if (!m_Provider)
        m_Provider.reset(EVP_MD_fetch(nullptr, "MD5", nullptr));

    // A digest that was started and not finished is discarded.
    m_Hash.reset();

    if (m_Provider) {
        std::unique_ptr<EVP_MD_CTX, FreeHash> ctx(EVP_MD_CTX_new());
        if (ctx && EVP_DigestInit_ex(ctx.get(), m_Provider.get(), nullptr) == 1)
            m_Hash = std::move(ctx);
    }
    return HasProvider() && HasHash();
}

bool CDataHash::AddString(std::string_view text)
{
    if (!HasProvider() || !HasHash())
        return false;
    return EVP_DigestUpdate(m_Hash.get(), text.data(), text.size()) == 1;
}

bool CDataHash::GetValue(std::vector<uint8_t>& value)
{
    if (!HasProvider() || !HasHash())
        return false;

    bool ok = false;
    int size = EVP_MD_get_size(m_Provider.get());
    if (size > 0) {
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(m_Hash.get(), bytes.data(), &length) == 1 && length == bytes.size()) {
            value = std::move(bytes);
            ok = true;
        }
    }
    // The digest is consumed whatever the outcome; the algorithm stays.
    m_Hash.reset();
    return ok;
}
