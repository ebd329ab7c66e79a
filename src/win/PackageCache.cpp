#include "win/PackageCache.h"

#include "win/FileCopy.h"
#include "win/FileDisposition.h"
#include "win/FileHandles.h"
#include "win/KnownFolders.h"
#include "win/MyRegKey.h"
#include "win/Security.h"
#include "win/Text.h"

#include <shlobj.h>

namespace
{
constexpr wchar_t kCacheName[] = L"LumetUpdate";
constexpr wchar_t kLockName[] = L"Lock";
// The cache folder the update made, as its file id: 8 bytes. Its place fixes
// the volume (whose serial Wine reports as 0 to a service started early).
constexpr wchar_t kCacheIdValue[] = L"CacheFolderId";

using FolderId = std::array<BYTE, 8>;

bool IdOf(HANDLE h, FolderId& id)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(h, &info))
        return false;
    const DWORD parts[] = {info.nFileIndexHigh, info.nFileIndexLow};
    static_assert(sizeof(parts) == sizeof(FolderId));
    memcpy(id.data(), parts, sizeof(parts));
    return true;
}

// Whether the folder open as h is the cache the update made: the one whose
// id it recorded when it made it.
bool IsRecordedCache(HANDLE h)
{
    FolderId id = {}, recorded = {};
    CMyRegKey key;
    return IdOf(h, id) && key.Open(HKEY_LOCAL_MACHINE, kUpdaterKey) == ERROR_SUCCESS &&
           key.QueryBinaryValue(kCacheIdValue, recorded.data(), static_cast<DWORD>(recorded.size())) == ERROR_SUCCESS &&
           id == recorded;
}

DWORD RecordCache(HANDLE h)
{
    FolderId id = {};
    if (!IdOf(h, id))
        return ::GetLastError();
    CMyRegKey key;
    DWORD dwResult = key.Create(HKEY_LOCAL_MACHINE, kUpdaterKey);
    if (dwResult == ERROR_SUCCESS)
        dwResult = key.SetBinaryValue(kCacheIdValue, id.data(), static_cast<DWORD>(id.size()));
    return dwResult == ERROR_SUCCESS ? key.Flush() : dwResult;
}

// Opens a level that is there when it is a folder of the cache's trust;
// bAside when it is not, and was moved aside, with bMake.
DWORD OpenTrustedCache(HANDLE hParent, const FolderEntry& entry, bool bMake, CHandle& hCache, bool& bAside)
{
    OpenedEntry opened = OpenEntry(hParent, entry, kOwnFolderAccess | READ_CONTROL, kShareNoDelete);
    if (opened.eKind == EEntryKind::Folder && (IsAdministratorsOnly(opened.h.Get()) || IsRecordedCache(opened.h.Get())))
    {
        hCache = std::move(opened.h);
        return ERROR_SUCCESS;
    }
    if (!bMake)
        return ERROR_ACCESS_DENIED;
    bAside = true;
    // Anything else at the cache's name (a folder a user made first, a link,
    // a file) is moved aside as what it is, through its own handle, when the
    // cache is to be made.
    const std::wstring strAside = UniqueName(kCacheName);
    if (!opened.h.IsValid() || strAside.empty())
        return ERROR_CANT_ACCESS_FILE;
    return MoveByHandle(opened.h.Get(), hParent, strAside);
}
}

std::wstring CachePath()
{
    const std::wstring strCommon = GetShellFolder(CSIDL_COMMON_APPDATA);
    return strCommon.empty() ? strCommon : strCommon + L"\\" + kCacheName;
}

DWORD OpenCache(bool bMake, CHandle& hCache, std::wstring& strCache)
{
    const std::wstring strPath = CachePath();
    if (strPath.empty())
        return ERROR_PATH_NOT_FOUND;
    EFolderChain eChain;
    const CHandle hCommon = OpenFolderChain(strPath.substr(0, strPath.rfind(L'\\')), 0, eChain);
    if (!hCommon.IsValid())
        return ERROR_PATH_NOT_FOUND;
    FolderEntry entry;
    bool bAside = false;
    if (FindEntry(hCommon.Get(), kCacheName, entry))
    {
        const DWORD dwOpened = OpenTrustedCache(hCommon.Get(), entry, bMake, hCache, bAside);
        if (dwOpened == ERROR_SUCCESS && !bAside)
        {
            strCache = strPath;
            return ERROR_SUCCESS;
        }
        if (dwOpened != ERROR_SUCCESS)
            return dwOpened;
    }
    if (!bMake)
        return ERROR_PATH_NOT_FOUND;
    CHandle hMade;
    DWORD dwResult = MakeOwnFolder(hCommon.Get(), kCacheName, FILE_CREATE, false, hMade);
    if (dwResult == ERROR_SUCCESS)
        dwResult = RecordCache(hMade.Get());
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    hCache = std::move(hMade);
    strCache = strPath;
    return ERROR_SUCCESS;
}

