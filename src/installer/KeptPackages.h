#pragma once

#include "installer/PackageCheck.h"
#include "win/ScopedHandle.h"

#include <windows.h>

#include <string>
#include <vector>

// The package the installed release was installed from, kept where the update
// installed it, in its package cache (win/PackageCache.h): the installed
// product's install source, which a repair or a change of features reads, and
// the way back for a later update whose install fails. One per product code,
// recorded under the updater's own key (HKEY_LOCAL_MACHINE,
// SOFTWARE\Vimo\LumetUpdate\Kept and the product code: its path in the cache,
// size, SHA-256, and whether it is a Windows Installer package). Only
// administrators can write that key, and what is kept is trusted by its
// record: every use checks the file against it.

// Records installed, a checked copy in the cache that is now installed, as the
// package of strProductCode, and forgets every other package kept before
// (their files go with their run folders, which the update prunes).
// ERROR_SUCCESS, or why it was not kept: ERROR_PATH_NOT_FOUND for a file
// outside the cache.
DWORD KeepPackage(const CopiedFile& installed, const std::wstring& strProductCode, bool bInstallerPackage);

// Finds the Windows Installer package kept for strProductCode, checks it
// against its record (size and SHA-256) through handles from the drive's
// root, and holds it in hHeld, unwritable while held. ERROR_SUCCESS with its
// path and digest in kept; ERROR_NOT_FOUND when none is kept for the product
// (or only an installer program); ERROR_INVALID_DATA when the file is not
// what was recorded.
DWORD OpenKeptPackage(const std::wstring& strProductCode, CopiedFile& kept, CHandle& hHeld);

// The run folders (their GUIDs) that hold the kept package of a product that
// is installed; the record of a product no longer installed goes.
std::vector<std::wstring> KeptRunFolders();
