#pragma once

#include "win/FileHandles.h"

#include <string>

// The deepest a walk goes below the folder it starts in unless told
// otherwise: a folder deeper than this is not entered. Far deeper than any
// real tree, and bounded, so that a walk holds a bounded number of handles.
constexpr size_t kMaxWalkDepth = 1024;

// A walk through the folder tree below one folder, through handles: each
// folder is listed once through its handle, and its entries are handed to
// OnEntry in listing order; a folder that OnEntry opens and enters is walked
// next, and handed to OnFolderWalked when everything below it has been
// visited. The walk keeps its own stack, one open handle per level, instead
// of recursing, so that no tree that anyone can make is too deep for the
// thread's stack.
class CFolderWalk
{
public:
    explicit CFolderWalk(size_t nMaxDepth = kMaxWalkDepth) : m_nMaxDepth(nMaxDepth) {}
    virtual ~CFolderWalk() = default;

    // Walks below the folder open as hRoot (with FILE_LIST_DIRECTORY), whose
    // path is strRootPath (for what the walk names). Returns whether
    // something below it stays, as the steps said.
    bool Walk(HANDLE hRoot, const std::wstring& strRootPath);

protected:
    // What becomes of one entry: a folder to enter (opened with at least
    // FILE_LIST_DIRECTORY), or an entry that stays or not.
    struct Step
    {
        OpenedEntry opened; // entered when bEnter; otherwise done with
        bool bEnter = false;
        bool bStays = false;
    };

    // An entry of the folder hFolder, found at strPath, nDepth levels below
    // the root (its entries are at depth 1).
    virtual Step OnEntry(HANDLE hFolder, const FolderEntry& entry, const std::wstring& strPath, size_t nDepth) = 0;

    // A folder that OnEntry entered, once everything below it has been
    // visited; bInnerStays tells whether something in it stays. Returns
    // whether the folder itself stays.
    virtual bool OnFolderWalked(OpenedEntry& opened, const std::wstring& strPath, bool bInnerStays) = 0;

    // A folder that could not be listed to its end, or that lies deeper than
    // the walk's depth limit and is not entered: what is in it stays.
    virtual void OnNotWalked(const std::wstring& strPath) = 0;

private:
    size_t m_nMaxDepth;
};
