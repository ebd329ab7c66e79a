#include "win/SystemEnvironment.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace
{
const wchar_t kMachineEnvironment[] = L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";

int CompareNames(std::wstring_view a, std::wstring_view b)
{
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE);
}

TEST(SystemEnvironmentTest, VariablesAreSetInTheMachinesBlockInOrder)
{
    // A drive folder's entry from the machine's variables, and one of this
    // process's own, which must not get in.
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMachineEnvironment, L"=C:", REG_SZ, L"C:\\x", 10), ERROR_SUCCESS);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"LUMET_OWN", L"inherited"));
    const std::wstring block = MakeMachineEnvironmentBlock(
        {{L"temp", L"C:\\T"}, {L"userprofile", L"C:\\U"}, {L"LUMET_NEW", L"new"}, {L"A_FIRST", L"1"}});
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMachineEnvironment, L"=C:");
    ASSERT_GE(block.size(), 2u);
    EXPECT_EQ(block.substr(block.size() - 2), std::wstring(2, L'\0'));

    std::vector<std::wstring_view> vecEntries, vecNames;
    for (size_t nStart = 0; nStart + 1 < block.size(); nStart += vecEntries.back().size() + 1)
    {
        vecEntries.push_back(std::wstring_view(block).substr(nStart, block.find(L'\0', nStart) - nStart));
        vecNames.push_back(vecEntries.back().substr(0, vecEntries.back().find(L'=', 1)));
    }
    for (size_t i = 1; i < vecNames.size(); ++i)
        EXPECT_EQ(CompareNames(vecNames[i - 1], vecNames[i]), CSTR_LESS_THAN) << Utf8(std::wstring(vecEntries[i]));
    const auto entriesNamed = [&](std::wstring_view name) {
        std::vector<std::wstring_view> vecFound;
        for (size_t i = 0; i < vecEntries.size(); ++i)
            if (CompareNames(vecNames[i], name) == CSTR_EQUAL)
                vecFound.push_back(vecEntries[i]);
        return vecFound;
    };
    using CEntries = std::vector<std::wstring_view>;
    ASSERT_FALSE(vecEntries.empty());
    EXPECT_EQ(vecEntries.front(), L"=C:=C:\\x");
    EXPECT_EQ(entriesNamed(L"TEMP"), CEntries{L"temp=C:\\T"});
    EXPECT_EQ(entriesNamed(L"USERPROFILE"), CEntries{L"userprofile=C:\\U"});
    EXPECT_EQ(entriesNamed(L"LUMET_NEW"), CEntries{L"LUMET_NEW=new"});
    EXPECT_EQ(entriesNamed(L"A_FIRST"), CEntries{L"A_FIRST=1"});
    EXPECT_EQ(entriesNamed(L"SystemRoot").size(), 1u);
    EXPECT_TRUE(entriesNamed(L"LUMET_OWN").empty());
}
}
