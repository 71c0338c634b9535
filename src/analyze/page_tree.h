/*
 * Which record is the document catalog, which the root of the page tree,
 * and the pages in document order.
 */
#ifndef MORVEL_ANALYZE_PAGE_TREE_H
#define MORVEL_ANALYZE_PAGE_TREE_H

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "load/document.h"

struct page_tree {
    int32_t catalog = -1;  // table position of the catalog, -1 when there is none
    // Table position of the page-tree root the output keeps; -1 when the
    // writer creates one (none found, or the one found is a page or the
    // catalog, which cannot hold the page list).
    int32_t root = -1;
    std::vector<int32_t> page_list;  // object numbers of the pages, document order, each once
    // A record typed /Catalog that lost to the one /Root names: it counts as
    // an ordinary object.
    int32_t demoted = -1;

    // The type of the record at table position pos once the catalog is
    // settled: the catalog is the catalog whatever its /Type said.
    obj_type type_of(const obj_list& objects, int32_t pos) const {
        if (pos == catalog) return TYPE_CATALOG;
        if (pos == demoted) return TYPE_NONE;
        return objects.items[static_cast<size_t>(pos)].type;
    }
    obj_type type_of(const obj_list& objects, const pdf_obj& rec) const {
        return type_of(objects, static_cast<int32_t>(&rec - objects.items.data()));
    }
};

// Settles the catalog (the one the file's last /Root names when it is
// usable, else the first record typed /Catalog), finds the root (the
// catalog's /Pages, else the first record typed /Pages) and flattens the
// tree under it into page_list, falling back on every page-typed record.
// Fails when there is no page at all; catalog and root are set even then.
status find_page_tree(const document& doc, page_tree& tree);

#endif
