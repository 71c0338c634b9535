/*
 * The page walks. Pages are walked in list order, so within one pass each
 * record's page indices arrive in ascending order; the second pass (the
 * inherited values) appends a second ascending run, merged in at the end.
 */
#include "analyze/attribution.h"

#include <algorithm>
#include <string>

#include "analyze/inheritance.h"
#include "load/stream_lengths.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"

namespace {

// Deeper reference chains are recorded but not followed.
constexpr int32_t MAX_WALK_DEPTH = 201;

// Where the walk must not follow the /Length reference: the writer puts the
// data length there directly, so nothing will point at the length object.
int32_t replaced_length_ref(const obj_list& objects, const pdf_obj& rec) {
    length_fix fix = stream_length_fix(objects, rec);
    if (fix.kind != length_fix::REPLACE || !fix.value_is_ref) return -1;
    return rec.body[static_cast<size_t>(fix.value_start)] == '-' ? fix.value_start + 1 : fix.value_start;
}

struct page_walk {
    const obj_list& objects;
    const page_tree& tree;
    attribution& out;
    bool second_pass = false;
    std::vector<size_t> first_pass_count;  // by table position

    // Whether page already reached the record at pos: while a pass runs, the
    // page being walked can only be the last entry of its run.
    bool reached(int32_t pos, int32_t page) const {
        const std::vector<int32_t>& r = out.ref_pages[static_cast<size_t>(pos)];
        if (!r.empty() && r.back() == page) return true;
        if (!second_pass) return false;
        auto split = r.begin() + static_cast<std::ptrdiff_t>(first_pass_count[static_cast<size_t>(pos)]);
        return std::binary_search(r.begin(), split, page);
    }

    void end_first_pass() {
        first_pass_count.resize(out.ref_pages.size());
        for (size_t i = 0; i < out.ref_pages.size(); i++) first_pass_count[i] = out.ref_pages[i].size();
        second_pass = true;
    }

    void merge_runs() {
        for (size_t i = 0; i < out.ref_pages.size(); i++) {
            std::vector<int32_t>& r = out.ref_pages[i];
            std::inplace_merge(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(first_pass_count[i]), r.end());
        }
    }

    void mark(int32_t num, int32_t page, int32_t depth);
    void mark_inherited(const std::string& value, int32_t page);
};

// A page's thumbnail image is not part of the page (viewers fetch it for
// navigation): the page's own walk passes its /Thumb over.
void page_walk::mark(int32_t num, int32_t page, int32_t depth) {
    if (depth >= MAX_WALK_DEPTH) return;
    int32_t pos = objects.position(num);
    if (pos < 0) return;
    const pdf_obj& rec = objects.items[static_cast<size_t>(pos)];
    obj_type type = tree.type_of(objects, pos);
    if (!rec.has_body() || (type == TYPE_PAGE && depth > 0) || type == TYPE_PAGES || type == TYPE_CATALOG) return;
    if (reached(pos, page)) {
        if (depth > 0) return;
    } else {
        out.ref_pages[static_cast<size_t>(pos)].push_back(page);
    }
    int32_t thumb = 0;
    int32_t thumb_at = depth == 0 ? key_reference(rec.body.data(), rec.body_len(), "Thumb", &thumb) : -1;
    for (int32_t n : body_references(objects, rec, thumb_at)) mark(n, page, depth + 1);
}

void page_walk::mark_inherited(const std::string& value, int32_t page) {
    if (value.empty()) return;
    std::vector<int32_t> nums;
    collect_references(value.data(), static_cast<int32_t>(value.size()), nums, value.size());
    for (int32_t n : nums) mark(n, page, 1);
}

}  // namespace

bool attribution::reached_by(int32_t pos, int32_t page) const {
    const std::vector<int32_t>& r = ref_pages[static_cast<size_t>(pos)];
    return std::binary_search(r.begin(), r.end(), page);
}

std::vector<int32_t> body_references(const obj_list& objects, const pdf_obj& rec, int32_t skip_also) {
    std::vector<int32_t> nums;
    const int32_t skips[] = {replaced_length_ref(objects, rec), skip_also};
    collect_references(rec.body.data(), rec.body_len(), nums, static_cast<size_t>(rec.body_len() / 4) + 1, skips);
    return nums;
}

attribution attribute_pages(const document& doc, const page_tree& tree) {
    const obj_list& objects = doc.objects;
    const std::vector<int32_t>& page_list = tree.page_list;
    attribution out;
    out.ref_pages.resize(objects.items.size());
    page_walk walk{objects, tree, out, false, {}};
    int32_t count = static_cast<int32_t>(page_list.size());
    for (int32_t i = 0; i < count; i++) walk.mark(page_list[static_cast<size_t>(i)], i, 0);
    walk.end_first_pass();
    inheritance_cache inherited(objects);
    for (int32_t i = 0; i < count; i++) {
        const pdf_obj* page = objects.find(page_list[static_cast<size_t>(i)]);
        if (!page || !page->has_body()) continue;
        if (find_name(page->body.data(), page->body_len(), 0, page->body_len(), "Resources") < 0)
            walk.mark_inherited(inherited.resources(page), i);
        for (const char* key : {"MediaBox", "CropBox", "Rotate"}) walk.mark_inherited(inherited.value(page, key), i);
    }
    walk.merge_runs();
    return out;
}
