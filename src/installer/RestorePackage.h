#pragma once

#include "installer/PackageCheck.h"
#include "win/WorkFolder.h"

#include <string>

// A way back for an update whose install fails: a whole Windows Installer
// package of the installed release, in the update's package cache before
// anything is removed, and where it came from.
struct RestorePackage
{
    CopiedFile copy;
    std::wstring strFrom;
    std::wstring strWhyNone; // when there is none
};

// Finds the installed release's package (strInstalledCode, as the maker's
// installer key names it). The candidates, in this order: the package this
// updater installed it from, kept in its cache (KeptPackages.h), used where it
// lies; the installed product's own install source, and the Windows
// Installer's cached package, each copied through handles into the Restore
// folder of the run's own folder. A candidate counts only if it (for one from
// elsewhere, its copy) passes the checks of a new package (whole, every
// cabinet embedded, the updater's publisher, own, when the updater is signed)
// and its product code is the installed product's.
// Windows strips the cabinets from its cached packages, so that one is
// expected to fail there. Looked for only once the new package has passed
// its checks. Writes nothing to the log: false when there is none, with only
// restore.strWhyNone set, the reason.
bool FindRestorePackage(const std::wstring& strInstalledCode, const Signer& own, CWorkFolder& work,
                        RestorePackage& restore);
