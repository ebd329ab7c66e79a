#include "app/UpdateRun.h"

#include "TestSupport.h"

#include "app/ResumeService.h"
#include "installer/ProcessRunner.h"
#include "win/FileCopy.h"
#include "win/PackageCache.h"
#include "win/Security.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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
    struct
    {
        int nResumeOf = kNewPackage;
        EBefore eBefore = EBefore::Nothing;
        const wchar_t* pszPackage = L"new.msi";
        DWORD dwPrepared = ERROR_SUCCESS;
        bool bRestore = true;               // a restore package is found
        DWORD dwRemovalRun = ERROR_SUCCESS; // the exit code of the installer run the removal starts
        DWORD dwInstalled = ERROR_SUCCESS;  // the new package's install
        DWORD dwRestored = ERROR_SUCCESS;   // the restore package's install
        DWORD dwKept = ERROR_SUCCESS;
    } in;
    // What the run does: its exit code, its steps, its log ("<run>" stands for
    // the run's folder, "<guid>" for its GUID, "<pkg>" for the package's name,
    // "<user>" for the SID of the user whose update a resumed run takes up: a
    // new run is that user's own) and whether its record stays.
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
std::wstring g_strRun, g_strGuid; // the run's folder and GUID

void Record(const std::wstring& strStep) { g_strTrace += L"|" + strStep; }

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
            return g_pCase->in.dwPrepared;
        },
    .pfnFindRestorePackage =
        [](const std::wstring& strInstalled, const Signer&, CWorkFolder& work, RestorePackage& restore) {
            Record(L"FindRestorePackage(" + strInstalled + L")");
            if (!g_pCase->in.bRestore)
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
            const DWORD dwExitCode = bRestore ? g_pCase->in.dwRestored : g_pCase->in.dwInstalled;
            if (IsInstalled(dwExitCode))
                g_strInstalled = bRestore ? L"{OLD}" : L"{NEW}";
            return dwExitCode;
        },
    .pfnKeepPackage =
        [](const CopiedFile& copy, const std::wstring& strCode, bool bInstallerPackage) {
            Record(L"KeepPackage(" + copy.strPath + L"," + strCode + (bInstallerPackage ? L",msi" : L",exe") +
                   (DigestOf(ReadBytes(copy.strPath)) == copy.digest ? L"" : L",another digest") + L")");
            return g_pCase->in.dwKept;
        },
    .pfnLaunchApplication = [](const std::wstring& strDir) { Record(L"Launch(" + strDir + L")"); },
};

std::wstring RecordKey(const std::wstring& strGuid) { return std::wstring(kRunsKey) + L"\\" + strGuid; }

bool IsRecorded(const std::wstring& strGuid)
{
    return CMyRegKey().Open(HKEY_LOCAL_MACHINE, RecordKey(strGuid).c_str()) == ERROR_SUCCESS;
}

std::wstring Expand(std::wstring text)
{
    const std::wstring strUser = g_pCase->in.nResumeOf == kNewPackage ? L"" : UserSid(),
                       strPkg = g_pCase->in.pszPackage;
    for (const auto& [pszMark, strValue] :
         {std::pair{L"<run>", g_strRun}, {L"<guid>", g_strGuid}, {L"<user>", strUser}, {L"<pkg>", strPkg}})
        for (size_t n = 0; (n = text.find(pszMark, n)) != std::wstring::npos; n += strValue.size())
            text.replace(n, wcslen(pszMark), strValue);
    return text;
}

const std::wstring kPrepared = L"|GetProductCode|GetInstallLocation|PreparePackage(C:\\Temp\\<pkg>,{OLD})";
const std::wstring kRemovals = L"|RemoveEarlierVersions(8)|RemoveLeftovers(<user>)|GetUninstallString"
                               L"|UninstallProduct(MsiExec.exe /X{OLD},{OLD})";
