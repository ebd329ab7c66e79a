#include "cleanup/FolderRemover.h"

#include "CleanupTestSupport.h"

#include "win/FileHandles.h"
#include "win/ScopedHandle.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <utility>
#include <vector>

namespace
{
// What an ordinary user can leave in the data folder: everything goes,
// read-only files too, except the updater's own logs below it, and a file
// held open without delete sharing, which stays where it is, named in the
// log. Nothing is handed over for deletion at restart.
TEST(FolderRemoverTest, ContentsGoExceptLogFilesAndOpenFilesWhichStayInPlace)
{
    ScratchFolder folder(L"remover");
    const std::pair<const wchar_t*, bool> files[] = {{L"VimoLog_LumetUpdate_0.log", false},
                                                     {L"a.txt", false},
                                                     {L".settings", false},
                                                     {L"sub\\deeper\\b.txt", false},
                                                     {L"Log\\VimoLog_LumetUpdate_1.log", true},
                                                     {L"Log\\other.txt", false},
                                                     {L"m\\read-only.dat", false},
                                                     {L"m\\locked.dat", true}};
    for (const auto& [pszFile, bKept] : files)
        WriteBytes(folder / pszFile, "planted");
    ASSERT_TRUE(::SetFileAttributesW((folder / L"m\\read-only.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    const CHandle hLocked(::CreateFileW((folder / L"m\\locked.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hLocked.IsValid());
    const std::vector<std::wstring> pendingBefore = PendingDeletions();
    const LogCapture log;

    EXPECT_EQ(CFolderRemover().DeleteFolderContents(folder.Path()), CFolderRemover::kNothingHandedOver);
    for (const auto& [pszFile, bKept] : files)
        EXPECT_EQ(Exists(folder / pszFile), bKept) << Utf8(pszFile);
    EXPECT_FALSE(Exists(folder / L"sub"));
    EXPECT_EQ(log.Bytes(), "Left in place: " + Utf8(folder / L"m\\locked.dat") + "\r\n");
    EXPECT_EQ(PendingDeletions(), pendingBefore);
}

// No drive D: exists in the test prefix: a guard that let D:\ through would
// touch nothing, but the result tells.
TEST(FolderRemoverTest, ProgramFilesAndDriveRootsAreRefusedUntouched)
{
    const wchar_t* const kept[] = {L"C:\\Program Files\\keep.txt", L"C:\\Program Files (x86)\\keep.txt"};
    for (const wchar_t* pszFile : kept)
        WriteBytes(pszFile, "planted");
    const std::wstring strMissing = L"C:\\lumet-tests\\missing";
    const std::pair<std::wstring, int> cases[] = {{L"C:\\Program Files\\", CFolderRemover::kRefused},
                                                  {L"D:\\PROGRAM FILES (X86)\\", CFolderRemover::kRefused},
                                                  {L"c:\\program files (x86)", CFolderRemover::kRefused},
                                                  {L"D:\\", CFolderRemover::kRefused},
                                                  {strMissing, CFolderRemover::kNothingHandedOver}};
    for (const auto& [strFolder, nResult] : cases)
        EXPECT_EQ(CFolderRemover().DeleteFolderContents(strFolder), nResult) << Utf8(strFolder);
    for (const wchar_t* pszFile : kept)
        EXPECT_TRUE(Exists(pszFile)) << Utf8(pszFile);
    EXPECT_FALSE(Exists(strMissing));
}

// Turns the folder g_strSwapped into a link to g_strVictim just before the
// removal opens it, after it was listed.
std::wstring g_strSwapped, g_strVictim;
PfnNtCreateFile g_pfnRealNtCreateFile = nullptr;

NTSTATUS NTAPI SwapThenOpen(PHANDLE ph, ACCESS_MASK access, POBJECT_ATTRIBUTES pAttributes, PIO_STATUS_BLOCK pio,
                            PLARGE_INTEGER pcbAllocation, ULONG ulAttributes, ULONG ulShare, ULONG ulDisposition,
                            ULONG ulOptions, PVOID pEa, ULONG cbEa)
{
    const std::wstring_view name(pAttributes->ObjectName->Buffer, pAttributes->ObjectName->Length / sizeof(wchar_t));
    if (!g_strSwapped.empty() && g_strSwapped.ends_with(L"\\" + std::wstring(name)))
    {
        EXPECT_TRUE(::MoveFileW(g_strSwapped.c_str(), (g_strSwapped + L"-away").c_str()));
        EXPECT_TRUE(MakeFolderLink(g_strSwapped, g_strVictim));
        g_strSwapped.clear();
    }
    return g_pfnRealNtCreateFile(ph, access, pAttributes, pio, pcbAllocation, ulAttributes, ulShare, ulDisposition,
                                 ulOptions, pEa, cbEa);
}

// Links planted where an ordinary user could plant them, to a folder
// elsewhere: before the removal, and in place of a folder between its
// listing and its opening.
TEST(FolderRemoverTest, LinksAreNeverEntered)
{
    ScratchFolder victim(L"victim");
    ScratchFolder tree(L"remover-links");
    WriteBytes(victim / L"inner\\precious.dat", "planted");
    WriteBytes(tree / L"sub\\a.txt", "planted");
    WriteBytes(tree / L"swapped\\b.txt", "planted");
    ASSERT_TRUE(MakeFolderLink(tree / L"planted", victim.Path()));
    ASSERT_TRUE(MakeFolderLink(tree / L"sub\\planted", victim.Path()));
    g_strSwapped = tree / L"swapped";
    g_strVictim = victim.Path();
    g_pfnRealNtCreateFile = g_pfnNtCreateFile;
    const SeamOverride<PfnNtCreateFile> seam(g_pfnNtCreateFile, &SwapThenOpen);

    CFolderRemover remover;
    EXPECT_EQ(remover.DeleteFolderContents(tree / L"planted"), CFolderRemover::kRefused);
    EXPECT_EQ(remover.DeleteFolderContents(tree / L"planted\\inner"), CFolderRemover::kRefused);
    remover.DeleteFolderContents(tree.Path());

    EXPECT_TRUE(g_strSwapped.empty()) << "never opened the swapped folder";
    EXPECT_FALSE(Exists(tree / L"sub\\a.txt"));
    EXPECT_EQ(ReadBytes(victim / L"inner\\precious.dat"), "planted");
}

// A program image in use cannot be deleted, but can be moved. It is handed
// over from the staging folder, before that folder. After the run the user
// turns the item's folder into a link to another folder, as the owner of
// that folder may: the restart deletes nothing there.
TEST(FolderRemoverTest, ImageInUseIsHandedOverFromAStagingFolderThatNoLinkRedirects)
{
    ScratchFolder folder(L"handover");
    ScratchFolder victim(L"handover-victim");
    const std::wstring root = folder / L"tree";
    WriteBytes(victim / L"x.dat", "victim");
    MakeFolders(root + L"\\mine");
    wchar_t szSelf[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    ASSERT_TRUE(::CopyFileW(szSelf, (root + L"\\mine\\x.dat").c_str(), FALSE));
    CHandle hImage;
    {
        const CHandle hFile(::CreateFileW((root + L"\\mine\\x.dat").c_str(), GENERIC_READ | GENERIC_EXECUTE,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
        hImage.Reset(::CreateFileMappingW(hFile.Get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr));
    }
    ASSERT_TRUE(hImage.IsValid());
    const size_t nPendingBefore = PendingDeletions().size();

    EXPECT_EQ(CFolderRemover().DeleteFolderTree(root), CFolderRemover::kHandedOver);
    const std::vector<std::wstring> pending = PendingDeletions();
    const std::vector<std::wstring> added(pending.begin() + static_cast<ptrdiff_t>(nPendingBefore), pending.end());
    EXPECT_FALSE(Exists(root));
    wchar_t szWindows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(szWindows, MAX_PATH);
    const bool bStaged = added.size() == 2 && added[0].starts_with(added[1] + L"\\") &&
                         added[1].starts_with(std::wstring(szWindows) + L"\\Temp\\LumetUpdate-");
    EXPECT_TRUE(bStaged) << "handed over: " << Utf8(added.empty() ? L"nothing" : added[0]);
    if (bStaged)
    {
        PACL pDacl = nullptr;
        PSECURITY_DESCRIPTOR pSecurity = nullptr;
        LPWSTR pszText = nullptr;
        ASSERT_EQ(::GetNamedSecurityInfoW(added[1].c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                          &pDacl, nullptr, &pSecurity),
                  ERROR_SUCCESS);
        ::ConvertSecurityDescriptorToStringSecurityDescriptorW(pSecurity, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                               &pszText, nullptr);
        EXPECT_TRUE(pDacl && pDacl->AceCount == 2 && std::wstring(pszText).starts_with(L"D:(A;OICI;FA;;;SY)(A;OICI;FA"))
            << Utf8(pszText ? pszText : L"no descriptor");
        ::LocalFree(pszText);
        ::LocalFree(pSecurity);
    }

    hImage.Close();
    std::error_code ec;
    std::filesystem::remove_all(root + L"\\mine", ec);
    MakeFolders(root);
    ASSERT_TRUE(MakeFolderLink(root + L"\\mine", victim.Path()));
    EXPECT_EQ(RunAndWait(L"wineboot.exe -r"), 0u);
    EXPECT_EQ(ReadBytes(victim / L"x.dat"), "victim");
    for (const std::wstring& strPath : added)
        EXPECT_FALSE(Exists(strPath)) << Utf8(strPath);
}
}