DWORD OpenCacheFolder(HANDLE hParent, std::wstring_view name, bool bMake, CHandle& hFolder)
{
    FolderEntry entry;
    if (FindEntry(hParent, name, entry))
    {
        // Only to look in, it leaves others their handles on it.
        OpenedEntry opened = bMake ? OpenEntry(hParent, entry, kOwnFolderAccess, kShareNoDelete)
                                   : OpenEntry(hParent, entry, FILE_LIST_DIRECTORY | FILE_TRAVERSE);
        if (opened.eKind != EEntryKind::Folder)
            return ERROR_PATH_NOT_FOUND;
        hFolder = std::move(opened.h);
        return ERROR_SUCCESS;
    }
    return bMake ? MakeOwnFolder(hParent, name, FILE_CREATE, false, hFolder) : ERROR_PATH_NOT_FOUND;
}

DWORD MakeOwnFolder(HANDLE hParent, std::wstring_view name, ULONG ulDisposition, bool bUserReads, CHandle& hFolder)
{
    const CLocalMemory<PSECURITY_DESCRIPTOR> pSecurity = MakeAdministratorsOnlySecurity(bUserReads);
    if (!pSecurity.IsValid())
        return ERROR_INVALID_SECURITY_DESCR;
    return OpenRelative(hParent, name, kOwnFolderAccess, kShareNoDelete, ulDisposition, FILE_DIRECTORY_FILE, hFolder,
                        pSecurity.Get());
}

DWORD TakeUpdateLock(HANDLE hCache, CHandle& hLock)
{
    const CLocalMemory<PSECURITY_DESCRIPTOR> pSecurity = MakeAdministratorsOnlySecurity(false);
    if (!pSecurity.IsValid())
        return ERROR_INVALID_SECURITY_DESCR;
    return OpenRelative(hCache, kLockName, GENERIC_READ, 0, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE, hLock,
                        pSecurity.Get());
}

bool IsUpdateInProgress()
{
    CHandle hCache, hLock;
    std::wstring strCache;
    return OpenCache(false, hCache, strCache) == ERROR_SUCCESS &&
           TakeUpdateLock(hCache.Get(), hLock) == ERROR_SHARING_VIOLATION;
}

std::wstring InCache(const std::wstring& strRelative)
{
    const std::wstring strCache = CachePath();
    return strCache.empty() || strRelative.empty() ? std::wstring() : strCache + L"\\" + strRelative;
}

std::wstring RelativeToCache(const std::wstring& strPath)
{
    const std::wstring strCache = CachePath() + L"\\";
    if (strCache.size() < 2 || strPath.size() <= strCache.size() ||
        ::CompareStringOrdinal(strPath.c_str(), static_cast<int>(strCache.size()), strCache.c_str(),
                               static_cast<int>(strCache.size()), TRUE) != CSTR_EQUAL)
        return std::wstring();
    return strPath.substr(strCache.size());
}

DWORD OpenCachedFile(const std::wstring& strRelative, ULONGLONG nSize, const Sha256& digest, CHandle& hFile)
{
    CHandle hLevel;
    std::wstring strCache;
    if (strRelative.empty() || OpenCache(false, hLevel, strCache) != ERROR_SUCCESS)
        return ERROR_FILE_NOT_FOUND;
    // Level by level, each found in the listing of the one above.
    size_t nStart = 0;
    for (size_t nSlash; (nSlash = strRelative.find(L'\\', nStart)) != std::wstring::npos; nStart = nSlash + 1)
    {
        CHandle hNext;
        if (OpenCacheFolder(hLevel.Get(), std::wstring_view(strRelative).substr(nStart, nSlash - nStart), false,
                            hNext) != ERROR_SUCCESS)
            return ERROR_FILE_NOT_FOUND;
        hLevel = std::move(hNext);
    }
    FolderEntry entry;
    if (!FindEntry(hLevel.Get(), std::wstring_view(strRelative).substr(nStart), entry))
        return ERROR_FILE_NOT_FOUND;
    OpenedEntry opened = OpenEntry(hLevel.Get(), entry, GENERIC_READ, FILE_SHARE_READ);
    LARGE_INTEGER size = {};
    Sha256 actual = {};
    if (opened.eKind != EEntryKind::File || !::GetFileSizeEx(opened.h.Get(), &size) ||
        (nSize != 0 && static_cast<ULONGLONG>(size.QuadPart) != nSize) ||
        HashFile(opened.h.Get(), actual) != ERROR_SUCCESS || actual != digest)
        return ERROR_INVALID_DATA;
    hFile = std::move(opened.h);
    return ERROR_SUCCESS;
}
