#include "installer/PackageCheck.h"

#include "installer/InstallerRuns.h"
#include "log/Log.h"
#include "win/FileCopy.h"
#include "win/FileHandles.h"
#include "win/PackageCache.h"
#include "win/ScopedHandle.h"
#include "win/Text.h"
#include "win/WorkerThread.h"

#include <windows.h>

#include <memory>
#include <vector>

namespace
{
// What an open of the package by its path says about the package.
DWORD RefusalOfOpen(DWORD dwError)
{
    switch (dwError)
    {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ERROR_FILE_NOT_FOUND;
    case ERROR_INVALID_NAME:
        return ERROR_BAD_PATHNAME;
    default: // in use for writing, no access, a folder
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    }
}

// The file's own name, as the file system has it; empty when unknown.
std::wstring NameOf(HANDLE h)
{
    std::vector<LONGLONG> buffer((sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t)) / sizeof(LONGLONG));
    auto* pInfo = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!::GetFileInformationByHandleEx(h, FileNameInfo, pInfo, static_cast<DWORD>(buffer.size() * sizeof(LONGLONG))))
        return std::wstring();
    const std::wstring_view path(pInfo->FileName, pInfo->FileNameLength / sizeof(wchar_t));
    return std::wstring(path.substr(path.rfind(L'\\') + 1));
}
}

const wchar_t* ReasonOfRefusal(DWORD dwCode)
{
    for (const Refusal& refusal : kRefusals)
        if (refusal.dwCode == dwCode)
            return refusal.pszReason;
    return nullptr;
}

bool IsRefusalCode(DWORD dwCode) { return dwCode != ERROR_INSTALL_ALREADY_RUNNING && ReasonOfRefusal(dwCode); }

DWORD CheckPackagePath(std::wstring_view package)
{
    if (package.empty())
        return ERROR_INVALID_COMMAND_LINE;
    size_t nRoot = StartsWithDriveRoot(package) ? 3 : 0;
    if (package.starts_with(L"\\\\"))
    {
        // "\\server\share\": "?" and "." are no servers but device prefixes.
        const size_t nServerEnd = package.find(L'\\', 2);
        const size_t nShareEnd =
            nServerEnd == std::wstring_view::npos ? nServerEnd : package.find(L'\\', nServerEnd + 1);
        const std::wstring_view server = package.substr(2, nServerEnd - 2);
        if (nShareEnd != std::wstring_view::npos && !server.empty() && nShareEnd > nServerEnd + 1 && server != L"?" &&
            server != L".")
            nRoot = nShareEnd + 1;
    }
    const std::wstring_view rest = package.substr(nRoot);
    if (nRoot == 0 || rest.empty() || rest.back() == L'\\')
        return ERROR_BAD_PATHNAME;
    for (const wchar_t ch : rest)
    {
        // A colon would name a stream of the file, '/' a second separator
        // that the shape above does not see.
        if (ch < 32 || std::wstring_view(L":*?\"<>|/").find(ch) != std::wstring_view::npos)
            return ERROR_BAD_PATHNAME;
    }
    return ERROR_SUCCESS;
}

