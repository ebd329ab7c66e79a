#include "win/FileHandles.h"

#include "win/SystemEntry.h"
#include "win/Text.h"

#include <algorithm>

PfnNtCreateFile g_pfnNtCreateFile = SystemEntry<PfnNtCreateFile>(L"ntdll.dll", "NtCreateFile");

namespace
{
using PfnNtQueryInformationFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
using PfnRtlNtStatusToDosError = ULONG(NTAPI*)(NTSTATUS);

const PfnNtQueryInformationFile g_pfnNtQueryInformationFile =
    SystemEntry<PfnNtQueryInformationFile>(L"ntdll.dll", "NtQueryInformationFile");
const PfnRtlNtStatusToDosError g_pfnRtlNtStatusToDosError =
    SystemEntry<PfnRtlNtStatusToDosError>(L"ntdll.dll", "RtlNtStatusToDosError");

// Tags 0 to 2 are reserved: no reparse point of a file system carries them.
constexpr DWORD kHighestReservedTag = 2;

// An information class that the headers give only for targets newer than
// the Windows 7 this program is built for.
constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);

// The file id the handle reports, 0 when it reports none.
LONGLONG FileIdOf(HANDLE h)
{
    LARGE_INTEGER id = {};
    IO_STATUS_BLOCK io = {};
    if (!g_pfnNtQueryInformationFile ||
        g_pfnNtQueryInformationFile(h, &io, &id, sizeof(id), kFileInternalInformation) < 0)
        return 0;
    return id.QuadPart;
}

// "X:\": the only roots the program works below.
size_t RootLength(const std::wstring& strPath) { return StartsWithDriveRoot(strPath) ? 3 : 0; }

bool SameName(std::wstring_view a, std::wstring_view b)
{
    return !a.empty() && ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}
}

DWORD ToWin32Error(NTSTATUS status)
{
    if (status >= 0)
        return ERROR_SUCCESS;
    return g_pfnRtlNtStatusToDosError ? g_pfnRtlNtStatusToDosError(status) : ERROR_GEN_FAILURE;
}

