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

LANGID g_langId = 0x0409;
LANGID WINAPI FakeLangId() { return g_langId; }

struct WalkCase
{
    const char* xml;
    std::vector<XmlItem> items;
};

class WalkTest : public ::testing::TestWithParam<WalkCase>
{};

TEST_P(WalkTest, FlattensByPositionNotByName)
{
    CComInit com;
    CEmbeddedXml document;
    EXPECT_TRUE(document.LoadXmlBytes(GetParam().xml, L"Load xml failed."));
    std::vector<std::wstring> got, expected;
    for (const XmlItem& i : document.Items())
        got.push_back(std::to_wstring(i.nValue) + L"|" + i.strKey + L"|" + i.strText + L"|" + i.strNodeName);
    for (const XmlItem& i : GetParam().items)
        expected.push_back(std::to_wstring(i.nValue) + L"|" + i.strKey + L"|" + i.strText + L"|" + i.strNodeName);
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, WalkTest,
    ::testing::Values(
        WalkCase{"<R><M Value=\"131\" ID=\"X\"><Enu>t</Enu></M></R>", {{0, L"131", L"t", L"Enu"}}},
        WalkCase{"<R><!--c--><M ID=\"A\" Value=\" +7x\"><Enu>a</Enu></M><M><Deu>b</Deu></M></R>",
                 {{7, L"A", L"a", L"Enu"}, {7, L"A", L"b", L"Deu"}}},
        WalkCase{"<R><P Name=\"N\"></P><P Name=\"M\">{C}<!--x--></P></R>",
                 {{0, L"M", L"{C}", L"#text"}, {0, L"M", L"x", L"#comment"}}},
        WalkCase{"<R>\r\n\t<M ID=\"A\" Value=\"1\" Z=\"9\">\r\n\t\t<Enu>one <b>two</b></Enu>\r\n\t</M>\r\n</R>",
                 {{1, L"A", L"one two", L"Enu"}}},
        WalkCase{"<R/>", {}}));

TEST(WalkFailureTest, EmptyBytesAreLoggedAndLeaveNoItems)
{
    CComInit com;
    LogCapture log;
    CEmbeddedXml document;
    EXPECT_FALSE(document.LoadXmlBytes("", L"Load xml failed."));
    EXPECT_TRUE(document.Items().empty());
    EXPECT_EQ(log.Bytes(), "MultiByteToWideChar get length failed.Load xml failed.");
}

HRSRC WINAPI FindNothing(HMODULE, LPCWSTR, LPCWSTR) { return nullptr; }
// A resource that is there but is no XML.
HRSRC WINAPI FindDialog(HMODULE hModule, LPCWSTR, LPCWSTR)
{
    return ::FindResourceW(hModule, MAKEINTRESOURCEW(IDD_UPDATE_DIALOG), RT_DIALOG);
}
HGLOBAL WINAPI LoadNothing(HMODULE, HRSRC) { return nullptr; }

struct LoaderCase
{
    bool bLanguage;           // the language loader, or the product loader
    PfnFindResourceW pfnFind; // null: the real one
    PfnLoadResource pfnLoad;  // null: the real one
    const char* log;
};

class LoaderFailureTest : public ::testing::TestWithParam<LoaderCase>
{};

TEST_P(LoaderFailureTest, LogsTheLoadersOwnTextAndKeepsNoItems)
{
    const LoaderCase& c = GetParam();
    CComInit com;
    LogCapture log;
    SeamOverride<PfnFindResourceW> find(g_pfnFindResourceW, c.pfnFind ? c.pfnFind : g_pfnFindResourceW);
    SeamOverride<PfnLoadResource> load(g_pfnLoadResource, c.pfnLoad ? c.pfnLoad : g_pfnLoadResource);
    CMultiLanguage table;
    const CMessageTableScope scope(table);
    if (c.bLanguage)
    {
        EXPECT_FALSE(CMultiLanguage::LoadLanguageResource());
        EXPECT_EQ(CMultiLanguage::GetMessageText(IDS_STRING_UPDATE), L"");
    }
    else
    {
        EXPECT_TRUE(ProductList().m_vecProducts.empty());
    }
    EXPECT_EQ(log.Bytes(), c.log);
}

