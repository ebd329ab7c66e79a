#include "log/LogRetention.h"

#include "win/Clock.h"
#include "win/ScopedHandle.h"

#include <ctime>
#include <string>

namespace
{
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMaxAgeDays = 15;
constexpr size_t kShortestFolderPath = 3;
}

std::optional<int64_t> CalendarTimeOf(const SYSTEMTIME& st)
{
    if (st.wYear < 1900)
        return 0;

    struct tm tmLocal = {};
    tmLocal.tm_sec = st.wSecond;
    tmLocal.tm_min = st.wMinute;
    tmLocal.tm_hour = st.wHour;
    tmLocal.tm_mday = st.wDay;
    tmLocal.tm_mon = st.wMonth - 1;
    tmLocal.tm_year = st.wYear - 1900;
    tmLocal.tm_isdst = -1;
    const __time64_t t = _mktime64(&tmLocal);
    if (t == -1)
    {
        // The library refuses times before its epoch and after the year 3000.
        // The early ones are old by any measure; the late ones are kept.
        if (st.wYear < 1971)
            return 0;
        return std::nullopt;
    }
    return static_cast<int64_t>(t);
}

bool IsPrunable(const FILETIME& ftLastWrite, const SYSTEMTIME& stNow)
{
    SYSTEMTIME stFile = {};
    if (!::FileTimeToSystemTime(&ftLastWrite, &stFile))
        return false;
    const std::optional<int64_t> tNow = CalendarTimeOf(stNow);
    const std::optional<int64_t> tFile = CalendarTimeOf(stFile);
    if (!tNow || !tFile)
        return false;
    const int64_t nAgeDays = (*tNow - *tFile) / kSecondsPerDay;
    return nAgeDays > kMaxAgeDays;
}

void PruneOldLogs(const wchar_t* pszFolder)
{
    if (pszFolder == nullptr)
        return;
    std::wstring strFolder(pszFolder);
    if (strFolder.size() < kShortestFolderPath)
        return;
    if (strFolder.back() != L'\\')
        strFolder += L'\\';

    WIN32_FIND_DATAW fd = {};
    CFindHandle hFind(::FindFirstFileW((strFolder + L"*.*").c_str(), &fd));

    SYSTEMTIME stNow = {};
    g_pfnGetSystemTime(&stNow);

    if (!hFind.IsValid())
        return;
    do
    {
        if (fd.cFileName[0] == L'.')
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            // A junction or folder link may point anywhere on the machine, and
            // this program runs elevated: never follow one.
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                continue;
            PruneOldLogs((strFolder + fd.cFileName + L"\\").c_str());
        }
        else if (IsPrunable(fd.ftLastWriteTime, stNow))
        {
            ::DeleteFileW((strFolder + fd.cFileName).c_str()); // a file that stays is tried again next run
        }
    } while (::FindNextFileW(hFind.Get(), &fd));
}
