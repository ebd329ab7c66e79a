#include "cleanup/Leftovers.h"

#include "TestSupport.h"

#include "win/MyRegKey.h"
#include "win/Security.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>

namespace
{
// Each entry is planted on a profile's desktop and in its start-menu maker
// folder, with the name each search records it under, or nullptr.
const struct
{
    const wchar_t* name;
    bool bFolder;
    const wchar_t *desktop, *maker;
} kEntries[] = {
    {L"VimoLumet.LNK", false, L"vimolumet.lnk", L"vimolumet.lnk"},
    {L"Start VIMOLUMET Nowlnk", false, L"start vimolumet nowlnk", L"start vimolumet nowlnk"},
    {L"Vimo Lumet.lnk", false, nullptr, nullptr},
    {L"ab", false, nullptr, nullptr},
    {L".VimoLumet.lnk", false, L".vimolumet.lnk", nullptr},
    {L"VimoLumet", true, nullptr, L"vimolumet"},
    {L"VimoLumet\\VimoLumet.lnk", false, nullptr, nullptr}, // sub-folders are not searched
};

// The shortcuts on every profile's desktop (but a profile named with a dot)
// and the entries of the start menus' maker folders are found, and stay; the
// data folder is emptied and kept, and the per-user key goes, no key beside
// it. A resumed run, which may run as another account, deletes the key of the
// user whose update it is, through that user's hive, never its own account's;
// where that hive is not loaded, the key stays and the log says so.
TEST(LeftoversTest, EmptiesTheDataFolderAndDeletesTheKeyOfTheUserTheRecordNames)
{
    const std::wstring strData = L"C:\\ProgramData\\Vimo\\VimoLumet";
    const PlantedPath data{L"C:\\ProgramData\\Vimo"},
        menu{L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Vimo"};
    WriteBytes(menu.strPath + L"\\VimoLumet.lnk", "planted");
    const std::wstring strMenu = L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\";
    const PlantedPath profile{L"C:\\users\\Lumet-Search"}, dotProfile{L"C:\\users\\.cache"};
    std::vector<std::wstring> vecExpected = {menu.strPath + L"\\vimolumet.lnk"};
    for (const auto& entry : kEntries)
    {
        for (const std::wstring& strFolder : {profile.strPath + L"\\Desktop\\", profile.strPath + strMenu + L"Vimo\\"})
            entry.bFolder ? MakeFolders(strFolder + entry.name) : WriteBytes(strFolder + entry.name, "planted");
        if (entry.desktop)
            vecExpected.push_back(L"c:\\users\\lumet-search\\desktop\\" + std::wstring(entry.desktop));
        if (entry.maker)
            vecExpected.push_back(profile.strPath + strMenu + L"Vimo\\" + entry.maker); // the folder part as it is
    }
    WriteBytes(profile.strPath + strMenu + L"Startup\\Vimo\\VimoLumet Tray.lnk", "planted");
    vecExpected.push_back(profile.strPath + strMenu + L"Startup\\Vimo\\vimolumet tray.lnk");
    WriteBytes(dotProfile.strPath + L"\\Desktop\\VimoLumet.lnk", "planted");
    std::ranges::sort(vecExpected);
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
        std::vector<std::wstring> vecFound = RemoveLeftovers(work, c.strSid);
        std::ranges::sort(vecFound);
        EXPECT_EQ(vecFound, vecExpected);
        EXPECT_EQ(CMyRegKey().Open(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet") != ERROR_SUCCESS, c.bDeleted);
        EXPECT_EQ(CMyRegKey().Open(HKEY_CURRENT_USER, L"Software\\Vimo\\Keep"), ERROR_SUCCESS);
        EXPECT_TRUE(IsFolder(strData) && std::filesystem::is_empty(strData)); // emptied, kept
        EXPECT_EQ(log.Bytes(), c.strLog);
    }
    EXPECT_TRUE(Exists(profile.strPath + L"\\Desktop\\VimoLumet.LNK") && Exists(menu.strPath + L"\\VimoLumet.lnk"));
    ::SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vimo");
}
}
