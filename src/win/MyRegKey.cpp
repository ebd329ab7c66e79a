#include "win/MyRegKey.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

PfnRegQueryValueExW g_pfnRegQueryValueExW = &::RegQueryValueExW;

DWORD CMyRegKey::Open(HKEY hRoot, const wchar_t* pszSubKey, DWORD dwOptions, REGSAM samDesired)
{
    HKEY hKey = nullptr;
    const LONG lResult = ::RegOpenKeyExW(hRoot, pszSubKey, dwOptions, samDesired, &hKey);
    m_hKey.Reset(lResult == ERROR_SUCCESS ? hKey : nullptr);
    return static_cast<DWORD>(lResult);
}

DWORD CMyRegKey::Create(HKEY hRoot, const wchar_t* pszSubKey)
{
    HKEY hKey = nullptr;
    const LONG lResult = ::RegCreateKeyExW(hRoot, pszSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                           nullptr, &hKey, nullptr);
    m_hKey.Reset(lResult == ERROR_SUCCESS ? hKey : nullptr);
    return static_cast<DWORD>(lResult);
}

DWORD CMyRegKey::QueryBinaryValue(const wchar_t* pszName, void* pValue, DWORD cbValue) const
{
    std::vector<BYTE> bytes(cbValue + 1);
    DWORD dwType = 0;
    DWORD cbData = static_cast<DWORD>(bytes.size());
    const LONG lResult = g_pfnRegQueryValueExW(m_hKey.Get(), pszName, nullptr, &dwType, bytes.data(), &cbData);
    if (lResult != ERROR_SUCCESS)
        return static_cast<DWORD>(lResult);
    if (dwType != REG_BINARY || cbData != cbValue)
        return ERROR_INVALID_DATA;
    std::memcpy(pValue, bytes.data(), cbValue);
    return ERROR_SUCCESS;
}

DWORD CMyRegKey::QueryQwordValue(const wchar_t* pszName, ULONGLONG& value) const
{
    ULONGLONG n = 0;
    DWORD dwType = 0;
    DWORD cbData = sizeof(n);
    const LONG lResult =
        g_pfnRegQueryValueExW(m_hKey.Get(), pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&n), &cbData);
    if (lResult != ERROR_SUCCESS)
        return static_cast<DWORD>(lResult);
    if (dwType != REG_QWORD || cbData != sizeof(n))
        return ERROR_INVALID_DATA;
    value = n;
    return ERROR_SUCCESS;
}

DWORD CMyRegKey::SetStringValue(const wchar_t* pszName, const std::wstring& value) const
{
    return static_cast<DWORD>(::RegSetValueExW(m_hKey.Get(), pszName, 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(value.c_str()),
                                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

DWORD CMyRegKey::SetBinaryValue(const wchar_t* pszName, const void* pValue, DWORD cbValue) const
{
    return static_cast<DWORD>(
        ::RegSetValueExW(m_hKey.Get(), pszName, 0, REG_BINARY, static_cast<const BYTE*>(pValue), cbValue));
}

DWORD CMyRegKey::SetQwordValue(const wchar_t* pszName, ULONGLONG value) const
{
    return static_cast<DWORD>(
        ::RegSetValueExW(m_hKey.Get(), pszName, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

DWORD CMyRegKey::DeleteValue(const wchar_t* pszName) const
{
    return static_cast<DWORD>(::RegDeleteValueW(m_hKey.Get(), pszName));
}

DWORD CMyRegKey::Flush() const { return static_cast<DWORD>(::RegFlushKey(m_hKey.Get())); }

std::vector<std::wstring> CMyRegKey::SubKeyNames() const
{
    std::vector<std::wstring> vecNames;
    wchar_t szName[256]; // a key's name is 255 characters at the most
    for (DWORD i = 0, cchName = 256;
         ::RegEnumKeyExW(m_hKey.Get(), i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, cchName = 256)
        vecNames.emplace_back(szName, cchName);
    return vecNames;
}

namespace
{
bool IsStringType(DWORD dwType) { return dwType == REG_SZ || dwType == REG_EXPAND_SZ; }
}

DWORD CMyRegKey::QueryStringValue(const wchar_t* pszName, std::wstring& value) const
{
    DWORD dwType = 0;
    DWORD cbData = 0;
    LONG lResult = g_pfnRegQueryValueExW(m_hKey.Get(), pszName, nullptr, &dwType, nullptr, &cbData);
    if (lResult != ERROR_SUCCESS)
        return static_cast<DWORD>(lResult);
    if (!IsStringType(dwType))
        return ERROR_INVALID_PARAMETER;

    // The buffer is the string that is handed back, so that nothing can fail
    // once the value has been read. It holds the reported bytes (rounded up
    // to whole characters), and its data pointer is never null: a value that
    // was empty at the first read and has grown since gives ERROR_MORE_DATA
    // instead of being read into no buffer at all.
    const DWORD cbBuffer = cbData;
    std::wstring text;
    try
    {
        text.resize((static_cast<size_t>(cbBuffer) + 1) / sizeof(wchar_t));
    }
    catch (const std::exception&)
    {
        return ERROR_OUTOFMEMORY;
    }

    lResult =
        g_pfnRegQueryValueExW(m_hKey.Get(), pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(text.data()), &cbData);
    if (lResult != ERROR_SUCCESS)
        return static_cast<DWORD>(lResult);
    if (!IsStringType(dwType))
        return ERROR_INVALID_PARAMETER;

    // Stored data need not end with a NUL: take the whole characters held,
    // up to the first NUL if there is one.
    text.resize(std::min(cbData, cbBuffer) / sizeof(wchar_t));
    const size_t nNul = text.find(L'\0');
    if (nNul != std::wstring::npos)
        text.resize(nNul);
    value = std::move(text);
    return ERROR_SUCCESS;
}
