#pragma once

#include "win/ScopedHandle.h"

#include <windows.h>
#include <wincrypt.h>

#include <array>

// SHA-256 digests, by the system's own provider (CryptoAPI in advapi32).
using Sha256 = std::array<BYTE, 32>;

struct CryptProviderTraits
{
    using Handle = HCRYPTPROV;
    static Handle Invalid() noexcept { return 0; }
    static bool IsValid(Handle h) noexcept { return h != 0; }
    static void Close(Handle h) noexcept { ::CryptReleaseContext(h, 0); }
};

struct CryptHashTraits
{
    using Handle = HCRYPTHASH;
    static Handle Invalid() noexcept { return 0; }
    static bool IsValid(Handle h) noexcept { return h != 0; }
    static void Close(Handle h) noexcept { ::CryptDestroyHash(h); }
};

// The digest of bytes handed over in pieces. Every call after a failure
// fails too.
class CSha256
{
public:
    CSha256();

    bool Add(const BYTE* pData, DWORD cbData);
    // The digest of everything added; false when any step failed.
    bool Finish(Sha256& digest);

private:
    CScopedHandle<CryptProviderTraits> m_hProvider;
    CScopedHandle<CryptHashTraits> m_hHash;
};
