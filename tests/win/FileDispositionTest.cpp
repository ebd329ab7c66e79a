#include "win/FileDisposition.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
// A first deletion that fails makes DeleteEntry open the entry once more,
// and only the entry that was listed; the read-only attribute cleared for the
// failed deletion is put back. Wine lets any handle clear the attribute, so a
// handle without DELETE stands in for one that cannot delete.
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
        ASSERT_TRUE(FindEntry(hFolder.Get(), L"ro.dat", entry));
        const OpenedEntry opened = OpenEntry(hFolder.Get(), entry, 0);
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
    EXPECT_TRUE(::GetFileAttributesW((folder / L"aside.dat").c_str()) & FILE_ATTRIBUTE_READONLY);
}

// A move never replaces what already has the new name.
TEST(FileDispositionTest, AFileMovesIntoAnotherFolderOnlyUnderANewName)
{
    ScratchFolder folder(L"move");
    WriteBytes(folder / L"from\\a.dat", "a");
    WriteBytes(folder / L"to\\taken.dat", "taken");
    EFolderChain eChain;
    const CHandle hFrom = OpenFolderChain(folder / L"from", 0, eChain);
    const CHandle hTo = OpenFolderChain(folder / L"to", 0, eChain);
    {
        FolderEntry entry;
        ASSERT_TRUE(FindEntry(hFrom.Get(), L"a.dat", entry));
        const OpenedEntry opened = OpenEntry(hFrom.Get(), entry, DELETE);
        EXPECT_EQ(MoveByHandle(opened.h.Get(), hTo.Get(), L"taken.dat"), DWORD{ERROR_ALREADY_EXISTS});
        EXPECT_EQ(MoveByHandle(opened.h.Get(), hTo.Get(), L"moved.dat"), DWORD{ERROR_SUCCESS});
    }
    EXPECT_EQ(ReadBytes(folder / L"to\\taken.dat"), "taken");
    EXPECT_EQ(ReadBytes(folder / L"to\\moved.dat"), "a");
    EXPECT_FALSE(Exists(folder / L"from\\a.dat"));
}
}
