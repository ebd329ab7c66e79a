#include "resources/ProductList.h"

#include "resources/EmbeddedXml.h"

ProductList::ProductList()
{
    CEmbeddedXml document;
    // A document that fails to load has no items, and the list stays empty.
    document.LoadProductResource();
    for (const XmlItem& item : document.Items())
        m_vecProducts.push_back(ProductEntry{item.strText});
}
