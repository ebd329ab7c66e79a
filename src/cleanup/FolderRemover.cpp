#include "cleanup/FolderRemover.h"

#include "log/Log.h"
#include "win/FileDisposition.h"
#include "win/FileHandles.h"
#include "win/FolderWalk.h"
#include "win/Security.h"
#include "win/Text.h"

#include <windows.h>

#include <string_view>
#include <vector>

namespace
{
constexpr std::wstring_view kLogMarker = L"VimoLog_LumetUpdate_";
constexpr std::wstring_view kProgramFilesX86 = L"Program Files (x86)\\";
constexpr std::wstring_view kProgramFiles = L"Program Files\\";
constexpr size_t kDrivePrefixLength = 3; // "C:\"

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

// Removes everything below one folder. The updater's own log files stay
// below its sub-folders (files directly inside it go whatever their names).
class CRemoval : public CFolderWalk
{
public:
    CRemoval(CWorkFolder& work, size_t nMaxDepth) : CFolderWalk(nMaxDepth), m_work(work) {}

protected:
    Step OnEntry(HANDLE hFolder, const FolderEntry& entry, const std::wstring& strPath, size_t nDepth) override
    {
        Step step;
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
            WriteLeftInPlace(strPath);
            step.bStays = true;
        }
        else if (step.opened.eKind == EEntryKind::Folder)
            step.bEnter = true;
        else if (DeleteEntry(hFolder, entry, step.opened) != ERROR_SUCCESS)
        {
            // Only files are handed over: a link might be followed at the
            // restart, and a folder could gain entries after its listing.
            step.bStays = step.opened.eKind != EEntryKind::File || !HandOver(hFolder, entry, step.opened);
            if (step.bStays)
                WriteLeftInPlace(strPath);
        }
        return step;
    }

    bool OnFolderWalked(OpenedEntry& opened, const std::wstring& strPath, bool bInnerStays) override
    {
        if (DeleteByHandle(opened.h.Get(), opened.dwAttributes, true) == ERROR_SUCCESS)
            return false;
        // Folders are never handed over; one that stays only because
        // something in it stays is not named again.
        if (!bInnerStays)
            WriteLeftInPlace(strPath);
        return true;
    }

    void OnNotWalked(const std::wstring& strPath) override { WriteLeftInPlace(strPath); }

private:
    // Moves a file that cannot be deleted now into the run's own folder and
    // hands it to the restart. Opened again without sharing, so that nobody
    // else has it open while it changes hands, and made the administrators'
    // before it moves: its owner could otherwise still change it there.
    // False when it stays where it is.
    bool HandOver(HANDLE hFolder, const FolderEntry& entry, OpenedEntry& opened)
    {
        opened.h.Close();
        // With backup intent the privileges give the rights to change its
        // owner and list, whatever its list grants; without them, it gives
        // what its list does. Setting them through the handle needs the
        // right to read them too.
        const COwnershipPrivileges privileges;
        const OpenedEntry own =
            OpenEntry(hFolder, entry, DELETE | WRITE_OWNER | WRITE_DAC | READ_CONTROL, 0, FILE_OPEN_FOR_BACKUP_INTENT);
        // Owner and list belong to the file, not to the name: a file that has
        // other names too (a hard link to it planted here) would change hands
        // wherever it is.
        FILE_STANDARD_INFO standard = {};
        if (own.eKind != EEntryKind::File ||
            !::GetFileInformationByHandleEx(own.h.Get(), FileStandardInfo, &standard, sizeof(standard)) ||
            standard.NumberOfLinks != 1 || GiveToAdministrators(own.h.Get()) != ERROR_SUCCESS)
            return false;
        std::wstring strStaged;
        if (m_work.HandOver(own.h.Get(), strStaged) != ERROR_SUCCESS && !strStaged.empty())
            WriteLeftInPlace(strStaged); // moved, but the restart will not delete it
        return !strStaged.empty();
    }

    CWorkFolder& m_work;
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
        CRemoval(m_work, m_nMaxDepth).Walk(hFolder.Get(), std::wstring(WithoutTrailingSeparators(strFolder)));
    return true;
}
