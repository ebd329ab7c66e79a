#include "app/LumetUpdateDlg.h"

#include "TestSupport.h"

#include "resources/MultiLanguage.h"
#include "resources/ProductList.h"
#include "resources/resource.h"
#include "win/Com.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace
{
// A manual-reset gate that a recorded step waits at while it is shut.
class Gate
{
public:
    ~Gate() { ::CloseHandle(m_h); }
    void Shut() { ::ResetEvent(m_h); }
    void Open() { ::SetEvent(m_h); }
    void Pass() { ::WaitForSingleObject(m_h, 60000); }

private:
    HANDLE m_h = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
};

// Update steps that record what the phases call instead of running
// installers; a hook on the window's thread adds the progress-bar messages.
class RecordingSteps : public CUpdateSteps
{
public:
    DWORD dwStepDelayMs = 0;
    Gate removal, install;
    std::function<void(CLumetUpdateDlg&)> onLaunch;
    std::vector<std::wstring> events;
    std::vector<DWORD> threads;

    void Record(const std::wstring& strEvent)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        events.push_back(strEvent);
        threads.push_back(::GetCurrentThreadId());
    }
    size_t Count(const std::wstring& strPrefix)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::count_if(events.begin(), events.end(),
                             [&](const std::wstring& e) { return e.rfind(strPrefix, 0) == 0; });
    }

    std::wstring GetProductCode(ProductList& list) override
    {
        // S_FALSE: COM is initialised on this thread already.
        const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(hr))
            ::CoUninitialize();
        Record(L"GetProductCode com=" + std::to_wstring(hr == S_FALSE) + L" products=" +
               std::to_wstring(list.m_vecProducts.size()));
        removal.Pass();
        return Step(L"{CODE}");
    }
    std::wstring GetInstallLocation(ProductList&) override
    {
        return Record(L"GetInstallLocation"), Step(L"D:\\Apps\\Vimo\\");
    }
    void RemoveEarlierVersions(ProductList&) override { Record(L"RemoveEarlierVersions"), Step(L""); }
    std::wstring GetUninstallString(ProductList&) override
    {
        return Record(L"GetUninstallString"), Step(L"MsiExec.exe /I{CODE}");
    }
    void UninstallProduct(ProductList&, const wchar_t* pszCommand, const std::wstring& strCode) override
    {
        Record(L"UninstallProduct(" + std::wstring(pszCommand) + L"," + strCode + L")"), Step(L"");
    }
    void InstallPackage(ProductList&, const std::wstring& strPackage, const std::wstring& strDir) override
    {
        Record(L"InstallPackage(" + strPackage + L"," + strDir + L")");
        install.Pass();
        Step(L"");
    }
    void LaunchApplication(CLumetUpdateDlg& dlg) override
    {
        Record(L"Launch(" + dlg.m_strInstallDir + L") flags=" + std::to_wstring(dlg.m_bRemoving + dlg.m_bInstalling));
        if (onLaunch)
            onLaunch(dlg);
    }

private:
    std::wstring Step(const wchar_t* pszResult)
    {
        ::Sleep(dwStepDelayMs);
        return pszResult;
    }
    std::mutex m_mutex;
};

RecordingSteps* g_pHookSteps = nullptr;

LRESULT CALLBACK RecordProgressMessages(int nCode, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* p = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && g_pHookSteps && (p->message == PBM_SETMARQUEE || p->message == PBM_SETPOS))
        g_pHookSteps->Record((p->message == PBM_SETPOS ? L"SetPos(" : L"SetMarquee(") + std::to_wstring(p->wParam) +
                             L"," + std::to_wstring(p->lParam) + L")");
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

// Runs the dialog modally on a thread of its own, as start-up does on the
// main thread, so that the test can watch it and send it requests.
class DialogRun
{
public:
    explicit DialogRun(RecordingSteps& steps) : m_steps(steps)
    {
        m_thread = std::thread([this, &steps] {
            CComInit com;
            m_dwThreadId = ::GetCurrentThreadId();
            g_pHookSteps = &steps;
            HHOOK hHook = ::SetWindowsHookExW(WH_CALLWNDPROC, &RecordProgressMessages, nullptr, m_dwThreadId);
            struct CObservedDlg : CLumetUpdateDlg
            {
                DialogRun* pRun = nullptr;
                BOOL OnInitDialog() override
                {
                    const BOOL bResult = CLumetUpdateDlg::OnInitDialog();
                    pRun->m_hWnd = m_hWnd;
                    ::SetEvent(pRun->m_hReady);
                    return bResult;
                }
            } dlg;
            dlg.pRun = this;
            dlg.m_pSteps = &steps;
            dlg.m_strPackagePath = L"C:\\Temp\\new.msi";
            m_nResult = dlg.DoModal();
            ::UnhookWindowsHookEx(hHook);
            ::SetEvent(m_hEnded);
        });
        ::WaitForSingleObject(m_hReady, 30000);
    }
    ~DialogRun()
    {
        m_steps.removal.Open();
        m_steps.install.Open();
        if (WaitEnded(60000))
            m_thread.join();
        else
            m_thread.detach(); // already reported by the test; never hang the run
    }
    bool WaitEnded(DWORD dwMs) { return ::WaitForSingleObject(m_hEnded, dwMs) == WAIT_OBJECT_0; }