bool IsLinkReparsePoint(DWORD dwAttributes, DWORD dwReparseTag)
{
    if ((dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    return IsReparseTagNameSurrogate(dwReparseTag) || dwReparseTag <= kHighestReservedTag;
}

bool ListFolder(HANDLE hFolder, std::vector<FolderEntry>& vecEntries)
{
    std::vector<LONGLONG> buffer(8192); // 64 KB, aligned for the records
    const DWORD cbBuffer = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    FILE_INFO_BY_HANDLE_CLASS eClass = FileIdBothDirectoryRestartInfo;
    for (;;)
    {
        if (!::GetFileInformationByHandleEx(hFolder, eClass, buffer.data(), cbBuffer))
        {
            const DWORD dwError = ::GetLastError();
            // A folder with no entries at all (a drive root) has nothing to
            // restart with.
            return dwError == ERROR_NO_MORE_FILES ||
                   (dwError == ERROR_FILE_NOT_FOUND && eClass == FileIdBothDirectoryRestartInfo);
        }
        eClass = FileIdBothDirectoryInfo;
        for (const BYTE* p = reinterpret_cast<const BYTE*>(buffer.data());;)
        {
            const auto* pInfo = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(p);
            const std::wstring_view name(pInfo->FileName, pInfo->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
            {
                FolderEntry entry;
                entry.strName = name;
                entry.strShortName.assign(pInfo->ShortName,
                                          static_cast<size_t>(pInfo->ShortNameLength) / sizeof(wchar_t));
                entry.dwAttributes = pInfo->FileAttributes;
                // For a reparse point the record carries its tag where the
                // size of the extended attributes would be.
                entry.dwReparseTag = (pInfo->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? pInfo->EaSize : 0;
                entry.nFileId = pInfo->FileId.QuadPart;
                entry.ftLastWrite.dwLowDateTime = pInfo->LastWriteTime.LowPart;
                entry.ftLastWrite.dwHighDateTime = static_cast<DWORD>(pInfo->LastWriteTime.HighPart);
                vecEntries.push_back(std::move(entry));
            }
            if (pInfo->NextEntryOffset == 0)
                break;
            p += pInfo->NextEntryOffset;
        }
    }
}

DWORD OpenRelative(HANDLE hFolder, std::wstring_view name, ACCESS_MASK access, ULONG ulShare, ULONG ulDisposition,
                   ULONG ulOptions, CHandle& h, PSECURITY_DESCRIPTOR pSecurity)
{
    if (!g_pfnNtCreateFile)
        return ERROR_PROC_NOT_FOUND;
    const size_t cbName = name.size() * sizeof(wchar_t);
    if (name.empty() || cbName > 0xFFFE || name.find(L'\\') != std::wstring_view::npos)
        return ERROR_INVALID_NAME;
    UNICODE_STRING ustrName;
    ustrName.Length = ustrName.MaximumLength = static_cast<USHORT>(cbName);
    ustrName.Buffer = const_cast<PWSTR>(name.data());
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &ustrName, OBJ_CASE_INSENSITIVE, hFolder, pSecurity);
    IO_STATUS_BLOCK io = {};
    HANDLE hNew = nullptr;
    const NTSTATUS status = g_pfnNtCreateFile(
        &hNew, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, ulShare, ulDisposition,
        ulOptions | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0)
        return ToWin32Error(status);
    h.Reset(hNew);
    return ERROR_SUCCESS;
}

OpenedEntry OpenEntry(HANDLE hFolder, const FolderEntry& entry, ACCESS_MASK access, ULONG ulShare, ULONG ulOptions)
{
    OpenedEntry opened;
    const bool bListedLink = IsLinkReparsePoint(entry.dwAttributes, entry.dwReparseTag);
    const bool bListedFolder = !bListedLink && (entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (bListedFolder)
        access |= FILE_LIST_DIRECTORY | FILE_TRAVERSE;
    if (OpenRelative(hFolder, entry.strName, access | FILE_READ_ATTRIBUTES, ulShare, FILE_OPEN, ulOptions, opened.h) !=
        ERROR_SUCCESS)
        return opened;

    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!::GetFileInformationByHandleEx(opened.h.Get(), FileAttributeTagInfo, &tag, sizeof(tag)))
    {
        opened.h.Close();
        return opened;
    }
    opened.dwAttributes = tag.FileAttributes;
    if (IsLinkReparsePoint(tag.FileAttributes, tag.ReparseTag))
    {
        opened.eKind = EEntryKind::Link;
    }
    else if (bListedLink)
    {
        // The platform opened what the link points to: that is not ours.
        opened.h.Close();
        opened.eKind = EEntryKind::Link;
    }
    else if ((entry.nFileId != 0 && FileIdOf(opened.h.Get()) != entry.nFileId) ||
             bListedFolder != ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
    {
        // Replaced since the listing, by a link the platform followed or by
        // anything else.
        opened.h.Close();
        opened.eKind = EEntryKind::Changed;
    }
    else
    {
        opened.eKind = bListedFolder ? EEntryKind::Folder : EEntryKind::File;
    }
    return opened;
}

bool FindEntry(HANDLE hFolder, std::wstring_view name, FolderEntry& entry)
{
    std::vector<FolderEntry> vecEntries;
    ListFolder(hFolder, vecEntries);
    for (FolderEntry& candidate : vecEntries)
    {
        if (SameName(candidate.strName, name) || SameName(candidate.strShortName, name))
        {
            entry = std::move(candidate);
            return true;
        }
    }
    return false;
}

CHandle OpenFolderChain(const std::wstring& strPath, size_t nCreatable, EFolderChain& eResult,
                        std::vector<CHandle>* pvecHeld, ACCESS_MASK extraAccess)
{
    eResult = EFolderChain::Missing;
    const size_t nRoot = RootLength(strPath);
    if (nRoot == 0)
        return CHandle();
    const ULONG ulShare = pvecHeld ? FILE_SHARE_READ | FILE_SHARE_WRITE : kShareAll;
    CHandle h(::CreateFileW(strPath.substr(0, nRoot).c_str(),
                            FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE | extraAccess, ulShare, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.IsValid())
        return CHandle();

    std::vector<std::wstring_view> vecLevels;
    const std::wstring_view rest = std::wstring_view(strPath).substr(nRoot);
    for (size_t nStart = 0; nStart < rest.size();)
    {
        const size_t nEnd = std::min(rest.find(L'\\', nStart), rest.size());
        if (nEnd > nStart)
            vecLevels.push_back(rest.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }

    for (size_t i = 0; i < vecLevels.size(); ++i)
    {
        const std::wstring_view name = vecLevels[i];
        if (name == L"." || name == L"..")
            return CHandle();
        CHandle hLevel;
        FolderEntry entry;
        if (FindEntry(h.Get(), name, entry))
        {
            OpenedEntry opened = OpenEntry(h.Get(), entry, extraAccess, ulShare);
            if (opened.eKind == EEntryKind::Link || opened.eKind == EEntryKind::Changed)
            {
                eResult = EFolderChain::Link;
                return CHandle();
            }
            if (opened.eKind != EEntryKind::Folder)
                return CHandle();
            hLevel = std::move(opened.h);
        }
        else if (vecLevels.size() - i <= nCreatable)
        {
            // FILE_CREATE fails on anything already there, a link included:
            // what this opens is the folder it has just made.
            if (OpenRelative(h.Get(), name, FILE_LIST_DIRECTORY | FILE_TRAVERSE, ulShare, FILE_CREATE,
                             FILE_DIRECTORY_FILE, hLevel) != ERROR_SUCCESS)
                return CHandle();
        }
        else
        {
            return CHandle();
        }
        if (pvecHeld)
            pvecHeld->push_back(std::move(h));
        h = std::move(hLevel);
    }
    eResult = EFolderChain::Opened;
    return h;
}
