#include "CleanupTestSupport.h"
#include "TestSupport.h"

#include "cleanup/FolderRemover.h"
#include "win/ScopedHandle.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
// Whether the path waits in the platform's list of deletions at the next
// restart: pairs of source ("\??\C:\...") and target, an empty target meaning
// "delete".
bool IsPendingDeletion(const std::wstring& strPath)
{
    std::vector<wchar_t> data(65536, L'\0');
    DWORD cbData = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                       L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data.data(), &cbData) != ERROR_SUCCESS)
        return false;
    for (const wchar_t* p = data.data(); *p; p += wcslen(p) + 1)
    {
        const std::wstring strSource(p);
        p += strSource.size() + 1;
        if (strSource == L"\\??\\" + strPath && *p == L'\0')
            return true;
    }
    return false;
}

void PlantFiles(const std::wstring& strFolder, const std::vector<std::wstring>& relatives)
{
    for (const std::wstring& strRelative : relatives)
        PlantFile(strFolder + L"\\" + strRelative);
}

// Lets a drive letter name a scratch folder while it lives, so that drive
// roots and another drive's program-files folders can be tried safely.
class MappedDrive
{
public:
    MappedDrive(char chLetter, const std::wstring& strFolder) : m_strRoot{wchar_t(chLetter), L':', L'\\'}
    {
        const std::string drives = UnixPathOf(L"C:\\"); // ".../dosdevices/c:/"
        if (Exists(m_strRoot) || !drives.ends_with("/c:/"))
            return;
        m_device = Wide(drives.substr(0, drives.size() - 3)) + wchar_t(chLetter | 0x20) + L":";
        StartUnixCommand(L"Z:\\bin\\ln -s \"" + Wide(UnixPathOf(strFolder)) + L"\" \"" + m_device + L"\"");
        for (int i = 0; i < 100 && !Exists(m_strRoot); ++i)
            ::Sleep(50);
    }
    ~MappedDrive()
    {
        if (!m_device.empty())
            StartUnixCommand(L"Z:\\bin\\rm -f \"" + m_device + L"\"");
        for (int i = 0; i < 100 && !m_device.empty() && Exists(m_strRoot); ++i)
            ::Sleep(50);
    }
    bool IsMapped() const { return !m_device.empty() && IsFolder(m_strRoot); }
    const std::wstring& Root() const { return m_strRoot; }

private:
    static std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
    std::wstring m_strRoot;
    std::wstring m_device;
};

class FolderRemoverTreeTest : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        PlantFiles(m_folder.Path(), {L"a.txt", L".settings", L"..double-dot", L"no-extension", L"sub\\b.txt",
                                     L"sub\\.hidden\\c.txt", L"sub\\deeper\\deepest\\d.txt"});
        MakeFolders(m_folder / L"empty");
    }
    std::wstring Given() const { return m_folder.Path() + (GetParam() ? L"\\" : L""); }
    ScratchFolder m_folder{L"remover"};
};

TEST_P(FolderRemoverTreeTest, ContentsGoAndTheFolderStays)
{
    PlantFile(m_folder / L"VimoLog_LumetUpdate_0.log"); // directly inside: deleted like any file
    EXPECT_EQ(CFolderRemover().DeleteFolderContents(Given()), CFolderRemover::kNothingHandedOver);
    EXPECT_TRUE(IsEmptyFolder(m_folder.Path()));
    EXPECT_FALSE(IsPendingDeletion(m_folder.Path()));
}

TEST_P(FolderRemoverTreeTest, TreeGoesWithTheFolder)
{
    EXPECT_EQ(CFolderRemover().DeleteFolderTree(Given()), CFolderRemover::kNothingHandedOver);
    EXPECT_FALSE(Exists(m_folder.Path()));
    EXPECT_FALSE(IsPendingDeletion(m_folder.Path()));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutTrailingBackslash, FolderRemoverTreeTest, ::testing::Bool());

TEST(FolderRemoverTest, LogFilesStayAndTheFoldersHoldingThemAreHandedOver)
{
    ScratchFolder folder(L"remover-log");
    const std::wstring root = folder / L"VimoLumet";
    PlantFiles(root, {L"a.txt", L"Log\\VimoLog_LumetUpdate_1.log", L"Log\\other.txt", L"Log\\old\\x.txt",
                      L"VimoLog_LumetUpdate_2\\inner.txt", L"sub\\vimolog_lumetupdate_3.log"});

    EXPECT_EQ(CFolderRemover().DeleteFolderTree(root), CFolderRemover::kHandedOver);
    EXPECT_TRUE(Exists(root + L"\\Log\\VimoLog_LumetUpdate_1.log"));
    EXPECT_TRUE(Exists(root + L"\\VimoLog_LumetUpdate_2\\inner.txt")); // the marker may be in a folder name
    for (const wchar_t* pszGone : {L"\\a.txt", L"\\Log\\other.txt", L"\\Log\\old", L"\\sub"}) // case counts
        EXPECT_FALSE(Exists(root + pszGone)) << Utf8(pszGone);
    EXPECT_TRUE(IsPendingDeletion(root + L"\\Log"));
    EXPECT_TRUE(IsPendingDeletion(root));
    EXPECT_FALSE(IsPendingDeletion(root + L"\\Log\\VimoLog_LumetUpdate_1.log"));
}

