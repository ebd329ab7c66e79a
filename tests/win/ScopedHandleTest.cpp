#include "win/ScopedHandle.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace
{
std::vector<int> g_vecClosed;

struct CountingTraits
{
    using Handle = int;
    static Handle Invalid() noexcept { return 0; }
    static bool IsValid(Handle h) noexcept { return h != 0; }
    static void Close(Handle h) noexcept { g_vecClosed.push_back(h); }
};
using COwner = CScopedHandle<CountingTraits>;

// Each step of one owner's life, with what must have been closed by then.
TEST(ScopedHandleTest, EveryHandleIsClosedOnceByItsLastOwner)
{
    g_vecClosed.clear();
    {
        COwner hA(1), hB(2);
        COwner hC(std::move(hA));
        EXPECT_EQ(hA.Get(), 0);
        EXPECT_EQ(hC.Get(), 1);
        hB = std::move(hC); // hB's own handle goes
        EXPECT_EQ(g_vecClosed, std::vector<int>{2});
        EXPECT_EQ(hC.Get(), 0);
        COwner& hSelf = hB;
        hB = std::move(hSelf); // onto itself: kept, not closed
        EXPECT_EQ(hB.Get(), 1);
        *hB.Put() = 3;
        EXPECT_EQ(g_vecClosed, (std::vector<int>{2, 1}));
        EXPECT_EQ(hB.Take(), 3); // given up: never closed here
        EXPECT_FALSE(hB.IsValid());
        hB.Reset(4);
        hB.Reset(5);
        hC.Reset(6);
        EXPECT_EQ(g_vecClosed, (std::vector<int>{2, 1, 4}));
    }
    EXPECT_EQ(g_vecClosed, (std::vector<int>{2, 1, 4, 6, 5}));
}
}
