#include "cleanup/Leftovers.h"

#include "TestSupport.h"

#include "win/MyRegKey.h"
#include "win/Security.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

namespace
{
// The common start menu's entries are found, the data folder is emptied and
// kept, and the per-user key goes, no key beside it. A resumed run, which may
// run as another account, deletes the key of the user whose update it is,
// through that user's hive, never its own account's; where that hive is not
// loaded, the key stays and the log says so.
TEST(LeftoversTest, EmptiesTheDataFolderAndDeletesTheKeyOfTheUserTheRecordNames)
{
    const std::wstring strData = L"C:\\ProgramData\\Vimo\\VimoLumet";
    const PlantedPath data{L"C:\\ProgramData\\Vimo"},
        menu{L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Vimo"};
    WriteBytes(menu.strPath + L"\\VimoLumet.lnk", "planted");
    const std::wstring strOwn = UserSid();
    ASSERT_FALSE(strOwn.empty());
    const struct
    {
        std::wstring strSid;
        bool bDeleted;
        std::string strLog;
    } cases[] = {
        {strOwn, true, ""},
        {L"", true, ""}, // this process's own user
        {L"S-1-5-21-7-7-7-1001", false, "Per-user key left: the registry of S-1-5-21-7-7-7-1001 is not loaded\r\n"},
        {L"S-1-5-21-7-7-7-1001\\..", false,
         "Per-user key left: the registry of S-1-5-21-7-7-7-1001\\.. is not loaded\r\n"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(Utf8(c.strSid));
        for (const wchar_t* pszFile : {L"\\settings.xml", L"\\Cache\\a.bin"})
            WriteBytes(strData + pszFile, "planted");
        for (const wchar_t* pszKey : {L"Software\\Vimo\\Lumet\\Recent", L"Software\\Vimo\\Keep"})
            ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, pszKey, L"Value", REG_SZ, L"x", 4), ERROR_SUCCESS);
        const LogCapture log;
        CWorkFolder work;
        EXPECT_EQ(RemoveLeftovers(work, c.strSid), std::vector<std::wstring>{menu.strPath + L"\\vimolumet.lnk"});
        EXPECT_EQ(CMyRegKey().Open(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet") != ERROR_SUCCESS, c.bDeleted);
        EXPECT_EQ(CMyRegKey().Open(HKEY_CURRENT_USER, L"Software\\Vimo\\Keep"), ERROR_SUCCESS);
        EXPECT_TRUE(IsFolder(strData) && std::filesystem::is_empty(strData)); // emptied, kept
        EXPECT_EQ(log.Bytes(), c.strLog);
    }
    ::SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vimo");
}
}
