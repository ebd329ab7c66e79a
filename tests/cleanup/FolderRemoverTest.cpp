#include "cleanup/FolderRemover.h"

#include "CleanupTestSupport.h"

#include "win/ScopedHandle.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace
{
TEST(FolderRemoverTest, TreeGoesButLogFilesStayAndLockedFilesAreHandedOver)
{
    ScratchFolder folder(L"remover");
    const std::wstring root = folder / L"tree";
    for (const wchar_t* pszFile : {L"a.txt", L".settings", L"sub\\deeper\\b.txt", L"Log\\VimoLog_LumetUpdate_1.log",
                                   L"Log\\other.txt", L"m\\locked.dat", L"m\\z.txt"})
        WriteBytes(root + L"\\" + pszFile, "planted");
    // Open without FILE_SHARE_DELETE: the file cannot be deleted now.
    CHandle hLocked(::CreateFileW((root + L"\\m\\locked.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hLocked.IsValid());

    EXPECT_EQ(CFolderRemover().DeleteFolderTree(root), CFolderRemover::kHandedOver);
    for (const wchar_t* pszGone : {L"\\a.txt", L"\\.settings", L"\\sub", L"\\Log\\other.txt", L"\\m\\z.txt"})
        EXPECT_FALSE(Exists(root + pszGone)) << Utf8(pszGone);
    for (const wchar_t* pszKept : {L"\\Log\\VimoLog_LumetUpdate_1.log", L"\\m\\locked.dat"})
        EXPECT_TRUE(Exists(root + pszKept)) << Utf8(pszKept);
    for (const wchar_t* pszHandedOver : {L"\\m\\locked.dat", L"\\Log", L""})
        EXPECT_TRUE(IsPendingDeletion(root + pszHandedOver)) << Utf8(pszHandedOver);
    EXPECT_FALSE(IsPendingDeletion(root + L"\\Log\\VimoLog_LumetUpdate_1.log"));
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

// Links planted where an ordinary user could plant them, to a folder elsewhere.
TEST(FolderRemoverTest, LinksAreNeverEntered)
{
    ScratchFolder victim(L"victim");
    ScratchFolder tree(L"remover-links");
    WriteBytes(victim / L"inner\\precious.dat", "planted");
    WriteBytes(tree / L"sub\\a.txt", "planted");
    ASSERT_TRUE(MakeFolderLink(tree / L"planted", victim.Path()));
    ASSERT_TRUE(MakeFolderLink(tree / L"sub\\planted", victim.Path()));

    CFolderRemover remover;
    EXPECT_EQ(remover.DeleteFolderContents(tree / L"planted"), CFolderRemover::kRefused);
    EXPECT_EQ(remover.DeleteFolderContents(tree / L"planted\\inner"), CFolderRemover::kRefused);
    remover.DeleteFolderContents(tree.Path());

    EXPECT_FALSE(Exists(tree / L"sub\\a.txt"));
    EXPECT_EQ(ReadBytes(victim / L"inner\\precious.dat"), "planted");
}
}
