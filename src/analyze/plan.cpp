/*
 * Grouping and numbering. Every record lands in exactly one place or is the
 * catalog, so each new number belongs to one object.
 */
#include "analyze/plan.h"

#include <algorithm>

#include "pdf/dict.h"

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

// The first match decides. What the first page reaches is written before
// /E and listed in the first-page cross-reference section whoever else needs
// it: in the first page's group, or right after the catalog when the
// document-level walks reach it too (readers of linearized files count such
// objects as the document's, not the page's). The outline hierarchy is kept
// together where it can be; what opening the document needs follows the
// catalog; an object another catalog entry, the trailer or a thumbnail also
// uses is not one page's alone, and document-level objects that later pages
// reach stay with the other objects.
void place(const pdf_obj& rec, const std::vector<int32_t>& r, uint8_t users, bool use_outlines, int32_t page_count,
           plan& out) {
    bool first = !r.empty() && r[0] == 0;
    if (users & USER_OUTLINES) {
        if (first && !use_outlines) {
            out.open_objs.push_back(rec.num);
            out.outline_elsewhere++;
        } else {
            out.outline_run.push_back(rec.num);
        }
    } else if (first) {
        if (users & USER_DOCUMENT)
            out.open_objs.push_back(rec.num);
        else
            pg_push(out.page_groups[0], rec.num);
    } else if (users & USER_OPEN) {
        out.open_objs.push_back(rec.num);
    } else if (r.size() == 1 && r[0] > 0 && r[0] < page_count && !(users & (USER_OTHER | USER_THUMBNAIL | USER_DOCUMENT))) {
        pg_push(out.page_groups[static_cast<size_t>(r[0])], rec.num);
    } else if (r.size() > 1 && !(users & USER_DOCUMENT)) {
        out.shared_objs.push_back(rec.num);
    } else {
        out.other_objs.push_back(rec.num);
    }
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

// Whether the form dictionary num is a record whose /Fields is an array written inline.
bool has_inline_fields(const obj_list& objects, int32_t num) {
    const pdf_obj* rec = num > 0 ? objects.find(num) : nullptr;
    if (!rec || !rec->has_body() || rec->has_stream || rec->type != TYPE_NONE) return false;
    int32_t v = key_value(rec->body.data(), rec->body_len(), "Fields");
    return v >= 0 && v < rec->body_len() && rec->body[static_cast<size_t>(v)] == '[';
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
        // The input's intermediate Pages nodes disappear: the output has a
        // tree of its own. A second record with a number already used (the
        // loader leaves none) is never written either.
        if (placed[i] || tree.type_of(objects, pos) == TYPE_PAGES || objects.position(rec.num) != pos) continue;
        place(rec, pages.pages_of(pos), users.of(pos), users.use_outlines, page_count, out);
    }
    place_outline_run(users.use_outlines, out);

    for (size_t k = 1; k < out.page_groups.size(); k++)
        out.rest_objs.insert(out.rest_objs.end(), out.page_groups[k].begin(), out.page_groups[k].end());
}

// Some readers of hint tables take an entry for its first object only, so
// an entry stays one object unless the references of later pages to single
// objects would outnumber the objects and pages this many times.
constexpr int64_t GROUPING_RATIO = 64;

// The references later pages make to the objects of list, one per object.
int64_t later_page_references(const obj_list& objects, const attribution& pages, const std::vector<int32_t>& list) {
    int64_t total = 0;
    for (int32_t num : list) {
        const std::vector<int32_t>& set = pages.pages_of(objects.position(num));
        total += static_cast<int64_t>(set.size()) - (!set.empty() && set[0] == 0 ? 1 : 0);
    }
    return total;
}

// Runs of consecutive objects of list that exactly the same pages reach: a
// page needs the objects of a run all together or not at all.
std::vector<int32_t> runs_of_equal_sets(const obj_list& objects, const attribution& pages,
                                        const std::vector<int32_t>& list) {
    std::vector<int32_t> runs;
    int32_t last_set = -1;
    for (int32_t num : list) {
        int32_t set = pages.set_of[static_cast<size_t>(objects.position(num))];
        if (runs.empty() || set != last_set) runs.push_back(0);
        runs.back()++;
        last_set = set;
    }
    return runs;
}

void group_hint_entries(const obj_list& objects, const attribution& pages, plan& out) {
    const std::vector<int32_t>& first = out.page_groups[0];
    int64_t singles = later_page_references(objects, pages, first) + later_page_references(objects, pages, out.shared_objs);
    int64_t budget = GROUPING_RATIO * (static_cast<int64_t>(objects.items.size()) + static_cast<int64_t>(out.page_groups.size()));
    if (singles <= budget) {
        out.first_groups.assign(first.size(), 1);
        out.shared_groups.assign(out.shared_objs.size(), 1);
        return;
    }
    out.first_groups = runs_of_equal_sets(objects, pages, first);
    out.shared_groups = runs_of_equal_sets(objects, pages, out.shared_objs);
}

}  // namespace

status make_plan(const document& doc, const page_tree& tree, const attribution& pages, const doc_users& users,
                 plan& out) {
    out = plan();
    classify_objects(doc, tree, pages, users, out);
    group_hint_entries(doc.objects, pages, out);
    int32_t max_num = 0;
    for (const pdf_obj& rec : doc.objects.items) max_num = std::max(max_num, rec.num);
    out.max_num = max_num;
    if (max_num > MAX_OBJ_NUM) return failure(problem::numbers_out_of_range, max_num);
    out.new_num.assign(static_cast<size_t>(max_num) + 1, 0);
    int32_t counter = 1;
    for (int32_t x : out.rest_objs) out.new_num[static_cast<size_t>(x)] = counter++;
    for (int32_t x : out.shared_objs) out.new_num[static_cast<size_t>(x)] = counter++;
    if (has_inline_fields(doc.objects, users.form)) {
        out.form_old = users.form;
        out.fields_num = counter++;
    }
    for (int32_t x : out.other_objs) out.new_num[static_cast<size_t>(x)] = counter++;
    // The page tree last, deepest nodes first and the root at K - 1: the
    // nodes a viewer reads at open time end where the main cross-reference
    // section, which it reads anyway, begins.
    out.tree = build_page_nodes(static_cast<int32_t>(tree.page_list.size()), PAGE_FANOUT);
    counter += static_cast<int32_t>(out.tree.nodes.size());
    out.root_num = counter - 1;
    if (out.root_old > 0) out.new_num[static_cast<size_t>(out.root_old)] = out.root_num;
    out.lin_num = counter;
    if (tree.catalog >= 0) out.new_num[static_cast<size_t>(doc.objects.items[static_cast<size_t>(tree.catalog)].num)] = counter + 1;
    for (size_t i = 0; i < out.open_objs.size(); i++)
        out.new_num[static_cast<size_t>(out.open_objs[i])] = out.first_open_num() + static_cast<int32_t>(i);
    const page_group& first = out.page_groups[0];
    for (size_t i = 0; i < first.size(); i++)
        out.new_num[static_cast<size_t>(first[i])] = out.first_page_num() + static_cast<int32_t>(i);
    return {};
}
