#pragma once

#include "installer/InstallerRuns.h"
#include "resources/ProductList.h"

// Removes every listed release, whether or not it is installed, one quiet
// installer run after the other, in list order; a failed or needless run
// does not stop the loop.
void RemoveEarlierVersions(CInstallerSession& session, const ProductList& list);
