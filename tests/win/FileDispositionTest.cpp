#include "win/FileDisposition.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
OpenedEntry OpenListed(HANDLE hFolder, const std::wstring& strName, ACCESS_MASK access, FolderEntry& entry)
{
    EXPECT_TRUE(FindEntry(hFolder, strName, entry)) << Utf8(strName);
    return OpenEntry(hFolder, entry, access);
}

// A read-only file that cannot go is left as it was: without DELETE the
// deletion fails after the attribute was cleared, which is put back. (One not
// asked for stays: the pruning's test; one that goes: the folder removal's.)
TEST(FileDispositionTest, AReadOnlyFileThatCannotGoIsLeftAsItWas)
{
    ScratchFolder folder(L"delete");
    WriteBytes(folder / L"ro.dat", "data");
    ASSERT_TRUE(::SetFileAttributesW((folder / L"ro.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    {
        EFolderChain eChain;
        const CHandle hFolder = OpenFolderChain(folder.Path(), 0, eChain);
        FolderEntry entry;
        const OpenedEntry opened = OpenListed(hFolder.Get(), L"ro.dat", FILE_WRITE_ATTRIBUTES, entry);
        ASSERT_EQ(opened.eKind, EEntryKind::File);
        EXPECT_EQ(DeleteByHandle(opened.h.Get(), opened.dwAttributes, true), DWORD{ERROR_ACCESS_DENIED});
    }
    EXPECT_EQ(::GetFileAttributesW((folder / L"ro.dat").c_str()) & FILE_ATTRIBUTE_READONLY,
              DWORD{FILE_ATTRIBUTE_READONLY});
    ::SetFileAttributesW((folder / L"ro.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A first deletion that fails makes DeleteEntry open the entry once more,
// and only the entry that was listed. Wine lets any handle clear the
// attribute, so a handle without DELETE stands in for one that cannot.
TEST(FileDispositionTest, AnEntryIsDeletedOnlyAsListed)
{
    ScratchFolder folder(L"entry");
    for (const bool bSwapped : {false, true})
    {
        SCOPED_TRACE(bSwapped);
        WriteBytes(folder / L"ro.dat", "listed");
        ASSERT_TRUE(::SetFileAttributesW((folder / L"ro.dat").c_str(), FILE_ATTRIBUTE_READONLY));
        EFolderChain eChain;
        const CHandle hFolder = OpenFolderChain(folder.Path(), 0, eChain);
        FolderEntry entry;
        const OpenedEntry opened = OpenListed(hFolder.Get(), L"ro.dat", 0, entry);
        ASSERT_EQ(opened.eKind, EEntryKind::File);
        if (bSwapped)
        {
            ASSERT_TRUE(::MoveFileW((folder / L"ro.dat").c_str(), (folder / L"aside.dat").c_str()));
            WriteBytes(folder / L"ro.dat", "planted");
            ASSERT_TRUE(::SetFileAttributesW((folder / L"ro.dat").c_str(), FILE_ATTRIBUTE_READONLY));
        }
        EXPECT_EQ(DeleteEntry(hFolder.Get(), entry, opened) == ERROR_SUCCESS, !bSwapped);
    }
    EXPECT_EQ(ReadBytes(folder / L"ro.dat"), "planted");
    EXPECT_EQ(ReadBytes(folder / L"aside.dat"), "listed");
}

TEST(FileDispositionTest, AFileMovesIntoAnotherFolderOnlyUnderANewName)
{
    ScratchFolder folder(L"move");
    WriteBytes(folder / L"from\\a.dat", "a");
    WriteBytes(folder / L"to\\taken.dat", "taken");
    EFolderChain eChain;
    const CHandle hFrom = OpenFolderChain(folder / L"from", 0, eChain);
    const CHandle hTo = OpenFolderChain(folder / L"to", 0, eChain);
    const struct
    {
        const wchar_t* pszName;
        DWORD dwExpected;
    } cases[] = {
        {L"taken.dat", ERROR_ALREADY_EXISTS},
        {L"TAKEN.DAT", ERROR_ALREADY_EXISTS},
        {L"moved.dat", ERROR_SUCCESS},
    };
    {
        FolderEntry entry;
        const OpenedEntry opened = OpenListed(hFrom.Get(), L"a.dat", DELETE, entry);
        for (const auto& c : cases)
            EXPECT_EQ(MoveByHandle(opened.h.Get(), hTo.Get(), c.pszName), c.dwExpected) << Utf8(c.pszName);
    }
    EXPECT_EQ(ReadBytes(folder / L"to\\taken.dat"), "taken");
    EXPECT_EQ(ReadBytes(folder / L"to\\moved.dat"), "a");
    EXPECT_FALSE(Exists(folder / L"from\\a.dat"));
}
}
