#include "installer/PackageCheck.h"

#include "TestSupport.h"

#include "installer/RestorePackage.h"
#include "win/FileHandles.h"
#include "win/ScopedHandle.h"
#include "win/Signature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace
{
// The packages and programs of make-check-packages.sh.
std::wstring Fixture(const wchar_t* pszName) { return FromUnix(LUMET_CHECK_PACKAGES_DIR) + L"\\" + pszName; }

// A staging folder opened as the clean-up opens its own.
CHandle OpenStaging(const std::wstring& strPath)
{
    return CHandle(::CreateFileW(strPath.c_str(), FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | DELETE | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                 nullptr));
}

Signer SignerOf(const std::wstring& strPath)
{
    CHandle h(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    Signer signer;
    bool bRevocationChecked = true;
    EXPECT_EQ(VerifyFileSignature(strPath, h.Get(), signer, bRevocationChecked), 0u) << Utf8(strPath);
    return signer;
}

template <typename Bytes>
std::string Hex(const Bytes& bytes)
{
    std::string text;
    for (const BYTE b : bytes)
        text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
    return text;
}

// Calls fn on a thread of its own: false when it has not returned within a
// minute (the thread keeps fn, and what it holds, to the end of the process).
bool ReturnsWithinAMinute(std::function<void()> fn)
{
    auto* pFn = new std::function<void()>(std::move(fn));
    const CHandle hThread(::CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            const std::unique_ptr<std::function<void()>> pOwned(static_cast<std::function<void()>*>(p));
            (*pOwned)();
            return 0;
        },
        pFn, 0, nullptr));
    return ::WaitForSingleObject(hThread.Get(), 60000) == WAIT_OBJECT_0;
}

// Starts the report program at strExe, suspended; renames it to strMovedTo and
// copies strReplacement to its name before letting it run (when given).
std::string RunSignerReport(const std::wstring& strExe, const std::wstring& strMovedTo = L"",
                            const std::wstring& strReplacement = L"")
{
    std::wstring strCommand = L"\"" + strExe + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(strExe.c_str(), strCommand.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                          nullptr, &si, &pi))
        return "cannot start";
    CHandle hProcess(pi.hProcess), hThread(pi.hThread);
    if (!strMovedTo.empty())
    {
        EXPECT_TRUE(::MoveFileW(strExe.c_str(), strMovedTo.c_str()));
        EXPECT_TRUE(strReplacement.empty() || ::CopyFileW(strReplacement.c_str(), strExe.c_str(), TRUE));
    }
    ::ResumeThread(hThread.Get());
    EXPECT_EQ(::WaitForSingleObject(hProcess.Get(), 60000), WAIT_OBJECT_0);
    return ReadBytes(strExe + L".signer");
}

TEST(PackageCheckTest, OnlyFullPathsOfAFileAreTaken)
{
    const struct
    {
        const wchar_t* pszPackage;
        DWORD dwExpected;
    } cases[] = {
        {L"", ERROR_INVALID_COMMAND_LINE},
        {L"C:\\Temp\\Vimo Lumet 4.0.msi", ERROR_SUCCESS},
        {L"\\\\server\\share\\Vimo\\Setup.exe", ERROR_SUCCESS},
        {L"Vimo.msi", ERROR_BAD_PATHNAME},
        {L"C:Vimo.msi", ERROR_BAD_PATHNAME},
        {L"\\Temp\\Vimo.msi", ERROR_BAD_PATHNAME},
        {L"C:\\Temp\\", ERROR_BAD_PATHNAME},
        {L"\\\\server\\Vimo.msi", ERROR_BAD_PATHNAME},
        {L"\\\\server\\share\\", ERROR_BAD_PATHNAME},
        {L"\\\\?\\C:\\Temp\\Vimo.msi", ERROR_BAD_PATHNAME},
        {L"\\\\.\\C:\\Temp\\Vimo.msi", ERROR_BAD_PATHNAME},
        {L"C:\\Temp\\Vimo.msi:hidden", ERROR_BAD_PATHNAME},
        {L"C:\\Temp/..\\Vimo.msi", ERROR_BAD_PATHNAME},
        {L"C:\\Temp\\*.msi", ERROR_BAD_PATHNAME},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckPackagePath(c.pszPackage), c.dwExpected) << Utf8(c.pszPackage);
}

