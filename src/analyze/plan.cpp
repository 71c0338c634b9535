/*
 * Grouping and numbering. Every record lands in exactly one place or is the
 * catalog, so each new number belongs to one object.
 */
#include "analyze/plan.h"

#include <algorithm>

namespace {

// Records that have their place already: the catalog, the root and the pages.
std::vector<char> placed_records(const obj_list& objects, const page_tree& tree) {
    std::vector<char> placed(objects.items.size(), 0);
    if (tree.catalog >= 0) placed[static_cast<size_t>(tree.catalog)] = 1;
    if (tree.root >= 0) placed[static_cast<size_t>(tree.root)] = 1;
    for (int32_t num : tree.page_list) {
        int32_t pos = objects.position(num);
        if (pos >= 0) placed[static_cast<size_t>(pos)] = 1;
    }
    return placed;
}

// The first match decides. The outline hierarchy is kept together; objects
// of document-level entries (forms, open actions) are not needed to show any
// page; what the first page reaches comes first in the file whoever else needs
// it; an object another catalog entry, the trailer or a thumbnail also uses
// is not one page's alone.
void place(const pdf_obj& rec, const std::vector<int32_t>& r, uint8_t users, int32_t page_count, plan& out) {
    if (users & USER_OUTLINES)
        out.outline_run.push_back(rec.num);
    else if (users & USER_DOCUMENT)
        out.other_objs.push_back(rec.num);
    else if (!r.empty() && r[0] == 0)
        pg_push(out.page_groups[0], rec.num);
    else if (r.size() == 1 && r[0] > 0 && r[0] < page_count && !(users & (USER_OTHER | USER_THUMBNAIL)))
        pg_push(out.page_groups[static_cast<size_t>(r[0])], rec.num);
    else if (r.size() > 1)
        out.shared_objs.push_back(rec.num);
    else
        out.other_objs.push_back(rec.num);
}

// The root leads the run. A viewer that opens with the outline panel needs
// the hierarchy with the first page; otherwise it follows the page-tree root.
void place_outline_run(bool use_outlines, plan& out) {
    std::vector<int32_t>& run = out.outline_run;
    auto root = std::find(run.begin(), run.end(), out.outline_root);
    if (out.outline_root > 0 && root != run.end()) std::rotate(run.begin(), root, root + 1);
    out.outlines_first = use_outlines && out.outline_root_in_run();
    if (out.outlines_first) {
        page_group& first = out.page_groups[0];
        first.insert(first.end(), run.begin(), run.end());
    } else {
        out.other_objs.insert(out.other_objs.begin(), run.begin(), run.end());
    }
}

void classify_objects(const document& doc, const page_tree& tree, const attribution& pages, const doc_users& users,
                      plan& out) {
    const obj_list& objects = doc.objects;
    out.page_groups.assign(tree.page_list.size(), page_group());
    for (size_t k = 0; k < tree.page_list.size(); k++) pg_push(out.page_groups[k], tree.page_list[k]);
    out.root_old = tree.root >= 0 ? objects.items[static_cast<size_t>(tree.root)].num : 0;
    out.outline_root = users.outline_root;
    int32_t page_count = static_cast<int32_t>(tree.page_list.size());

    std::vector<char> placed = placed_records(objects, tree);
    for (size_t i = 0; i < objects.items.size(); i++) {
        const pdf_obj& rec = objects.items[i];
        int32_t pos = static_cast<int32_t>(i);
        // Intermediate Pages nodes disappear: the writer flattens the tree
        // into the root. A second record with a number already used (the
        // loader leaves none) is never written either.
        if (placed[i] || tree.type_of(objects, pos) == TYPE_PAGES || objects.position(rec.num) != pos) continue;
        place(rec, pages.ref_pages[i], users.of(pos), page_count, out);
    }
    place_outline_run(users.use_outlines, out);

    for (size_t k = 1; k < out.page_groups.size(); k++)
        out.rest_objs.insert(out.rest_objs.end(), out.page_groups[k].begin(), out.page_groups[k].end());
}

}  // namespace

status make_plan(const document& doc, const page_tree& tree, const attribution& pages, const doc_users& users,
                 plan& out) {
    out = plan();
    classify_objects(doc, tree, pages, users, out);
    int32_t max_num = 0;
    for (const pdf_obj& rec : doc.objects.items) max_num = std::max(max_num, rec.num);
    out.max_num = max_num;
    if (max_num > MAX_OBJ_NUM) return failure(problem::numbers_out_of_range, max_num);
    out.new_num.assign(static_cast<size_t>(max_num) + 1, 0);
    int32_t counter = 1;
    for (int32_t x : out.rest_objs) out.new_num[static_cast<size_t>(x)] = counter++;
    for (int32_t x : out.shared_objs) out.new_num[static_cast<size_t>(x)] = counter++;
    out.root_num = counter++;
    if (out.root_old > 0) out.new_num[static_cast<size_t>(out.root_old)] = out.root_num;
    for (int32_t x : out.other_objs) out.new_num[static_cast<size_t>(x)] = counter++;
    out.lin_num = counter;
    if (tree.catalog >= 0) out.new_num[static_cast<size_t>(doc.objects.items[static_cast<size_t>(tree.catalog)].num)] = counter + 1;
    const page_group& first = out.page_groups[0];
    for (size_t i = 0; i < first.size(); i++)
        out.new_num[static_cast<size_t>(first[i])] = counter + 3 + static_cast<int32_t>(i);
    return {};
}
