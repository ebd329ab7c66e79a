#include "win/Hash.h"

#include "win/SystemEntry.h"

#include <bcrypt.h>
#include <immintrin.h>

#include <algorithm>
#include <cstring>
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace
{
#if defined(__GNUC__) || defined(__clang__)
#define LUMET_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#else
#define LUMET_SHA_TARGET
#endif

bool HasShaInstructions()
{
    unsigned int uRegs[4] = {};
#if defined(_MSC_VER)
    int nRegs[4] = {};
    __cpuidex(nRegs, 7, 0);
    std::memcpy(uRegs, nRegs, sizeof(uRegs));
    int nBasic[4] = {};
    __cpuid(nBasic, 1);
    const unsigned int uEcx1 = static_cast<unsigned int>(nBasic[2]);
#else
    unsigned int uEax1 = 0, uEbx1 = 0, uEcx1 = 0, uEdx1 = 0;
    if (!__get_cpuid(1, &uEax1, &uEbx1, &uEcx1, &uEdx1) ||
        !__get_cpuid_count(7, 0, &uRegs[0], &uRegs[1], &uRegs[2], &uRegs[3]))
        return false;
#endif
    const bool bSse41 = (uEcx1 & (1u << 19)) != 0, bSsse3 = (uEcx1 & (1u << 9)) != 0;
    return bSse41 && bSsse3 && (uRegs[1] & (1u << 29)) != 0;
}

constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

alignas(16) constexpr uint32_t kRounds[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// The compression of whole blocks with the processor's SHA instructions.
LUMET_SHA_TARGET void ShaBlocks(uint32_t state[8], const BYTE* pBlocks, size_t nBlocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    // The state as the instructions take it: ABEF and CDGH.
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));    // DCBA
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4])); // HGFE
    tmp = _mm_shuffle_epi32(tmp, 0xB1);                                            // CDAB
    state1 = _mm_shuffle_epi32(state1, 0x1B);                                      // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);                              // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);                                   // CDGH

    for (; nBlocks > 0; --nBlocks, pBlocks += 64)
    {
        const __m128i savedState0 = state0, savedState1 = state1;
        __m128i msgs[4];
        for (size_t i = 0; i < 4; ++i)
            msgs[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pBlocks + 16 * i)), byteSwap);
        // Sixteen groups of four rounds. Each group's words come from the
        // last sixteen: the second half of the schedule for the group after
        // it, the first half for the group three on.
        for (size_t nGroup = 0; nGroup < 16; ++nGroup)
        {
            const __m128i words = msgs[nGroup % 4];
            __m128i sum = _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(&kRounds[4 * nGroup])));
            state1 = _mm_sha256rnds2_epu32(state1, state0, sum);
            if (nGroup >= 3 && nGroup <= 14)
            {
                __m128i& next = msgs[(nGroup + 1) % 4];
                next = _mm_add_epi32(next, _mm_alignr_epi8(words, msgs[(nGroup + 3) % 4], 4));
                next = _mm_sha256msg2_epu32(next, words);
            }
            sum = _mm_shuffle_epi32(sum, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, sum);
            if (nGroup >= 1 && nGroup <= 12)
                msgs[(nGroup + 3) % 4] = _mm_sha256msg1_epu32(msgs[(nGroup + 3) % 4], words);
        }
        state0 = _mm_add_epi32(state0, savedState0);
        state1 = _mm_add_epi32(state1, savedState1);
    }

    tmp = _mm_shuffle_epi32(state0, 0x1B);       // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);    // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0); // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);    // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}

// The system's hashing functions, from bcrypt.dll by its full path, and its
// SHA-256 provider, opened once for the process.
struct BCrypt
{
    LUMET_SYSTEM_ENTRY(L"bcrypt.dll", BCryptOpenAlgorithmProvider);
    LUMET_SYSTEM_ENTRY(L"bcrypt.dll", BCryptCreateHash);
    LUMET_SYSTEM_ENTRY(L"bcrypt.dll", BCryptHashData);
    LUMET_SYSTEM_ENTRY(L"bcrypt.dll", BCryptFinishHash);
    LUMET_SYSTEM_ENTRY(L"bcrypt.dll", BCryptDestroyHash);
    BCRYPT_ALG_HANDLE hSha256 = nullptr;

