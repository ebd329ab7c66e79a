#include "app/LumetUpdateDlg.h"

#include "TestSupport.h"

#include "DocumentOverride.h"
#include "resources/MultiLanguage.h"
#include "resources/resource.h"
#include "win/Com.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace
{
// What the dialog's run did, as "|event|event...": the steps, the progress-bar
// messages, the WM_APP messages that the window's thread takes from its queue
// (Sync), and the end of the dialog.
std::wstring g_strLog;
std::mutex g_mutex;
std::condition_variable g_recorded;

void Record(const std::wstring& strEvent)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_strLog += L"|" + strEvent;
    g_recorded.notify_all();
}

// How many events start with strPrefix, once there are nAtLeast, the dialog
// has ended, or a minute has passed.
size_t Count(const std::wstring& strPrefix, size_t nAtLeast = 1)
{
    auto count = [](const std::wstring& s) {
        size_t n = 0;
        for (size_t i = 0; (i = g_strLog.find(L"|" + s, i)) != std::wstring::npos; ++i)
            ++n;
        return n;
    };
    std::unique_lock<std::mutex> lock(g_mutex);
    g_recorded.wait_for(lock, std::chrono::minutes(1), [&] { return count(strPrefix) >= nAtLeast || count(L"Ended"); });
    return count(strPrefix);
}

// When a close is requested: during the removal, between the phases, or while
// the application starts.
enum class EWhen
{
    Removal,
    HandOver,
    Launch,
};

CUpdateRun* g_pRun = nullptr; // the run under test
HWND g_hDialog = nullptr;     // the last dialog started: the window under test until a box opens
EWhen g_eWhen;
CHandle g_hGate{::CreateEventW(nullptr, TRUE, TRUE, nullptr)}; // manual-reset, open

// In the case eHeld the step waits at the gate, which the test opens once it has
// tried to close the window.
void Reach(const std::wstring& strStep, EWhen eHeld)
{
    Record(strStep);
    if (g_eWhen != eHeld)
        return;
    Record(L"Held");
    ::WaitForSingleObject(g_hGate.Get(), 60000);
}

// The steps that touch nothing of the machine's are the real ones.
const UpdateSteps kRecordingSteps = {
    .pfnGetProductCode = [] { return Reach(L"GetProductCode", EWhen::Removal), std::wstring(L"{CODE}"); },
    .pfnPreparePackage =
        [](const std::wstring&, const std::wstring&, CWorkFolder&, PreparedPackage& prepared) {
            prepared.copy.strPath = L"C:\\Run\\new.msi";
            return DWORD{ERROR_SUCCESS};
        },
    .pfnRemoveEarlierVersions = [](CInstallerSession&, const ProductList&) {},
    .pfnUninstallProduct =
        [](CInstallerSession&, const wchar_t*, const std::wstring&) {
            if (g_eWhen == EWhen::HandOver)
                ::PostMessageW(g_hDialog, WM_CLOSE, 0, 0);
        },
    .pfnInstallPackage =
        [](CInstallerSession&, const std::wstring&, const std::wstring&) {
            return Reach(L"InstallPackage", EWhen::HandOver), DWORD{ERROR_SUCCESS};
        },
    .pfnLaunchApplication =
        [](const std::wstring&) { Reach(L"Launch busy=" + std::to_wstring(g_pRun->IsBusy()), EWhen::Launch); },
};

LRESULT CALLBACK RecordSent(int nCode, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* p = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && p->message == WM_INITDIALOG)
        g_hDialog = p->hwnd;
    if (nCode == HC_ACTION && (p->message == PBM_SETMARQUEE || p->message == PBM_SETPOS))
        Record((p->message == PBM_SETPOS ? L"SetPos(" : L"SetMarquee(") + std::to_wstring(p->wParam) + L"," +
               std::to_wstring(p->lParam) + L")");
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

