#include "installer/RemoveEarlierVersions.h"

#include "TestSupport.h"

#include "installer/ProcessRunner.h"
#include "win/Com.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
std::vector<std::wstring> g_vecRuns;

DWORD RecordRun(const CChildProgram& program, DWORD&)
{
    g_vecRuns.push_back(program.strCommandLine);
    return ERROR_FILE_NOT_FOUND; // no installer could be started: the loop goes on all the same
}

TEST(RemoveEarlierVersionsTest, RemovesEveryListedReleaseInOrder)
{
    SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, &RecordRun);
    CComInit com;
    CWorkFolder work;
    CInstallerSession session(work);
    for (const bool bEmpty : {false, true})
    {
        ProductList list;
        if (bEmpty)
            list.m_vecProducts.clear();
        ASSERT_EQ(list.m_vecProducts.size(), bEmpty ? 0u : 8u);
        g_vecRuns.clear();

        RemoveEarlierVersions(session, list);

        ASSERT_EQ(g_vecRuns.size(), list.m_vecProducts.size());
        for (size_t i = 0; i < g_vecRuns.size(); ++i)
            EXPECT_TRUE(g_vecRuns[i].starts_with(L"MsiExec.exe /X" + list.m_vecProducts[i].strProductCode + L" /quiet"))
                << Utf8(g_vecRuns[i]);
    }
}
}
