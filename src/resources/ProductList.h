#pragma once

#include <string>
#include <vector>

// One earlier release of the application that the update removes.
struct ProductEntry
{
    std::wstring strProductCode; // its Windows Installer product code, as the document holds it
};

// The earlier releases that the update removes, read from the Products
// document embedded in the program: one entry per child node of each
// Product element, in document order, unfiltered. COM must be initialised on
// the thread that makes it. A document that fails to load (logged) gives no
// entries.
class ProductList
{
public:
    ProductList();

    std::vector<ProductEntry> m_vecProducts;
};
