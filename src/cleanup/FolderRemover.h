#pragma once

#include "win/FolderWalk.h"
#include "win/WorkFolder.h"

#include <string>

// Deletes folder trees as far as the platform lets it now. The data folder
// lies under ProgramData, where ordinary users create and own entries, and
// this program runs elevated, so every folder is opened once, listed and
// emptied through its handle, and each entry is opened relative to it and
// deleted through its own handle (win/FileHandles.h, win/FileDisposition.h):
// an entry swapped for a link after it was listed is not followed.
//
// Links (junctions, symbolic links, mount points) are never entered: a link
// is deleted as a link through a handle on the link itself, and where the
// platform gives no such handle it stays. Other reparse points are ordinary
// files and folders. Read-only files are deleted like any other.
//
// A file that cannot be deleted now but can be moved (a program image in
// use) and has no other name is opened again without sharing, made the
// administrators' (owner and a protected access list, through its handle), moved into the run's own
// folder (win/WorkFolder.h), which only administrators and SYSTEM can
// change, and that path is handed to the platform for deletion at the next
// restart. No path that another user could redirect before the restart is
// ever handed over, and nothing handed over still belongs to them. Folders
// and links are never handed over. What can be neither deleted nor moved
// (held open without delete sharing, on another volume than the Windows
// folder, not to be made the administrators', or a file with more than one
// name), an entry that changed
// between its folder's listing and its opening, a link that cannot be
// deleted as a link, a folder that cannot be deleted, and a folder deeper
// than the walk goes (win/FolderWalk.h) stay where they are and are named in
// the log as "Left in place: <path>\r\n"; a folder that stays only because
// something in it stays is not named.
class CFolderRemover
{
public:
    // What cannot be deleted now goes to the restart through work, the
    // run's own folder. No folder deeper than nMaxDepth below the one
    // emptied is entered.
    explicit CFolderRemover(CWorkFolder& work, size_t nMaxDepth = kMaxWalkDepth) : m_work(work), m_nMaxDepth(nMaxDepth)
    {}

    // Deletes everything inside strFolder but keeps the folder itself, except
    // files whose full path below strFolder's sub-folders holds the log
    // marker "VimoLog_LumetUpdate_" (they stay, and so do the folders that
    // hold them, neither named in the log nor handed over); files directly
    // inside strFolder go whatever their names. Returns false, touching
    // nothing, for the program-files folders of any drive, for a drive root
    // or empty path, and for a path that is, or lies below, a link; true
    // otherwise. A folder that is missing, not on a drive letter ("X:\..."),
    // or cannot be listed is left as it is.
    bool DeleteFolderContents(const std::wstring& strFolder);

private:
    CWorkFolder& m_work;
    size_t m_nMaxDepth;
};