// The copy is made with FILE_CREATE and shared with nobody while it is
// written: what is checked and installed is what was read from the package.
TEST(PackageCheckTest, CopyTakesTheFileItselfUnderItsOwnNameAndRefusesAnythingElse)
{
    ScratchFolder folder(L"package");
    const std::wstring strPackage = folder / L"Vimo Lumet 4.0.msi";
    const std::string bytes(300000, 'p');
    WriteBytes(strPackage, bytes);
    const struct
    {
        const char* pszLabel;
        std::wstring strArgument;
        bool bHeldForWriting;
        bool bNameTaken; // a file of that name is in the folder already
        DWORD dwExpected;
    } cases[] = {
        {"the file", strPackage, false, false, ERROR_SUCCESS},
        {"another case, a trailing dot", folder / L"VIMO LUMET 4.0.MSI.", false, false, ERROR_SUCCESS},
        {"a device", folder / L"NUL", false, false, ERROR_INSTALL_PACKAGE_OPEN_FAILED},
        {"open for writing elsewhere", strPackage, true, false, ERROR_INSTALL_PACKAGE_OPEN_FAILED},
        {"the name taken in the folder", strPackage, false, true, ERROR_ALREADY_EXISTS},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        ScratchFolder staging(L"staging");
        if (c.bNameTaken)
            WriteBytes(staging / L"Vimo Lumet 4.0.msi", "planted");
        CHandle hStaging = OpenStaging(staging.Path());
        const CCreateRecorder created;
        CHandle hWriter(c.bHeldForWriting
                            ? ::CreateFileW(strPackage.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr)
                            : nullptr);
        CopiedFile copy{L"untouched"};
        EXPECT_EQ(CopyPackage(c.strArgument, hStaging.Get(), staging.Path(), copy), c.dwExpected);
        if (c.dwExpected == ERROR_SUCCESS)
        {
            EXPECT_EQ(copy.strPath, staging / L"Vimo Lumet 4.0.msi");
            EXPECT_TRUE(ReadBytes(copy.strPath) == bytes);
            EXPECT_EQ(
                Hex(copy.digest),
                "3c54fde5f6182f610e8a6d0dbcf58a900fc7fd17ec3178d8e30d709dcbc434b5"); // the digest of the bytes written
            std::vector<ULONG> vecMadeSharing;                                       // ~0: made otherwise than anew
            for (const CreateCall& call : created.vecCalls)
                if (call.ulDisposition != FILE_OPEN)
                    vecMadeSharing.push_back(call.ulDisposition == FILE_CREATE ? call.ulShare : ~0UL);
            EXPECT_EQ(vecMadeSharing, std::vector<ULONG>{0});
        }
        else
        {
            EXPECT_EQ(copy.strPath, L"untouched");
            EXPECT_EQ(Exists(staging / L"Vimo Lumet 4.0.msi"), c.bNameTaken);
            if (c.bNameTaken)
            {
                EXPECT_EQ(ReadBytes(staging / L"Vimo Lumet 4.0.msi"), "planted");
            }
        }
    }
}

TEST(PackageCheckTest, InstallerPackagesMustBeWholeAndHoldAllTheirFiles)
{
    const struct
    {
        const wchar_t* pszPackage;
        DWORD dwExpected;
    } cases[] = {
        {L"new.msi", ERROR_SUCCESS},
        {L"publisher.msi", ERROR_SUCCESS},
        {L"external.msi", ERROR_INSTALL_SOURCE_ABSENT},
        {L"uncompressed.msi", ERROR_INSTALL_SOURCE_ABSENT},
        {L"nested.msi", ERROR_INSTALL_SOURCE_ABSENT},
        {L"missing-cab.msi", ERROR_INSTALL_SOURCE_ABSENT},
        {L"unmarked-cab.msi", ERROR_INSTALL_SOURCE_ABSENT},
        {L"half.msi", ERROR_INSTALL_PACKAGE_INVALID},
        {L"short.msi", ERROR_INSTALL_PACKAGE_INVALID}, // Wine's reader never returns on it
        {L"text.msi", ERROR_INSTALL_PACKAGE_INVALID},
        {L"program.msi", ERROR_INSTALL_PACKAGE_INVALID},
    };
    for (const auto& c : cases)
    {
        const auto pResult = std::make_shared<DWORD>();
        ASSERT_TRUE(ReturnsWithinAMinute([=] { *pResult = CheckInstallerPackage(Fixture(c.pszPackage)); }))
            << Utf8(c.pszPackage);
        EXPECT_EQ(*pResult, c.dwExpected) << Utf8(c.pszPackage);
    }
}

