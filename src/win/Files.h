#pragma once

#include "win/FileHandles.h" // FolderEntry

#include <string>
#include <vector>

// File work by path, for what the program only looks at and records; what it
// deletes or writes goes through handles (win/FileHandles.h,
// win/FileDisposition.h).

// Whether the path names an existing folder (a link to a folder counts).
bool IsFolder(const std::wstring& strPath);

// The entries that a search for strPattern ("<folder>\*.*") finds, without
// "." and "..", in the platform's order, with their names and attributes
// only. None when the search cannot be opened (a missing folder, no access).
std::vector<FolderEntry> FindEntries(const std::wstring& strPattern);
