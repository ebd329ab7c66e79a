#include "win/WorkFolder.h"

#include "win/Clock.h"
#include "win/FileDisposition.h"
#include "win/FileHandles.h"
#include "win/PackageCache.h"
#include "win/Security.h"
#include "win/Text.h"

#include <vector>

namespace
{
// The cache's folder of runs, with the cache's lock taken in hLock.
DWORD OpenRuns(bool bMake, CHandle& hLock, CHandle& hRuns, std::wstring& strRuns)
{
    CHandle hCache;
    std::wstring strCache;
    DWORD dwResult = OpenCache(bMake, hCache, strCache);
    if (dwResult == ERROR_SUCCESS)
        dwResult = TakeUpdateLock(hCache.Get(), hLock);
    if (dwResult == ERROR_SUCCESS)
        dwResult = OpenCacheFolder(hCache.Get(), kRunsFolder, bMake, hRuns);
    if (dwResult == ERROR_SUCCESS)
        strRuns = strCache + L"\\" + kRunsFolder;
    return dwResult;
}
}

DWORD CWorkFolder::Create()
{
    if (m_bTried)
        return m_dwCreated;
    m_bTried = true;
    m_strGuid = UniqueName(L"");
    CHandle hRuns;
    std::wstring strRuns;
    m_dwCreated = OpenRuns(true, m_hLock, hRuns, strRuns);
    if (m_dwCreated != ERROR_SUCCESS)
        return m_dwCreated;
    if (m_strGuid.size() < 2)
        return m_dwCreated = ERROR_PATH_NOT_FOUND;
    m_strGuid.erase(0, 1); // UniqueName's hyphen
    // FILE_CREATE fails on anything already there: what opens is what this
    // has just made.
    m_dwCreated = MakeOwnFolder(hRuns.Get(), m_strGuid, FILE_CREATE, false, m_hFolder);
    if (m_dwCreated == ERROR_SUCCESS)
        m_strPath = strRuns + L"\\" + m_strGuid;
    return m_dwCreated;
}

DWORD CWorkFolder::OpenExisting(const std::wstring& strGuid)
{
    if (m_bTried)
        return ERROR_ALREADY_INITIALIZED;
    m_bTried = true;
    CHandle hRuns;
    std::wstring strRuns;
    m_dwCreated = OpenRuns(false, m_hLock, hRuns, strRuns);
    if (m_dwCreated != ERROR_SUCCESS)
        return m_dwCreated;
    FolderEntry entry;
    if (!FindEntry(hRuns.Get(), strGuid, entry))
        return m_dwCreated = ERROR_PATH_NOT_FOUND;
    OpenedEntry opened = OpenEntry(hRuns.Get(), entry, kOwnFolderAccess, kShareNoDelete);
    if (opened.eKind != EEntryKind::Folder)
        return m_dwCreated = ERROR_PATH_NOT_FOUND;
    m_hFolder = std::move(opened.h);
    m_strGuid = strGuid;
    m_strPath = strRuns + L"\\" + strGuid;
    return m_dwCreated = ERROR_SUCCESS;
}

DWORD CWorkFolder::OpenSubFolder(const wchar_t* pszName, CHandle& hFolder, std::wstring& strPath)
{
    const DWORD dwCreated = Create();
    if (dwCreated != ERROR_SUCCESS)
        return dwCreated;
    // Only this run writes in its folder: a folder of that name is one it made.
    const DWORD dwOpened = MakeOwnFolder(m_hFolder.Get(), pszName, FILE_OPEN_IF, false, hFolder);
    if (dwOpened == ERROR_SUCCESS)
        strPath = m_strPath + L"\\" + pszName;
    return dwOpened;
}

DWORD CWorkFolder::HandOver(HANDLE hItem, std::wstring& strStaged)
{
    const DWORD dwCreated = Create();
    if (dwCreated != ERROR_SUCCESS)
        return dwCreated;
    std::wstring strName;
    AppendNumber(strName, m_nStaged + 1);
    const DWORD dwMoved = MoveByHandle(hItem, m_hFolder.Get(), strName);
    if (dwMoved != ERROR_SUCCESS)
        return dwMoved;
    ++m_nStaged;
    strStaged = m_strPath + L"\\" + strName;
    if (!::MoveFileExW(strStaged.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return ::GetLastError();
    m_bHandedOver = true;
    return ERROR_SUCCESS;
}

void CWorkFolder::Finish(bool bKeepsPackage)
{
    if (!m_hFolder.IsValid())
        return;
    std::vector<FolderEntry> vecEntries;
    ListFolder(m_hFolder.Get(), vecEntries);
    size_t nLeft = vecEntries.size();
    for (const FolderEntry& entry : vecEntries)
    {
        if ((entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            continue;
        // An empty folder goes now; one that is not empty refuses.
        const OpenedEntry opened = OpenEntry(m_hFolder.Get(), entry, DELETE);
        if (opened.eKind == EEntryKind::Folder &&
            DeleteByHandle(opened.h.Get(), opened.dwAttributes, false) == ERROR_SUCCESS)
            --nLeft;
    }
    if (nLeft == 0 && DeleteByHandle(m_hFolder.Get(), FILE_ATTRIBUTE_DIRECTORY, false) == ERROR_SUCCESS)
    {
        m_hFolder.Close();
        return;
    }
    // Recorded after what it holds, so that at the restart it comes last;
    // a folder that keeps the installed package stays.
    m_hFolder.Close();
    if (!bKeepsPackage)
        ::MoveFileExW(m_strPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

DWORD OpenOrMakeOwnFolder(HANDLE hParent, std::wstring_view name, bool bAdministratorsOnly, bool bUserReads,
                          CHandle& hFolder)
{
    FolderEntry entry;
    if (FindEntry(hParent, name, entry))
    {
        OpenedEntry opened = OpenEntry(hParent, entry, kOwnFolderAccess | READ_CONTROL, kShareNoDelete);
        if (opened.eKind == EEntryKind::Folder && (!bAdministratorsOnly || IsAdministratorsOnly(opened.h.Get())))
        {
            hFolder = std::move(opened.h);
            return ERROR_SUCCESS;
        }
        const std::wstring strAside = UniqueName(std::wstring(name));
        if (!opened.h.IsValid() || strAside.empty())
            return ERROR_CANT_ACCESS_FILE;
        const DWORD dwMoved = MoveByHandle(opened.h.Get(), hParent, strAside);
        if (dwMoved != ERROR_SUCCESS)
            return dwMoved;
    }
    return MakeOwnFolder(hParent, name, FILE_CREATE, bUserReads, hFolder);
}
