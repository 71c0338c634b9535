/*
 * Page structure analysis: which object is the catalog, which is the root
 * of the page tree, the pages in document order, which pages reach each
 * object, and from that the order and new numbers of the output.
 */
#ifndef MORVEL_PAGES_H
#define MORVEL_PAGES_H

#include <cstdint>
#include <string>
#include <vector>

#include "load.h"

using page_group = std::vector<int32_t>;

inline void pg_push(page_group& g, int32_t value) { g.push_back(value); }

struct page_layout {
    int32_t catalog = -1;     // table position of the catalog, -1 when there is none
    int32_t pages_root = -1;  // table position of the usable page-tree root, -1 when the
                              // writer must create one (none found, or it was a page or
                              // the catalog)
    std::vector<int32_t> page_list;  // object numbers of the pages, document order, each once

    // Entry k: page k's object number, then the objects only page k reaches
    // (entry 0: every object the first page reaches), in table order.
    std::vector<page_group> page_groups;
    std::vector<int32_t> rest_objs;    // groups 1.. concatenated
    std::vector<int32_t> shared_objs;  // reached by two or more later pages
    // The page-tree root first, then objects no page reaches. An entry 0
    // stands for the root the writer creates; its new number is new_num[0].
    std::vector<int32_t> other_objs;

    std::vector<int32_t> new_num;  // by old number; 0 = not written
    int32_t max_num = 0;
    int32_t lin_num = 0;  // K: linearization dictionary; K+1 catalog; K+2 hint stream
};

// Phases 5 to 7. Fails with the input path in the message.
bool analyze_pages(const input_file& input, obj_list& objects, const char* input_path,
                   page_layout& layout);

// The /Resources dictionary of a page: its own, else that of its nearest
// ancestor through /Parent (up to 32 steps). Empty when there is none.
std::string own_resources_text(const obj_list& objects, const pdf_obj* obj);
std::string inherited_resources_text(const obj_list& objects, const pdf_obj* obj);

#endif