const std::wstring kInstall = L"|InstallPackage(<run>\\Package\\<pkg>,D:\\Vimo\\)";
const std::wstring kUpToInstall = kPrepared + L"|FindRestorePackage({OLD})" + kRemovals + kInstall;
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
    {"Installed", {}, {0, kUpToInstall + kKeptNew, kFound, false}},
    {"RestoredAfterAFailedInstall",
     {.dwInstalled = ERROR_INSTALL_FAILURE, .dwKept = ERROR_PATH_NOT_FOUND},
     {ERROR_INSTALL_FAILURE,
      kUpToInstall + kRestore + L"|KeepPackage(<run>\\Restore\\old.msi,{OLD},msi)|Launch(D:\\Vimo\\)",
      kFound + L"Install failed (1603); restored {OLD} from the kept package\r\nPackage not kept (3)\r\n", false}},
    {"RestoreFailsToo",
     {.dwInstalled = ERROR_INSTALL_FAILURE, .dwRestored = ERROR_UNKNOWN_PRODUCT},
     {ERROR_INSTALL_FAILURE, kUpToInstall + kRestore, kFound + kBothFailed + Retried(L"1603"), true}},
    {"ResumeWhileAnotherUpdateRuns",
     {.nResumeOf = 2, .eBefore = EBefore::CacheHeld},
     {ERROR_INSTALL_ALREADY_RUNNING, L"", L"Resume refused: another update is in progress: <guid>\r\n", true}},
    {"ResumeAfterTheRestoreFailed",
     {.nResumeOf = 2},
     {0, L"|GetProductCode" + kInstall + kKeptNew, L"Update resumed: <run>\r\n", false}},
    {"InstallEndsWithARefusalCode",
     {.bRestore = false, .dwInstalled = ERROR_INSTALL_PACKAGE_INVALID},
     {ERROR_INSTALL_FAILURE, kUpToInstall, L"No restore package: none kept\r\n" + Retried(L"1620"), true}},
    {"ResumeOfACutCopy",
     {.nResumeOf = 5, .eBefore = EBefore::CopyCut},
     {ERROR_FILE_CORRUPT, L"|GetProductCode",
      L"Update resumed: <run>\r\nResume refused: the package's copy does not match its record: <guid>\r\n", false}},
    {"RestartAskedByTheRemoval",
     {.pszPackage = L"setup.exe", .dwRemovalRun = ERROR_SUCCESS_REBOOT_REQUIRED},
     {ERROR_SUCCESS_REBOOT_REQUIRED,
      kUpToInstall + L"|GetProductCode|KeepPackage(<run>\\Package\\setup.exe,{NEW},exe)|Launch(D:\\Vimo\\)", kFound,
      false}},
    {"HeldByAnotherInstallation",
     {.dwInstalled = ERROR_INSTALL_ALREADY_RUNNING},
     {ERROR_INSTALL_ALREADY_RUNNING, kUpToInstall, kFound + Retried(L"1618"), true}},
    {"ResumeOfAThirdStartAfterAPowerLoss",
     {.nResumeOf = 8,
      .eBefore = EBefore::PowerLoss,
      .dwInstalled = ERROR_INSTALL_FAILURE,
      .dwRestored = ERROR_UNKNOWN_PRODUCT},
     {ERROR_INSTALL_FAILURE, L"|GetProductCode" + kRemovals + kInstall + kRestore + L"|GetProductCode",
      L"Update resumed: <run>\r\n" + kBothFailed + kNotStarted +
          L"Update given up after 3 starts; installed: nothing\r\n",
      false}},
    {"PackageRefused", {.dwPrepared = ERROR_PRODUCT_VERSION}, {ERROR_PRODUCT_VERSION, kPrepared, L"", false}},
    {"ResumeOfAnUnknownRun",
     {.nResumeOf = kUnknownRun},
     {ERROR_NOT_FOUND, L"", L"Resume refused: no record of this run: <guid>\r\n", false}},
};

// The decisions of whole runs, against the real record and resume service of
// the prefix, each run carried out with steps that only record.
TEST(UpdateRunTest, DecidesWhatToInstallRestoreKeepAndReport)
{
    const SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, [](const ChildProgram&, DWORD& dwExitCode) {
        dwExitCode = g_pCase->in.dwRemovalRun;
        return DWORD{ERROR_SUCCESS};
    });
    std::vector<std::pair<std::wstring, std::wstring>> vecRuns; // each case's run folder and GUID
    for (const RunCase& c : kCases)
    {
        SCOPED_TRACE(c.pszName);
        g_pCase = &c;
        g_strTrace.clear();
        // A resumed run finds nothing installed: the run it takes up removed it.
        g_strInstalled = c.in.nResumeOf == kNewPackage ? L"{OLD}" : L"";
        std::tie(g_strRun, g_strGuid) =
            c.in.nResumeOf >= 0 ? vecRuns[c.in.nResumeOf] : std::pair{std::wstring(), kUnknownGuid};
        CWorkFolder other;
        ASSERT_TRUE(c.in.eBefore != EBefore::CacheHeld || other.Create() == ERROR_SUCCESS);
        if (c.in.eBefore == EBefore::CopyCut)
            WriteBytes(g_strRun + L"\\Package\\new.msi", "the pack");
        if (c.in.eBefore == EBefore::PowerLoss)
        {
            CMyRegKey key;
            ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, RecordKey(g_strGuid).c_str(), 0, KEY_WRITE), ERROR_SUCCESS);
            ASSERT_EQ(key.SetQwordValue(L"Phase", static_cast<ULONGLONG>(EPhase::Removing)), ERROR_SUCCESS);
            ASSERT_EQ(key.SetQwordValue(L"Starts", 2), ERROR_SUCCESS);
        }
        const LogCapture log;
        CQuietRun events;
        CUpdateRun run(c.in.nResumeOf == kNewPackage ? UpdateRequest{std::wstring(L"C:\\Temp\\") + c.in.pszPackage, L""}
                                                     : UpdateRequest{L"", g_strGuid},
                       events, kSteps);
        EXPECT_EQ(events.Carry(run), c.out.dwExit);
        vecRuns.emplace_back(g_strRun, g_strGuid); // a new run's, as its package check made them
        EXPECT_EQ(g_strTrace, Expand(c.out.strSteps));
        EXPECT_EQ(log.Bytes(), Utf8(Expand(c.out.strLog)));
        EXPECT_TRUE(run.IsPending() == c.out.bPending && IsRecorded(g_strGuid) == c.out.bPending);
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
