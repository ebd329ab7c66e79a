// The chain parameters with the time-out of revocation servers, which the
// headers declare only when asked.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "win/Signature.h"

#include "win/ScopedHandle.h"
#include "win/SystemEntry.h"

#include <windows.h>
#include <psapi.h>
#include <softpub.h>
#include <wincrypt.h>
#include <winternl.h>
#include <wintrust.h>

#include <cstring>

namespace
{
using PfnNtAreMappedFilesTheSame = NTSTATUS(NTAPI*)(PVOID, PVOID);
using PfnNtOpenFile = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);

const PfnNtAreMappedFilesTheSame g_pfnNtAreMappedFilesTheSame =
    SystemEntry<PfnNtAreMappedFilesTheSame>(L"ntdll.dll", "NtAreMappedFilesTheSame");
const PfnNtOpenFile g_pfnNtOpenFile = SystemEntry<PfnNtOpenFile>(L"ntdll.dll", "NtOpenFile");

// The signature and certificate functions, from the system folder's DLLs
// on first use.
struct TrustFunctions
{
    LUMET_SYSTEM_ENTRY(L"wintrust.dll", WinVerifyTrust);
    LUMET_SYSTEM_ENTRY(L"wintrust.dll", WTHelperProvDataFromStateData);
    LUMET_SYSTEM_ENTRY(L"wintrust.dll", WTHelperGetProvSignerFromChain);
    LUMET_SYSTEM_ENTRY(L"crypt32.dll", CertCompareCertificateName);
    LUMET_SYSTEM_ENTRY(L"crypt32.dll", CertOpenStore);
    LUMET_SYSTEM_ENTRY(L"crypt32.dll", CertCloseStore);
    LUMET_SYSTEM_ENTRY(L"crypt32.dll", CertGetCertificateChain);
    LUMET_SYSTEM_ENTRY(L"crypt32.dll", CertVerifyCertificateChainPolicy);
    LUMET_SYSTEM_ENTRY(L"crypt32.dll", CertFreeCertificateChain);

    bool IsComplete() const
    {
        return pfnWinVerifyTrust && pfnWTHelperProvDataFromStateData && pfnWTHelperGetProvSignerFromChain &&
               pfnCertCompareCertificateName && pfnCertOpenStore && pfnCertCloseStore && pfnCertGetCertificateChain &&
               pfnCertVerifyCertificateChainPolicy && pfnCertFreeCertificateChain;
    }
};

const TrustFunctions& Trust()
{
    static const TrustFunctions functions;
    return functions;
}

struct CertStoreTraits
{
    using Handle = HCERTSTORE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { Trust().pfnCertCloseStore(h, 0); }
};

struct ChainTraits
{
    using Handle = PCCERT_CHAIN_CONTEXT;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { Trust().pfnCertFreeCertificateChain(h); }
};

// Chain errors that leave the chain standing: revocation could not be
// checked. Anything else refuses it.
constexpr DWORD kRevocationUnknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
// How long revocation servers may take, all together.
constexpr DWORD kRevocationTimeoutMs = 15000;

// Longest path the system hands out, in characters.
constexpr DWORD kMaxPath = 32768;

bool ImageCarriesSignature(const BYTE* pBase)
{
    const auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(pBase);
    const auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS*>(pBase + pDos->e_lfanew);
    return pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size != 0;
}

// Whether the file open as hFile is the one mapped as the image at pBase.
// The system compares the files themselves: a byte-for-byte copy is another
// file, a hard link the same one.
bool IsFileOfImage(HANDLE hFile, void* pBase)
{
    if (!g_pfnNtAreMappedFilesTheSame)
        return false;
    const CHandle hMapping(::CreateFileMappingW(hFile, nullptr, PAGE_READONLY, 0, 0, nullptr));
    const CMappedView pView(hMapping.IsValid() ? ::MapViewOfFile(hMapping.Get(), FILE_MAP_READ, 0, 0, 1) : nullptr);
    return pView.IsValid() && g_pfnNtAreMappedFilesTheSame(pBase, pView.Get()) == 0;
}

