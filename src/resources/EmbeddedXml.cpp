#include "resources/EmbeddedXml.h"

#include "log/Log.h"
#include "resources/resource.h"
#include "win/Text.h"

#include <cwchar>

PfnFindResourceW g_pfnFindResourceW = &::FindResourceW;
PfnLoadResource g_pfnLoadResource = &::LoadResource;
PfnSizeofResource g_pfnSizeofResource = &::SizeofResource;

namespace
{
// The MSXML DOM document class and interface, spelled out so that the build
// does not depend on which GUID library the toolchain ships.
constexpr CLSID kClsidDomDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// A loader's text, where it has one.
void WriteLogText(const wchar_t* pszText)
{
    if (pszText)
        WriteLog(pszText);
}
}

bool CEmbeddedXml::Load(UINT nId, const LoadTexts& texts)
{
    HRSRC hRes = g_pfnFindResourceW(nullptr, MAKEINTRESOURCEW(nId), L"BINARY");
    if (hRes == nullptr)
    {
        WriteLogText(texts.pszFindFailed);
        return false;
    }
    HGLOBAL hData = g_pfnLoadResource(nullptr, hRes);
    const void* pData = hData ? ::LockResource(hData) : nullptr;
    if (pData == nullptr)
    {
        WriteLogText(texts.pszLockFailed);
        return false;
    }
    const DWORD cb = g_pfnSizeofResource(nullptr, hRes);
    return LoadXmlBytes(std::string_view(static_cast<const char*>(pData), cb), texts.pszParseFailed);
}

bool CEmbeddedXml::LoadProductResource()
{
    static constexpr LoadTexts kTexts = {nullptr, L"Lock resource failed.", L"Load xml failed."};
    return Load(IDR_XML_PRODUCTS, kTexts);
}

bool CEmbeddedXml::LoadXmlBytes(std::string_view bytes, const wchar_t* pszParseFailed)
{
    if (!m_pDoc && FAILED(::CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument,
                                             reinterpret_cast<void**>(m_pDoc.Put()))))
        return false;

    // A failed conversion leaves an empty text, whose parse fails below.
    std::wstring text;
    const DWORD dwConverted = Utf8ToWide(bytes, text);
    if (dwConverted == ERROR_OUTOFMEMORY)
        WriteLog(L"MultiByteToWideChar,Convert to wchar failed.");
    else if (dwConverted != ERROR_SUCCESS)
        WriteLog(L"MultiByteToWideChar get length failed.");
    const CBstr bstrXml(text.c_str());

    // The text is parsed as a string, so the declared encoding plays no part.
    m_pDoc->put_async(VARIANT_FALSE);
    VARIANT_BOOL bLoaded = VARIANT_FALSE;
    m_pDoc->loadXML(bstrXml.Get(), &bLoaded);
    if (bLoaded == VARIANT_FALSE)
    {
        WriteLogText(pszParseFailed);
        return false;
    }
    ParseDocument();
    return true;
}

void CEmbeddedXml::ParseDocument()
{
    if (!m_pDoc)
        return;
    CComPtrT<IXMLDOMElement> pRoot;
    m_pDoc->get_documentElement(pRoot.Put());
    if (!pRoot)
        return;

    // One working item for the whole walk: an element without attributes
    // leaves the key and number of the element before it.
    XmlItem item;

    CComPtrT<IXMLDOMNode> pChild;
    pRoot->get_firstChild(pChild.Put());
    while (pChild)
    {
        CComPtrT<IXMLDOMNamedNodeMap> pAttributes;
        pChild->get_attributes(pAttributes.Put());
        if (pAttributes)
        {
            CComPtrT<IXMLDOMNode> pFirst;
            pAttributes->get_item(0, pFirst.Put());
            if (pFirst)
            {
                CVariant value;
                pFirst->get_nodeValue(value.Put());
                item.strKey = value.ToString();
            }
            CComPtrT<IXMLDOMNode> pSecond;
            pAttributes->get_item(1, pSecond.Put());
            if (pSecond)
            {
                CVariant value;
                pSecond->get_nodeValue(value.Put());
                item.nValue = _wtoi(value.ToString().c_str());
            }
        }

        CComPtrT<IXMLDOMNodeList> pGrandChildren;
        pChild->get_childNodes(pGrandChildren.Put());
        CComPtrT<IXMLDOMNode> pGrandChild;
        if (pGrandChildren)
            pGrandChildren->get_item(0, pGrandChild.Put());
        while (pGrandChild)
        {
            CBstr bstrName;
            pGrandChild->get_nodeName(bstrName.Put());
            CBstr bstrText;
            pGrandChild->get_text(bstrText.Put());
            item.strNodeName = bstrName.ToString();
            item.strText = bstrText.ToString();
            m_items.push_back(item);

            CComPtrT<IXMLDOMNode> pNext;
            pGrandChild->get_nextSibling(pNext.Put());
            pGrandChild = std::move(pNext);
        }

        CComPtrT<IXMLDOMNode> pNext;
        pChild->get_nextSibling(pNext.Put());
        pChild = std::move(pNext);
    }
}
