#include "win/WorkFolder.h"

#include "TestSupport.h"

#include "win/FileCopy.h"
#include "win/KnownFolders.h"
#include "win/PackageCache.h"
#include "win/Text.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <vector>

namespace
{
// Made with FILE_CREATE, which fails on anything already there, under a
// name nobody can guess, in the package cache; every level the update makes
// for the administrators alone. Once empty, it goes at the end.
TEST(WorkFolderTest, IsNewAndTheAdministratorsAloneFromTheCacheDownToItsSubFolders)
{
    CWorkFolder work;
    std::vector<std::wstring> vecMade; // what was made or opened to be made, how, and for whom
    {
        const CCreateRecorder made;
        for (const wchar_t* pszName : {L"Package", L"Temp", L"Package"})
        {
            CHandle hFolder;
            std::wstring strPath;
            ASSERT_EQ(work.OpenSubFolder(pszName, hFolder, strPath), 0u);
            EXPECT_EQ(strPath, work.Path() + L"\\" + pszName);
        }
        for (const CreateCall& call : made.vecCalls)
            if (call.ulDisposition != FILE_OPEN)
                vecMade.push_back((IsBracedGuid(call.strName) ? L"{GUID}" : call.strName) +
                                  (call.ulDisposition == FILE_CREATE ? L" new " : L" ") + call.strSddl);
    }
    const std::wstring strOnly = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"; // the administrators' alone
    EXPECT_EQ(vecMade, (std::vector<std::wstring>{L"LumetUpdate new " + strOnly, L"Lock " + strOnly,
                                                  L"Runs new " + strOnly, L"{GUID} new " + strOnly,
                                                  L"Package " + strOnly, L"Temp " + strOnly, L"Package " + strOnly}));
    EXPECT_EQ(CachePath(), GetShellFolder(CSIDL_COMMON_APPDATA) + L"\\LumetUpdate");
    EXPECT_EQ(work.Path(), CachePath() + L"\\Runs\\" + work.Guid());

    work.Finish(false);
    EXPECT_FALSE(Exists(work.Path()));
}

// A cache folder that a user made before the first update is moved aside and
// never used (under Wine no folder's list says it is the administrators', so
// only the one the update made and recorded is taken). One update at a time:
// the cache's lock is held by the run that has it, and let go with it.
TEST(WorkFolderTest, ACacheFolderMadeBeforeTheUpdateIsMovedAsideAndOneRunHoldsTheOneItMade)
{
    std::error_code ec;
    std::filesystem::remove_all(CachePath(), ec);
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vimo\\LumetUpdate", L"CacheFolderId");
    WriteBytes(CachePath() + L"\\Runs\\planted.txt", "planted");
    std::wstring strFirst, strGuid;
    {
        CWorkFolder first;
        ASSERT_EQ(first.Create(), 0u);
        EXPECT_FALSE(Exists(CachePath() + L"\\Runs\\planted.txt"));
        const std::vector<std::wstring> vecAside = FilesIn(CachePath() + L"-*");
        ASSERT_EQ(vecAside.size(), 1u);
        EXPECT_EQ(ReadBytes(GetShellFolder(CSIDL_COMMON_APPDATA) + L"\\" + vecAside[0] + L"\\Runs\\planted.txt"),
                  "planted");
        CWorkFolder second, resumed;
        EXPECT_EQ(second.Create(), DWORD{ERROR_SHARING_VIOLATION});
        EXPECT_EQ(resumed.OpenExisting(first.Guid()), DWORD{ERROR_SHARING_VIOLATION});
        WriteBytes(first.Path() + L"\\kept.txt", "kept");
        first.Finish(true);
        strFirst = first.Path();
        strGuid = first.Guid();
    }
    {
        CWorkFolder resumed;
        EXPECT_EQ(resumed.OpenExisting(strGuid), 0u);
        EXPECT_EQ(resumed.Path(), strFirst);
    }
    // The next update takes the cache it made.
    CWorkFolder second;
    ASSERT_EQ(second.Create(), 0u);
    EXPECT_EQ(ReadBytes(strFirst + L"\\kept.txt"), "kept");
}

// A file of the cache is used only as its record knows it, held so that
// nobody writes it (another digest: KeptPackagesTest).
TEST(WorkFolderTest, ACachedFileOpensOnlyWithTheSizeAndDigestRecordedForIt)
{
    CWorkFolder work;
    ASSERT_EQ(work.Create(), 0u);
    const std::wstring strRelative = L"Runs\\" + work.Guid() + L"\\Package\\new.msi";
    WriteBytes(InCache(strRelative), "package");
    WriteBytes(GetShellFolder(CSIDL_COMMON_APPDATA) + L"\\x.msi", "package"); // where "Runs\\..\\..\\x.msi" leads
    Sha256 digest = {};
    {
        const CHandle h(::CreateFileW(InCache(strRelative).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_EQ(HashFile(h.Get(), digest), 0u);
    }
    const struct
    {
        std::wstring strRelative;
        ULONGLONG nSize;
        DWORD dwExpected;
    } cases[] = {{strRelative, 7, ERROR_SUCCESS},
                 {strRelative, 0, ERROR_SUCCESS}, // no size recorded
                 {strRelative, 8, ERROR_INVALID_DATA},
                 {L"Runs\\" + work.Guid() + L"\\Package\\gone.msi", 7, ERROR_FILE_NOT_FOUND},
                 {L"Runs\\..\\..\\x.msi", 7, ERROR_FILE_NOT_FOUND}};
    for (const auto& c : cases)
    {
        CHandle hFile;
        EXPECT_EQ(OpenCachedFile(c.strRelative, c.nSize, digest, hFile), c.dwExpected) << Utf8(c.strRelative);
        EXPECT_EQ(hFile.IsValid(), c.dwExpected == ERROR_SUCCESS);
        EXPECT_TRUE(!hFile.IsValid() || ::CreateFileW(InCache(c.strRelative).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                                      OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE);
    }
}
}
