#include "win/SystemEnvironment.h"

#include "TestSupport.h"

#include "win/Text.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
const wchar_t kMachineEnvironment[] = L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";

TEST(SystemEnvironmentTest, VariablesAreSetInTheMachinesBlockInOrder)
{
    // A drive folder's entry among the machine's variables; one of this
    // process's own must not get in.
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMachineEnvironment, L"=C:", REG_SZ, L"C:\\x", 10), ERROR_SUCCESS);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"LUMET_OWN", L"inherited"));
    const std::wstring block = MakeMachineEnvironmentBlock(
        {{L"temp", L"C:\\T"}, {L"userprofile", L"C:\\U"}, {L"LUMET_NEW", L"new"}, {L"A_FIRST", L"1"}});
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMachineEnvironment, L"=C:");
    ASSERT_TRUE(block.starts_with(L"=C:=C:\\x") && block.ends_with(std::wstring(2, L'\0')));

    // In the order of their names without regard to case, each name once.
    std::map<std::wstring, std::wstring> entries; // by the name in lower case
    std::wstring strLast;
    for (size_t n = 0; n + 1 < block.size(); n = block.find(L'\0', n) + 1)
    {
        const std::wstring strEntry = block.substr(n, block.find(L'\0', n) - n);
        const std::wstring strName = strEntry.substr(0, strEntry.find(L'=', 1));
        EXPECT_EQ(::CompareStringOrdinal(strLast.c_str(), -1, strName.c_str(), -1, TRUE), CSTR_LESS_THAN)
            << Utf8(strEntry);
        entries[ToLowerAscii(strName)] = strEntry;
        strLast = strName;
    }
    for (const std::wstring strEntry : {L"temp=C:\\T", L"userprofile=C:\\U", L"LUMET_NEW=new", L"A_FIRST=1"})
        EXPECT_EQ(entries[ToLowerAscii(strEntry.substr(0, strEntry.find(L'=')))], strEntry);
    EXPECT_TRUE(entries.contains(L"systemroot"));
    EXPECT_FALSE(entries.contains(L"lumet_own"));
}
}
