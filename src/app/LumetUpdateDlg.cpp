#include "app/LumetUpdateDlg.h"

#include "resources/MultiLanguage.h"
#include "resources/resource.h"
#include "win/ProgressBar.h"

#include <optional>
#include <string>
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

INT_PTR CLumetUpdateDlg::Show(CUpdateRun& run)
{
    m_pRun = &run;
    return DoModal();
}

// The events come from the run's worker threads. The hand-over and the end
// are posted, to be handled in the window's turn; the bar is changed by
// sending, so that it has stopped before the run goes on.
void CLumetUpdateDlg::OnRemovalOver() { ::PostMessageW(m_hWnd, WM_REMOVAL_DONE, 0, 0); }

void CLumetUpdateDlg::OnProgressStopped()
{
    CProgressBar progress;
    progress.Attach(m_hProgress);
    progress.SetMarquee(FALSE, 0);
    progress.SetPos(0);
}

void CLumetUpdateDlg::OnUpdateOver() { ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0); }

BOOL CLumetUpdateDlg::OnInitDialog()
{
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

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

    m_hProgress = ::GetDlgItem(m_hWnd, IDC_PROGRESS);
    CProgressBar progress;
    progress.Attach(m_hProgress);
    progress.SetMarquee(TRUE, kMarqueeIntervalMs);
    m_pRun->StartRemoveThread();
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
    if (m_pRun->IsBusy())
    {
        // One refusal box at a time: further requests while it is up are
        // already answered by it.
        if (m_bWarningShown)
            return;
        m_bWarningShown = true;
        const std::wstring strWarning = CMultiLanguage::GetMessageText(IDS_STRING_WARNING);
        ::MessageBoxW(m_hWnd, strWarning.c_str(), g_strProductName, MB_OK);
        m_bWarningShown = false;
        if (std::exchange(m_bCloseAfterBox, false))
            OnClose();
        return;
    }

    // The update is over, so an open refusal box no longer tells the truth:
    // it is closed, and this request is taken up where the box was opened,
    // once MessageBoxW has returned. Waiting for the workers here, inside the
    // box's message loop, would keep the closed box, hidden, for as long as
    // the wait lasts.
    if (m_bWarningShown)
    {
        CloseRefusalBox();
        m_bCloseAfterBox = true;
        return;
    }

    // A guard that accepted a close earlier is still waiting further down this
    // thread's stack; it ends the dialog when the workers have ended.
    if (m_bClosing)
        return;
    m_bClosing = true;
    // The workers use the window until they end. The removal thread's
    // hand-over may still start the install phase while this waits (when
    // the run could not start the removal at all, nothing waits), so the
    // install thread is looked at only afterwards.
    std::optional<int> nQuitCode;
    if (const HANDLE hThread = m_pRun->RemoveThread())
        WaitHandlingMessages(hThread, m_hWnd, nQuitCode);
    if (const HANDLE hThread = m_pRun->InstallThread())
        WaitHandlingMessages(hThread, m_hWnd, nQuitCode);
    EndDialog(IDCANCEL);
    // Passed on only now: a modal loop that saw it would end the dialog while
    // a worker still uses it.
    if (nQuitCode)
        ::PostQuitMessage(*nQuitCode);
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
    m_pRun->StartInstallThread();
    return 0;
}
