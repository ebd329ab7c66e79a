#include "app/UpdateRun.h"

#include "resources/ProductList.h"
#include "win/Com.h"

constinit UpdateSteps g_updateSteps = {
    .pfnGetProductCode = &GetProductCode,
    .pfnGetInstallLocation = &GetInstallLocation,
    .pfnRemoveEarlierVersions = &RemoveEarlierVersions,
    .pfnRemoveLeftovers = &RemoveLeftovers,
    .pfnGetUninstallString = &GetUninstallString,
    .pfnUninstallProduct = &UninstallProduct,
    .pfnInstallPackage = &InstallPackage,
    .pfnLaunchApplication = &LaunchApplication,
};

CUpdateRun::~CUpdateRun()
{
    // Each thread object waits for its thread; the install thread is started
    // only by the end of the removal thread, so it goes second.
    m_pRemoveThread.reset();
    m_pInstallThread.reset();
}

void CUpdateRun::StartRemoveThread(HWND hWnd, HWND hProgress)
{
    if (m_pRemoveThread)
        return;
    m_hWnd = hWnd;
    m_progress.Attach(hProgress);
    // Created suspended and let run only once stored: the thread never runs
    // before its owner holds it. The run counts as busy from here, on the
    // window's thread, so no close slips in before the thread has started.
    // Without a thread the update does not run, and the window may close.
    m_pRemoveThread = CWorkerThread::BeginSuspended(&RemoveThreadProc, this);
    if (m_pRemoveThread)
    {
        m_bRemoving = 1;
        if (!m_pRemoveThread->Resume())
            m_bRemoving = 0;
    }
}

void CUpdateRun::StartInstallThread()
{
    if (m_pInstallThread || !m_pRemoveThread)
        return;
    // The phases hand over on the window's thread, which is the one that
    // asks IsBusy: the run stays busy between them.
    m_pInstallThread = CWorkerThread::BeginSuspended(&InstallThreadProc, this);
    if (m_pInstallThread)
    {
        m_bInstalling = 1;
        if (!m_pInstallThread->Resume())
            m_bInstalling = 0;
    }
    m_bRemoving = 0;
}

UINT CUpdateRun::RemoveThreadProc(void* pParam)
{
    static_cast<CUpdateRun*>(pParam)->RunRemovalPhase();
    return 0;
}

UINT CUpdateRun::InstallThreadProc(void* pParam)
{
    static_cast<CUpdateRun*>(pParam)->RunInstallPhase();
    return 0;
}

void CUpdateRun::RunRemovalPhase()
{
    {
        const CComInit com;
        // No step's result stops the phase: a value not found is carried on
        // as an empty string. The install location is read before anything
        // is removed, while the registry still holds it.
        const ProductList list;
        const std::wstring strProductCode = g_updateSteps.pfnGetProductCode();
        m_strInstallDir = g_updateSteps.pfnGetInstallLocation();
        g_updateSteps.pfnRemoveEarlierVersions(list);
        g_updateSteps.pfnRemoveLeftovers(); // what it found is not used further
        const std::wstring strUninstall = g_updateSteps.pfnGetUninstallString();
        g_updateSteps.pfnUninstallProduct(strUninstall.c_str(), strProductCode);
    }
    // Still busy: the window's handler of this message starts the install
    // phase and only then counts the removal as over.
    ::PostMessageW(m_hWnd, WM_REMOVAL_DONE, 0, 0);
}

void CUpdateRun::RunInstallPhase()
{
    {
        const CComInit com;
        g_updateSteps.pfnInstallPackage(m_strPackagePath, m_strInstallDir);
        m_progress.SetMarquee(FALSE, 0);
        m_progress.SetPos(0);
        g_updateSteps.pfnLaunchApplication(m_strInstallDir);
    }
    // Not busy from here: the window may close, and this asks it to.
    m_bInstalling = 0;
    ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
}