    // The refusal box, if the dialog's thread shows one.
    HWND MessageBoxWindow()
    {
        std::pair<HWND, HWND> search{m_hWnd, nullptr};
        ::EnumThreadWindows(
            m_dwThreadId,
            [](HWND h, LPARAM l) -> BOOL {
                auto* p = reinterpret_cast<std::pair<HWND, HWND>*>(l);
                if (h != p->first && ::GetDlgItem(h, 0xFFFF) && ::IsWindowVisible(h))
                    p->second = h;
                return p->second == nullptr;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.second;
    }

    std::atomic<HWND> m_hWnd{nullptr};
    std::atomic<DWORD> m_dwThreadId{0};
    INT_PTR m_nResult = 0;

private:
    RecordingSteps& m_steps;
    HANDLE m_hReady = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE m_hEnded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread m_thread;
};

std::wstring TextOf(HWND hWnd)
{
    wchar_t sz[256] = {};
    ::GetWindowTextW(hWnd, sz, 256);
    return sz;
}

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
        delete g_pMessageTable;
        g_pMessageTable = nullptr;
    }
    void WaitFor(const std::wstring& strEvent)
    {
        for (int i = 0; i < 1000 && m_steps.Count(strEvent) == 0; ++i)
            ::Sleep(10);
        ASSERT_EQ(m_steps.Count(strEvent), 1u) << Utf8(strEvent);
    }
    CComInit m_com;
    RecordingSteps m_steps;
};

TEST_F(DialogTest, PhasesRunInOrderOnWorkersAndTheWindowClosesItself)
{
    LRESULT posAtLaunch = -1;
    m_steps.onLaunch = [&](CLumetUpdateDlg& dlg) {
        posAtLaunch = ::SendMessageW(dlg.m_progress.Get(), PBM_GETPOS, 0, 0);
    };
    DialogRun run(m_steps);
    ASSERT_TRUE(run.WaitEnded(60000));
    EXPECT_EQ(run.m_nResult, IDCANCEL);
    const std::vector<std::wstring> expected = {L"SetMarquee(1,1000)",
                                                L"GetProductCode com=1 products=8",
                                                L"GetInstallLocation",
                                                L"RemoveEarlierVersions",
                                                L"GetUninstallString",
                                                L"UninstallProduct(MsiExec.exe /I{CODE},{CODE})",
                                                L"InstallPackage(C:\\Temp\\new.msi,D:\\Apps\\Vimo\\)",
                                                L"SetMarquee(0,0)",
                                                L"SetPos(0,0)",
                                                L"Launch(D:\\Apps\\Vimo\\) flags=0"};
    EXPECT_EQ(m_steps.events, expected);
    EXPECT_EQ(posAtLaunch, 0);
    // The removal steps share one worker; neither phase runs on the window's thread.
    ASSERT_EQ(m_steps.threads.size(), expected.size());
    for (size_t i = 2; i <= 5; ++i)
        EXPECT_EQ(m_steps.threads[i], m_steps.threads[1]);
    EXPECT_NE(m_steps.threads[1], run.m_dwThreadId);
    EXPECT_NE(m_steps.threads[6], run.m_dwThreadId);
}

TEST_F(DialogTest, WindowShowsCaptionStatusAndMarqueeAndIgnoresEnter)
{
    m_steps.removal.Shut();
    DialogRun run(m_steps);
    ASSERT_NE(run.m_hWnd, nullptr);
    EXPECT_EQ(TextOf(run.m_hWnd), L"Vimo Lumet");
    EXPECT_EQ(TextOf(::GetDlgItem(run.m_hWnd, IDC_STATUS)), L"Update Vimo Lumet in progress, please wait.");
    wchar_t szClass[64] = {};
    ::GetClassNameW(::GetDlgItem(run.m_hWnd, IDC_PROGRESS), szClass, 64);
    EXPECT_EQ(std::wstring(szClass), L"msctls_progress32");
    EXPECT_TRUE(::GetWindowLongPtrW(::GetDlgItem(run.m_hWnd, IDC_PROGRESS), GWL_STYLE) & PBS_MARQUEE);
    EXPECT_EQ(::SendMessageW(run.m_hWnd, WM_GETICON, ICON_SMALL, 0),
              reinterpret_cast<LRESULT>(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))));

    ::PostMessageW(run.m_hWnd, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(run.WaitEnded(300));
    EXPECT_EQ(run.MessageBoxWindow(), nullptr);
}

