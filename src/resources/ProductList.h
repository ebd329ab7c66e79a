#pragma once

#include <string>
#include <vector>

// One earlier release of the application that the update removes.
struct ProductEntry
{
    std::wstring strName;        // display name of the release
    std::wstring strReserved1;   // carries nothing
    std::wstring strProductCode; // Windows Installer product code, braced GUID
    std::wstring strReserved2;   // carries nothing
    std::wstring strReserved3;   // carries nothing
    std::wstring strReserved4;   // carries nothing
};

// The working object of an update worker thread: the releases to remove, read
// from the embedded Products document, and the operations of the update.
// COM must be initialised on the thread that makes it.
class ProductList
{
public:
    ProductList();
    ~ProductList();
    ProductList(const ProductList&) = delete;
    ProductList& operator=(const ProductList&) = delete;

    // Appends the entries of the Products document, one per child node of
    // each Product element, unfiltered.
    void LoadProducts();

    std::vector<ProductEntry> m_vecProducts;
    std::vector<std::wstring> m_vecFoundPaths; // shortcuts and start-menu entries found by the clean-up
    std::wstring m_strInstallPackage;          // package being installed, set by InstallPackage
};
