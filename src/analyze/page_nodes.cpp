/*
 * Building the tree bottom up: the pages before the last are cut into as
 * few runs of at most fanout as possible, of sizes that differ by at most
 * one, and so on up until a level fits under the root beside the last page.
 */
#include "analyze/page_nodes.h"

#include <cstddef>

namespace {

// One level of nodes over items 0..n-1 of the level below.
std::vector<tree_node> group_level(int32_t n, int32_t fanout, bool over_pages) {
    int32_t groups = (n + fanout - 1) / fanout;
    int32_t base = n / groups, extra = n % groups;
    std::vector<tree_node> level(static_cast<size_t>(groups));
    int32_t next = 0;
    for (int32_t g = 0; g < groups; g++) {
        int32_t size = base + (g < extra ? 1 : 0);
        for (int32_t k = 0; k < size; k++) level[static_cast<size_t>(g)].kids.push_back({next++, over_pages});
    }
    return level;
}

}  // namespace

page_nodes build_page_nodes(int32_t page_count, int32_t fanout) {
    // Levels from the pages up over all pages but the last; levels[0] groups
    // pages. The root takes the top level and the last page, so the top
    // level has fewer than fanout nodes.
    std::vector<std::vector<tree_node>> levels;
    int32_t width = page_count - 1;
    while (width > 0 && (levels.empty() || width > fanout - 1)) {
        levels.push_back(group_level(width, fanout, levels.empty()));
        width = static_cast<int32_t>(levels.back().size());
    }
    tree_node root;
    for (int32_t k = 0; k < width; k++) root.kids.push_back({k, levels.empty()});
    root.kids.push_back({page_count - 1, true});

    // Breadth first: the root, then each level from the top down; the nodes
    // of levels[l] start at index first[l].
    page_nodes out;
    std::vector<size_t> level_of(1, levels.size());
    out.nodes.push_back(root);
    std::vector<int32_t> first(levels.size(), 0);
    for (size_t l = levels.size(); l-- > 0;) {
        first[l] = static_cast<int32_t>(out.nodes.size());
        for (tree_node& n : levels[l]) {
            out.nodes.push_back(std::move(n));
            level_of.push_back(l);
        }
    }
    // Kids as indices into out.nodes (a node of level l has its kids in
    // level l - 1, the root in the top level), parents, and counts from the
    // bottom up.
    out.page_parent.assign(static_cast<size_t>(page_count), 0);
    for (size_t i = 0; i < out.nodes.size(); i++) {
        for (tree_kid& k : out.nodes[i].kids) {
            if (k.is_page) {
                out.page_parent[static_cast<size_t>(k.index)] = static_cast<int32_t>(i);
                continue;
            }
            k.index += first[level_of[i] - 1];
            out.nodes[static_cast<size_t>(k.index)].parent = static_cast<int32_t>(i);
        }
    }
    for (size_t i = out.nodes.size(); i-- > 0;) {
        tree_node& n = out.nodes[i];
        for (const tree_kid& k : n.kids) n.count += k.is_page ? 1 : out.nodes[static_cast<size_t>(k.index)].count;
    }
    return out;
}
