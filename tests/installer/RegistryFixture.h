#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A registry key made by a test in the throwaway prefix. The destructor
// removes strRemovePath (the topmost key the test made; strPath itself when
// not given) with everything below it, or, when that key was there before,
// only the values set through this object.
class ScratchRegKey
{
public:
    ScratchRegKey(HKEY hRoot, const std::wstring& strPath, const std::wstring& strRemovePath = std::wstring(),
                  REGSAM samView = 0);
    ~ScratchRegKey();
    ScratchRegKey(const ScratchRegKey&) = delete;
    ScratchRegKey& operator=(const ScratchRegKey&) = delete;

    HKEY Get() const { return m_hKey; }

    // The bytes exactly as given: no terminating NUL is added.
    void SetRaw(const wchar_t* pszName, DWORD dwType, const void* pData, DWORD cbData);
    // The text with its terminating NUL, as programs usually store strings.
    void SetString(const wchar_t* pszName, const std::wstring& strText, DWORD dwType = REG_SZ);
    void SetDword(const wchar_t* pszName, DWORD dwValue);
    void DeleteValue(const wchar_t* pszName);

private:
    HKEY m_hRoot;
    std::wstring m_strRemovePath;
    HKEY m_hKey = nullptr;
    bool m_bExisted = false;
    std::vector<std::wstring> m_vecValuesSet;
};

bool KeyExists(HKEY hRoot, const std::wstring& strPath);
