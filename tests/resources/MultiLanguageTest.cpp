#include "TestSupport.h"

#include "resources/MultiLanguage.h"
#include "resources/resource.h"
#include "win/Com.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
const wchar_t kUpdateText[] = L"Update [APPLICATION] in progress, please wait.";
const wchar_t kWarningText[] = L"Update not finish, please wait.";
const wchar_t* const kLanguages[] = {L"Enu", L"Cht", L"Csy", L"Dan", L"Deu", L"Ell", L"Esp", L"Fin",
                                     L"Fra", L"Hun", L"Ita", L"Jpn", L"Kor", L"Nld", L"Nor", L"Plk",
                                     L"Ptb", L"Ptg", L"Rus", L"Sve", L"Tha", L"Trk", L"Chs"};

LANGID g_langId = 0x0409;
LANGID WINAPI FakeLangId() { return g_langId; }

// Sets the system language that CMultiLanguage objects see while it lives.
class SystemLanguage
{
public:
    explicit SystemLanguage(LANGID id)
    {
        g_langId = id;
        g_pfnGetSystemDefaultLangID = &FakeLangId;
    }
    ~SystemLanguage() { g_pfnGetSystemDefaultLangID = &::GetSystemDefaultLangID; }
};

class XmlTest : public ::testing::Test
{
protected:
    CComInit m_com;
};

// --- The shipped documents ------------------------------------------------

