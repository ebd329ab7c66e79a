#include "log/Log.h"

#include "win/Clock.h"
#include "win/FileHandles.h"
#include "win/KnownFolders.h"
#include "win/ScopedHandle.h"
#include "win/Text.h"

#include <shlobj.h>

namespace
{
CHandle g_hLogFile; // the open log; no handle while none is open
}

std::wstring MakeLogFilePath(const std::wstring& strUserProfile)
{
    // The local application-data folder below the user's profile, whose
    // place only administrators can set, rather than the per-user setting of
    // that folder, which the user could point anywhere.
    const std::wstring strProfile = strUserProfile.empty() ? GetShellFolder(CSIDL_PROFILE) : strUserProfile;
    if (strProfile.empty())
        return std::wstring();
    const std::wstring strAppData = strProfile + L"\\AppData\\Local";

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

bool OpenLog(const std::wstring& strPath)
{
    if (g_hLogFile.IsValid())
        return true;

    const size_t nSlash = strPath.rfind(L'\\');
    if (nSlash == std::wstring::npos)
        return false;
    // The folder is opened level by level from the drive's root: when any
    // level is a link, no log is written.
    EFolderChain eChain;
    const CHandle hFolder = OpenFolderChain(strPath.substr(0, nSlash), 0, eChain);
    if (!hFolder.IsValid())
        return false;
    // Others may read the log while it is written, but not write or delete
    // it. An existing file of that name is emptied, but not when the name
    // holds a reparse point (a link) or a file that has other names too (a
    // hard link, which older systems let a user make to a file they cannot
    // write): then no log is opened.
    CHandle hLog;
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_STANDARD_INFO standard = {};
    FILE_END_OF_FILE_INFO end = {};
    if (OpenRelative(hFolder.Get(), std::wstring_view(strPath).substr(nSlash + 1), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE, hLog) == ERROR_SUCCESS &&
        ::GetFileInformationByHandleEx(hLog.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        ::GetFileInformationByHandleEx(hLog.Get(), FileStandardInfo, &standard, sizeof(standard)) &&
        standard.NumberOfLinks == 1 && ::SetFileInformationByHandle(hLog.Get(), FileEndOfFileInfo, &end, sizeof(end)))
        g_hLogFile = std::move(hLog);
    return g_hLogFile.IsValid();
}

bool IsLogOpen() { return g_hLogFile.IsValid(); }

void CloseLog() { g_hLogFile.Close(); }

void WriteLog(const std::wstring& strText)
{
    std::string utf8;
    if (!g_hLogFile.IsValid() || !WideToUtf8(strText, utf8) || utf8.empty())
        return;
    // One WriteFile per text, so texts never interleave. A failed or short
    // write only loses this text; the next one is tried as usual.
    DWORD cbWritten = 0;
    ::WriteFile(g_hLogFile.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &cbWritten, nullptr);
    ::FlushFileBuffers(g_hLogFile.Get());
}

void WriteLeftInPlace(const std::wstring& strPath) { WriteLog(L"Left in place: " + strPath + L"\r\n"); }