TEST(FolderRemoverTest, LockedAndReadOnlyFilesAreHandedOverAndTheRestStillGoes)
{
    ScratchFolder folder(L"remover-stuck");
    const std::wstring root = folder / L"tree";
    PlantFiles(root, {L"a.txt", L"m\\locked.dat", L"m\\z.txt", L"n\\readonly.dat", L"o\\y.txt"});
    CHandle hLocked(::CreateFileW((root + L"\\m\\locked.dat").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hLocked.IsValid());
    const std::wstring readOnly = root + L"\\n\\readonly.dat";
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    const DWORD dwReadOnly = ::GetFileAttributesW(readOnly.c_str());

    EXPECT_EQ(CFolderRemover().DeleteFolderTree(root), CFolderRemover::kHandedOver);
    for (const wchar_t* pszHandedOver : {L"\\m\\locked.dat", L"\\n\\readonly.dat", L"\\m", L"\\n", L""})
        EXPECT_TRUE(IsPendingDeletion(root + pszHandedOver)) << Utf8(pszHandedOver);
    EXPECT_TRUE(Exists(root + L"\\m\\locked.dat"));
    EXPECT_EQ(::GetFileAttributesW(readOnly.c_str()), dwReadOnly); // handed over as it is
    for (const wchar_t* pszGone : {L"\\a.txt", L"\\m\\z.txt", L"\\o"})
        EXPECT_FALSE(Exists(root + pszGone)) << Utf8(pszGone);

    // Directly inside a folder that is emptied, the same.
    const std::wstring top = folder / L"top\\locked.dat";
    PlantFile(top);
    CHandle hTop(::CreateFileW(top.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(CFolderRemover().DeleteFolderContents(folder / L"top"), CFolderRemover::kNothingHandedOver);
    EXPECT_TRUE(IsPendingDeletion(top));
    EXPECT_FALSE(IsPendingDeletion(folder / L"top"));

    hTop.Close();
    hLocked.Close();
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FolderRemoverTest, FolderThatCannotBeListedIsStillHandedOver)
{
    ScratchFolder folder(L"remover-unlisted");
    PlantFile(folder / L"tree\\a.txt");
    // Sharing nothing keeps the folder from being listed or removed now.
    CHandle hHeld(::CreateFileW((folder / L"tree").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    WIN32_FIND_DATAW fd = {};
    ASSERT_EQ(::FindFirstFileW((folder / L"tree\\*.*").c_str(), &fd), INVALID_HANDLE_VALUE);

    EXPECT_EQ(CFolderRemover().DeleteFolderTree(folder / L"tree"), CFolderRemover::kHandedOver);
    EXPECT_TRUE(IsPendingDeletion(folder / L"tree"));
    EXPECT_TRUE(Exists(folder / L"tree\\a.txt"));
}

TEST(FolderRemoverTest, MissingFolderIsLeftAlone)
{
    const std::wstring missing = L"C:\\lumet-tests\\no such folder";
    EXPECT_EQ(CFolderRemover().DeleteFolderContents(missing), CFolderRemover::kNothingHandedOver);
    EXPECT_FALSE(Exists(missing));
    EXPECT_FALSE(IsPendingDeletion(missing));
}

TEST(FolderRemoverTest, ProgramFilesAndDriveRootsAreRefusedUntouched)
{
    ScratchFolder drive(L"remover-drive");
    PlantFiles(drive.Path(), {L"root.txt", L"Program Files\\keep.txt", L"Program Files (x86)\\keep.txt",
                              L"Program Files\\Vimo\\gone.txt"});
    PlantFile(L"C:\\Program Files\\lumet-guard.txt");
    MappedDrive d('D', drive.Path());
    ASSERT_TRUE(d.IsMapped());
    CurrentFolder current(d.Root()); // "" and "\" name the current drive's root
    ASSERT_TRUE(current.IsCurrent());

    CFolderRemover remover;
    for (const wchar_t* pszRefused :
         {L"C:\\Program Files\\", L"D:\\PROGRAM FILES (X86)\\", L"d:\\program files\\", L"D:\\Program Files",
          L"D:\\Program Files (x86)\\\\", L"D:\\", L"D:", L"", L"\\"})
        EXPECT_EQ(remover.DeleteFolderContents(pszRefused), CFolderRemover::kRefused) << Utf8(pszRefused);
    for (const wchar_t* pszRoot : {L"D:\\", L"", L"\\"})
        EXPECT_EQ(remover.DeleteFolderTree(pszRoot), CFolderRemover::kNothingHandedOver) << Utf8(pszRoot);
    for (const wchar_t* pszKept : {L"D:\\root.txt", L"D:\\Program Files\\keep.txt", L"D:\\Program Files (x86)\\keep.txt",
                                   L"C:\\Program Files\\lumet-guard.txt"})
        EXPECT_TRUE(Exists(pszKept)) << Utf8(pszKept);

    // Only those folders themselves are refused.
    EXPECT_EQ(remover.DeleteFolderContents(L"D:\\Program Files\\Vimo"), CFolderRemover::kNothingHandedOver);
    EXPECT_FALSE(Exists(L"D:\\Program Files\\Vimo\\gone.txt"));
    ::DeleteFileW(L"C:\\Program Files\\lumet-guard.txt");
}

// A link to a victim folder elsewhere, planted in the tree as an ordinary
// user could plant it below ProgramData; a second link to an empty folder.
class FolderRemoverLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        PlantFiles(m_victim.Path(), {L"precious.dat", L"inner\\deep.dat"});
        PlantFiles(m_tree.Path(), {L"a.txt", L"sub\\b.txt"});
        ASSERT_TRUE(MakeFolderLink(m_tree / L"planted", m_victim.Path()));
        ASSERT_TRUE(MakeFolderLink(m_tree / L"sub\\planted-empty", m_emptyVictim.Path()));
    }
    void TearDown() override
    {
        // The system's rm removes a link, never its target.
        for (const wchar_t* pszLink : {L"planted", L"sub\\planted-empty"})
        {
            const std::string link = UnixPathOf(m_tree / pszLink);
            if (Exists(m_tree / pszLink))
                StartUnixCommand(L"Z:\\bin\\rm -f \"" + std::wstring(link.begin(), link.end()) + L"\"");
            for (int i = 0; i < 100 && Exists(m_tree / pszLink); ++i)
                ::Sleep(50);
        }
    }
    void ExpectVictimsUntouched()
    {
        EXPECT_EQ(ReadBytes(m_victim / L"precious.dat"), "planted");
        EXPECT_EQ(ReadBytes(m_victim / L"inner\\deep.dat"), "planted");
        EXPECT_TRUE(IsFolder(m_emptyVictim.Path()));
        for (const std::wstring& strPath : {m_victim.Path(), m_victim / L"precious.dat", m_emptyVictim.Path(),
                                            m_tree / L"planted", m_tree / L"sub\\planted-empty"})
            EXPECT_FALSE(IsPendingDeletion(strPath)) << Utf8(strPath);
    }

    ScratchFolder m_victim{L"victim"};
    ScratchFolder m_emptyVictim{L"victim-empty"};
    ScratchFolder m_tree{L"remover-links"};
};

TEST_F(FolderRemoverLinkTest, ContentsAndTreeRemovalNeverEnterALink)
{
    EXPECT_EQ(CFolderRemover().DeleteFolderContents(m_tree.Path()), CFolderRemover::kNothingHandedOver);
    ExpectVictimsUntouched();
    EXPECT_FALSE(Exists(m_tree / L"a.txt"));
    EXPECT_FALSE(Exists(m_tree / L"sub\\b.txt"));

    CFolderRemover().DeleteFolderTree(m_tree.Path());
    ExpectVictimsUntouched();
}

TEST_F(FolderRemoverLinkTest, LinkGivenAsTheFolderOrAboveItIsNotEntered)
{
    CFolderRemover remover;
    for (const wchar_t* pszSuffix : {L"", L"\\"})
    {
        EXPECT_EQ(remover.DeleteFolderContents(m_tree / L"planted" + pszSuffix), CFolderRemover::kRefused);
        EXPECT_EQ(remover.DeleteFolderContents(m_tree / L"planted\\inner" + pszSuffix), CFolderRemover::kRefused);
        EXPECT_EQ(remover.DeleteFolderTree(m_tree / L"planted" + pszSuffix), CFolderRemover::kNothingHandedOver);
    }
    ExpectVictimsUntouched();
}
}
