#include "TestSupport.h"

#include "app/LumetUpdateApp.h"

#include <gtest/gtest.h>

namespace
{
struct CommandLineCase
{
    const char* name;
    const wchar_t* commandLine;
    const wchar_t* package;
};

class PackagePathTest : public ::testing::TestWithParam<CommandLineCase>
{
};

TEST_P(PackagePathTest, TakesTheFirstArgumentOnly)
{
    EXPECT_EQ(GetPackagePathFromCommandLine(GetParam().commandLine), GetParam().package);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, PackagePathTest,
    ::testing::Values(
        CommandLineCase{"NoArgument", L"LumetUpdate.exe", L""},
        CommandLineCase{"NoArgumentTrailingBlank", L"\"C:\\Tools\\LumetUpdate.exe\" ", L""},
        CommandLineCase{"OneArgument", L"LumetUpdate.exe C:\\Temp\\new.msi", L"C:\\Temp\\new.msi"},
        CommandLineCase{"TwoArguments", L"LumetUpdate.exe C:\\Temp\\a.msi D:\\b.msi", L"C:\\Temp\\a.msi"},
        CommandLineCase{"QuotedWithBlanks", L"\"C:\\Program Files\\LumetUpdate.exe\" \"C:\\Temp dir\\new package.msi\" x",
                        L"C:\\Temp dir\\new package.msi"},
        CommandLineCase{"EmptyQuotedArgument", L"LumetUpdate.exe \"\" D:\\b.msi", L""}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) { return info.param.name; });
}
