#pragma once

#include "installer/PackageCheck.h"

#include <windows.h>

#include <string>

// The package of the last successful update, kept so that a later update
// whose install fails can put this release back: one per product code, in
// <common application data>\Vimo\LumetUpdate\<product code>, and recorded
// under the updater's own key (HKEY_LOCAL_MACHINE, SOFTWARE\Vimo\LumetUpdate\Kept
// and the product code: file name, size, SHA-256, and whether it is a Windows
// Installer package). Only administrators can write that key; the folder may
// not be theirs alone (a user may have made a level of it first), so the
// kept file is trusted by its record, never by where it lies.

// The updater's own key under HKEY_LOCAL_MACHINE.
constexpr wchar_t kUpdaterKey[] = L"SOFTWARE\\Vimo\\LumetUpdate";

// Keeps the installed package, the update's checked copy, for strProductCode,
// and forgets every package kept before, file and record. The folders are
// reached from the drive's root through handles and made, where missing, for
// the administrators alone; a link at any level is moved aside, never
// followed, and the file is made with FILE_CREATE. The record is written
// last, once the kept file is on disk and matches the copy. ERROR_SUCCESS, or
// why it was not kept.
DWORD KeepPackage(const CopiedFile& installed, const std::wstring& strProductCode, bool bInstallerPackage);

// Copies the Windows Installer package kept for strProductCode into the
// folder hFolder (strFolder its path), through handles, and checks the copy
// against the record: its size and SHA-256 must match. ERROR_SUCCESS with the
// copy in copy and the kept file's path in strKept; ERROR_NOT_FOUND when
// none is kept for the product (or only an installer program); otherwise
// why it cannot be used (a copy that does not match is deleted again).
DWORD CopyKeptPackage(const std::wstring& strProductCode, HANDLE hFolder, const std::wstring& strFolder,
                      CopiedFile& copy, std::wstring& strKept);
