#include "resources/MultiLanguage.h"

#include "TestSupport.h"

#include "DocumentOverride.h"
#include "resources/ProductList.h"
#include "resources/resource.h"
#include "win/Com.h"

#include <gtest/gtest.h>

#include <optional>

namespace
{
const wchar_t kUpdateText[] = L"Update [APPLICATION] in progress, please wait.";
const wchar_t kWarningText[] = L"Update not finish, please wait.";

TEST(WalkTest, FlattensByPositionNotByNameAndLoadsNothingFromNoBytes)
{
    const struct
    {
        const char* xml;
        std::vector<std::wstring> items; // value|key|text|node name
    } cases[] = {
        {"<R><M Value=\"131\" ID=\"X\"><Enu>t</Enu></M></R>", {L"0|131|t|Enu"}},
        {"<R><!--c--><M ID=\"A\" Value=\" +7x\"><Enu>a</Enu></M><M><Deu>b</Deu></M></R>", {L"7|A|a|Enu", L"7|A|b|Deu"}},
        {"<R><P Name=\"N\"></P><P Name=\"M\">{C}<!--x--></P></R>", {L"0|M|{C}|#text", L"0|M|x|#comment"}},
        {"<R><M ID=\"A\" Value=\"1\" Z=\"9\"><Enu>one <b>two</b></Enu></M></R>", {L"1|A|one two|Enu"}},
        {"<R/>", {}},
        {"", {}},
    };
    CComInit com;
    for (const auto& c : cases)
    {
        CEmbeddedXml document;
        EXPECT_EQ(document.LoadXmlBytes(c.xml, L"Load xml failed."), *c.xml != '\0') << c.xml;
        std::vector<std::wstring> got;
        for (const XmlItem& i : document.Items())
            got.push_back(std::to_wstring(i.nValue) + L"|" + i.strKey + L"|" + i.strText + L"|" + i.strNodeName);
        EXPECT_EQ(got, c.items) << c.xml;
    }
}

HRSRC WINAPI FindNothing(HMODULE, LPCWSTR, LPCWSTR) { return nullptr; }
// A resource that is there but is no XML.
HRSRC WINAPI FindDialog(HMODULE hModule, LPCWSTR, LPCWSTR)
{
    return ::FindResourceW(hModule, MAKEINTRESOURCEW(IDD_UPDATE_DIALOG), RT_DIALOG);
}
HGLOBAL WINAPI LoadNothing(HMODULE, HRSRC) { return nullptr; }

// The language loader and the product loader, when the resource is not
// found, not loaded, or no XML.
TEST(LoaderFailureTest, LogsTheLoadersOwnTextAndKeepsNoItems)
{
    const struct
    {
        bool bLanguage;           // the language loader, or the product loader
        PfnFindResourceW pfnFind; // null: the real one
        PfnLoadResource pfnLoad;  // null: the real one
        const char* log;
    } cases[] = {
        {true, &FindNothing, nullptr, "Find resource failed."}, {false, &FindNothing, nullptr, ""},
        {true, nullptr, &LoadNothing, "Lock resource failed."}, {false, nullptr, &LoadNothing, "Lock resource failed."},
        {true, &FindDialog, nullptr, "Load xml failed.\r\n"},   {false, &FindDialog, nullptr, "Load xml failed."}};
    CComInit com;
    for (const auto& c : cases)
    {
        LogCapture log;
        SeamOverride<PfnFindResourceW> find(g_pfnFindResourceW, c.pfnFind ? c.pfnFind : g_pfnFindResourceW);
        SeamOverride<PfnLoadResource> load(g_pfnLoadResource, c.pfnLoad ? c.pfnLoad : g_pfnLoadResource);
        CMultiLanguage table;
        const CMessageTableScope scope(table);
        if (c.bLanguage)
            EXPECT_TRUE(!CMultiLanguage::LoadLanguageResource() &&
                        CMultiLanguage::GetMessageText(IDS_STRING_UPDATE).empty());
        else
            EXPECT_TRUE(ProductList().m_vecProducts.empty());
        EXPECT_EQ(log.Bytes(), c.log);
    }
}

struct LanguageCase
{
    LANGID id;
    const wchar_t* code;
    bool bHasTexts = true; // ENG and ESL have no element in the document: no fallback
};

// Some of the languages the program knows (CHS and CHT differ in the
// sub-language only), and three it does not.
const LanguageCase kLanguages[] = {{0x0804, L"CHS"}, {0x0404, L"CHT"},        {0x0407, L"DEU"},
                                   {0x0409, L"ENU"}, {0x0809, L"ENG", false}, {0x340A, L"ESL", false},
                                   {0x0C0A, L"ESP"}, {0x0C04, L"ENU"},        {0x0807, L"ENU"}};

// A document whose message 900 reads, in every language, that language's
// code: what a table answers for it is the code the table chose.
std::string EveryCodeDocument()
{
    std::string xml = "<T><M ID='code' Value='900'>";
    for (const LanguageCase& c : kLanguages)
        xml += "<" + Utf8(c.code) + ">" + Utf8(c.code) + "</" + Utf8(c.code) + ">";
    return xml + "</M></T>";
}

LANGID g_langId; // the system's language, as the table made next asks for it

TEST(LanguageTest, ChoosesTheFirstMatchingRowOrEnuAndAnswersWithoutFallback)
{
    CComInit com;
    for (const LanguageCase& c : kLanguages)
    {
        SCOPED_TRACE(Utf8(c.code));
        g_langId = c.id;
        std::optional<SeamOverride<PfnGetSystemDefaultLangID>> language(std::in_place, g_pfnGetSystemDefaultLangID,
                                                                        [] { return g_langId; });
        CMultiLanguage table;
        language.reset(); // chosen when the table is made
        const CMessageTableScope scope(table);
        CMultiLanguage::LoadLanguageResource();
        {
            const DocumentOverride codes(IDR_XML_MULTILANGUAGE, EveryCodeDocument());
            CMultiLanguage::LoadLanguageResource(); // adds to what the table holds
        }
        EXPECT_EQ(CMultiLanguage::GetMessageText(900), c.code);
        EXPECT_EQ(CMultiLanguage::GetMessageText(131), c.bHasTexts ? kUpdateText : L"");
        EXPECT_EQ(CMultiLanguage::GetMessageText(133), c.bHasTexts ? kWarningText : L"");
        EXPECT_EQ(CMultiLanguage::GetMessageText(132), L"");
    }
}
}
