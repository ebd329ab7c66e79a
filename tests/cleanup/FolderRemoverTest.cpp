#include "cleanup/FolderRemover.h"

#include "CleanupTestSupport.h"

#include "win/FileHandles.h"
#include "win/FolderWalk.h"
#include "win/ScopedHandle.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <regex>
#include <utility>
#include <vector>

namespace
{
// The data folder as an ordinary user can leave it. Everything goes, read-only
// files too, except the updater's own logs below it, and a file held open
// without delete sharing, which stays where it is, named in the log. A
// program image in use cannot be deleted but can be moved: it alone is handed
// over, from the staging folder, before that folder. After the run the user
// turns the image's folder into a link, as its owner may: the restart
// deletes nothing where the link leads.
TEST(FolderRemoverTest, OnlyStagedPathsAreHandedOverAndWhatCannotMoveStaysNamed)
{
    ScratchFolder folder(L"remover");
    ScratchFolder victim(L"remover-victim");
    const wchar_t* const gone[] = {
        L"VimoLog_LumetUpdate_0.log", L"a.txt",       L".settings", L"sub\\deeper\\b.txt", L"Log\\other.txt",
        L"m\\read-only.dat",          L"image\\x.dat"};
    const wchar_t* const kept[] = {L"Log\\VimoLog_LumetUpdate_1.log", L"m\\locked.dat"};
    for (const wchar_t* pszFile : gone)
        WriteBytes(folder / pszFile, "planted");
    for (const wchar_t* pszFile : kept)
        WriteBytes(folder / pszFile, "planted");
    WriteBytes(victim / L"x.dat", "victim");
    ASSERT_TRUE(::SetFileAttributesW((folder / L"m\\read-only.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    const CHandle hLocked(::CreateFileW((folder / L"m\\locked.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    wchar_t sz[MAX_PATH] = {};
    ASSERT_TRUE(::GetModuleFileNameW(nullptr, sz, MAX_PATH) &&
                ::CopyFileW(sz, (folder / L"image\\x.dat").c_str(), FALSE));
    // Mapped as a program image: it cannot be deleted while the mapping lives.
    HMODULE hImage = ::LoadLibraryExW((folder / L"image\\x.dat").c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_TRUE(hLocked.IsValid() && hImage);
    const size_t nPendingBefore = PendingDeletions().size();
    const LogCapture log;

    EXPECT_TRUE(CFolderRemover().DeleteFolderContents(folder.Path()));
    for (const wchar_t* pszFile : gone)
        EXPECT_FALSE(Exists(folder / pszFile)) << Utf8(pszFile);
    for (const wchar_t* pszFile : kept)
        EXPECT_TRUE(Exists(folder / pszFile)) << Utf8(pszFile);
    EXPECT_FALSE(Exists(folder / L"sub") || Exists(folder / L"image"));
    EXPECT_EQ(log.Bytes(), "Left in place: " + Utf8(folder / L"m\\locked.dat") + "\r\n");
    std::vector<std::wstring> added = PendingDeletions();
    added.erase(added.begin(), added.begin() + static_cast<ptrdiff_t>(nPendingBefore));
    ::GetSystemWindowsDirectoryW(sz, MAX_PATH);
    EXPECT_TRUE(added.size() == 2 && added[0].starts_with(added[1] + L"\\") &&
                added[1].starts_with(std::wstring(sz) + L"\\Temp\\LumetUpdate-"))
        << "first handed over: " << Utf8(added.empty() ? L"nothing" : added[0]);
    CLocalMemory<PSECURITY_DESCRIPTOR> pSecurity;
    CLocalMemory<LPWSTR> pszDacl;
    if (!added.empty() && ::GetNamedSecurityInfoW(added.back().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                  nullptr, nullptr, nullptr, nullptr, pSecurity.Put()) == ERROR_SUCCESS)
        ::ConvertSecurityDescriptorToStringSecurityDescriptorW(pSecurity.Get(), SDDL_REVISION_1,
                                                               DACL_SECURITY_INFORMATION, pszDacl.Put(), nullptr);
    // SYSTEM and the administrators (Wine names them by the user's SID) only.
    EXPECT_TRUE(pszDacl.IsValid() &&
                std::regex_match(pszDacl.Get(), std::wregex(L"D:P?\\(A;OICI;FA;;;SY\\)\\(A;OICI;FA;;;[-A-Z0-9]+\\)")))
        << Utf8(pszDacl.IsValid() ? pszDacl.Get() : L"no access list");

    ::FreeLibrary(hImage);
    std::error_code ec;
    std::filesystem::remove_all(folder / L"image", ec); // whatever of it is left, as its owner may
    ASSERT_TRUE(MakeFolderLink(folder / L"image", victim.Path()));
    EXPECT_EQ(RunAndWait(L"wineboot.exe -r"), 0u);
    EXPECT_EQ(ReadBytes(victim / L"x.dat"), "victim");
    for (const std::wstring& strPath : added)
        EXPECT_FALSE(Exists(strPath)) << Utf8(strPath);
}

// No drive D: exists in the test prefix: a guard that let D:\ through would
// touch nothing, but the result tells.
TEST(FolderRemoverTest, ProgramFilesAndDriveRootsAreRefusedUntouched)
{
    const wchar_t* const kept[] = {L"C:\\Program Files\\keep.txt", L"C:\\Program Files (x86)\\keep.txt"};
    for (const wchar_t* pszFile : kept)
        WriteBytes(pszFile, "planted");
    const std::wstring strMissing = L"C:\\lumet-tests\\missing";
    const std::pair<std::wstring, bool> cases[] = {{L"C:\\Program Files\\", false},
                                                   {L"D:\\PROGRAM FILES (X86)\\", false},
                                                   {L"c:\\program files (x86)", false},
                                                   {L"D:\\", false},
                                                   {strMissing, true}};
    for (const auto& [strFolder, bAccepted] : cases)
        EXPECT_EQ(CFolderRemover().DeleteFolderContents(strFolder), bAccepted) << Utf8(strFolder);
    for (const wchar_t* pszFile : kept)
        EXPECT_TRUE(Exists(pszFile)) << Utf8(pszFile);
    EXPECT_FALSE(Exists(strMissing));
}

// A tree deeper than the walk may go: what lies below the limit stays and is
// named, everything above it goes as far as it can.
TEST(FolderRemoverTest, WhatLiesBelowTheDepthLimitStaysNamed)
{
    ScratchFolder folder(L"remover-deep");
    ASSERT_EQ(MakeDeepTree(folder / L"a", 4), 4u); // a\a\a\a\a\bottom.txt
    WriteBytes(folder / L"a\\a\\top.txt", "planted");
    const SeamOverride<size_t> limit(g_nMaxWalkDepth, 3);
    const LogCapture log;

    EXPECT_TRUE(CFolderRemover().DeleteFolderContents(folder.Path()));

    EXPECT_FALSE(Exists(folder / L"a\\a\\top.txt"));
    EXPECT_TRUE(Exists(folder / L"a\\a\\a\\a\\a\\bottom.txt"));
    EXPECT_EQ(log.Bytes(), "Left in place: " + Utf8(folder / L"a\\a\\a\\a") + "\r\n");
}

// Turns the folder g_strSwapped into a link to g_strVictim when the removal,
// having listed it, opens it.
std::wstring g_strSwapped, g_strVictim;
PfnNtCreateFile g_pfnRealNtCreateFile = nullptr;
// The names of the entries opened to be deleted, with the attribute-writing
// right or without.
std::vector<std::pair<std::wstring, bool>> g_vecDeletionOpens;

template <typename... Rest>
NTSTATUS NTAPI SwapThenOpen(PHANDLE ph, ACCESS_MASK access, POBJECT_ATTRIBUTES pAttributes, Rest... rest)
{
    const UNICODE_STRING& name = *pAttributes->ObjectName;
    if (access & DELETE)
        g_vecDeletionOpens.emplace_back(std::wstring(name.Buffer, name.Length / 2),
                                        (access & FILE_WRITE_ATTRIBUTES) != 0);
    if (!g_strSwapped.empty() && g_strSwapped.ends_with(L"\\" + std::wstring(name.Buffer, name.Length / 2)))
    {
        EXPECT_TRUE(::MoveFileW(g_strSwapped.c_str(), (g_strSwapped + L"-away").c_str()) &&
                    MakeFolderLink(g_strSwapped, g_strVictim));
        g_strSwapped.clear();
    }
    return g_pfnRealNtCreateFile(ph, access, pAttributes, rest...);
}

// Links planted where an ordinary user could plant them, to a folder
// elsewhere: before the removal, and in place of a folder between its
// listing and its opening. Every entry is opened for its deletion with no
// more than deleting needs; only a read-only file, on a platform without the
// disposition that ignores the attribute (Wine), is opened once more with
// the right to clear it.
TEST(FolderRemoverTest, LinksAreNeverEnteredAndEntriesAreOpenedForNoMoreThanDeleting)
{
    ScratchFolder victim(L"victim");
    ScratchFolder tree(L"remover-links");
    WriteBytes(victim / L"inner\\precious.dat", "planted");
    WriteBytes(tree / L"sub\\a.txt", "planted");
    WriteBytes(tree / L"sub\\read-only.dat", "planted");
    ASSERT_TRUE(::SetFileAttributesW((tree / L"sub\\read-only.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    WriteBytes(tree / L"swapped\\b.txt", "planted");
    ASSERT_TRUE(MakeFolderLink(tree / L"planted", victim.Path()));
    ASSERT_TRUE(MakeFolderLink(tree / L"sub\\planted", victim.Path()));
    g_strSwapped = tree / L"swapped";
    g_strVictim = victim.Path();
    g_pfnRealNtCreateFile = g_pfnNtCreateFile;
    const SeamOverride<PfnNtCreateFile> seam(
        g_pfnNtCreateFile, &SwapThenOpen<PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG>);

    CFolderRemover remover;
    EXPECT_FALSE(remover.DeleteFolderContents(tree / L"planted"));
    EXPECT_FALSE(remover.DeleteFolderContents(tree / L"planted\\inner"));
    remover.DeleteFolderContents(tree.Path());

    EXPECT_TRUE(g_strSwapped.empty()) << "never opened the swapped folder";
    EXPECT_FALSE(Exists(tree / L"sub\\a.txt") || Exists(tree / L"sub\\read-only.dat"));
    EXPECT_EQ(ReadBytes(victim / L"inner\\precious.dat"), "planted");
    size_t nWithAttributes = 0;
    for (const auto& [strName, bAttributes] : g_vecDeletionOpens)
    {
        EXPECT_TRUE(!bAttributes || strName == L"read-only.dat") << Utf8(strName);
        nWithAttributes += bAttributes;
    }
    EXPECT_LE(nWithAttributes, 1u);
    EXPECT_GE(g_vecDeletionOpens.size(), 4u); // sub, its two files, swapped
}
}
