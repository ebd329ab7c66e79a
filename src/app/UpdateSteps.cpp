#include "app/UpdateSteps.h"

#include "app/LumetUpdateDlg.h"
#include "resources/ProductList.h"

UpdateSteps g_updateSteps = {
    .pfnGetProductCode = [](ProductList& list) { return list.GetProductCode(); },
    .pfnGetInstallLocation = [](ProductList& list) { return list.GetInstallLocation(); },
    .pfnRemoveEarlierVersions = [](ProductList& list) { list.RemoveEarlierVersions(); },
    .pfnGetUninstallString = [](ProductList& list) { return list.GetUninstallString(); },
    .pfnUninstallProduct =
        [](ProductList& list, const wchar_t* pszUninstallCommand, const std::wstring& strProductCode) {
            list.UninstallProduct(pszUninstallCommand, strProductCode);
        },
    .pfnInstallPackage = [](ProductList& list, const std::wstring& strPackagePath,
                            const std::wstring& strInstallDir) { list.InstallPackage(strPackagePath, strInstallDir); },
    .pfnLaunchApplication = [](CLumetUpdateDlg& dlg) { dlg.LaunchApplication(); },
};
