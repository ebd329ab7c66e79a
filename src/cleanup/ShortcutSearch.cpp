// The application's shortcuts on the desktops and its entries in the maker's
// start-menu folders of every user profile. Found paths are only recorded in
// the product list; nothing is deleted here.

#include "resources/ProductList.h"
#include "win/Files.h"
#include "win/ScopedHandle.h"
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
    wchar_t szProfile[MAX_PATH] = {};
    // A failed lookup may leave a half-made text in the buffer: not a root.
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, szProfile)))
        return std::wstring();
    std::wstring strRoot(szProfile);
    const size_t nSeparator = strRoot.rfind(L'\\');
    if (nSeparator == std::wstring::npos)
        return std::wstring();
    strRoot.resize(nSeparator);
    return strRoot;
}

// Calls visit(folder name) for every folder in the profiles root whose name
// does not begin with a dot, in the platform's order. Every such folder
// counts as a profile, shared ones such as Public included.
template <typename Visit>
void ForEachProfile(const std::wstring& strRoot, Visit visit)
{
    WIN32_FIND_DATAW fd = {};
    CFindHandle hFind(::FindFirstFileW((strRoot + L"\\*.*").c_str(), &fd));
    if (!hFind.IsValid())
        return;
    do
    {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && fd.cFileName[0] != L'.')
            visit(std::wstring(fd.cFileName));
    } while (::FindNextFileW(hFind.Get(), &fd));
}
}

void ProductList::FindDesktopShortcuts()
{
    const std::wstring strRoot = ProfilesRoot();
    if (strRoot.empty())
        return;
    ForEachProfile(strRoot, [this, &strRoot](const std::wstring& strProfile) {
        CollectDesktopShortcuts(strRoot + L"\\" + strProfile + std::wstring(kDesktop));
    });
}

void ProductList::CollectDesktopShortcuts(const std::wstring& strDesktopFolder)
{
    // A desktop that is missing or cannot be opened just yields nothing.
    WIN32_FIND_DATAW fd = {};
    CFindHandle hFind(::FindFirstFileW((strDesktopFolder + L"\\*").c_str(), &fd));
    if (!hFind.IsValid())
        return;
    do
    {
        const std::wstring_view name(fd.cFileName);
        if (name == L"." || name == L"..")
            continue;
        // The whole path is folded and recorded, the folder part included;
        // the match looks only at the backslash and the entry name after it.
        const std::wstring strFolded = ToLowerAscii(strDesktopFolder + L"\\" + fd.cFileName);
        const std::wstring_view tail = std::wstring_view(strFolded).substr(strDesktopFolder.size());
        if (tail.size() > kShortcutEnding.size() && EndsAsShortcut(tail) && HoldsProductWord(tail))
            m_vecFoundPaths.push_back(strFolded);
    } while (::FindNextFileW(hFind.Get(), &fd));
}

void ProductList::CollectMakerEntries(const std::wstring& strMakerFolder)
{
    WIN32_FIND_DATAW fd = {};
    CFindHandle hFind(::FindFirstFileW((strMakerFolder + L"*.*").c_str(), &fd));
    if (!hFind.IsValid())
        return;
    do
    {
        if (fd.cFileName[0] == L'.')
            continue;
        const std::wstring strFolded = ToLowerAscii(fd.cFileName);
        // Folders are the maker's sub-menus and need no shortcut ending.
        const bool bMatch = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                                ? HoldsProductWord(strFolded)
                                : EndsAsShortcut(strFolded) && HoldsProductWord(strFolded);
        if (bMatch)
            m_vecFoundPaths.push_back(strMakerFolder + strFolded);
    } while (::FindNextFileW(hFind.Get(), &fd));
}

void ProductList::FindStartMenuEntries()
{
    const std::wstring strRoot = ProfilesRoot();
    if (strRoot.empty())
        return;
    ForEachProfile(strRoot, [this, &strRoot](const std::wstring& strProfile) {
        const std::wstring strProfileFolder = strRoot + L"\\" + strProfile;
        for (const std::wstring_view layout : {kProgramsMakerFolder, kStartupMakerFolder})
        {
            const std::wstring strMakerFolder = strProfileFolder + std::wstring(layout);
            if (IsFolder(strMakerFolder))
                CollectMakerEntries(strMakerFolder);
        }
    });
}
