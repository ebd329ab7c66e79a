#include "app/UpdateRun.h"

#include "app/ResumeService.h"
#include "cleanup/FolderRemover.h"
#include "installer/MsiPackage.h"
#include "log/Log.h"
#include "resources/ProductList.h"
#include "win/Clock.h"
#include "win/Com.h"
#include "win/FileCopy.h"
#include "win/FileHandles.h"
#include "win/PackageCache.h"
#include "win/Text.h"

#include <algorithm>
#include <utility>

namespace
{
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

bool IsUnder(const std::wstring& strPath, const std::wstring& strFolder)
{
    return !strFolder.empty() && strPath.size() > strFolder.size() + 1 && strPath.starts_with(strFolder + L"\\");
}

// Deletes the run folders of the cache that neither a kept package nor a
// kept record needs, but the one of this run: an update leaves the cache
// with the installed release's package and nothing else.
void PruneCache(CWorkFolder& work)
{
    CHandle hCache, hRuns;
    std::wstring strCache;
    if (OpenCache(false, hCache, strCache) != ERROR_SUCCESS ||
        OpenCacheFolder(hCache.Get(), kRunsFolder, false, hRuns) != ERROR_SUCCESS)
        return;
    std::vector<FolderEntry> vecRuns;
    ListFolder(hRuns.Get(), vecRuns);
    const std::vector<std::wstring> vecKept = KeptRunFolders();
    for (const FolderEntry& entry : vecRuns)
    {
        if (EqualsNoCaseAscii(entry.strName, work.Guid()) ||
            std::find(vecKept.begin(), vecKept.end(), entry.strName) != vecKept.end() || IsRunRecorded(entry.strName))
            continue;
        const std::wstring strFolder = strCache + L"\\" + kRunsFolder + L"\\" + entry.strName;
        if (CFolderRemover(work).DeleteFolderContents(strFolder))
            ::RemoveDirectoryW(strFolder.c_str());
    }
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
        // A record still kept is what the next start acts on: its folder
        // stays whole.
        if (!m_work.Path().empty() && !m_record.IsPending())
            RemoveWhatIsNotKept();
    }
    if (m_dwRefused != ERROR_SUCCESS)
        return m_dwRefused;
    // The refusal codes say that nothing changed; after the removals an
    // install that ends with one of them is an install that failed.
    if (IsRefusalCode(m_dwInstalled))
        return ERROR_INSTALL_FAILURE;
    return m_dwInstalled == ERROR_SUCCESS && (m_work.HandedOver() || m_session.RestartNeeded())
               ? ERROR_SUCCESS_REBOOT_REQUIRED
               : m_dwInstalled;
}

