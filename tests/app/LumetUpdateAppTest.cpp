#include "app/LumetUpdateApp.h"

#include <gtest/gtest.h>

namespace
{
TEST(StartUp, PackagePathIsTheFirstArgumentAfterTheProgram)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"\"C:\\Lumet Update\\LumetUpdate.exe\" \"C:\\My Packages\\new 5.msi\"", L"C:\\My Packages\\new 5.msi"},
        {L"LumetUpdate.exe C:\\a.msi C:\\b.msi", L"C:\\a.msi"},
        {L"LumetUpdate.exe   new.msi  ", L"new.msi"},
        {L"LumetUpdate.exe \"\" C:\\b.msi", L""},
        {L"LumetUpdate.exe", L""},
    };
    for (const auto& [pszCommandLine, pszPackage] : cases)
        EXPECT_EQ(GetPackagePathFromCommandLine(pszCommandLine), pszPackage);
}

TEST(StartUp, DllBesideTheProgramNoLongerLoadsByName)
{
    // Found in the program's folder when that is searched...
    HMODULE hBeside = ::LoadLibraryExW(L"lumet_beside.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    ASSERT_NE(hBeside, nullptr);
    ::FreeLibrary(hBeside);
    // ...but not by its bare name once start-up has narrowed the search.
    RestrictDllSearchToSystemFolder();
    EXPECT_EQ(::LoadLibraryW(L"lumet_beside.dll"), nullptr);
}
}
