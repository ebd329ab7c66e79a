#include "installer/MsiPackage.h"

#include "win/ScopedHandle.h"
#include "win/SystemEntry.h"

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <cstring>

namespace
{
// The Windows Installer's functions, from the system folder's msi.dll on
// first use.
#define LUMET_MSI_ENTRY(name) LUMET_SYSTEM_ENTRY(L"msi.dll", name)
struct MsiFunctions
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
    LUMET_MSI_ENTRY(MsiQueryProductStateW);
    LUMET_MSI_ENTRY(MsiGetProductInfoW);
    LUMET_MSI_ENTRY(MsiEnumRelatedProductsW);

    bool IsComplete() const
    {
        return pfnMsiVerifyPackageW && pfnMsiOpenDatabaseW && pfnMsiDatabaseIsTablePersistentW &&
               pfnMsiDatabaseOpenViewW && pfnMsiViewExecute && pfnMsiViewFetch && pfnMsiRecordGetInteger &&
               pfnMsiRecordGetStringW && pfnMsiCreateRecord && pfnMsiRecordSetStringW && pfnMsiGetSummaryInformationW &&
               pfnMsiSummaryInfoGetPropertyW && pfnMsiCloseHandle && pfnMsiQueryProductStateW &&
               pfnMsiGetProductInfoW && pfnMsiEnumRelatedProductsW;
    }
};
#undef LUMET_MSI_ENTRY

const MsiFunctions& Msi()
{
    static const MsiFunctions api;
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

bool ReadPackageIdentity(const std::wstring& strPackage, PackageIdentity& identity)
{
    CMsiHandle hDatabase;
    if (!Msi().IsComplete() ||
        Msi().pfnMsiOpenDatabaseW(strPackage.c_str(), MSIDBOPEN_READONLY, hDatabase.Put()) != ERROR_SUCCESS)
        return false;
    PackageIdentity read;
    const bool bRead =
        EveryRow(hDatabase.Get(), L"Property", L"SELECT `Property`, `Value` FROM `Property`", [&](MSIHANDLE hRecord) {
            const std::wstring strName = StringOf(hRecord, 1);
            if (strName == L"ProductCode")
                read.strProductCode = StringOf(hRecord, 2);
            else if (strName == L"UpgradeCode")
                read.strUpgradeCode = StringOf(hRecord, 2);
            else if (strName == L"ProductVersion")
                read.strProductVersion = StringOf(hRecord, 2);
            return true;
        });
    if (!bRead || read.strProductCode.empty() || read.strUpgradeCode.empty() || read.strProductVersion.empty())
        return false;
    identity = std::move(read);
    return true;
}

bool IsProductInstalled(const std::wstring& strProductCode)
{
    return Msi().IsComplete() && Msi().pfnMsiQueryProductStateW(strProductCode.c_str()) == INSTALLSTATE_DEFAULT;
}

std::wstring GetInstalledProductProperty(const std::wstring& strProductCode, const wchar_t* pszProperty)
{
    if (!Msi().IsComplete())
        return std::wstring();
    // Two rounds in case the value grows between the calls.
    for (int nRound = 0; nRound < 2; ++nRound)
    {
        DWORD cch = 0;
        wchar_t szEmpty[1] = {};
        UINT uResult = Msi().pfnMsiGetProductInfoW(strProductCode.c_str(), pszProperty, szEmpty, &cch);
        if (uResult != ERROR_MORE_DATA && uResult != ERROR_SUCCESS)
            return std::wstring();
        std::wstring strValue(++cch, L'\0');
        uResult = Msi().pfnMsiGetProductInfoW(strProductCode.c_str(), pszProperty, strValue.data(), &cch);
        if (uResult == ERROR_SUCCESS)
        {
            strValue.resize(cch);
            return strValue;
        }
        if (uResult != ERROR_MORE_DATA)
            return std::wstring();
    }
    return std::wstring();
}

bool IsRelatedProduct(const std::wstring& strUpgradeCode, const std::wstring& strProductCode)
{
    if (!Msi().IsComplete())
        return false;
    wchar_t szRelated[39] = {};
    for (DWORD i = 0; Msi().pfnMsiEnumRelatedProductsW(strUpgradeCode.c_str(), 0, i, szRelated) == ERROR_SUCCESS; ++i)
        if (::CompareStringOrdinal(szRelated, -1, strProductCode.c_str(), -1, TRUE) == CSTR_EQUAL)
            return true;
    return false;
}

int CompareVersions(std::wstring_view a, std::wstring_view b)
{
    // Each field in turn: its digits up to the next dot, as a number.
    const auto next = [](std::wstring_view& text) {
        unsigned long long n = 0;
        size_t i = 0;
        for (; i < text.size() && text[i] != L'.'; ++i)
            if (text[i] >= L'0' && text[i] <= L'9' && n < 0xFFFFFFFFULL)
                n = n * 10 + static_cast<unsigned>(text[i] - L'0');
        text.remove_prefix(i < text.size() ? i + 1 : i);
        return n;
    };
    while (!a.empty() || !b.empty())
    {
        const unsigned long long nA = next(a), nB = next(b);
        if (nA != nB)
            return nA < nB ? -1 : 1;
    }
    return 0;
}
