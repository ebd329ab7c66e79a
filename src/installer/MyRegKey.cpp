#include "MyRegKey.h"

#include <cstring>
#include <new>
#include <vector>

CMyRegKey::~CMyRegKey()
{
    Close();
}

LONG CMyRegKey::Open(HKEY hRoot, const wchar_t* pszSubKey)
{
    Close();
    const LONG lResult = ::RegOpenKeyExW(hRoot, pszSubKey, 0, KEY_READ, &m_hKey);
    if (lResult == ERROR_SUCCESS)
        m_bOpen = 1;
    else
        m_hKey = nullptr;
    return lResult;
}

void CMyRegKey::Close()
{
    if (m_bOpen)
    {
        ::RegCloseKey(m_hKey);
        m_hKey = nullptr;
        m_bOpen = 0;
    }
}

namespace
{
bool IsStringType(DWORD dwType) { return dwType == REG_SZ || dwType == REG_EXPAND_SZ; }
}

LONG CMyRegKey::QueryStringValue(const wchar_t* pszName, std::wstring& value)
{
    DWORD dwType = 0;
    DWORD cbData = 0;
    LONG lResult = ::RegQueryValueExW(m_hKey, pszName, nullptr, &dwType, nullptr, &cbData);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    if (!IsStringType(dwType))
        return ERROR_INVALID_PARAMETER;

    std::vector<BYTE> buffer;
    try
    {
        buffer.resize(cbData);
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_OUTOFMEMORY;
    }

    // The value may have grown since the first read; then this one fails
    // (ERROR_MORE_DATA) and that code is returned.
    lResult = ::RegQueryValueExW(m_hKey, pszName, nullptr, &dwType, buffer.empty() ? nullptr : buffer.data(), &cbData);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    if (!IsStringType(dwType))
        return ERROR_INVALID_PARAMETER;

    // Stored data need not end with a NUL: take the whole characters held,
    // up to the first NUL if there is one.
    const size_t nChars = cbData / sizeof(wchar_t);
    std::wstring text(nChars, L'\0');
    if (nChars > 0)
        std::memcpy(text.data(), buffer.data(), nChars * sizeof(wchar_t));
    const size_t nNul = text.find(L'\0');
    if (nNul != std::wstring::npos)
        text.resize(nNul);
    value = std::move(text);
    return ERROR_SUCCESS;
}
