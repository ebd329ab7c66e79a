#include "installer/KeptPackages.h"

#include "win/FileCopy.h"
#include "win/FileDisposition.h"
#include "win/FileHandles.h"
#include "win/KnownFolders.h"
#include "win/MyRegKey.h"
#include "win/WorkFolder.h"

#include <shlobj.h>

#include <vector>

namespace
{
constexpr wchar_t kKeptKey[] = L"SOFTWARE\\Vimo\\LumetUpdate\\Kept";
constexpr const wchar_t* kStoreLevels[] = {L"Vimo", L"LumetUpdate"};

// The common application-data folder, and the store's folder below it.
std::wstring CommonFolder() { return GetShellFolder(CSIDL_COMMON_APPDATA); }
std::wstring StorePath()
{
    const std::wstring strCommon = CommonFolder();
    return strCommon.empty() ? strCommon : strCommon + L"\\Vimo\\LumetUpdate";
}

// Deletes the folder name in hParent and the files in it, through handles;
// what cannot go stays.
void DeleteKeptFolder(HANDLE hParent, const std::wstring& strName)
{
    FolderEntry folder;
    if (!FindEntry(hParent, strName, folder))
        return;
    const OpenedEntry opened = OpenEntry(hParent, folder, DELETE);
    if (opened.eKind != EEntryKind::Folder)
        return;
    std::vector<FolderEntry> vecEntries;
    ListFolder(opened.h.Get(), vecEntries);
    for (const FolderEntry& entry : vecEntries)
    {
        const OpenedEntry file = OpenEntry(opened.h.Get(), entry, DELETE);
        if (file.eKind == EEntryKind::File)
            DeleteEntry(opened.h.Get(), entry, file);
    }
    DeleteByHandle(opened.h.Get(), opened.dwAttributes, false);
}

// The names of the keys below the record key.
std::vector<std::wstring> KeptProductCodes(const CMyRegKey& kept)
{
    std::vector<std::wstring> vecCodes;
    wchar_t szName[256];
    for (DWORD i = 0;; ++i)
    {
        DWORD cchName = 256;
        if (::RegEnumKeyExW(kept.Get(), i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        vecCodes.emplace_back(szName, cchName);
    }
    return vecCodes;
}
}

DWORD KeepPackage(const CopiedFile& installed, const std::wstring& strProductCode, bool bInstallerPackage)
{
    const std::wstring strCommon = CommonFolder();
    const size_t nName = installed.strPath.rfind(L'\\');
    if (strCommon.empty() || strProductCode.empty() || nName == std::wstring::npos)
        return ERROR_PATH_NOT_FOUND;
    const std::wstring strName = installed.strPath.substr(nName + 1);
    EFolderChain eChain;
    CHandle hLevel = OpenFolderChain(strCommon, 0, eChain);
    for (const wchar_t* pszLevel : kStoreLevels)
    {
        CHandle hNext;
        const DWORD dwOpened =
            hLevel.IsValid() ? OpenOrMakeOwnFolder(hLevel.Get(), pszLevel, false, false, hNext) : ERROR_PATH_NOT_FOUND;
        if (dwOpened != ERROR_SUCCESS)
            return dwOpened;
        hLevel = std::move(hNext);
    }

    // Earlier packages go, their records first, so that no record names a
    // file that is gone or half made.
    CMyRegKey kept;
    DWORD dwResult = kept.Create(HKEY_LOCAL_MACHINE, kKeptKey);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    for (const std::wstring& strCode : KeptProductCodes(kept))
    {
        ::RegDeleteKeyW(kept.Get(), strCode.c_str());
        DeleteKeptFolder(hLevel.Get(), strCode);
    }
    kept.Flush();
    DeleteKeptFolder(hLevel.Get(), strProductCode);

    CHandle hProduct;
    dwResult = OpenOrMakeOwnFolder(hLevel.Get(), strProductCode, false, false, hProduct);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    const CHandle hSource(::CreateFileW(installed.strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size = {};
    Sha256 digest = {};
    if (!hSource.IsValid() || !::GetFileSizeEx(hSource.Get(), &size))
        return ERROR_READ_FAULT;
    dwResult = CopyIntoFolder(hSource.Get(), size.QuadPart, hProduct.Get(), strName, digest);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    if (digest != installed.digest)
        return ERROR_INVALID_DATA; // the copy changed after its checks: nothing is recorded

    CMyRegKey record;
    dwResult = record.Create(kept.Get(), strProductCode.c_str());
    const ULONGLONG nSize = static_cast<ULONGLONG>(size.QuadPart);
    if (dwResult == ERROR_SUCCESS)
        dwResult = record.SetStringValue(L"FileName", strName);
    if (dwResult == ERROR_SUCCESS)
        dwResult = record.SetQwordValue(L"Size", nSize);
    if (dwResult == ERROR_SUCCESS)
        dwResult = record.SetBinaryValue(L"SHA256", digest.data(), static_cast<DWORD>(digest.size()));
    if (dwResult == ERROR_SUCCESS)
        dwResult = record.SetStringValue(L"Kind", bInstallerPackage ? L"msi" : L"program");
    if (dwResult == ERROR_SUCCESS)
        dwResult = record.Flush();
    return dwResult;
}

DWORD CopyKeptPackage(const std::wstring& strProductCode, HANDLE hFolder, const std::wstring& strFolder,
                      CopiedFile& copy, std::wstring& strKept)
{
    CMyRegKey record;
    std::wstring strName, strKind;
    ULONGLONG nSize = 0;
    Sha256 recorded = {};
    const std::wstring strRecord = std::wstring(kKeptKey) + L"\\" + strProductCode;
    if (record.Open(HKEY_LOCAL_MACHINE, strRecord.c_str()) != ERROR_SUCCESS ||
        record.QueryStringValue(L"FileName", strName) != ERROR_SUCCESS ||
        record.QueryStringValue(L"Kind", strKind) != ERROR_SUCCESS || strKind != L"msi" ||
        record.QueryQwordValue(L"Size", nSize) != ERROR_SUCCESS ||
        record.QueryBinaryValue(L"SHA256", recorded.data(), static_cast<DWORD>(recorded.size())) != ERROR_SUCCESS)
        return ERROR_NOT_FOUND;
    const std::wstring strStore = StorePath();
    if (strStore.empty() || strName.empty() || strName.find_first_of(L"\\/:") != std::wstring::npos)
        return ERROR_NOT_FOUND;

    // Opened from the drive's root, no level a link, the file itself checked
    // against the listing: then copied, and the copy is what is checked.
    EFolderChain eChain;
    const CHandle hProduct = OpenFolderChain(strStore + L"\\" + strProductCode, 0, eChain);
    FolderEntry entry;
    if (!hProduct.IsValid() || !FindEntry(hProduct.Get(), strName, entry))
        return ERROR_NOT_FOUND;
    const OpenedEntry kept = OpenEntry(hProduct.Get(), entry, GENERIC_READ, FILE_SHARE_READ);
    LARGE_INTEGER size = {};
    if (kept.eKind != EEntryKind::File || !::GetFileSizeEx(kept.h.Get(), &size) ||
        static_cast<ULONGLONG>(size.QuadPart) != nSize)
        return ERROR_INVALID_DATA;
    Sha256 digest = {};
    DWORD dwResult = CopyIntoFolder(kept.h.Get(), size.QuadPart, hFolder, entry.strName, digest);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    const std::wstring strCopy = strFolder + L"\\" + entry.strName;
    if (digest != recorded)
    {
        ::DeleteFileW(strCopy.c_str()); // in the run's own folder
        return ERROR_INVALID_DATA;
    }
    copy.strPath = strCopy;
    copy.digest = digest;
    strKept = strStore + L"\\" + strProductCode + L"\\" + entry.strName;
    return ERROR_SUCCESS;
}
