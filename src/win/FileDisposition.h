#pragma once

#include "win/FileHandles.h"

#include <windows.h>

#include <string_view>

// Deleting and moving through handles that win/FileHandles.h opened: the
// object that was checked is the one that goes, whatever its name has
// become since.
//
// Functions return a Win32 error code, ERROR_SUCCESS meaning success.

// Deletes what h is open on (opened with DELETE): with POSIX semantics where
// the platform has them, so that the name goes at once; a read-only file
// only when bEvenReadOnly. Where only the plain disposition exists, a
// read-only file's attribute is then cleared through h first (h needs
// FILE_WRITE_ATTRIBUTES) and put back when the deletion fails. dwAttributes
// are the attributes h reports.
DWORD DeleteByHandle(HANDLE h, DWORD dwAttributes, bool bEvenReadOnly);

// Deletes a listed entry of hFolder that OpenEntry opened (with DELETE),
// read-only files included. Only where the platform lacks the disposition
// that ignores the read-only attribute is the entry opened once more, with
// the right to clear that attribute, and checked against the listing again.
DWORD DeleteEntry(HANDLE hFolder, const FolderEntry& entry, const OpenedEntry& opened);

// Moves what h is open on (opened with DELETE) into the folder hFolder under
// name, which must not exist there yet. Only within one volume.
DWORD MoveByHandle(HANDLE h, HANDLE hFolder, std::wstring_view name);
