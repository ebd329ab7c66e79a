#include "resources/ProductList.h"

#include "TestSupport.h"

#include "resources/resource.h"
#include "win/Com.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace
{
TEST(ProductListTest, HoldsTheShippedReleasesInDocumentOrder)
{
    // The document read with a pattern rather than the program's own parser.
    const std::string bytes = ResourceBytes(IDR_XML_PRODUCTS);
    const std::regex product("<Product Name=\"(Vimo Lumet( \\d+\\.\\d+\\.\\d+\\.\\d+)?)\">"
                             "(\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\})</Product>");
    std::vector<std::pair<std::string, std::string>> expected;
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), product); it != std::sregex_iterator(); ++it)
        expected.emplace_back((*it)[1].str(), (*it)[3].str());
    ASSERT_EQ(expected.size(), 8u);
    EXPECT_EQ(expected[0].first, "Vimo Lumet");
    std::set<std::string> codes;
    for (const auto& e : expected)
        codes.insert(e.second);
    EXPECT_EQ(codes.size(), 8u);

    CComInit com;
    ProductList list;
    ASSERT_EQ(list.m_vecProducts.size(), 8u);
    for (size_t i = 0; i < 8; ++i)
    {
        const ProductEntry& entry = list.m_vecProducts[i];
        EXPECT_EQ(Utf8(entry.strName), expected[i].first);
        EXPECT_EQ(Utf8(entry.strProductCode), expected[i].second);
        EXPECT_EQ(entry.strReserved1 + entry.strReserved2 + entry.strReserved3 + entry.strReserved4, L"");
    }
}
}
