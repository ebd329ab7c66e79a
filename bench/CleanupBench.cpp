// Empties the folder named on the command line with the updater's own folder
// removal, for scripts/bench-cleanup.sh. Exit code 0 when the removal ran.
#include "cleanup/FolderRemover.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    return CFolderRemover().DeleteFolderContents(argv[1]) ? 0 : 1;
}
