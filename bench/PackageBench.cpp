// Prepares an update as the updater does before it removes anything, for
// scripts/bench-package.sh: the package named first is copied and checked;
// with the installed release's product code after it, a restore package of
// that release is then found, copied and checked. The copies stay in the
// run's own folder for the script to remove.
// Exit code: the package check's, or 1 when no restore package was found.
#include "installer/PackageCheck.h"
#include "installer/RestorePackage.h"
#include "win/Com.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || argc > 3)
        return 2;
    const CComInit com;
    CWorkFolder work;
    const std::wstring strInstalled = argc == 3 ? argv[2] : L"";
    PreparedPackage prepared;
    const DWORD dwPrepared = PreparePackage(argv[1], strInstalled, work, prepared);
    if (dwPrepared != ERROR_SUCCESS || strInstalled.empty())
        return static_cast<int>(dwPrepared);
    RestorePackage restore;
    return FindRestorePackage(strInstalled, prepared.own, work, restore) ? 0 : 1;
}
