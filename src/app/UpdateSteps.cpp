#include "app/UpdateSteps.h"

#include "app/LumetUpdateDlg.h"
#include "resources/ProductList.h"

std::wstring CUpdateSteps::GetProductCode(ProductList& list) { return list.GetProductCode(); }
std::wstring CUpdateSteps::GetInstallLocation(ProductList& list) { return list.GetInstallLocation(); }
void CUpdateSteps::RemoveEarlierVersions(ProductList& list) { list.RemoveEarlierVersions(); }
std::wstring CUpdateSteps::GetUninstallString(ProductList& list) { return list.GetUninstallString(); }

void CUpdateSteps::UninstallProduct(ProductList& list, const wchar_t* pszUninstallCommand,
                                    const std::wstring& strProductCode)
{
    list.UninstallProduct(pszUninstallCommand, strProductCode);
}

void CUpdateSteps::InstallPackage(ProductList& list, const std::wstring& strPackagePath,
                                  const std::wstring& strInstallDir)
{
    list.InstallPackage(strPackagePath, strInstallDir);
}

void CUpdateSteps::LaunchApplication(CLumetUpdateDlg& dlg) { dlg.LaunchApplication(); }

CUpdateSteps& CUpdateSteps::Real()
{
    static CUpdateSteps steps;
    return steps;
}