LRESULT CALLBACK RecordTaken(int nCode, WPARAM wParam, LPARAM lParam)
{
    const UINT uMsg = reinterpret_cast<const MSG*>(lParam)->message;
    if (nCode == HC_ACTION && wParam == PM_REMOVE && uMsg == WM_APP)
        Record(L"WM_APP");
    // The last removal step asks the window to close, and the window takes that
    // request only once the removal thread has ended: between the phases.
    if (nCode == HC_ACTION && wParam == PM_REMOVE && uMsg == WM_CLOSE && g_eWhen == EWhen::HandOver)
        ::WaitForSingleObject(g_pRun->RemoveThread(), 60000);
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

struct WindowCase
{
    EWhen eWhen;
    bool bEscape;              // the Escape key, else the close button
    bool bPressOk;             // else the end of the update must close the box
    const wchar_t* pszWarning; // the table's text for the box
};

// Runs the dialog modally on a thread of its own, as start-up does on the main
// thread, with the recording steps in place of the real ones.
class WindowTest : public ::testing::TestWithParam<WindowCase>
{
protected:
    WindowTest()
    {
        g_strLog.clear();
        g_pRun = m_pRun.get();
    }
    ~WindowTest() override
    {
        ::SetEvent(g_hGate.Get());
        // A dialog that never ended has been reported: its thread keeps it.
        if (m_thread.joinable())
            Count(L"Ended") == 1 ? m_thread.join() : m_thread.detach();
    }

    // True once every message posted to the window before has been taken from
    // the queue and handled; false when the dialog ended first.
    bool Sync()
    {
        const size_t n = Count(L"WM_APP", 0) + 1;
        ::PostMessageW(m_hWnd, WM_APP, 0, 0);
        return Count(L"WM_APP", n) == n;
    }
    // The visible message boxes of the dialog's thread (the dialog is the other
    // window so named).
    std::vector<HWND> Boxes() const
    {
        std::vector<HWND> boxes;
        for (HWND h = nullptr; (h = ::FindWindowExW(nullptr, h, L"#32770", L"Vimo Lumet")) != nullptr;)
            if (::GetDlgItem(h, 0xFFFF) && ::IsWindowVisible(h) &&
                ::GetWindowThreadProcessId(h, nullptr) == m_dwThreadId)
                boxes.push_back(h);
        return boxes;
    }

    CComInit m_com;
    // An empty table in English: a test loads what it shows.
    SeamOverride<PfnGetSystemDefaultLangID> m_language{g_pfnGetSystemDefaultLangID, [] { return LANGID{0x0409}; }};
    CMultiLanguage m_table;
    CMessageTableScope m_tableScope{m_table};
    // Shared with the dialog's thread, which keeps them should the dialog
    // never end.
    std::shared_ptr<CLumetUpdateDlg> m_pDlg = std::make_shared<CLumetUpdateDlg>();
    std::shared_ptr<CUpdateRun> m_pRun =
        std::make_shared<CUpdateRun>(UpdateRequest{L"C:\\Temp\\new.msi", L""}, *m_pDlg, kRecordingSteps);
    HWND m_hWnd = nullptr; // the dialog
    DWORD m_dwThreadId = 0;
    std::thread m_thread;
};

std::wstring TextOf(HWND hWnd)
{
    wchar_t sz[256] = {};
    ::GetWindowTextW(hWnd, sz, 256);
    return sz;
}

TEST_P(WindowTest, ShowsItsTextsAndRefusesToCloseWithOneBoxThatTheEndOfTheUpdateCloses)
{
    const WindowCase& c = GetParam();
    {
        // Each placeholder more than once, also back to back.
        const DocumentOverride table(IDR_XML_MULTILANGUAGE,
                                     "<T><M ID='a' Value='131'><Enu>[APPLICATION][APPLICATION] of [COMPANYNAME] "
                                     "[COMPANYNAME][COMPANYNAME]. [APPLICATION]</Enu></M><M ID='b' Value='133'><Enu>" +
                                         Utf8(c.pszWarning) + "</Enu></M></T>");
        ASSERT_TRUE(CMultiLanguage::LoadLanguageResource());
    }
    ::ResetEvent(g_hGate.Get());
    g_eWhen = c.eWhen;
    // The dialog, started, has started its marquee.
    m_thread = std::thread([this, pRun = m_pRun, pDlg = m_pDlg] {
        CComInit com;
        m_dwThreadId = ::GetCurrentThreadId();
        const HHOOK hooks[] = {::SetWindowsHookExW(WH_CALLWNDPROC, &RecordSent, nullptr, m_dwThreadId),
                               ::SetWindowsHookExW(WH_GETMESSAGE, &RecordTaken, nullptr, m_dwThreadId)};
        pDlg->Show(*pRun);
        for (HHOOK hHook : hooks)
            ::UnhookWindowsHookEx(hHook);
        Record(L"Ended");
    });
    ASSERT_EQ(Count(L"SetMarquee(1,1000)"), 1u);
    m_hWnd = g_hDialog;
    EXPECT_EQ(TextOf(::GetDlgItem(m_hWnd, IDC_STATUS)), L"Vimo LumetVimo Lumet of Vimo VimoVimo. Vimo Lumet");
    EXPECT_EQ(TextOf(m_hWnd), L"Vimo Lumet");
    const HICON hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME)); // shared: the same
    EXPECT_EQ(::SendMessageW(m_hWnd, WM_GETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(hIcon));
    EXPECT_TRUE(hIcon && ::GetWindowLongPtrW(::GetDlgItem(m_hWnd, IDC_PROGRESS), GWL_STYLE) & PBS_MARQUEE);
    ASSERT_EQ(Count(L"Held"), 1u);
    if (c.eWhen != EWhen::HandOver)
        ::PostMessageW(m_hWnd, c.bEscape ? WM_COMMAND : WM_CLOSE, IDCANCEL, 0);
    ASSERT_TRUE(Sync());
    const std::vector<HWND> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(TextOf(::GetDlgItem(boxes[0], 0xFFFF)), c.pszWarning);
    const HWND hOk = ::GetDlgItem(boxes[0], IDOK);
    EXPECT_TRUE(hOk && ::IsWindowVisible(hOk) && ::IsWindowEnabled(hOk) && !::GetDlgItem(boxes[0], IDCANCEL));
    // A second close stacks no second box; a second hand-over starts no second install.
    ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
    if (c.eWhen != EWhen::Removal)
        ::PostMessageW(m_hWnd, WM_REMOVAL_DONE, 0, 0);
    ASSERT_TRUE(Sync());
    EXPECT_EQ(Boxes(), boxes);
    if (c.bPressOk)
    {
        ::PostMessageW(boxes[0], WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(Sync()); // the window stays
        EXPECT_TRUE(Boxes().empty());
    }
    ::SetEvent(g_hGate.Get());
    ASSERT_EQ(Count(L"Ended"), 1u);
    // One install; the progress bar stopped before the launch, the run still
    // busy then; the window closed by itself.
    EXPECT_EQ(Count(L"InstallPackage"), 1u);
    EXPECT_TRUE(g_strLog.find(L"|SetMarquee(0,0)|SetPos(0,0)|Launch busy=1|") != std::wstring::npos &&
                g_strLog.ends_with(L"|Ended"))
        << Utf8(g_strLog);
    EXPECT_TRUE(Boxes().empty());
}

// The close button and the Escape key, the box closed by OK or by the end of
// the update; a box that has no text still refuses.
INSTANTIATE_TEST_SUITE_P(Cases, WindowTest,
                         ::testing::Values(WindowCase{EWhen::Removal, false, true, L""},
                                           WindowCase{EWhen::HandOver, false, false, L"Not yet"},
                                           WindowCase{EWhen::Launch, true, true, L"Not yet"}));
}
