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
    // before its owner holds it. Without a thread the update does not run,
    // and the window may close at once.
    m_pRemoveThread = CWorkerThread::BeginSuspended(&RemoveThreadProc, this);
    if (m_pRemoveThread)
        m_pRemoveThread->Resume();
}

void CUpdateRun::StartInstallThread()
{
    if (m_pInstallThread || !m_pRemoveThread)
        return;
    m_pInstallThread = CWorkerThread::BeginSuspended(&InstallThreadProc, this);
    if (m_pInstallThread)
        m_pInstallThread->Resume();
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
    m_bRemoving = 1;
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
    m_bRemoving = 0;
    ::PostMessageW(m_hWnd, WM_REMOVAL_DONE, 0, 0);
}

void CUpdateRun::RunInstallPhase()
{
    m_bInstalling = 1;
    {
        const CComInit com;
        g_updateSteps.pfnInstallPackage(m_strPackagePath, m_strInstallDir);
    }
    m_bInstalling = 0;
    m_progress.SetMarquee(FALSE, 0);
    m_progress.SetPos(0);
    g_updateSteps.pfnLaunchApplication(m_strInstallDir);
    ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
}
