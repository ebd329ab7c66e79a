#include "app/UpdateRun.h"

#include "TestSupport.h"

#include "app/ResumeService.h"
#include "installer/ProcessRunner.h"
#include "win/FileCopy.h"
#include "win/PackageCache.h"
#include "win/Security.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace
{
// What a case asks for: a new package, or the resumption of a run that an
// earlier case left recorded (its index), or of a run nobody recorded.
constexpr int kNewPackage = -1;
constexpr int kUnknownRun = -2;
const std::wstring kUnknownGuid = L"{0D0E0A0D-0000-4000-8000-00000000BEEF}";

// What happened to a recorded run before it is taken up again.
enum class EBefore
{
    Nothing,
    CacheHeld, // another update holds the package cache
    CopyCut,   // the package's copy was cut short
    PowerLoss, // its record rewritten as one whose run lost power in its removals, taken up twice since
};

struct RunCase
{
    const char* pszName;
    int nResumeOf = kNewPackage;
    EBefore eBefore = EBefore::Nothing;
    const wchar_t* pszPackage = L"new.msi";
    const wchar_t* pszInstalled = L"{OLD}"; // what is installed when the run starts
    DWORD dwPrepared = ERROR_SUCCESS;
    bool bRestore = true;               // a restore package is found
    DWORD dwRemovalRun = ERROR_SUCCESS; // the exit code of the installer run the removal starts
    DWORD dwInstalled = ERROR_SUCCESS;  // the new package's install
    DWORD dwRestored = ERROR_SUCCESS;   // the restore package's install
    DWORD dwKept = ERROR_SUCCESS;
    // What the run does: its exit code, its steps, its log ("<run>" stands for
    // the run's folder, "<guid>" for its GUID, "<user>" for the SID of the
    // user whose update it is) and whether its record stays.
    struct
    {
        DWORD dwExit;
        std::wstring strSteps, strLog;
        bool bPending;
    } out;
};

const RunCase* g_pCase = nullptr;
std::wstring g_strTrace;          // "|Step(what it was asked)..."
std::wstring g_strInstalled;      // what GetProductCode finds now
std::wstring g_strRun, g_strGuid; // the run's folder, as the package check made it

void Record(const std::wstring& strStep) { g_strTrace += L"|" + strStep; }

Sha256 DigestOf(const std::string& bytes)
{
    Sha256 digest = {};
    CSha256 sha;
    EXPECT_TRUE(sha.Add(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()) && sha.Finish(digest));
    return digest;
}

// A copy of a package in the run's folder, as the checks leave it.
CopiedFile MakeCopy(CWorkFolder& work, const wchar_t* pszFolder, const std::wstring& strName)
{
    CHandle hFolder;
    std::wstring strFolder;
    EXPECT_EQ(work.OpenSubFolder(pszFolder, hFolder, strFolder), ERROR_SUCCESS);
    const std::string bytes = "the package " + Utf8(strName);
    WriteBytes(strFolder + L"\\" + strName, bytes);
    return CopiedFile{strFolder + L"\\" + strName, DigestOf(bytes)};
}

// Each step records what it was asked and answers as the case says; the
// installs change what GetProductCode finds.
const UpdateSteps kSteps = {
    .pfnGetProductCode = [] { return Record(L"GetProductCode"), g_strInstalled; },
    .pfnGetInstallLocation = [] { return Record(L"GetInstallLocation"), std::wstring(L"D:\\Vimo\\"); },
    .pfnPreparePackage =
        [](const std::wstring& strPackage, const std::wstring& strInstalled, CWorkFolder& work,
           PreparedPackage& prepared) {
            Record(L"PreparePackage(" + strPackage + L"," + strInstalled + L")");
            prepared.copy = MakeCopy(work, kPackageFolder, strPackage.substr(strPackage.rfind(L'\\') + 1));
            prepared.identity.strProductCode = IsInstallerPackageName(strPackage) ? L"{NEW}" : L"";
            g_strRun = work.Path();
            g_strGuid = work.Guid();
            return g_pCase->dwPrepared;
        },
    .pfnFindRestorePackage =
        [](const std::wstring& strInstalled, const Signer&, CWorkFolder& work, RestorePackage& restore) {
            Record(L"FindRestorePackage(" + strInstalled + L")");
            if (!g_pCase->bRestore)
                return restore.strWhyNone = L"none kept", false;
            restore.copy = MakeCopy(work, kRestoreFolder, L"old.msi");
            restore.strFrom = L"the kept package";
            return true;
        },
    .pfnRemoveEarlierVersions =
        [](CInstallerSession&, const ProductList& list) {
            Record(L"RemoveEarlierVersions(" + std::to_wstring(list.m_vecProducts.size()) + L")");
        },
    .pfnRemoveLeftovers =
        [](CWorkFolder&, const std::wstring& strSid) {
            return Record(L"RemoveLeftovers(" + strSid + L")"), std::vector<std::wstring>();
        },
    .pfnGetUninstallString = [] { return Record(L"GetUninstallString"), std::wstring(L"MsiExec.exe /X{OLD}"); },
    // The removal starts an installer run through the session, which learns
    // from its exit code whether a restart is needed.
    .pfnUninstallProduct =
        [](CInstallerSession& session, const wchar_t* pszCommand, const std::wstring& strCode) {
            DWORD dwExitCode = 0;
            const DWORD dwStarted = session.Run(L"C:\\windows\\system32\\msiexec.exe", pszCommand, L"C:\\", dwExitCode);
            Record(L"UninstallProduct(" + std::wstring(pszCommand) + L"," + strCode + L")" +
                   (dwStarted == ERROR_SUCCESS ? L"" : L" not started"));
            g_strInstalled.clear();
        },
    .pfnInstallPackage =
        [](CInstallerSession&, const std::wstring& strPackage, const std::wstring& strDir) {
            Record(L"InstallPackage(" + strPackage + L"," + strDir + L")");
            const bool bRestore = strPackage.ends_with(L"\\Restore\\old.msi");
            const DWORD dwExitCode = bRestore ? g_pCase->dwRestored : g_pCase->dwInstalled;
            if (IsInstalled(dwExitCode))
                g_strInstalled = bRestore ? L"{OLD}" : L"{NEW}";
            return dwExitCode;
        },
    .pfnKeepPackage =
        [](const CopiedFile& copy, const std::wstring& strCode, bool bInstallerPackage) {
            Record(L"KeepPackage(" + copy.strPath + L"," + strCode + (bInstallerPackage ? L",msi" : L",exe") +
                   (DigestOf(ReadBytes(copy.strPath)) == copy.digest ? L"" : L",another digest") + L")");
            return g_pCase->dwKept;
        },
    .pfnLaunchApplication = [](const std::wstring& strDir) { Record(L"Launch(" + strDir + L")"); },
};

std::wstring RecordKey(const std::wstring& strGuid) { return std::wstring(kUpdaterKey) + L"\\Runs\\" + strGuid; }

bool IsRecorded(const std::wstring& strGuid)
{
    return CMyRegKey().Open(HKEY_LOCAL_MACHINE, RecordKey(strGuid).c_str()) == ERROR_SUCCESS;
}

std::wstring Expand(std::wstring text, const std::wstring& strRun, const std::wstring& strGuid)
{
    for (const auto& [pszMark, strValue] : {std::pair{L"<run>", strRun}, {L"<guid>", strGuid}, {L"<user>", UserSid()}})
        for (size_t n = 0; (n = text.find(pszMark, n)) != std::wstring::npos; n += strValue.size())
            text.replace(n, wcslen(pszMark), strValue);
    return text;
}

std::wstring Prepared(const wchar_t* pszPackage)
{
    return L"|GetProductCode|GetInstallLocation|PreparePackage(C:\\Temp\\" + std::wstring(pszPackage) + L",{OLD})";
}
const std::wstring kPlanned = Prepared(L"new.msi") + L"|FindRestorePackage({OLD})";
const std::wstring kRemovals = L"|RemoveEarlierVersions(8)|RemoveLeftovers()|GetUninstallString"
                               L"|UninstallProduct(MsiExec.exe /X{OLD},{OLD})";
const std::wstring kInstall = L"|InstallPackage(<run>\\Package\\new.msi,D:\\Vimo\\)";
const std::wstring kRestore = L"|InstallPackage(<run>\\Restore\\old.msi,D:\\Vimo\\)";
const std::wstring kKeptNew = L"|KeepPackage(<run>\\Package\\new.msi,{NEW},msi)|Launch(D:\\Vimo\\)";
const std::wstring kFound = L"Restore package: the kept package\r\n";
const std::wstring kBothFailed = L"Install failed (1603); restore failed (1605)\r\n";
const std::wstring kNotStarted = L"Application not started: the install failed\r\n";
std::wstring Retried(const wchar_t* pszCode)
{
    return kNotStarted + L"Update to be tried again at the next start (" + pszCode + L")\r\n";
}

// In order: a resumption takes up what the run before it recorded, before
// the next run records its own, as the start of the program does.
const RunCase kCases[] = {
    {.pszName = "Installed", .out = {0, kPlanned + kRemovals + kInstall + kKeptNew, kFound, false}},
    {.pszName = "RestoredAfterAFailedInstall",
     .dwInstalled = ERROR_INSTALL_FAILURE,
     .dwKept = ERROR_PATH_NOT_FOUND,
     .out = {ERROR_INSTALL_FAILURE,
             kPlanned + kRemovals + kInstall + kRestore +
                 L"|KeepPackage(<run>\\Restore\\old.msi,{OLD},msi)|Launch(D:\\Vimo\\)",
             kFound + L"Install failed (1603); restored {OLD} from the kept package\r\nPackage not kept (3)\r\n",
             false}},
    {.pszName = "RestoreFailsToo",
     .dwInstalled = ERROR_INSTALL_FAILURE,
     .dwRestored = ERROR_UNKNOWN_PRODUCT,
     .out = {ERROR_INSTALL_FAILURE, kPlanned + kRemovals + kInstall + kRestore, kFound + kBothFailed + Retried(L"1603"),
             true}},
    {.pszName = "ResumeWhileAnotherUpdateRuns",
     .nResumeOf = 2,
     .eBefore = EBefore::CacheHeld,
     .out = {ERROR_INSTALL_ALREADY_RUNNING, L"", L"Resume refused: another update is in progress: <guid>\r\n", true}},
    {.pszName = "ResumeAfterTheRestoreFailed",
     .nResumeOf = 2,
     .pszInstalled = L"",
     .out = {0, L"|GetProductCode" + kInstall + kKeptNew, L"Update resumed: <run>\r\n", false}},
    {.pszName = "InstallEndsWithARefusalCode",
     .bRestore = false,
     .dwInstalled = ERROR_INSTALL_PACKAGE_INVALID,
     .out = {ERROR_INSTALL_FAILURE, kPlanned + kRemovals + kInstall,
             L"No restore package: none kept\r\n" + Retried(L"1620"), true}},
    {.pszName = "ResumeOfACutCopy",
     .nResumeOf = 5,
     .eBefore = EBefore::CopyCut,
     .pszInstalled = L"",
     .out = {ERROR_FILE_CORRUPT, L"|GetProductCode",
             L"Update resumed: <run>\r\nResume refused: the package's copy does not match its record: <guid>\r\n",
             false}},
    {.pszName = "RestartAskedByTheRemoval",
     .pszPackage = L"setup.exe",
     .dwRemovalRun = ERROR_SUCCESS_REBOOT_REQUIRED,
     .out = {ERROR_SUCCESS_REBOOT_REQUIRED,
             Prepared(L"setup.exe") + L"|FindRestorePackage({OLD})" + kRemovals +
                 L"|InstallPackage(<run>\\Package\\setup.exe,D:\\Vimo\\)"
                 L"|GetProductCode|KeepPackage(<run>\\Package\\setup.exe,{NEW},exe)|Launch(D:\\Vimo\\)",
             kFound, false}},
    {.pszName = "HeldByAnotherInstallation",
     .dwInstalled = ERROR_INSTALL_ALREADY_RUNNING,
     .out = {ERROR_INSTALL_ALREADY_RUNNING, kPlanned + kRemovals + kInstall, kFound + Retried(L"1618"), true}},
    {.pszName = "ResumeOfAThirdStartAfterAPowerLoss",
     .nResumeOf = 8,
     .eBefore = EBefore::PowerLoss,
     .pszInstalled = L"",
     .dwInstalled = ERROR_INSTALL_FAILURE,
     .dwRestored = ERROR_UNKNOWN_PRODUCT,
     .out = {ERROR_INSTALL_FAILURE,
             L"|GetProductCode|RemoveEarlierVersions(8)|RemoveLeftovers(<user>)|GetUninstallString"
             L"|UninstallProduct(MsiExec.exe /X{OLD},{OLD})" +
                 kInstall + kRestore + L"|GetProductCode",
             L"Update resumed: <run>\r\n" + kBothFailed + kNotStarted +
                 L"Update given up after 3 starts; installed: nothing\r\n",
             false}},
    {.pszName = "PackageRefused",
     .dwPrepared = ERROR_PRODUCT_VERSION,
     .out = {ERROR_PRODUCT_VERSION, Prepared(L"new.msi"), L"", false}},
    {.pszName = "ResumeOfAnUnknownRun",
     .nResumeOf = kUnknownRun,
     .out = {ERROR_NOT_FOUND, L"", L"Resume refused: no record of this run: <guid>\r\n", false}},
};

// The decisions of whole runs, against the real record and resume service of
// the prefix, each run carried out with steps that only record.
TEST(UpdateRunTest, DecidesWhatToInstallRestoreKeepAndReport)
{
    const SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, [](const ChildProgram&, DWORD& dwExitCode) {
        dwExitCode = g_pCase->dwRemovalRun;
        return DWORD{ERROR_SUCCESS};
    });
    std::vector<std::pair<std::wstring, std::wstring>> vecRuns; // each case's run folder and GUID
    for (const RunCase& c : kCases)
    {
        SCOPED_TRACE(c.pszName);
        g_pCase = &c;
        g_strTrace.clear();
        g_strInstalled = c.pszInstalled;
        g_strRun.clear();
        g_strGuid.clear();
        auto [strRun, strGuid] = c.nResumeOf >= 0 ? vecRuns[c.nResumeOf] : std::pair{std::wstring(), kUnknownGuid};
        CWorkFolder other;
        ASSERT_TRUE(c.eBefore != EBefore::CacheHeld || other.Create() == ERROR_SUCCESS);
        if (c.eBefore == EBefore::CopyCut)
            WriteBytes(strRun + L"\\Package\\new.msi", "the pack");
        if (c.eBefore == EBefore::PowerLoss)
        {
            CMyRegKey key;
            ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, RecordKey(strGuid).c_str(), 0, KEY_WRITE), ERROR_SUCCESS);
            ASSERT_EQ(key.SetQwordValue(L"Phase", static_cast<ULONGLONG>(EPhase::Removing)), ERROR_SUCCESS);
            ASSERT_EQ(key.SetQwordValue(L"Starts", 2), ERROR_SUCCESS);
        }
        const LogCapture log;
        CQuietRun events;
        DWORD dwExit = 0;
        bool bPending = false;
        {
            CUpdateRun run(c.nResumeOf == kNewPackage ? UpdateRequest{std::wstring(L"C:\\Temp\\") + c.pszPackage, L""}
                                                      : UpdateRequest{L"", strGuid},
                           events, kSteps);
            dwExit = events.Carry(run);
            bPending = run.IsPending();
        }
        if (c.nResumeOf == kNewPackage)
        {
            strRun = g_strRun;
            strGuid = g_strGuid;
        }
        vecRuns.emplace_back(strRun, strGuid);

        EXPECT_EQ(dwExit, c.out.dwExit);
        EXPECT_EQ(g_strTrace, Expand(c.out.strSteps, strRun, strGuid));
        EXPECT_EQ(log.Bytes(), Utf8(Expand(c.out.strLog, strRun, strGuid)));
        EXPECT_EQ(bPending, c.out.bPending);
        EXPECT_EQ(IsRecorded(strGuid), c.out.bPending);
    }
}

