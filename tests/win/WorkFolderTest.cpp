#include "win/WorkFolder.h"

#include "TestSupport.h"

#include "win/Hash.h"
#include "win/KnownFolders.h"
#include "win/PackageCache.h"
#include "win/Text.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <tuple>
#include <vector>

namespace
{
// Made with FILE_CREATE, which fails on anything already there, under a
// name nobody can guess, in the package cache; every level the update makes
// for the administrators alone. Once empty, it goes at the end.
TEST(WorkFolderTest, IsNewAndTheAdministratorsAloneFromTheCacheDownToItsSubFolders)
{
    CWorkFolder work;
    const CCreateRecorder made;
    CHandle hFolder;
    std::wstring strPath;
    for (const wchar_t* pszName : {L"Package", L"Temp", L"Package"})
        ASSERT_EQ(work.OpenSubFolder(pszName, hFolder, strPath), 0u);
    std::vector<std::wstring> vecMade; // what was made or opened to be made, how, and for whom
    for (const CreateCall& call : made.vecCalls)
        if (call.ulDisposition != FILE_OPEN)
            vecMade.push_back((IsBracedGuid(call.strName) ? L"{GUID}" : call.strName) +
                              (call.ulDisposition == FILE_CREATE ? L" new " : L" ") + call.strSddl);
    const std::wstring strOnly = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"; // the administrators' alone
    EXPECT_EQ(vecMade, (std::vector<std::wstring>{L"LumetUpdate new " + strOnly, L"Lock " + strOnly,
                                                  L"Runs new " + strOnly, L"{GUID} new " + strOnly,
                                                  L"Package " + strOnly, L"Temp " + strOnly, L"Package " + strOnly}));

    hFolder.Close();
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
    std::wstring strFirst;
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
    const Sha256 digest = DigestOf("package");
    // The path in the cache and the size recorded, and what opening it gives.
    const std::tuple<std::wstring, ULONGLONG, DWORD> cases[] = {
        {strRelative, 7, ERROR_SUCCESS},
        {strRelative, 0, ERROR_SUCCESS}, // no size recorded
        {strRelative, 8, ERROR_INVALID_DATA},
        {L"Runs\\" + work.Guid() + L"\\Package\\gone.msi", 7, ERROR_FILE_NOT_FOUND},
        {L"Runs\\..\\..\\x.msi", 7, ERROR_FILE_NOT_FOUND}};
    for (const auto& [strPath, nSize, dwExpected] : cases)
    {
        CHandle hFile;
        EXPECT_EQ(OpenCachedFile(strPath, nSize, digest, hFile), dwExpected) << Utf8(strPath);
        EXPECT_EQ(hFile.IsValid(), dwExpected == ERROR_SUCCESS);
        EXPECT_TRUE(!hFile.IsValid() || ::CreateFileW(InCache(strPath).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                                      OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE);
    }
}
}
