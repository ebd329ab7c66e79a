#include "win/Signature.h"

#include "win/ScopedHandle.h"
#include "win/SystemEntry.h"

#include <windows.h>
#include <psapi.h>
#include <softpub.h>
#include <wincrypt.h>
#include <winternl.h>
#include <wintrust.h>

namespace
{
using PfnNtAreMappedFilesTheSame = NTSTATUS(NTAPI*)(PVOID, PVOID);
using PfnNtOpenFile = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);

const PfnNtAreMappedFilesTheSame g_pfnNtAreMappedFilesTheSame =
    SystemEntry<PfnNtAreMappedFilesTheSame>(L"ntdll.dll", "NtAreMappedFilesTheSame");
const PfnNtOpenFile g_pfnNtOpenFile = SystemEntry<PfnNtOpenFile>(L"ntdll.dll", "NtOpenFile");

// The signature functions, from the system folder's DLLs on first use.
struct CTrustApi
{
    decltype(&::WinVerifyTrust) pfnWinVerifyTrust =
        SystemEntry<decltype(&::WinVerifyTrust)>(L"wintrust.dll", "WinVerifyTrust");
    decltype(&::WTHelperProvDataFromStateData) pfnProviderData =
        SystemEntry<decltype(&::WTHelperProvDataFromStateData)>(L"wintrust.dll", "WTHelperProvDataFromStateData");
    decltype(&::WTHelperGetProvSignerFromChain) pfnSigner =
        SystemEntry<decltype(&::WTHelperGetProvSignerFromChain)>(L"wintrust.dll", "WTHelperGetProvSignerFromChain");
    decltype(&::CertCompareCertificateName) pfnCompareName =
        SystemEntry<decltype(&::CertCompareCertificateName)>(L"crypt32.dll", "CertCompareCertificateName");

    bool IsComplete() const { return pfnWinVerifyTrust && pfnProviderData && pfnSigner && pfnCompareName; }
};

const CTrustApi& TrustApi()
{
    static const CTrustApi api;
    return api;
}

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
    CHandle hMapping(::CreateFileMappingW(hFile, nullptr, PAGE_READONLY, 0, 0, nullptr));
    void* pView = hMapping.IsValid() ? ::MapViewOfFile(hMapping.Get(), FILE_MAP_READ, 0, 0, 1) : nullptr;
    if (!pView)
        return false;
    const bool bSame = g_pfnNtAreMappedFilesTheSame(pBase, pView) == 0;
    ::UnmapViewOfFile(pView);
    return bSame;
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

DWORD VerifyFileSignature(const std::wstring& strPath, HANDLE hFile, CSignerName& signer)
{
    const CTrustApi& api = TrustApi();
    if (!api.IsComplete())
        return ERROR_PROC_NOT_FOUND;
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = strPath.c_str();
    file.hFile = hFile;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const auto hNoWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    const LONG lTrust = api.pfnWinVerifyTrust(hNoWindow, &action, &data);

    // The signer is read from the state of this very verification, so that
    // it is the signer of what was verified.
    DWORD dwResult = kErrorInvalidImageHash;
    CRYPT_PROVIDER_DATA* pProvider = lTrust == 0 ? api.pfnProviderData(data.hWVTStateData) : nullptr;
    const CRYPT_PROVIDER_SGNR* pSigner = pProvider ? api.pfnSigner(pProvider, 0, FALSE, 0) : nullptr;
    if (pSigner && pSigner->csCertChain > 0 && pSigner->pasCertChain[0].pCert)
    {
        const CERT_NAME_BLOB& subject = pSigner->pasCertChain[0].pCert->pCertInfo->Subject;
        if (subject.cbData > 0)
        {
            signer.assign(subject.pbData, subject.pbData + subject.cbData);
            dwResult = ERROR_SUCCESS;
        }
    }
    // Frees the state; its result says nothing of the file.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    api.pfnWinVerifyTrust(hNoWindow, &action, &data);
    return dwResult;
}

bool SameSigner(const CSignerName& a, const CSignerName& b)
{
    const CTrustApi& api = TrustApi();
    if (a.empty() || b.empty() || !api.IsComplete())
        return false;
    CERT_NAME_BLOB blobA = {static_cast<DWORD>(a.size()), const_cast<BYTE*>(a.data())};
    CERT_NAME_BLOB blobB = {static_cast<DWORD>(b.size()), const_cast<BYTE*>(b.data())};
    return api.pfnCompareName(X509_ASN_ENCODING, &blobA, &blobB) != FALSE;
}

DWORD ReadOwnSigner(CSignerName& signer)
{
    const HMODULE hImage = ::GetModuleHandleW(nullptr);
    // The header is mapped from the image and nobody else can write this
    // process's memory: it tells the truth about the running image.
    if (!ImageCarriesSignature(reinterpret_cast<const BYTE*>(hImage)))
    {
        signer.clear();
        return ERROR_SUCCESS;
    }

    // The name the program was started by, then the name the system gives
    // the image's mapping now, which is meant to follow a rename (Wine 8
    // keeps the first name: there the program then trusts no signer). Each
    // file is held without write or delete sharing while it is compared and
    // read, so that it stays what was compared.
    std::wstring strName(kMaxPath, L'\0');
    strName.resize(::GetModuleFileNameW(hImage, strName.data(), kMaxPath));
    CHandle h(::CreateFileW(strName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h.IsValid() || !IsFileOfImage(h.Get(), hImage))
    {
        strName.assign(kMaxPath, L'\0');
        strName.resize(::K32GetMappedFileNameW(::GetCurrentProcess(), hImage, strName.data(), kMaxPath));
        h = OpenByNtName(strName, FILE_SHARE_READ);
        if (!h.IsValid() || !IsFileOfImage(h.Get(), hImage))
            return ERROR_FILE_INVALID; // the image's file is at neither name now
    }
    return VerifyFileSignature(strName, h.Get(), signer);
}
