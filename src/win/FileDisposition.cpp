#include "win/FileDisposition.h"

#include "win/SystemEntry.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <vector>

namespace
{
using PfnNtSetInformationFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

const PfnNtSetInformationFile g_pfnNtSetInformationFile =
    SystemEntry<PfnNtSetInformationFile>(L"ntdll.dll", "NtSetInformationFile");

// Information classes and records that the headers give only for targets
// newer than the Windows 7 this program is built for, or not at all.
constexpr auto kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

struct DispositionInfoEx
{
    DWORD Flags;
};

struct RenameInformation
{
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    ULONG FileNameLength;
    WCHAR FileName[1];
};

constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Set once a platform has refused the extended disposition: from then on
// only the plain one is tried.
std::atomic<bool> g_bNoDispositionEx{false};

bool SetAttributes(HANDLE h, DWORD dwAttributes)
{
    FILE_BASIC_INFO info = {}; // zero times: left as they are
    info.FileAttributes = dwAttributes != 0 ? dwAttributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof(info)) != FALSE;
}
}

DWORD DeleteByHandle(HANDLE h, DWORD dwAttributes, bool bEvenReadOnly)
{
    if (!g_bNoDispositionEx)
    {
        DispositionInfoEx info = {kDispositionDelete | kDispositionPosixSemantics |
                                  (bEvenReadOnly ? kDispositionIgnoreReadOnly : 0)};
        if (::SetFileInformationByHandle(h, kFileDispositionInfoEx, &info, sizeof(info)))
            return ERROR_SUCCESS;
        const DWORD dwError = ::GetLastError();
        if (dwError != ERROR_INVALID_PARAMETER && dwError != ERROR_NOT_SUPPORTED && dwError != ERROR_INVALID_FUNCTION)
            return dwError;
        g_bNoDispositionEx = true; // an older Windows, or Wine
    }

    const bool bCleared = bEvenReadOnly && (dwAttributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                          SetAttributes(h, dwAttributes & kSettableAttributes & ~FILE_ATTRIBUTE_READONLY);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof(disposition)))
        return ERROR_SUCCESS;
    const DWORD dwError = ::GetLastError();
    if (bCleared)
        SetAttributes(h, dwAttributes & kSettableAttributes); // best effort: the file stays as it was
    return dwError;
}

DWORD DeleteEntry(HANDLE hFolder, const FolderEntry& entry, const OpenedEntry& opened)
{
    const DWORD dwError = DeleteByHandle(opened.h.Get(), opened.dwAttributes, true);
    if (dwError == ERROR_SUCCESS || (opened.dwAttributes & FILE_ATTRIBUTE_READONLY) == 0)
        return dwError;
    const OpenedEntry again = OpenEntry(hFolder, entry, DELETE | FILE_WRITE_ATTRIBUTES);
    if (again.eKind != opened.eKind || !again.h.IsValid())
        return dwError;
    return DeleteByHandle(again.h.Get(), again.dwAttributes, true);
}

DWORD MoveByHandle(HANDLE h, HANDLE hFolder, std::wstring_view name)
{
    if (!g_pfnNtSetInformationFile)
        return ERROR_PROC_NOT_FOUND;
    const size_t cbName = name.size() * sizeof(wchar_t);
    std::vector<LONGLONG> buffer((offsetof(RenameInformation, FileName) + cbName) / sizeof(LONGLONG) + 1);
    auto* pInfo = reinterpret_cast<RenameInformation*>(buffer.data());
    pInfo->ReplaceIfExists = FALSE;
    pInfo->RootDirectory = hFolder;
    pInfo->FileNameLength = static_cast<ULONG>(cbName);
    std::memcpy(pInfo->FileName, name.data(), cbName);
    IO_STATUS_BLOCK io = {};
    // The Win32 wrapper of some platforms refuses a root folder handle here.
    return ToWin32Error(g_pfnNtSetInformationFile(h, &io, pInfo, static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)),
                                                  kFileRenameInformation));
}
