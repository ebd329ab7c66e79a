#include "installer/InstallerRuns.h"

#include "installer/ProcessRunner.h"
#include "installer/ProductDiscovery.h"
#include "log/Log.h"
#include "win/Clock.h"
#include "win/FileDisposition.h"
#include "win/FileHandles.h"
#include "win/KnownFolders.h"
#include "win/PackageCache.h"
#include "win/Security.h"
#include "win/SystemEnvironment.h"
#include "win/Text.h"

#include <shlobj.h>

// Commands are built by concatenation, so long paths and long uninstall
// commands are passed whole; a command that exceeds what a process can be
// given is refused by the runner.

namespace
{
constexpr wchar_t kLogFolderName[] = L"VimoLog";
// The most installer logs of one second: far more runs than an update starts.
constexpr unsigned kMaxLogsPerSecond = 1000;
// How long an installer run waits for another installation to end.
constexpr ULONGLONG kBusyWaitMs = 180000;
constexpr DWORD kBusyPauseMs = 5000;

// The temporary folder, ending with a backslash, in its long form, or the
// empty string. Asked for its length first, so that a folder longer than
// MAX_PATH is not lost.
std::wstring GetTempFolder()
{
    // Two rounds in case the setting changes between the calls.
    for (int nRound = 0; nRound < 2; ++nRound)
    {
        const DWORD cchNeeded = ::GetTempPathW(0, nullptr);
        if (cchNeeded == 0)
            return std::wstring();
        std::wstring strFolder(cchNeeded, L'\0');
        const DWORD cchCopied = ::GetTempPathW(cchNeeded, strFolder.data());
        if (cchCopied == 0)
            return std::wstring();
        if (cchCopied < cchNeeded)
        {
            strFolder.resize(cchCopied);
            // The user's own folder may be given by its 8.3 name.
            const DWORD cchLong = ::GetLongPathNameW(strFolder.c_str(), nullptr, 0);
            std::wstring strLong(cchLong, L'\0');
            if (cchLong == 0 || ::GetLongPathNameW(strFolder.c_str(), strLong.data(), cchLong) != cchLong - 1)
                return strFolder;
            strLong.resize(cchLong - 1);
            return strLong;
        }
    }
    return std::wstring();
}

std::wstring Quoted(const std::wstring& strText) { return L"\"" + strText + L"\""; }

// The program a stored command names: a first word in double quotes; else,
// unquoted, the text up to the first ".exe" that ends a word (so that
// C:\Program Files\Vimo\uninst.exe /S names the whole path), or up to the
// first blank.
std::wstring ProgramOf(const std::wstring& strCommand)
{
    const size_t nStart = strCommand.find_first_not_of(L' ');
    if (nStart == std::wstring::npos)
        return std::wstring();
    if (strCommand[nStart] == L'"')
    {
        const size_t nQuote = strCommand.find(L'"', nStart + 1);
        return nQuote == std::wstring::npos ? std::wstring() : strCommand.substr(nStart + 1, nQuote - nStart - 1);
    }
    const std::wstring strFolded = ToLowerAscii(strCommand);
    for (size_t nExe = strFolded.find(L".exe", nStart); nExe != std::wstring::npos;
         nExe = strFolded.find(L".exe", nExe + 1))
    {
        const size_t nEnd = nExe + 4;
        if (nEnd == strCommand.size() || strCommand[nEnd] == L' ')
            return strCommand.substr(nStart, nEnd - nStart);
    }
    return strCommand.substr(nStart, strCommand.find(L' ', nStart) - nStart);
}

// Whether a program is the Windows Installer: msiexec, with or without
// ".exe", by its bare name or with a folder before it. Whatever folder a
// command names it in, the system folder's own is the one that runs.
bool IsWindowsInstaller(const std::wstring& strProgram)
{
    const std::wstring_view name = std::wstring_view(strProgram).substr(strProgram.rfind(L'\\') + 1);
    return EqualsNoCaseAscii(name, L"msiexec") || EqualsNoCaseAscii(name, L"msiexec.exe");
}

// The folder of a program given by its full path.
std::wstring FolderOf(const std::wstring& strProgram) { return strProgram.substr(0, strProgram.rfind(L'\\')); }

// Whether only the administrators can change the program and every folder
// above it: nobody else can replace a level of its path, put a file beside
// it (a DLL it would load) or change the program itself. Read through
// handles, every level held while the program is looked at.
bool IsProgramOfAdministrators(const std::wstring& strProgram)
{
    constexpr ACCESS_MASK kReplacing = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;
    const std::wstring strFolder = FolderOf(strProgram);
    std::vector<CHandle> vecAbove;
    EFolderChain eChain;
    const CHandle hFolder = OpenFolderChain(strFolder, 0, eChain, &vecAbove, READ_CONTROL);
    FolderEntry entry;
    if (!hFolder.IsValid() ||
        !FindEntry(hFolder.Get(), std::wstring_view(strProgram).substr(strFolder.size() + 1), entry))
        return false;
    for (const CHandle& hLevel : vecAbove)
        if (!OnlyAdministratorsCan(hLevel.Get(), kReplacing))
            return false;
    const OpenedEntry program = OpenEntry(hFolder.Get(), entry, READ_CONTROL, FILE_SHARE_READ);
    return OnlyAdministratorsCan(hFolder.Get(), kReplacing | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY) &&
           program.eKind == EEntryKind::File &&
           OnlyAdministratorsCan(program.h.Get(), kReplacing | FILE_WRITE_DATA | FILE_APPEND_DATA);
}

// The system folder's msiexec.exe by its full path, started in the system
// folder: named by its bare name, the system's search would look beside this
// program and in the current folder first, where an unelevated process can
// plant an MsiExec.exe that would then run elevated. The command text keeps
// its usual first word.
DWORD RunWindowsInstaller(CInstallerSession& session, const std::wstring& strCommand, DWORD& dwExitCode)
{
    const std::wstring strSystem = GetSystemFolder();
    // Without the system folder there is no installer to trust: none runs.
    if (strSystem.empty())
        return ERROR_PATH_NOT_FOUND;
    // The Windows Installer runs one installation at a time; while another
    // one holds it (Windows Update, another installer), this run is tried
    // again after a pause, for a few minutes in all.
    for (const ULONGLONG tEnd = ::GetTickCount64() + kBusyWaitMs;;)
    {
        const DWORD dwStarted = session.Run(strSystem + L"\\msiexec.exe", strCommand, strSystem, dwExitCode);
        if (dwStarted != ERROR_SUCCESS || dwExitCode != ERROR_INSTALL_ALREADY_RUNNING || ::GetTickCount64() >= tEnd)
            return dwStarted;
        WriteLog(L"Another installation is in progress (1618): trying again in 5 s\r\n");
        ::Sleep(kBusyPauseMs);
    }
}
}

