#include "installer/PackageCheck.h"

#include "installer/InstallerRuns.h"
#include "log/Log.h"
#include "win/FileHandles.h"
#include "win/ScopedHandle.h"
#include "win/SystemEntry.h"
#include "win/Text.h"
#include "win/WorkerThread.h"

#include <windows.h>
#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <cstring>
#include <vector>

namespace
{
// The Windows Installer's functions, from the system folder's msi.dll on
// first use.
#define LUMET_MSI_ENTRY(name) LUMET_SYSTEM_ENTRY(L"msi.dll", name)
struct CMsiApi
{
    LUMET_MSI_ENTRY(MsiVerifyPackageW);
    LUMET_MSI_ENTRY(MsiOpenDatabaseW);
    LUMET_MSI_ENTRY(MsiDatabaseIsTablePersistentW);
    LUMET_MSI_ENTRY(MsiDatabaseOpenViewW);
    LUMET_MSI_ENTRY(MsiViewExecute);
    LUMET_MSI_ENTRY(MsiViewFetch);
    LUMET_MSI_ENTRY(MsiRecordGetInteger);
    LUMET_MSI_ENTRY(MsiRecordGetStringW);
    LUMET_MSI_ENTRY(MsiCreateRecord);
    LUMET_MSI_ENTRY(MsiRecordSetStringW);
    LUMET_MSI_ENTRY(MsiGetSummaryInformationW);
    LUMET_MSI_ENTRY(MsiSummaryInfoGetPropertyW);
    LUMET_MSI_ENTRY(MsiCloseHandle);

    bool IsComplete() const
    {
        return pfnMsiVerifyPackageW && pfnMsiOpenDatabaseW && pfnMsiDatabaseIsTablePersistentW &&
               pfnMsiDatabaseOpenViewW && pfnMsiViewExecute && pfnMsiViewFetch && pfnMsiRecordGetInteger &&
               pfnMsiRecordGetStringW && pfnMsiCreateRecord && pfnMsiRecordSetStringW && pfnMsiGetSummaryInformationW &&
               pfnMsiSummaryInfoGetPropertyW && pfnMsiCloseHandle;
    }
};
#undef LUMET_MSI_ENTRY

const CMsiApi& Msi()
{
    static const CMsiApi api;
    return api;
}

// Handles of the Windows Installer's API, closed with MsiCloseHandle.
struct MsiHandleTraits
{
    using Handle = MSIHANDLE;
    static Handle Invalid() noexcept { return 0; }
    static bool IsValid(Handle h) noexcept { return h != 0; }
    static void Close(Handle h) noexcept { Msi().pfnMsiCloseHandle(h); }
};
using CMsiHandle = CScopedHandle<MsiHandleTraits>;

constexpr DWORD kCopyBuffer = 1 << 20;

// What an open of the package by its path says about the package.
DWORD RefusalOfOpen(DWORD dwError)
{
    switch (dwError)
    {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ERROR_FILE_NOT_FOUND;
    case ERROR_INVALID_NAME:
        return ERROR_BAD_PATHNAME;
    default: // in use for writing, no access, a folder
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    }
}

// The file's own name, as the file system has it; empty when unknown.
std::wstring NameOf(HANDLE h)
{
    std::vector<LONGLONG> buffer((sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t)) / sizeof(LONGLONG));
    auto* pInfo = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!::GetFileInformationByHandleEx(h, FileNameInfo, pInfo, static_cast<DWORD>(buffer.size() * sizeof(LONGLONG))))
        return std::wstring();
    const std::wstring_view path(pInfo->FileName, pInfo->FileNameLength / sizeof(wchar_t));
    return std::wstring(path.substr(path.rfind(L'\\') + 1));
}

// Reads hSource to its end into hCopy; it must hold exactly nSize bytes.
DWORD CopyData(HANDLE hSource, HANDLE hCopy, LONGLONG nSize)
{
    std::vector<BYTE> buffer(kCopyBuffer);
    LONGLONG nCopied = 0;
    for (;;)
    {
        DWORD cbRead = 0;
        if (!::ReadFile(hSource, buffer.data(), kCopyBuffer, &cbRead, nullptr))
            return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
        if (cbRead == 0)
            break;
        DWORD cbWritten = 0;
        if (!::WriteFile(hCopy, buffer.data(), cbRead, &cbWritten, nullptr))
            return ::GetLastError();
        if (cbWritten != cbRead)
            return ERROR_WRITE_FAULT;
        nCopied += cbRead;
    }
    return nCopied == nSize ? ERROR_SUCCESS : ERROR_INSTALL_PACKAGE_OPEN_FAILED;
}

