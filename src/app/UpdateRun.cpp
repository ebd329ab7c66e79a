#include "app/UpdateRun.h"

#include "cleanup/FolderRemover.h"
#include "installer/MsiPackage.h"
#include "log/Log.h"
#include "resources/ProductList.h"
#include "win/Clock.h"
#include "win/Com.h"
#include "win/FileCopy.h"
#include "win/FileHandles.h"

#include <utility>

namespace
{
constexpr wchar_t kUpdaterCopy[] = L"\\LumetUpdate.exe";

std::wstring Number(DWORD dwCode)
{
    std::wstring text;
    AppendNumber(text, dwCode);
    return text;
}

// Opens the copy at strPath without write or delete sharing, so that it stays
// what was checked until its install is over.
CHandle HoldCopy(const std::wstring& strPath)
{
    return CHandle(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

// Whether the copy, held, still has the digest recorded for it.
bool MatchesRecord(HANDLE hCopy, const Sha256& recorded)
{
    Sha256 digest = {};
    return hCopy != nullptr && hCopy != INVALID_HANDLE_VALUE && HashFile(hCopy, digest) == ERROR_SUCCESS &&
           digest == recorded;
}

// The part of a copy's path below the run's own folder.
std::wstring InRunFolder(const CWorkFolder& work, const std::wstring& strPath)
{
    return strPath.starts_with(work.Path() + L"\\") ? strPath.substr(work.Path().size() + 1) : std::wstring();
}
}

DWORD CUpdateRun::Finish()
{
    if (!std::exchange(m_bFinished, true))
    {
        // Each thread object waits for its thread; the install thread is
        // started only by the end of the removal thread, so it goes second.
        m_pRemoveThread.reset();
        m_pInstallThread.reset();
        m_hPackage.Close();
        m_hRestore.Close();
        m_session.Close();
        // The copies and what the programs started left in their temporary
        // folder go; what cannot waits for the restart. A record still kept
        // (the run never ended) is what a restart acts on: its folder stays.
        if (!m_work.Path().empty() && !m_journal.IsPending())
        {
            CFolderRemover remover(m_work);
            for (const wchar_t* pszFolder : {L"\\Package", L"\\Restore", L"\\Temp"})
                remover.DeleteFolderContents(m_work.Path() + pszFolder);
            // A resumed run is that copy of the updater: it goes at the restart.
            const std::wstring strUpdater = m_work.Path() + kUpdaterCopy;
            if (!::DeleteFileW(strUpdater.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
                ::MoveFileExW(strUpdater.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            m_work.Finish();
        }
    }
    if (m_dwRefused != ERROR_SUCCESS)
        return m_dwRefused;
    // The refusal codes say that nothing changed; after the removals an
    // install that ends with one of them is an install that failed.
    if (IsRefusalCode(m_dwInstalled))
        return ERROR_INSTALL_FAILURE;
    return m_dwInstalled == ERROR_SUCCESS && m_work.HandedOver() ? ERROR_SUCCESS_REBOOT_REQUIRED : m_dwInstalled;
}

void CUpdateRun::StartRemoveThread()
{
    if (m_pRemoveThread)
        return;
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
        if (m_request.strResumeGuid.empty())
            PrepareUpdate();
        else
            TakeUpResumedRun();
        if (m_bRemove)
            RemoveReleases();
    }
    // Still busy: the window starts the install phase and only then counts
    // the removal as over.
    m_events.OnRemovalOver();
}

void CUpdateRun::PrepareUpdate()
{
    // What is installed is read before anything is removed, while the
    // registry still holds it, and the package is checked against it.
    m_record.strInstalledCode = m_steps.pfnGetProductCode();
    m_record.strInstallDir = m_steps.pfnGetInstallLocation();
    // The restore package is found and copied while the new package is: the
    // run's folder is made first, for both.
    m_work.Create();
    std::unique_ptr<CWorkerThread> pSearch = CWorkerThread::BeginSuspended(
        [](void* pParam) -> UINT {
            auto& run = *static_cast<CUpdateRun*>(pParam);
            run.m_bRestore =
                run.m_steps.pfnFindRestorePackage(run.m_record.strInstalledCode, run.m_work, run.m_restore);
            return 0;
        },
        this);
    if (pSearch && !pSearch->Resume())
        pSearch.reset(); // never ran: deleting it waits for nothing
    m_dwRefused = m_steps.pfnPreparePackage(m_request.strPackagePath, m_record.strInstalledCode, m_work, m_package);
    if (pSearch)
        pSearch.reset(); // waits for the search
    else
        m_bRestore = m_steps.pfnFindRestorePackage(m_record.strInstalledCode, m_work, m_restore);
    if (m_dwRefused != ERROR_SUCCESS)
        return;
    WriteLog(m_bRestore ? L"Restore package: " + m_restore.strFrom + L"\r\n"
                        : L"No restore package: " + m_restore.strWhyNone + L"\r\n");
    m_hPackage = HoldCopy(m_package.copy.strPath);
    if (m_bRestore)
        m_hRestore = HoldCopy(m_restore.copy.strPath);

    // From here on the update can be interrupted with less installed than
    // before: it is recorded, so that the next start of Windows finishes it.
    m_record.strPackage = InRunFolder(m_work, m_package.copy.strPath);
    m_record.package = m_package.copy.digest;
    m_record.strNewCode = m_package.identity.strProductCode;
    if (m_bRestore)
    {
        m_record.strRestore = InRunFolder(m_work, m_restore.copy.strPath);
        m_record.restore = m_restore.copy.digest;
        m_record.strRestoreFrom = m_restore.strFrom;
    }
    const DWORD dwRecorded = m_journal.Begin(m_work, m_record);
    if (dwRecorded != ERROR_SUCCESS)
        WriteLog(L"No resume record (" + Number(dwRecorded) + L")\r\n");
    m_bRemove = true;
}

void CUpdateRun::TakeUpResumedRun()
{
    const DWORD dwResumed = m_journal.Resume(m_request.strResumeGuid, m_work, m_record);
    if (dwResumed == ERROR_NOT_FOUND)
    {
        m_dwRefused = ERROR_NOT_FOUND;
        WriteLog(L"Resume refused: no record of this run: " + m_request.strResumeGuid + L"\r\n");
        return;
    }
    if (dwResumed != ERROR_SUCCESS)
    {
        m_dwRefused = ERROR_PATH_NOT_FOUND;
        WriteLog(L"Resume refused: the run's own folder is gone: " + m_request.strResumeGuid + L"\r\n");
        m_journal.End();
        return;
    }
    WriteLog(L"Update resumed: " + m_work.Path() + L"\r\n");
    // The copies are used only as the record knows them: a power loss can cut
    // a file short, and the record, not the folder, is what is trusted.
    m_package.copy.strPath = m_work.Path() + L"\\" + m_record.strPackage;
    m_package.identity.strProductCode = m_record.strNewCode;
    m_hPackage = HoldCopy(m_package.copy.strPath);
    m_bPackageMatches = !m_record.strPackage.empty() && MatchesRecord(m_hPackage.Get(), m_record.package);
    if (m_bPackageMatches)
        m_package.copy.digest = m_record.package;
    if (!m_record.strRestore.empty())
    {
        m_restore.copy.strPath = m_work.Path() + L"\\" + m_record.strRestore;
        m_restore.strFrom = m_record.strRestoreFrom;
        m_hRestore = HoldCopy(m_restore.copy.strPath);
        m_bRestore = MatchesRecord(m_hRestore.Get(), m_record.restore);
        if (m_bRestore)
            m_restore.copy.digest = m_record.restore;
    }
    m_bAlreadyInstalled = !m_record.strNewCode.empty() && IsProductInstalled(m_record.strNewCode);
    // What the interrupted run had not removed yet is removed now, before
    // the new release goes in.
    m_bRemove = !m_bAlreadyInstalled && m_bPackageMatches && m_record.ePhase <= EPhase::Removing;
}

void CUpdateRun::RemoveReleases()
{
    m_journal.SetPhase(EPhase::Removing);
    // No step's result stops the phase: a value not found is carried on as
    // an empty string.
    const ProductList list;
    m_steps.pfnRemoveEarlierVersions(m_session, list);
    m_steps.pfnRemoveLeftovers(m_work); // what it found is not used further
    const std::wstring strUninstall = m_steps.pfnGetUninstallString();
    m_steps.pfnUninstallProduct(m_session, strUninstall.c_str(), m_record.strInstalledCode);
    m_journal.SetPhase(EPhase::Installing);
}

void CUpdateRun::RunInstallPhase()
{
    {
        const CComInit com;
        if (m_dwRefused == ERROR_SUCCESS)
            Install();
        m_events.OnProgressStopped();
        // The application starts only where one is installed.
        if (m_dwRefused == ERROR_SUCCESS && m_bApplication)
            m_steps.pfnLaunchApplication(m_record.strInstallDir);
        else if (m_dwRefused == ERROR_SUCCESS)
            WriteLog(L"Application not started: the install failed\r\n");
        m_journal.End();
    }
    // Not busy from here: the window may close, and this asks it to.
    m_bInstalling = 0;
    m_events.OnUpdateOver();
}

void CUpdateRun::Install()
{
    if (m_bAlreadyInstalled)
    {
        m_dwInstalled = ERROR_SUCCESS;
        m_bApplication = true;
        if (m_bPackageMatches)
            KeepInstalledPackage();
        return;
    }
    if (m_bPackageMatches)
    {
        m_dwInstalled = m_steps.pfnInstallPackage(m_session, m_package.copy.strPath, m_record.strInstallDir);
    }
    else
    {
        WriteLog(L"Package copy does not match its record: " + m_package.copy.strPath + L"\r\n");
        m_dwInstalled = ERROR_INSTALL_FAILURE;
    }
    if (IsInstalled(m_dwInstalled))
    {
        m_bApplication = true;
        KeepInstalledPackage();
        return;
    }
    // The earlier releases are retired; the installed one comes back.
    if (!m_bRestore)
        return;
    m_journal.SetPhase(EPhase::Restoring);
    const DWORD dwRestored = m_steps.pfnInstallPackage(m_session, m_restore.copy.strPath, m_record.strInstallDir);
    m_bApplication = IsInstalled(dwRestored);
    WriteLog(L"Install failed (" + Number(m_dwInstalled) + L"); " +
             (m_bApplication ? L"restored " + m_record.strInstalledCode + L" from " + m_restore.strFrom
                             : L"restore failed (" + Number(dwRestored) + L")") +
             L"\r\n");
}

void CUpdateRun::KeepInstalledPackage()
{
    // An installer program names no product: the one installed now does.
    const bool bInstallerPackage = IsInstallerPackageName(m_package.copy.strPath);
    const std::wstring strCode = bInstallerPackage ? m_package.identity.strProductCode : m_steps.pfnGetProductCode();
    const DWORD dwKept = m_steps.pfnKeepPackage(m_package.copy, strCode, bInstallerPackage);
    if (dwKept != ERROR_SUCCESS)
        WriteLog(L"Package not kept (" + Number(dwKept) + L")\r\n");
}
