#include "installer/RemoveEarlierVersions.h"

#include "installer/InstallerRuns.h"

void RemoveEarlierVersions(const ProductList& list)
{
    for (const ProductEntry& entry : list.m_vecProducts)
        UninstallProduct(nullptr, entry.strProductCode);
}