TEST(EmbeddedBytesTest, DocumentsAreUtf8WithoutBomAndWithCrlfLineEnds)
{
    for (UINT id : {IDR_XML_MULTILANGUAGE, IDR_XML_PRODUCTS})
    {
        const std::string bytes = ResourceBytes(id);
        ASSERT_FALSE(bytes.empty()) << id;
        EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << id;
        EXPECT_EQ(bytes.find('\0'), std::string::npos) << id;
        for (size_t i = 0; i < bytes.size(); ++i)
        {
            if (bytes[i] == '\n')
            {
                ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare line feed in " << id << " at " << i;
            }
        }
    }
    EXPECT_EQ(ResourceBytes(IDR_XML_MULTILANGUAGE).rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n\r\n<MultiLanguage>\r\n\t<Message", 0), 0u);
    EXPECT_EQ(ResourceBytes(IDR_XML_PRODUCTS).rfind("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<Products>\r\n  <Product Name=", 0), 0u);
}

TEST_F(XmlTest, LanguageDocumentGivesTwoMessagesInTwentyThreeLanguages)
{
    CMultiLanguage* pTable = new CMultiLanguage;
    g_pMessageTable = pTable;
    EXPECT_TRUE(CMultiLanguage::LoadLanguageResource());
    g_pMessageTable = nullptr;

    ASSERT_EQ(pTable->m_items.size(), 46u);
    for (size_t i = 0; i < 46; ++i)
    {
        const XmlItem& item = pTable->m_items[i];
        const bool bFirst = i < 23;
        EXPECT_EQ(item.nValue, bFirst ? 131 : 133);
        EXPECT_EQ(item.strKey, bFirst ? L"IDS_STRING_UPDATE" : L"IDS_STRING_WARNING");
        EXPECT_EQ(item.strText, bFirst ? kUpdateText : kWarningText);
        EXPECT_EQ(item.strNodeName, kLanguages[i % 23]);
    }
    delete pTable;
}

TEST_F(XmlTest, ProductDocumentGivesEightTextItems)
{
    CMultiLanguage document;
    EXPECT_TRUE(document.LoadProductResource());
    ASSERT_EQ(document.m_items.size(), 8u);
    for (const XmlItem& item : document.m_items)
    {
        EXPECT_EQ(item.nValue, 0);
        EXPECT_EQ(item.strNodeName, L"#text");
        EXPECT_EQ(item.strText.size(), 38u);
    }
    EXPECT_EQ(document.m_items[0].strKey, L"Vimo Lumet");
}

TEST_F(XmlTest, LoadLanguageResourceWithoutTableFails)
{
    ASSERT_EQ(g_pMessageTable, nullptr);
    EXPECT_FALSE(CMultiLanguage::LoadLanguageResource());
}

// --- The walk on documents of other shapes -------------------------------

struct WalkCase
{
    const char* name;
    const char* xml;
    std::vector<XmlItem> items;
};

class WalkTest : public ::testing::TestWithParam<WalkCase>
{
protected:
    CComInit m_com;
};

TEST_P(WalkTest, FlattensByPositionNotByName)
{
    CMultiLanguage document;
    const std::string xml = GetParam().xml;
    EXPECT_TRUE(document.LoadXmlBytes(xml.data(), static_cast<int>(xml.size()), L"Load xml failed."));
    const std::vector<XmlItem>& expected = GetParam().items;
    ASSERT_EQ(document.m_items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ(document.m_items[i].nValue, expected[i].nValue) << i;
        EXPECT_EQ(document.m_items[i].strKey, expected[i].strKey) << i;
        EXPECT_EQ(document.m_items[i].strText, expected[i].strText) << i;
        EXPECT_EQ(document.m_items[i].strNodeName, expected[i].strNodeName) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, WalkTest,
    ::testing::Values(
        WalkCase{"AttributesInOtherOrder",
                 "<R><M Value=\"131\" ID=\"IDS_X\"><Enu>t</Enu></M></R>",
                 {{0, L"131", L"t", L"Enu"}}},
        WalkCase{"ElementWithoutAttributesKeepsThePreviousKey",
                 "<R><M ID=\"A\" Value=\"7\"><Enu>a</Enu></M><M><Deu>b</Deu></M></R>",
                 {{7, L"A", L"a", L"Enu"}, {7, L"A", L"b", L"Deu"}}},
        WalkCase{"FirstElementWithoutAttributesHasEmptyKey",
                 "<R><M><Enu>a</Enu></M></R>",
                 {{0, L"", L"a", L"Enu"}}},
        WalkCase{"CommentAmongRootChildrenAddsNothing",
                 "<R><!-- note --><M ID=\"A\" Value=\"1\"><Enu>a</Enu></M></R>",
                 {{1, L"A", L"a", L"Enu"}}},
        WalkCase{"EmptyElementAddsNoItemTextAndCommentAddTwo",
                 "<R><P Name=\"N\"></P><P Name=\"M\">{C}<!--x--></P></R>",
                 {{0, L"M", L"{C}", L"#text"}, {0, L"M", L"x", L"#comment"}}},
        WalkCase{"NestedMarkupIsConcatenated",
                 "<R><M ID=\"A\" Value=\"+12abc\"><Enu>one <b>two</b> three</Enu></M></R>",
                 {{12, L"A", L"one two three", L"Enu"}}},
        WalkCase{"ThirdAttributeIsIgnored",
                 "<R><M ID=\"A\" Value=\" -5\" Extra=\"9\"><Enu>a</Enu></M></R>",
                 {{-5, L"A", L"a", L"Enu"}}},
        WalkCase{"RootWithoutChildren", "<R/>", {}},
        WalkCase{"WhiteSpaceBetweenElementsIsNoNode",
                 "<R>\r\n\t<M ID=\"A\" Value=\"1\">\r\n\t\t<Enu>a</Enu>\r\n\t</M>\r\n</R>\r\n",
                 {{1, L"A", L"a", L"Enu"}}},
        WalkCase{"NonAsciiText", "<R><P Name=\"Gr\xC3\xBC\xC3\x9F" "e\">\xE6\x97\xA5</P></R>",
                 {{0, L"Gr\u00fc\u00dfe", L"\u65e5", L"#text"}}}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return info.param.name; });

TEST_F(XmlTest, MalformedXmlIsLoggedAndLeavesNoItems)
{
    LogCapture log;
    CMultiLanguage document;
    const std::string xml = "<R><M ID=\"A\"><Enu>a</M></R>";
    EXPECT_FALSE(document.LoadXmlBytes(xml.data(), static_cast<int>(xml.size()), L"Load xml failed.\r\n"));
    EXPECT_TRUE(document.m_items.empty());
    EXPECT_EQ(log.Bytes(), "Load xml failed.\r\n");
}

TEST_F(XmlTest, EmptyBytesLogTheConversionAndTheParseFailure)
{
    LogCapture log;
    CMultiLanguage document;
    EXPECT_FALSE(document.LoadXmlBytes("", 0, L"Load xml failed."));
    EXPECT_TRUE(document.m_items.empty());
    EXPECT_EQ(log.Bytes(), "MultiByteToWideChar get length failed.Load xml failed.");
}

TEST_F(XmlTest, SecondLoadReusesTheDocumentAndAppends)
{
    CMultiLanguage document;
    const std::string a = "<R><P Name=\"a\">1</P></R>";
    const std::string b = "<R><P Name=\"b\">2</P></R>";
    ASSERT_TRUE(document.LoadXmlBytes(a.data(), static_cast<int>(a.size()), L""));
    IXMLDOMDocument* pFirst = document.m_pDoc;
    ASSERT_TRUE(document.LoadXmlBytes(b.data(), static_cast<int>(b.size()), L""));
    EXPECT_EQ(document.m_pDoc, pFirst);
    ASSERT_EQ(document.m_items.size(), 2u);
    EXPECT_EQ(document.m_items[1].strKey, L"b");

    std::vector<XmlItem> copy = {XmlItem{5, L"kept", L"", L""}};
    document.CopyItems(copy);
    ASSERT_EQ(copy.size(), 3u);
    EXPECT_EQ(copy[0].strKey, L"kept");
    EXPECT_EQ(copy[2].strText, L"2");
}

TEST(Utf8ToWideTest, ConvertsAndTerminates)
{
    LogCapture log;
    const char bytes[] = "a\xC3\xBC\xF0\x9F\x98\x80";
    std::unique_ptr<wchar_t[]> text = CMultiLanguage::Utf8ToWide(bytes, 7);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text.get()), L"a\u00fc\U0001F600");
    EXPECT_EQ(CMultiLanguage::Utf8ToWide(bytes, 0), nullptr);
    EXPECT_EQ(log.Bytes(), "MultiByteToWideChar get length failed.");
}

