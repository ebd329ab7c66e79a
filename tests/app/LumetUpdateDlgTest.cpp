#include "DialogHarness.h"
#include "TestSupport.h"

#include "resources/MultiLanguage.h"
#include "resources/resource.h"
#include "win/Com.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace
{
// The message table that start-up makes, loaded from the embedded document.
class DialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_pMessageTable = new CMultiLanguage;
        CMultiLanguage::LoadLanguageResource();
    }
    void TearDown() override
    {
        m_steps.removal.Open();
        m_steps.install.Open();
        delete g_pMessageTable;
        g_pMessageTable = nullptr;
    }

    CComInit m_com;
    RecordingSteps m_steps;
};

TEST_F(DialogTest, PhasesRunInOrderOnWorkersAndTheWindowClosesItself)
{
    std::vector<std::wstring> atLaunch;
    m_steps.onLaunch = [&](CLumetUpdateDlg& dlg) {
        atLaunch.push_back(std::to_wstring(::SendMessageW(dlg.m_progress.Get(), PBM_GETPOS, 0, 0)));
    };
    DialogRun run(m_steps, L"C:\\Temp\\new.msi");
    ASSERT_TRUE(run.WaitEnded());
    EXPECT_EQ(run.Result(), IDCANCEL);

    const std::vector<std::wstring> expected = {
        L"SetMarquee(1,1000)",
        L"GetProductCode com products=8",
        L"GetInstallLocation",
        L"RemoveEarlierVersions",
        L"GetUninstallString",
        L"UninstallProduct(MsiExec.exe /I{11111111-2222-3333-4444-555555555555},{11111111-2222-3333-4444-555555555555})",
        L"InstallPackage(C:\\Temp\\new.msi,D:\\Apps\\Vimo\\) com products=8",
        L"SetMarquee(0,0)",
        L"SetPos(0)",
        L"LaunchApplication(D:\\Apps\\Vimo\\) flags=00",
    };
    EXPECT_EQ(m_steps.Events(), expected);
    EXPECT_EQ(atLaunch, std::vector<std::wstring>{L"0"});

    // Removal steps share one worker, the install step runs on a worker too;
    // neither is the window's thread.
    const std::vector<DWORD> threads = m_steps.Threads();
    ASSERT_EQ(threads.size(), expected.size());
    for (size_t i = 2; i <= 5; ++i)
        EXPECT_EQ(threads[i], threads[1]);
    EXPECT_NE(threads[1], run.ThreadId());
    EXPECT_NE(threads[6], run.ThreadId());
    EXPECT_EQ(threads[7], run.ThreadId()); // the progress bar is handled by the window's thread
}

TEST_F(DialogTest, NothingFoundIsCarriedOnAsEmptyText)
{
    m_steps.strProductCode.clear();
    m_steps.strInstallLocation.clear();
    m_steps.strUninstall.clear();
    DialogRun run(m_steps, L"");
    ASSERT_TRUE(run.WaitEnded());
    const std::vector<std::wstring> events = m_steps.Events();
    ASSERT_EQ(events.size(), 10u);
    EXPECT_EQ(events[5], L"UninstallProduct(,)");
    EXPECT_EQ(events[6], L"InstallPackage(,) com products=8");
    EXPECT_EQ(events[9], L"LaunchApplication() flags=00");
}

TEST_F(DialogTest, WindowShowsCaptionStatusAndMarqueeBar)
{
    m_steps.removal.Shut();
    DialogRun run(m_steps);
    const HWND hDlg = run.Window();
    ASSERT_NE(hDlg, nullptr);

    EXPECT_EQ(WindowText(hDlg), L"Vimo Lumet");
    EXPECT_EQ(WindowText(::GetDlgItem(hDlg, IDC_STATUS)), L"Update Vimo Lumet in progress, please wait.");
    const HWND hBar = ::GetDlgItem(hDlg, IDC_PROGRESS);
    wchar_t szClass[64] = {};
    ::GetClassNameW(hBar, szClass, 64);
    EXPECT_EQ(std::wstring(szClass), L"msctls_progress32");
    EXPECT_TRUE(::GetWindowLongPtrW(hBar, GWL_STYLE) & PBS_MARQUEE);
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(hDlg, WM_GETICON, ICON_BIG, 0)),
              ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128)));
    EXPECT_NE(::SendMessageW(hDlg, WM_QUERYDRAGICON, 0, 0), 0);

    m_steps.removal.Open();
    EXPECT_TRUE(run.WaitEnded());
}

