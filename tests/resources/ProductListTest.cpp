#include "TestSupport.h"

#include "resources/ProductList.h"
#include "resources/resource.h"
#include "win/Com.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>

namespace
{
// Name and code of every Product element, read from the embedded bytes with
// a pattern rather than the program's own parser.
std::vector<std::pair<std::string, std::string>> ProductsInResource()
{
    const std::string bytes = ResourceBytes(IDR_XML_PRODUCTS);
    const std::regex product("<Product Name=\"([^\"]*)\">([^<]*)</Product>");
    std::vector<std::pair<std::string, std::string>> result;
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), product); it != std::sregex_iterator(); ++it)
        result.emplace_back((*it)[1].str(), (*it)[2].str());
    return result;
}

TEST(ProductListTest, HoldsTheEightShippedReleasesInDocumentOrder)
{
    CComInit com;
    ProductList list;
    const auto expected = ProductsInResource();
    ASSERT_EQ(expected.size(), 8u);
    ASSERT_EQ(list.m_vecProducts.size(), 8u);
    for (size_t i = 0; i < 8; ++i)
    {
        const ProductEntry& entry = list.m_vecProducts[i];
        EXPECT_EQ(Utf8(entry.strName), expected[i].first);
        EXPECT_EQ(Utf8(entry.strProductCode), expected[i].second);
        EXPECT_TRUE(entry.strReserved1.empty() && entry.strReserved2.empty() && entry.strReserved3.empty() &&
                    entry.strReserved4.empty());
    }
    EXPECT_TRUE(list.m_vecFoundPaths.empty());
    EXPECT_TRUE(list.m_strInstallPackage.empty());
}

TEST(ProductListTest, ShippedCodesAreDistinctBracedUpperCaseGuidsAndNamesAscend)
{
    const auto products = ProductsInResource();
    const std::regex guid("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
    std::set<std::string> codes;
    for (const auto& [name, code] : products)
    {
        EXPECT_TRUE(std::regex_match(code, guid)) << code;
        codes.insert(code);
    }
    EXPECT_EQ(codes.size(), products.size());

    ASSERT_FALSE(products.empty());
    EXPECT_EQ(products[0].first, "Vimo Lumet");
    const std::regex versioned("Vimo Lumet (\\d+)\\.(\\d+)\\.(\\d+)\\.(\\d+)");
    std::vector<int> previous;
    for (size_t i = 1; i < products.size(); ++i)
    {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(products[i].first, m, versioned)) << products[i].first;
        std::vector<int> version = {std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4])};
        EXPECT_LT(previous, version) << products[i].first;
        previous = version;
    }
}

TEST(ProductListTest, WithoutComTheListIsEmpty)
{
    // No COM on this thread: the document cannot be created, so nothing loads.
    std::vector<ProductEntry> products;
    std::thread worker([&] {
        ProductList list;
        products = list.m_vecProducts;
    });
    worker.join();
    EXPECT_TRUE(products.empty());
}
}
