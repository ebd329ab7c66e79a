#include "resources/MultiLanguage.h"

#include "TestSupport.h"

#include "DocumentOverride.h"
#include "resources/resource.h"
#include "win/Com.h"

#include <gtest/gtest.h>

#include <optional>

namespace
{
const wchar_t kUpdateText[] = L"Update [APPLICATION] in progress, please wait.";
const wchar_t kWarningText[] = L"Update not finish, please wait.";

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
