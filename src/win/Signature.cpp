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
    LUMET_SYSTEM_ENTRY(L"wintrust.dll", WinVerifyTrust);
    LUMET_SYSTEM_ENTRY(L"wintrust.dll", WTHelperProvDataFromStateData);
    LUMET_SYSTEM_ENTRY(L"wintrust.dll", WTHelperGetProvSignerFromChain);
    LUMET_SYSTEM_ENTRY(L"crypt32.dll", CertCompareCertificateName);

    bool IsComplete() const
    {
        return pfnWinVerifyTrust && pfnWTHelperProvDataFromStateData && pfnWTHelperGetProvSignerFromChain &&
               pfnCertCompareCertificateName;
    }
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
        m_lTrust = TrustApi().pfnWinVerifyTrust(kNoWindow, &m_action, &m_data);
    }
    ~CVerification()
    {
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        TrustApi().pfnWinVerifyTrust(kNoWindow, &m_action, &m_data);
    }
    CVerification(const CVerification&) = delete;
    CVerification& operator=(const CVerification&) = delete;

    // The signer of what was verified, from this verification's own state;
    // null when the signature is not valid.
    const CRYPT_PROVIDER_SGNR* Signer() const
    {
        CRYPT_PROVIDER_DATA* pProvider =
            m_lTrust == 0 ? TrustApi().pfnWTHelperProvDataFromStateData(m_data.hWVTStateData) : nullptr;
        return pProvider ? TrustApi().pfnWTHelperGetProvSignerFromChain(pProvider, 0, FALSE, 0) : nullptr;
    }

private:
    static inline const HWND kNoWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG m_lTrust = 0;
};
}

DWORD VerifyFileSignature(const std::wstring& strPath, HANDLE hFile, CSignerName& signer)
{
    if (!TrustApi().IsComplete())
        return ERROR_PROC_NOT_FOUND;
    const CVerification verification(strPath, hFile);
    const CRYPT_PROVIDER_SGNR* pSigner = verification.Signer();
    if (!pSigner || pSigner->csCertChain == 0 || !pSigner->pasCertChain[0].pCert)
        return kErrorInvalidImageHash;
    const CERT_NAME_BLOB& subject = pSigner->pasCertChain[0].pCert->pCertInfo->Subject;
    if (subject.cbData == 0)
        return kErrorInvalidImageHash;
    signer.assign(subject.pbData, subject.pbData + subject.cbData);
    return ERROR_SUCCESS;
}

bool SameSigner(const CSignerName& a, const CSignerName& b)
{
    const CTrustApi& api = TrustApi();
    if (a.empty() || b.empty() || !api.IsComplete())
        return false;
    CERT_NAME_BLOB blobA = {static_cast<DWORD>(a.size()), const_cast<BYTE*>(a.data())};
    CERT_NAME_BLOB blobB = {static_cast<DWORD>(b.size()), const_cast<BYTE*>(b.data())};
    return api.pfnCertCompareCertificateName(X509_ASN_ENCODING, &blobA, &blobB) != FALSE;
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
