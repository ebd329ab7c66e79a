#pragma once

#include "TestSupport.h"

#include <filesystem>
#include <string>

// A path outside the scratch folders (a profile, the data folder), removed
// with everything below it when the test ends.
struct PlantedPath
{
    std::wstring strPath;
    ~PlantedPath()
    {
        std::error_code ec;
        std::filesystem::remove_all(strPath, ec);
    }
};
