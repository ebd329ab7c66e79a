#pragma once

#include "win/ScopedHandle.h"
#include "win/WorkFolder.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// Removal and installation through the Windows Installer's command line, and
// the other programs an update starts with its administrator rights, each
// waited for without time-out.

// What the programs one update starts share, for as long as the update runs:
// the folder of the installer's logs, held the whole time, and a start that
// no user can steer. Each program is started by its full path, in a folder
// no user can write, with an environment made of the machine's variables
// only (win/SystemEnvironment.h), whose temporary folder is one in the run's
// own folder: nothing of the user's environment, current folder or search
// path reaches it.
class CInstallerSession
{
public:
    explicit CInstallerSession(CWorkFolder& work) : m_work(work) {}
    CInstallerSession(const CInstallerSession&) = delete;
    CInstallerSession& operator=(const CInstallerSession&) = delete;

    // A new installer log file, made with FILE_CREATE before its run, so that
    // the name the installer is given is the update's own:
    // VimoLumet<UTC time>.log in %TEMP%\VimoLog, or VimoLumet<UTC time>_2.log,
    // _3, ... when that name is taken. The empty string when none can be made.
    //
    // VimoLog is reached from the drive's root through handles, no level a
    // link, every level held without delete sharing until the session ends,
    // so that none can be renamed or replaced meanwhile; it is created with
    // FILE_CREATE as the administrators' (the user may read it), and one that
    // is there but is not such a folder (a link, a file, a folder others may
    // change) is moved aside through its own handle first. Where that cannot
    // be done safely (a level is a link, the temporary folder is unknown or
    // too long, the link cannot be opened as itself), the logs go to the
    // run's own folder instead, and the run's log says where:
    // "Installer logs in <folder>\r\n".
    std::wstring GetInstallerLogPath();

    // Starts strApplication (a full path) with strCommandLine in strFolder
    // and waits for it. ERROR_SUCCESS with its exit code in dwExitCode, or why
    // it could not be started.
    DWORD Run(const std::wstring& strApplication, const std::wstring& strCommandLine, const std::wstring& strFolder,
              DWORD& dwExitCode);

    // Whether a program it ran said that a restart is needed to finish
    // (3010, or 1641 from a program that started one itself). The Windows
    // Installer's runs are told not to restart the machine (/norestart): the
    // update reports the need at its end instead.
    bool RestartNeeded() const { return m_bRestartNeeded; }

    // Lets go of the installer's log folder and the levels above it, once the
    // last run is over.
    void Close()
    {
        m_hLogFolder.Close();
        m_vecHeld.clear();
    }

private:
    bool OpenLogFolder();

    CWorkFolder& m_work;
    std::vector<CHandle> m_vecHeld; // the levels above the log folder
    CHandle m_hLogFolder;
    std::wstring m_strLogFolder;
    bool m_bLogFolderTried = false;
    bool m_bRestartNeeded = false;
    std::wstring m_strEnvironment; // made on first use
};

// Removes one product and waits for the removal, which never restarts the
// machine. pszUninstallCommand may be
// null (no command: the quiet Windows Installer removal is used).
void UninstallProduct(CInstallerSession& session, const wchar_t* pszUninstallCommand,
                      const std::wstring& strProductCode);

// Whether the file name ends in "msi", any case: such a package goes to the
// Windows Installer, anything else is run as an installer program.
bool IsInstallerPackageName(std::wstring_view name);

// Whether an install's exit code says that the package was installed: 0, or
// 3010 and 1641 (installed, a restart needed or started).
bool IsInstalled(DWORD dwExitCode);

// Installs the package silently into strInstallDir (a default folder when
// empty), never restarting the machine, and waits for it; a package that is not a Windows Installer package
// is run with /silent, in its own folder. Returns the installer's exit code,
// or why it could not be started.
DWORD InstallPackage(CInstallerSession& session, const std::wstring& strPackagePath, const std::wstring& strInstallDir);
