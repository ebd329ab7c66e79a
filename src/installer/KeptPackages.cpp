#include "installer/KeptPackages.h"

#include "installer/MsiPackage.h"
#include "win/MyRegKey.h"
#include "win/PackageCache.h"
#include "win/RegistryRecord.h"

namespace
{
constexpr wchar_t kInstallerPackageKind[] = L"msi";

// What is recorded of a kept package.
struct KeptRecord
{
    std::wstring strPath; // in the cache
    std::wstring strKind; // "msi", or "program" for an installer program
    ULONGLONG nSize = 0;
    Sha256 digest = {};
};
constexpr RecordValue<KeptRecord> kKeptValues[] = {{L"Path", &KeptRecord::strPath},
                                                   {L"Kind", &KeptRecord::strKind},
                                                   {.pszName = L"Size", .pNumber = &KeptRecord::nSize},
                                                   {.pszName = L"SHA256", .pDigest = &KeptRecord::digest}};

// The run folder a path in the cache lies in: "Runs\{GUID}\..." gives {GUID}.
std::wstring RunFolderOf(const std::wstring& strRelative)
{
    const std::wstring strRuns = std::wstring(kRunsFolder) + L"\\";
    if (!strRelative.starts_with(strRuns))
        return std::wstring();
    const size_t nEnd = strRelative.find(L'\\', strRuns.size());
    return nEnd == std::wstring::npos ? std::wstring() : strRelative.substr(strRuns.size(), nEnd - strRuns.size());
}
}

DWORD KeepPackage(const CopiedFile& installed, const std::wstring& strProductCode, bool bInstallerPackage)
{
    const std::wstring strRelative = RelativeToCache(installed.strPath);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (strProductCode.empty() || RunFolderOf(strRelative).empty() ||
        !::GetFileAttributesExW(installed.strPath.c_str(), GetFileExInfoStandard, &data))
        return ERROR_PATH_NOT_FOUND;
    const KeptRecord kept = {strRelative, bInstallerPackage ? kInstallerPackageKind : L"program",
                             (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, installed.digest};

    CMyRegKey keys, record;
    DWORD dwResult = keys.Create(HKEY_LOCAL_MACHINE, kKeptKey);
    if (dwResult == ERROR_SUCCESS)
        dwResult = record.Create(keys.Get(), strProductCode.c_str());
    if (dwResult == ERROR_SUCCESS)
        dwResult = WriteRecord(record, kept, kKeptValues);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    // Only now the packages kept before are forgotten: a power loss in between
    // leaves two records, never none.
    for (const std::wstring& strCode : keys.SubKeyNames())
        if (strCode != strProductCode)
            ::RegDeleteKeyW(keys.Get(), strCode.c_str());
    return keys.Flush();
}

DWORD OpenKeptPackage(const std::wstring& strProductCode, CopiedFile& kept, CHandle& hHeld)
{
    CMyRegKey key;
    KeptRecord record;
    const std::wstring strRecord = std::wstring(kKeptKey) + L"\\" + strProductCode;
    if (strProductCode.empty() || key.Open(HKEY_LOCAL_MACHINE, strRecord.c_str()) != ERROR_SUCCESS ||
        ReadRecord(key, record, kKeptValues) != ERROR_SUCCESS || record.strKind != kInstallerPackageKind)
        return ERROR_NOT_FOUND;
    CHandle hFile;
    const DWORD dwOpened = OpenCachedFile(record.strPath, record.nSize, record.digest, hFile);
    if (dwOpened != ERROR_SUCCESS)
        return dwOpened == ERROR_FILE_NOT_FOUND ? ERROR_NOT_FOUND : dwOpened;
    hHeld = std::move(hFile);
    kept.strPath = InCache(record.strPath);
    kept.digest = record.digest;
    return ERROR_SUCCESS;
}

std::vector<std::wstring> KeptRunFolders()
{
    std::vector<std::wstring> vecFolders;
    CMyRegKey kept;
    if (kept.Open(HKEY_LOCAL_MACHINE, kKeptKey, 0, KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return vecFolders;
    for (const std::wstring& strCode : kept.SubKeyNames())
    {
        // The package of a product no longer installed is kept for nothing.
        if (!IsProductInstalled(strCode))
        {
            ::RegDeleteKeyW(kept.Get(), strCode.c_str());
            continue;
        }
        CMyRegKey record;
        std::wstring strRelative;
        if (record.Open(kept.Get(), strCode.c_str()) == ERROR_SUCCESS &&
            record.QueryStringValue(L"Path", strRelative) == ERROR_SUCCESS && !RunFolderOf(strRelative).empty())
            vecFolders.push_back(RunFolderOf(strRelative));
    }
    return vecFolders;
}