// Opens the file by its name in the system's own namespace ("\Device\...").
CHandle OpenByNtName(const std::wstring& strName, ULONG ulShare)
{
    if (!g_pfnNtOpenFile || strName.empty() || strName.size() * sizeof(wchar_t) > 0xFFFE)
        return CHandle();
    UNICODE_STRING ustrName;
    ustrName.Length = ustrName.MaximumLength = static_cast<USHORT>(strName.size() * sizeof(wchar_t));
    ustrName.Buffer = const_cast<PWSTR>(strName.c_str());
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &ustrName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE h = nullptr;
    if (g_pfnNtOpenFile(&h, GENERIC_READ | SYNCHRONIZE, &attributes, &io, ulShare,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE) < 0)
        return CHandle();
    return CHandle(h);
}
}

namespace
{
// The window handle that tells WinVerifyTrust to show nothing.
HWND NoWindow() { return static_cast<HWND>(INVALID_HANDLE_VALUE); }

// One verification by WinVerifyTrust and the state it keeps, which is freed
// exactly once, when this goes; the result of freeing it says nothing of the
// file.
class CVerification
{
public:
    CVerification(const std::wstring& strPath, HANDLE hFile)
    {
        m_file.cbStruct = sizeof(m_file);
        m_file.pcwszFilePath = strPath.c_str();
        m_file.hFile = hFile;
        m_data.cbStruct = sizeof(m_data);
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        m_data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
        m_lTrust = Trust().pfnWinVerifyTrust(NoWindow(), &m_action, &m_data);
    }
    ~CVerification()
    {
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        Trust().pfnWinVerifyTrust(NoWindow(), &m_action, &m_data);
    }
    CVerification(const CVerification&) = delete;
    CVerification& operator=(const CVerification&) = delete;

    // This verification's own state, so that what is judged is what was
    // verified; null when the signature is not whole.
    CRYPT_PROVIDER_DATA* Provider() const
    {
        return m_lTrust == 0 ? Trust().pfnWTHelperProvDataFromStateData(m_data.hWVTStateData) : nullptr;
    }

private:
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG m_lTrust = 0;
};
}

namespace
{
std::vector<BYTE> BytesOf(const CRYPT_DATA_BLOB& blob)
{
    return std::vector<BYTE>(blob.pbData, blob.pbData + blob.cbData);
}

// The chain of the signer's certificate, built by the machine's chain engine
// from the certificates the signature carries, and judged.
DWORD JudgeChain(const CRYPT_PROVIDER_DATA& provider, const CRYPT_PROVIDER_SGNR& signer, Signer& who,
                 bool& bRevocationChecked)
{
    const TrustFunctions& trust = Trust();
    const CScopedHandle<CertStoreTraits> hCarried(
        trust.pfnCertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, provider.hMsg));
    LPSTR pszCodeSigning = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = &pszCodeSigning;
    para.dwUrlRetrievalTimeout = kRevocationTimeoutMs;
    FILETIME ftSigned = signer.sftVerifyAsOf;
    CScopedHandle<ChainTraits> pChain;
    if (!hCarried.IsValid() || !trust.pfnCertGetCertificateChain(HCCE_LOCAL_MACHINE, signer.pasCertChain[0].pCert,
                                                                 &ftSigned, hCarried.Get(), &para,
                                                                 CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                                                     CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                                                                 nullptr, pChain.Put()))
        return kErrorInvalidImageHash;
    const CERT_CHAIN_CONTEXT& chain = *pChain.Get();
    const DWORD dwStatus = chain.TrustStatus.dwErrorStatus;
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof(policy);
    policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    // The policy alone was seen to pass a revoked certificate: every error
    // the chain reports refuses it, but that revocation could not be checked.
    if ((dwStatus & ~kRevocationUnknown) != 0 ||
        !trust.pfnCertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, &chain, &policy, &status) ||
        status.dwError != 0 || chain.cChain == 0 || chain.rgpChain[0]->cElement < 2)
        return kErrorInvalidImageHash;

    const CERT_INFO& leaf = *chain.rgpChain[0]->rgpElement[0]->pCertContext->pCertInfo;
    const CERT_INFO& issuer = *chain.rgpChain[0]->rgpElement[1]->pCertContext->pCertInfo;
    const CERT_PUBLIC_KEY_INFO& key = issuer.SubjectPublicKeyInfo;
    if (leaf.Subject.cbData == 0 || !key.Algorithm.pszObjId)
        return kErrorInvalidImageHash;
    who.subject = BytesOf(leaf.Subject);
    who.issuerName = BytesOf(issuer.Subject);
    who.issuerKey.assign(key.Algorithm.pszObjId, key.Algorithm.pszObjId + std::strlen(key.Algorithm.pszObjId) + 1);
    who.issuerKey.insert(who.issuerKey.end(), key.PublicKey.pbData, key.PublicKey.pbData + key.PublicKey.cbData);
    bRevocationChecked = (dwStatus & kRevocationUnknown) == 0;
    return ERROR_SUCCESS;
}
}

