#include "installer/PackageCheck.h"

#include "TestSupport.h"

#include "installer/RestorePackage.h"
#include "win/FileHandles.h"
#include "win/Hash.h"
#include "win/ScopedHandle.h"
#include "win/Signature.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace
{
// The packages and programs of make-check-packages.sh.
std::wstring Fixture(const wchar_t* pszName) { return FromUnix(LUMET_CHECK_PACKAGES_DIR) + L"\\" + pszName; }

Signer SignerOf(const std::wstring& strPath)
{
    CHandle h(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    Signer signer;
    bool bRevocationChecked = true;
    EXPECT_EQ(VerifyFileSignature(strPath, h.Get(), signer, bRevocationChecked), 0u) << Utf8(strPath);
    return signer;
}

// What fn returns, called on a thread of its own; nothing when it has not
// returned within a minute (the thread then keeps what fn holds).
template <typename T>
std::optional<T> WithinAMinute(std::function<T()> fn)
{
    const auto p = std::make_shared<std::pair<T, CHandle>>(T{}, ::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread([p, fn] {
        p->first = fn();
        ::SetEvent(p->second.Get());
    }).detach();
    if (::WaitForSingleObject(p->second.Get(), 60000) != WAIT_OBJECT_0)
        return std::nullopt;
    return p->first;
}

TEST(PackageCheckTest, OnlyFullPathsOfAFileAreTaken)
{
    const std::pair<const wchar_t*, DWORD> cases[] = {
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
    for (const auto& [pszPackage, dwExpected] : cases)
        EXPECT_EQ(CheckPackagePath(pszPackage), dwExpected) << Utf8(pszPackage);
}

// The copy is made with FILE_CREATE and shared with nobody while it is
// written: what is checked and installed is what was read from the package.
TEST(PackageCheckTest, CopyTakesTheFileItselfUnderItsOwnNameAndRefusesAnythingElse)
{
    ScratchFolder folder(L"package");
    const std::wstring strPackage = folder / L"Vimo Lumet 4.0.msi";
    const std::string bytes(300000, 'p');
    WriteBytes(strPackage, bytes);
    const Sha256 digest = DigestOf(bytes);
    // What is asked for; whether the package is open for writing elsewhere, and
    // whether a file of its name is in the staging folder already.
    const std::tuple<const char*, std::wstring, bool, bool, DWORD> cases[] = {
        {"the file", strPackage, false, false, ERROR_SUCCESS},
        {"another case, a trailing dot", folder / L"VIMO LUMET 4.0.MSI.", false, false, ERROR_SUCCESS},
        {"a device", folder / L"NUL", false, false, ERROR_INSTALL_PACKAGE_OPEN_FAILED},
        {"open for writing elsewhere", strPackage, true, false, ERROR_INSTALL_PACKAGE_OPEN_FAILED},
        {"the name taken in the folder", strPackage, false, true, ERROR_ALREADY_EXISTS},
    };
    for (const auto& [pszLabel, strArgument, bHeldForWriting, bNameTaken, dwExpected] : cases)
    {
        SCOPED_TRACE(pszLabel);
        ScratchFolder staging(L"staging");
        const std::wstring strCopy = staging / L"Vimo Lumet 4.0.msi";
        if (bNameTaken)
            WriteBytes(strCopy, "planted");
        // Opened as the clean-up opens its own staging folder.
        CHandle hStaging(::CreateFileW(
            staging.Path().c_str(), FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | DELETE | SYNCHRONIZE,
            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        const CCreateRecorder created;
        CHandle hWriter(bHeldForWriting
                            ? ::CreateFileW(strPackage.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr)
                            : nullptr);
        CopiedFile copy;
        EXPECT_EQ(CopyPackage(strArgument, hStaging.Get(), staging.Path(), copy), dwExpected);
        if (dwExpected != ERROR_SUCCESS)
        {
            EXPECT_EQ(Exists(strCopy) ? ReadBytes(strCopy) : "<none>", bNameTaken ? "planted" : "<none>");
            continue;
        }
        EXPECT_EQ(copy.strPath, strCopy);
        EXPECT_TRUE(ReadBytes(strCopy) == bytes && copy.digest == digest);
        std::vector<ULONG> vecMadeSharing; // ~0: made otherwise than anew
        for (const CreateCall& call : created.vecCalls)
            if (call.ulDisposition != FILE_OPEN)
                vecMadeSharing.push_back(call.ulDisposition == FILE_CREATE ? call.ulShare : ~0UL);
        EXPECT_EQ(vecMadeSharing, std::vector<ULONG>{0});
    }
}

TEST(PackageCheckTest, InstallerPackagesMustBeWholeAndHoldAllTheirFiles)
{
    const std::pair<const wchar_t*, DWORD> cases[] = {
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
    for (const auto& [pszPackage, dwExpected] : cases)
        EXPECT_EQ(WithinAMinute<DWORD>([pszPackage] { return CheckInstallerPackage(Fixture(pszPackage)); }), dwExpected)
            << Utf8(pszPackage);
}

// The publisher's authority is among the machine's trusted roots, and so are
// two others that issued a certificate of the publisher's exact name to
// someone else, one of them under the publisher's authority's exact name: the
// issuer's name and key tell them apart. An authority trusted in the user's
// own store makes no chain the machine trusts.
TEST(PackageCheckTest, PackagesMustBeSignedByTheUpdatersPublisherThroughAChainTheMachineTrusts)
{
    // Before the first chain is built: the system reads its stores once.
    TrustRoot(HKEY_LOCAL_MACHINE, Fixture(L"ca.der"));
    TrustRoot(HKEY_LOCAL_MACHINE, Fixture(L"other-ca.der"));
    TrustRoot(HKEY_LOCAL_MACHINE, Fixture(L"twin-ca.der"));
    TrustRoot(HKEY_CURRENT_USER, Fixture(L"forged-ca.der"));
    const Signer publisher = SignerOf(Fixture(L"publisher.exe"));
    ASSERT_FALSE(publisher.IsEmpty());
    const std::pair<const wchar_t*, DWORD> cases[] = {
        {L"publisher.exe", ERROR_SUCCESS},
        {L"publisher.msi", ERROR_SUCCESS},
        {L"renewed.exe", ERROR_SUCCESS},
        {L"near.msi", ERROR_INSTALL_PACKAGE_REJECTED}, // the same name, another organisation
        {L"other.exe", ERROR_INSTALL_PACKAGE_REJECTED},
        {L"impostor.exe", ERROR_INSTALL_PACKAGE_REJECTED},
        {L"twin.exe", ERROR_INSTALL_PACKAGE_REJECTED},
        {L"app.exe", kErrorInvalidImageHash},
        {L"tampered.exe", kErrorInvalidImageHash},
        {L"appended.exe", kErrorInvalidImageHash}, // bytes inside the certificate table
        {L"trailing.exe", kErrorInvalidImageHash}, // and after it
        {L"forged.exe", kErrorInvalidImageHash},
        {L"forged.msi", kErrorInvalidImageHash},
    };
    bool bRevocationChecked = true;
    for (const auto& [pszPackage, dwExpected] : cases)
        EXPECT_EQ(CheckPackageSigner(Fixture(pszPackage), publisher, bRevocationChecked), dwExpected)
            << Utf8(pszPackage);
    EXPECT_EQ(CheckPackageSigner(Fixture(L"new.msi"), Signer(), bRevocationChecked), 0u) << "an unsigned updater";
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

    // What lies at the install source now; whether the updater is signed; whether that is taken.
    const std::tuple<const wchar_t*, bool, bool> candidates[] = {
        {L"installed.msi", false, true},
        {L"foreign.msi", false, false},            // another product's
        {L"installed-stripped.msi", false, false}, // without its cabinet, as Windows caches it
        {L"installed-short.msi", true, false},     // cut short: its signature check would never return
    };
    for (const auto& [pszSource, bSignedUpdater, bFromSource] : candidates)
    {
        ASSERT_TRUE(::CopyFileW(Fixture(pszSource).c_str(), strSource.c_str(), FALSE));
        const Signer own = bSignedUpdater ? SignerOf(Fixture(L"publisher.exe")) : Signer();
        const auto from = WithinAMinute<std::wstring>([strCode, own] {
            CWorkFolder work;
            RestorePackage restore;
            return FindRestorePackage(strCode, own, work, restore) ? restore.strFrom : L"none: " + restore.strWhyNone;
        });
        EXPECT_EQ(from, bFromSource ? strSource : strCached) << Utf8(pszSource);
    }
}

// A user starts the updater from a folder of theirs, renames the running
// program away and puts another file at its name before it reads its own
// signature: the signer must still be that of the running image, or none.
TEST(OwnSignerTest, IsReadFromTheRunningImageNotFromWhatHasItsNameNow)
{
    TrustRoot(HKEY_LOCAL_MACHINE, Fixture(L"ca.der"));
    ScratchFolder folder(L"own");
    const std::wstring strExe = folder / L"LumetUpdate.exe", strMoved = folder / L"moved.exe";
    // The publisher's signer, as the stand-in reports it.
    ASSERT_TRUE(::CopyFileW(Fixture(L"app.exe").c_str(), strExe.c_str(), FALSE));
    ASSERT_EQ(RunAndWait(L"\"" + strExe + L"\" /verify " + Fixture(L"publisher.exe")), 0u);
    const std::string publisher = ReadBytes(strExe + L".signer");
    ASSERT_TRUE(publisher.starts_with("0 ") && publisher.size() > 2) << publisher;
    // What is put at its name once the running program is moved away.
    for (const wchar_t* pszPlaced : {L"", L"other.exe", L"app.exe"})
    {
        SCOPED_TRACE(Utf8(pszPlaced));
        for (const std::wstring& strOld : {strExe, strExe + L".signer", strMoved})
            ::DeleteFileW(strOld.c_str());
        ASSERT_TRUE(::CopyFileW(Fixture(L"publisher.exe").c_str(), strExe.c_str(), FALSE));
        std::wstring strCommand = L"\"" + strExe + L"\" /signer";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(::CreateProcessW(strExe.c_str(), strCommand.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                     nullptr, nullptr, &si, &pi));
        const CHandle hProcess(pi.hProcess), hThread(pi.hThread);
        EXPECT_TRUE(!*pszPlaced || (::MoveFileW(strExe.c_str(), strMoved.c_str()) &&
                                    ::CopyFileW(Fixture(pszPlaced).c_str(), strExe.c_str(), TRUE)));
        ::ResumeThread(hThread.Get());
        EXPECT_EQ(::WaitForSingleObject(hProcess.Get(), 60000), WAIT_OBJECT_0);
        // On Windows the moved image is found under its new name; Wine keeps
        // no track of the rename, and the program then trusts no signer.
        const std::string report = ReadBytes(strExe + L".signer");
        EXPECT_TRUE(report == publisher || (*pszPlaced && !report.starts_with("0 "))) << report;
    }
}

// Windows looks for a DLL that is not one of its known ones beside the
// program first; the prefix is told to do so for wintrust.dll, as Wine
// otherwise prefers its own.
TEST(SignatureTest, AWintrustPlantedBesideTheProgramIsNeverLoaded)
{
    ScratchFolder folder(L"planted");
    const std::wstring strExe = folder / L"checker.exe";
    ASSERT_TRUE(::CopyFileW(Fixture(L"app.exe").c_str(), strExe.c_str(), TRUE));
    ASSERT_TRUE(::CopyFileW(FromUnix(LUMET_PLANTED_WINTRUST).c_str(), (folder / L"wintrust.dll").c_str(), TRUE));
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\checker.exe\\DllOverrides",
                                L"wintrust", REG_SZ, L"native,builtin", sizeof(L"native,builtin")),
              ERROR_SUCCESS);

    EXPECT_EQ(RunAndWait(L"\"" + strExe + L"\" /verify " + Fixture(L"app.exe")), 0u);
    EXPECT_EQ(ReadBytes(strExe + L".signer"), std::to_string(kErrorInvalidImageHash) + " ");
    EXPECT_FALSE(Exists(folder / L"wintrust.dll.loaded"));
}
}
