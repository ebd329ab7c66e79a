#include "installer/KeptPackages.h"

#include "TestSupport.h"

#include "win/FileCopy.h"
#include "win/KnownFolders.h"
#include "win/MyRegKey.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

namespace
{
const std::wstring kCode = L"{6C1B5C0E-1F7A-4C44-9D1E-2A5B7C3D4E5F}";
const std::wstring kRecord = L"SOFTWARE\\Vimo\\LumetUpdate\\Kept\\" + kCode;

CopiedFile HashedFile(const std::wstring& strPath, const std::string& bytes)
{
    WriteBytes(strPath, bytes);
    CopiedFile file{strPath, {}};
    const CHandle h(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(HashFile(h.Get(), file.digest), DWORD{ERROR_SUCCESS});
    return file;
}

// The kept file lies in a folder that, where a user made a level of it
// first, is not the administrators' alone: it is used only while it is what
// the record under the machine's key says, whatever else lies there.
TEST(KeptPackagesTest, AKeptPackageIsUsedOnlyWhileItMatchesItsRecord)
{
    ScratchFolder folder(L"kept");
    const std::string bytes(70000, 'k');
    const CopiedFile installed = HashedFile(folder / L"new.msi", bytes);
    const std::wstring strKept = GetShellFolder(CSIDL_COMMON_APPDATA) + L"\\Vimo\\LumetUpdate\\" + kCode + L"\\new.msi";
    const struct
    {
        const char* pszLabel;
        std::string kept; // what the kept file holds when the next update looks; empty: as kept
        const wchar_t* pszKind;
        DWORD dwExpected;
    } cases[] = {
        {"as it was kept", "", L"msi", ERROR_SUCCESS},
        {"one byte changed", std::string(69999, 'k') + "x", L"msi", ERROR_INVALID_DATA},
        {"cut short", std::string(60000, 'k'), L"msi", ERROR_INVALID_DATA},
        {"an installer program", "", L"program", ERROR_NOT_FOUND},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        ASSERT_EQ(KeepPackage(installed, kCode, true), DWORD{ERROR_SUCCESS});
        EXPECT_EQ(ReadBytes(strKept), bytes);
        if (!c.kept.empty())
            WriteBytes(strKept, c.kept);
        CMyRegKey record;
        ASSERT_EQ(record.Open(HKEY_LOCAL_MACHINE, kRecord.c_str(), 0, KEY_SET_VALUE), DWORD{ERROR_SUCCESS});
        ASSERT_EQ(record.SetStringValue(L"Kind", c.pszKind), DWORD{ERROR_SUCCESS});

        ScratchFolder run(L"run");
        const CHandle hRun(::CreateFileW(run.Path().c_str(), FILE_ADD_FILE | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        CopiedFile copy;
        std::wstring strFrom;
        EXPECT_EQ(CopyKeptPackage(kCode, hRun.Get(), run.Path(), copy, strFrom), c.dwExpected);
        if (c.dwExpected == ERROR_SUCCESS)
        {
            EXPECT_EQ(ReadBytes(copy.strPath), bytes);
            EXPECT_EQ(copy.digest, installed.digest);
            EXPECT_EQ(strFrom, strKept);
        }
        EXPECT_EQ(Exists(run / L"new.msi"), c.dwExpected == ERROR_SUCCESS) << "no copy that does not match stays";
    }
}

// Keeping a package forgets the one kept before, file and record.
TEST(KeptPackagesTest, OnlyThePackageOfTheLastUpdateIsKept)
{
    ScratchFolder folder(L"kept");
    const std::wstring strOther = L"{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
    ASSERT_EQ(KeepPackage(HashedFile(folder / L"old.msi", "old"), strOther, true), DWORD{ERROR_SUCCESS});
    ASSERT_EQ(KeepPackage(HashedFile(folder / L"new.msi", "new"), kCode, true), DWORD{ERROR_SUCCESS});
    const std::wstring strStore = GetShellFolder(CSIDL_COMMON_APPDATA) + L"\\Vimo\\LumetUpdate\\";
    EXPECT_FALSE(Exists(strStore + strOther));
    EXPECT_EQ(ReadBytes(strStore + kCode + L"\\new.msi"), "new");
    CMyRegKey record;
    EXPECT_NE(record.Open(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Vimo\\LumetUpdate\\Kept\\" + strOther).c_str()),
              DWORD{ERROR_SUCCESS});
}
}
