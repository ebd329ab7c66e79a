#pragma once

#include "installer/MsiPackage.h"
#include "win/Hash.h"
#include "win/Signature.h"
#include "win/WorkFolder.h"

#include <windows.h>

#include <string>
#include <string_view>

// The checks a package passes before anything is removed: the update must be
// able to finish, and must install exactly the package it checked, of the
// publisher, the product and no older release than what is installed. The
// package is copied through handles into a folder that only administrators
// can change, and everything after the copy (the checks, the installation)
// uses the copy.
//
// Each function returns ERROR_SUCCESS or a Win32 error code. A refusal has
// one code per reason, so that the caller can say what is wrong: the Windows
// Installer's own codes where it has one with that meaning (the user reads the
// same text as from msiexec); 2 and 161 are the system's own for a missing
// file and a malformed path. The last three say that the update cannot check
// a package at all, whatever the package. kRefusals is the one list of them:
// the check returns their codes, the log writes their reasons
// ("Update refused: <reason>: <package>"), the update's exit code passes them
// on.
struct Refusal
{
    DWORD dwCode;
    const wchar_t* pszReason;
};
constexpr Refusal kRefusals[] = {
    {ERROR_INVALID_COMMAND_LINE, L"no package given"},
    {ERROR_FILE_NOT_FOUND, L"not found"},
    {ERROR_BAD_PATHNAME, L"not a full path"},
    // in use for writing, no access, a folder, link or device
    {ERROR_INSTALL_PACKAGE_OPEN_FAILED, L"cannot be read"},
    {ERROR_INSTALL_PACKAGE_INVALID, L"not a valid Windows Installer package"},
    {ERROR_INSTALL_SOURCE_ABSENT, L"files outside the package"},
    {kErrorInvalidImageHash, L"no valid signature"},
    {ERROR_INSTALL_PACKAGE_REJECTED, L"signed by another publisher"},
    {ERROR_PRODUCT_VERSION, L"older than the installed release"},
    {ERROR_PATCH_TARGET_NOT_FOUND, L"another product than the installed one"},
    {ERROR_INSTALL_ALREADY_RUNNING, L"another update is in progress"},
    {ERROR_INSTALL_TEMP_UNWRITABLE, L"the run's own folder or record cannot be made or written"},
    {ERROR_PROC_NOT_FOUND, L"the system's installer or signature functions are missing"},
};

// The reason of a refusal's code; null for a code that is none.
const wchar_t* ReasonOfRefusal(DWORD dwCode);

// Whether the code is one of the refusals above, which say that nothing was
// changed. After the removals, an install that ends with one of them is an
// install that failed; 1618 is left out: an install that another
// installation held too long ends with it too, and says so.
bool IsRefusalCode(DWORD dwCode);

// Whether the package argument has the shape the program accepts: a full
// path from a drive ("X:\...") or a share ("\\server\share\..."), naming a
// file below it, with no stream name, no wildcard and no device prefix
// ("\\?\", "\\.\"). 1639 when empty, 161 otherwise.
DWORD CheckPackagePath(std::wstring_view package);

// A copy the update made of a file, in a folder of its own, and its digest.
struct CopiedFile
{
    std::wstring strPath;
    Sha256 digest = {};
};

// Copies the file strPackage (a full path) into the folder hFolder (open with
// FILE_ADD_FILE; strFolder is its full path) through handles: the file is
// opened once, on itself when it is a link, shared for reading only so that
// nobody writes it meanwhile, checked to be a regular file, and read through
// that handle to its end (win/FileCopy.h). The copy keeps the file's own name
// as the file system has it (a short 8.3 name or trailing dots in the
// argument do not carry over). copy receives the copy's path and digest; it
// is left as it was on failure: 2, 161 or 1619 for the file, otherwise why
// the copy could not be made or written.
DWORD CopyPackage(const std::wstring& strPackage, HANDLE hFolder, const std::wstring& strFolder, CopiedFile& copy);

// Checks the signature of a copied package against the updater's own signer:
// none when own is empty (an unsigned updater checks nothing); otherwise the
// copy must carry a valid signature whose chain the machine trusts (577; an
// installer program must hold nothing in its certificate table but that
// signature), by the updater's publisher (1625). bRevocationChecked says
// whether the signer's certificates could be checked for revocation.
DWORD CheckPackageSigner(const std::wstring& strCopy, const Signer& own, bool& bRevocationChecked);

// Checks that a Windows Installer package is a release of the installed
// product (strInstalledCode, from the maker's installer key) and no older:
// its upgrade code lists the installed product (1642), and its version is not
// lower than the installed one (1638). Where the Windows Installer knows no
// installed product of that code there is nothing to compare: bCompared says
// whether there was.
DWORD CheckRelease(const PackageIdentity& package, const std::wstring& strInstalledCode, bool& bCompared);

// The new package, once it has passed its checks: its copy and, for a
// Windows Installer package, which release it is (empty for an installer
// program).
struct PreparedPackage
{
    CopiedFile copy;
    PackageIdentity identity;
    Signer own; // the updater's own signer, as the check read it: empty when unsigned
};

// The check as the update runs it, before anything is removed: the path (a
// package that is not there makes no folder), the copy into the Package
// folder of the run's own folder, the signer against the updater's own (read
// meanwhile on a thread of its own, which also opens the certificate stores),
// then, for a copy whose name ends in "msi", the Windows Installer checks and
// the release against the installed product strInstalledCode. No Windows Installer code reads the copy before its
// signer has been checked.
// ERROR_SUCCESS with the package in prepared, and the run's log says what was
// not checked ("No publisher checked: ..." from an unsigned updater,
// "Revocation not checked: <package>", "Release not compared: <reason>");
// otherwise the refusal's code, and the log says only "Update refused:
// <reason>: <package>\r\n".
DWORD PreparePackage(const std::wstring& strPackage, const std::wstring& strInstalledCode, CWorkFolder& work,
                     PreparedPackage& prepared);
