#include "win/SystemEnvironment.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>

namespace
{
std::wstring WindowsFolder()
{
    wchar_t sz[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(sz, MAX_PATH);
    return sz;
}

std::wstring SystemFolder()
{
    wchar_t sz[MAX_PATH] = {};
    ::GetSystemDirectoryW(sz, MAX_PATH);
    return sz;
}

// Sets variables of this process for the test and puts the old values back.
class PlantedVariables
{
public:
    void Plant(const wchar_t* pszName, const std::wstring& strValue)
    {
        std::wstring old(32767, L'\0');
        const DWORD cch = ::GetEnvironmentVariableW(pszName, old.data(), static_cast<DWORD>(old.size()));
        m_saved.emplace_back(pszName, cch ? std::optional<std::wstring>(old.substr(0, cch)) : std::nullopt);
        ::SetEnvironmentVariableW(pszName, strValue.c_str());
    }
    ~PlantedVariables()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            ::SetEnvironmentVariableW(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }

private:
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> m_saved;
};

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return s;
}

// The variables a child started with the block sees, as the system's command
// interpreter lists them ("set"), by upper-case name. Wine adds its own
// WINE* variables to every process; they are among them.
std::map<std::string, std::string> VariablesSeenByChild(const std::wstring& strBlock, const ScratchFolder& folder)
{
    const std::wstring strOut = folder / L"set.txt";
    std::wstring cmd = L"cmd.exe /c set > \"" + strOut + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring block = strBlock;
    const std::wstring strCmd = SystemFolder() + L"\\cmd.exe";
    if (!::CreateProcessW(strCmd.c_str(), cmd.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, block.data(),
                          SystemFolder().c_str(), &si, &pi))
    {
        ADD_FAILURE() << "cmd.exe did not start: " << ::GetLastError();
        return {};
    }
    ::WaitForSingleObject(pi.hProcess, 60000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    std::map<std::string, std::string> vars;
    std::istringstream lines(ReadBytes(strOut));
    for (std::string line; std::getline(lines, line);)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t nEq = line.find('=');
        if (nEq == std::string::npos || nEq == 0)
            continue;
        vars[Upper(line.substr(0, nEq))] = line.substr(nEq + 1);
    }
    return vars;
}

// The user's own variables reach an elevated updater's environment (Windows
// merges HKEY_CURRENT_USER\Environment into it): here they are planted in
// this process, as the user would have them, and none may reach the child.
TEST(SystemEnvironment, ChildSeesTheMachineVariablesAndNoneOfTheUsers)
{
    ScratchFolder folder(L"sysenv");
    const std::wstring strPlanted = folder / L"planted";
    MakeFolders(strPlanted);
    PlantedVariables planted;
    planted.Plant(L"PATH", strPlanted + L";" + SystemFolder());
    planted.Plant(L"TEMP", strPlanted);
    planted.Plant(L"TMP", strPlanted);
    planted.Plant(L"ComSpec", strPlanted + L"\\cmd.exe");
    planted.Plant(L"SystemRoot", strPlanted);
    planted.Plant(L"LUMET_PLANTED", L"1");
    const std::wstring strTemp = folder / L"temp";
    MakeFolders(strTemp);

    const std::map<std::string, std::string> seen = VariablesSeenByChild(MakeSystemEnvironmentBlock(strTemp), folder);

    ASSERT_FALSE(seen.empty());
    struct
    {
        const char* name;
        std::string expected; // empty: the variable must be absent
    } const rows[] = {
        {"LUMET_PLANTED", ""},
        {"TEMP", Utf8(strTemp)},
        {"TMP", Utf8(strTemp)},
        {"COMSPEC", Utf8(SystemFolder() + L"\\cmd.exe")},
        {"SYSTEMROOT", Utf8(WindowsFolder())},
        {"WINDIR", Utf8(WindowsFolder())},
        {"SYSTEMDRIVE", Utf8(WindowsFolder().substr(0, 2))},
    };
    for (const auto& row : rows)
    {
        const auto it = seen.find(row.name);
        if (row.expected.empty())
            EXPECT_EQ(it, seen.end()) << row.name << " reached the child: " << it->second;
        else if (it == seen.end())
            ADD_FAILURE() << row.name << " missing";
        else
            EXPECT_EQ(Upper(it->second), Upper(row.expected)) << row.name;
    }
    const auto path = seen.find("PATH");
    ASSERT_NE(path, seen.end());
    EXPECT_EQ(Upper(path->second).find(Upper(Utf8(strPlanted))), std::string::npos) << path->second;
    EXPECT_EQ(Upper(path->second).rfind(Upper(Utf8(SystemFolder())), 0), 0u) << path->second;
}

TEST(SystemEnvironment, BlockIsSortedWithoutRegardToCaseAndEndsWithTwoNulls)
{
    const std::wstring block = MakeSystemEnvironmentBlock(L"C:\\T");
    ASSERT_GE(block.size(), 2u);
    EXPECT_EQ(block.substr(block.size() - 2), std::wstring(2, L'\0'));
    std::vector<std::wstring> names;
    for (size_t i = 0; i + 1 < block.size();)
    {
        const size_t nEnd = block.find(L'\0', i);
        const std::wstring entry = block.substr(i, nEnd - i);
        names.push_back(entry.substr(0, entry.find(L'=')));
        i = nEnd + 1;
    }
    for (size_t i = 1; i < names.size(); ++i)
        EXPECT_EQ(::CompareStringOrdinal(names[i - 1].c_str(), -1, names[i].c_str(), -1, TRUE), CSTR_LESS_THAN)
            << Utf8(names[i - 1]) << " before " << Utf8(names[i]);
    // The machine's processor variables, which installers' scripts read, come along.
    EXPECT_NE(std::find(names.begin(), names.end(), L"PROCESSOR_ARCHITECTURE"), names.end());
}
}
