#include "installer/RemoveEarlierVersions.h"

void RemoveEarlierVersions(CInstallerSession& session, const ProductList& list)
{
    for (const ProductEntry& entry : list.m_vecProducts)
        UninstallProduct(session, nullptr, entry.strProductCode);
}
