#pragma once

#include "installer/PackageCheck.h"
#include "win/WorkFolder.h"

#include <string>

// A way back for an update whose install fails: a whole Windows Installer
// package of the installed release, copied into the run's own folder before
// anything is removed, and where it came from.
struct RestorePackage
{
    CopiedFile copy;
    std::wstring strFrom;
};

// Finds the installed release's package (strInstalledCode, as the maker's
// installer key names it) and copies it into the Restore folder of the run's
// own folder, through handles. The candidates, in this order: the package
// this updater kept after its last successful update (KeptPackages.h), the
// installed product's own install source, and the Windows Installer's cached
// package. A candidate counts only if its copy passes the checks of a new
// package (whole, every cabinet embedded, the updater's publisher when the
// updater is signed) and its product code is the installed product's.
// Windows strips the cabinets from its cached packages, so that one is
// expected to fail there. The run's log says "Restore package: <where it
// came from>\r\n" or "No restore package: <reason>\r\n". False when there is
// none; restore is left as it was then.
bool FindRestorePackage(const std::wstring& strInstalledCode, CWorkFolder& work, RestorePackage& restore);
