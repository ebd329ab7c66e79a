#include "resources/MultiLanguage.h"

#include "log/Log.h"
#include "resources/resource.h"
#include "win/Com.h"
#include "win/Text.h"

#include <cwchar>
#include <new>

CMultiLanguage* g_pMessageTable = nullptr;
PfnGetSystemDefaultLangID g_pfnGetSystemDefaultLangID = &::GetSystemDefaultLangID;
PfnFindResourceW g_pfnFindResourceW = &::FindResourceW;
PfnLoadResource g_pfnLoadResource = &::LoadResource;

namespace
{
// The MSXML DOM document class and interface, spelled out so that the build
// does not depend on which GUID library the toolchain ships.
constexpr CLSID kClsidDomDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// The first matching row wins. Plain constants, copied into a LangCodeEntry
// on a match: a table of strings would be built before the program runs.
struct LanguageRow
{
    WORD wPrimaryLang;
    WORD wSubLang;
    const wchar_t* pszCode;
};
constexpr LanguageRow kLanguageTable[] = {
    {0x04, 0x02, L"CHS"}, {0x04, 0x01, L"CHT"}, {0x05, 0x01, L"CSY"}, {0x06, 0x01, L"DAN"}, {0x07, 0x01, L"DEU"},
    {0x08, 0x01, L"ELL"}, {0x09, 0x01, L"ENU"}, {0x09, 0x02, L"ENG"}, {0x0A, 0x0D, L"ESL"}, {0x0A, 0x01, L"ESP"},
    {0x0A, 0x03, L"ESP"}, {0x0B, 0x01, L"FIN"}, {0x0C, 0x01, L"FRA"}, {0x0E, 0x01, L"HUN"}, {0x10, 0x01, L"ITA"},
    {0x11, 0x01, L"JPN"}, {0x12, 0x01, L"KOR"}, {0x13, 0x01, L"NLD"}, {0x14, 0x01, L"NOR"}, {0x15, 0x01, L"PLK"},
    {0x16, 0x02, L"PTG"}, {0x16, 0x01, L"PTB"}, {0x19, 0x01, L"RUS"}, {0x1D, 0x01, L"SVE"}, {0x1E, 0x01, L"THA"},
    {0x1F, 0x01, L"TRK"},
};

const wchar_t kFallbackLangCode[] = L"ENU";
}

struct CMultiLanguage::LoadTexts
{
    const wchar_t* pszFindFailed; // null: a missing resource is not logged
    const wchar_t* pszLockFailed;
    const wchar_t* pszParseFailed;
};

CMultiLanguage::CMultiLanguage()
{
    LangCodeEntry entry;
    m_strLangCode = GetSystemLanguageCode(entry) ? entry.strCode : std::wstring(kFallbackLangCode);
}

CMultiLanguage::~CMultiLanguage()
{
    if (m_pDoc)
        m_pDoc->Release();
}

BOOL CMultiLanguage::LoadLanguageResource()
{
    if (g_pMessageTable == nullptr)
        return FALSE;
    static const LoadTexts texts = {L"Find resource failed.", L"Lock resource failed.", L"Load xml failed.\r\n"};
    return g_pMessageTable->LoadResourceDocument(IDR_XML_MULTILANGUAGE, texts);
}

BOOL CMultiLanguage::LoadProductResource()
{
    static const LoadTexts texts = {nullptr, L"Lock resource failed.", L"Load xml failed."};
    return LoadResourceDocument(IDR_XML_PRODUCTS, texts);
}

BOOL CMultiLanguage::LoadResourceDocument(UINT nId, const LoadTexts& texts)
{
    HRSRC hRes = g_pfnFindResourceW(nullptr, MAKEINTRESOURCEW(nId), L"BINARY");
    if (hRes == nullptr)
    {
        if (texts.pszFindFailed)
            WriteLog(texts.pszFindFailed);
        return FALSE;
    }
    HGLOBAL hData = g_pfnLoadResource(nullptr, hRes);
    const void* pData = hData ? ::LockResource(hData) : nullptr;
    if (pData == nullptr)
    {
        WriteLog(texts.pszLockFailed);
        return FALSE;
    }
    const DWORD cb = ::SizeofResource(nullptr, hRes);
    return LoadXmlBytes(static_cast<const char*>(pData), static_cast<int>(cb), texts.pszParseFailed);
}

BOOL CMultiLanguage::LoadXmlBytes(const char* pBytes, int cb, const wchar_t* pszParseFailed)
{
    if (m_pDoc == nullptr)
    {
        ::CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument,
                           reinterpret_cast<void**>(&m_pDoc));
        if (m_pDoc == nullptr)
            return FALSE;
    }

    // A failed conversion leaves an empty text, whose parse fails below.
    std::unique_ptr<wchar_t[]> pText = Utf8ToWide(pBytes, cb);
    CBstr bstrXml(pText ? pText.get() : L"");

    // The text is parsed as a string, so the declared encoding plays no part.
    m_pDoc->put_async(VARIANT_FALSE);
    VARIANT_BOOL bLoaded = VARIANT_FALSE;
    m_pDoc->loadXML(bstrXml.Get(), &bLoaded);
    const BOOL bResult = bLoaded != VARIANT_FALSE;
    if (!bResult)
        WriteLog(pszParseFailed);

    if (bResult)
        ParseDocument();
    return bResult;
}

void CMultiLanguage::ParseDocument()
{
    if (m_pDoc == nullptr)
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

void CMultiLanguage::CopyItems(std::vector<XmlItem>& items) const
{
    items.insert(items.end(), m_items.begin(), m_items.end());
}

std::unique_ptr<wchar_t[]> CMultiLanguage::Utf8ToWide(const char* pBytes, int cb)
{
    const int n = pBytes ? ::MultiByteToWideChar(CP_UTF8, 0, pBytes, cb, nullptr, 0) : 0;
    if (n < 1)
    {
        WriteLog(L"MultiByteToWideChar get length failed.");
        return nullptr;
    }
    std::unique_ptr<wchar_t[]> pText(new (std::nothrow) wchar_t[static_cast<size_t>(n) + 1]());
    if (!pText)
    {
        WriteLog(L"MultiByteToWideChar,Convert to wchar failed.");
        return nullptr;
    }
    // The last character stays zero and ends the text.
    ::MultiByteToWideChar(CP_UTF8, 0, pBytes, cb, pText.get(), n);
    return pText;
}

BOOL CMultiLanguage::GetSystemLanguageCode(LangCodeEntry& entry)
{
    const LANGID langId = g_pfnGetSystemDefaultLangID();
    const WORD wPrimary = static_cast<WORD>(langId & 0x3FF);
    const WORD wSub = static_cast<WORD>(langId >> 10);
    for (const LanguageRow& row : kLanguageTable)
    {
        if (row.wPrimaryLang == wPrimary && row.wSubLang == wSub)
        {
            entry.wPrimaryLang = row.wPrimaryLang;
            entry.wSubLang = row.wSubLang;
            entry.strCode = row.pszCode;
            break;
        }
    }
    return entry.strCode.empty() ? FALSE : TRUE;
}

std::wstring CMultiLanguage::GetMessageText(UINT nId)
{
    if (g_pMessageTable == nullptr)
        return std::wstring();
    for (const XmlItem& item : g_pMessageTable->m_items)
    {
        if (static_cast<UINT>(item.nValue) == nId &&
            EqualsNoCaseAscii(item.strNodeName, g_pMessageTable->m_strLangCode))
            return item.strText;
    }
    return std::wstring();
}