// The publisher's authority is among the machine's trusted roots, as on a
// machine the updater is deployed to, and so are two others that issued a
// certificate of the publisher's exact name to someone else, one of them
// under the publisher's authority's exact name: the issuer's name and key
// tell them apart. An authority of the user's own making, trusted in
// the user's own store, makes no chain the machine trusts.
TEST(PackageCheckTest, PackagesMustBeSignedByTheUpdatersPublisherThroughAChainTheMachineTrusts)
{
    // Before the first chain is built: the system reads its stores once.
    TrustRoot(HKEY_LOCAL_MACHINE, Fixture(L"ca.der"));
    TrustRoot(HKEY_LOCAL_MACHINE, Fixture(L"other-ca.der"));
    TrustRoot(HKEY_LOCAL_MACHINE, Fixture(L"twin-ca.der"));
    TrustRoot(HKEY_CURRENT_USER, Fixture(L"forged-ca.der"));
    const Signer publisher = SignerOf(Fixture(L"publisher.exe"));
    ASSERT_FALSE(publisher.IsEmpty());
    const struct
    {
        const wchar_t* pszPackage;
        bool bSignedUpdater;
        DWORD dwExpected;
    } cases[] = {
        {L"publisher.exe", true, ERROR_SUCCESS},
        {L"publisher.msi", true, ERROR_SUCCESS},
        {L"renewed.exe", true, ERROR_SUCCESS},
        {L"near.msi", true, ERROR_INSTALL_PACKAGE_REJECTED}, // the same name, another organisation
        {L"other.exe", true, ERROR_INSTALL_PACKAGE_REJECTED},
        {L"impostor.exe", true, ERROR_INSTALL_PACKAGE_REJECTED},
        {L"twin.exe", true, ERROR_INSTALL_PACKAGE_REJECTED},
        {L"app.exe", true, kErrorInvalidImageHash},
        {L"tampered.exe", true, kErrorInvalidImageHash},
        {L"appended.exe", true, kErrorInvalidImageHash}, // bytes inside the certificate table
        {L"trailing.exe", true, kErrorInvalidImageHash}, // and after it
        {L"forged.exe", true, kErrorInvalidImageHash},
        {L"forged.msi", true, kErrorInvalidImageHash},
        {L"new.msi", false, ERROR_SUCCESS},
    };
    for (const auto& c : cases)
    {
        bool bRevocationChecked = true;
        EXPECT_EQ(
            CheckPackageSigner(Fixture(c.pszPackage), c.bSignedUpdater ? publisher : Signer(), bRevocationChecked),
            c.dwExpected)
            << Utf8(c.pszPackage) << (c.bSignedUpdater ? " for a signed updater" : " for an unsigned updater");
    }
}

// The installed release, installed from C:\Sources: a Windows Installer
// package must be a newer or the same release of its product; a restore
// package must be a whole package of it (of the publisher, for a signed
// updater), from its install source, else from the installer's cache.
TEST(InstalledReleaseTest, PackagesAreComparedWithItAndOnlyAWholePackageOfItRestoresIt)
{
    TrustRoot(HKEY_LOCAL_MACHINE, Fixture(L"ca.der"));
    const std::wstring strCode = L"{C0DE0001-5A7E-4C1D-9B2A-000000000001}", strSource = L"C:\\Sources\\installed.msi";
    MakeFolders(L"C:\\Sources");
    ASSERT_TRUE(::CopyFileW(Fixture(L"installed.msi").c_str(), strSource.c_str(), FALSE));
    ASSERT_EQ(RunAndWait(L"msiexec.exe /i " + strSource + L" /qn"), 0u);
    const std::wstring strCached = GetInstalledProductProperty(strCode, L"LocalPackage");
    ASSERT_FALSE(strCached.empty());

    const std::pair<const wchar_t*, DWORD> releases[] = {{L"new.msi", ERROR_SUCCESS},
                                                         {L"installed.msi", ERROR_SUCCESS},
                                                         {L"old.msi", ERROR_PRODUCT_VERSION},
                                                         {L"foreign.msi", ERROR_PATCH_TARGET_NOT_FOUND}};
    for (const auto& [pszPackage, dwExpected] : releases)
    {
        PackageIdentity identity;
        bool bCompared = false;
        ASSERT_TRUE(ReadPackageIdentity(Fixture(pszPackage), identity)) << Utf8(pszPackage);
        EXPECT_EQ(CheckRelease(identity, strCode, bCompared), dwExpected) << Utf8(pszPackage);
        EXPECT_TRUE(bCompared);
    }

    const struct
    {
        const wchar_t* pszSource; // what lies at the install source now
        bool bSignedUpdater, bFromSource;
    } candidates[] = {
        {L"installed.msi", false, true},
        {L"foreign.msi", false, false},            // another product's
        {L"installed-stripped.msi", false, false}, // without its cabinet, as Windows caches it
        {L"installed-short.msi", true, false},     // cut short: its signature check would never return
    };
    for (const auto& c : candidates)
    {
        SCOPED_TRACE(Utf8(c.pszSource));
        ASSERT_TRUE(::CopyFileW(Fixture(c.pszSource).c_str(), strSource.c_str(), FALSE));
        struct Search
        {
            Signer own;
            CWorkFolder work;
            RestorePackage restore;
            bool bFound = false;
        };
        const auto p = std::make_shared<Search>();
        p->own = c.bSignedUpdater ? SignerOf(Fixture(L"publisher.exe")) : Signer();
        ASSERT_TRUE(ReturnsWithinAMinute(
            [p, strCode] { p->bFound = FindRestorePackage(strCode, p->own, p->work, p->restore); }));
        EXPECT_TRUE(p->bFound) << Utf8(p->restore.strWhyNone);
        EXPECT_EQ(p->restore.strFrom, c.bFromSource ? strSource : strCached);
    }
}

