#pragma once

#include <string>

class CLumetUpdateDlg;
class ProductList;

// The steps that the two update phases run, in their order. The program runs
// the real steps; tests put recorders in their place to watch the sequence
// without real installers.
class CUpdateSteps
{
public:
    virtual ~CUpdateSteps() = default;

    virtual std::wstring GetProductCode(ProductList& list);
    virtual std::wstring GetInstallLocation(ProductList& list);
    virtual void RemoveEarlierVersions(ProductList& list);
    virtual std::wstring GetUninstallString(ProductList& list);
    virtual void UninstallProduct(ProductList& list, const wchar_t* pszUninstallCommand,
                                  const std::wstring& strProductCode);
    virtual void InstallPackage(ProductList& list, const std::wstring& strPackagePath,
                                const std::wstring& strInstallDir);
    virtual void LaunchApplication(CLumetUpdateDlg& dlg);

    // The real steps, shared by every dialog.
    static CUpdateSteps& Real();
};
