// What the uninstallers of earlier releases leave behind: shortcuts and
// start-menu entries are recorded, the application data folder is emptied and
// the per-user registry key is deleted. Every step runs whatever the earlier
// ones gave; nothing is reported.

#include "cleanup/FolderRemover.h"
#include "installer/MyRegKey.h"
#include "resources/ProductList.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace
{
constexpr wchar_t kCommonMakerFolder[] = L"\\Microsoft\\Windows\\Start Menu\\Programs\\Vimo\\";
constexpr wchar_t kDataFolder[] = L"\\Vimo\\VimoLumet";
constexpr wchar_t kUserKey[] = L"Software\\Vimo\\Lumet";

// "C:\..." or "\\server\...": a path that does not depend on the current
// drive or folder.
bool IsFullPath(const std::wstring& strPath)
{
    const bool bDrive = strPath.size() >= 3 &&
                        ((strPath[0] >= L'A' && strPath[0] <= L'Z') || (strPath[0] >= L'a' && strPath[0] <= L'z')) &&
                        strPath[1] == L':' && strPath[2] == L'\\';
    return bDrive || strPath.starts_with(L"\\\\");
}

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

    // The key is deleted by its path from the root: the key itself, its
    // values and its sub-keys all go. Its result is not looked at; a key that
    // stays is not tried again.
    CMyRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kUserKey) == ERROR_SUCCESS)
        ::SHDeleteKeyW(HKEY_CURRENT_USER, kUserKey);
}
