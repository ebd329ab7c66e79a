// The one test file that needs the real ProductList::UninstallProduct; until
// it is in the tree, UninstallProductStandIn.cpp takes its place.

#include "CleanupTestSupport.h"
#include "TestSupport.h"

#include "installer/ProcessRunner.h"
#include "resources/ProductList.h"
#include "win/Com.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
// Every command as it would be run, and whether the clean-up had already
// happened when it came.
std::vector<std::wstring> g_vecCommands;
std::vector<bool> g_vecCleanedUpBefore;
const ProductList* g_pList = nullptr;

bool RecordCommand(const std::wstring& strCommandLine)
{
    g_vecCommands.push_back(strCommandLine);
    g_vecCleanedUpBefore.push_back(!g_pList->m_vecFoundPaths.empty() ||
                                   !Exists(LeftoverMachine::kDataFolder + L"\\settings.xml"));
    return g_vecCommands.size() > 1; // the first installer "cannot be started": the loop goes on
}

class RemoveEarlierVersionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_vecCommands.clear();
        g_vecCleanedUpBefore.clear();
        g_pList = &m_list;
        g_pfnRunCommandLine = &RecordCommand;
    }
    void TearDown() override { g_pfnRunCommandLine = &RunCommandLine; }

    // One quiet removal per code, in this order, then exactly one clean-up.
    void ExpectRemovalsThenOneCleanUp(const std::vector<std::wstring>& codes)
    {
        ASSERT_EQ(g_vecCommands.size(), codes.size());
        for (size_t i = 0; i < codes.size(); ++i)
        {
            const std::wstring& strCommand = g_vecCommands[i];
            EXPECT_TRUE(strCommand.starts_with(L"MsiExec.exe /X" + codes[i] + L" /quiet /lv \"")) << Utf8(strCommand);
            EXPECT_NE(strCommand.find(L"\\VimoLog\\VimoLumet"), std::wstring::npos) << Utf8(strCommand);
            EXPECT_TRUE(strCommand.ends_with(L".log\"")) << Utf8(strCommand);
            EXPECT_FALSE(g_vecCleanedUpBefore[i]) << i;
        }
        EXPECT_EQ(m_list.m_vecFoundPaths, m_machine.ExpectedFoundPaths()); // recorded once, so cleaned up once
        EXPECT_TRUE(IsEmptyFolder(LeftoverMachine::kDataFolder));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, LeftoverMachine::kUserKey));
    }

    CComInit m_com;
    LeftoverMachine m_machine;
    ProductList m_list;
};

TEST_F(RemoveEarlierVersionsTest, ShippedReleasesAreRemovedInListOrderThenCleanedUpOnce)
{
    std::vector<std::wstring> codes;
    for (const ProductEntry& entry : m_list.m_vecProducts)
        codes.push_back(entry.strProductCode);
    ASSERT_EQ(codes.size(), 8u);

    m_list.RemoveEarlierVersions();

    ExpectRemovalsThenOneCleanUp(codes);
    ASSERT_EQ(m_list.m_vecProducts.size(), codes.size());
    for (size_t i = 0; i < codes.size(); ++i)
        EXPECT_EQ(m_list.m_vecProducts[i].strProductCode, codes[i]);
}

TEST_F(RemoveEarlierVersionsTest, EveryEntryIsRemovedEvenTwiceOrWhenUnknown)
{
    const std::wstring strCode = L"{0C6B6A36-7C5E-4F0B-9F39-5A8E3D1E2B11}";
    const std::wstring strUnknown = L"{00000000-0000-0000-0000-000000000000}";
    m_list.m_vecProducts.assign(3, ProductEntry{L"Vimo Lumet", L"", strCode, L"", L"", L""});
    m_list.m_vecProducts[2].strProductCode = strUnknown;

    m_list.RemoveEarlierVersions();

    ExpectRemovalsThenOneCleanUp({strCode, strCode, strUnknown});
}

TEST_F(RemoveEarlierVersionsTest, EmptyListRunsNoInstallerButStillCleansUp)
{
    m_list.m_vecProducts.clear();
    m_list.RemoveEarlierVersions();
    ExpectRemovalsThenOneCleanUp({});
}
}
