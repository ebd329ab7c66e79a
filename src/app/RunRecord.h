#pragma once

#include "win/Hash.h"
#include "win/MyRegKey.h"
#include "win/WorkFolder.h"

#include <windows.h>

#include <string>

// What an update leaves behind for its own resumption, should it be
// interrupted (killed, or the machine losing power) between the first removal
// and its end: a copy of the updater in the run's own folder, a record of the
// run under the updater's key (HKEY_LOCAL_MACHINE, SOFTWARE\Vimo\LumetUpdate\Runs
// and the run's GUID), and a value under HKEY_LOCAL_MACHINE's RunOnce key that
// starts that copy with "/resume <run's GUID>" at the next start of Windows
// (when an administrator signs in). The record, which only administrators can
// write, is what a resumption trusts: every copy it uses must match the
// SHA-256 the record holds, whatever the run's folder says.

// How far the update had come.
enum class EPhase : ULONGLONG
{
    Prepared = 1,   // the copies made, nothing removed yet
    Removing = 2,   // the earlier releases and the installed copy going
    Installing = 3, // the new package going in
    Restoring = 4,  // the install failed, the restore package going in
};

struct RunRecord
{
    EPhase ePhase = EPhase::Prepared;
    std::wstring strInstallDir;    // where the installed release was, and the new one goes
    std::wstring strInstalledCode; // the installed release's product code
    std::wstring strPackage;       // the new package's copy, in the run's Package folder
    Sha256 package = {};
    std::wstring strNewCode; // the new package's product code; empty for an installer program
    std::wstring strRestore; // the restore package's copy, in the run's Restore folder; empty when none
    Sha256 restore = {};
    std::wstring strRestoreFrom;
    Sha256 updater = {};
};

class CRunRecord
{
public:
    // Begins the record of a run in work: copies the running updater (its own
    // image's file, OpenOwnImage) into the run's folder as LumetUpdate.exe,
    // through handles, flushed to disk, and, when the updater is signed,
    // checks that the copy is signed by the same signer; then writes the
    // record and flushes it, and sets the RunOnce value. ERROR_SUCCESS, or why
    // not; nothing is left set on failure.
    DWORD Begin(CWorkFolder& work, RunRecord& record);

    // Takes up the run whose GUID is strGuid: its record must be there (else
    // ERROR_NOT_FOUND, and nothing is taken up), its folder is opened into
    // work (no level a link) and its RunOnce value is set again, since the
    // system deleted it before it started this run. Any other failure leaves
    // the record taken up, for End.
    DWORD Resume(const std::wstring& strGuid, CWorkFolder& work, RunRecord& record);

    // Records the phase the run has reached, on disk at once.
    void SetPhase(EPhase ePhase);

    // The end of the run: the RunOnce value goes, then the record.
    void End();

    // Whether a record is kept, which a restart would act on.
    bool IsPending() const { return m_key.Get() != nullptr; }

private:
    DWORD SetRunOnce(const CWorkFolder& work) const;

    std::wstring m_strGuid;
    CMyRegKey m_key;
};
