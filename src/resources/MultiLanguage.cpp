#include "resources/MultiLanguage.h"

#include "resources/resource.h"
#include "win/Text.h"

CMultiLanguage* g_pMessageTable = nullptr;
PfnGetSystemDefaultLangID g_pfnGetSystemDefaultLangID = &::GetSystemDefaultLangID;

namespace
{
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

constexpr wchar_t kFallbackLangCode[] = L"ENU";
}

CMultiLanguage::CMultiLanguage()
{
    LangCodeEntry entry;
    m_strLangCode = GetSystemLanguageCode(entry) ? entry.strCode : std::wstring(kFallbackLangCode);
}

bool CMultiLanguage::LoadLanguageResource()
{
    if (g_pMessageTable == nullptr)
        return false;
    static constexpr CEmbeddedXml::LoadTexts kTexts = {L"Find resource failed.", L"Lock resource failed.",
                                                       L"Load xml failed.\r\n"};
    return g_pMessageTable->m_document.Load(IDR_XML_MULTILANGUAGE, kTexts);
}

bool CMultiLanguage::GetSystemLanguageCode(LangCodeEntry& entry)
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
            return true;
        }
    }
    return false;
}

std::wstring CMultiLanguage::GetMessageText(UINT nId)
{
    if (g_pMessageTable == nullptr)
        return std::wstring();
    for (const XmlItem& item : g_pMessageTable->m_document.Items())
    {
        if (static_cast<UINT>(item.nValue) == nId &&
            EqualsNoCaseAscii(item.strNodeName, g_pMessageTable->m_strLangCode))
            return item.strText;
    }
    return std::wstring();
}
