#include "cleanup/FolderRemover.h"

#include "log/Log.h"
#include "win/FileHandles.h"
#include "win/FolderWalk.h"
#include "win/Text.h"

#include <windows.h>
#include <objbase.h>
#include <sddl.h>

#include <string_view>
#include <vector>

namespace
{
constexpr std::wstring_view kLogMarker = L"VimoLog_LumetUpdate_";
constexpr std::wstring_view kProgramFilesX86 = L"Program Files (x86)\\";
constexpr std::wstring_view kProgramFiles = L"Program Files\\";
constexpr size_t kDrivePrefixLength = 3; // "C:\"
// Full control for SYSTEM and the administrators, nothing inherited.
constexpr wchar_t kStagingSecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

std::wstring_view WithoutTrailingSeparators(std::wstring_view path)
{
    while (!path.empty() && path.back() == L'\\')
        path.remove_suffix(1);
    return path;
}

// A drive root, or a path too short to name a folder below one: emptying it
// would empty a whole drive.
bool NamesNoFolder(std::wstring_view path) { return WithoutTrailingSeparators(path).size() <= kDrivePrefixLength; }

// The program-files folders of any drive, with or without the trailing
// backslash: the first three characters (the drive) are not looked at.
bool IsProgramFiles(std::wstring_view path)
{
    if (path.size() < kDrivePrefixLength)
        return false;
    const std::wstring strRest = std::wstring(WithoutTrailingSeparators(path.substr(kDrivePrefixLength))) + L"\\";
    return EqualsNoCaseAscii(strRest, kProgramFilesX86) || EqualsNoCaseAscii(strRest, kProgramFiles);
}

void NoteLeftInPlace(const std::wstring& strPath) { WriteLog(L"Left in place: " + strPath + L"\r\n"); }

// Where one removal call puts what can be moved but not deleted, made on
// first use. Only administrators and SYSTEM may change it or what it holds,
// and the Windows folder above it is theirs too, so the paths handed over
// from here lead where they led when they were recorded.
class CStagingFolder
{
public:
    CStagingFolder() = default;
    CStagingFolder(const CStagingFolder&) = delete;
    CStagingFolder& operator=(const CStagingFolder&) = delete;

    // Recorded after everything moved into it, so that at restart it is
    // removed once empty. Left unused, it is deleted now.
    ~CStagingFolder()
    {
        if (!m_hFolder.IsValid())
            return;
        if (m_nMoved == 0)
            DeleteByHandle(m_hFolder.Get(), 0, false);
        else
            ::MoveFileExW(m_strPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }

    // Moves the item open as hItem (with DELETE) into the staging folder and
    // hands the staged path over for deletion at restart. False when it
    // could not be moved; an item moved but not recorded is named in the
    // log under its staged path.
    bool HandOver(HANDLE hItem)
    {
        if (!m_bTried)
        {
            m_bTried = true;
            Create();
        }
        if (!m_hFolder.IsValid())
            return false;
        const std::wstring strName = std::to_wstring(m_nMoved + 1);
        if (MoveByHandle(hItem, m_hFolder.Get(), strName) != ERROR_SUCCESS)
            return false;
        ++m_nMoved;
        const std::wstring strStaged = m_strPath + L"\\" + strName;
        if (!::MoveFileExW(strStaged.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            NoteLeftInPlace(strStaged);
        return true;
    }

private:
    void Create()
    {
        wchar_t szWindows[MAX_PATH] = {};
        const UINT cch = ::GetSystemWindowsDirectoryW(szWindows, MAX_PATH);
        GUID guid = {};
        wchar_t szGuid[40] = {};
        if (cch == 0 || cch >= MAX_PATH || FAILED(::CoCreateGuid(&guid)) || !::StringFromGUID2(guid, szGuid, 40))
            return;
        const std::wstring strTemp = std::wstring(szWindows) + L"\\Temp";
        EFolderChain eChain;
        CHandle hTemp = OpenFolderChain(strTemp, 0, eChain);
        CLocalMemory<PSECURITY_DESCRIPTOR> pSecurity;
        if (!hTemp.IsValid() || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                    kStagingSecurity, SDDL_REVISION_1, pSecurity.Put(), nullptr))
            return;
        // An unguessable name, made with FILE_CREATE: nobody can have put
        // anything there first.
        const std::wstring strName = std::wstring(L"LumetUpdate-") + szGuid;
        if (OpenRelative(hTemp.Get(), strName, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | DELETE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, FILE_DIRECTORY_FILE, m_hFolder,
                         pSecurity.Get()) == ERROR_SUCCESS)
            m_strPath = strTemp + L"\\" + strName;
    }

    CHandle m_hFolder;
    std::wstring m_strPath;
    unsigned m_nMoved = 0;
    bool m_bTried = false;
};

// Removes everything below one folder. The updater's own log files stay
// below its sub-folders (files directly inside it go whatever their names).
class CRemoval : public CFolderWalk
{
public:
    explicit CRemoval(CStagingFolder& staging) : m_staging(staging) {}

protected:
    CStep OnEntry(HANDLE hFolder, const CFolderEntry& entry, const std::wstring& strPath, size_t nDepth) override
    {
        CStep step;
        if (nDepth > 1 && (entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            strPath.find(kLogMarker) != std::wstring::npos)
        {
            step.bStays = true; // the updater's own log files stay
            return step;
        }
        // Deleting needs nothing more than DELETE; the rights to list a
        // folder come with entering it.
        step.opened = OpenEntry(hFolder, entry, DELETE);
        if (!step.opened.h.IsValid())
        {
            NoteLeftInPlace(strPath);
            step.bStays = true;
        }
        else if (step.opened.eKind == EEntryKind::Folder)
            step.bEnter = true;
        else if (DeleteEntry(hFolder, entry, step.opened) != ERROR_SUCCESS)
            // A link is never handed over: at restart it might be followed.
            step.bStays = step.opened.eKind == EEntryKind::Link || !m_staging.HandOver(step.opened.h.Get());
        if (step.bStays && step.opened.h.IsValid())
            NoteLeftInPlace(strPath);
        return step;
    }

    bool OnFolderWalked(COpenedEntry& opened, const std::wstring& strPath, bool bInnerStays) override
    {
        if (DeleteByHandle(opened.h.Get(), opened.dwAttributes, true) == ERROR_SUCCESS)
            return false;
        // Folders are never handed over; one that stays only because
        // something in it stays is not named again.
        if (!bInnerStays)
            NoteLeftInPlace(strPath);
        return true;
    }

    void OnNotWalked(const std::wstring& strPath) override { NoteLeftInPlace(strPath); }

private:
    CStagingFolder& m_staging;
};
}

bool CFolderRemover::DeleteFolderContents(const std::wstring& strFolder)
{
    if (NamesNoFolder(strFolder) || IsProgramFiles(strFolder))
        return false;
    EFolderChain eChain;
    const CHandle hFolder = OpenFolderChain(strFolder, 0, eChain);
    if (eChain == EFolderChain::Link)
        return false;
    if (hFolder.IsValid())
    {
        CStagingFolder staging;
        CRemoval(staging).Walk(hFolder.Get(), std::wstring(WithoutTrailingSeparators(strFolder)));
    }
    return true;
}