TEST_F(DialogTest, MissingMessagesLeaveTheStatusLineAndTheWarningEmpty)
{
    delete g_pMessageTable;
    g_pMessageTable = new CMultiLanguage; // never loaded: it has no texts
    m_steps.removal.Shut();
    DialogRun run(m_steps);
    EXPECT_EQ(TextOf(::GetDlgItem(run.m_hWnd, IDC_STATUS)), L"");
    WaitFor(L"GetProductCode"); // the removal phase runs, so the close is refused
    ::PostMessageW(run.m_hWnd, WM_CLOSE, 0, 0);
    HWND hBox = nullptr;
    for (int i = 0; i < 500 && !(hBox = run.MessageBoxWindow()); ++i)
        ::Sleep(10);
    ASSERT_NE(hBox, nullptr);
    EXPECT_EQ(TextOf(::GetDlgItem(hBox, 0xFFFF)), L"");
    ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
}

struct CloseCase
{
    bool bDuringInstall;
    WPARAM wCommand; // 0: WM_CLOSE, else a WM_COMMAND id (IDCANCEL is the Escape key)
};

class CloseGuardTest : public DialogTest, public ::testing::WithParamInterface<CloseCase>
{};

TEST_P(CloseGuardTest, RefusesWithTheWarningWhileAPhaseRuns)
{
    Gate& gate = GetParam().bDuringInstall ? m_steps.install : m_steps.removal;
    gate.Shut();
    DialogRun run(m_steps);
    WaitFor(GetParam().bDuringInstall ? L"InstallPackage" : L"GetProductCode");
    ::PostMessageW(run.m_hWnd, GetParam().wCommand ? WM_COMMAND : WM_CLOSE, GetParam().wCommand, 0);
    HWND hBox = nullptr;
    for (int i = 0; i < 500 && !(hBox = run.MessageBoxWindow()); ++i)
        ::Sleep(10);
    ASSERT_NE(hBox, nullptr);
    EXPECT_EQ(TextOf(hBox), L"Vimo Lumet");
    EXPECT_EQ(TextOf(::GetDlgItem(hBox, 0xFFFF)), L"Update not finish, please wait.");
    EXPECT_TRUE(::GetDlgItem(hBox, IDOK) && !::GetDlgItem(hBox, IDCANCEL));
    ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(run.WaitEnded(300));
    gate.Open();
    ASSERT_TRUE(run.WaitEnded(60000));
    EXPECT_EQ(m_steps.Count(L"Launch"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Requests, CloseGuardTest, ::testing::Values(CloseCase{false, 0}, CloseCase{true, IDCANCEL}));

TEST_F(DialogTest, StormOfCloseRequestsNeitherClosesEarlyNorHangs)
{
    m_steps.dwStepDelayMs = 60;
    DialogRun run(m_steps);
    int nBoxes = 0;
    while (!run.WaitEnded(2))
    {
        ::PostMessageW(run.m_hWnd, WM_CLOSE, 0, 0);
        if (HWND hBox = run.MessageBoxWindow())
            nBoxes += ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
    }
    EXPECT_GT(nBoxes, 0);
    EXPECT_EQ(m_steps.Count(L"InstallPackage"), 1u);
    EXPECT_EQ(m_steps.Count(L"Launch"), 1u);
}

TEST_F(DialogTest, SecondRemovalDoneStartsNoSecondInstall)
{
    m_steps.install.Shut();
    DialogRun run(m_steps);
    WaitFor(L"InstallPackage");
    ::PostMessageW(run.m_hWnd, WM_REMOVAL_DONE, 0, 0);
    ::Sleep(200);
    m_steps.install.Open();
    ASSERT_TRUE(run.WaitEnded(60000));
    EXPECT_EQ(m_steps.Count(L"InstallPackage"), 1u);
}

TEST_F(DialogTest, CloseAcceptedWhileTheInstallThreadStillSendsDoesNotDeadlock)
{
    // At launch both flags are clear, so the close is accepted; the worker
    // then still needs the window's thread to answer a sent message.
    LRESULT pos = -1;
    m_steps.onLaunch = [&](CLumetUpdateDlg& dlg) {
        ::PostMessageW(dlg.m_hWnd, WM_CLOSE, 0, 0);
        ::Sleep(300);
        pos = ::SendMessageW(dlg.m_progress.Get(), PBM_GETPOS, 0, 0);
    };
    DialogRun run(m_steps);
    ASSERT_TRUE(run.WaitEnded(30000));
    EXPECT_EQ(pos, 0);
}
}
