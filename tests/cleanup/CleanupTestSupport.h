#pragma once

#include "TestSupport.h"

#include <filesystem>
#include <string>

// A file with the folders above it.
inline void PlantFile(const std::wstring& strPath)
{
    MakeFolders(std::filesystem::path(strPath).parent_path().wstring());
    WriteBytes(strPath, "planted");
}

// A path outside the scratch folders (a profile, the data folder), removed
// with everything below it when the test ends.
struct PlantedPath
{
    std::wstring strPath;
    ~PlantedPath() { std::error_code ec; std::filesystem::remove_all(strPath, ec); }
};
