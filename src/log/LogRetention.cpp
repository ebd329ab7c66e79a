#include "log/LogRetention.h"

#include "log/Log.h"
#include "win/Clock.h"
#include "win/FileDisposition.h"
#include "win/FileHandles.h"
#include "win/FolderWalk.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <vector>

namespace
{
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMaxAgeDays = 15;

// Seconds since the epoch of a UTC system time read as local calendar time,
// as the C library's 64-bit mktime gives it. Years before 1900 give 0; a time
// the library cannot convert (beyond the year 3000) gives no value.
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

// Whether a file last written at ftLastWrite is old enough to be pruned at
// stNow: its age in whole days (truncated toward zero) is greater than 15.
// A time that cannot be converted is never old enough.
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

// Deletes the old files below one folder; folders themselves stay.
class CPrune : public CFolderWalk
{
public:
    CPrune() { g_pfnGetSystemTime(&m_stNow); }

protected:
    Step OnEntry(HANDLE hFolder, const FolderEntry& entry, const std::wstring&, size_t) override
    {
        Step step;
        if (entry.strName[0] == L'.')
            return step;
        if (entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            step.opened = OpenEntry(hFolder, entry, 0);
            step.bEnter = step.opened.eKind == EEntryKind::Folder;
        }
        else if (IsPrunable(entry.ftLastWrite, m_stNow))
        {
            step.opened = OpenEntry(hFolder, entry, DELETE);
            if (step.opened.eKind == EEntryKind::File)
                DeleteByHandle(step.opened.h.Get(), step.opened.dwAttributes,
                               false); // one that stays is tried next run
        }
        return step;
    }

    bool OnFolderWalked(OpenedEntry&, const std::wstring&, bool) override { return true; }

    void OnNotWalked(const std::wstring& strPath) override { WriteLeftInPlace(strPath); }

private:
    SYSTEMTIME m_stNow = {};
};
}

void PruneOldLogs(const std::wstring& strFolder)
{
    EFolderChain eChain;
    const CHandle hFolder = OpenFolderChain(strFolder, 0, eChain);
    if (hFolder.IsValid())
        CPrune().Walk(hFolder.Get(), strFolder);
}
