#include "CleanupTestSupport.h"

#include "TestSupport.h"

#include "resources/ProductList.h"
#include "win/Text.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <filesystem>

namespace fs = std::filesystem;

PlantedProfile::PlantedProfile(const std::wstring& strName) : m_strPath(kProfilesRoot + L"\\" + strName)
{
    RemovePlanted(m_strPath);
    MakeFolders(m_strPath);
}

PlantedProfile::~PlantedProfile()
{
    RemovePlanted(m_strPath);
}

std::wstring PlantedProfile::ProgramsMakerFolder() const
{
    return m_strPath + L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Vimo\\";
}

std::wstring PlantedProfile::StartupMakerFolder() const
{
    return m_strPath + L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\Vimo\\";
}

LeftoverMachine::LeftoverMachine()
{
    for (const wchar_t* pszFile : {L"settings.xml", L".state", L"Cache\\a.bin", L"Cache\\deep\\b.bin"})
        PlantFile(kDataFolder + L"\\" + pszFile);
    PlantFile(kNeighbourFile);

    const std::wstring strValue = L"planted";
    const DWORD cbValue = static_cast<DWORD>((strValue.size() + 1) * sizeof(wchar_t));
    for (const std::wstring& strKey : {kUserKey, kUserKey + L"\\Recent\\Files", kUserKey + L"\\Window", kNeighbourKey})
        for (const wchar_t* pszName : {L"", L"Language"})
            EXPECT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, strKey.c_str(), pszName, REG_SZ, strValue.c_str(), cbValue),
                      ERROR_SUCCESS);

    PlantFile(m_profile.Desktop() + L"\\VimoLumet.lnk");
    PlantFile(kCommonMakerFolder + L"VimoLumet.lnk");
    PlantFile(m_profile.ProgramsMakerFolder() + L"VimoLumet Uninstall.lnk");
    PlantFile(m_profile.StartupMakerFolder() + L"VimoLumet Tray.lnk");
}

LeftoverMachine::~LeftoverMachine()
{
    RemovePlanted(kCommonAppData + L"\\Vimo");
    RemovePlanted(kCommonMakerFolder);
    ::SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vimo");
}

std::vector<std::wstring> LeftoverMachine::ExpectedFoundPaths() const
{
    return {L"c:\\users\\lumet-driver\\desktop\\vimolumet.lnk", kCommonMakerFolder + L"vimolumet.lnk",
            m_profile.ProgramsMakerFolder() + L"vimolumet uninstall.lnk",
            m_profile.StartupMakerFolder() + L"vimolumet tray.lnk"};
}

CurrentFolder::CurrentFolder(const std::wstring& strFolder) : m_strFolder(strFolder)
{
    wchar_t szPrevious[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, szPrevious);
    m_strPrevious = szPrevious;
    ::SetCurrentDirectoryW(strFolder.c_str());
}

CurrentFolder::~CurrentFolder()
{
    ::SetCurrentDirectoryW(m_strPrevious.c_str());
}

bool CurrentFolder::IsCurrent() const
{
    wchar_t szCurrent[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, szCurrent);
    return EqualsNoCaseAscii(szCurrent, m_strFolder);
}

void StartUnixCommand(const std::wstring& strCommandLine)
{
    std::vector<wchar_t> cmd(strCommandLine.begin(), strCommandLine.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    if (pi.hThread)
        ::CloseHandle(pi.hThread);
    if (pi.hProcess)
        ::CloseHandle(pi.hProcess);
}

void PlantFile(const std::wstring& strPath)
{
    MakeFolders(fs::path(strPath).parent_path().wstring());
    WriteBytes(strPath, "planted");
}

void RemovePlanted(const std::wstring& strPath)
{
    std::error_code ec;
    fs::remove_all(strPath, ec);
}

bool IsEmptyFolder(const std::wstring& strPath)
{
    std::error_code ec;
    return IsFolder(strPath) && fs::is_empty(strPath, ec) && !ec;
}

bool KeyExists(HKEY hRoot, const std::wstring& strSubKey)
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(hRoot, strSubKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(hKey);
    return true;
}

std::vector<std::wstring> RecordedUnder(const ProductList& list, const std::wstring& strPrefix)
{
    std::vector<std::wstring> result;
    for (const std::wstring& strPath : list.m_vecFoundPaths)
        if (strPath.starts_with(strPrefix))
            result.push_back(strPath);
    return result;
}
