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

    // --- Installed-product discovery (registry, read only) ---------------
    // Each reads the registry afresh and returns the empty string on every
    // failure. A product code that is not a braced GUID, and an install
    // location that holds a double quote or does not start with a drive
    // letter, a colon and a backslash, count as not found.
    std::wstring GetProductCode();
    std::wstring GetInstallLocation();
    std::wstring GetUninstallString();

    // --- Windows Installer runs ------------------------------------------
    // A new installer log path below the temporary folder (the folder is
    // created), or the empty string.
    std::wstring GetInstallerLogPath();
    // Removes one product and waits for the removal. pszUninstallCommand may
    // be null (no command: the quiet Windows Installer removal is used).
    void UninstallProduct(const wchar_t* pszUninstallCommand, const std::wstring& strProductCode);
    // Installs the package silently into strInstallDir (a default folder when
    // empty) and waits for it.
    void InstallPackage(const std::wstring& strPackagePath, const std::wstring& strInstallDir);

    // --- Removal of earlier releases and clean-up ------------------------
    void RemoveEarlierVersions();
    void RemoveLeftovers();
    void FindDesktopShortcuts();
    void CollectDesktopShortcuts(const std::wstring& strDesktopFolder);
    void CollectMakerEntries(const std::wstring& strMakerFolder);
    void FindStartMenuEntries();

    std::vector<ProductEntry> m_vecProducts;
    std::vector<std::wstring> m_vecFoundPaths; // shortcuts and start-menu entries found by the clean-up
    std::wstring m_strInstallPackage;          // package being installed, set by InstallPackage
};
