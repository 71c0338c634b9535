/*
 * Which pages reach each object.
 *
 * A page reaches everything its dictionary leads to (contents, annotations,
 * its own resources and all they reference, but not its thumbnail), and the
 * walk never crosses into another page, a Pages node or the catalog. What a
 * page inherits from its ancestors the writer copies into the page, so the
 * references of those inherited values count as the page's too.
 *
 * Many objects are reached by the same pages (everything below a resource
 * dictionary that all pages share), so each distinct set of pages is kept
 * once and an object holds the index of its set.
 */
#ifndef MORVEL_ANALYZE_ATTRIBUTION_H
#define MORVEL_ANALYZE_ATTRIBUTION_H

#include <cstdint>
#include <vector>

#include "analyze/page_tree.h"
#include "analyze/reference_graph.h"
#include "load/document.h"

struct attribution {
    // By table position: the index into sets of the pages that reach the
    // record.
    std::vector<int32_t> set_of;
    // The distinct sets: indices into page_list, ascending. sets[0] is the
    // empty set.
    std::vector<std::vector<int32_t>> sets{{}};

    // The references the walks followed, for the document-level walks.
    reference_graph refs;

    const std::vector<int32_t>& pages_of(int32_t pos) const { return sets[static_cast<size_t>(set_of[static_cast<size_t>(pos)])]; }
    bool reached_by(int32_t pos, int32_t page) const;
};

attribution attribute_pages(const document& doc, const page_tree& tree);

#endif
