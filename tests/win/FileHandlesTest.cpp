#include "win/FileHandles.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace
{
TEST(FileHandlesTest, OnlyNameSurrogatesAndReservedTagsAreLinks)
{
    const struct
    {
        DWORD dwAttributes, dwTag;
        bool bLink;
    } cases[] = {
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_MOUNT_POINT, true},
        {FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK, true},
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0, true}, // as Wine shows a Unix link
        {FILE_ATTRIBUTE_REPARSE_POINT, 2, true},
        {FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_DEDUP, false},
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0x9000001A, false}, // a cloud placeholder
        {FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT, false},                // a tag without the attribute
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsLinkReparsePoint(c.dwAttributes, c.dwTag), c.bLink) << std::hex << c.dwAttributes << " " << c.dwTag;
}

// What was listed is what is opened: an entry that is a link, or that was
// replaced between the listing and the opening, is never opened as what it
// now points to.
TEST(FileHandlesTest, AnEntryIsOpenedOnlyAsWhatTheListingShowed)
{
    ScratchFolder folder(L"handles"), victim(L"handles-victim");
    WriteBytes(victim / L"precious.dat", "victim");
    WriteBytes(victim / L"other.dat", "planted");
    for (const wchar_t* pszFile : {L"file.dat", L"replaced.dat", L"gone.dat"})
        WriteBytes(folder / pszFile, "listed");
    MakeFolders(folder / L"folder");
    MakeFolders(folder / L"swapped");
    ASSERT_TRUE(MakeFolderLink(folder / L"planted", victim.Path()));

    EFolderChain eChain;
    const CHandle hFolder = OpenFolderChain(folder.Path(), 0, eChain);
    std::vector<CFolderEntry> vecEntries;
    ASSERT_TRUE(ListFolder(hFolder.Get(), vecEntries));
    ASSERT_EQ(vecEntries.size(), 6u);

    // Done after the listing, as another user could do it.
    ASSERT_TRUE(
        ::MoveFileExW((victim / L"other.dat").c_str(), (folder / L"replaced.dat").c_str(), MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(::DeleteFileW((folder / L"gone.dat").c_str()));
    ASSERT_TRUE(::MoveFileW((folder / L"swapped").c_str(), (folder / L"away").c_str()));
    ASSERT_TRUE(MakeFolderLink(folder / L"swapped", victim.Path()));

    const std::pair<const wchar_t*, std::vector<EEntryKind>> expected[] = {
        {L"file.dat", {EEntryKind::File}},
        {L"folder", {EEntryKind::Folder}},
        {L"replaced.dat", {EEntryKind::Changed}},
        {L"gone.dat", {EEntryKind::Unopened}},
        // Windows opens a link as itself, Wine opens its target: either way
        // no handle is kept on what it points to.
        {L"swapped", {EEntryKind::Changed, EEntryKind::Link}},
        {L"planted", {EEntryKind::Link}},
    };
    for (const auto& [pszName, vecKinds] : expected)
    {
        SCOPED_TRACE(Utf8(pszName));
        const auto it = std::find_if(vecEntries.begin(), vecEntries.end(),
                                     [&](const CFolderEntry& entry) { return entry.strName == pszName; });
        ASSERT_NE(it, vecEntries.end());
        const COpenedEntry opened = OpenEntry(hFolder.Get(), *it, DELETE);
        EXPECT_NE(std::find(vecKinds.begin(), vecKinds.end(), opened.eKind), vecKinds.end());
        const bool bOwnKind = opened.eKind == EEntryKind::File || opened.eKind == EEntryKind::Folder;
        EXPECT_EQ(opened.h.IsValid(), bOwnKind || (opened.eKind == EEntryKind::Link &&
                                                   IsLinkReparsePoint(opened.dwAttributes, IO_REPARSE_TAG_SYMLINK)));
    }
    EXPECT_EQ(ReadBytes(victim / L"precious.dat"), "victim");
}
}
