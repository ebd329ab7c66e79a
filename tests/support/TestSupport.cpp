#include "TestSupport.h"

#include "log/Log.h"
#include "resources/resource.h"
#include "win/ScopedHandle.h"
#include "win/SystemEntry.h"
#include "win/Text.h"

#include <gtest/gtest.h>
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

// The Unix path of a Windows path (Wine only), for running Unix tools.
std::string UnixPathOf(const std::wstring& strPath)
{
    using PfnUnixName = char*(CDECL*)(LPCWSTR);
    const auto pfn = SystemEntry<PfnUnixName>(L"kernel32.dll", "wine_get_unix_file_name");
    char* psz = pfn ? pfn(strPath.c_str()) : nullptr;
    const std::string result = psz ? psz : "";
    ::HeapFree(::GetProcessHeap(), 0, psz);
    return result;
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

FILETIME ToFileTime(const SYSTEMTIME& st)
{
    FILETIME ft = {};
    EXPECT_TRUE(::SystemTimeToFileTime(&st, &ft));
    return ft;
}

SYSTEMTIME AddSeconds(const SYSTEMTIME& st, long long nSeconds)
{
    const FILETIME ft = ToFileTime(st);
    const ULONGLONG t = ((ULONGLONG{ft.dwHighDateTime} << 32) | ft.dwLowDateTime) + nSeconds * 10000000LL;
    const FILETIME moved = {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
    SYSTEMTIME result = {};
    EXPECT_TRUE(::FileTimeToSystemTime(&moved, &result));
    return result;
}

void SetLastWriteTime(const std::wstring& strPath, const SYSTEMTIME& st)
{
    HANDLE h =
        ::CreateFileW(strPath.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot open " << Utf8(strPath);
    const FILETIME ft = ToFileTime(st);
    EXPECT_TRUE(::SetFileTime(h, nullptr, nullptr, &ft));
    ::CloseHandle(h);
}

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
    const std::string target = UnixPathOf(strTarget);
    const std::string link = UnixPathOf(strLink);
    if (target.empty() || link.empty())
        return false;
    // A Unix program started by Wine gives no handle that can be waited on:
    // watch for the link instead.
    HANDLE h = nullptr;
    const bool bStarted = StartProcess(L"Z:\\bin\\ln -s \"" + Wide(target) + L"\" \"" + Wide(link) + L"\"", h);
    if (h)
        ::CloseHandle(h);
    for (int i = 0; bStarted && i < 100; ++i, ::Sleep(50))
    {
        const DWORD dw = ::GetFileAttributesW(strLink.c_str());
        if (dw != INVALID_FILE_ATTRIBUTES)
            return (dw & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    return false;
}

std::wstring FromUnix(const std::string& path)
{
    std::wstring strPath = L"Z:" + std::wstring(path.begin(), path.end());
    std::replace(strPath.begin(), strPath.end(), L'/', L'\\');
    return strPath;
}

std::string UnixMode(const std::wstring& strPath)
{
    const std::wstring strOut = strPath + L".mode";
    const std::string path = UnixPathOf(strPath), out = UnixPathOf(strOut);
    ::DeleteFileW(strOut.c_str());
    HANDLE h = nullptr;
    if (path.empty() || out.empty() ||
        !StartProcess(L"Z:\\bin\\sh -c \"stat -c %a '" + Wide(path) + L"' > '" + Wide(out) + L".part' && mv '" +
                          Wide(out) + L".part' '" + Wide(out) + L"'\"",
                      h))
        return std::string();
    if (h)
        ::CloseHandle(h);
    std::string mode = WaitForFile(strOut, 10000).value_or("");
    ::DeleteFileW(strOut.c_str());
    while (!mode.empty() && (mode.back() == '\n' || mode.back() == '\r'))
        mode.pop_back();
    return mode;
}

size_t MakeDeepTree(const std::wstring& strBase, size_t nLevels)
{
    MakeFolders(strBase);
    const std::string base = UnixPathOf(strBase);
    nLevels = std::min(nLevels, (4000 - base.size()) / 2);
    std::string unixDeepest = base;
    std::wstring strDeepest = L"\\\\?\\" + strBase;
    for (size_t i = 0; i < nLevels; ++i)
    {
        unixDeepest += "/a";
        strDeepest += L"\\a";
    }
    // Made by the system's mkdir: Wine makes each level through the whole
    // path above it, which takes minutes at this depth.
    HANDLE h = nullptr;
    const bool bStarted = StartProcess(L"Z:\\bin\\mkdir -p \"" + Wide(unixDeepest) + L"\"", h);
    if (h)
        ::CloseHandle(h);
    for (int i = 0; bStarted && i < 600 && !IsFolder(strDeepest); ++i)
        ::Sleep(100);
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
    ASSERT_FALSE(der.empty()) << Utf8(strDerPath);
    HCRYPTPROV hProvider = 0;
    HCRYPTHASH hHash = 0;
    BYTE thumbprint[20] = {};
    DWORD cb = sizeof(thumbprint);
    ASSERT_TRUE(::CryptAcquireContextW(&hProvider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
                ::CryptCreateHash(hProvider, CALG_SHA1, 0, 0, &hHash) &&
                ::CryptHashData(hHash, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()), 0) &&
                ::CryptGetHashParam(hHash, HP_HASHVAL, thumbprint, &cb, 0));
    ::CryptDestroyHash(hHash);
    ::CryptReleaseContext(hProvider, 0);
    std::wstring strKey = hRoot == HKEY_LOCAL_MACHINE
                              ? L"Software\\Microsoft\\SystemCertificates\\ROOT\\Certificates\\"
                              : L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
    for (const BYTE b : thumbprint)
        strKey += L"0123456789ABCDEF"[b >> 4], strKey += L"0123456789ABCDEF"[b & 15];
    // The encoded certificate's property (0x20), a reserved 1, its length, its bytes.
    std::string blob(12, '\0');
    const DWORD header[3] = {0x20, 1, static_cast<DWORD>(der.size())};
    std::memcpy(blob.data(), header, sizeof(header));
    blob += der;
    ASSERT_EQ(
        ::RegSetKeyValueW(hRoot, strKey.c_str(), L"Blob", REG_BINARY, blob.data(), static_cast<DWORD>(blob.size())),
        ERROR_SUCCESS);
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
