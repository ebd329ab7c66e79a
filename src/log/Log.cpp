#include "log/Log.h"

#include "log/LogRetention.h"
#include "win/Clock.h"
#include "win/FileHandles.h"

#include <shlobj.h>

HANDLE g_hLogFile = INVALID_HANDLE_VALUE;

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

    // Vimo, VimoLumet and Log are made where missing, each inside the one
    // above through its handle; nothing is made below a link. A failure only
    // means no log.
    const std::wstring strLogFolder = strAppData + L"\\Vimo\\VimoLumet\\Log";
    EFolderChain eChain;
    OpenFolderChain(strLogFolder, 3, eChain);

    SYSTEMTIME st = {};
    g_pfnGetSystemTime(&st);
    return strLogFolder + L"\\Vimo_LumetUpdate" + FormatTimeStamp(st) + L".log";
}

HANDLE OpenLog(const wchar_t* pszPath)
{
    if (g_hLogFile != INVALID_HANDLE_VALUE || pszPath == nullptr)
        return g_hLogFile;

    const std::wstring strPath(pszPath);
    const size_t nSlash = strPath.rfind(L'\\');
    if (nSlash == std::wstring::npos)
        return g_hLogFile;
    // The folder is opened level by level from the drive's root: when any
    // level is a link, nothing is pruned and no log is written.
    EFolderChain eChain;
    const CHandle hFolder = OpenFolderChain(strPath.substr(0, nSlash), 0, eChain);
    if (!hFolder.IsValid())
        return g_hLogFile;
    // Pruning comes first, so this run's new file is never pruned.
    PruneOldLogsIn(hFolder.Get());

    // Others may read the log while it is written, but not write or delete
    // it. An existing file of that name is emptied; when the name holds a
    // reparse point (a link), no log is opened.
    CHandle hLog;
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (OpenRelative(hFolder.Get(), std::wstring_view(strPath).substr(nSlash + 1), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE, hLog) != ERROR_SUCCESS ||
        !::GetFileInformationByHandleEx(hLog.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return g_hLogFile;
    FILE_END_OF_FILE_INFO end = {};
    if (::SetFileInformationByHandle(hLog.Get(), FileEndOfFileInfo, &end, sizeof(end)))
        g_hLogFile = hLog.Take();
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