// A user starts the updater from a folder of theirs, then renames the running
// program away and puts another file at its name before it reads its own
// signature: the signer must still be that of the running image, or none may
// be trusted at all.
TEST(OwnSignerTest, IsReadFromTheRunningImageNotFromWhatHasItsNameNow)
{
    TrustRoot(HKEY_LOCAL_MACHINE, Fixture(L"ca.der"));
    const std::string publisher = "0 " + Hex(SignerOf(Fixture(L"publisher.exe")).subject);
    ASSERT_NE(Hex(SignerOf(Fixture(L"other.exe")).subject), Hex(SignerOf(Fixture(L"publisher.exe")).subject));
    ScratchFolder folder(L"own");
    const std::wstring strExe = folder / L"LumetUpdate.exe";
    const auto Place = [&](const wchar_t* pszFixture) {
        ::DeleteFileW(strExe.c_str());
        ::DeleteFileW((strExe + L".signer").c_str());
        ::DeleteFileW((folder / L"moved.exe").c_str());
        EXPECT_TRUE(::CopyFileW(Fixture(pszFixture).c_str(), strExe.c_str(), FALSE));
    };

    Place(L"signer.exe");
    EXPECT_EQ(RunSignerReport(strExe), "0 ");
    Place(L"signer-publisher.exe");
    EXPECT_EQ(RunSignerReport(strExe), publisher);

    // On Windows the image is found under its new name; Wine keeps no track
    // of the rename, and the program then trusts no signer.
    Place(L"signer-publisher.exe");
    std::string report = RunSignerReport(strExe, folder / L"moved.exe", Fixture(L"signer-other.exe"));
    EXPECT_TRUE(report == publisher || !report.starts_with("0 ")) << report;
    Place(L"signer-publisher.exe");
    report = RunSignerReport(strExe, folder / L"moved.exe", Fixture(L"signer.exe"));
    EXPECT_TRUE(report == publisher || !report.starts_with("0 ")) << report;
}

// Windows looks for a DLL that is not one of its known ones beside the
// program first; the prefix is told to do so for wintrust.dll, as Wine
// otherwise prefers its own.
TEST(SignatureTest, AWintrustPlantedBesideTheProgramIsNeverLoaded)
{
    ScratchFolder folder(L"planted");
    const std::wstring strExe = folder / L"checker.exe";
    ASSERT_TRUE(::CopyFileW(Fixture(L"signer.exe").c_str(), strExe.c_str(), TRUE));
    ASSERT_TRUE(::CopyFileW(FromUnix(LUMET_PLANTED_WINTRUST).c_str(), (folder / L"wintrust.dll").c_str(), TRUE));
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\checker.exe\\DllOverrides",
                                L"wintrust", REG_SZ, L"native,builtin", sizeof(L"native,builtin")),
              ERROR_SUCCESS);

    EXPECT_EQ(RunAndWait(L"\"" + strExe + L"\" /verify " + Fixture(L"app.exe")), 0u);
    EXPECT_EQ(ReadBytes(strExe + L".signer"), std::to_string(kErrorInvalidImageHash) + " ");
    EXPECT_FALSE(Exists(folder / L"wintrust.dll.loaded"));
}
}
