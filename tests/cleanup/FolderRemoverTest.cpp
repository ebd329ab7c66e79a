#include "cleanup/FolderRemover.h"

#include "TestSupport.h"

#include "win/Security.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <vector>

namespace
{
// What the removal set on what it handed over, as SDDL (Wine keeps no access
// lists, so it is seen here); the first such call fails, as for a file that
// cannot be made the administrators'.
std::vector<std::wstring> g_vecGiven;
DWORD WINAPI RecordGiven(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION info, PSID pOwner, PSID, PACL pDacl, PACL)
{
    SECURITY_DESCRIPTOR sd;
    ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorOwner(&sd, pOwner, FALSE);
    ::SetSecurityDescriptorDacl(&sd, pDacl != nullptr, pDacl, FALSE);
    if (info & PROTECTED_DACL_SECURITY_INFORMATION)
        ::SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    CLocalMemory<LPWSTR> pszSddl;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        &sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, pszSddl.Put(), nullptr);
    g_vecGiven.push_back(pszSddl.IsValid() ? pszSddl.Get() : L"");
    return g_vecGiven.size() == 1 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

// The data folder as an ordinary user can leave it: everything goes but the
// updater's own logs below it. Program images in use cannot be deleted but
// can be moved: one that cannot be made the administrators' stays, named; the
// other is handed over from the run's own folder. The user then turns the
// images' folder into a link: the restart deletes nothing where it leads.
TEST(FolderRemoverTest, OnlyFilesGivenToTheAdministratorsAreHandedOverFromTheRunsOwnFolder)
{
    ScratchFolder folder(L"remover"), victim(L"remover-victim");
    const wchar_t* const gone[] = {L"VimoLog_LumetUpdate_0.log", L"a.txt", L".settings", L"sub\\deeper\\b.txt",
                                   L"Log\\other.txt"};
    const std::wstring strKept = folder / L"Log\\VimoLog_LumetUpdate_1.log";
    for (const wchar_t* pszFile : gone)
        WriteBytes(folder / pszFile, "planted");
    WriteBytes(strKept, "planted");
    WriteBytes(victim / L"x.dat", "victim");
    wchar_t sz[MAX_PATH] = {};
    ASSERT_TRUE(::GetModuleFileNameW(nullptr, sz, MAX_PATH));
    // Mapped as program images: they cannot be deleted while the mappings live.
    std::vector<HMODULE> vecImages;
    MakeFolders(folder / L"image");
    for (const wchar_t* pszImage : {L"image\\x.dat", L"image\\y.dat"})
    {
        ASSERT_TRUE(::CopyFileW(sz, (folder / pszImage).c_str(), FALSE));
        vecImages.push_back(::LoadLibraryExW((folder / pszImage).c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(vecImages.back());
    }
    const size_t nPendingBefore = PendingDeletions().size();
    const LogCapture log;
    const SeamOverride<PfnSetSecurityInfo> given(g_pfnSetSecurityInfo, &RecordGiven);
    CWorkFolder work;

    EXPECT_TRUE(CFolderRemover(work).DeleteFolderContents(folder.Path()));

    for (const wchar_t* pszFile : gone)
        EXPECT_FALSE(Exists(folder / pszFile)) << Utf8(pszFile);
    EXPECT_FALSE(Exists(folder / L"sub"));
    EXPECT_TRUE(Exists(strKept));
    EXPECT_EQ(g_vecGiven, std::vector<std::wstring>(2, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
    // Which image was refused depends on the listing's order.
    EXPECT_NE(Exists(folder / L"image\\x.dat"), Exists(folder / L"image\\y.dat"));
    const std::wstring strRefused = Exists(folder / L"image\\x.dat") ? L"image\\x.dat" : L"image\\y.dat";
    EXPECT_EQ(log.Bytes(), "Left in place: " + Utf8(folder / strRefused) + "\r\n");
    std::vector<std::wstring> added = PendingDeletions();
    added.erase(added.begin(), added.begin() + static_cast<ptrdiff_t>(nPendingBefore));
    EXPECT_EQ(added, std::vector<std::wstring>{work.Path() + L"\\1"});

    for (HMODULE hImage : vecImages)
        ::FreeLibrary(hImage);
    work.Finish(false);
    std::error_code ec;
    std::filesystem::remove_all(folder / L"image", ec); // whatever of it is left, as its owner may
    ASSERT_TRUE(MakeFolderLink(folder / L"image", victim.Path()));
    EXPECT_EQ(RunAndWait(L"wineboot.exe -r"), 0u);
    EXPECT_EQ(ReadBytes(victim / L"x.dat"), "victim");
    EXPECT_FALSE(Exists(work.Path()));
}

// No drive D: exists in the test prefix: a guard that let D:\ through would
// touch nothing, but the result tells. A link planted where an ordinary user
// could plant it is never entered (a folder swapped for a link after its
// listing: FileHandlesTest). Every entry is opened with no more than deleting
// needs; only a read-only file, where the disposition that ignores the
// attribute is missing (Wine), is opened once more with the right to clear it.
TEST(FolderRemoverTest, RootsAndLinksAreRefusedEntriesOpenedForNoMoreThanDeletingAndTheDepthBounded)
{
    const wchar_t* const kept[] = {L"C:\\Program Files\\keep.txt", L"C:\\Program Files (x86)\\keep.txt"};
    for (const wchar_t* pszFile : kept)
        WriteBytes(pszFile, "planted");
    ScratchFolder victim(L"victim"), tree(L"remover-links");
    WriteBytes(victim / L"inner\\precious.dat", "planted");
    WriteBytes(tree / L"sub\\a.txt", "planted");
    WriteBytes(tree / L"sub\\read-only.dat", "planted");
    ASSERT_TRUE(::SetFileAttributesW((tree / L"sub\\read-only.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(MakeFolderLink(tree / L"planted", victim.Path()));
    const std::wstring strMissing = L"C:\\lumet-tests\\missing";
    const std::pair<std::wstring, bool> cases[] = {
        {L"C:\\Program Files\\", false},     {L"D:\\PROGRAM FILES (X86)\\", false},
        {L"c:\\program files (x86)", false}, {L"D:\\", false},
        {tree / L"planted", false},          {strMissing, true}};
    CWorkFolder work;
    CFolderRemover remover(work);
    for (const auto& [strFolder, bAccepted] : cases)
        EXPECT_EQ(remover.DeleteFolderContents(strFolder), bAccepted) << Utf8(strFolder);
    for (const wchar_t* pszFile : kept)
        EXPECT_TRUE(Exists(pszFile)) << Utf8(pszFile);
    EXPECT_FALSE(Exists(strMissing));

    const CCreateRecorder opened;
    remover.DeleteFolderContents(tree.Path());

    EXPECT_FALSE(Exists(tree / L"sub\\a.txt") || Exists(tree / L"sub\\read-only.dat"));
    EXPECT_EQ(ReadBytes(victim / L"inner\\precious.dat"), "planted");
    size_t nDeletions = 0, nWithAttributes = 0;
    for (const CreateCall& call : opened.vecCalls)
    {
        const bool bAttributes = (call.access & (DELETE | FILE_WRITE_ATTRIBUTES)) == (DELETE | FILE_WRITE_ATTRIBUTES);
        EXPECT_TRUE(!bAttributes || call.strName == L"read-only.dat") << Utf8(call.strName);
        nDeletions += (call.access & DELETE) != 0;
        nWithAttributes += bAttributes;
    }
    EXPECT_LE(nWithAttributes, 1u);
    EXPECT_GE(nDeletions, 3u); // sub and its two files

    // A tree deeper than the walk may go: what lies below the limit stays and
    // is named, everything above it goes as far as it can.
    ASSERT_EQ(MakeDeepTree(tree / L"deep\\a", 4), 4u); // a\a\a\a\a\bottom.txt
    WriteBytes(tree / L"deep\\a\\a\\top.txt", "planted");
    const LogCapture log;
    EXPECT_TRUE(CFolderRemover(work, 3).DeleteFolderContents(tree / L"deep"));
    EXPECT_FALSE(Exists(tree / L"deep\\a\\a\\top.txt"));
    EXPECT_TRUE(Exists(tree / L"deep\\a\\a\\a\\a\\a\\bottom.txt"));
    EXPECT_EQ(log.Bytes(), "Left in place: " + Utf8(tree / L"deep\\a\\a\\a\\a") + "\r\n");
}
}
