#pragma once

#include "cleanup/Leftovers.h"
#include "installer/InstallerRuns.h"
#include "installer/LaunchApplication.h"
#include "installer/PackageCheck.h"
#include "installer/ProductDiscovery.h"
#include "installer/RemoveEarlierVersions.h"
#include "win/ProgressBar.h"
#include "win/WorkFolder.h"
#include "win/WorkerThread.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// Posted by the removal thread to the window as its last act; the window's
// handler starts the install thread.
constexpr UINT WM_REMOVAL_DONE = WM_USER + 1000;

// The steps of the two update phases, in their order. The program keeps the
// real steps; tests swap the whole set to watch the sequence without real
// installers. Function pointers, like every seam of the program.
struct UpdateSteps
{
    decltype(&PreparePackage) pfnPreparePackage;
    decltype(&GetProductCode) pfnGetProductCode;
    decltype(&GetInstallLocation) pfnGetInstallLocation;
    decltype(&RemoveEarlierVersions) pfnRemoveEarlierVersions;
    decltype(&RemoveLeftovers) pfnRemoveLeftovers;
    decltype(&GetUninstallString) pfnGetUninstallString;
    decltype(&UninstallProduct) pfnUninstallProduct;
    decltype(&InstallPackage) pfnInstallPackage;
    decltype(&LaunchApplication) pfnLaunchApplication;
};
extern UpdateSteps g_updateSteps;

// One update: the removal phase (the package checked and copied, what is
// installed found, every listed release removed, the leftovers cleaned up,
// the installed copy removed) and then the install phase (the copy installed
// into the folder found before, the application started), each on a worker
// thread of its own, one after the other. A package that fails its check
// stops the update before anything is removed: nothing else runs. Beyond
// that no step's result stops a phase.
//
// The window that shows the run starts it, gets WM_REMOVAL_DONE when the
// removal phase ends and must then call StartInstallThread, and gets WM_CLOSE
// when the install phase is over; it must not close while IsBusy().
class CUpdateRun
{
public:
    explicit CUpdateRun(std::wstring strPackagePath) : m_strPackagePath(std::move(strPackagePath)) {}
    // Waits for the workers that were started, before anything they use goes.
    ~CUpdateRun() { Finish(); }
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // Start the removal phase, for the window hWnd and its progress bar, and
    // the install phase; each once, later calls do nothing.
    void StartRemoveThread(HWND hWnd, HWND hProgress);
    void StartInstallThread();

    // Whether the update runs: from the start of the removal phase to the end
    // of the install phase, the hand-over between them included.
    bool IsBusy() const { return m_bRemoving != 0 || m_bInstalling != 0; }

    // Once the window has closed: waits for the workers, removes the copy of
    // the package and the run's own folder, and returns the exit code of the
    // update: the refusal's code for a refused package, else the install's
    // (0, 3010 when a restart is needed, 1603, ...), and 3010 where the
    // install gave 0 but something waits for the restart to be deleted.
    DWORD Finish();

    // The worker threads started so far, null where not.
    HANDLE RemoveThread() const { return m_pRemoveThread ? m_pRemoveThread->Handle() : nullptr; }
    HANDLE InstallThread() const { return m_pInstallThread ? m_pInstallThread->Handle() : nullptr; }

private:
    static UINT RemoveThreadProc(void* pParam);
    static UINT InstallThreadProc(void* pParam);
    void RunRemovalPhase();
    void RunInstallPhase();

    HWND m_hWnd = nullptr;
    CProgressBar m_progress;
    const std::wstring m_strPackagePath;
    CWorkFolder m_work;
    CInstallerSession m_session{m_work};
    PreparedPackage m_package; // what is installed
    DWORD m_dwRefused = ERROR_SUCCESS;
    DWORD m_dwInstalled = ERROR_INSTALL_FAILURE; // until an install has run
    bool m_bFinished = false;
    // Written by the removal phase before it posts WM_REMOVAL_DONE, read by
    // the install phase, which that message starts.
    std::wstring m_strInstallDir;
    std::atomic<int32_t> m_bRemoving{0};   // set and cleared by the window's thread
    std::atomic<int32_t> m_bInstalling{0}; // set by the window's thread, cleared by the install thread
    std::unique_ptr<CWorkerThread> m_pRemoveThread;
    std::unique_ptr<CWorkerThread> m_pInstallThread;
};
