#include "win/KnownFolders.h"

#include "win/Text.h"

#include <windows.h>
#include <shlobj.h>

std::wstring GetShellFolder(int nCsidl)
{
    wchar_t szFolder[MAX_PATH + 1] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, nCsidl, nullptr, SHGFP_TYPE_CURRENT, szFolder)))
        return std::wstring();
    std::wstring strFolder(szFolder);
    return IsFullPath(strFolder) ? strFolder : std::wstring();
}

std::wstring GetSystemFolder()
{
    wchar_t szSystem[MAX_PATH] = {};
    const UINT cch = ::GetSystemDirectoryW(szSystem, MAX_PATH);
    return cch == 0 || cch >= MAX_PATH ? std::wstring() : std::wstring(szSystem, cch);
}
