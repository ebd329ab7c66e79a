#include "cleanup/ShortcutSearch.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace
{
std::vector<std::wstring> Sorted(std::vector<std::wstring> paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Each entry is planted on a desktop and in a per-user start-menu maker
// folder, with the name each search records it under, or nullptr.
const struct
{
    const wchar_t* name;
    bool bFolder;
    const wchar_t* desktop;
    const wchar_t* maker;
} kEntries[] = {
    {L"VimoLumet.LNK", false, L"vimolumet.lnk", L"vimolumet.lnk"},
    {L"Start VIMOLUMET Now.lnk", false, L"start vimolumet now.lnk", L"start vimolumet now.lnk"},
    {L"VimoLumetlnk", false, L"vimolumetlnk", L"vimolumetlnk"},
    {L"Vimo Lumet.lnk", false, nullptr, nullptr},
    {L"VimoLumet.url", false, nullptr, nullptr},
    {L"VimoLumet.lnk.bak", false, nullptr, nullptr},
    {L"ab", false, nullptr, nullptr},
    {L".VimoLumet.lnk", false, L".vimolumet.lnk", nullptr},
    {L"VimoLumet", true, nullptr, L"vimolumet"},
    {L"VimoLumet\\VimoLumet.lnk", false, nullptr, nullptr}, // sub-folders are not searched
};

TEST(ShortcutSearchTest, DesktopsAndStartMenusOfEveryProfile)
{
    const std::wstring strMenu = L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\";
    const PlantedPath profile{L"C:\\users\\Lumet-Search"}, dotProfile{L"C:\\users\\.cache"},
        startupOnly{L"C:\\users\\Lumet-Startup"};
    std::vector<std::wstring> desktop, programs; // programs: what the start-menu search records
    for (const auto& entry : kEntries)
    {
        for (const std::wstring& strFolder : {profile.strPath + L"\\Desktop\\", profile.strPath + strMenu + L"Vimo\\"})
            entry.bFolder ? MakeFolders(strFolder + entry.name) : WriteBytes(strFolder + entry.name, "planted");
        if (entry.desktop)
            desktop.push_back(L"c:\\users\\lumet-search\\desktop\\" + std::wstring(entry.desktop));
        if (entry.maker)
            programs.push_back(profile.strPath + strMenu + L"Vimo\\" + entry.maker); // the folder part as it is
    }
    WriteBytes(profile.strPath + strMenu + L"Startup\\Vimo\\VimoLumet Tray.lnk", "planted");
    WriteBytes(startupOnly.strPath + strMenu + L"Startup\\Vimo\\VimoLumet.lnk", "planted"); // and no Programs\Vimo
    programs.insert(programs.end(), {profile.strPath + strMenu + L"Startup\\Vimo\\vimolumet tray.lnk",
                                     startupOnly.strPath + strMenu + L"Startup\\Vimo\\vimolumet.lnk"});
    for (const std::wstring& strFolder : {std::wstring(L"\\Desktop\\"), strMenu + L"Vimo\\"})
        WriteBytes(dotProfile.strPath + strFolder + L"VimoLumet.lnk", "planted");

    EXPECT_EQ(Sorted(FindDesktopShortcuts()), Sorted(desktop));
    EXPECT_EQ(Sorted(FindStartMenuEntries()), Sorted(programs));
}
}
