#include "win/Hash.h"

CSha256::CSha256()
{
    // A provider that keeps no keys: hashing needs none.
    if (::CryptAcquireContextW(m_hProvider.Put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        ::CryptCreateHash(m_hProvider.Get(), CALG_SHA_256, 0, 0, m_hHash.Put());
}

bool CSha256::Add(const BYTE* pData, DWORD cbData)
{
    if (m_hHash.IsValid() && !::CryptHashData(m_hHash.Get(), pData, cbData, 0))
        m_hHash.Close();
    return m_hHash.IsValid();
}

bool CSha256::Finish(Sha256& digest)
{
    DWORD cb = static_cast<DWORD>(digest.size());
    Sha256 value = {};
    if (!m_hHash.IsValid() || !::CryptGetHashParam(m_hHash.Get(), HP_HASHVAL, value.data(), &cb, 0) ||
        cb != value.size())
        return false;
    digest = value;
    return true;
}