void CUpdateRun::RemoveWhatIsNotKept()
{
    // The copies and what the programs started left in their temporary
    // folder go, but the package the cache keeps as the installed one's;
    // what cannot go waits for the restart.
    CFolderRemover remover(m_work);
    for (const wchar_t* pszFolder : {kPackageFolder, kRestoreFolder, kTempFolder})
    {
        const std::wstring strFolder = m_work.Path() + L"\\" + pszFolder;
        if (!IsUnder(m_strKept, strFolder))
            remover.DeleteFolderContents(strFolder);
    }
    // A resumed run is that copy of the updater: it goes at the restart.
    const std::wstring strUpdater = m_work.Path() + L"\\" + kUpdaterCopy;
    if (!::DeleteFileW(strUpdater.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        ::MoveFileExW(strUpdater.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    m_work.Finish(IsUnder(m_strKept, m_work.Path()));
    PruneCache(m_work);
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
            MakePlan();
        else
            TakeUpResumedRun();
        if (m_dwRefused == ERROR_SUCCESS && !m_bAlreadyInstalled && m_plan.ePhase <= EPhase::Removing)
            RemoveReleases();
    }
    // Still busy: the window starts the install phase and only then counts
    // the removal as over.
    m_events.OnRemovalOver();
}

void CUpdateRun::MakePlan()
{
    // What is installed is read before anything is removed, while the
    // registry still holds it, and the package is checked against it.
    m_plan.strInstalledCode = m_steps.pfnGetProductCode();
    m_plan.strInstallDir = m_steps.pfnGetInstallLocation();
    PreparedPackage prepared;
    m_dwRefused = m_steps.pfnPreparePackage(m_request.strPackagePath, m_plan.strInstalledCode, m_work, prepared);
    if (m_dwRefused != ERROR_SUCCESS)
        return;
    m_own = prepared.own;
    // Only a package that passed its checks is worth a way back.
    RestorePackage restore;
    const bool bRestore = m_steps.pfnFindRestorePackage(m_plan.strInstalledCode, m_own, m_work, restore);
    WriteLog(bRestore ? L"Restore package: " + restore.strFrom + L"\r\n"
                      : L"No restore package: " + restore.strWhyNone + L"\r\n");
    m_hPackage = HoldCopy(prepared.copy.strPath);
    m_plan.strPackage = prepared.copy.strPath;
    m_plan.package = prepared.copy.digest;
    m_plan.strNewCode = prepared.identity.strProductCode;
    if (bRestore)
    {
        m_hRestore = HoldCopy(restore.copy.strPath);
        m_plan.strRestore = restore.copy.strPath;
        m_plan.restore = restore.copy.digest;
        m_plan.strRestoreFrom = restore.strFrom;
    }
    // From here on the update can be interrupted with less installed than
    // before: it is recorded, so that the next start of the machine finishes
    // it. One that could not be taken up again removes nothing.
    const DWORD dwRecorded = m_record.Begin(m_work, m_plan, m_own);
    if (dwRecorded != ERROR_SUCCESS)
    {
        m_dwRefused = ERROR_INSTALL_TEMP_UNWRITABLE;
        WriteLog(L"No resume record (" + Number(dwRecorded) + L")\r\nUpdate refused: " + ReasonOfRefusal(m_dwRefused) +
                 L": " + m_request.strPackagePath + L"\r\n");
    }
}

void CUpdateRun::Refuse(DWORD dwCode, const std::wstring& strReason, bool bEndRecord)
{
    m_dwRefused = dwCode;
    WriteLog(L"Resume refused: " + strReason + L": " + m_request.strResumeGuid + L"\r\n");
    if (bEndRecord)
        m_record.End();
}

void CUpdateRun::TakeUpResumedRun()
{
    const std::wstring& strGuid = m_request.strResumeGuid;
    if (m_record.Resume(strGuid, m_plan) != ERROR_SUCCESS)
    {
        // A service left by a run whose record has gone has nothing to do.
        DeleteResumeService(strGuid);
        return Refuse(ERROR_NOT_FOUND, L"no record of this run", false);
    }
    const DWORD dwOpened = m_work.OpenExisting(strGuid);
    if (dwOpened == ERROR_SHARING_VIOLATION)
        return Refuse(ERROR_INSTALL_ALREADY_RUNNING, L"another update is in progress", false);
    if (dwOpened == ERROR_ACCESS_DENIED)
        return Refuse(ERROR_ACCESS_DENIED, L"the package cache is not the update's own", true);
    if (dwOpened != ERROR_SUCCESS)
        return Refuse(ERROR_PATH_NOT_FOUND, L"the run's own folder is gone", true);
    // Counted, and the service set again, before anything is done: a start
    // that gets no further still comes to an end after a few starts.
    m_record.CountStart(m_plan);
    if (const DWORD dwRegistered = m_record.RegisterAgain(m_work); dwRegistered != ERROR_SUCCESS)
        WriteLog(L"No resume record (" + Number(dwRegistered) + L")\r\n");
    WriteLog(L"Update resumed: " + m_work.Path() + L"\r\n");

    // Every copy is used only as the record knows it: a power loss can cut a
    // file short, and the record, not the folder, is what is trusted.
    const CHandle hUpdater = HoldCopy(m_work.Path() + L"\\" + kUpdaterCopy);
    if (!MatchesRecord(hUpdater.Get(), m_plan.updater))
        return Refuse(ERROR_FILE_CORRUPT, L"the updater's copy does not match its record", true);
    m_hPackage = HoldCopy(m_plan.strPackage);
    const bool bPackage = !m_plan.strPackage.empty() && MatchesRecord(m_hPackage.Get(), m_plan.package);
    if (!m_plan.strRestore.empty())
    {
        m_hRestore = HoldCopy(m_plan.strRestore);
        if (!MatchesRecord(m_hRestore.Get(), m_plan.restore))
        {
            WriteLog(L"Restore package copy does not match its record: " + m_plan.strRestore + L"\r\n");
            m_plan.strRestore.clear();
            m_hRestore.Close();
        }
    }

    // What is installed now must be what the plan left: the installed
    // release, the new one, or neither.
    m_bAlreadyInstalled = !m_plan.strNewCode.empty() && IsProductInstalled(m_plan.strNewCode);
    if (m_bAlreadyInstalled)
    {
        if (!bPackage)
            m_plan.strPackage.clear(); // installed, but not kept
        return;
    }
    const std::wstring strInstalledNow = m_steps.pfnGetProductCode();
    if (!strInstalledNow.empty() && !EqualsNoCaseAscii(strInstalledNow, m_plan.strInstalledCode))
        return Refuse(ERROR_PRODUCT_VERSION, L"another release is installed now", true);
    if (!bPackage)
    {
        // Nothing removed yet, or nothing to put back: nothing is done.
        if (m_plan.ePhase == EPhase::Prepared || m_plan.strRestore.empty())
            return Refuse(ERROR_FILE_CORRUPT, L"the package's copy does not match its record", true);
        WriteLog(L"Package copy does not match its record: " + m_plan.strPackage + L"\r\n");
        m_plan.strPackage.clear();
        return;
    }
    // The release rule holds against what is installed now, as it did
    // against what was installed then.
    PackageIdentity identity;
    bool bCompared = false;
    if (IsInstallerPackageName(m_plan.strPackage) && !strInstalledNow.empty() &&
        (!ReadPackageIdentity(m_plan.strPackage, identity) ||
         CheckRelease(identity, strInstalledNow, bCompared) != ERROR_SUCCESS))
        return Refuse(ERROR_PRODUCT_VERSION, L"not a newer release of what is installed now", true);
}

void CUpdateRun::RemoveReleases()
{
    m_record.SetPhase(EPhase::Removing);
    // No step's result stops the phase: a value not found is carried on as
    // an empty string. A resumed run does its user's part of the clean-up.
    const ProductList list;
    m_steps.pfnRemoveEarlierVersions(m_session, list);
    m_steps.pfnRemoveLeftovers(m_work, m_request.strResumeGuid.empty() ? std::wstring() : m_plan.strUserSid);
    const std::wstring strUninstall = m_steps.pfnGetUninstallString();
    m_steps.pfnUninstallProduct(m_session, strUninstall.c_str(), m_plan.strInstalledCode);
    m_plan.ePhase = EPhase::Installing;
    m_record.SetPhase(EPhase::Installing);
}

void CUpdateRun::RunInstallPhase()
{
    {
        const CComInit com;
        if (m_dwRefused == ERROR_SUCCESS)
            Install();
        m_events.OnProgressStopped();
        if (m_dwRefused == ERROR_SUCCESS)
        {
            // The application starts only where one is installed, and only
            // on the desktop of someone signed in.
            if (!m_bApplication)
                WriteLog(L"Application not started: the install failed\r\n");
            else if (m_request.bAsService)
                WriteLog(L"Application not started: resumed at the start of the machine, on nobody's desktop\r\n");
            else
                m_steps.pfnLaunchApplication(m_plan.strInstallDir);
            EndOrKeepRecord();
        }
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
        if (!m_plan.strPackage.empty())
            KeepInstalled(m_plan.strPackage, m_plan.package, m_plan.strNewCode, true);
        return;
    }
    if (!m_plan.strPackage.empty())
    {
        m_dwInstalled = m_steps.pfnInstallPackage(m_session, m_plan.strPackage, m_plan.strInstallDir);
        if (IsInstalled(m_dwInstalled))
        {
            m_bApplication = true;
            // An installer program names no product: the one installed now does.
            const bool bInstallerPackage = IsInstallerPackageName(m_plan.strPackage);
            KeepInstalled(m_plan.strPackage, m_plan.package,
                          bInstallerPackage ? m_plan.strNewCode : m_steps.pfnGetProductCode(), bInstallerPackage);
            return;
        }
        // Another installation held the Windows Installer past the retries:
        // the next start tries again, rather than a restore that would wait
        // for it too.
        if (m_dwInstalled == ERROR_INSTALL_ALREADY_RUNNING)
            return;
    }
    // The earlier releases are retired; the installed one comes back.
    if (m_plan.strRestore.empty())
        return;
    m_record.SetPhase(EPhase::Restoring);
    const DWORD dwRestored = m_steps.pfnInstallPackage(m_session, m_plan.strRestore, m_plan.strInstallDir);
    m_bApplication = IsInstalled(dwRestored);
    WriteLog(L"Install failed (" + Number(m_dwInstalled) + L"); " +
             (m_bApplication ? L"restored " + m_plan.strInstalledCode + L" from " + m_plan.strRestoreFrom
                             : L"restore failed (" + Number(dwRestored) + L")") +
             L"\r\n");
    if (m_bApplication)
        KeepInstalled(m_plan.strRestore, m_plan.restore, m_plan.strInstalledCode, true);
}

void CUpdateRun::KeepInstalled(const std::wstring& strPath, const Sha256& digest, const std::wstring& strCode,
                               bool bInstallerPackage)
{
    const DWORD dwKept = m_steps.pfnKeepPackage(CopiedFile{strPath, digest}, strCode, bInstallerPackage);
    if (dwKept == ERROR_SUCCESS)
        m_strKept = strPath;
    else
        WriteLog(L"Package not kept (" + Number(dwKept) + L")\r\n");
}

void CUpdateRun::EndOrKeepRecord()
{
    if (m_bApplication || !m_record.IsPending())
        return m_record.End();
    // Nothing installed: the record and its service stay, and the next start
    // of the machine tries again, a few times.
    if (m_plan.nStarts < kMostStarts)
    {
        WriteLog(L"Update to be tried again at the next start (" + Number(m_dwInstalled) + L")\r\n");
        return;
    }
    const std::wstring strInstalled = m_steps.pfnGetProductCode();
    WriteLog(L"Update given up after " + Number(static_cast<DWORD>(m_plan.nStarts)) + L" starts; installed: " +
             (strInstalled.empty() ? L"nothing" : strInstalled) + L"\r\n");
    m_record.End();
}

void CQuietRun::OnRemovalOver() { ::SetEvent(m_hRemovalOver.Get()); }

void CQuietRun::OnUpdateOver() { ::SetEvent(m_hOver.Get()); }

DWORD CQuietRun::Carry(CUpdateRun& run)
{
    run.StartRemoveThread();
    if (run.RemoveThread() && ::WaitForSingleObject(m_hRemovalOver.Get(), INFINITE) == WAIT_OBJECT_0)
    {
        run.StartInstallThread();
        if (run.InstallThread())
            ::WaitForSingleObject(m_hOver.Get(), INFINITE);
    }
    return run.Finish();
}
