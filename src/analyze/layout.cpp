/*
 * The order and the new numbers of the output.
 *
 * A linearized file holds the first page's objects first, then the other
 * pages' objects page by page, then objects several later pages share, then
 * everything no page reaches (document-level objects among them). The
 * outline hierarchy stays one run: with the first page when the document
 * opens with its outlines shown, else right after the page-tree root. Every
 * record lands in exactly one of those places or is the catalog, so each new
 * number belongs to one object. The objects after the first page take the
 * numbers from 1; the linearization dictionary, the catalog, the hint stream
 * and the first page's objects take the highest ones, so that each
 * cross-reference section covers one range.
 */
#include <algorithm>

#include "analyze/pages.h"

namespace {

// A root that is a page or the catalog cannot hold the flat page list: the
// writer then makes a new root object.
int32_t usable_root(const obj_list& objects, const page_layout& layout) {
    int32_t root = layout.pages_root;
    if (root < 0 || root == layout.catalog) return -1;
    return objects.items[static_cast<size_t>(root)].is_page ? -1 : root;
}

// Records that have their place already: the catalog, the root and the pages.
std::vector<char> placed_records(const obj_list& objects, const page_layout& layout) {
    std::vector<char> placed(objects.items.size(), 0);
    if (layout.catalog >= 0) placed[static_cast<size_t>(layout.catalog)] = 1;
    if (layout.pages_root >= 0) placed[static_cast<size_t>(layout.pages_root)] = 1;
    for (int32_t num : layout.page_list) {
        int32_t pos = objects.position(num);
        if (pos >= 0) placed[static_cast<size_t>(pos)] = 1;
    }
    return placed;
}

// The first match decides. The outline hierarchy is kept together; objects
// of document-level entries (forms, open actions) are not needed to show any
// page; what the first page reaches comes first in the file whoever else needs
// it; an object another catalog entry, the trailer or a thumbnail also uses
// is not one page's alone. ref_pages holds each page once, so the tests are
// linear in the attribution.
void place(const pdf_obj& rec, uint8_t users, page_layout& layout) {
    const std::vector<int32_t>& r = rec.ref_pages;
    int32_t page_count = static_cast<int32_t>(layout.page_list.size());
    if (users & USER_OUTLINES)
        layout.outline_run.push_back(rec.num);
    else if (users & USER_DOCUMENT)
        layout.other_objs.push_back(rec.num);
    else if (std::find(r.begin(), r.end(), 0) != r.end())
        pg_push(layout.page_groups[0], rec.num);
    else if (r.size() == 1 && r[0] > 0 && r[0] < page_count && !(users & (USER_OTHER | USER_THUMBNAIL)))
        pg_push(layout.page_groups[static_cast<size_t>(r[0])], rec.num);
    else if (r.size() > 1)
        layout.shared_objs.push_back(rec.num);
    else
        layout.other_objs.push_back(rec.num);
}

// The root leads the run. A viewer that opens with the outline panel needs
// the hierarchy with the first page; otherwise it follows the page-tree root.
void place_outline_run(page_layout& layout) {
    std::vector<int32_t>& run = layout.outline_run;
    auto root = std::find(run.begin(), run.end(), layout.outline_root);
    if (layout.outline_root > 0 && root != run.end()) std::rotate(run.begin(), root, root + 1);
    layout.outlines_first = layout.use_outlines && outline_root_in_run(layout);
    if (layout.outlines_first) {
        page_group& first = layout.page_groups[0];
        first.insert(first.end(), run.begin(), run.end());
    } else {
        layout.other_objs.insert(layout.other_objs.begin() + 1, run.begin(), run.end());
    }
}

}  // namespace

bool outline_root_in_run(const page_layout& layout) {
    return layout.outline_root > 0 && !layout.outline_run.empty() && layout.outline_run[0] == layout.outline_root;
}

void classify_objects(const obj_list& objects, page_layout& layout) {
    layout.pages_root = usable_root(objects, layout);
    layout.page_groups.assign(layout.page_list.size(), page_group());
    for (size_t k = 0; k < layout.page_list.size(); k++) pg_push(layout.page_groups[k], layout.page_list[k]);
    layout.shared_objs.clear();
    layout.other_objs.clear();
    layout.outline_run.clear();
    layout.other_objs.push_back(
        layout.pages_root >= 0 ? objects.items[static_cast<size_t>(layout.pages_root)].num : 0);

    std::vector<char> placed = placed_records(objects, layout);
    for (size_t i = 0; i < objects.items.size(); i++) {
        const pdf_obj& rec = objects.items[i];
        // Intermediate Pages nodes disappear: the writer flattens the tree
        // into the root. A second record with a number already used (the
        // loader leaves none) is never written either.
        if (placed[i] || rec.is_pages || objects.position(rec.num) != static_cast<int32_t>(i)) continue;
        place(rec, i < layout.users.size() ? layout.users[i] : 0, layout);
    }
    place_outline_run(layout);

    layout.rest_objs.clear();
    for (size_t k = 1; k < layout.page_groups.size(); k++)
        layout.rest_objs.insert(layout.rest_objs.end(), layout.page_groups[k].begin(), layout.page_groups[k].end());
}

status number_objects(const obj_list& objects, page_layout& layout) {
    int32_t max_num = 0;
    for (const pdf_obj& rec : objects.items) max_num = std::max(max_num, rec.num);
    layout.max_num = max_num;
    if (max_num > MAX_OBJ_NUM) return failure(problem::numbers_out_of_range, max_num);
    layout.new_num.assign(static_cast<size_t>(max_num) + 1, 0);
    int32_t counter = 1;
    for (const std::vector<int32_t>* run : {&layout.rest_objs, &layout.shared_objs, &layout.other_objs})
        for (int32_t x : *run) layout.new_num[static_cast<size_t>(x)] = counter++;
    layout.lin_num = counter;
    if (layout.catalog >= 0)
        layout.new_num[static_cast<size_t>(objects.items[static_cast<size_t>(layout.catalog)].num)] = counter + 1;
    if (layout.page_groups.empty()) return {};
    const page_group& first = layout.page_groups[0];
    for (size_t i = 0; i < first.size(); i++)
        layout.new_num[static_cast<size_t>(first[i])] = counter + 3 + static_cast<int32_t>(i);
    return {};
}
