// The page tree of the output: shape, fan-out, counts, parents and page
// order for page counts around the fan-out's powers.
#include <gtest/gtest.h>

#include <vector>

#include "analyze/page_nodes.h"

namespace {

// Pages in depth-first order, and every page's depth.
void leaves(const page_nodes& t, int32_t node, int depth, std::vector<int32_t>& pages, std::vector<int>& depths) {
    for (const tree_kid& k : t.nodes[static_cast<size_t>(node)].kids) {
        if (k.is_page) {
            pages.push_back(k.index);
            depths.push_back(depth);
        } else {
            leaves(t, k.index, depth + 1, pages, depths);
        }
    }
}

TEST(PageNodes, ShapeForEveryCount) {
    for (int32_t pages : {1, 2, 3, 15, 16, 17, 31, 255, 256, 257, 1000, 4096, 4097, 10000}) {
        for (int32_t fanout : {8, 16, 32}) {
            page_nodes t = build_page_nodes(pages, fanout);
            ASSERT_FALSE(t.nodes.empty());
            const tree_node& root = t.nodes[0];
            EXPECT_EQ(root.parent, -1);
            EXPECT_EQ(root.count, pages);
            // The last page hangs from the root; the root's other kids are nodes.
            ASSERT_FALSE(root.kids.empty());
            EXPECT_TRUE(root.kids.back().is_page);
            EXPECT_EQ(root.kids.back().index, pages - 1);
            for (size_t k = 0; k + 1 < root.kids.size(); k++) EXPECT_FALSE(root.kids[k].is_page);

            std::vector<int32_t> order;
            std::vector<int> depths;
            leaves(t, 0, 1, order, depths);
            std::vector<int32_t> want(static_cast<size_t>(pages));
            for (int32_t k = 0; k < pages; k++) want[static_cast<size_t>(k)] = k;
            EXPECT_EQ(order, want) << pages << "/" << fanout;
            // Every page but the last at one depth: the fewest levels of nodes
            // that hold them under a root that keeps one place for the last.
            // With L levels of nodes, the root's fanout - 1 nodes cover
            // (fanout - 1) * fanout^L pages.
            int levels = 1;
            for (int64_t cap = int64_t{fanout - 1} * fanout; cap < pages - 1; cap *= fanout) levels++;
            for (size_t k = 0; k + 1 < depths.size(); k++) EXPECT_EQ(depths[k], levels + 1) << pages << "/" << fanout;
            for (size_t i = 0; i < t.nodes.size(); i++) {
                const tree_node& n = t.nodes[i];
                EXPECT_LE(static_cast<int32_t>(n.kids.size()), fanout);
                int32_t count = 0;
                for (const tree_kid& k : n.kids) {
                    if (k.is_page) {
                        EXPECT_EQ(t.page_parent[static_cast<size_t>(k.index)], static_cast<int32_t>(i));
                        count++;
                    } else {
                        EXPECT_GT(k.index, static_cast<int32_t>(i));  // breadth first: kids after their parent
                        EXPECT_EQ(t.nodes[static_cast<size_t>(k.index)].parent, static_cast<int32_t>(i));
                        count += t.nodes[static_cast<size_t>(k.index)].count;
                    }
                }
                EXPECT_EQ(n.count, count);
            }
        }
    }
}

TEST(PageNodes, RunsDifferByAtMostOne) {
    // 18 pages under fan-out 16: the first 17 in two nodes of 9 and 8, not
    // 16 and 1; the root holds both and the last page.
    page_nodes t = build_page_nodes(18, 16);
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_EQ(t.nodes[0].kids.size(), 3u);
    EXPECT_EQ(t.nodes[1].kids.size(), 9u);
    EXPECT_EQ(t.nodes[2].kids.size(), 8u);
    // A one-page document: the root holds the page.
    page_nodes one = build_page_nodes(1, 16);
    ASSERT_EQ(one.nodes.size(), 1u);
    ASSERT_EQ(one.nodes[0].kids.size(), 1u);
    EXPECT_TRUE(one.nodes[0].kids[0].is_page);
}

}  // namespace
