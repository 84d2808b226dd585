#include "database/chain_order.h"

#include <gtest/gtest.h>
#include <vector>

using namespace vireo;

namespace {

TEST(ChainOrder, RecordsLineUpAlongTheirLinksWhateverTheirOrderAndGaps)
{
    constexpr uint8_t N = 0xFF;
    struct Case
    {
        const char* what;
        std::vector<ChainLinks> held; // {index, previous, next}
        std::vector<size_t> order;
        std::vector<int> wanted;
        std::vector<size_t> stale;
    } cases[] = {
        {"whole, with a gap in the numbers", {{0, N, 2}, {2, 0, N}}, {0, 1}, {}, {}},
        {"came in reverse", {{151, 17, N}, {17, 3, 151}, {3, N, 17}}, {2, 1, 0}, {}, {}},
        {"one lost in the middle", {{151, 90, N}, {3, N, 17}, {90, 17, 151}}, {1, 2, 0}, {17}, {}},
        {"the first lost", {{17, 3, 90}, {90, 17, N}}, {0, 1}, {3}, {}},
        {"one matching link joins two pieces", {{0, N, 1}, {2, 0, N}}, {0, 1}, {}, {}},
        {"points at itself", {{5, 5, 5}}, {0}, {5}, {}},
        {"a cycle", {{3, N, 17}, {17, 3, 3}}, {0, 1}, {3}, {}},
        {"a cycle without a first record", {{8, 9, 9}, {9, 8, 8}}, {1, 0}, {8, 9}, {}},
        {"left the list", {{0, N, 9}, {1, 0, N}, {9, 0, N}}, {0, 2}, {}, {1}},
        {"empty", {}, {}, {}, {}},
    };
    for (const auto& c : cases) {
        const ChainPlan plan = PlanChain(c.held);
        EXPECT_EQ(plan.order, c.order) << c.what;
        EXPECT_EQ(plan.wanted, c.wanted) << c.what;
        EXPECT_EQ(plan.stale, c.stale) << c.what;
    }
}

} // namespace
