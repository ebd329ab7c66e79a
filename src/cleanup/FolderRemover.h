#pragma once

#include <string>

// Deletes folder trees as far as the platform lets it now, and hands what is
// locked or in use to the platform for deletion at the next restart.
//
// Links (junctions, symbolic links, mount points: every entry that carries a
// reparse point) are never entered: the link itself is removed and its target
// is left exactly as it was. The data folder lies under ProgramData, where
// ordinary users can create entries, and this program runs elevated; following
// a planted link would delete whatever it points to. A link that cannot be
// removed as a link stays, and is never handed over for deletion at restart,
// since that deletion might follow it.
class CFolderRemover
{
public:
    static constexpr int kNothingHandedOver = 0;
    static constexpr int kRefused = 1;
    static constexpr int kHandedOver = 2;

    // Deletes everything inside strFolder but keeps the folder itself. Files
    // directly inside it are deleted whatever their names; sub-folders go
    // through DeleteFolderTree. Returns kRefused, touching nothing, for the
    // program-files folders of any drive, for a drive root or empty path, and
    // for a path that is, or lies below, a link; otherwise
    // kNothingHandedOver. A folder that cannot be listed is left as it is.
    int DeleteFolderContents(const std::wstring& strFolder);

    // Removes strFolder with everything below it, except files whose full
    // path holds the log marker "VimoLog_LumetUpdate_" (and so the folders
    // that hold them). Returns kHandedOver when anything, the folder itself
    // included, was handed over for deletion at restart, else
    // kNothingHandedOver. When strFolder is itself a link, only the link is
    // removed. A drive root or empty path is not touched.
    int DeleteFolderTree(std::wstring strFolder);
};
