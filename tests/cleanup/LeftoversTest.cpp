#include "CleanupTestSupport.h"
#include "TestSupport.h"

#include "resources/ProductList.h"
#include "win/Com.h"

#include <gtest/gtest.h>

#include <shlobj.h>

namespace
{
class LeftoversTest : public ::testing::Test
{
protected:
    CComInit m_com;
    ProductList m_list;
};

TEST_F(LeftoversTest, PreparedMachineIsCleanedUpAndItsEntriesRecordedInOrder)
{
    LeftoverMachine machine;

    m_list.RemoveLeftovers();

    EXPECT_TRUE(IsEmptyFolder(LeftoverMachine::kDataFolder));
    EXPECT_TRUE(Exists(LeftoverMachine::kNeighbourFile));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, LeftoverMachine::kUserKey));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, LeftoverMachine::kNeighbourKey));
    EXPECT_EQ(m_list.m_vecFoundPaths, machine.ExpectedFoundPaths());
    for (const std::wstring& strRecorded : machine.ExpectedFoundPaths())
        EXPECT_TRUE(Exists(strRecorded)) << Utf8(strRecorded); // only recorded
}

TEST_F(LeftoversTest, CleanMachineStaysAsItWas)
{
    m_list.RemoveLeftovers();

    EXPECT_TRUE(m_list.m_vecFoundPaths.empty());
    EXPECT_FALSE(Exists(LeftoverMachine::kDataFolder));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, LeftoverMachine::kUserKey));
}

// The setting through which the shell finds the common application-data
// folder, changed for one test and set back to the prefix's own value.
class CommonAppDataSetting
{
public:
    explicit CommonAppDataSetting(const std::wstring& strValue) { Set(REG_SZ, strValue); }
    ~CommonAppDataSetting() { Set(REG_EXPAND_SZ, L"%ProgramData%"); }

private:
    static void Set(DWORD dwType, const std::wstring& strValue)
    {
        EXPECT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE,
                                    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                                    L"Common AppData", dwType, strValue.c_str(),
                                    static_cast<DWORD>((strValue.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
};

class UnknownCommonFolderTest : public LeftoversTest, public ::testing::WithParamInterface<const wchar_t*>
{
};

TEST_P(UnknownCommonFolderTest, StartMenuAndDataFolderStepsAreSkipped)
{
    LeftoverMachine machine;
    // Without a base, the paths would land at the current drive's root or in
    // the current folder: both lie in the prefix, with bait there.
    ScratchFolder current(L"leftovers-current");
    CurrentFolder inCurrent(current.Path());
    ASSERT_TRUE(inCurrent.IsCurrent());
    const std::wstring bait[] = {L"C:\\Vimo\\VimoLumet\\keep.txt",
                                 L"C:\\Microsoft\\Windows\\Start Menu\\Programs\\Vimo\\VimoLumet.lnk",
                                 current / L"relative\\Vimo\\VimoLumet\\keep.txt",
                                 current / L"relative\\Microsoft\\Windows\\Start Menu\\Programs\\Vimo\\VimoLumet.lnk"};
    for (const std::wstring& strPath : bait)
        PlantFile(strPath);
    {
        CommonAppDataSetting setting(GetParam());
        wchar_t szFolder[MAX_PATH] = {};
        ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szFolder);
        ASSERT_EQ(std::wstring(szFolder), std::wstring(GetParam()));

        m_list.RemoveLeftovers();
    }

    for (const std::wstring& strPath : bait)
        EXPECT_TRUE(Exists(strPath)) << Utf8(strPath);
    std::vector<std::wstring> expected = machine.ExpectedFoundPaths();
    expected.erase(expected.begin() + 1); // the common start-menu entry
    EXPECT_EQ(m_list.m_vecFoundPaths, expected);
    EXPECT_TRUE(Exists(LeftoverMachine::kDataFolder + L"\\settings.xml"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, LeftoverMachine::kUserKey)); // the other steps still run

    RemovePlanted(L"C:\\Vimo");
    RemovePlanted(L"C:\\Microsoft");
}

// An empty setting makes the lookup fail with an empty buffer; a relative one
// naming an existing folder (below the current folder) is given as it is.
INSTANTIATE_TEST_SUITE_P(EmptyOrRelative, UnknownCommonFolderTest, ::testing::Values(L"", L"relative"));
}
