#include "cleanup/FolderRemover.h"

#include "win/ScopedHandle.h"
#include "win/Text.h"

#include <windows.h>

#include <string_view>

namespace
{
constexpr std::wstring_view kSeparator = L"\\";
constexpr std::wstring_view kAllEntries = L"*.*";
constexpr std::wstring_view kLogMarker = L"VimoLog_LumetUpdate_";
constexpr std::wstring_view kProgramFilesX86 = L"Program Files (x86)\\";
constexpr std::wstring_view kProgramFiles = L"Program Files\\";
constexpr size_t kDrivePrefixLength = 3; // "C:\"

// The folder path with a backslash at its end.
std::wstring WithSeparator(const std::wstring& strFolder)
{
    std::wstring strResult(strFolder);
    if (strResult.empty() || strResult.back() != L'\\')
        strResult += kSeparator;
    return strResult;
}

std::wstring_view WithoutTrailingSeparators(std::wstring_view path)
{
    while (!path.empty() && path.back() == L'\\')
        path.remove_suffix(1);
    return path;
}

bool IsLink(DWORD dwAttributes)
{
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Asked without a trailing backslash, which would make the platform look
// through a link at its target.
bool IsLinkPath(std::wstring_view path)
{
    return IsLink(::GetFileAttributesW(std::wstring(WithoutTrailingSeparators(path)).c_str()));
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

// Whether the path, or any folder above it, is a link. Below a link every
// path leads into the link's target.
bool PassesThroughLink(std::wstring_view path)
{
    std::wstring strPath(WithoutTrailingSeparators(path));
    while (strPath.size() > kDrivePrefixLength)
    {
        if (IsLinkPath(strPath))
            return true;
        const size_t nSeparator = strPath.rfind(L'\\');
        if (nSeparator == std::wstring::npos)
            break;
        strPath.resize(nSeparator);
    }
    return false;
}

// Removes the link itself. The handle is opened on the reparse point, not on
// its target, and the delete is only asked for when the object opened really
// is a reparse point: if the entry was replaced in the meantime, or the
// platform followed the link anyway, nothing is deleted.
void RemoveLink(const std::wstring& strPath)
{
    CHandle hLink(::CreateFileW(strPath.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!hLink.IsValid())
        return;
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!::GetFileInformationByHandleEx(hLink.Get(), FileAttributeTagInfo, &info, sizeof(info)) ||
        !(info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    // A link that stays keeps its folder from being removed; that folder is
    // then handed over, and at restart it is still not empty, so it stays.
    ::SetFileInformationByHandle(hLink.Get(), FileDispositionInfo, &disposition, sizeof(disposition));
}

// Deletes one file now, or hands it over for deletion at restart. True when
// it was handed over.
bool DeleteOrHandOver(const std::wstring& strPath)
{
    if (::DeleteFileW(strPath.c_str()))
        return false;
    return ::MoveFileExW(strPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

// Calls visit(full path, attributes) for every entry of the folder except
// "." and "..", in the platform's order. Nothing happens when the folder
// cannot be listed.
template <typename Visit>
void ForEachEntry(const std::wstring& strFolder, Visit visit)
{
    const std::wstring strPrefix = WithSeparator(strFolder);
    WIN32_FIND_DATAW fd = {};
    CFindHandle hFind(::FindFirstFileW((strPrefix + std::wstring(kAllEntries)).c_str(), &fd));
    if (!hFind.IsValid())
        return;
    do
    {
        const std::wstring_view name(fd.cFileName);
        if (name == L"." || name == L"..")
            continue;
        visit(strPrefix + fd.cFileName, fd.dwFileAttributes);
    } while (::FindNextFileW(hFind.Get(), &fd));
}
}

int CFolderRemover::DeleteFolderContents(const std::wstring& strFolder)
{
    if (NamesNoFolder(strFolder) || IsProgramFiles(strFolder) || PassesThroughLink(strFolder))
        return kRefused;

    // What is handed over here is not reported: the only caller does not ask.
    ForEachEntry(strFolder, [this](const std::wstring& strPath, DWORD dwAttributes) {
        if (IsLink(dwAttributes))
            RemoveLink(strPath);
        else if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
            DeleteFolderTree(strPath);
        else
            DeleteOrHandOver(strPath);
    });
    return kNothingHandedOver;
}

int CFolderRemover::DeleteFolderTree(std::wstring strFolder)
{
    if (NamesNoFolder(strFolder))
        return kNothingHandedOver;
    // Tested again here, just before listing, for a folder that was turned
    // into a link since its parent was listed, and for a link passed in.
    if (IsLinkPath(strFolder))
    {
        RemoveLink(std::wstring(WithoutTrailingSeparators(strFolder)));
        return kNothingHandedOver;
    }

    bool bHandedOver = false;
    ForEachEntry(strFolder, [this, &bHandedOver](const std::wstring& strPath, DWORD dwAttributes) {
        const bool bFolder = (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!bFolder && strPath.find(kLogMarker) != std::wstring::npos)
            return; // the updater's own log files stay
        if (IsLink(dwAttributes))
            RemoveLink(strPath);
        else if (bFolder)
        {
            if (DeleteFolderTree(strPath) == kHandedOver)
                bHandedOver = true;
        }
        else if (DeleteOrHandOver(strPath))
        {
            bHandedOver = true;
        }
        // A file that can be neither deleted nor handed over stays, unrecorded.
    });

    // Also when the folder could not be listed: it may still be removable,
    // or at least be handed over.
    if (!::RemoveDirectoryW(strFolder.c_str()) &&
        ::MoveFileExW(strFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return kHandedOver;
    return bHandedOver ? kHandedOver : kNothingHandedOver;
}
