#pragma once

#include "win/ScopedHandle.h"

#include <windows.h>

#include <string>
#include <vector>

// Owner of one registry key that the program opened. Results are Win32
// error codes, ERROR_SUCCESS meaning success. A key that was opened is closed
// exactly once, by Close or by the destructor.
class CMyRegKey
{
public:
    // RegOpenKeyExW, by default with KEY_READ and no registry-view flag: a key
    // of the 32-bit view is addressed by naming WOW6432Node in the path. On
    // failure the object holds no key. dwOptions REG_OPTION_OPEN_LINK opens a
    // registry link itself instead of the key it points to.
    DWORD Open(HKEY hRoot, const wchar_t* pszSubKey, DWORD dwOptions = 0, REGSAM samDesired = KEY_READ);
    // RegCreateKeyExW: opens the key for reading and writing, making it and
    // the keys above it where they are missing (under HKEY_LOCAL_MACHINE only
    // administrators can). On failure the object holds no key.
    DWORD Create(HKEY hRoot, const wchar_t* pszSubKey);
    void Close() { m_hKey.Close(); }
    HKEY Get() const { return m_hKey.Get(); }

    // Reads a REG_SZ or REG_EXPAND_SZ value (unexpanded) into value: its
    // characters up to the first NUL, or all of its whole characters when it
    // holds none. Other types give ERROR_INVALID_PARAMETER, a failed buffer
    // allocation ERROR_OUTOFMEMORY, a failed read the registry's own code.
    // The value is left exactly as it was passed on every nonzero result.
    DWORD QueryStringValue(const wchar_t* pszName, std::wstring& value) const;

    // Read a REG_BINARY value of exactly cbValue bytes into pValue, and a
    // REG_QWORD into value; ERROR_INVALID_DATA for another type or size. What
    // they read into is left as it was on every nonzero result.
    DWORD QueryBinaryValue(const wchar_t* pszName, void* pValue, DWORD cbValue) const;
    DWORD QueryQwordValue(const wchar_t* pszName, ULONGLONG& value) const;

    DWORD SetStringValue(const wchar_t* pszName, const std::wstring& value) const;
    DWORD SetBinaryValue(const wchar_t* pszName, const void* pValue, DWORD cbValue) const;
    DWORD SetQwordValue(const wchar_t* pszName, ULONGLONG value) const;
    DWORD DeleteValue(const wchar_t* pszName) const;
    // Writes the key to disk now: it survives a power loss from here on.
    DWORD Flush() const;
    // The names of the keys right below it, as many as can be listed.
    std::vector<std::wstring> SubKeyNames() const;

private:
    CRegKeyHandle m_hKey;
};

// The value reader QueryStringValue goes through. Tests replace it to change a
// value between its two reads; the program keeps RegQueryValueExW.
using PfnRegQueryValueExW = LONG(WINAPI*)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
extern PfnRegQueryValueExW g_pfnRegQueryValueExW;