bool CInstallerSession::OpenLogFolder()
{
    // %TEMP% is the user's to set, to any folder, one that only the
    // administrators may change included, where the update would then make
    // its log folder: it is taken only where it lies below the user's profile.
    const std::wstring strTemp = GetTempFolder();
    const std::wstring strProfile = GetShellFolder(CSIDL_PROFILE);
    if (strTemp.size() < 4 || strProfile.empty() || strTemp.size() <= strProfile.size() + 1 ||
        ::CompareStringOrdinal(strTemp.c_str(), static_cast<int>(strProfile.size() + 1), (strProfile + L"\\").c_str(),
                               -1, TRUE) != CSTR_EQUAL)
        return false;
    EFolderChain eChain;
    CHandle hTemp = OpenFolderChain(strTemp.substr(0, strTemp.size() - 1), 0, eChain, &m_vecHeld);
    if (!hTemp.IsValid())
        return false;

    // VimoLog is made the update's own, for the administrators alone; the user
    // may read it.
    if (OpenOrMakeOwnFolder(hTemp.Get(), kLogFolderName, true, true, m_hLogFolder) != ERROR_SUCCESS)
        return false;
    m_vecHeld.push_back(std::move(hTemp));
    m_strLogFolder = strTemp + kLogFolderName;
    return true;
}

std::wstring CInstallerSession::GetInstallerLogPath()
{
    if (!m_bLogFolderTried)
    {
        m_bLogFolderTried = true;
        if (!OpenLogFolder())
        {
            m_vecHeld.clear();
            m_hLogFolder.Close();
            if (m_work.OpenSubFolder(kLogFolderName, m_hLogFolder, m_strLogFolder) == ERROR_SUCCESS)
                WriteLog(L"Installer logs in " + m_strLogFolder + L"\r\n");
        }
    }
    if (!m_hLogFolder.IsValid())
        return std::wstring();

    SYSTEMTIME st = {};
    g_pfnGetSystemTime(&st);
    const std::wstring strBase = L"VimoLumet" + FormatTimeStamp(st);
    for (unsigned n = 1; n <= kMaxLogsPerSecond; ++n)
    {
        std::wstring strName = strBase;
        if (n > 1)
            AppendNumber(strName += L'_', n);
        strName += L".log";
        CHandle hLog;
        const DWORD dwError = OpenRelative(m_hLogFolder.Get(), strName, GENERIC_WRITE, kShareAll, FILE_CREATE,
                                           FILE_NON_DIRECTORY_FILE, hLog);
        if (dwError == ERROR_SUCCESS)
            return m_strLogFolder + L"\\" + strName;
        if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS)
            break;
    }
    return std::wstring();
}

