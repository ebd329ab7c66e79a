#pragma once

#include "win/Signature.h"
#include "win/WorkFolder.h"

#include <windows.h>

#include <string>
#include <string_view>

// The checks a package passes before anything is removed: the update must be
// able to finish, and must install exactly the package it checked. The
// package is copied through handles into a folder that only administrators
// can change, and everything after the copy (the checks, the installation)
// uses the copy.
//
// Each function returns ERROR_SUCCESS or a Win32 error code. A refusal has
// one code per reason, so that the caller can say what is wrong:
//
// | Reason                                  | Code                                    |
// |-----------------------------------------|-----------------------------------------|
// | no package given                        | 1639 ERROR_INVALID_COMMAND_LINE         |
// | not found                               |    2 ERROR_FILE_NOT_FOUND               |
// | not a full path                         |  161 ERROR_BAD_PATHNAME                 |
// | cannot be read: in use for writing, no  | 1619 ERROR_INSTALL_PACKAGE_OPEN_FAILED  |
// | access, a folder, link or device        |                                         |
// | not a valid Windows Installer package   | 1620 ERROR_INSTALL_PACKAGE_INVALID      |
// | files kept outside the package          | 1612 ERROR_INSTALL_SOURCE_ABSENT        |
// | no valid signature                      |  577 ERROR_INVALID_IMAGE_HASH           |
// | signed by another publisher             | 1625 ERROR_INSTALL_PACKAGE_REJECTED     |
//
// The Windows Installer's own codes where it has one with that meaning (the
// user reads the same text as from msiexec); 2 and 161 are the system's own
// for a missing file and a malformed path. Any other code is no fault of the
// package: the copy failed (the staging folder's volume is full, say), or the
// system's Windows Installer or signature functions could not be loaded
// (ERROR_PROC_NOT_FOUND).

// Whether the package argument has the shape the program accepts: a full
// path from a drive ("X:\...") or a share ("\\server\share\..."), naming a
// file below it, with no stream name, no wildcard and no device prefix
// ("\\?\", "\\.\"). 1639 when empty, 161 otherwise.
DWORD CheckPackagePath(std::wstring_view package);

// Copies the package strPackage (which passed CheckPackagePath) into the
// folder hFolder (open with FILE_ADD_FILE; strFolder is its full path)
// through handles: the package is
// opened once, on itself when it is a link, shared for reading only so that
// nobody writes it meanwhile, checked to be a regular file, and read through
// that handle to its end. The copy is made with FILE_CREATE under the
// package's own file name as the file system has it (a short 8.3 name or
// trailing dots in the argument do not carry over), and is deleted again when
// the copy fails. strCopy receives the copy's full path; it is left as it was
// on failure.
DWORD CopyPackage(const std::wstring& strPackage, HANDLE hFolder, const std::wstring& strFolder, std::wstring& strCopy);

// Checks a copied Windows Installer package: it must be a whole compound file
// that the Windows Installer opens as a package, and hold every file it
// installs: each cabinet embedded in it and present, no file kept
// uncompressed beside it, no nested installation from beside it. 1620 or
// 1612.
DWORD CheckInstallerPackage(const std::wstring& strCopy);

// Checks the signature of a copied package against the updater's own signer:
// none when ownSigner is empty (an unsigned updater checks nothing);
// otherwise the copy must carry a valid signature (577) by a signer with the
// same subject name (1625).
DWORD CheckPackageSigner(const std::wstring& strCopy, const CSignerName& ownSigner);

// The check as the update runs it, before anything is removed: the path, the
// copy into the Package folder of the run's own folder, the Windows Installer
// checks when the copy's name ends in "msi", and the signer against the
// updater's own, read meanwhile on a thread of its own (the system's first
// signature check in a process is the slow one).
// ERROR_SUCCESS with the copy's path in strCopy; otherwise the refusal's
// code, and the run's log says "Update refused: <reason>: <package>\r\n".
// An unsigned updater says in the log that it checks no publisher.
DWORD PreparePackage(const std::wstring& strPackage, CWorkFolder& work, std::wstring& strCopy);
