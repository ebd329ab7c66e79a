// What the uninstallers of earlier releases leave behind: shortcuts and
// start-menu entries are recorded, the application data folder is emptied and
// the per-user registry key is deleted. Every step runs whatever the earlier
// ones gave; nothing is reported.

#include "cleanup/FolderRemover.h"
#include "installer/MyRegKey.h"
#include "resources/ProductList.h"
#include "win/Ntdll.h"
#include "win/Text.h"

#include <windows.h>
#include <shlobj.h>
#include <winternl.h>

#include <string>
#include <vector>

namespace
{
constexpr wchar_t kCommonMakerFolder[] = L"\\Microsoft\\Windows\\Start Menu\\Programs\\Vimo\\";
constexpr wchar_t kDataFolder[] = L"\\Vimo\\VimoLumet";
// HKEY_CURRENT_USER\Software\Vimo\Lumet, level by level.
constexpr const wchar_t* kUserKeyLevels[] = {L"Software", L"Vimo", L"Lumet"};
constexpr DWORD kLongestKeyName = 255;

using PfnNtDeleteKey = NTSTATUS(NTAPI*)(HANDLE);

// "C:\..." or "\\server\...": a path that does not depend on the current
// drive or folder.
bool IsFullPath(const std::wstring& strPath) { return StartsWithDriveRoot(strPath) || strPath.starts_with(L"\\\\"); }

// The common application-data folder (C:\ProgramData), or the empty string
// when it cannot be found. A failed lookup may leave a half-made text in the
// buffer, and a misconfigured one may give a relative path: neither is taken
// for the folder.
std::wstring CommonAppDataFolder()
{
    wchar_t szFolder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szFolder)))
        return std::wstring();
    const std::wstring strFolder(szFolder);
    return IsFullPath(strFolder) ? strFolder : std::wstring();
}

// Whether the key, opened with REG_OPTION_OPEN_LINK, is a registry link.
bool IsRegistryLink(const CMyRegKey& key)
{
    DWORD dwType = REG_NONE;
    return ::RegQueryValueExW(key.Get(), L"SymbolicLinkValue", nullptr, &dwType, nullptr, nullptr) == ERROR_SUCCESS &&
           dwType == REG_LINK;
}

// Deletes the key, opened with REG_OPTION_OPEN_LINK and DELETE, with its
// values and sub-keys, each sub-key opened as itself: a link is deleted as a
// link, and nothing a link points to is touched. Deleting by path would
// follow links. What cannot be deleted stays.
void DeleteKeyTree(const CMyRegKey& key)
{
    if (!IsRegistryLink(key))
    {
        std::vector<std::wstring> vecNames;
        wchar_t szName[kLongestKeyName + 1];
        for (DWORD i = 0;; ++i)
        {
            DWORD cchName = kLongestKeyName + 1;
            if (::RegEnumKeyExW(key.Get(), i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            vecNames.emplace_back(szName, cchName);
        }
        for (const std::wstring& strName : vecNames)
        {
            CMyRegKey sub;
            if (sub.Open(key.Get(), strName.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | DELETE) == ERROR_SUCCESS)
                DeleteKeyTree(sub);
        }
    }
    static const PfnNtDeleteKey pfnNtDeleteKey = NtdllEntry<PfnNtDeleteKey>("NtDeleteKey");
    if (pfnNtDeleteKey)
        pfnNtDeleteKey(key.Get());
}
}

void ProductList::RemoveLeftovers()
{
    FindDesktopShortcuts();

    // Without the common folder, the start-menu folder and the data folder
    // below it have no base: an empty or relative base would put them at the
    // root of the current drive or in the current folder. Both steps are
    // skipped then.
    const std::wstring strCommonAppData = CommonAppDataFolder();
    if (!strCommonAppData.empty())
        CollectMakerEntries(strCommonAppData + kCommonMakerFolder);

    FindStartMenuEntries();

    if (!strCommonAppData.empty())
    {
        CFolderRemover remover;
        remover.DeleteFolderContents(strCommonAppData + kDataFolder); // the folder itself stays
    }

    // The user can make any level of the key a link to a key elsewhere, so
    // each level is opened as itself inside the one above: the walk stops at
    // a link above the key, and a link at the key is deleted as a link.
    // Nothing is reported; a key that stays is not tried again.
    CMyRegKey levels[std::size(kUserKeyLevels)];
    HKEY hParent = HKEY_CURRENT_USER;
    for (size_t i = 0; i < std::size(kUserKeyLevels); ++i)
    {
        const bool bKey = i + 1 == std::size(kUserKeyLevels);
        if (levels[i].Open(hParent, kUserKeyLevels[i], REG_OPTION_OPEN_LINK, bKey ? KEY_READ | DELETE : KEY_READ) !=
                ERROR_SUCCESS ||
            (!bKey && IsRegistryLink(levels[i])))
            return;
        hParent = levels[i].Get();
    }
    DeleteKeyTree(levels[std::size(kUserKeyLevels) - 1]);
}
