#pragma once

#include "app/RunRecord.h"
#include "cleanup/Leftovers.h"
#include "installer/InstallerRuns.h"
#include "installer/KeptPackages.h"
#include "installer/LaunchApplication.h"
#include "installer/PackageCheck.h"
#include "installer/ProductDiscovery.h"
#include "installer/RemoveEarlierVersions.h"
#include "installer/RestorePackage.h"
#include "win/WorkFolder.h"
#include "win/WorkerThread.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// What the window that shows a run learns of it, each on the worker thread
// that gets there.
class CUpdateEvents
{
public:
    // The removal phase is over: the window must call StartInstallThread.
    virtual void OnRemovalOver() = 0;
    // The install phase is done with the progress bar, which stops; returns
    // once it has.
    virtual void OnProgressStopped() = 0;
    // The update is over: the window may close.
    virtual void OnUpdateOver() = 0;

protected:
    ~CUpdateEvents() = default;
};

// The steps of the two update phases: the real ones unless a test gives its
// own to watch the sequence without real installers.
struct UpdateSteps
{
    decltype(&GetProductCode) pfnGetProductCode = &GetProductCode;
    decltype(&GetInstallLocation) pfnGetInstallLocation = &GetInstallLocation;
    decltype(&PreparePackage) pfnPreparePackage = &PreparePackage;
    decltype(&FindRestorePackage) pfnFindRestorePackage = &FindRestorePackage;
    decltype(&RemoveEarlierVersions) pfnRemoveEarlierVersions = &RemoveEarlierVersions;
    decltype(&RemoveLeftovers) pfnRemoveLeftovers = &RemoveLeftovers;
    decltype(&GetUninstallString) pfnGetUninstallString = &GetUninstallString;
    decltype(&UninstallProduct) pfnUninstallProduct = &UninstallProduct;
    decltype(&InstallPackage) pfnInstallPackage = &InstallPackage;
    decltype(&KeepPackage) pfnKeepPackage = &KeepPackage;
    decltype(&LaunchApplication) pfnLaunchApplication = &LaunchApplication;
};

// What an update is asked to do: install a package, or, started again after
// an interruption, take up the run of the given GUID; bAsService when the
// service manager started it so, with nobody's desktop to show anything on.
struct UpdateRequest
{
    std::wstring strPackagePath;
    std::wstring strResumeGuid;
    bool bAsService = false;
};

// How often the starts of the machine take up a run that cannot be finished
// before it gives up.
constexpr ULONGLONG kMostStarts = 3;

// One update: the removal phase and then the install phase, each on a worker
// thread of its own, one after the other, carrying out a plan (UpdatePlan)
// step by step.
//
// The removal phase makes the plan: it reads what is installed, checks and
// copies the package into the package cache (a package that fails stops the
// update before anything is removed: nothing else runs), then finds a restore
// package of the installed release and records the plan (app/RunRecord.h).
// It removes every listed release, cleans up the leftovers and removes the
// installed copy. The install phase installs the copy into the folder found
// before; when that fails, it puts the installed release back from the
// restore package; it keeps the installed package as the product's source in
// the cache, starts the application where one is installed and ends the
// record. An install that another installation holds past its retries, or an
// install whose restore fails too, keeps the record: the next start of the
// machine tries again, up to kMostStarts starts. A resumed run reads the plan
// and how far it got, checks every copy against it and what is installed now,
// and carries out the rest, or refuses and changes nothing.
//
// The window that shows the run (events) starts it, calls StartInstallThread
// when the removal phase is over, and must not close while IsBusy().
class CUpdateRun
{
public:
    CUpdateRun(UpdateRequest request, CUpdateEvents& events, const UpdateSteps& steps = UpdateSteps())
        : m_request(std::move(request)), m_events(events), m_steps(steps)
    {}
    // Waits for the workers that were started, before anything they use goes.
    ~CUpdateRun() { Finish(); }
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // Start the removal and the install phase; each once, later calls do
    // nothing.
    void StartRemoveThread();
    void StartInstallThread();

    // Whether the update runs: from the start of the removal phase to the end
    // of the install phase, the hand-over between them included.
    bool IsBusy() const { return m_bRemoving != 0 || m_bInstalling != 0; }

    // Once the window has closed: waits for the workers, removes from the
    // run's own folder what the cache does not keep, and returns the exit code
    // of the update: the refusal's code for a refused update, else the
    // install's (0, 3010 when a restart is needed, 1603, 1618, ...), also
    // when the installed release was restored; 1603 for an install that ended
    // with one of the refusal codes; 3010 where the install gave 0 but an
    // installer run asked for a restart or something waits for the restart
    // to be deleted.
    DWORD Finish();

    // Whether the run's record is kept for the next start of the machine.
    bool IsPending() const { return m_record.IsPending(); }

    // The worker threads started so far, null where not.
    HANDLE RemoveThread() const { return m_pRemoveThread ? m_pRemoveThread->Handle() : nullptr; }
    HANDLE InstallThread() const { return m_pInstallThread ? m_pInstallThread->Handle() : nullptr; }

private:
    static UINT RemoveThreadProc(void* pParam);
    static UINT InstallThreadProc(void* pParam);
    void RunRemovalPhase();
    void RunInstallPhase();
    void MakePlan();
    void TakeUpResumedRun();
    void Refuse(DWORD dwCode, const std::wstring& strReason, bool bEndRecord);
    void RemoveReleases();
    void Install();
    void KeepInstalled(const std::wstring& strPath, const Sha256& digest, const std::wstring& strCode,
                       bool bInstallerPackage);
    void EndOrKeepRecord();
    void RemoveWhatIsNotKept();

    const UpdateRequest m_request;
    CUpdateEvents& m_events;
    const UpdateSteps m_steps;
    CWorkFolder m_work;
    CInstallerSession m_session{m_work};
    CRunRecord m_record;
    // Made by the removal phase before it is over, read by the install phase,
    // which that starts; how far it got is the record's.
    UpdatePlan m_plan;
    Signer m_own;
    CHandle m_hPackage; // the copies, held unwritable from their check to their install
    CHandle m_hRestore;
    std::wstring m_strKept; // the package the cache keeps as the installed one's, once known
    DWORD m_dwRefused = ERROR_SUCCESS;
    DWORD m_dwInstalled = ERROR_INSTALL_FAILURE; // until an install has run
    bool m_bAlreadyInstalled = false;            // a resumed run found the new release installed
    bool m_bApplication = false;                 // an application is installed at the end
    bool m_bFinished = false;
    std::atomic<int32_t> m_bRemoving{0};   // set and cleared by the window's thread
    std::atomic<int32_t> m_bInstalling{0}; // set by the window's thread, cleared by the install thread
    std::unique_ptr<CWorkerThread> m_pRemoveThread;
    std::unique_ptr<CWorkerThread> m_pInstallThread;
};

// The events of an update run with no window, as the service manager starts a
// resumed one: the phases hand over through events instead of window
// messages.
class CQuietRun : public CUpdateEvents
{
public:
    void OnRemovalOver() override;
    void OnProgressStopped() override {}
    void OnUpdateOver() override;

    // Carries out run, which must have been made with this as its events, and
    // returns its exit code (CUpdateRun::Finish).
    DWORD Carry(CUpdateRun& run);

private:
    CHandle m_hRemovalOver{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    CHandle m_hOver{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};
