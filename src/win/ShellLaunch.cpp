#include "win/ShellLaunch.h"

#include "win/Com.h"

#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace
{
// The identifiers are defined here rather than taken from libuuid, so that
// this file links on its own with any MinGW-w64 runtime.
constexpr CLSID kClsidShellWindows = {0x9ba05972, 0xf6a8, 0x11cf, {0xa4, 0x42, 0x00, 0xa0, 0xc9, 0x0a, 0x8f, 0x39}};
constexpr IID kIidShellWindows = {0x85cb6900, 0x4d95, 0x11cf, {0x96, 0x0c, 0x00, 0x80, 0xc7, 0xf4, 0xee, 0x85}};
constexpr IID kIidServiceProvider = {0x6d5140c1, 0x7436, 0x11ce, {0x80, 0x34, 0x00, 0xaa, 0x00, 0x60, 0x09, 0xfa}};
constexpr GUID kSidTopLevelBrowser = {0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};
constexpr IID kIidShellBrowser = {0x000214e2, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidShellFolderViewDual = {0xe7a1af80, 0x4d96, 0x11cf, {0x96, 0x0c, 0x00, 0x80, 0xc7, 0xf4, 0xee, 0x85}};
constexpr IID kIidShellDispatch2 = {0xa4c6892c, 0x3ba9, 0x11d2, {0x9d, 0xea, 0x00, 0xc0, 0x4f, 0xb1, 0x61, 0x62}};
}

bool StartThroughDesktopShell(const std::wstring& strPath, const std::wstring& strFolder)
{
    const CComInit com;
    if (!com.IsUsable())
        return false;

    CComPtrT<IShellWindows> pWindows;
    HRESULT hr = ::CoCreateInstance(kClsidShellWindows, nullptr, CLSCTX_LOCAL_SERVER, kIidShellWindows,
                                    reinterpret_cast<void**>(pWindows.Put()));
    if (FAILED(hr) || !pWindows)
        return false;

    // The desktop is found by its kind; its location is CSIDL_DESKTOP (0) and
    // it has no root.
    CVariant vLocation(static_cast<LONG>(CSIDL_DESKTOP));
    CVariant vRoot;
    long lHwnd = 0;
    CComPtrT<IDispatch> pDesktop;
    hr = pWindows->FindWindowSW(vLocation.Ptr(), vRoot.Ptr(), SWC_DESKTOP, &lHwnd, SWFO_NEEDDISPATCH, pDesktop.Put());
    if (hr != S_OK || !pDesktop)
        return false;

    CComPtrT<IServiceProvider> pProvider;
    hr = pDesktop->QueryInterface(kIidServiceProvider, reinterpret_cast<void**>(pProvider.Put()));
    CComPtrT<IShellBrowser> pBrowser;
    if (SUCCEEDED(hr) && pProvider)
        hr = pProvider->QueryService(kSidTopLevelBrowser, kIidShellBrowser, reinterpret_cast<void**>(pBrowser.Put()));
    if (FAILED(hr) || !pBrowser)
        return false;

    CComPtrT<IShellView> pView;
    hr = pBrowser->QueryActiveShellView(pView.Put());
    if (FAILED(hr) || !pView)
        return false;

    CComPtrT<IDispatch> pViewDispatch;
    hr = pView->GetItemObject(SVGIO_BACKGROUND, kIidDispatch, reinterpret_cast<void**>(pViewDispatch.Put()));
    if (FAILED(hr) || !pViewDispatch)
        return false;

    CComPtrT<IShellFolderViewDual> pFolderView;
    hr = pViewDispatch->QueryInterface(kIidShellFolderViewDual, reinterpret_cast<void**>(pFolderView.Put()));
    if (FAILED(hr) || !pFolderView)
        return false;

    CComPtrT<IDispatch> pApplication;
    hr = pFolderView->get_Application(pApplication.Put());
    if (FAILED(hr) || !pApplication)
        return false;

    CComPtrT<IShellDispatch2> pShell;
    hr = pApplication->QueryInterface(kIidShellDispatch2, reinterpret_cast<void**>(pShell.Put()));
    if (FAILED(hr) || !pShell)
        return false;

    CBstr bstrFile(strPath.c_str());
    CVariant vArgs{std::wstring()};
    CVariant vFolder(strFolder);
    CVariant vVerb(std::wstring(L"open"));
    CVariant vShow(static_cast<LONG>(SW_SHOWNORMAL));
    if (!bstrFile.Get() || !vArgs.IsText() || !vFolder.IsText() || !vVerb.IsText())
        return false;
    return SUCCEEDED(
        pShell->ShellExecute(bstrFile.Get(), vArgs.Value(), vFolder.Value(), vVerb.Value(), vShow.Value()));
}
