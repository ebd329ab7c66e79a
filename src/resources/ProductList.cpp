#include "resources/ProductList.h"

#include "resources/MultiLanguage.h"

ProductList::ProductList() { LoadProducts(); }

ProductList::~ProductList() { m_vecProducts.clear(); }

void ProductList::LoadProducts()
{
    CMultiLanguage document;
    // A document that fails to load has no items, and the list stays empty.
    document.LoadProductResource();

    std::vector<XmlItem> items;
    document.CopyItems(items);
    for (const XmlItem& item : items)
    {
        ProductEntry entry;
        entry.strName = item.strKey;
        entry.strProductCode = item.strText;
        m_vecProducts.push_back(entry);
    }
}
