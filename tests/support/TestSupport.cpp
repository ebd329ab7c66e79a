#include "TestSupport.h"

#include "log/Log.h"
#include "resources/resource.h"
#include "win/ScopedHandle.h"
#include "win/SystemEntry.h"
#include "win/Text.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <wincrypt.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace
{
std::atomic<int> g_nScratchSerial{0};
SYSTEMTIME g_stFixed = {};
void WINAPI FixedGetSystemTime(LPSYSTEMTIME pst) { *pst = g_stFixed; }

// Starts a command line; false when it could not. The process handle may be
// null even then: Wine gives none for a Unix program.
bool StartProcess(const std::wstring& strCommandLine, HANDLE& hProcess)
{
    std::vector<wchar_t> cmd(strCommandLine.begin(), strCommandLine.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    const bool bStarted = ::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    if (pi.hThread)
        ::CloseHandle(pi.hThread);
    hProcess = pi.hProcess;
    return bStarted;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The Unix path of a Windows path (Wine only), quoted for the host's shell.
std::wstring UnixPathOf(const std::wstring& strPath)
{
    using PfnUnixName = char*(CDECL*)(LPCWSTR);
    const auto pfn = SystemEntry<PfnUnixName>(L"kernel32.dll", "wine_get_unix_file_name");
    char* psz = pfn ? pfn(strPath.c_str()) : nullptr;
    const std::wstring result = psz ? L"'" + Wide(psz) + L"'" : L"";
    ::HeapFree(::GetProcessHeap(), 0, psz);
    return result;
}

// Runs a command of the host's shell (Wine only): a Unix program started by
// Wine gives no handle that can be waited on, so its output is written to a
// file under another name first and watched for. Its output, or nothing when
// it failed or took more than a minute.
std::optional<std::string> RunHostShell(const std::wstring& strCommand)
{
    const std::wstring strOut = L"C:\\lumet-shell-" + std::to_wstring(::GetCurrentProcessId()) + L".out";
    const std::wstring out = UnixPathOf(strOut);
    HANDLE h = nullptr;
    ::DeleteFileW(strOut.c_str());
    if (out.empty() ||
        !StartProcess(
            L"Z:\\bin\\sh -c \"(" + strCommand + L") > " + out + L".part && mv " + out + L".part " + out + L"\"", h))
        return std::nullopt;
    if (h)
        ::CloseHandle(h);
    std::optional<std::string> output = WaitForFile(strOut, 60000);
    ::DeleteFileW(strOut.c_str());
    return output;
}
}

ScratchFolder::ScratchFolder(const std::wstring& strName)
    : m_strPath(L"C:\\lumet-tests\\" + strName + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++g_nScratchSerial))
{
    std::error_code ec;
    fs::remove_all(m_strPath, ec);
    fs::create_directories(m_strPath, ec);
    EXPECT_FALSE(ec) << "cannot create scratch folder: " << ec.message();
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ec;
    fs::remove_all(m_strPath, ec);
}

std::wstring ScratchFolder::operator/(const std::wstring& strRelative) const { return m_strPath + L"\\" + strRelative; }

void WriteBytes(const std::wstring& strPath, const std::string& bytes)
{
    MakeFolders(fs::path(strPath).parent_path().wstring());
    std::ofstream out(fs::path(strPath), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << "cannot write " << Utf8(strPath);
}

std::string ReadBytes(const std::wstring& strPath)
{
    std::ifstream in(fs::path(strPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& strPath) { return ::GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> FilesIn(const std::wstring& strPattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    const CFindHandle h(::FindFirstFileW(strPattern.c_str(), &fd));
    for (BOOL b = h.IsValid(); b; b = ::FindNextFileW(h.Get(), &fd))
        if (fd.cFileName[0] != L'.' || fd.cFileName[1] > L'.')
            names.push_back(fd.cFileName);
    return names;
}

void MakeFolders(const std::wstring& strPath)
{
    std::error_code ec;
    fs::create_directories(strPath, ec);
    EXPECT_FALSE(ec) << "cannot create " << Utf8(strPath) << ": " << ec.message();
}

SYSTEMTIME MakeSystemTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    return {year, month, 0, day, hour, minute, second, 0};
}

void SetLastWriteTime(const std::wstring& strPath, const SYSTEMTIME& stNow, long long nSecondsBefore)
{
    FILETIME ft = {};
    EXPECT_TRUE(::SystemTimeToFileTime(&stNow, &ft));
    const ULONGLONG t = ((ULONGLONG{ft.dwHighDateTime} << 32) | ft.dwLowDateTime) - nSecondsBefore * 10000000LL;
    ft = {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
    const CHandle h(::CreateFileW(strPath.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(::SetFileTime(h.Get(), nullptr, nullptr, &ft)) << "cannot set the time of " << Utf8(strPath);
}

namespace
{
CCreateRecorder* g_pRecorder = nullptr;
PfnNtCreateFile g_pfnRealCreate = nullptr;
NTSTATUS NTAPI RecordCreate(PHANDLE ph, ACCESS_MASK access, POBJECT_ATTRIBUTES pAttributes, PIO_STATUS_BLOCK pIo,
                            PLARGE_INTEGER pSize, ULONG ulAttributes, ULONG ulShare, ULONG ulDisposition,
                            ULONG ulOptions, PVOID pEa, ULONG cbEa)
{
    CLocalMemory<LPWSTR> pszSddl;
    if (pAttributes->SecurityDescriptor)
        ::ConvertSecurityDescriptorToStringSecurityDescriptorW(pAttributes->SecurityDescriptor, SDDL_REVISION_1,
                                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                               pszSddl.Put(), nullptr);
    const UNICODE_STRING& name = *pAttributes->ObjectName;
    g_pRecorder->vecCalls.push_back({std::wstring(name.Buffer, name.Length / sizeof(wchar_t)), access, ulShare,
                                     ulDisposition, pszSddl.IsValid() ? pszSddl.Get() : L""});
    return g_pfnRealCreate(ph, access, pAttributes, pIo, pSize, ulAttributes, ulShare, ulDisposition, ulOptions, pEa,
                           cbEa);
}
}

CCreateRecorder::CCreateRecorder() : m_seam(g_pfnNtCreateFile, &RecordCreate)
{
    g_pfnRealCreate = m_pfnReal;
    g_pRecorder = this;
}

CCreateRecorder::~CCreateRecorder() { g_pRecorder = nullptr; }

FixedClock::FixedClock(const SYSTEMTIME& st) : SeamOverride(g_pfnGetSystemTime, &FixedGetSystemTime) { g_stFixed = st; }

LogCapture::LogCapture() : m_folder(L"log"), m_strPath(m_folder / L"capture.log")
{
    CloseLog();
    EXPECT_TRUE(OpenLog(m_strPath));
}

LogCapture::~LogCapture() { CloseLog(); }

// The log denies other writers but lets readers in, which ifstream is.
std::string LogCapture::Bytes() const { return ReadBytes(m_strPath); }

std::string Utf8(const std::wstring& text)
{
    std::string utf8;
    WideToUtf8(text, utf8);
    return utf8;
}

Sha256 DigestOf(const std::string& bytes)
{
    Sha256 digest = {};
    CSha256 sha;
    EXPECT_TRUE(sha.Add(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()) && sha.Finish(digest));
    return digest;
}

std::vector<std::pair<std::wstring, std::wstring>> ListedProducts()
{
    HRSRC hRes = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_XML_PRODUCTS), L"BINARY");
    const std::string bytes(static_cast<const char*>(::LockResource(::LoadResource(nullptr, hRes))),
                            ::SizeofResource(nullptr, hRes));
    const std::regex product("<Product Name=\"(Vimo Lumet( \\d+\\.\\d+\\.\\d+\\.\\d+)?)\">"
                             "(\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\})</Product>");
    std::vector<std::pair<std::wstring, std::wstring>> products;
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), product); it != std::sregex_iterator(); ++it)
        products.emplace_back(Wide((*it)[1].str()), Wide((*it)[3].str()));
    return products;
}

bool MakeFolderLink(const std::wstring& strLink, const std::wstring& strTarget)
{
    const std::wstring target = UnixPathOf(strTarget), link = UnixPathOf(strLink);
    if (target.empty() || link.empty() || !RunHostShell(L"ln -s " + target + L" " + link))
        return false;
    const DWORD dwAttributes = ::GetFileAttributesW(strLink.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::wstring FromUnix(const std::string& path)
{
    std::wstring strPath = L"Z:" + std::wstring(path.begin(), path.end());
    std::replace(strPath.begin(), strPath.end(), L'/', L'\\');
    return strPath;
}

std::string UnixMode(const std::wstring& strPath)
{
    const std::wstring path = UnixPathOf(strPath);
    std::string mode = path.empty() ? "" : RunHostShell(L"stat -c %a " + path).value_or("");
    while (!mode.empty() && (mode.back() == '\n' || mode.back() == '\r'))
        mode.pop_back();
    return mode;
}

size_t MakeDeepTree(const std::wstring& strBase, size_t nLevels)
{
    MakeFolders(strBase);
    const std::wstring base = UnixPathOf(strBase);
    nLevels = std::min(nLevels, (4000 - base.size()) / 2);
    std::wstring unixDeepest = base, strDeepest = L"\\\\?\\" + strBase;
    for (size_t i = 0; i < nLevels; ++i)
        unixDeepest += L"/a", strDeepest += L"\\a";
    // Made by the system's mkdir: Wine makes each level through the whole
    // path above it, which takes minutes at this depth.
    RunHostShell(L"mkdir -p " + unixDeepest);
    const CHandle hFile(
        ::CreateFileW((strDeepest + L"\\bottom.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_TRUE(hFile.IsValid()) << "no tree of " << nLevels << " levels below " << Utf8(strBase);
    return hFile.IsValid() ? nLevels : 0;
}

std::wstring FakeAppPath()
{
    wchar_t szPath[MAX_PATH * 4] = {};
    const std::wstring strPath(szPath, ::GetModuleFileNameW(nullptr, szPath, MAX_PATH * 4));
    return strPath.substr(0, strPath.rfind(L'\\')) + L"\\lumet_fake_app.exe";
}

bool FakeRun::HasVariable(const std::string& name, const std::string& value) const
{
    // Names and values (paths here) are compared without regard to case.
    auto fold = [](std::string text) {
        for (char& ch : text)
            ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
        return text;
    };
    const std::string folded = fold("|" + environment);
    return value.empty() ? folded.find(fold("|" + name + "=")) != std::string::npos
                         : folded.find(fold("|" + name + "=" + value + "|")) != std::string::npos;
}

std::vector<FakeRun> FakeRuns()
{
    std::vector<FakeRun> runs;
    std::istringstream lines(ReadBytes(L"C:\\lumet-runs.log"));
    for (std::string line; std::getline(lines, line);)
    {
        const size_t nColon = line.find(": ");
        const std::string key = line.substr(0, nColon),
                          value = nColon == std::string::npos ? "" : line.substr(nColon + 2);
        if (key == "run")
            runs.push_back(FakeRun{value, {}, {}, {}, {}});
        for (const auto& [pszKey, pField] :
             {std::pair{"command", &FakeRun::command}, std::pair{"folder", &FakeRun::folder},
              std::pair{"parent", &FakeRun::parent}, std::pair{"environment", &FakeRun::environment}})
            if (key == pszKey && !runs.empty())
                runs.back().*pField = value;
    }
    return runs;
}

std::optional<std::string> WaitForFile(const std::wstring& strPath, DWORD dwTimeoutMs)
{
    for (const ULONGLONG tEnd = ::GetTickCount64() + dwTimeoutMs; ::GetTickCount64() < tEnd; ::Sleep(20))
        if (Exists(strPath))
            return ReadBytes(strPath);
    return std::nullopt;
}

DWORD RunAndWait(const std::wstring& strCommandLine, DWORD dwTimeoutMs)
{
    HANDLE h = nullptr;
    if (!StartProcess(strCommandLine, h) || !h)
    {
        const DWORD dwError = ::GetLastError();
        ADD_FAILURE() << "cannot start (error " << dwError << "): " << Utf8(strCommandLine);
        return static_cast<DWORD>(-1);
    }
    DWORD dwExit = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(h, dwTimeoutMs) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(h, &dwExit);
    else
        ADD_FAILURE() << "did not end in time: " << Utf8(strCommandLine);
    ::CloseHandle(h);
    return dwExit;
}

void TrustRoot(HKEY hRoot, const std::wstring& strDerPath)
{
    const std::string der = ReadBytes(strDerPath);
    const HCERTSTORE hStore = ::CertOpenStore(
        CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
        hRoot == HKEY_LOCAL_MACHINE ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    EXPECT_TRUE(hStore && ::CertAddEncodedCertificateToStore(
                              hStore, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                              static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        << Utf8(strDerPath);
    if (hStore)
        ::CertCloseStore(hStore, 0);
}

std::vector<std::wstring> PendingDeletions()
{
    std::vector<wchar_t> data(65536, L'\0');
    DWORD cbData = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
    ::RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                   L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data.data(), &cbData);
    // Pairs of "\??\<path>" and a target, empty for a deletion: the empty
    // strings make the list unreadable as an ordinary multi-string.
    std::vector<std::wstring> paths;
    for (const wchar_t *p = data.data(), *pEnd = p + cbData / sizeof(wchar_t); p < pEnd && *p;)
    {
        const std::wstring strFrom(p);
        const std::wstring strTo(p += strFrom.size() + 1);
        p += strTo.size() + 1;
        if (strTo.empty() && strFrom.starts_with(L"\\??\\"))
            paths.push_back(strFrom.substr(4));
    }
    return paths;
}
