#include "win/WorkFolder.h"

#include "TestSupport.h"

#include "win/FileHandles.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <vector>

namespace
{
// What the run's own folder and its sub-folders are made with, seen through
// the NtCreateFile seam: Wine keeps no access lists, so the descriptor handed
// to the call is what can be checked.
struct Made
{
    std::wstring strName;
    ULONG ulDisposition;
    std::wstring strSddl;
    bool operator==(const Made&) const = default;
};
std::vector<Made> g_vecMade;
PfnNtCreateFile g_pfnRealNtCreateFile = nullptr;
NTSTATUS NTAPI RecordMade(PHANDLE ph, ACCESS_MASK access, POBJECT_ATTRIBUTES pAttributes, PIO_STATUS_BLOCK pIo,
                          PLARGE_INTEGER pSize, ULONG ulAttributes, ULONG ulShare, ULONG ulDisposition, ULONG ulOptions,
                          PVOID pEa, ULONG cbEa)
{
    CLocalMemory<LPWSTR> pszSddl;
    if (ulDisposition != FILE_OPEN)
    {
        const UNICODE_STRING& name = *pAttributes->ObjectName;
        if (pAttributes->SecurityDescriptor)
            ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                pAttributes->SecurityDescriptor, SDDL_REVISION_1,
                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, pszSddl.Put(), nullptr);
        std::wstring strName(name.Buffer, name.Length / sizeof(wchar_t));
        if (strName.starts_with(L"LumetUpdate-"))
            strName = L"LumetUpdate-{GUID}";
        g_vecMade.push_back({strName, ulDisposition, pszSddl.IsValid() ? pszSddl.Get() : L""});
    }
    return g_pfnRealNtCreateFile(ph, access, pAttributes, pIo, pSize, ulAttributes, ulShare, ulDisposition, ulOptions,
                                 pEa, cbEa);
}

// Made with FILE_CREATE, which fails on anything already there, under a
// name nobody can guess; every folder in it for the administrators alone.
// Once empty, it goes at the end.
TEST(WorkFolderTest, IsNewAndTheAdministratorsAloneDownToItsSubFolders)
{
    g_pfnRealNtCreateFile = g_pfnNtCreateFile;
    CWorkFolder work;
    {
        const SeamOverride<PfnNtCreateFile> made(g_pfnNtCreateFile, &RecordMade);
        for (const wchar_t* pszName : {L"Package", L"Temp", L"Package"})
        {
            CHandle hFolder;
            std::wstring strPath;
            ASSERT_EQ(work.OpenSubFolder(pszName, hFolder, strPath), 0u);
            EXPECT_EQ(strPath, work.Path() + L"\\" + pszName);
        }
    }
    const std::wstring strAdministratorsOnly = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    const std::vector<Made> vecExpected = {{L"LumetUpdate-{GUID}", FILE_CREATE, strAdministratorsOnly},
                                           {L"Package", FILE_OPEN_IF, strAdministratorsOnly},
                                           {L"Temp", FILE_OPEN_IF, strAdministratorsOnly},
                                           {L"Package", FILE_OPEN_IF, strAdministratorsOnly}};
    EXPECT_EQ(g_vecMade, vecExpected);
    wchar_t szWindows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(szWindows, MAX_PATH);
    EXPECT_TRUE(work.Path().starts_with(std::wstring(szWindows) + L"\\Temp\\LumetUpdate-{")) << Utf8(work.Path());

    work.Finish();
    EXPECT_FALSE(Exists(work.Path()));
}
}
