#include "DialogHarness.h"

#include "resources/ProductList.h"
#include "win/Com.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace
{
RecordingSteps* g_pHookSteps = nullptr;

// Records what the progress bar is told, in the thread that handles it.
LRESULT CALLBACK CallWndHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HC_ACTION && g_pHookSteps)
    {
        const CWPSTRUCT* p = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (p->message == PBM_SETMARQUEE)
            g_pHookSteps->Record(L"SetMarquee(" + std::to_wstring(p->wParam) + L"," + std::to_wstring(p->lParam) + L")");
        else if (p->message == PBM_SETPOS)
            g_pHookSteps->Record(L"SetPos(" + std::to_wstring(p->wParam) + L")");
    }
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

std::wstring ComState()
{
    // S_FALSE: this thread has initialised COM apartment-threaded already.
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr))
        ::CoUninitialize();
    return hr == S_FALSE ? L"com" : L"no-com";
}
}

void RecordingSteps::Record(const std::wstring& strEvent)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(strEvent);
    m_threads.push_back(::GetCurrentThreadId());
}

std::vector<std::wstring> RecordingSteps::Events()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<DWORD> RecordingSteps::Threads()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_threads;
}

size_t RecordingSteps::Count(const std::wstring& strPrefix)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t n = 0;
    for (const std::wstring& e : m_events)
        n += e.rfind(strPrefix, 0) == 0 ? 1 : 0;
    return n;
}

void RecordingSteps::Step()
{
    if (dwStepDelayMs)
        ::Sleep(dwStepDelayMs);
}

std::wstring RecordingSteps::GetProductCode(ProductList& list)
{
    Record(L"GetProductCode " + ComState() + L" products=" + std::to_wstring(list.m_vecProducts.size()));
    removal.Pass();
    Step();
    return strProductCode;
}

std::wstring RecordingSteps::GetInstallLocation(ProductList&)
{
    Record(L"GetInstallLocation");
    Step();
    return strInstallLocation;
}

void RecordingSteps::RemoveEarlierVersions(ProductList&)
{
    Record(L"RemoveEarlierVersions");
    Step();
}

std::wstring RecordingSteps::GetUninstallString(ProductList&)
{
    Record(L"GetUninstallString");
    Step();
    return strUninstall;
}

void RecordingSteps::UninstallProduct(ProductList&, const wchar_t* pszUninstallCommand, const std::wstring& strCode)
{
    Record(L"UninstallProduct(" + std::wstring(pszUninstallCommand ? pszUninstallCommand : L"<none>") + L"," + strCode + L")");
    Step();
}

void RecordingSteps::InstallPackage(ProductList& list, const std::wstring& strPackagePath, const std::wstring& strInstallDir)
{
    Record(L"InstallPackage(" + strPackagePath + L"," + strInstallDir + L") " + ComState() + L" products=" +
           std::to_wstring(list.m_vecProducts.size()));
    install.Pass();
    Step();
}

void RecordingSteps::LaunchApplication(CLumetUpdateDlg& dlg)
{
    Record(L"LaunchApplication(" + dlg.m_strInstallDir + L") flags=" + std::to_wstring(dlg.m_bRemoving.load()) +
           std::to_wstring(dlg.m_bInstalling.load()));
    if (onLaunch)
        onLaunch(dlg);
}

DialogRun::DialogRun(RecordingSteps& steps, const std::wstring& strPackagePath)
    : m_hReady(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_hEnded(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    m_thread = std::thread(&DialogRun::Run, this, &steps, strPackagePath);
    EXPECT_EQ(::WaitForSingleObject(m_hReady, 30000), WAIT_OBJECT_0) << "the dialog did not come up";
}

DialogRun::~DialogRun()
{
    if (WaitEnded(60000))
        m_thread.join();
    else
    {
        ADD_FAILURE() << "the dialog did not end";
        m_thread.detach();
    }
    ::CloseHandle(m_hReady);
    ::CloseHandle(m_hEnded);
}

bool DialogRun::WaitEnded(DWORD dwTimeoutMs)
{
    return ::WaitForSingleObject(m_hEnded, dwTimeoutMs) == WAIT_OBJECT_0;
}

void DialogRun::Run(RecordingSteps* pSteps, std::wstring strPackagePath)
{
    CComInit com;
    m_dwThreadId = ::GetCurrentThreadId();
    g_pHookSteps = pSteps;
    HHOOK hHook = ::SetWindowsHookExW(WH_CALLWNDPROC, &CallWndHook, nullptr, ::GetCurrentThreadId());

    // Publishes the window as soon as it is initialised (the removal thread
    // has been started by then).
    class CObservedDlg : public CLumetUpdateDlg
    {
    public:
        DialogRun* pRun = nullptr;

    protected:
        BOOL OnInitDialog() override
        {
            const BOOL b = CLumetUpdateDlg::OnInitDialog();
            pRun->m_hWnd = m_hWnd;
            ::SetEvent(pRun->m_hReady);
            return b;
        }
    };

    {
        CObservedDlg dlg;
        dlg.pRun = this;
        dlg.m_pSteps = pSteps;
        dlg.m_strPackagePath = strPackagePath;
        m_nResult = dlg.DoModal();
        if (m_nResult == -1)
            ::SetEvent(m_hReady);
    }
    if (hHook)
        ::UnhookWindowsHookEx(hHook);
    g_pHookSteps = nullptr;
    ::SetEvent(m_hEnded);
}

namespace
{
struct BoxSearch
{
    HWND hDialog;
    HWND hFound;
};

BOOL CALLBACK FindBoxProc(HWND hWnd, LPARAM lParam)
{
    auto* pSearch = reinterpret_cast<BoxSearch*>(lParam);
    wchar_t szClass[64] = {};
    ::GetClassNameW(hWnd, szClass, 64);
    if (hWnd != pSearch->hDialog && std::wstring(szClass) == L"#32770" && ::IsWindowVisible(hWnd))
    {
        pSearch->hFound = hWnd;
        return FALSE;
    }
    return TRUE;
}
}

HWND FindMessageBox(DWORD dwThreadId, HWND hDialog)
{
    BoxSearch search{hDialog, nullptr};
    ::EnumThreadWindows(dwThreadId, &FindBoxProc, reinterpret_cast<LPARAM>(&search));
    return search.hFound;
}

HWND WaitForMessageBox(DWORD dwThreadId, HWND hDialog, DWORD dwTimeoutMs)
{
    const ULONGLONG tEnd = ::GetTickCount64() + dwTimeoutMs;
    do
    {
        if (HWND hBox = FindMessageBox(dwThreadId, hDialog))
            return hBox;
        ::Sleep(10);
    } while (::GetTickCount64() < tEnd);
    return nullptr;
}

std::wstring WindowText(HWND hWnd)
{
    wchar_t sz[512] = {};
    ::GetWindowTextW(hWnd, sz, 512);
    return sz;
}
