#pragma once

#include "win/ScopedHandle.h"

#include <windows.h>
#include <wincrypt.h>

#include <array>
#include <cstdint>

// SHA-256 digests.
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

// The digest of bytes handed over in pieces. Where the processor has the SHA
// instructions, the program hashes with them itself (several times as fast as
// the system's provider under Wine, which hashes every package the update
// copies); elsewhere the system's own provider (CryptoAPI) does. Every call
// after a failure fails too.
class CSha256
{
public:
    CSha256();

    bool Add(const BYTE* pData, size_t cbData);
    // The digest of everything added; false when any step failed.
    bool Finish(Sha256& digest);

private:
    void AddBlocks(const BYTE* pBlocks, size_t nBlocks);

    bool m_bOwn = false;
    bool m_bFailed = false;
    // The program's own hashing: the state, the bytes of an unfinished block
    // and the length so far.
    uint32_t m_state[8] = {};
    BYTE m_pending[64] = {};
    size_t m_cbPending = 0;
    uint64_t m_cbTotal = 0;
    // The system's.
    CScopedHandle<CryptProviderTraits> m_hProvider;
    CScopedHandle<CryptHashTraits> m_hHash;
};
