#include "win/FileHandles.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace
{
TEST(FileHandlesTest, OnlyNameSurrogatesAndReservedTagsAreLinks)
{
    // Attributes, reparse tag, and whether that is a link.
    const std::tuple<DWORD, DWORD, bool> cases[] = {
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_MOUNT_POINT, true},
        {FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK, true},
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0, true}, // as Wine shows a Unix link
        {FILE_ATTRIBUTE_REPARSE_POINT, 2, true},
        {FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_DEDUP, false},
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0x9000001A, false}, // a cloud placeholder
        {FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT, false},                // a tag without the attribute
    };
    for (const auto& [dwAttributes, dwTag, bLink] : cases)
        EXPECT_EQ(IsLinkReparsePoint(dwAttributes, dwTag), bLink) << std::hex << dwAttributes << " " << dwTag;
}

// An entry that is a link, or that was replaced after the listing, is never
// opened as what it now points to.
TEST(FileHandlesTest, AnEntryIsOpenedOnlyAsWhatTheListingShowed)
{
    ScratchFolder folder(L"handles"), victim(L"handles-victim");
    WriteBytes(victim / L"precious.dat", "victim");
    WriteBytes(victim / L"other.dat", "planted");
    for (const wchar_t* pszFile : {L"replaced.dat", L"gone.dat"})
        WriteBytes(folder / pszFile, "listed");
    MakeFolders(folder / L"swapped");
    ASSERT_TRUE(MakeFolderLink(folder / L"planted", victim.Path()));

    EFolderChain eChain;
    const CHandle hFolder = OpenFolderChain(folder.Path(), 0, eChain);
    std::vector<FolderEntry> vecEntries;
    ASSERT_TRUE(ListFolder(hFolder.Get(), vecEntries));
    ASSERT_EQ(vecEntries.size(), 4u);

    ASSERT_TRUE(
        ::MoveFileExW((victim / L"other.dat").c_str(), (folder / L"replaced.dat").c_str(), MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(::DeleteFileW((folder / L"gone.dat").c_str()));
    ASSERT_TRUE(::MoveFileW((folder / L"swapped").c_str(), (folder / L"away").c_str()));
    ASSERT_TRUE(MakeFolderLink(folder / L"swapped", victim.Path()));

    const std::pair<const wchar_t*, std::vector<EEntryKind>> expected[] = {
        {L"replaced.dat", {EEntryKind::Changed}},
        {L"gone.dat", {EEntryKind::Unopened}},
        // Windows opens a link as itself, Wine its target.
        {L"swapped", {EEntryKind::Changed, EEntryKind::Link}},
        {L"planted", {EEntryKind::Link}},
    };
    for (const auto& [pszName, vecKinds] : expected)
    {
        SCOPED_TRACE(Utf8(pszName));
        const auto it = std::ranges::find(vecEntries, std::wstring(pszName), &FolderEntry::strName);
        ASSERT_NE(it, vecEntries.end());
        const OpenedEntry opened = OpenEntry(hFolder.Get(), *it, DELETE);
        EXPECT_NE(std::find(vecKinds.begin(), vecKinds.end(), opened.eKind), vecKinds.end());
        // A handle only on a link itself.
        EXPECT_EQ(opened.h.IsValid(),
                  opened.eKind == EEntryKind::Link && IsLinkReparsePoint(opened.dwAttributes, IO_REPARSE_TAG_SYMLINK));
    }
    EXPECT_EQ(ReadBytes(victim / L"precious.dat"), "victim");
}

// No level is opened through a link; only the last levels asked for are made.
TEST(FileHandlesTest, AFolderChainIsOpenedLevelByLevel)
{
    ScratchFolder folder(L"chain"), victim(L"chain-victim");
    MakeFolders(folder / L"a\\b");
    WriteBytes(folder / L"a\\file.dat", "file");
    ASSERT_TRUE(MakeFolderLink(folder / L"link", victim.Path()));

    const std::wstring strIn = folder.Path() + L"\\";
    const struct
    {
        std::wstring strPath;
        size_t nCreatable;
        EFolderChain eResult;
        std::wstring strAbsent = {}; // what must not have been made
    } cases[] = {
        {strIn + L"a\\b", 0, EFolderChain::Opened},
        {strIn + L"a\\\\b\\", 0, EFolderChain::Opened},
        {strIn + L"new1\\new2", 2, EFolderChain::Opened},
        {strIn + L"new3\\new4", 1, EFolderChain::Missing, strIn + L"new3"},
        {strIn + L"a\\new5\\new6", 1, EFolderChain::Missing, strIn + L"a\\new5"},
        {strIn + L"a\\file.dat\\new7", 1, EFolderChain::Missing},
        {strIn + L"link", 0, EFolderChain::Link},
        {strIn + L"link\\new8", 1, EFolderChain::Link, strIn + L"link\\new8"},
        {strIn + L"a\\..\\new9", 2, EFolderChain::Missing, strIn + L"new9"},
        {strIn + L"a\\.\\new9", 2, EFolderChain::Missing, strIn + L"a\\new9"},
        {L"lumet-tests", 0, EFolderChain::Missing},
        {L"C:lumet-tests", 0, EFolderChain::Missing},
        {L"\\\\localhost\\C$\\lumet-tests", 0, EFolderChain::Missing},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(Utf8(c.strPath));
        EFolderChain eResult = EFolderChain::Opened;
        const CHandle h = OpenFolderChain(c.strPath, c.nCreatable, eResult);
        EXPECT_EQ(eResult, c.eResult);
        EXPECT_EQ(h.IsValid(), c.eResult == EFolderChain::Opened);
        EXPECT_TRUE(c.eResult != EFolderChain::Opened || IsFolder(c.strPath));
        EXPECT_TRUE(c.strAbsent.empty() || !Exists(c.strAbsent));
    }

    // Held, no level can be renamed: the drive's root and every level but the
    // last are kept open.
    std::vector<CHandle> vecHeld;
    EFolderChain eResult;
    CHandle h = OpenFolderChain(folder / L"a\\b", 0, eResult, &vecHeld);
    ASSERT_TRUE(h.IsValid());
    EXPECT_EQ(vecHeld.size(), static_cast<size_t>(std::count(folder.Path().begin(), folder.Path().end(), L'\\')) + 2);
    EXPECT_FALSE(::MoveFileW((folder / L"a").c_str(), (folder / L"a2").c_str()));
    EXPECT_FALSE(::MoveFileW((folder / L"a\\b").c_str(), (folder / L"a\\b2").c_str()));
    vecHeld.clear();
    h.Close();
    EXPECT_TRUE(::MoveFileW((folder / L"a").c_str(), (folder / L"a2").c_str()));
}
}
