#include "app/LumetUpdateDlg.h"

#include "app/UpdateSteps.h"
#include "installer/LaunchApplication.h"
#include "resources/MultiLanguage.h"
#include "resources/ProductList.h"
#include "resources/resource.h"
#include "win/Com.h"

#include <string_view>
#include <utility>

const wchar_t g_strProductName[] = L"Vimo Lumet";
const wchar_t g_strAppToken[] = L"[APPLICATION]";
const wchar_t g_strCompanyToken[] = L"[COMPANYNAME]";
const wchar_t g_strCompanyName[] = L"Vimo";

namespace
{
constexpr UINT kMarqueeIntervalMs = 1000;
constexpr int kCaptionChars = 260;

void ReplaceAll(std::wstring& text, std::wstring_view token, std::wstring_view replacement)
{
    if (token.empty())
        return;
    for (size_t nPos = text.find(token); nPos != std::wstring::npos; nPos = text.find(token, nPos + replacement.size()))
        text.replace(nPos, token.size(), replacement);
}
}

CLumetUpdateDlg::CLumetUpdateDlg() : CDialogBase(IDD_UPDATE_DIALOG)
{
    // A shared icon from the program's own resources: never destroyed.
    m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CLumetUpdateDlg::~CLumetUpdateDlg()
{
    // The thread objects go first, while the events they may still use exist.
    m_pRemoveThread.reset();
    m_pInstallThread.reset();
}

BOOL CLumetUpdateDlg::OnInitDialog()
{
    m_progress.Attach(::GetDlgItem(m_hWnd, IDC_PROGRESS));

    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    m_bRemoving = 0;
    m_bInstalling = 0;

    wchar_t szCaption[kCaptionChars] = {};
    ::LoadStringW(::GetModuleHandleW(nullptr), IDS_PRODUCT_NAME, szCaption, kCaptionChars);
    ::SetWindowTextW(m_hWnd, szCaption);

    if (HWND hStatus = ::GetDlgItem(m_hWnd, IDC_STATUS))
    {
        std::wstring strStatus = CMultiLanguage::GetMessageText(IDS_STRING_UPDATE);
        ReplaceAll(strStatus, g_strAppToken, g_strProductName);
        ReplaceAll(strStatus, g_strCompanyToken, g_strCompanyName);
        ::SetWindowTextW(hStatus, strStatus.c_str());
    }

    m_strInstallDir.clear();
    m_progress.SetMarquee(TRUE, kMarqueeIntervalMs);
    StartRemoveThread();
    return TRUE;
}

bool CLumetUpdateDlg::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    switch (uMsg)
    {
    case WM_PAINT:
        // Only the minimised window draws for itself; otherwise the system's
        // dialog painting does.
        if (!::IsIconic(m_hWnd))
            return false;
        OnPaint();
        return true;
    case WM_QUERYDRAGICON:
        lResult = reinterpret_cast<LRESULT>(OnQueryDragIcon());
        return true;
    case WM_CLOSE:
        OnClose();
        return true;
    case WM_COMMAND:
        // Escape goes through the close guard like the close button; Enter
        // does nothing. No key ends the dialog while a phase runs.
        if (LOWORD(wParam) == IDCANCEL)
            OnClose();
        return LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK;
    case WM_REMOVAL_DONE:
        lResult = OnRemovalDone(wParam, lParam);
        return true;
    default:
        return false;
    }
}

void CLumetUpdateDlg::OnPaint()
{
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(m_hWnd, &ps);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    const int x = (rc.right - rc.left - cxIcon + 1) / 2;
    const int y = (rc.bottom - rc.top - cyIcon + 1) / 2;
    ::DrawIcon(hdc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &ps);
}

HCURSOR CLumetUpdateDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CLumetUpdateDlg::OnClose()
{
    if (m_bRemoving != 0 || m_bInstalling != 0)
    {
        // One refusal box at a time: further requests while it is up are
        // already answered by it.
        if (m_bWarningShown)
            return;
        m_bWarningShown = true;
        const std::wstring strWarning = CMultiLanguage::GetMessageText(IDS_STRING_WARNING);
        ::MessageBoxW(m_hWnd, strWarning.c_str(), g_strProductName, MB_OK);
        m_bWarningShown = false;
        return;
    }

    // No phase runs, so an open refusal box no longer tells the truth: it is
    // closed here, and its message loop, further down this thread's stack,
    // ends when this handler returns to it.
    CloseRefusalBox();

    // A guard that accepted a close earlier is still waiting further down this
    // thread's stack; it ends the dialog when the workers have ended.
    if (m_bClosing)
        return;
    m_bClosing = true;
    m_evStop.SetEvent();
    // The removal thread's hand-over may still start the install phase while
    // this waits, so the install thread is looked at only afterwards.
    std::optional<int> nQuitCode;
    if (m_pRemoveThread)
        WaitHandlingMessages(m_pRemoveThread->Handle(), nQuitCode);
    if (m_pInstallThread)
        WaitHandlingMessages(m_pInstallThread->Handle(), nQuitCode);
    EndDialog(IDCANCEL);
    // Passed on only now: a modal loop that saw it would end the dialog while
    // a worker still uses it.
    if (nQuitCode)
        ::PostQuitMessage(*nQuitCode);
}