// Whether the file is a compound file (the Windows Installer's format) of a
// whole number of sectors. Every writer writes whole sectors, so a file that
// is not was cut short; and Wine's reader was seen never to return on a
// package missing 511 bytes.
bool IsWholeCompoundFile(const std::wstring& strPath)
{
    static constexpr BYTE kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    constexpr size_t kSectorShiftOffset = 30;
    CHandle h(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    BYTE header[512] = {};
    DWORD cbRead = 0;
    LARGE_INTEGER size = {};
    if (!h.IsValid() || !::ReadFile(h.Get(), header, sizeof(header), &cbRead, nullptr) || cbRead != sizeof(header) ||
        !::GetFileSizeEx(h.Get(), &size) || std::memcmp(header, kSignature, sizeof(kSignature)) != 0)
        return false;
    const unsigned uSectorShift = header[kSectorShiftOffset] | (header[kSectorShiftOffset + 1] << 8);
    return (uSectorShift == 9 || uSectorShift == 12) && size.QuadPart % (LONGLONG{1} << uSectorShift) == 0;
}

// Calls fnRow with each row the query finds until it returns false. A table
// the package does not have has no rows. False when a row was refused or the
// query failed.
template <typename Fn>
bool EveryRow(MSIHANDLE hDatabase, const wchar_t* pszTable, const wchar_t* pszQuery, Fn fnRow)
{
    if (Msi().pfnMsiDatabaseIsTablePersistentW(hDatabase, pszTable) == MSICONDITION_NONE)
        return true;
    CMsiHandle hView;
    const UINT uOpened = Msi().pfnMsiDatabaseOpenViewW(hDatabase, pszQuery, hView.Put());
    if (uOpened != ERROR_SUCCESS || Msi().pfnMsiViewExecute(hView.Get(), 0) != ERROR_SUCCESS)
        return false;
    for (;;)
    {
        CMsiHandle hRecord;
        const UINT uFetched = Msi().pfnMsiViewFetch(hView.Get(), hRecord.Put());
        if (uFetched == ERROR_NO_MORE_ITEMS)
            return true;
        if (uFetched != ERROR_SUCCESS || !fnRow(hRecord.Get()))
            return false;
    }
}

std::wstring StringOf(MSIHANDLE hRecord, UINT uField)
{
    DWORD cch = 0;
    wchar_t szEmpty[1] = {};
    if (Msi().pfnMsiRecordGetStringW(hRecord, uField, szEmpty, &cch) != ERROR_MORE_DATA)
        return std::wstring();
    std::wstring text(++cch, L'\0');
    if (Msi().pfnMsiRecordGetStringW(hRecord, uField, text.data(), &cch) != ERROR_SUCCESS)
        return std::wstring();
    text.resize(cch);
    return text;
}

bool HasStream(MSIHANDLE hDatabase, const std::wstring& strName)
{
    CMsiHandle hView;
    Msi().pfnMsiDatabaseOpenViewW(hDatabase, L"SELECT `Name` FROM `_Streams` WHERE `Name` = ?", hView.Put());
    CMsiHandle hParameters(Msi().pfnMsiCreateRecord(1));
    if (!hView.IsValid() || !hParameters.IsValid() ||
        Msi().pfnMsiRecordSetStringW(hParameters.Get(), 1, strName.c_str()) != ERROR_SUCCESS ||
        Msi().pfnMsiViewExecute(hView.Get(), hParameters.Get()) != ERROR_SUCCESS)
        return false;
    CMsiHandle hRecord;
    return Msi().pfnMsiViewFetch(hView.Get(), hRecord.Put()) == ERROR_SUCCESS;
}

// Whether everything the package installs is inside it. A file is taken
// from a cabinet when it is marked compressed, or when the package compresses
// by default (and is no administrative image) and the file is not marked
// uncompressed; otherwise the installer looks for it beside the package. A
// cabinet whose name does not begin with '#' lies beside the package, and one
// that does must be a stream of it. A nested installation of type 23 installs
// a package from beside this one.
bool HoldsAllItsFiles(MSIHANDLE hDatabase)
{
    CMsiHandle hSummary;
    if (Msi().pfnMsiGetSummaryInformationW(hDatabase, nullptr, 0, hSummary.Put()) != ERROR_SUCCESS)
        return false;
    UINT uType = 0;
    INT nWordCount = 0;
    if (Msi().pfnMsiSummaryInfoGetPropertyW(hSummary.Get(), PID_WORDCOUNT, &uType, &nWordCount, nullptr, nullptr,
                                            nullptr) != ERROR_SUCCESS)
        return false;
    const bool bCompressedByDefault =
        (nWordCount & msidbSumInfoSourceTypeCompressed) != 0 && (nWordCount & msidbSumInfoSourceTypeAdminImage) == 0;

    return EveryRow(hDatabase, L"File", L"SELECT `Attributes` FROM `File`",
                    [&](MSIHANDLE hRecord) {
                        // An empty value reads as MSI_NULL_INTEGER, which has neither flag.
                        const int nAttributes = Msi().pfnMsiRecordGetInteger(hRecord, 1);
                        return (nAttributes & msidbFileAttributesCompressed) != 0 ||
                               (bCompressedByDefault && (nAttributes & msidbFileAttributesNoncompressed) == 0);
                    }) &&
           EveryRow(hDatabase, L"Media", L"SELECT `Cabinet` FROM `Media`",
                    [&](MSIHANDLE hRecord) {
                        const std::wstring strCabinet = StringOf(hRecord, 1);
                        return strCabinet.size() > 1 && strCabinet[0] == L'#' &&
                               HasStream(hDatabase, strCabinet.substr(1));
                    }) &&
           EveryRow(hDatabase, L"CustomAction", L"SELECT `Type` FROM `CustomAction`", [](MSIHANDLE hRecord) {
               constexpr int kNestedFromSource =
                   static_cast<int>(msidbCustomActionTypeInstall) | static_cast<int>(msidbCustomActionTypeSourceFile);
               return (Msi().pfnMsiRecordGetInteger(hRecord, 1) & 0x3F) != kNestedFromSource;
           });
}
}

