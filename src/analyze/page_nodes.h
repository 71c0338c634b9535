/*
 * The page tree the output writes, whatever shape the input's tree had: no
 * node with more than a fixed number of children, all pages but the last
 * at one depth, and the last page a child of the root.
 *
 * A viewer that opens a document over the network walks the tree at once:
 * pdf.js fetches every child of the root, then the path to the last page,
 * reading each kid before the one it looks for. With one flat node holding
 * every page it would fetch every page's section. Here the root's children
 * are small Pages nodes, which stand together in the file, and the last
 * page itself, so opening costs those nodes and one page object.
 */
#ifndef MORVEL_ANALYZE_PAGE_NODES_H
#define MORVEL_ANALYZE_PAGE_NODES_H

#include <cstdint>
#include <vector>

// The most children a node of the output's page tree has. Measured with
// pdf.js and PDFium over range requests, 8, 16 and 32 cost the same on
// ordinary files; on large files with many form fields 8 costs least, since
// pdf.js reads every page before a field's page in its node to learn that
// page's index.
inline constexpr int32_t PAGE_FANOUT = 8;

struct tree_kid {
    int32_t index;  // of a node, or of a page in the page list
    bool is_page;
};

struct tree_node {
    std::vector<tree_kid> kids;
    int32_t count = 0;    // pages below the node
    int32_t parent = -1;  // index of the parent node, -1 for the root
};

struct page_nodes {
    std::vector<tree_node> nodes;      // [0] is the root, the others breadth first
    std::vector<int32_t> page_parent;  // by page index: the index of its node
};

// The tree over page_count pages (at least 1) in document order.
page_nodes build_page_nodes(int32_t page_count, int32_t fanout);

#endif