DWORD VerifyFileSignature(const std::wstring& strPath, HANDLE hFile, Signer& signer, bool& bRevocationChecked)
{
    if (!Trust().IsComplete())
        return ERROR_PROC_NOT_FOUND;
    const CVerification verification(strPath, hFile);
    const CRYPT_PROVIDER_DATA* pProvider = verification.Provider();
    const CRYPT_PROVIDER_SGNR* pSigner =
        pProvider ? Trust().pfnWTHelperGetProvSignerFromChain(const_cast<CRYPT_PROVIDER_DATA*>(pProvider), 0, FALSE, 0)
                  : nullptr;
    if (!pSigner || pSigner->csCertChain == 0 || !pSigner->pasCertChain[0].pCert)
        return kErrorInvalidImageHash;
    Signer who;
    bool bChecked = false;
    const DWORD dwJudged = JudgeChain(*pProvider, *pSigner, who, bChecked);
    if (dwJudged != ERROR_SUCCESS)
        return dwJudged;
    signer = std::move(who);
    bRevocationChecked = bChecked;
    return ERROR_SUCCESS;
}

bool SameSigner(const Signer& a, const Signer& b)
{
    const TrustFunctions& api = Trust();
    if (a.IsEmpty() || b.IsEmpty() || !api.IsComplete())
        return false;
    CERT_NAME_BLOB blobA = {static_cast<DWORD>(a.subject.size()), const_cast<BYTE*>(a.subject.data())};
    CERT_NAME_BLOB blobB = {static_cast<DWORD>(b.subject.size()), const_cast<BYTE*>(b.subject.data())};
    return api.pfnCertCompareCertificateName(X509_ASN_ENCODING, &blobA, &blobB) != FALSE &&
           a.issuerName == b.issuerName && a.issuerKey == b.issuerKey;
}

DWORD OpenOwnImage(CHandle& hFile, std::wstring& strName)
{
    const HMODULE hImage = ::GetModuleHandleW(nullptr);
    // The name the program was started by, then the name the system gives
    // the image's mapping now, which is meant to follow a rename (Wine 8
    // keeps the first name: there the image's file is then not found). Each
    // file is held without write or delete sharing while it is compared, so
    // that it stays what was compared.
    std::wstring strTried(kMaxPath, L'\0');
    strTried.resize(::GetModuleFileNameW(hImage, strTried.data(), kMaxPath));
    CHandle h(::CreateFileW(strTried.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h.IsValid() || !IsFileOfImage(h.Get(), hImage))
    {
        strTried.assign(kMaxPath, L'\0');
        strTried.resize(::K32GetMappedFileNameW(::GetCurrentProcess(), hImage, strTried.data(), kMaxPath));
        h = OpenByNtName(strTried, FILE_SHARE_READ);
        if (!h.IsValid() || !IsFileOfImage(h.Get(), hImage))
            return ERROR_FILE_INVALID;
    }
    hFile = std::move(h);
    strName = std::move(strTried);
    return ERROR_SUCCESS;
}

DWORD ReadOwnSigner(Signer& signer)
{
    // The header is mapped from the image and nobody else can write this
    // process's memory: it tells the truth about the running image.
    if (!ImageCarriesSignature(reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr))))
    {
        signer = Signer();
        return ERROR_SUCCESS;
    }
    CHandle hFile;
    std::wstring strName;
    const DWORD dwOpened = OpenOwnImage(hFile, strName);
    if (dwOpened != ERROR_SUCCESS)
        return dwOpened;
    bool bRevocationChecked = false;
    return VerifyFileSignature(strName, hFile.Get(), signer, bRevocationChecked);
}

