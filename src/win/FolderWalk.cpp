#include "win/FolderWalk.h"

#include <vector>

namespace
{
// One level of the walk: a folder being listed, and how far.
struct Level
{
    OpenedEntry folder; // no handle for the root, which the caller holds
    std::vector<FolderEntry> vecEntries;
    size_t nNext = 0;
    size_t cchPath = 0; // length of the folder's path
    bool bInnerStays = false;
};
}

bool CFolderWalk::Walk(HANDLE hRoot, const std::wstring& strRootPath)
{
    std::wstring strPath = strRootPath;
    std::vector<Level> vecLevels(1);
    vecLevels[0].cchPath = strPath.size();
    if (!ListFolder(hRoot, vecLevels[0].vecEntries))
    {
        OnNotWalked(strPath);
        vecLevels[0].bInnerStays = true;
    }

    for (;;)
    {
        Level& level = vecLevels.back();
        const HANDLE hFolder = vecLevels.size() == 1 ? hRoot : level.folder.h.Get();
        if (level.nNext == level.vecEntries.size())
        {
            if (vecLevels.size() == 1)
                return level.bInnerStays;
            strPath.resize(level.cchPath);
            const bool bStays = OnFolderWalked(level.folder, strPath, level.bInnerStays);
            vecLevels.pop_back();
            vecLevels.back().bInnerStays |= bStays;
            continue;
        }

        const FolderEntry& entry = level.vecEntries[level.nNext++];
        strPath.resize(level.cchPath);
        strPath += L'\\';
        strPath += entry.strName;
        const size_t nDepth = vecLevels.size();
        Step step = OnEntry(hFolder, entry, strPath, nDepth);
        if (!step.bEnter)
        {
            level.bInnerStays |= step.bStays;
            continue;
        }
        if (nDepth > m_nMaxDepth)
        {
            OnNotWalked(strPath);
            level.bInnerStays = true;
            continue;
        }
        Level inner;
        inner.cchPath = strPath.size();
        if (!ListFolder(step.opened.h.Get(), inner.vecEntries))
        {
            OnNotWalked(strPath);
            inner.bInnerStays = true;
        }
        inner.folder = std::move(step.opened);
        vecLevels.push_back(std::move(inner)); // level is not used after this
    }
}