DWORD CheckPackagePath(std::wstring_view package)
{
    if (package.empty())
        return ERROR_INVALID_COMMAND_LINE;
    size_t nRoot = StartsWithDriveRoot(package) ? 3 : 0;
    if (package.starts_with(L"\\\\"))
    {
        // "\\server\share\": "?" and "." are no servers but device prefixes.
        const size_t nServerEnd = package.find(L'\\', 2);
        const size_t nShareEnd =
            nServerEnd == std::wstring_view::npos ? nServerEnd : package.find(L'\\', nServerEnd + 1);
        const std::wstring_view server = package.substr(2, nServerEnd - 2);
        if (nShareEnd != std::wstring_view::npos && !server.empty() && nShareEnd > nServerEnd + 1 && server != L"?" &&
            server != L".")
            nRoot = nShareEnd + 1;
    }
    const std::wstring_view rest = package.substr(nRoot);
    if (nRoot == 0 || rest.empty() || rest.back() == L'\\')
        return ERROR_BAD_PATHNAME;
    for (const wchar_t ch : rest)
    {
        // A colon would name a stream of the file, '/' a second separator
        // that the shape above does not see.
        if (ch < 32 || std::wstring_view(L":*?\"<>|/").find(ch) != std::wstring_view::npos)
            return ERROR_BAD_PATHNAME;
    }
    return ERROR_SUCCESS;
}