namespace
{
// Reads exactly cb bytes at nOffset.
bool ReadAt(HANDLE h, LONGLONG nOffset, void* pBuffer, DWORD cb)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(nOffset);
    at.OffsetHigh = static_cast<DWORD>(nOffset >> 32);
    DWORD cbRead = 0;
    return nOffset >= 0 && ::ReadFile(h, pBuffer, cb, &cbRead, &at) && cbRead == cb;
}

LONGLONG PaddedTo8(LONGLONG n) { return (n + 7) & ~LONGLONG{7}; }
}

DWORD CheckCertificateTable(HANDLE hFile)
{
    IMAGE_DOS_HEADER dos = {};
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(hFile, &size) || !ReadAt(hFile, 0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return kErrorInvalidImageHash;
    // The signature, the file header, then the optional header, whose data
    // directories lie further in for a 64-bit program.
    DWORD dwPe = 0;
    WORD wMagic = 0;
    const LONGLONG nOptional = LONGLONG{dos.e_lfanew} + 4 + LONGLONG{sizeof(IMAGE_FILE_HEADER)};
    if (!ReadAt(hFile, dos.e_lfanew, &dwPe, sizeof(dwPe)) || dwPe != IMAGE_NT_SIGNATURE ||
        !ReadAt(hFile, nOptional, &wMagic, sizeof(wMagic)))
        return kErrorInvalidImageHash;
    const LONGLONG nDirectories = nOptional + (wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? 112 : 96);
    IMAGE_DATA_DIRECTORY table = {};
    if (!ReadAt(hFile, nDirectories + IMAGE_DIRECTORY_ENTRY_SECURITY * LONGLONG{sizeof(table)}, &table,
                sizeof(table)) ||
        table.Size < sizeof(WIN_CERTIFICATE) || LONGLONG{table.VirtualAddress} + table.Size != size.QuadPart)
        return kErrorInvalidImageHash;

    // The one entry: its header, then the signature, a DER sequence whose
    // own length says where it ends.
    BYTE entry[16] = {};
    if (!ReadAt(hFile, table.VirtualAddress, entry, sizeof(entry)))
        return kErrorInvalidImageHash;
    const DWORD dwLength = entry[0] | (entry[1] << 8) | (entry[2] << 16) | (DWORD{entry[3]} << 24);
    const BYTE* pDer = entry + 8;
    LONGLONG nDer = 0;
    if (pDer[0] != 0x30)
        return kErrorInvalidImageHash;
    if (pDer[1] < 0x80)
        nDer = 2 + pDer[1];
    else
    {
        const int nBytes = pDer[1] & 0x7F;
        if (nBytes < 1 || nBytes > 4)
            return kErrorInvalidImageHash;
        for (int i = 0; i < nBytes; ++i)
            nDer = (nDer << 8) | pDer[2 + i];
        nDer += 2 + nBytes;
    }
    const LONGLONG nUsed = 8 + nDer;
    if (PaddedTo8(dwLength) != table.Size || nUsed > dwLength || PaddedTo8(nUsed) != table.Size)
        return kErrorInvalidImageHash;
    BYTE padding[8] = {};
    const DWORD cbPadding = static_cast<DWORD>(table.Size - nUsed);
    if (cbPadding > 0 && !ReadAt(hFile, table.VirtualAddress + nUsed, padding, cbPadding))
        return kErrorInvalidImageHash;
    for (DWORD i = 0; i < cbPadding; ++i)
        if (padding[i] != 0)
            return kErrorInvalidImageHash;
    return ERROR_SUCCESS;
}
