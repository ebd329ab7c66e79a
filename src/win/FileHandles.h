#pragma once

#include "win/ScopedHandle.h"

#include <windows.h>
#include <winternl.h>

#include <string>
#include <string_view>
#include <vector>

// File work through handles instead of paths, for what the program deletes
// and writes with administrator rights in folders that others can change. A
// folder is opened once, listed through its handle, and its entries are
// opened relative to that handle, each on the entry itself (never through a
// link at its name) and checked against the listing. What was checked is then
// what is used: renaming a name into a link afterwards changes nothing. What
// is opened so is deleted and moved through its handle (win/FileDisposition.h).
//
// Functions returning DWORD return a Win32 error code, ERROR_SUCCESS meaning
// success.

// ntdll's NtCreateFile, looked up at run time; the program keeps it. Tests
// wrap it to change a folder between its listing and the opening of an entry.
using PfnNtCreateFile = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                         ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
extern PfnNtCreateFile g_pfnNtCreateFile;

// The Win32 error code of a status that one of ntdll's calls returned;
// ERROR_GEN_FAILURE for a failure where the system cannot convert it.
DWORD ToWin32Error(NTSTATUS status);

// Whether attributes and reparse tag describe a reparse point that names
// something elsewhere: a junction, symbolic link or mount point (a name
// surrogate). A reparse point with a reserved tag, which tells nothing of
// what it is, counts as one too: Wine reports Unix symbolic links so. Other
// reparse points (deduplicated files, cloud placeholders) are ordinary files
// and folders to the program.
bool IsLinkReparsePoint(DWORD dwAttributes, DWORD dwReparseTag);

// One entry of a folder as the folder's listing shows it.
struct FolderEntry
{
    std::wstring strName;
    std::wstring strShortName; // the 8.3 name, empty when there is none
    DWORD dwAttributes = 0;
    DWORD dwReparseTag = 0; // meaningful with FILE_ATTRIBUTE_REPARSE_POINT only
    LONGLONG nFileId = 0;   // 0 where the file system gives none
    FILETIME ftLastWrite = {};
};

// The entries of the folder open as hFolder (with FILE_LIST_DIRECTORY and
// synchronous access), without "." and "..", in the file system's order.
// False when the listing failed; vecEntries then holds what was read.
bool ListFolder(HANDLE hFolder, std::vector<FolderEntry>& vecEntries);

// Opens name inside the folder hFolder relative to that handle, on the entry
// itself when it is a reparse point (FILE_OPEN_REPARSE_POINT), with
// synchronous I/O. name is one level: no separators. On failure h is left
// as it was.
DWORD OpenRelative(HANDLE hFolder, std::wstring_view name, ACCESS_MASK access, ULONG ulShare, ULONG ulDisposition,
                   ULONG ulOptions, CHandle& h, PSECURITY_DESCRIPTOR pSecurity = nullptr);

// What a listed entry turned out to be when it was opened.
enum class EEntryKind
{
    Unopened, // could not be opened (in use without sharing, no rights, gone)
    Changed,  // the object opened is not the one listed: no handle is kept
    Link,     // a link; the handle, when there is one, is on the link itself
    Folder,
    File,
};

struct OpenedEntry
{
    CHandle h;
    EEntryKind eKind = EEntryKind::Unopened;
    DWORD dwAttributes = 0; // as the handle reports them
};

// Opens a listed entry of hFolder relative to it with the given access (plus
// attribute reading, and listing for a folder), shared as ulShare says, with
// the create options ulOptions (FILE_OPEN_FOR_BACKUP_INTENT, say). An
// entry that the listing or the handle shows as a link is a Link; when the
// platform opened what the link points to instead of the link, no handle is
// kept. An entry whose file id or kind differs from the listing's is Changed.
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
OpenedEntry OpenEntry(HANDLE hFolder, const FolderEntry& entry, ACCESS_MASK access, ULONG ulShare = kShareAll,
                      ULONG ulOptions = 0);

enum class EFolderChain
{
    Opened,
    Missing, // a level is missing, is no folder or could not be opened
    Link,    // a level is a link, or changed while it was looked at
};

// Opens the folder strPath (a full path from a drive, "X:\...") for listing,
// level by level from the drive's root, each level found in the listing of the one
// above and opened relative to it with OpenEntry. The last nCreatable levels
// are created where they are missing. No level is ever a link: the result
// is an invalid handle then, and eResult says why. With pvecHeld, every
// level is opened without delete sharing, and the levels above the folder
// are kept open there: while they are, no level can be renamed or replaced.
// Levels that are there are opened with extraAccess too (READ_CONTROL, say).
CHandle OpenFolderChain(const std::wstring& strPath, size_t nCreatable, EFolderChain& eResult,
                        std::vector<CHandle>* pvecHeld = nullptr, ACCESS_MASK extraAccess = 0);

// Finds the entry called name (ignoring case, long or 8.3 name) in the
// listing of hFolder.
bool FindEntry(HANDLE hFolder, std::wstring_view name, FolderEntry& entry);