DWORD CopyPackage(const std::wstring& strPackage, HANDLE hFolder, const std::wstring& strFolder, std::wstring& strCopy)
{
    // Shared for reading only: an open that would write it fails from now on,
    // and this one fails while anyone has it open for writing.
    CHandle hSource(::CreateFileW(strPackage.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hSource.IsValid())
        return RefusalOfOpen(::GetLastError());
    // A folder does not open so (that takes FILE_FLAG_BACKUP_SEMANTICS); a
    // device does, and a link opens as itself.
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    LARGE_INTEGER size = {};
    if (::GetFileType(hSource.Get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandleEx(hSource.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        IsLinkReparsePoint(tag.FileAttributes, tag.ReparseTag) || !::GetFileSizeEx(hSource.Get(), &size))
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    const std::wstring strName = NameOf(hSource.Get());
    if (strName.empty() || strName.find(L':') != std::wstring::npos)
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;

    CHandle hCopy;
    DWORD dwError = OpenRelative(hFolder, strName, GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                                 FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, hCopy);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    dwError = CopyData(hSource.Get(), hCopy.Get(), size.QuadPart);
    if (dwError != ERROR_SUCCESS)
    {
        DeleteByHandle(hCopy.Get(), 0, false); // best effort: the folder is the run's own
        return dwError;
    }
    strCopy = strFolder + (strFolder.ends_with(L'\\') ? L"" : L"\\") + strName;
    return ERROR_SUCCESS;
}

DWORD CheckInstallerPackage(const std::wstring& strCopy)
{
    if (!Msi().IsComplete())
        return ERROR_PROC_NOT_FOUND;
    if (!IsWholeCompoundFile(strCopy) || Msi().pfnMsiVerifyPackageW(strCopy.c_str()) != ERROR_SUCCESS)
        return ERROR_INSTALL_PACKAGE_INVALID;
    CMsiHandle hDatabase;
    if (Msi().pfnMsiOpenDatabaseW(strCopy.c_str(), MSIDBOPEN_READONLY, hDatabase.Put()) != ERROR_SUCCESS)
        return ERROR_INSTALL_PACKAGE_INVALID;
    return HoldsAllItsFiles(hDatabase.Get()) ? ERROR_SUCCESS : ERROR_INSTALL_SOURCE_ABSENT;
}

DWORD CheckPackageSigner(const std::wstring& strCopy, const CSignerName& ownSigner)
{
    if (ownSigner.empty())
        return ERROR_SUCCESS;
    CHandle hCopy(::CreateFileW(strCopy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!hCopy.IsValid())
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    CSignerName signer;
    const DWORD dwVerified = VerifyFileSignature(strCopy, hCopy.Get(), signer);
    if (dwVerified != ERROR_SUCCESS)
        return dwVerified;
    return SameSigner(signer, ownSigner) ? ERROR_SUCCESS : ERROR_INSTALL_PACKAGE_REJECTED;
}

namespace
{
// The reason a refusal gives, by its code.
const wchar_t* ReasonOf(DWORD dwRefused)
{
    switch (dwRefused)
    {
    case ERROR_INVALID_COMMAND_LINE:
        return L"no package given";
    case ERROR_FILE_NOT_FOUND:
        return L"not found";
    case ERROR_BAD_PATHNAME:
        return L"not a full path";
    case ERROR_INSTALL_PACKAGE_INVALID:
        return L"not a valid Windows Installer package";
    case ERROR_INSTALL_SOURCE_ABSENT:
        return L"files outside the package";
    case kErrorInvalidImageHash:
        return L"no valid signature";
    case ERROR_INSTALL_PACKAGE_REJECTED:
        return L"signed by another publisher";
    default: // it could not be opened, read or copied
        return L"cannot be read";
    }
}
}

DWORD PreparePackage(const std::wstring& strPackage, CWorkFolder& work, std::wstring& strCopy)
{
    DWORD dwResult = CheckPackagePath(strPackage);
    struct COwnSigner
    {
        CSignerName signer;
        DWORD dwRead = ERROR_NOT_READY;
    } own;
    std::unique_ptr<CWorkerThread> pReader;
    if (dwResult == ERROR_SUCCESS)
    {
        pReader = CWorkerThread::BeginSuspended(
            [](void* pParam) -> UINT {
                auto& ownSigner = *static_cast<COwnSigner*>(pParam);
                ownSigner.dwRead = ReadOwnSigner(ownSigner.signer);
                return 0;
            },
            &own);
        if (!pReader || !pReader->Resume())
        {
            pReader.reset();
            own.dwRead = ReadOwnSigner(own.signer);
        }
    }
    CHandle hFolder;
    std::wstring strFolder;
    if (dwResult == ERROR_SUCCESS)
        dwResult = work.OpenSubFolder(L"Package", hFolder, strFolder);
    if (dwResult == ERROR_SUCCESS)
        dwResult = CopyPackage(strPackage, hFolder.Get(), strFolder, strCopy);
    if (dwResult == ERROR_SUCCESS && IsInstallerPackageName(strCopy))
        dwResult = CheckInstallerPackage(strCopy);
    pReader.reset(); // waits for the reader
    // Without its own signer the updater cannot know whose packages to take:
    // it takes none, as for a package without a valid signature.
    if (dwResult == ERROR_SUCCESS && own.dwRead != ERROR_SUCCESS)
        dwResult = kErrorInvalidImageHash;
    if (dwResult == ERROR_SUCCESS)
        dwResult = CheckPackageSigner(strCopy, own.signer);
    if (dwResult != ERROR_SUCCESS)
        WriteLog(std::wstring(L"Update refused: ") + ReasonOf(dwResult) + L": " + strPackage + L"\r\n");
    else if (own.signer.empty())
        WriteLog(L"No publisher checked: this updater is not signed.\r\n");
    return dwResult;
}
