#include "cleanup/ShortcutSearch.h"

#include "win/Files.h"
#include "win/KnownFolders.h"
#include "win/Text.h"

#include <windows.h>
#include <shlobj.h>

#include <string_view>

namespace
{
constexpr std::wstring_view kProductWord = L"vimolumet";
constexpr std::wstring_view kShortcutEnding = L"lnk";
constexpr std::wstring_view kDesktop = L"\\Desktop";
constexpr std::wstring_view kProgramsMakerFolder =
    L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Vimo\\";
constexpr std::wstring_view kStartupMakerFolder =
    L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\Vimo\\";

bool HoldsProductWord(std::wstring_view foldedName) { return foldedName.find(kProductWord) != std::wstring_view::npos; }

bool EndsAsShortcut(std::wstring_view foldedName)
{
    return foldedName.size() >= kShortcutEnding.size() &&
           LastChars(foldedName, kShortcutEnding.size()) == kShortcutEnding;
}

// The folder that holds the user profiles: the parent of the current user's
// profile folder (C:\Users for C:\Users\Admin). Empty when it is not known.
std::wstring ProfilesRoot()
{
    std::wstring strRoot = GetShellFolder(CSIDL_PROFILE);
    const size_t nSeparator = strRoot.rfind(L'\\');
    if (nSeparator == std::wstring::npos)
        return std::wstring();
    strRoot.resize(nSeparator);
    return strRoot;
}

// The folders in the profiles root whose names do not begin with a dot, in
// the platform's order, as full paths. Every such folder counts as a
// profile, shared ones such as Public included.
std::vector<std::wstring> ProfileFolders()
{
    std::vector<std::wstring> vecProfiles;
    const std::wstring strRoot = ProfilesRoot();
    if (strRoot.empty())
        return vecProfiles;
    for (const FolderEntry& entry : FindEntries(strRoot + L"\\*.*"))
        if ((entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && entry.strName[0] != L'.')
            vecProfiles.push_back(strRoot + L"\\" + entry.strName);
    return vecProfiles;
}

void Append(std::vector<std::wstring>& vecTo, std::vector<std::wstring> vecFrom)
{
    vecTo.insert(vecTo.end(), std::make_move_iterator(vecFrom.begin()), std::make_move_iterator(vecFrom.end()));
}
}

std::vector<std::wstring> FindDesktopShortcuts()
{
    std::vector<std::wstring> vecFound;
    for (const std::wstring& strProfile : ProfileFolders())
        Append(vecFound, CollectDesktopShortcuts(strProfile + std::wstring(kDesktop)));
    return vecFound;
}

std::vector<std::wstring> CollectDesktopShortcuts(const std::wstring& strDesktopFolder)
{
    std::vector<std::wstring> vecFound;
    for (const FolderEntry& entry : FindEntries(strDesktopFolder + L"\\*"))
    {
        // The whole path is folded and recorded, the folder part included;
        // the match looks only at the backslash and the entry name after it.
        const std::wstring strFolded = ToLowerAscii(strDesktopFolder + L"\\" + entry.strName);
        const std::wstring_view tail = std::wstring_view(strFolded).substr(strDesktopFolder.size());
        if (tail.size() > kShortcutEnding.size() && EndsAsShortcut(tail) && HoldsProductWord(tail))
            vecFound.push_back(strFolded);
    }
    return vecFound;
}

std::vector<std::wstring> CollectMakerEntries(const std::wstring& strMakerFolder)
{
    std::vector<std::wstring> vecFound;
    for (const FolderEntry& entry : FindEntries(strMakerFolder + L"*.*"))
    {
        if (entry.strName[0] == L'.')
            continue;
        const std::wstring strFolded = ToLowerAscii(entry.strName);
        // Folders are the maker's sub-menus and need no shortcut ending.
        const bool bMatch = (entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
                                ? HoldsProductWord(strFolded)
                                : EndsAsShortcut(strFolded) && HoldsProductWord(strFolded);
        if (bMatch)
            vecFound.push_back(strMakerFolder + strFolded);
    }
    return vecFound;
}

std::vector<std::wstring> FindStartMenuEntries()
{
    std::vector<std::wstring> vecFound;
    for (const std::wstring& strProfile : ProfileFolders())
    {
        for (const std::wstring_view layout : {kProgramsMakerFolder, kStartupMakerFolder})
        {
            const std::wstring strMakerFolder = strProfile + std::wstring(layout);
            if (IsFolder(strMakerFolder))
                Append(vecFound, CollectMakerEntries(strMakerFolder));
        }
    }
    return vecFound;
}
