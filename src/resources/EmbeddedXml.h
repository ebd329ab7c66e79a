#pragma once

#include "win/Com.h"

#include <windows.h>
#include <msxml.h>

#include <string>
#include <string_view>
#include <vector>

// One record of the flattened XML walk.
struct XmlItem
{
    int nValue = 0;           // second attribute of a second-level element, as a number
    std::wstring strKey;      // first attribute of a second-level element
    std::wstring strText;     // text content of a third-level node
    std::wstring strNodeName; // node name of that node ("#text" for text)
};

// How the loader finds, loads and measures a document among the program's
// resources; tests make a step fail or hand over a document of their own,
// the program keeps FindResourceW, LoadResource and SizeofResource.
using PfnFindResourceW = HRSRC(WINAPI*)(HMODULE, LPCWSTR, LPCWSTR);
using PfnLoadResource = HGLOBAL(WINAPI*)(HMODULE, HRSRC);
using PfnSizeofResource = DWORD(WINAPI*)(HMODULE, HRSRC);
extern PfnFindResourceW g_pfnFindResourceW;
extern PfnLoadResource g_pfnLoadResource;
extern PfnSizeofResource g_pfnSizeofResource;

// One of the XML documents that the program carries as a "BINARY" resource
// (UTF-8): parsed with the MSXML DOM and flattened, by its shape alone, into
// items. COM must be initialised on the calling thread; an object is used by
// one thread only.
class CEmbeddedXml
{
public:
    // The texts written to the log when a step of loading fails; a null text
    // writes nothing.
    struct LoadTexts
    {
        const wchar_t* pszFindFailed;
        const wchar_t* pszLockFailed;
        const wchar_t* pszParseFailed;
    };

    // Loads the resource nId of type "BINARY" and walks it. False when it is
    // missing, cannot be locked, or does not parse (logged as texts say).
    bool Load(UINT nId, const LoadTexts& texts);

    // Loads the Products document: a missing resource is not logged.
    bool LoadProductResource();

    const std::vector<XmlItem>& Items() const { return m_items; }

private:
    // Parses UTF-8 bytes and walks them, appending to the items.
    // pszParseFailed is the log text for a parse failure.
    bool LoadXmlBytes(std::string_view bytes, const wchar_t* pszParseFailed);

    // The positional walk: one item per child of each child of the root,
    // appended in document order. Element and attribute names play no part.
    void ParseDocument();

    CComPtrT<IXMLDOMDocument> m_pDoc; // made by the first load, reused by later ones
    std::vector<XmlItem> m_items;     // every walk's items, in walk order; only grows
};
