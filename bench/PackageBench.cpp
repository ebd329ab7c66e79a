// Checks and copies the package named on the command line as the updater
// does before it removes anything, for scripts/bench-package.sh; the copy
// stays in the run's own folder for the script to remove. Exit code: the
// check's.
#include "installer/PackageCheck.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    CWorkFolder work;
    PreparedPackage prepared;
    return static_cast<int>(PreparePackage(argv[1], L"", work, prepared));
}
