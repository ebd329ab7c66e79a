#pragma once

#include "win/ScopedHandle.h"

#include <windows.h>

#include <array>
#include <cstdint>

// SHA-256 digests.
using Sha256 = std::array<BYTE, 32>;

struct BCryptHashTraits
{
    using Handle = void*; // BCRYPT_HASH_HANDLE
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept;
};

// Which code hashes: the processor's SHA instructions where it has them, else
// the system's (CNG); or the system's in any case.
enum class EHashPath
{
    Fastest,
    System,
};

// The digest of bytes handed over in pieces. Where the processor has the SHA
// instructions, the program hashes with them itself (several times as fast as
// the system's CNG under Wine, which hashes every package the update copies
// with code of its own); elsewhere, or with EHashPath::System, the system's
// CNG (bcrypt.dll) does. Every call after a failure fails too.
class CSha256
{
public:
    explicit CSha256(EHashPath ePath = EHashPath::Fastest);

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
    CScopedHandle<BCryptHashTraits> m_hHash;
};
