#pragma once

#include <windows.h>
#include <msxml.h>

#include <memory>
#include <string>
#include <vector>

// One record of the flattened XML walk.
struct XmlItem
{
    int nValue = 0;           // second attribute of a second-level element, as a number
    std::wstring strKey;      // first attribute of a second-level element
    std::wstring strText;     // text content of a third-level node
    std::wstring strNodeName; // node name of that node ("#text" for text)
};

// One row of the language table.
struct LangCodeEntry
{
    WORD wPrimaryLang = 0;
    WORD wSubLang = 0;
    std::wstring strCode;
};

// Source of the system default language id; tests vary it, the program keeps
// GetSystemDefaultLangID.
using PfnGetSystemDefaultLangID = LANGID(WINAPI*)();
extern PfnGetSystemDefaultLangID g_pfnGetSystemDefaultLangID;

// How the loaders find and load a document among the program's resources;
// tests make either step fail, the program keeps FindResourceW and
// LoadResource.
using PfnFindResourceW = HRSRC(WINAPI*)(HMODULE, LPCWSTR, LPCWSTR);
using PfnLoadResource = HGLOBAL(WINAPI*)(HMODULE, HRSRC);
extern PfnFindResourceW g_pfnFindResourceW;
extern PfnLoadResource g_pfnLoadResource;

// Loader and walker of the two XML documents embedded in the program, and the
// localised message table. COM must be initialised on the calling thread.
class CMultiLanguage
{
public:
    CMultiLanguage();
    ~CMultiLanguage();
    CMultiLanguage(const CMultiLanguage&) = delete;
    CMultiLanguage& operator=(const CMultiLanguage&) = delete;

    // Loads the MultiLanguage document into g_pMessageTable. FALSE when there
    // is no table or the document did not parse (the log says why).
    static BOOL LoadLanguageResource();

    // Loads the Products document into this object.
    BOOL LoadProductResource();

    // Parses UTF-8 bytes and walks them, appending to m_items. pszParseFailed
    // is the log text for a parse failure. The resource loaders end here;
    // tests use it for documents of other shapes.
    BOOL LoadXmlBytes(const char* pBytes, int cb, const wchar_t* pszParseFailed);

    // The positional walk: one item per child of each child of the root.
    void ParseDocument();

    // Appends a copy of every item, in order; items is not cleared first.
    void CopyItems(std::vector<XmlItem>& items) const;

    // NUL-terminated UTF-16 text of the bytes, or null (logged).
    static std::unique_ptr<wchar_t[]> Utf8ToWide(const char* pBytes, int cb);

    // Fills entry from the first table row matching the system default
    // language; FALSE (entry untouched) when no row matches.
    BOOL GetSystemLanguageCode(LangCodeEntry& entry);

    // Text of a message in the chosen language from g_pMessageTable, exactly
    // as the document holds it; empty when there is none. No fallback.
    static std::wstring GetMessageText(UINT nId);

    IXMLDOMDocument* m_pDoc = nullptr;
    std::vector<XmlItem> m_items;
    std::wstring m_strLangCode;

private:
    struct LoadTexts;
    BOOL LoadResourceDocument(UINT nId, const LoadTexts& texts);
};

// The process-wide message table; exists between start-up and shutdown.
extern CMultiLanguage* g_pMessageTable;
