#include "win/SystemEntry.h"

#include <string>

HMODULE LoadSystemDll(const wchar_t* pszDll) noexcept
{
    if (const HMODULE hLoaded = ::GetModuleHandleW(pszDll))
        return hLoaded;
    wchar_t szSystem[MAX_PATH] = {};
    const UINT cch = ::GetSystemDirectoryW(szSystem, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return nullptr;
    const std::wstring strPath = std::wstring(szSystem, cch) + L"\\" + pszDll;
    return ::LoadLibraryExW(strPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