    BCrypt()
    {
        if (pfnBCryptOpenAlgorithmProvider && pfnBCryptCreateHash && pfnBCryptHashData && pfnBCryptFinishHash &&
            pfnBCryptDestroyHash &&
            !BCRYPT_SUCCESS(pfnBCryptOpenAlgorithmProvider(&hSha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            hSha256 = nullptr;
    }
};
const BCrypt& SystemHashing()
{
    static const BCrypt bcrypt;
    return bcrypt;
}
}

void BCryptHashTraits::Close(Handle h) noexcept { SystemHashing().pfnBCryptDestroyHash(h); }

CSha256::CSha256(EHashPath ePath)
{
    static const bool bSha = HasShaInstructions();
    m_bOwn = bSha && ePath == EHashPath::Fastest;
    if (m_bOwn)
    {
        std::memcpy(m_state, kInitial, sizeof(m_state));
        return;
    }
    const BCrypt& bcrypt = SystemHashing();
    BCRYPT_HASH_HANDLE hHash = nullptr;
    if (!bcrypt.hSha256 ||
        !BCRYPT_SUCCESS(bcrypt.pfnBCryptCreateHash(bcrypt.hSha256, &hHash, nullptr, 0, nullptr, 0, 0)))
        m_bFailed = true;
    else
        m_hHash = CScopedHandle<BCryptHashTraits>(hHash);
}

void CSha256::AddBlocks(const BYTE* pBlocks, size_t nBlocks) { ShaBlocks(m_state, pBlocks, nBlocks); }

bool CSha256::Add(const BYTE* pData, size_t cbData)
{
    if (m_bFailed)
        return false;
    if (!m_bOwn)
    {
        for (size_t cbDone = 0; cbDone < cbData && !m_bFailed;)
        {
            const ULONG cbPiece = static_cast<ULONG>(std::min<size_t>(cbData - cbDone, 1u << 30));
            m_bFailed = !BCRYPT_SUCCESS(
                SystemHashing().pfnBCryptHashData(m_hHash.Get(), const_cast<BYTE*>(pData + cbDone), cbPiece, 0));
            cbDone += cbPiece;
        }
        return !m_bFailed;
    }
    m_cbTotal += cbData;
    if (m_cbPending > 0)
    {
        const size_t cbTaken = std::min(cbData, sizeof(m_pending) - m_cbPending);
        std::memcpy(m_pending + m_cbPending, pData, cbTaken);
        m_cbPending += cbTaken;
        pData += cbTaken;
        cbData -= cbTaken;
        if (m_cbPending < sizeof(m_pending))
            return true;
        AddBlocks(m_pending, 1);
        m_cbPending = 0;
    }
    AddBlocks(pData, cbData / 64);
    m_cbPending = cbData % 64;
    std::memcpy(m_pending, pData + cbData - m_cbPending, m_cbPending);
    return true;
}

bool CSha256::Finish(Sha256& digest)
{
    if (m_bFailed)
        return false;
    Sha256 value = {};
    if (!m_bOwn)
    {
        m_bFailed = true; // finished: nothing more can be added
        if (!BCRYPT_SUCCESS(
                SystemHashing().pfnBCryptFinishHash(m_hHash.Get(), value.data(), static_cast<ULONG>(value.size()), 0)))
            return false;
        digest = value;
        return true;
    }
    // The padding: a one bit, zeros, and the length in bits, big-endian.
    BYTE tail[128] = {};
    std::memcpy(tail, m_pending, m_cbPending);
    tail[m_cbPending] = 0x80;
    const size_t cbTail = m_cbPending < 56 ? 64 : 128;
    const uint64_t nBits = m_cbTotal * 8;
    for (int i = 0; i < 8; ++i)
        tail[cbTail - 1 - i] = static_cast<BYTE>(nBits >> (8 * i));
    AddBlocks(tail, cbTail / 64);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            value[4 * i + j] = static_cast<BYTE>(m_state[i] >> (24 - 8 * j));
    digest = value;
    m_bFailed = true; // finished: nothing more can be added
    return true;
}