struct CloseCase
{
    const char* name;
    bool bDuringInstall;
    UINT uMsg;
    WPARAM wParam;
};

class CloseGuardTest : public DialogTest, public ::testing::WithParamInterface<CloseCase>
{
};

TEST_P(CloseGuardTest, RefusesWithTheWarningWhileAPhaseRuns)
{
    const CloseCase& c = GetParam();
    Gate& gate = c.bDuringInstall ? m_steps.install : m_steps.removal;
    gate.Shut();
    DialogRun run(m_steps);
    const HWND hDlg = run.Window();
    ASSERT_NE(hDlg, nullptr);
    // Wait until the phase in question is at its gate.
    const std::wstring strAtGate = c.bDuringInstall ? L"InstallPackage" : L"GetProductCode";
    for (int i = 0; i < 500 && m_steps.Count(strAtGate) == 0; ++i)
        ::Sleep(10);
    ASSERT_EQ(m_steps.Count(strAtGate), 1u);

    ::PostMessageW(hDlg, c.uMsg, c.wParam, 0);
    const HWND hBox = WaitForMessageBox(run.ThreadId(), hDlg);
    ASSERT_NE(hBox, nullptr);
    EXPECT_EQ(WindowText(hBox), L"Vimo Lumet");
    EXPECT_EQ(WindowText(::GetDlgItem(hBox, 0xFFFF)), L"Update not finish, please wait.");
    EXPECT_NE(::GetDlgItem(hBox, IDOK), nullptr);
    EXPECT_EQ(::GetDlgItem(hBox, IDCANCEL), nullptr);
    ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);

    EXPECT_FALSE(run.WaitEnded(300));
    EXPECT_TRUE(::IsWindow(hDlg));
    gate.Open();
    ASSERT_TRUE(run.WaitEnded());
    EXPECT_EQ(m_steps.Count(L"LaunchApplication"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, CloseGuardTest,
    ::testing::Values(CloseCase{"CloseButtonDuringRemoval", false, WM_CLOSE, 0},
                      CloseCase{"CloseButtonDuringInstall", true, WM_CLOSE, 0},
                      CloseCase{"EscapeDuringRemoval", false, WM_COMMAND, IDCANCEL},
                      CloseCase{"SystemMenuCloseDuringInstall", true, WM_SYSCOMMAND, SC_CLOSE}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return info.param.name; });

TEST_F(DialogTest, EnterDoesNothing)
{
    m_steps.removal.Shut();
    DialogRun run(m_steps);
    ASSERT_NE(run.Window(), nullptr);
    ::PostMessageW(run.Window(), WM_COMMAND, IDOK, 0);
    ::Sleep(300);
    EXPECT_EQ(FindMessageBox(run.ThreadId(), run.Window()), nullptr);
    EXPECT_FALSE(run.WaitEnded(0));
    m_steps.removal.Open();
    EXPECT_TRUE(run.WaitEnded());
}

TEST_F(DialogTest, StormOfCloseRequestsNeitherClosesEarlyNorHangs)
{
    m_steps.dwStepDelayMs = 60;
    std::atomic<bool> bStop{false};
    std::atomic<int> nBoxes{0};
    DialogRun run(m_steps);
    const HWND hDlg = run.Window();
    ASSERT_NE(hDlg, nullptr);

    std::thread storm([&] {
        while (!bStop)
        {
            ::PostMessageW(hDlg, WM_CLOSE, 0, 0);
            if (HWND hBox = FindMessageBox(run.ThreadId(), hDlg))
            {
                ++nBoxes;
                ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
            }
            ::Sleep(2);
        }
    });
    const bool bEnded = run.WaitEnded(60000);
    bStop = true;
    storm.join();
    ASSERT_TRUE(bEnded);
    EXPECT_GT(nBoxes.load(), 0);
    // The window closed only after the whole update had run.
    EXPECT_EQ(m_steps.Count(L"InstallPackage"), 1u);
    EXPECT_EQ(m_steps.Count(L"LaunchApplication"), 1u);
}

TEST_F(DialogTest, SecondRemovalDoneStartsNoSecondInstall)
{
    m_steps.install.Shut();
    DialogRun run(m_steps);
    ASSERT_NE(run.Window(), nullptr);
    for (int i = 0; i < 500 && m_steps.Count(L"InstallPackage") == 0; ++i)
        ::Sleep(10);
    ::PostMessageW(run.Window(), WM_REMOVAL_DONE, 0, 0);
    ::PostMessageW(run.Window(), WM_REMOVAL_DONE, 0, 0);
    ::Sleep(200);
    m_steps.install.Open();
    ASSERT_TRUE(run.WaitEnded());
    EXPECT_EQ(m_steps.Count(L"InstallPackage"), 1u);
    EXPECT_EQ(m_steps.Count(L"LaunchApplication"), 1u);
}

TEST_F(DialogTest, CloseAcceptedWhileTheInstallThreadStillSendsDoesNotDeadlock)
{
    // At launch both flags are clear, so a close is accepted; the worker then
    // still needs the window's thread to answer a sent message.
    LRESULT posAfterClose = -1;
    m_steps.onLaunch = [&](CLumetUpdateDlg& dlg) {
        ::PostMessageW(dlg.m_hWnd, WM_CLOSE, 0, 0);
        ::Sleep(300);
        posAfterClose = ::SendMessageW(dlg.m_progress.Get(), PBM_GETPOS, 0, 0);
    };
    DialogRun run(m_steps);
    ASSERT_TRUE(run.WaitEnded(30000));
    EXPECT_EQ(posAfterClose, 0);
    EXPECT_EQ(run.Result(), IDCANCEL);
}

TEST_F(DialogTest, MissingMessagesLeaveEmptyTexts)
{
    delete g_pMessageTable;
    g_pMessageTable = new CMultiLanguage; // never loaded: no texts at all
    m_steps.removal.Shut();
    DialogRun run(m_steps);
    ASSERT_NE(run.Window(), nullptr);
    EXPECT_EQ(WindowText(::GetDlgItem(run.Window(), IDC_STATUS)), L"");
    ::PostMessageW(run.Window(), WM_CLOSE, 0, 0);
    const HWND hBox = WaitForMessageBox(run.ThreadId(), run.Window());
    ASSERT_NE(hBox, nullptr);
    EXPECT_EQ(WindowText(::GetDlgItem(hBox, 0xFFFF)), L"");
    ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
    m_steps.removal.Open();
    EXPECT_TRUE(run.WaitEnded());
}

struct StatusCase
{
    const char* text;
    const wchar_t* shown;
};

class StatusLineTest : public ::testing::TestWithParam<StatusCase>
{
};

TEST_P(StatusLineTest, PlaceholdersAreReplacedEverywhere)
{
    CComInit com;
    g_pMessageTable = new CMultiLanguage;
    const std::string xml = std::string("<R><M ID=\"IDS_STRING_UPDATE\" Value=\"131\"><Enu>") + GetParam().text +
                            "</Enu><Deu>" + GetParam().text + "</Deu></M></R>";
    g_pMessageTable->m_strLangCode = L"ENU";
    g_pMessageTable->LoadXmlBytes(xml.data(), static_cast<int>(xml.size()), L"");
    RecordingSteps steps;
    steps.removal.Shut();
    {
        DialogRun run(steps);
        ASSERT_NE(run.Window(), nullptr);
        EXPECT_EQ(WindowText(::GetDlgItem(run.Window(), IDC_STATUS)), GetParam().shown);
        steps.removal.Open();
        EXPECT_TRUE(run.WaitEnded());
    }
    delete g_pMessageTable;
    g_pMessageTable = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StatusLineTest,
    ::testing::Values(StatusCase{"[APPLICATION][APPLICATION] by [COMPANYNAME]", L"Vimo LumetVimo Lumet by Vimo"},
                      StatusCase{"[COMPANYNAME] [APPLICATION] [COMPANYNAME]", L"Vimo Vimo Lumet Vimo"},
                      StatusCase{"[application] stays", L"[application] stays"},
                      StatusCase{"plain", L"plain"}));
}
