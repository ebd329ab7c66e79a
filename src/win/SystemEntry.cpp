#include "win/SystemEntry.h"

#include "win/KnownFolders.h"

#include <string>

HMODULE LoadSystemDll(const wchar_t* pszDll) noexcept
{
    if (const HMODULE hLoaded = ::GetModuleHandleW(pszDll))
        return hLoaded;
    const std::wstring strSystem = GetSystemFolder();
    if (strSystem.empty())
        return nullptr;
    const std::wstring strPath = strSystem + L"\\" + pszDll;
    return ::LoadLibraryExW(strPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