DWORD CopyPackage(const std::wstring& strPackage, HANDLE hFolder, const std::wstring& strFolder, CopiedFile& copy)
{
    // Shared for reading only: an open that would write it fails from now on,
    // and this one fails while anyone has it open for writing.
    CHandle hSource(::CreateFileW(strPackage.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hSource.IsValid())
        return RefusalOfOpen(::GetLastError());
    // A folder does not open so (that takes FILE_FLAG_BACKUP_SEMANTICS); a
    // device does, and a link opens as itself.
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (::GetFileType(hSource.Get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandleEx(hSource.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        IsLinkReparsePoint(tag.FileAttributes, tag.ReparseTag))
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    const std::wstring strName = NameOf(hSource.Get());
    if (strName.empty() || strName.find(L':') != std::wstring::npos)
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    Sha256 digest = {};
    const DWORD dwCopied = CopyIntoFolder(hSource.Get(), hFolder, strName, digest);
    if (dwCopied != ERROR_SUCCESS)
        return dwCopied == ERROR_READ_FAULT ? ERROR_INSTALL_PACKAGE_OPEN_FAILED : dwCopied;
    copy.strPath = strFolder + (strFolder.ends_with(L'\\') ? L"" : L"\\") + strName;
    copy.digest = digest;
    return ERROR_SUCCESS;
}

DWORD CheckPackageSigner(const std::wstring& strCopy, const Signer& own, bool& bRevocationChecked)
{
    if (own.IsEmpty())
        return ERROR_SUCCESS;
    CHandle hCopy(::CreateFileW(strCopy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!hCopy.IsValid())
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    if (!IsInstallerPackageName(strCopy) && CheckCertificateTable(hCopy.Get()) != ERROR_SUCCESS)
        return kErrorInvalidImageHash;
    Signer signer;
    const DWORD dwVerified = VerifyFileSignature(strCopy, hCopy.Get(), signer, bRevocationChecked);
    if (dwVerified != ERROR_SUCCESS)
        return dwVerified;
    return SameSigner(signer, own) ? ERROR_SUCCESS : ERROR_INSTALL_PACKAGE_REJECTED;
}

DWORD CheckRelease(const PackageIdentity& package, const std::wstring& strInstalledCode, bool& bCompared)
{
    bCompared = !strInstalledCode.empty() && IsProductInstalled(strInstalledCode);
    if (!bCompared)
        return ERROR_SUCCESS;
    if (!IsRelatedProduct(package.strUpgradeCode, strInstalledCode))
        return ERROR_PATCH_TARGET_NOT_FOUND;
    const std::wstring strInstalled = GetInstalledProductProperty(strInstalledCode, L"VersionString");
    return CompareVersions(package.strProductVersion, strInstalled) < 0 ? ERROR_PRODUCT_VERSION : ERROR_SUCCESS;
}

namespace
{
// The updater's own signer, read on a thread of its own.
struct OwnSigner
{
    Signer signer;
    DWORD dwRead = ERROR_NOT_READY;
};

// Starts reading it; reads it here when no thread can be had.
std::unique_ptr<CWorkerThread> StartReadingOwnSigner(OwnSigner& own)
{
    std::unique_ptr<CWorkerThread> pReader = CWorkerThread::BeginSuspended(
        [](void* pParam) -> UINT {
            auto& ownSigner = *static_cast<OwnSigner*>(pParam);
            ownSigner.dwRead = ReadOwnSigner(ownSigner.signer);
            return 0;
        },
        &own);
    if (!pReader || !pReader->Resume())
    {
        pReader.reset();
        own.dwRead = ReadOwnSigner(own.signer);
    }
    return pReader;
}

// What a package that passed its checks leaves unchecked, for the log.
struct Unchecked
{
    bool bPublisher = false;  // the updater is not signed
    bool bRevocation = false; // no revocation server answered
    const wchar_t* pszRelease = nullptr;
};

DWORD CheckNewPackage(const std::wstring& strPackage, const std::wstring& strInstalledCode, CWorkFolder& work,
                      PreparedPackage& prepared, Unchecked& unchecked)
{
    // A package that is not there makes no folder.
    if (::GetFileAttributesW(strPackage.c_str()) == INVALID_FILE_ATTRIBUTES)
        return RefusalOfOpen(::GetLastError());
    OwnSigner own;
    std::unique_ptr<CWorkerThread> pReader = StartReadingOwnSigner(own);
    CHandle hFolder;
    std::wstring strFolder;
    const DWORD dwFolder = work.OpenSubFolder(kPackageFolder, hFolder, strFolder);
    if (dwFolder == ERROR_SHARING_VIOLATION)
        return ERROR_INSTALL_ALREADY_RUNNING;
    if (dwFolder != ERROR_SUCCESS)
        return ERROR_INSTALL_TEMP_UNWRITABLE;
    DWORD dwResult = CopyPackage(strPackage, hFolder.Get(), strFolder, prepared.copy);
    if (dwResult != ERROR_SUCCESS)
    {
        const bool bPackageFault = dwResult == ERROR_FILE_NOT_FOUND || dwResult == ERROR_BAD_PATHNAME ||
                                   dwResult == ERROR_INSTALL_PACKAGE_OPEN_FAILED;
        return bPackageFault ? dwResult : ERROR_INSTALL_TEMP_UNWRITABLE;
    }
    const std::wstring& strCopy = prepared.copy.strPath;
    const bool bInstallerPackage = IsInstallerPackageName(strCopy);
    // The Windows Installer's reader was seen never to return on a package
    // cut short, and the signature check of a package reads it as one.
    if (bInstallerPackage && !IsWholeCompoundFile(strCopy))
        return ERROR_INSTALL_PACKAGE_INVALID;
    pReader.reset(); // waits for the reader
    // Without its own signer the updater cannot know whose packages to take:
    // it takes none, as for a package without a valid signature.
    if (own.dwRead != ERROR_SUCCESS)
        return kErrorInvalidImageHash;
    prepared.own = own.signer;
    bool bRevocationChecked = true;
    dwResult = CheckPackageSigner(strCopy, own.signer, bRevocationChecked);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    unchecked.bPublisher = own.signer.IsEmpty();
    unchecked.bRevocation = !own.signer.IsEmpty() && !bRevocationChecked;
    if (!bInstallerPackage)
    {
        unchecked.pszRelease = L"an installer program";
        return ERROR_SUCCESS;
    }
    dwResult = CheckInstallerPackage(strCopy);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    if (!ReadPackageIdentity(strCopy, prepared.identity))
        return ERROR_INSTALL_PACKAGE_INVALID;
    bool bCompared = false;
    dwResult = CheckRelease(prepared.identity, strInstalledCode, bCompared);
    if (!bCompared)
        unchecked.pszRelease = L"no installed release that the Windows Installer knows";
    return dwResult;
}
}

DWORD PreparePackage(const std::wstring& strPackage, const std::wstring& strInstalledCode, CWorkFolder& work,
                     PreparedPackage& prepared)
{
    DWORD dwResult = CheckPackagePath(strPackage);
    Unchecked unchecked;
    if (dwResult == ERROR_SUCCESS)
        dwResult = CheckNewPackage(strPackage, strInstalledCode, work, prepared, unchecked);
    if (dwResult != ERROR_SUCCESS)
    {
        // A failure that is no refusal of its own is one of the run's folder.
        const wchar_t* pszReason = ReasonOfRefusal(dwResult);
        if (!pszReason)
        {
            dwResult = ERROR_INSTALL_TEMP_UNWRITABLE;
            pszReason = ReasonOfRefusal(dwResult);
        }
        WriteLog(std::wstring(L"Update refused: ") + pszReason + L": " + strPackage + L"\r\n");
        return dwResult;
    }
    if (unchecked.bPublisher)
        WriteLog(L"No publisher checked: this updater is not signed.\r\n");
    if (unchecked.bRevocation)
        WriteLog(L"Revocation not checked: " + strPackage + L"\r\n");
    if (unchecked.pszRelease)
        WriteLog(std::wstring(L"Release not compared: ") + unchecked.pszRelease + L"\r\n");
    return ERROR_SUCCESS;
}
