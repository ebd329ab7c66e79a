#pragma once

#include "resources/EmbeddedXml.h"

#include <windows.h>

#include <string>

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

// The localised message table: the MultiLanguage document and the language
// of the user interface, chosen from the system's default language.
class CMultiLanguage
{
public:
    CMultiLanguage();

    // Loads the MultiLanguage document into g_pMessageTable. False when there
    // is no table or the document did not load (the log says why).
    static bool LoadLanguageResource();

    // Fills entry from the first table row matching the system default
    // language; false (entry untouched) when no row matches.
    static bool GetSystemLanguageCode(LangCodeEntry& entry);

    // Text of a message in the chosen language from g_pMessageTable, exactly
    // as the document holds it; empty when there is none. No fallback.
    static std::wstring GetMessageText(UINT nId);

private:
    CEmbeddedXml m_document;    // the messages, one item per message and language
    std::wstring m_strLangCode; // three-letter code, "ENU" when no row matches
};

// The process-wide message table; exists between start-up and shutdown.
extern CMultiLanguage* g_pMessageTable;

// Points g_pMessageTable at a table while it lives.
class CMessageTableScope
{
public:
    explicit CMessageTableScope(CMultiLanguage& table) { g_pMessageTable = &table; }
    ~CMessageTableScope() { g_pMessageTable = nullptr; }
    CMessageTableScope(const CMessageTableScope&) = delete;
    CMessageTableScope& operator=(const CMessageTableScope&) = delete;
};
