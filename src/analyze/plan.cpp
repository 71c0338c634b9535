/*
 * Grouping and numbering. Every record lands in exactly one place or is the
 * catalog, so each new number belongs to one object.
 */
#include "analyze/plan.h"

#include <algorithm>

#include "analyze/hint_groups.h"
#include "analyze/packing.h"
#include "analyze/reachable.h"
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
// together where it can be, but for what the first page or opening needs
// (a structure tree root the outlines reach too); what opening the
// document needs follows the catalog; an object another catalog entry, the trailer or a thumbnail also
// uses is not one page's alone, and document-level objects that later pages
// reach stay with the other objects.
void place(const pdf_obj& rec, const std::vector<int32_t>& r, uint8_t users, bool use_outlines, int32_t page_count,
           plan& out) {
    bool first = !r.empty() && r[0] == 0;
    if (users & USER_OUTLINES) {
        if ((first || (users & USER_OPEN)) && !use_outlines) {
            out.open_objs.push_back(rec.num);
            out.outline_open.push_back(rec.num);
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

// keep: by table position, the records the output may write (empty: all).
void classify_objects(const document& doc, const page_tree& tree, const attribution& pages, const doc_users& users,
                      const std::vector<char>& keep, plan& out) {
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
        if (!keep.empty() && !keep[i]) continue;
        place(rec, pages.pages_of(pos), users.of(pos), users.use_outlines, page_count, out);
    }
    place_outline_run(users.use_outlines, out);

    for (size_t k = 1; k < out.page_groups.size(); k++)
        out.rest_objs.insert(out.rest_objs.end(), out.page_groups[k].begin(), out.page_groups[k].end());
}

// The default form's numbers after the first page: every object in file
// order from 1.
void number_in_file_order(plan& out) {
    int32_t counter = 1;
    size_t pages = out.page_groups.size();
    out.page_start.assign(pages + 1, 0);
    for (size_t k = 1; k < pages; k++) {
        out.page_start[k] = counter;
        for (int32_t x : out.page_groups[k]) out.new_num[static_cast<size_t>(x)] = counter++;
    }
    out.page_start[pages] = counter;
    for (int32_t x : out.shared_objs) {
        out.new_num[static_cast<size_t>(x)] = counter;
        out.shared_units.push_back({counter++, {x}});
    }
    if (out.form_old > 0) out.fields_num = counter++;
    for (int32_t x : out.other_objs) out.new_num[static_cast<size_t>(x)] = counter++;
    // The page tree last, deepest nodes first and the root at K - 1: the
    // nodes a viewer reads at open time end where the main cross-reference
    // section, which it reads anyway, begins.
    counter += static_cast<int32_t>(out.tree.nodes.size());
    out.root_num = counter - 1;
    out.lin_num = counter;
}

// The numbers from K: the linearization dictionary, (the first-page
// cross-reference stream,) the catalog, what opening needs, the hint
// stream and the first page's objects.
void number_first_part(const document& doc, const page_tree& tree, plan& out) {
    if (out.root_old > 0) out.new_num[static_cast<size_t>(out.root_old)] = out.root_num;
    if (tree.catalog >= 0)
        out.new_num[static_cast<size_t>(doc.objects.items[static_cast<size_t>(tree.catalog)].num)] = out.catalog_num();
    for (size_t i = 0; i < out.open_objs.size(); i++)
        out.new_num[static_cast<size_t>(out.open_objs[i])] = out.first_open_num() + static_cast<int32_t>(i);
    const page_group& first = out.page_groups[0];
    for (size_t i = 0; i < first.size(); i++)
        out.new_num[static_cast<size_t>(first[i])] = out.first_page_num() + static_cast<int32_t>(i);
}

}  // namespace

status make_plan(const document& doc, const page_tree& tree, const attribution& pages, const doc_users& users,
                 const plan_options& options, plan& out) {
    out = plan();
    out.compact = options.compact;
    classify_objects(doc, tree, pages, users, options.compact ? reachable_records(doc, tree, &pages.refs) : std::vector<char>(),
                     out);
    int32_t max_num = 0;
    for (const pdf_obj& rec : doc.objects.items) max_num = std::max(max_num, rec.num);
    out.max_num = max_num;
    if (max_num > MAX_OBJ_NUM) return failure(problem::numbers_out_of_range, max_num);
    out.new_num.assign(static_cast<size_t>(max_num) + 1, 0);
    if (has_inline_fields(doc.objects, users.form)) out.form_old = users.form;
    out.tree = build_page_nodes(static_cast<int32_t>(tree.page_list.size()), PAGE_FANOUT);
    if (options.compact) {
        number_packed(doc.objects, tree, pages, out);
        pack_open_objects(doc.objects, tree, pages, out);
    } else {
        number_in_file_order(out);
    }
    number_first_part(doc, tree, out);
    group_hint_entries(doc.objects, pages, out);
    return {};
}
