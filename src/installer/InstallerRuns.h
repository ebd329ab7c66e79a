#pragma once

#include <string>

// Removal and installation through the Windows Installer's command line,
// each run waited for without time-out. The installer's outcome is never
// examined: the update goes on in the same way whatever it did.

// A new installer log path below the temporary folder (the folder is
// created), or the empty string.
std::wstring GetInstallerLogPath();

// Removes one product and waits for the removal. pszUninstallCommand may be
// null (no command: the quiet Windows Installer removal is used).
void UninstallProduct(const wchar_t* pszUninstallCommand, const std::wstring& strProductCode);

// Installs the package silently into strInstallDir (a default folder when
// empty) and waits for it; a package that is not a Windows Installer package
// is run with /silent.
void InstallPackage(const std::wstring& strPackagePath, const std::wstring& strInstallDir);