INSTANTIATE_TEST_SUITE_P(FindLockLoad, LoaderFailureTest,
                         ::testing::Values(LoaderCase{true, &FindNothing, nullptr, "Find resource failed."},
                                           LoaderCase{false, &FindNothing, nullptr, ""},
                                           LoaderCase{true, nullptr, &LoadNothing, "Lock resource failed."},
                                           LoaderCase{false, nullptr, &LoadNothing, "Lock resource failed."},
                                           LoaderCase{true, &FindDialog, nullptr, "Load xml failed.\r\n"},
                                           LoaderCase{false, &FindDialog, nullptr, "Load xml failed."}));

struct LanguageCase
{
    LANGID id;
    const wchar_t* code;
    bool bHasTexts = true; // ENG and ESL have no element in the document: no fallback
};

// The system languages the program knows, and three it does not.
const LanguageCase kLanguages[] = {
    {0x0804, L"CHS"}, {0x0404, L"CHT"}, {0x0405, L"CSY"},        {0x0406, L"DAN"},        {0x0407, L"DEU"},
    {0x0408, L"ELL"}, {0x0409, L"ENU"}, {0x0809, L"ENG", false}, {0x340A, L"ESL", false}, {0x040A, L"ESP"},
    {0x0C0A, L"ESP"}, {0x040B, L"FIN"}, {0x040C, L"FRA"},        {0x040E, L"HUN"},        {0x0410, L"ITA"},
    {0x0411, L"JPN"}, {0x0412, L"KOR"}, {0x0413, L"NLD"},        {0x0414, L"NOR"},        {0x0415, L"PLK"},
    {0x0816, L"PTG"}, {0x0416, L"PTB"}, {0x0419, L"RUS"},        {0x041D, L"SVE"},        {0x041E, L"THA"},
    {0x041F, L"TRK"}, {0x0C04, L"ENU"}, {0x0814, L"ENU"},        {0x0807, L"ENU"}};

class LanguageTest : public ::testing::TestWithParam<LanguageCase>
{};

// A document whose message 900 reads, in every language, that language's
// code: what a table answers for it is the code the table chose.
std::string EveryCodeDocument()
{
    std::string xml = "<T><M ID='code' Value='900'>";
    for (const LanguageCase& c : kLanguages)
        xml += "<" + Utf8(c.code) + ">" + Utf8(c.code) + "</" + Utf8(c.code) + ">";
    return xml + "</M></T>";
}

TEST_P(LanguageTest, ChoosesTheFirstMatchingRowOrEnuAndAnswersWithoutFallback)
{
    CComInit com;
    g_langId = GetParam().id;
    std::optional<SeamOverride<PfnGetSystemDefaultLangID>> language(std::in_place, g_pfnGetSystemDefaultLangID,
                                                                    &FakeLangId);
    CMultiLanguage table;
    language.reset(); // chosen when the table is made
    const CMessageTableScope scope(table);
    CMultiLanguage::LoadLanguageResource();
    {
        const DocumentOverride codes(IDR_XML_MULTILANGUAGE, EveryCodeDocument());
        CMultiLanguage::LoadLanguageResource(); // adds to what the table holds
    }

    EXPECT_EQ(CMultiLanguage::GetMessageText(900), GetParam().code);
    EXPECT_EQ(CMultiLanguage::GetMessageText(131), GetParam().bHasTexts ? kUpdateText : L"");
    EXPECT_EQ(CMultiLanguage::GetMessageText(133), GetParam().bHasTexts ? kWarningText : L"");
    EXPECT_EQ(CMultiLanguage::GetMessageText(132), L"");
}

INSTANTIATE_TEST_SUITE_P(Rows, LanguageTest, ::testing::ValuesIn(kLanguages));
}
