#include "log/LogRetention.h"

#include "win/Clock.h"
#include "win/FileHandles.h"

#include <ctime>
#include <vector>

namespace
{
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMaxAgeDays = 15;
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

void PruneOldLogs(HANDLE hFolder)
{
    std::vector<CFolderEntry> vecEntries;
    ListFolder(hFolder, vecEntries);

    SYSTEMTIME stNow = {};
    g_pfnGetSystemTime(&stNow);

    for (const CFolderEntry& entry : vecEntries)
    {
        if (entry.strName[0] == L'.')
            continue;
        if (entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            const COpenedEntry opened = OpenEntry(hFolder, entry, 0);
            if (opened.eKind == EEntryKind::Folder)
                PruneOldLogs(opened.h.Get());
        }
        else if (IsPrunable(entry.ftLastWrite, stNow))
        {
            const COpenedEntry opened = OpenEntry(hFolder, entry, DELETE);
            if (opened.eKind == EEntryKind::File)
                DeleteByHandle(opened.h.Get(), opened.dwAttributes, false); // a file that stays is tried next run
        }
    }
}
