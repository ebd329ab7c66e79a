// Empties the folder named on the command line with the updater's own folder
// removal, for scripts/bench-cleanup.sh. Exit code 0 when the removal ran.
#include "cleanup/FolderRemover.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    CWorkFolder work;
    const bool bRan = CFolderRemover(work).DeleteFolderContents(argv[1]);
    work.Finish(false);
    return bRan ? 0 : 1;
}