// A signed updater's copy, which the service would start elevated, must carry
// its signer; this test program carries none.
TEST(RunRecordTest, BeginsNothingWhenTheUpdatersCopyLacksItsSigner)
{
    CWorkFolder work;
    UpdatePlan plan;
    Signer own;
    own.subject = {0x30, 0x00};
    CRunRecord record;
    EXPECT_EQ(record.Begin(work, plan, own), kErrorInvalidImageHash);
    EXPECT_FALSE(record.IsPending() || IsRecorded(work.Guid()));
    EXPECT_NE(CMyRegKey().Open(HKEY_LOCAL_MACHINE,
                               (L"System\\CurrentControlSet\\Services\\LumetUpdate-" + work.Guid()).c_str()),
              ERROR_SUCCESS);
}

// Every run registers a service of its own: one that another run left behind
// (its record gone, the service marked for deletion while held) must not keep
// the next from being registered.
TEST(RunRecordTest, EachRunsServiceIsRegisteredBesideAnotherRunsOne)
{
    const std::wstring strFirst = L"{C0DE00AA-5A7E-4C1D-9B2A-0000000000AA}",
                       strSecond = L"{C0DE00BB-5A7E-4C1D-9B2A-0000000000BB}";
    EXPECT_EQ(RegisterResumeService(strFirst, L"C:\\Runs\\LumetUpdate.exe"), 0u);
    EXPECT_EQ(RegisterResumeService(strSecond, L"C:\\Runs\\LumetUpdate.exe"), 0u);
    for (const std::wstring& strGuid : {strFirst, strSecond})
    {
        EXPECT_EQ(DeleteResumeService(strGuid), 0u);
        EXPECT_EQ(DeleteResumeService(strGuid), 0u) << "a service already gone is no failure";
    }
}
}
