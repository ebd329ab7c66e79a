#pragma once

#include <windows.h>

#include <string>

// Whether the path names an existing folder (a link to a folder counts).
inline bool IsFolder(const std::wstring& strPath)
{
    const DWORD dwAttributes = strPath.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
