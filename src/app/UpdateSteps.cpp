#include "app/UpdateSteps.h"

#include "app/LumetUpdateDlg.h"
#include "resources/ProductList.h"

namespace
{
std::wstring GetProductCode(ProductList& list) { return list.GetProductCode(); }
std::wstring GetInstallLocation(ProductList& list) { return list.GetInstallLocation(); }
void RemoveEarlierVersions(ProductList& list) { list.RemoveEarlierVersions(); }
std::wstring GetUninstallString(ProductList& list) { return list.GetUninstallString(); }

void UninstallProduct(ProductList& list, const wchar_t* pszUninstallCommand, const std::wstring& strProductCode)
{
    list.UninstallProduct(pszUninstallCommand, strProductCode);
}

void InstallPackage(ProductList& list, const std::wstring& strPackagePath, const std::wstring& strInstallDir)
{
    list.InstallPackage(strPackagePath, strInstallDir);
}

void LaunchApplication(CLumetUpdateDlg& dlg) { dlg.LaunchApplication(); }
}

constinit UpdateSteps g_updateSteps = {
    .pfnGetProductCode = &GetProductCode,
    .pfnGetInstallLocation = &GetInstallLocation,
    .pfnRemoveEarlierVersions = &RemoveEarlierVersions,
    .pfnGetUninstallString = &GetUninstallString,
    .pfnUninstallProduct = &UninstallProduct,
    .pfnInstallPackage = &InstallPackage,
    .pfnLaunchApplication = &LaunchApplication,
};
