#include "cleanup/Leftovers.h"

#include "CleanupTestSupport.h"

#include "win/MyRegKey.h"
#include "win/Security.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <vector>

namespace
{
// On a machine with what the uninstallers leave behind.
TEST(LeftoversTest, RecordsShortcutsEmptiesTheDataFolderAndDeletesTheUserKey)
{
    const std::wstring strMenu = L"\\Microsoft\\Windows\\Start Menu\\Programs\\";
    const std::wstring strUserMenu = L"C:\\users\\Lumet-Driver\\AppData\\Roaming" + strMenu;
    const std::wstring strData = L"C:\\ProgramData\\Vimo\\VimoLumet";
    const PlantedPath profile{L"C:\\users\\Lumet-Driver"}, data{L"C:\\ProgramData\\Vimo"},
        commonMenu{L"C:\\ProgramData" + strMenu + L"Vimo"};
    for (const std::wstring& strFile :
         {profile.strPath + L"\\Desktop\\VimoLumet.lnk", commonMenu.strPath + L"\\VimoLumet.lnk",
          strUserMenu + L"Vimo\\VimoLumet Help.lnk", strUserMenu + L"Startup\\Vimo\\VimoLumet Tray.lnk",
          strData + L"\\settings.xml", strData + L"\\Cache\\a.bin"})
        WriteBytes(strFile, "planted");
    for (const wchar_t* pszKey : {L"Software\\Vimo\\Lumet", L"Software\\Vimo\\Lumet\\Recent", L"Software\\Vimo\\Keep"})
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, pszKey, L"Value", REG_SZ, L"x", 4), ERROR_SUCCESS);

    CWorkFolder work;
    const std::vector<std::wstring> found = RemoveLeftovers(work, L"");

    // Desktops, the common start menu, then each profile's Programs and Startup folders.
    const std::vector<std::wstring> recorded = {
        L"c:\\users\\lumet-driver\\desktop\\vimolumet.lnk", commonMenu.strPath + L"\\vimolumet.lnk",
        strUserMenu + L"Vimo\\vimolumet help.lnk", strUserMenu + L"Startup\\Vimo\\vimolumet tray.lnk"};
    EXPECT_EQ(found, recorded);
    EXPECT_TRUE(IsFolder(strData) && std::filesystem::is_empty(strData)); // emptied, kept
    EXPECT_NE(CMyRegKey().Open(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet"), ERROR_SUCCESS);
    EXPECT_EQ(CMyRegKey().Open(HKEY_CURRENT_USER, L"Software\\Vimo\\Keep"), ERROR_SUCCESS);
    ::SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vimo");
}

// A resumed run, which the service manager may start as another account,
// deletes the key of the user whose update it is, through that user's hive,
// and never its own account's; where that hive is not loaded, the key stays
// and the log says so.
TEST(LeftoversTest, TheUserKeyIsTheOneOfTheUserTheRecordNames)
{
    struct Case
    {
        std::wstring strSid;
        bool bDeleted;
        std::string strLog;
    };
    const std::wstring strOwn = UserSid();
    ASSERT_FALSE(strOwn.empty());
    for (const Case& c : {Case{strOwn, true, ""},
                          Case{L"S-1-5-21-7-7-7-1001", false,
                               "Per-user key left: the registry of S-1-5-21-7-7-7-1001 is not loaded\r\n"},
                          Case{L"S-1-5-21-7-7-7-1001\\..", false,
                               "Per-user key left: the registry of S-1-5-21-7-7-7-1001\\.. is not loaded\r\n"}})
    {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet", L"Value", REG_SZ, L"x", 4),
                  ERROR_SUCCESS);
        const LogCapture log;
        CWorkFolder work;
        RemoveLeftovers(work, c.strSid);
        EXPECT_EQ(CMyRegKey().Open(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet") != ERROR_SUCCESS, c.bDeleted)
            << Utf8(c.strSid);
        EXPECT_EQ(log.Bytes(), c.strLog);
    }
    ::SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vimo");
}
}
