#include "CleanupTestSupport.h"
#include "TestSupport.h"

#include "resources/ProductList.h"
#include "win/Com.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace
{
// One entry planted in a searched folder, and the name it is recorded under
// (nullptr: not recorded).
struct Planted
{
    const wchar_t* name;
    bool bFolder;
    const wchar_t* recorded;
};

const std::vector<Planted> kDesktopEntries = {
    {L"VimoLumet.lnk", false, L"vimolumet.lnk"},
    {L"Start VIMOLUMET Now.lnk", false, L"start vimolumet now.lnk"},
    {L"Vimo Lumet.lnk", false, nullptr},
    {L"VimoLumet.url", false, nullptr},
    {L"VimoLumet.lnk.bak", false, nullptr},
    {L"VimoLumetlnk", false, L"vimolumetlnk"},
    {L"Über VimoLumet.LNK", false, L"Über vimolumet.lnk"}, // only A-Z are folded
    {L".VimoLumet Hidden.lnk", false, L".vimolumet hidden.lnk"},
    {L"ab", false, nullptr},
    {L"VimoLumet", true, nullptr},
    {L"VimoLumet Folder.lnk", true, L"vimolumet folder.lnk"}, // types are not told apart
    {L"Tools\\VimoLumet.lnk", false, nullptr},                // sub-folders are not searched
};

const std::vector<Planted> kMakerEntries = {
    {L"VimoLumet.LNK", false, L"vimolumet.lnk"},
    {L"VimoLumet Uninstall.lnk", false, L"vimolumet uninstall.lnk"},
    {L"Vimo Lumet.lnk", false, nullptr},
    {L"VimoLumet.url", false, nullptr},
    {L"VimoLumet.lnk.bak", false, nullptr},
    {L"VimoLumetlnk", false, L"vimolumetlnk"},
    {L"Über VimoLumet.lnk", false, L"Über vimolumet.lnk"},
    {L".VimoLumet.lnk", false, nullptr},
    {L"ab", false, nullptr},
    {L"VimoLumet", true, L"vimolumet"}, // folders need no shortcut ending
    {L"VimoLumet Tools.lnk", true, L"vimolumet tools.lnk"},
    {L".VimoLumet", true, nullptr},
    {L"VimoLumet Extras\\VimoLumet.lnk", false, nullptr}, // the folder is recorded, never searched
    {L"VimoLumet Extras", true, L"vimolumet extras"},
    {L"Tools\\VimoLumet.lnk", false, nullptr},
};

// Plants the entries in strFolder (ending with a backslash) and gives the
// paths expected to be recorded, sorted.
std::vector<std::wstring> PlantEntries(const std::wstring& strFolder, const std::vector<Planted>& entries,
                                       const std::wstring& strRecordedFolder)
{
    std::vector<std::wstring> expected;
    for (const Planted& entry : entries)
    {
        if (entry.bFolder)
            MakeFolders(strFolder + entry.name);
        else
            PlantFile(strFolder + entry.name);
        if (entry.recorded)
            expected.push_back(strRecordedFolder + entry.recorded);
    }
    std::sort(expected.begin(), expected.end());
    return expected;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

class ShortcutSearchTest : public ::testing::Test
{
protected:
    CComInit m_com;
    ProductList m_list;
};

TEST_F(ShortcutSearchTest, DesktopShortcutsOfEveryProfileAreRecordedFolded)
{
    PlantedProfile profile(L"Lumet-Search-A");
    const std::vector<std::wstring> expected =
        PlantEntries(profile.Desktop() + L"\\", kDesktopEntries, L"c:\\users\\lumet-search-a\\desktop\\");
    PlantedProfile noDesktop(L"Lumet-No-Desktop");
    PlantedProfile dotProfile(L".cache");
    PlantFile(dotProfile.Desktop() + L"\\VimoLumet.lnk");
    const std::wstring publicShortcut = kProfilesRoot + L"\\Public\\Desktop\\VimoLumet Public.lnk";
    PlantFile(publicShortcut);

    m_list.FindDesktopShortcuts();
    ::DeleteFileW(publicShortcut.c_str());

    EXPECT_EQ(Sorted(RecordedUnder(m_list, L"c:\\users\\lumet-search-a\\")), expected);
    EXPECT_EQ(RecordedUnder(m_list, L"c:\\users\\public\\"),
              std::vector<std::wstring>{L"c:\\users\\public\\desktop\\vimolumet public.lnk"});
    EXPECT_TRUE(RecordedUnder(m_list, L"c:\\users\\.cache").empty());
    EXPECT_TRUE(Exists(profile.Desktop() + L"\\VimoLumet.lnk")); // only recorded
}

TEST_F(ShortcutSearchTest, MakerEntriesAreRecordedWithTheFolderAsGiven)
{
    PlantedProfile profile(L"Lumet-Search-A");
    const std::wstring folder = profile.ProgramsMakerFolder();
    const std::vector<std::wstring> expected = PlantEntries(folder, kMakerEntries, folder);

    m_list.CollectMakerEntries(folder);
    EXPECT_EQ(Sorted(m_list.m_vecFoundPaths), expected); // "Lumet-Search-A" keeps its case
}

TEST_F(ShortcutSearchTest, StartMenuEntriesOfEveryProfileProgramsBeforeStartup)
{
    PlantedProfile both(L"Lumet-Search-A");
    PlantFile(both.ProgramsMakerFolder() + L"VimoLumet.lnk");
    PlantFile(both.ProgramsMakerFolder() + L"VimoLumet Help.lnk");
    PlantFile(both.StartupMakerFolder() + L"VimoLumet Tray.lnk");
    PlantedProfile startupOnly(L"Lumet-Search-B");
    PlantFile(startupOnly.StartupMakerFolder() + L"VimoLumet Tray.lnk");
    PlantedProfile dotProfile(L".cache");
    PlantFile(dotProfile.ProgramsMakerFolder() + L"VimoLumet.lnk");

    m_list.FindStartMenuEntries();

    const std::vector<std::wstring> recorded = RecordedUnder(m_list, both.Path() + L"\\");
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(Sorted({recorded[0], recorded[1]}),
              Sorted({both.ProgramsMakerFolder() + L"vimolumet.lnk", both.ProgramsMakerFolder() + L"vimolumet help.lnk"}));
    EXPECT_EQ(recorded[2], both.StartupMakerFolder() + L"vimolumet tray.lnk");
    EXPECT_EQ(RecordedUnder(m_list, startupOnly.Path() + L"\\"),
              std::vector<std::wstring>{startupOnly.StartupMakerFolder() + L"vimolumet tray.lnk"});
    EXPECT_TRUE(RecordedUnder(m_list, dotProfile.Path()).empty());
}
}
