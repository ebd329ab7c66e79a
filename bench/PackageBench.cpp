// Prepares an update as the updater does before it removes anything, for
// scripts/bench-package.sh: the package named first is copied and checked;
// with the installed release's product code after it, a restore package of
// that release is then found, copied and checked. The copies stay in the
// run's own folder for the script to remove.
// Exit code: the package check's, or 1 when no restore package was found.
// With "/hash <file> own|system" it only hashes the file, by the program's
// own hashing or the system's, and exits 0 once done.
#include "installer/PackageCheck.h"
#include "installer/RestorePackage.h"
#include "win/Com.h"
#include "win/FileCopy.h"

#include <string_view>

namespace
{
int Hash(const wchar_t* pszFile, bool bSystem)
{
    const CHandle hFile(::CreateFileW(pszFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<BYTE> buffer(1 << 20);
    CSha256 hash(bSystem ? EHashPath::System : EHashPath::Fastest);
    DWORD cbRead = 0;
    while (hFile.IsValid() && ::ReadFile(hFile.Get(), buffer.data(), 1 << 20, &cbRead, nullptr) && cbRead > 0)
        hash.Add(buffer.data(), cbRead);
    Sha256 digest = {};
    return hFile.IsValid() && hash.Finish(digest) ? 0 : 1;
}
}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && std::wstring_view(argv[1]) == L"/hash")
        return Hash(argv[2], std::wstring_view(argv[3]) == L"system");
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