void CLumetUpdateDlg::WaitHandlingMessages(HANDLE hThread, std::optional<int>& nQuitCode)
{
    // A worker may be waiting in SendMessage for this thread (the install
    // phase stops the progress bar after clearing its flag), so the wait must
    // keep handling messages or both would wait for ever.
    for (;;)
    {
        const DWORD dwWait = ::MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            if (msg.message == WM_QUIT)
                nQuitCode = static_cast<int>(msg.wParam);
            else if (!::IsDialogMessageW(m_hWnd, &msg))
            {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        if (dwWait != WAIT_OBJECT_0 + 1)
            return; // the thread has ended (or the handle is unusable)
    }
}

void CLumetUpdateDlg::CloseRefusalBox()
{
    if (!m_bWarningShown)
        return;
    // The box is the one dialog-class window of this thread that the progress
    // window owns.
    std::pair<HWND, HWND> search{m_hWnd, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* pSearch = reinterpret_cast<std::pair<HWND, HWND>*>(lParam);
            wchar_t szClass[16] = {};
            ::GetClassNameW(hWnd, szClass, 16);
            if (::GetWindow(hWnd, GW_OWNER) == pSearch->first && std::wstring(szClass) == L"#32770")
                pSearch->second = hWnd;
            return pSearch->second == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.second)
        ::SendMessageW(search.second, WM_COMMAND, IDOK, 0);
}

LRESULT CLumetUpdateDlg::OnRemovalDone(WPARAM, LPARAM)
{
    StartInstallThread();
    return 0;
}

void CLumetUpdateDlg::StartRemoveThread() { StartWorker(m_pRemoveThread, &RemoveThreadProc); }

void CLumetUpdateDlg::StartInstallThread() { StartWorker(m_pInstallThread, &InstallThreadProc); }

void CLumetUpdateDlg::StartWorker(std::unique_ptr<CWorkerThread>& pThread, CWorkerThread::PfnThreadProc pfnProc)
{
    // Once per phase. The worker waits for the start signal before anything
    // else, so no work begins before the thread object is stored here.
    if (pThread)
        return;
    pThread = CWorkerThread::BeginSuspended(pfnProc, this);
    if (pThread)
    {
        pThread->Resume();
        m_evStart.SetEvent();
    }
}

void CLumetUpdateDlg::RunRemovalPhase()
{
    m_evStart.Wait();
    m_bRemoving = 1;
    {
        CComInit com(COINIT_APARTMENTTHREADED);
        {
            // No step's result stops the phase: a value not found is carried
            // on as an empty string.
            ProductList list;
            const std::wstring strProductCode = g_updateSteps.pfnGetProductCode(list);
            m_strInstallDir = g_updateSteps.pfnGetInstallLocation(list);
            g_updateSteps.pfnRemoveEarlierVersions(list);
            const std::wstring strUninstall = g_updateSteps.pfnGetUninstallString(list);
            g_updateSteps.pfnUninstallProduct(list, strUninstall.c_str(), strProductCode);
        }
        m_bRemoving = 0;
    }
    m_evStart.ResetEvent();
    ::PostMessageW(m_hWnd, WM_REMOVAL_DONE, 0, 0);
}

void CLumetUpdateDlg::RunInstallPhase()
{
    m_evStart.Wait();
    m_bInstalling = 1;
    {
        CComInit com(COINIT_APARTMENTTHREADED);
        {
            ProductList list;
            g_updateSteps.pfnInstallPackage(list, m_strPackagePath, m_strInstallDir);
        }
        m_bInstalling = 0;
    }
    m_evStart.ResetEvent();
    m_progress.SetMarquee(FALSE, 0);
    m_progress.SetPos(0);
    g_updateSteps.pfnLaunchApplication(*this);
    ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
}

void CLumetUpdateDlg::LaunchApplication() { LaunchInstalledApplication(m_strInstallDir); }

UINT RemoveThreadProc(void* pParam)
{
    static_cast<CLumetUpdateDlg*>(pParam)->RunRemovalPhase();
    return 0;
}

UINT InstallThreadProc(void* pParam)
{
    static_cast<CLumetUpdateDlg*>(pParam)->RunInstallPhase();
    return 0;
}