DWORD CInstallerSession::Run(const std::wstring& strApplication, const std::wstring& strCommandLine,
                             const std::wstring& strFolder, DWORD& dwExitCode)
{
    if (m_strEnvironment.empty())
    {
        CHandle hTemp;
        std::wstring strTemp;
        if (m_work.OpenSubFolder(kTempFolder, hTemp, strTemp) == ERROR_SUCCESS)
            m_strEnvironment = MakeMachineEnvironmentBlock({{L"TEMP", strTemp}, {L"TMP", strTemp}});
        // Without it nothing runs: the user's own environment is no stand-in.
        if (m_strEnvironment.empty())
            return ERROR_ENVVAR_NOT_FOUND;
    }
    const DWORD dwStarted =
        g_pfnRunCommandLine({strApplication, strCommandLine, strFolder, m_strEnvironment}, dwExitCode);
    if (dwStarted == ERROR_SUCCESS &&
        (dwExitCode == ERROR_SUCCESS_REBOOT_REQUIRED || dwExitCode == ERROR_SUCCESS_REBOOT_INITIATED))
        m_bRestartNeeded = true;
    return dwStarted;
}

void UninstallProduct(CInstallerSession& session, const wchar_t* pszUninstallCommand,
                      const std::wstring& strProductCode)
{
    // The outcome is never examined: the update goes on in the same way
    // whatever the removal did.
    DWORD dwExitCode = 0;
    // A command that names the Windows Installer, in whatever form (the /I
    // form opens its maintenance dialog), is replaced by a quiet removal of
    // the caller's product code; only that it names the installer is used.
    const std::wstring strProgram = pszUninstallCommand ? ProgramOf(pszUninstallCommand) : std::wstring();
    if (!pszUninstallCommand || IsWindowsInstaller(strProgram))
    {
        RunWindowsInstaller(session,
                            L"MsiExec.exe /X" + strProductCode + L" /quiet /norestart /lv " +
                                Quoted(session.GetInstallerLogPath()),
                            dwExitCode);
        return;
    }
    // Any other command comes from the application's uninstall entry, which
    // only administrators can write, and runs as stored, its program started
    // by the full path it names, in its own folder, where only they can
    // change anything. A program without a folder would be found by the
    // system's search, beside this program and in the current folder first:
    // such a command is not run. An empty one names no program.
    if (strProgram.empty())
        return;
    if (!IsFullPath(strProgram) || !IsProgramOfAdministrators(strProgram))
    {
        WriteLog(L"Uninstall command not run: " + std::wstring(pszUninstallCommand) + L"\r\n");
        return;
    }
    session.Run(strProgram, pszUninstallCommand, FolderOf(strProgram), dwExitCode);
}

bool IsInstalled(DWORD dwExitCode)
{
    return dwExitCode == ERROR_SUCCESS || dwExitCode == ERROR_SUCCESS_REBOOT_REQUIRED ||
           dwExitCode == ERROR_SUCCESS_REBOOT_INITIATED;
}

bool IsInstallerPackageName(std::wstring_view name) { return EqualsNoCaseAscii(LastChars(name, 3), L"MSI"); }

DWORD InstallPackage(CInstallerSession& session, const std::wstring& strPackagePath, const std::wstring& strInstallDir)
{
    DWORD dwExitCode = 0;
    DWORD dwStarted = ERROR_SUCCESS;
    // The package is named as the program to start and quoted in the command
    // line: otherwise, for C:\Setup Files\Vimo Setup.exe, the system would try
    // C:\Setup.exe and C:\Setup Files\Vimo.exe first, and the package would
    // get a split command line.
    if (!IsInstallerPackageName(strPackagePath))
        dwStarted = strPackagePath.empty() ? ERROR_FILE_NOT_FOUND
                                           : session.Run(strPackagePath, Quoted(strPackagePath) + L" /silent",
                                                         FolderOf(strPackagePath), dwExitCode);
    else
    {
        const std::wstring strLogPath = session.GetInstallerLogPath();
        const std::wstring strFolder = strInstallDir.empty() ? std::wstring(kDefaultInstallDir) : strInstallDir;
        dwStarted = RunWindowsInstaller(session,
                                        L"MsiExec.exe /i " + Quoted(strPackagePath) + L" INSTALLDIR=" +
                                            Quoted(strFolder) + L" /qn /norestart /lv " + Quoted(strLogPath),
                                        dwExitCode);
    }
    return dwStarted == ERROR_SUCCESS ? dwExitCode : dwStarted;
}
