#pragma once

#include "win/Hash.h"

#include <windows.h>

#include <string_view>

// Copies what hSource is open on (for reading, from its start) into a new
// file called name in the folder hFolder (open with FILE_ADD_FILE), through
// handles: the copy is made with FILE_CREATE, which fails on anything already
// there, and is shared with nobody while it is written. What is copied is
// hashed on the way and the copy is flushed to disk before it is closed. The
// source must hold as many bytes as its size said when the copy began. A
// copy that fails is deleted again. This is the one way the update copies a
// file into its package cache. ERROR_SUCCESS with the copy's digest in digest
// (left as it was on failure); ERROR_READ_FAULT when the source could not be
// read or its size changed; otherwise why the copy could not be made or
// written.
DWORD CopyIntoFolder(HANDLE hSource, HANDLE hFolder, std::wstring_view name, Sha256& digest);

// The digest of what h is open on (for reading), read from its start.
// ERROR_READ_FAULT when it cannot be read to its end.
DWORD HashFile(HANDLE h, Sha256& digest);
