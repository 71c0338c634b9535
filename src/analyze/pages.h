/*
 * Page structure analysis: which object is the catalog, which is the root
 * of the page tree, the pages in document order, which pages reach each
 * object, and from that the order and new numbers of the output.
 */
#ifndef MORVEL_PAGES_H
#define MORVEL_PAGES_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "load/document.h"
#include "load/stream_lengths.h"
#include "pdf/dict.h"

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

    // Users of objects besides the pages (see attribute_pages).
    int32_t info_ref = 0;          // object the trailer's /Info names; 0 when none
    int32_t outline_root = 0;      // object the catalog's first /Outlines names; 0 when none
    bool use_outlines = false;     // the catalog's first /PageMode is /UseOutlines
    std::vector<uint8_t> users;    // by table position: USER_* bits
    // The objects of the outline hierarchy, in file order (the root first
    // when it is among them), and whether they close the first page's group
    // (else they follow the page-tree root among the other objects).
    std::vector<int32_t> outline_run;
    bool outlines_first = false;
};

// Who besides the pages reaches an object: the walks from the catalog's
// entries (/Outlines; /AcroForm, /OpenAction, /ViewerPreferences, /Threads,
// /PageMode; any other key but /Pages), from the pages' thumbnails and from
// the trailer's /Info (with the other keys).
enum : uint8_t { USER_OUTLINES = 1, USER_DOCUMENT = 2, USER_OTHER = 4, USER_THUMBNAIL = 8 };

// True when the outline root is an object of the outline run (it is then
// the run's first object, and the hint stream describes the run).
bool outline_root_in_run(const page_layout& layout);

// Catalog and page tree, attribution, grouping and numbering.
status analyze_pages(document& doc, page_layout& layout);

// The steps of analyze_pages, in order.
// Catalog and page-tree root (layout.catalog, layout.pages_root as found,
// even when the root turns out unusable); may move the catalog flag.
void choose_catalog_and_root(document& doc, page_layout& layout);
// Flattens the tree under layout.pages_root into layout.page_list, falling
// back on every page-typed record; fails when there is no page at all.
status list_pages(const obj_list& objects, page_layout& layout);
// Records on every object the indices of the pages that reach it
// (ref_pages), then who else uses it (layout.users, with outline_root and
// use_outlines). Reads layout.catalog, page_list and info_ref.
void attribute_pages(obj_list& objects, page_layout& layout);
// Sorts every record into one place: a page group, the shared objects, the
// other objects (root first), the outline run or the catalog; drops an
// unusable root.
void classify_objects(const obj_list& objects, page_layout& layout);
// New numbers for everything classify_objects placed.
status number_objects(const obj_list& objects, page_layout& layout);

// The /Resources dictionary of a page: its own, else that of its nearest
// ancestor through /Parent (up to 32 steps). Empty when there is none.
std::string own_resources_text(const obj_list& objects, const pdf_obj* obj);
std::string inherited_resources_text(const obj_list& objects, const pdf_obj* obj);

// The same two lookups for many pages of one table: what each ancestor holds
// (its /Parent, its resources, its attribute values) is read once, so the
// nodes of a wide tree are not scanned again for every page.
struct inherited_node {
    bool parent_known = false;
    const pdf_obj* parent = nullptr;
    bool resources_known = false;
    std::string resources;
    std::vector<std::pair<std::string, std::string>> values;  // key, usable value or ""
};
struct inheritance_cache {
    explicit inheritance_cache(const obj_list& table) : objects(table) {}
    std::string resources(const pdf_obj* page);                 // inherited_resources_text
    std::string value(const pdf_obj* page, const char* key);    // inherited_value_text

    const obj_list& objects;
    std::unordered_map<const pdf_obj*, inherited_node> nodes;
};

// The value of an inheritable page attribute ("MediaBox", "CropBox",
// "Rotate") that the page lacks, as written at its nearest ancestor through
// /Parent: a reference "N G R", a balanced "[...]" array or a number. Empty
// when the page has the key itself or no ancestor carries a usable value.
std::string inherited_value_text(const obj_list& objects, const pdf_obj* page, const char* key);

#endif
