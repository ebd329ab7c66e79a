#pragma once

#include "TestSupport.h"

#include "resources/EmbeddedXml.h"

#include <string>

// While it lives, the program's resource loader finds the bytes given here
// as its document nId, through the loader's seams; every other resource is
// found as usual. One at a time.
class DocumentOverride
{
public:
    DocumentOverride(UINT nId, std::string bytes)
    {
        s_nId = nId;
        s_bytes = std::move(bytes);
    }

private:
    static HRSRC Ours() { return reinterpret_cast<HRSRC>(&s_bytes); }
    static HRSRC WINAPI Find(HMODULE hModule, LPCWSTR pszName, LPCWSTR pszType)
    {
        return IS_INTRESOURCE(pszName) && LOWORD(reinterpret_cast<ULONG_PTR>(pszName)) == s_nId
                   ? Ours()
                   : ::FindResourceW(hModule, pszName, pszType);
    }
    // LockResource hands back what LoadResource gave.
    static HGLOBAL WINAPI Load(HMODULE hModule, HRSRC hRes)
    {
        return hRes == Ours() ? static_cast<HGLOBAL>(s_bytes.data()) : ::LoadResource(hModule, hRes);
    }
    static DWORD WINAPI Size(HMODULE hModule, HRSRC hRes)
    {
        return hRes == Ours() ? static_cast<DWORD>(s_bytes.size()) : ::SizeofResource(hModule, hRes);
    }

    inline static UINT s_nId = 0;
    inline static std::string s_bytes;
    SeamOverride<PfnFindResourceW> m_find{g_pfnFindResourceW, &Find};
    SeamOverride<PfnLoadResource> m_load{g_pfnLoadResource, &Load};
    SeamOverride<PfnSizeofResource> m_size{g_pfnSizeofResource, &Size};
};
