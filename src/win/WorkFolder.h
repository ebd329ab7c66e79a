#pragma once

#include "win/ScopedHandle.h"

#include <windows.h>

#include <string>
#include <string_view>

// The folder of this run's own, in the update's package cache
// (win/PackageCache.h): Runs\{GUID}, made with FILE_CREATE under a name
// nobody can guess, owned by the administrators, with a protected access list
// that lets only them and SYSTEM in, below folders that are theirs alone, so
// that nothing in it can be replaced, renamed or redirected by anyone else,
// before a restart or after. It holds the copy of the package that is
// installed, the copy of the restore package, the updater's copy that
// resumes the run, the temporary files of the programs the update starts,
// what waits for the restart to be deleted, and the installer's logs when
// they can go nowhere else. The run holds the cache's lock while it holds
// its folder: one update at a time.
//
// Functions returning DWORD return a Win32 error code, ERROR_SUCCESS meaning
// success.
class CWorkFolder
{
public:
    CWorkFolder() = default;
    CWorkFolder(const CWorkFolder&) = delete;
    CWorkFolder& operator=(const CWorkFolder&) = delete;

    // Makes the folder on the first call; every later call gives the same
    // result. ERROR_SHARING_VIOLATION while another update holds the cache.
    DWORD Create();
    // Opens instead the folder of an earlier run, by its GUID, from the
    // drive's root, no level a link, taking the cache's lock. Nothing in it is trusted for
    // being there: whoever uses what it holds checks it first.
    DWORD OpenExisting(const std::wstring& strGuid);
    HANDLE Handle() const { return m_hFolder.Get(); }
    const std::wstring& Path() const { return m_strPath; }
    // The GUID in the folder's name, braced.
    const std::wstring& Guid() const { return m_strGuid; }

    // Makes the folder pszName inside it, with the same access list, or
    // opens it when it was made before; open for listing and adding, its path
    // in strPath.
    DWORD OpenSubFolder(const wchar_t* pszName, CHandle& hFolder, std::wstring& strPath);

    // Moves what hItem is open on (with DELETE, on this volume) into the
    // folder under a new name and hands that name to the system for deletion
    // at the next restart. strStaged receives the new name's path once the
    // item is moved, even when it could not be handed over (the result then
    // says why); on every other failure the item stays where it was.
    DWORD HandOver(HANDLE hItem, std::wstring& strStaged);

    // Whether anything waits for the restart to be deleted.
    bool HandedOver() const { return m_bHandedOver; }

    // The end of the run, once everything in the sub-folders that can go has
    // gone: empty sub-folders are deleted, then the folder itself when it is
    // empty; otherwise it is handed to the restart after what it holds (a
    // folder that still holds something then stays, with the installer's
    // logs, say), unless bKeepsPackage: it keeps the installed package.
    void Finish(bool bKeepsPackage);

private:
    CHandle m_hLock; // the cache's
    CHandle m_hFolder;
    std::wstring m_strPath;
    std::wstring m_strGuid;
    DWORD m_dwCreated = ERROR_NOT_READY; // the first Create's result, once tried
    bool m_bTried = false;
    unsigned m_nStaged = 0;
    bool m_bHandedOver = false;
};

// Opens the folder called name inside hParent (open for listing and adding)
// for the program's own use, or makes it. A folder that is there is taken as
// it is, but with bAdministratorsOnly only when it is the administrators'
// alone. Anything else there (a link, a file, a folder others may change) is
// first moved aside as what it is, through its own handle, under a name
// nobody has; a link that opens only as what it points to cannot be, and then
// nothing is made. The new folder is made with FILE_CREATE, owned by the
// administrators with a protected list (bUserReads: the user may read it).
// hFolder is open for listing, adding and deleting, shared for reading and
// writing only; it is left as it was on failure.
DWORD OpenOrMakeOwnFolder(HANDLE hParent, std::wstring_view name, bool bAdministratorsOnly, bool bUserReads,
                          CHandle& hFolder);
