// Stands in for the installer runs while they are not yet in the tree (the
// build leaves this file out as soon as src/installer/InstallerRuns.cpp
// exists). It runs the quiet removal command, in the program's form, through
// the process runner, which is all that the removal of earlier releases
// relies on.

#include "installer/ProcessRunner.h"
#include "resources/ProductList.h"

#include <windows.h>

void ProductList::UninstallProduct(const wchar_t* /*pszUninstallCommand*/, const std::wstring& strProductCode)
{
    wchar_t szTemp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    g_pfnRunCommandLine(L"MsiExec.exe /X" + strProductCode + L" /quiet /lv \"" + szTemp +
                        L"VimoLog\\VimoLumet20260101_000000.log\"");
}
