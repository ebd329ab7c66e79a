#pragma once

#include "win/Hash.h"
#include "win/MyRegKey.h"
#include "win/Signature.h"
#include "win/WorkFolder.h"

#include <windows.h>

#include <string>

// How far an update had come.
enum class EPhase : ULONGLONG
{
    Prepared = 1,   // the copies made, nothing removed yet
    Removing = 2,   // the earlier releases and the installed copy going
    Installing = 3, // the new package going in
    Restoring = 4,  // the install failed, the restore package going in
};

// The plan of one update, made once before its first removal from what is
// installed and what is asked: what to remove (every listed release and the
// installed one, strInstalledCode), what to install (the package's copy) and
// where, and what to put back should the install fail (the restore package's
// copy, when there is one). Paths are relative to the package cache
// (win/PackageCache.h); every copy is trusted by its SHA-256 alone. With
// ePhase, how far it got, this is the run's record.
struct UpdatePlan
{
    EPhase ePhase = EPhase::Prepared;
    ULONGLONG nStarts = 0;         // starts of the machine that took it up again
    std::wstring strInstallDir;    // where the installed release was, and the new one goes
    std::wstring strInstalledCode; // the installed release's product code
    std::wstring strPackage;       // the new package's copy
    Sha256 package = {};
    std::wstring strNewCode; // the new package's product code; empty for an installer program
    std::wstring strRestore; // the restore package; empty when none
    Sha256 restore = {};
    std::wstring strRestoreFrom;
    Sha256 updater = {};         // the updater's copy in the run's folder, which resumes it
    std::wstring strUserSid;     // the user whose update it is
    std::wstring strUserProfile; // and their profile folder, where the run's logs go
};

// What an update leaves behind for its own resumption, should it be
// interrupted (killed, the machine losing power, an install that cannot be
// made now) between the first removal and its end: a copy of the updater in
// the run's own folder, the plan under the updater's key (HKEY_LOCAL_MACHINE,
// SOFTWARE\Vimo\LumetUpdate\Runs and the run's GUID), and the service that
// starts that copy with "/resume <run's GUID>" at the next start of the
// machine (app/ResumeService.h). The record, which only administrators can
// write, is what a resumption trusts: every copy it uses must match the
// SHA-256 the record holds, whatever the run's folder says.
class CRunRecord
{
public:
    // Begins the record of a run in work: copies the running updater (its own
    // image's file) into the run's folder, through handles, flushed to disk,
    // and, when the updater is signed (own not empty), checks that the copy
    // is signed by the same signer; then writes the plan and flushes it, and
    // registers the service. ERROR_SUCCESS, or why not; nothing is left
    // registered on failure.
    DWORD Begin(CWorkFolder& work, UpdatePlan& plan, const Signer& own);

    // Reads the plan of the run strGuid into plan and takes it up: ERROR_NOT_FOUND
    // when there is no such record (nothing is taken up then); a record that
    // cannot be read is deleted.
    DWORD Resume(const std::wstring& strGuid, UpdatePlan& plan);

    // Counts one more start that took the run up, on disk at once.
    void CountStart(UpdatePlan& plan);

    // Registers the service again, after the run's folder was opened: a
    // start deletes nothing, but the record must name a program that is there.
    DWORD RegisterAgain(const CWorkFolder& work) const;

    // Records the phase the run has reached, on disk at once.
    void SetPhase(EPhase ePhase);

    // The end of the run: the service goes, then the record.
    void End();

    // Whether a record is kept, which the next start acts on.
    bool IsPending() const { return m_key.Get() != nullptr; }
    const std::wstring& Guid() const { return m_strGuid; }

private:
    std::wstring m_strGuid;
    CMyRegKey m_key;
};

// The GUID of a run whose record is kept (an update interrupted), or empty.
std::wstring FindUnfinishedRun();

// Whether the record of the run strGuid is kept.
bool IsRunRecorded(const std::wstring& strGuid);

// The user whose update the run strGuid is, as its record names them: false
// when there is no such record.
bool ReadRunUser(const std::wstring& strGuid, std::wstring& strSid, std::wstring& strProfile);
