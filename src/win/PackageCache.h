#pragma once

#include "win/Hash.h"
#include "win/ScopedHandle.h"

#include <windows.h>

#include <string>
#include <string_view>

// The update's own package cache, where only administrators can change
// anything: a folder of its own directly below the common application-data
// folder, as the system's package caches are, and never below Vimo, which
// holds the application's data and may have been made by a user.
//
//   LumetUpdate\                 the cache
//   LumetUpdate\Lock             held without sharing by the one update that runs
//   LumetUpdate\Runs\{GUID}\     one run's folder: the copies of the package
//                                (Package\) and of the restore package
//                                (Restore\), the updater's copy that resumes it
//                                (LumetUpdate.exe), the temporary folder of the
//                                programs it starts (Temp\), what waits for the
//                                restart (1, 2, ...), and the installer's logs
//                                where they can go nowhere else (VimoLog\)
//
// After a successful update the run's folder keeps the installed package, the
// installed product's install source and the next update's restore package.
// Every level is reached from the drive's root through handles, never
// through a link. The cache is trusted as the administrators' when its list
// says so, or when it is the very folder the update made, as the file id
// recorded under the updater's key says (Wine keeps no access lists); any
// other folder at its name is moved aside and the cache made anew. What the
// cache holds is trusted only by the SHA-256 its records hold.

// The updater's own key under HKEY_LOCAL_MACHINE, only the administrators',
// and its records there: each run's plan, each kept package.
constexpr wchar_t kUpdaterKey[] = L"SOFTWARE\\Vimo\\LumetUpdate";
constexpr wchar_t kRunsKey[] = L"SOFTWARE\\Vimo\\LumetUpdate\\Runs";
constexpr wchar_t kKeptKey[] = L"SOFTWARE\\Vimo\\LumetUpdate\\Kept";

// The cache's folder of runs, and the names in a run's folder.
constexpr wchar_t kRunsFolder[] = L"Runs";
constexpr wchar_t kPackageFolder[] = L"Package";
constexpr wchar_t kRestoreFolder[] = L"Restore";
constexpr wchar_t kTempFolder[] = L"Temp";
constexpr wchar_t kUpdaterCopy[] = L"LumetUpdate.exe";

// The cache's path: "<common application data>\LumetUpdate"; empty when the
// system does not say where that folder is.
std::wstring CachePath();

// Opens the cache (for listing, adding and deleting, without delete sharing),
// its path in strCache. With bMake the cache is made where missing or not
// trusted; without it, ERROR_PATH_NOT_FOUND where it is missing and
// ERROR_ACCESS_DENIED where what is there is not the update's own.
DWORD OpenCache(bool bMake, CHandle& hCache, std::wstring& strCache);

// How the update's own folders are opened: for listing, adding and deleting,
// shared for reading and writing but never for deleting or renaming.
constexpr ACCESS_MASK kOwnFolderAccess =
    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | DELETE;
constexpr ULONG kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Opens the folder name inside hParent as kOwnFolderAccess gives, made with
// ulDisposition (FILE_CREATE, or FILE_OPEN_IF) for the administrators alone;
// with bUserReads users may read it too.
DWORD MakeOwnFolder(HANDLE hParent, std::wstring_view name, ULONG ulDisposition, bool bUserReads, CHandle& hFolder);

// Opens the folder name inside hParent, a level of the cache: with bMake for
// listing, adding and deleting, without delete sharing, made where missing,
// for the administrators alone; without it only for listing, shared with
// every other handle on it. Only administrators can make
// anything inside the cache: a folder there is the update's own.
DWORD OpenCacheFolder(HANDLE hParent, std::wstring_view name, bool bMake, CHandle& hFolder);

// Takes the cache's lock: ERROR_SHARING_VIOLATION while another update holds
// it. Held as long as hLock is open.
DWORD TakeUpdateLock(HANDLE hCache, CHandle& hLock);

// Whether another update holds the cache's lock now.
bool IsUpdateInProgress();

// The full path of a path relative to the cache ("Runs\{GUID}\Package\x.msi"),
// and back: empty when strPath does not lie in the cache.
std::wstring InCache(const std::wstring& strRelative);
std::wstring RelativeToCache(const std::wstring& strPath);

// Opens the file at strRelative in the cache, level by level from the cache
// through handles, for reading, shared for reading only (so that nobody
// writes or deletes it while it is held), and checks it against its record:
// exactly nSize bytes (when nSize is not 0) with the SHA-256 digest.
// ERROR_SUCCESS with the file held in hFile; ERROR_FILE_NOT_FOUND when it is
// not there; ERROR_INVALID_DATA when it is not what was recorded.
DWORD OpenCachedFile(const std::wstring& strRelative, ULONGLONG nSize, const Sha256& digest, CHandle& hFile);
