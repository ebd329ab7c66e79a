#include "resources/ProductList.h"

#include "TestSupport.h"

#include "win/Com.h"

#include <gtest/gtest.h>

namespace
{
TEST(ProductListTest, HoldsTheShippedReleasesInDocumentOrder)
{
    const std::vector<std::pair<std::wstring, std::wstring>> expected = ListedProducts();
    ASSERT_EQ(expected.size(), 8u);
    EXPECT_EQ(expected[0].first, L"Vimo Lumet");

    CComInit com;
    ProductList list;
    ASSERT_EQ(list.m_vecProducts.size(), 8u);
    for (size_t i = 0; i < 8; ++i)
    {
        const ProductEntry& entry = list.m_vecProducts[i];
        EXPECT_EQ(entry.strName, expected[i].first);
        EXPECT_EQ(entry.strProductCode, expected[i].second);
        EXPECT_EQ(entry.strReserved1 + entry.strReserved2 + entry.strReserved3 + entry.strReserved4, L"");
    }
}
}
