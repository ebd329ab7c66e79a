#include "cleanup/Leftovers.h"

#include "cleanup/FolderRemover.h"
#include "cleanup/ShortcutSearch.h"
#include "log/Log.h"
#include "win/KnownFolders.h"
#include "win/MyRegKey.h"
#include "win/SystemEntry.h"

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

using PfnNtDeleteKey = NTSTATUS(NTAPI*)(HANDLE);

// Whether text is a SID's text form, "S-" and digits and hyphens: one key
// name below HKEY_USERS, no path.
bool IsSidText(const std::wstring& text)
{
    return text.size() > 2 && text.starts_with(L"S-") &&
           text.find_first_not_of(L"0123456789-", 2) == std::wstring::npos;
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
        for (const std::wstring& strName : key.SubKeyNames())
        {
            CMyRegKey sub;
            if (sub.Open(key.Get(), strName.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | DELETE) == ERROR_SUCCESS)
                DeleteKeyTree(sub);
        }
    }
    static const PfnNtDeleteKey pfnNtDeleteKey = SystemEntry<PfnNtDeleteKey>(L"ntdll.dll", "NtDeleteKey");
    if (pfnNtDeleteKey)
        pfnNtDeleteKey(key.Get());
}

// The user can make any level of the key a link to a key elsewhere, so each
// level is opened as itself inside the one above: the walk stops at a link
// above the key, and a link at the key is deleted as a link. Nothing is
// reported; a key that stays is not tried again.
void DeleteUserKey(HKEY hUser)
{
    CMyRegKey levels[std::size(kUserKeyLevels)];
    HKEY hParent = hUser;
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
}

std::vector<std::wstring> RemoveLeftovers(CWorkFolder& work, const std::wstring& strUserSid)
{
    std::vector<std::wstring> vecFound = FindDesktopShortcuts();

    // Without the common folder, the start-menu folder and the data folder
    // below it have no base: both steps are skipped then.
    const std::wstring strCommonAppData = GetShellFolder(CSIDL_COMMON_APPDATA);
    if (!strCommonAppData.empty())
    {
        const std::vector<std::wstring> vecCommon = CollectMakerEntries(strCommonAppData + kCommonMakerFolder);
        vecFound.insert(vecFound.end(), vecCommon.begin(), vecCommon.end());
    }
    const std::vector<std::wstring> vecStartMenus = FindStartMenuEntries();
    vecFound.insert(vecFound.end(), vecStartMenus.begin(), vecStartMenus.end());

    if (!strCommonAppData.empty())
        CFolderRemover(work).DeleteFolderContents(strCommonAppData + kDataFolder); // the folder itself stays

    // Another user's key (a resumed run's, started for them by the service
    // manager) is reached through their hive, where it is loaded, never
    // through this process's own.
    if (strUserSid.empty())
        DeleteUserKey(HKEY_CURRENT_USER);
    else if (CMyRegKey hive; IsSidText(strUserSid) && hive.Open(HKEY_USERS, strUserSid.c_str()) == ERROR_SUCCESS)
        DeleteUserKey(hive.Get());
    else
        WriteLog(L"Per-user key left: the registry of " + strUserSid + L" is not loaded\r\n");
    return vecFound;
}
