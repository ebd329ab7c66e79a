// Prepares an update as the updater does before it removes anything, for
// scripts/bench-package.sh: the package named first is copied and checked;
// with the installed release's product code after it, a restore package of
// that release is found, copied and checked meanwhile, on a thread of its
// own. The copies stay in the run's own folder for the script to remove.
// Exit code: the package check's, or 1 when no restore package was found.
#include "installer/PackageCheck.h"
#include "installer/RestorePackage.h"
#include "win/Com.h"
#include "win/WorkerThread.h"

namespace
{
struct Search
{
    std::wstring strInstalled;
    CWorkFolder* pWork;
    RestorePackage restore;
    bool bFound = false;
};
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || argc > 3)
        return 2;
    const CComInit com;
    CWorkFolder work;
    work.Create();
    Search search{argc == 3 ? argv[2] : L"", &work, {}};
    std::unique_ptr<CWorkerThread> pSearch;
    if (!search.strInstalled.empty())
    {
        pSearch = CWorkerThread::BeginSuspended(
            [](void* pParam) -> UINT {
                auto& s = *static_cast<Search*>(pParam);
                s.bFound = FindRestorePackage(s.strInstalled, *s.pWork, s.restore);
                return 0;
            },
            &search);
        if (!pSearch || !pSearch->Resume())
            return 3;
    }
    PreparedPackage prepared;
    const DWORD dwPrepared = PreparePackage(argv[1], search.strInstalled, work, prepared);
    pSearch.reset();
    if (dwPrepared != ERROR_SUCCESS || search.strInstalled.empty())
        return static_cast<int>(dwPrepared);
    return search.bFound ? 0 : 1;
}
