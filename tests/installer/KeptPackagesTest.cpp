#include "installer/KeptPackages.h"

#include "TestSupport.h"

#include "win/FileCopy.h"
#include "win/MyRegKey.h"
#include "win/WorkFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace
{
const std::wstring kCode = L"{6C1B5C0E-1F7A-4C44-9D1E-2A5B7C3D4E5F}";
const std::wstring kKept = L"SOFTWARE\\Vimo\\LumetUpdate\\Kept\\";

CopiedFile HashedFile(const std::wstring& strPath, const std::string& bytes)
{
    WriteBytes(strPath, bytes);
    return CopiedFile{strPath, DigestOf(bytes)};
}

// The kept package lies in the run's folder of the cache it was installed
// from: it is used only while it is what the record under the machine's key
// says, whatever else lies there.
TEST(KeptPackagesTest, OnlyAPackageInTheCacheIsKeptAndUsedOnlyWhileItMatchesItsRecord)
{
    CWorkFolder work;
    ASSERT_EQ(work.Create(), DWORD{ERROR_SUCCESS});
    const std::string bytes(70000, 'k');
    const std::wstring strKept = work.Path() + L"\\Package\\new.msi";
    const CopiedFile installed = HashedFile(strKept, bytes);
    // What the kept file holds when the next update looks (empty: as kept);
    // whether it is an installer package (else an installer program), and
    // recorded with a digest that is not the checked copy's.
    const std::tuple<const char*, std::string, bool, bool, DWORD> cases[] = {
        {"as it was kept", "", true, false, ERROR_SUCCESS},
        {"one byte changed", std::string(69999, 'k') + "x", true, false, ERROR_INVALID_DATA},
        {"an installer program", "", false, false, ERROR_NOT_FOUND},
        {"kept under another digest", "", true, true, ERROR_INVALID_DATA},
    };
    for (const auto& [pszLabel, strNow, bInstallerPackage, bOtherDigest, dwExpected] : cases)
    {
        SCOPED_TRACE(pszLabel);
        WriteBytes(strKept, bytes);
        CopiedFile recorded = installed;
        recorded.digest[5] ^= bOtherDigest ? 1 : 0;
        ASSERT_EQ(KeepPackage(recorded, kCode, bInstallerPackage), DWORD{ERROR_SUCCESS});
        if (!strNow.empty())
            WriteBytes(strKept, strNow);
        CopiedFile kept;
        CHandle hHeld;
        EXPECT_EQ(OpenKeptPackage(kCode, kept, hHeld), dwExpected);
        EXPECT_EQ(hHeld.IsValid(), dwExpected == ERROR_SUCCESS);
        EXPECT_TRUE(dwExpected != ERROR_SUCCESS || (kept.strPath == strKept && kept.digest == installed.digest));
    }

    // Only a package in the cache is kept, one product's at a time, and only
    // while that product is installed.
    ScratchFolder folder(L"kept");
    EXPECT_EQ(KeepPackage(HashedFile(folder / L"new.msi", "new"), kCode, true), DWORD{ERROR_PATH_NOT_FOUND});
    const std::wstring strOther = L"{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
    ASSERT_EQ(KeepPackage(HashedFile(work.Path() + L"\\Package\\old.msi", "old"), strOther, true),
              DWORD{ERROR_SUCCESS});
    ASSERT_EQ(KeepPackage(HashedFile(work.Path() + L"\\Restore\\new.msi", "new"), kCode, true), DWORD{ERROR_SUCCESS});
    EXPECT_NE(CMyRegKey().Open(HKEY_LOCAL_MACHINE, (kKept + strOther).c_str()), DWORD{ERROR_SUCCESS});
    CopiedFile kept;
    CHandle hHeld;
    EXPECT_EQ(OpenKeptPackage(kCode, kept, hHeld), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(kept.strPath, work.Path() + L"\\Restore\\new.msi");
    // No product of that code is installed: its package is kept for nothing.
    EXPECT_TRUE(KeptRunFolders().empty());
    EXPECT_NE(CMyRegKey().Open(HKEY_LOCAL_MACHINE, (kKept + kCode).c_str()), DWORD{ERROR_SUCCESS});
}
}
