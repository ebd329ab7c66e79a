#pragma once

#include <string>

class CLumetUpdateDlg;
class ProductList;

// The steps that the two update phases run, in their order. The program keeps
// the real steps; tests swap the whole set to watch the sequence without real
// installers.
// Function pointers, like every seam of the program: the others sit at the
// bottom (clock, registry read, command runner), where there is no object to
// hang a virtual on.
struct UpdateSteps
{
    std::wstring (*pfnGetProductCode)(ProductList& list);
    std::wstring (*pfnGetInstallLocation)(ProductList& list);
    void (*pfnRemoveEarlierVersions)(ProductList& list);
    std::wstring (*pfnGetUninstallString)(ProductList& list);
    void (*pfnUninstallProduct)(ProductList& list, const wchar_t* pszUninstallCommand,
                                const std::wstring& strProductCode);
    void (*pfnInstallPackage)(ProductList& list, const std::wstring& strPackagePath, const std::wstring& strInstallDir);
    void (*pfnLaunchApplication)(CLumetUpdateDlg& dlg);
};

extern UpdateSteps g_updateSteps;