// --- Language choice and message lookup ----------------------------------

struct LanguageCase
{
    LANGID id;
    const wchar_t* code;
    bool bInTable;
    bool bHasTexts;
};

class LanguageTest : public ::testing::TestWithParam<LanguageCase>
{
protected:
    CComInit m_com;
};

TEST_P(LanguageTest, ChoosesTheCodeAndAnswersWithoutFallback)
{
    const LanguageCase& c = GetParam();
    SystemLanguage language(c.id);

    LangCodeEntry entry{0x77, 0x66, L""};
    CMultiLanguage probe;
    EXPECT_EQ(probe.GetSystemLanguageCode(entry) != FALSE, c.bInTable);
    if (c.bInTable)
    {
        EXPECT_EQ(entry.wPrimaryLang, c.id & 0x3FF);
        EXPECT_EQ(entry.wSubLang, c.id >> 10);
        EXPECT_EQ(entry.strCode, c.code);
    }
    else
    {
        EXPECT_EQ(entry.wPrimaryLang, 0x77);
        EXPECT_EQ(entry.wSubLang, 0x66);
        EXPECT_EQ(entry.strCode, L"");
    }

    g_pMessageTable = new CMultiLanguage;
    EXPECT_EQ(g_pMessageTable->m_strLangCode, c.code);
    CMultiLanguage::LoadLanguageResource();
    EXPECT_EQ(CMultiLanguage::GetMessageText(131), c.bHasTexts ? kUpdateText : L"");
    EXPECT_EQ(CMultiLanguage::GetMessageText(133), c.bHasTexts ? kWarningText : L"");
    EXPECT_EQ(CMultiLanguage::GetMessageText(132), L"");
    delete g_pMessageTable;
    g_pMessageTable = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LanguageTest,
    ::testing::Values(LanguageCase{0x0409, L"ENU", true, true}, LanguageCase{0x0407, L"DEU", true, true},
                      LanguageCase{0x0C0A, L"ESP", true, true}, LanguageCase{0x040A, L"ESP", true, true},
                      LanguageCase{0x0804, L"CHS", true, true}, LanguageCase{0x0404, L"CHT", true, true},
                      LanguageCase{0x0816, L"PTG", true, true}, LanguageCase{0x0416, L"PTB", true, true},
                      LanguageCase{0x041F, L"TRK", true, true}, LanguageCase{0x0809, L"ENG", true, false},
                      LanguageCase{0x340A, L"ESL", true, false}, LanguageCase{0x0C04, L"ENU", false, true},
                      LanguageCase{0x0814, L"ENU", false, true}, LanguageCase{0x0807, L"ENU", false, true}));

TEST_F(XmlTest, FirstElementOfTheChosenLanguageAnswers)
{
    SystemLanguage language(0x0407);
    g_pMessageTable = new CMultiLanguage;
    const std::string xml = "<R><M ID=\"X\" Value=\"131\"><DEU>erste</DEU><deu>zweite</deu></M></R>";
    g_pMessageTable->LoadXmlBytes(xml.data(), static_cast<int>(xml.size()), L"");
    EXPECT_EQ(CMultiLanguage::GetMessageText(131), L"erste");
    delete g_pMessageTable;
    g_pMessageTable = nullptr;
}

TEST(MessageTextTest, NoTableGivesEmptyText)
{
    ASSERT_EQ(g_pMessageTable, nullptr);
    EXPECT_EQ(CMultiLanguage::GetMessageText(131), L"");
}
}
