/*
 * The order and the new numbers of the output.
 *
 * A linearized file (ISO 32000-1, F.3) holds the catalog and what opening
 * the document needs first, then the first page's objects, then the other
 * pages' objects page by page, then objects several later pages share, then
 * the page tree and everything no page reaches. The objects after the first
 * page take the numbers from 1 in that order; the linearization dictionary,
 * the catalog, the objects needed at opening, the hint stream and the first
 * page's objects take the highest ones, so that each cross-reference
 * section covers one range. File order is therefore number order: K to
 * M - 1, then 1 to K - 1.
 *
 * The compact form packs the objects after the first page into object
 * streams, each part (a page, the shared objects, the others) into streams
 * of its own. Objects inside object streams have no place in the file;
 * they take the highest numbers of the main section, after the main
 * cross-reference stream, so that every part's objects at offsets still
 * have consecutive numbers. K + 1 is then the first-page cross-reference
 * stream and the catalog follows it. The document-level objects that
 * opening needs may be packed too, into streams before the hint stream;
 * their members take the first-page section's highest numbers. The first
 * page's own objects stay at offsets.
 */
#ifndef MORVEL_ANALYZE_OUTPUT_ORDER_H
#define MORVEL_ANALYZE_OUTPUT_ORDER_H

#include <cstdint>
#include <vector>

#include "analyze/page_nodes.h"

using page_group = std::vector<int32_t>;

inline void pg_push(page_group& g, int32_t value) { g.push_back(value); }

// How the plan writes the document.
struct plan_options {
    bool compact = false;  // object streams and cross-reference streams
};

// An object of the output written at an offset, with the old numbers of the
// input objects it holds (itself, or what an object stream packs).
struct hint_unit {
    int32_t num = 0;
    std::vector<int32_t> members;
};

// An object stream of the compact form: its new number and those of the
// objects it holds, in order.
struct packed_stream {
    int32_t num = 0;
    std::vector<int32_t> members;
};

struct plan {
    // What a viewer needs to open the document, right after the catalog.
    std::vector<int32_t> open_objs;
    // Entry k: page k's object number, then the objects only page k reaches
    // (entry 0: every object the first page reaches, then the outline run
    // when it travels with the first page), in table order.
    std::vector<page_group> page_groups;
    std::vector<int32_t> rest_objs;    // entries 1.. of page_groups, concatenated
    std::vector<int32_t> shared_objs;  // reached by two or more later pages
    // Page k's section (k from 1): the new numbers [page_start[k],
    // page_start[k + 1]), every one written at an offset.
    std::vector<int32_t> page_start;
    // The shared objects' section as written, in file order.
    std::vector<hint_unit> shared_units;
    // The entries of the shared object hint table, by their sizes: the
    // first page's objects (page_groups[0] in order), then the shared
    // units. An entry is one object, or (when single objects would make
    // the table's references many times the objects) a group: a run of
    // consecutive objects that exactly the same pages reach.
    std::vector<int32_t> first_groups;
    std::vector<int32_t> shared_groups;
    // The compact form: its object streams in file order, and the number
    // of the main cross-reference stream.
    bool compact = false;
    std::vector<packed_stream> packed;
    int32_t main_xref_num = 0;
    // Object streams of the objects opening needs (the last of packed),
    // and the objects they hold.
    int32_t open_streams = 0;
    int32_t open_members = 0;
    // Old number of the page-tree root the output keeps; 0 when the writer
    // creates one. The output's page tree ends the objects after the shared
    // ones, its root last (K - 1).
    int32_t root_old = 0;
    page_nodes tree;
    // The interactive form dictionary, when it holds its /Fields array
    // inline: the array is written as an object of its own right after the
    // shared objects (it is the field hierarchy's, not needed to open the
    // document), so that the dictionary that opening needs stays small.
    int32_t form_old = 0;
    int32_t fields_num = 0;
    // After the fields: the outline run (unless it travels with the first
    // page), then the objects no page reaches, then the page tree.
    std::vector<int32_t> other_objs;
    // The objects of the outline hierarchy, in file order, its root first
    // when the root is among them.
    std::vector<int32_t> outline_run;
    int32_t outline_root = 0;  // as doc_users found it
    bool outlines_first = false;
    // Objects of the hierarchy that went before /E with the first page's
    // (among open_objs; they stay at offsets, where the outline hint table
    // counts them).
    int32_t outline_elsewhere = 0;
    std::vector<int32_t> outline_open;
    // The compact form's outline run at offsets: numbers [from, to), its
    // root, loose objects and object streams (0, 0 when it is not packed).
    int32_t outline_from = 0, outline_to = 0;

    std::vector<int32_t> new_num;  // by old number; 0 = not written
    int32_t max_num = 0;           // largest old number
    int32_t lin_num = 0;           // K
    int32_t root_num = 0;          // new number of the page-tree root, kept or created

    int32_t lin_dict_num() const { return lin_num; }
    // The compact form's first-page cross-reference stream.
    int32_t first_xref_num() const { return lin_num + 1; }
    int32_t catalog_num() const { return lin_num + 1 + (compact ? 1 : 0); }
    int32_t first_open_num() const { return catalog_num() + 1; }
    int32_t hint_num() const { return first_open_num() + static_cast<int32_t>(open_objs.size()) + open_streams; }
    int32_t first_page_num() const { return hint_num() + 1; }
    // M: one past the highest number, the /Size of the first-page trailer.
    int32_t number_count() const {
        return first_page_num() + static_cast<int32_t>(page_groups[0].size()) + open_members;
    }
    // The new number of node i of the output's page tree (0 is the root).
    int32_t node_num(int32_t i) const { return root_num - i; }
    // The new number of the node that holds page k.
    int32_t parent_num(size_t k) const { return node_num(tree.page_parent[k]); }
    // The new number of an old one, 0 when it has none.
    int32_t number_of(int32_t old_num) const {
        return old_num >= 0 && old_num <= max_num ? new_num[static_cast<size_t>(old_num)] : 0;
    }
    // True when the outline root leads the outline run (the hint stream then
    // describes the run).
    bool outline_root_in_run() const {
        return outline_root > 0 && !outline_run.empty() && outline_run[0] == outline_root;
    }

};

// Visits the new numbers of the catalog and the objects opening the
// document needs, in file order (between the first-page cross-reference
// section and the hint stream).
template <class Visit>
void for_each_before_hints(const plan& order, Visit visit) {
    for (int32_t n = order.catalog_num(); n < order.hint_num(); n++) visit(n);
}

// Visits the new numbers of the objects that follow the hint stream, in
// file order: the first page's, then 1 to K - 1.
template <class Visit>
void for_each_after_hints(const plan& order, Visit visit) {
    for (int32_t n = order.first_page_num(); n < order.number_count(); n++) visit(n);
    for (int32_t n = 1; n < order.lin_dict_num(); n++) visit(n);
}

#endif
