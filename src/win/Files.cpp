#include "win/Files.h"

#include "win/ScopedHandle.h"

#include <string_view>

bool IsFolder(const std::wstring& strPath)
{
    const DWORD dwAttributes = strPath.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<FolderEntry> FindEntries(const std::wstring& strPattern)
{
    std::vector<FolderEntry> vecEntries;
    WIN32_FIND_DATAW fd = {};
    const CFindHandle hFind(::FindFirstFileW(strPattern.c_str(), &fd));
    if (!hFind.IsValid())
        return vecEntries;
    do
    {
        const std::wstring_view name(fd.cFileName);
        if (name == L"." || name == L"..")
            continue;
        FolderEntry entry;
        entry.strName = name;
        entry.dwAttributes = fd.dwFileAttributes;
        vecEntries.push_back(std::move(entry));
    } while (::FindNextFileW(hFind.Get(), &fd));
    return vecEntries;
}
