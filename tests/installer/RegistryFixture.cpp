#include "RegistryFixture.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

ScratchRegKey::ScratchRegKey(HKEY hRoot, const std::wstring& strPath, const std::wstring& strRemovePath,
                             REGSAM samView)
    : m_hRoot(hRoot), m_strRemovePath(strRemovePath.empty() ? strPath : strRemovePath)
{
    m_bExisted = KeyExists(hRoot, m_strRemovePath);
    const LONG lResult = ::RegCreateKeyExW(hRoot, strPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | samView, nullptr,
                                           &m_hKey, nullptr);
    if (lResult != ERROR_SUCCESS)
    {
        m_hKey = nullptr;
        ADD_FAILURE() << "cannot create test key, error " << lResult;
    }
}

ScratchRegKey::~ScratchRegKey()
{
    if (m_bExisted)
    {
        for (const std::wstring& strName : m_vecValuesSet)
            ::RegDeleteValueW(m_hKey, strName.c_str());
    }
    if (m_hKey)
        ::RegCloseKey(m_hKey);
    // Deleting by path from the root removes the key itself as well.
    if (!m_bExisted)
        ::SHDeleteKeyW(m_hRoot, m_strRemovePath.c_str());
}

void ScratchRegKey::SetRaw(const wchar_t* pszName, DWORD dwType, const void* pData, DWORD cbData)
{
    m_vecValuesSet.push_back(pszName);
    EXPECT_EQ(::RegSetValueExW(m_hKey, pszName, 0, dwType, static_cast<const BYTE*>(pData), cbData), ERROR_SUCCESS);
}

void ScratchRegKey::SetString(const wchar_t* pszName, const std::wstring& strText, DWORD dwType)
{
    SetRaw(pszName, dwType, strText.c_str(), static_cast<DWORD>((strText.size() + 1) * sizeof(wchar_t)));
}

void ScratchRegKey::SetDword(const wchar_t* pszName, DWORD dwValue)
{
    SetRaw(pszName, REG_DWORD, &dwValue, sizeof(dwValue));
}

void ScratchRegKey::DeleteValue(const wchar_t* pszName)
{
    EXPECT_EQ(::RegDeleteValueW(m_hKey, pszName), ERROR_SUCCESS);
}

bool KeyExists(HKEY hRoot, const std::wstring& strPath)
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(hRoot, strPath.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(hKey);
    return true;
}
