#include "log/Log.h"

#include "log/LogRetention.h"
#include "win/Clock.h"
#include "win/Files.h"

#include <shlobj.h>

HANDLE g_hLogFile = INVALID_HANDLE_VALUE;

namespace
{
void EnsureFolder(const std::wstring& strPath)
{
    if (!IsFolder(strPath))
        ::CreateDirectoryW(strPath.c_str(), nullptr); // a failure only means no log
}
}

std::wstring MakeLogFilePath()
{
    wchar_t szAppData[MAX_PATH + 1] = {};
    // The result code is not needed: a failed lookup leaves the buffer empty.
    ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szAppData);
    return MakeLogFilePathIn(szAppData);
}

std::wstring MakeLogFilePathIn(const std::wstring& strAppData)
{
    if (strAppData.empty())
        return std::wstring();

    const std::wstring strMaker = strAppData + L"\\Vimo\\";
    const std::wstring strProduct = strAppData + L"\\Vimo\\VimoLumet";
    const std::wstring strLogFolder = strAppData + L"\\Vimo\\VimoLumet\\Log";
    EnsureFolder(strMaker);
    EnsureFolder(strProduct);
    EnsureFolder(strLogFolder);

    SYSTEMTIME st = {};
    g_pfnGetSystemTime(&st);
    return strLogFolder + L"\\Vimo_LumetUpdate" + FormatTimeStamp(st) + L".log";
}

HANDLE OpenLog(const wchar_t* pszPath)
{
    if (g_hLogFile != INVALID_HANDLE_VALUE || pszPath == nullptr)
        return g_hLogFile;

    std::wstring strFolder(pszPath);
    if (strFolder.empty() || strFolder.back() != L'\\')
    {
        const size_t nSlash = strFolder.rfind(L'\\');
        strFolder = nSlash == std::wstring::npos ? std::wstring() : strFolder.substr(0, nSlash);
    }
    // Pruning comes first, so this run's new file is never pruned.
    PruneOldLogs(strFolder.c_str());

    // Others may read the log while it is written, but not write or delete it.
    g_hLogFile = ::CreateFileW(pszPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    return g_hLogFile;
}

void CloseLog()
{
    if (g_hLogFile != INVALID_HANDLE_VALUE)
    {
        ::CloseHandle(g_hLogFile);
        g_hLogFile = INVALID_HANDLE_VALUE;
    }
}

void WriteLog(const wchar_t* pszText)
{
    if (g_hLogFile == INVALID_HANDLE_VALUE || pszText == nullptr)
        return;

    std::unique_ptr<char[]> pUtf8;
    const int cb = WideToUtf8(pszText, pUtf8);
    if (cb > 0)
    {
        // One WriteFile per text, so texts never interleave. A failed or short
        // write only loses this text; the next one is tried as usual.
        DWORD cbWritten = 0;
        ::WriteFile(g_hLogFile, pUtf8.get(), static_cast<DWORD>(cb), &cbWritten, nullptr);
        ::FlushFileBuffers(g_hLogFile);
    }
}

int WideToUtf8(const wchar_t* pszText, std::unique_ptr<char[]>& pBuffer)
{
    if (pszText == nullptr)
        return 0;
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, pszText, -1, nullptr, 0, nullptr, nullptr);
    if (n < 1)
        return 0;
    auto pBytes = std::make_unique<char[]>(static_cast<size_t>(n) + 1); // value-initialised: zero-filled
    ::WideCharToMultiByte(CP_UTF8, 0, pszText, -1, pBytes.get(), n, nullptr, nullptr);
    pBuffer = std::move(pBytes);
    return n - 1;
}
