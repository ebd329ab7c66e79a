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
        EXPECT_EQ(list.m_vecProducts[i].strProductCode, expected[i].second);
}
}
