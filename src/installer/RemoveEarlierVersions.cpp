#include "resources/ProductList.h"

// Every listed release is removed, whether or not it is installed, one
// installer run after the other; a failed or needless run does not stop the
// loop. Then the leftovers are cleaned up, once.
void ProductList::RemoveEarlierVersions()
{
    const size_t nCount = m_vecProducts.size();
    for (size_t i = 0; i < nCount; ++i)
    {
        const ProductEntry entry = m_vecProducts[i];
        UninstallProduct(nullptr, entry.strProductCode);
    }
    RemoveLeftovers();
}
