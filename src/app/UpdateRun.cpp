#include "app/UpdateRun.h"

#include "cleanup/FolderRemover.h"
#include "log/Log.h"
#include "resources/ProductList.h"
#include "win/Com.h"

#include <utility>

constinit UpdateSteps g_updateSteps = {
    .pfnPreparePackage = &PreparePackage,
    .pfnGetProductCode = &GetProductCode,
    .pfnGetInstallLocation = &GetInstallLocation,
    .pfnRemoveEarlierVersions = &RemoveEarlierVersions,
    .pfnRemoveLeftovers = &RemoveLeftovers,
    .pfnGetUninstallString = &GetUninstallString,
    .pfnUninstallProduct = &UninstallProduct,
    .pfnInstallPackage = &InstallPackage,
    .pfnLaunchApplication = &LaunchApplication,
};

DWORD CUpdateRun::Finish()
{
    if (!std::exchange(m_bFinished, true))
    {
        // Each thread object waits for its thread; the install thread is
        // started only by the end of the removal thread, so it goes second.
        m_pRemoveThread.reset();
        m_pInstallThread.reset();
        m_session.Close();
        // The copy and what the programs started left in their temporary
        // folder go; what cannot waits for the restart.
        if (!m_work.Path().empty())
        {
            CFolderRemover remover(m_work);
            for (const wchar_t* pszFolder : {L"\\Package", L"\\Temp"})
                remover.DeleteFolderContents(m_work.Path() + pszFolder);
        }
        m_work.Finish();
    }
    if (m_dwRefused != ERROR_SUCCESS)
        return m_dwRefused;
    // The refusal codes say that nothing changed; after the removals an
    // install that ends with one of them is an install that failed.
    if (IsRefusalCode(m_dwInstalled))
        return ERROR_INSTALL_FAILURE;
    return m_dwInstalled == ERROR_SUCCESS && m_work.HandedOver() ? ERROR_SUCCESS_REBOOT_REQUIRED : m_dwInstalled;
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
        // No step's result after the package check stops the phase: a value
        // not found is carried on as an empty string. What is installed is
        // read before anything is removed, while the registry still holds
        // it, and the package is checked against it.
        const std::wstring strProductCode = g_updateSteps.pfnGetProductCode();
        m_strInstallDir = g_updateSteps.pfnGetInstallLocation();
        m_dwRefused = g_updateSteps.pfnPreparePackage(m_strPackagePath, strProductCode, m_work, m_package);
        if (m_dwRefused == ERROR_SUCCESS)
        {
            const ProductList list;
            g_updateSteps.pfnRemoveEarlierVersions(m_session, list);
            g_updateSteps.pfnRemoveLeftovers(m_work); // what it found is not used further
            const std::wstring strUninstall = g_updateSteps.pfnGetUninstallString();
            g_updateSteps.pfnUninstallProduct(m_session, strUninstall.c_str(), strProductCode);
        }
    }
    // Still busy: the window's handler of this message starts the install
    // phase and only then counts the removal as over.
    ::PostMessageW(m_hWnd, WM_REMOVAL_DONE, 0, 0);
}

void CUpdateRun::RunInstallPhase()
{
    {
        const CComInit com;
        if (m_dwRefused == ERROR_SUCCESS)
            m_dwInstalled = g_updateSteps.pfnInstallPackage(m_session, m_package.copy.strPath, m_strInstallDir);
        m_progress.SetMarquee(FALSE, 0);
        m_progress.SetPos(0);
        // The application starts only where the install left one.
        if (m_dwRefused == ERROR_SUCCESS && IsInstalled(m_dwInstalled))
            g_updateSteps.pfnLaunchApplication(m_strInstallDir);
        else if (m_dwRefused == ERROR_SUCCESS)
            WriteLog(L"Application not started: the install failed\r\n");
    }
    // Not busy from here: the window may close, and this asks it to.
    m_bInstalling = 0;
    ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
}
