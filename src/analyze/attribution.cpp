/*
 * Which pages reach each object, who else uses it, and the page attributes
 * a page inherits.
 *
 * A page reaches everything its dictionary leads to (contents, annotations,
 * its own resources and all they reference, but not its thumbnail), and the
 * walk never crosses into another page, a Pages node or the catalog. What a
 * page inherits from its ancestors (/Resources, /MediaBox, /CropBox, /Rotate)
 * the writer copies into the page, so a second pass walks the references of
 * those inherited values for the page. The same lookups serve the writer.
 *
 * Then the document-level users: walks from the catalog's entries, from each
 * page's thumbnail and from the trailer's /Info flag what they reach, so
 * that the grouping can keep the outline hierarchy together and leave forms,
 * actions and thumbnails out of the pages' sections.
 */
#include <algorithm>
#include <cstring>
#include <string_view>

#include "analyze/pages.h"
#include "load/stream_lengths.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"
#include "pdf/refs.h"

namespace {

// Deeper reference chains are recorded but not followed.
constexpr int32_t MAX_WALK_DEPTH = 201;
// Ancestors examined through /Parent.
constexpr int ANCESTOR_LIMIT = 32;

int32_t name_pos(const pdf_obj& rec, const char* name) {
    return find_name(rec.body.data(), rec.body_len(), 0, rec.body_len(), name);
}

// The record named by rec's /Parent, or null.
const pdf_obj* parent_of(const obj_list& objects, const pdf_obj& rec) {
    if (!rec.has_body()) return nullptr;
    int32_t n = dict_int(rec.body.data(), rec.body_len(), "Parent");
    return n > 0 ? objects.find(n) : nullptr;
}

// The value of /key in rec as written, when it is a reference, a balanced
// array or a number; empty otherwise.
std::string plain_value(const pdf_obj& rec, const char* key) {
    const char* b = rec.body.data();
    int32_t len = rec.body_len();
    int32_t i = key_value(b, len, key);
    if (i < 0 || i >= len) return std::string();
    int32_t num = 0, gen = 0;
    int32_t end = reference_at(b, len, i, &num, &gen);
    if (end < 0) end = b[i] == '[' ? array_close(b, len, i) : number_token_end(b, len, i);
    return end < 0 ? std::string() : rec.body.substr(static_cast<size_t>(i), static_cast<size_t>(end - i));
}

}  // namespace

std::string own_resources_text(const obj_list& objects, const pdf_obj* obj) {
    if (!obj || !obj->has_body()) return std::string();
    const char* b = obj->body.data();
    int32_t len = obj->body_len();
    int32_t i = key_value(b, len, "Resources");
    if (i < 0 || i >= len) return std::string();
    if (b[i] == '<') return extract_dict_at(b, len, i);
    if (!is_digit(byte_at(b, i))) return std::string();
    int32_t n = parse_int_at(b, len, &i);
    const pdf_obj* res = n > 0 ? objects.find(n) : nullptr;
    if (!res || !res->has_body()) return std::string();
    return extract_dict_at(res->body.data(), res->body_len(), 0);
}

namespace {

// The first non-empty own(ancestor), nearest first, through at most
// ANCESTOR_LIMIT /Parent steps from start.
template <class Parent, class Own>
std::string nearest_ancestor(const pdf_obj& start, Parent parent, Own own) {
    const pdf_obj* cur = &start;
    for (int k = 0; k < ANCESTOR_LIMIT; k++) {
        cur = parent(*cur);
        if (!cur) break;
        std::string text = own(*cur);
        if (!text.empty()) return text;
    }
    return std::string();
}

}  // namespace

std::string inherited_resources_text(const obj_list& objects, const pdf_obj* obj) {
    std::string text = own_resources_text(objects, obj);
    if (!text.empty() || !obj) return text;
    return nearest_ancestor(
        *obj, [&](const pdf_obj& r) { return parent_of(objects, r); },
        [&](const pdf_obj& r) { return own_resources_text(objects, &r); });
}

std::string inherited_value_text(const obj_list& objects, const pdf_obj* page, const char* key) {
    if (!page || !page->has_body() || name_pos(*page, key) >= 0) return std::string();
    return nearest_ancestor(
        *page, [&](const pdf_obj& r) { return parent_of(objects, r); },
        [&](const pdf_obj& r) { return plain_value(r, key); });
}

namespace {

const pdf_obj* cached_parent(inheritance_cache& c, const pdf_obj& r) {
    inherited_node& n = c.nodes[&r];
    if (!n.parent_known) {
        n.parent = parent_of(c.objects, r);
        n.parent_known = true;
    }
    return n.parent;
}

}  // namespace

std::string inheritance_cache::resources(const pdf_obj* page) {
    std::string text = own_resources_text(objects, page);
    if (!text.empty() || !page) return text;
    return nearest_ancestor(
        *page, [&](const pdf_obj& r) { return cached_parent(*this, r); },
        [&](const pdf_obj& r) {
            inherited_node& n = nodes[&r];
            if (!n.resources_known) {
                n.resources = own_resources_text(objects, &r);
                n.resources_known = true;
            }
            return n.resources;
        });
}

std::string inheritance_cache::value(const pdf_obj* page, const char* key) {
    if (!page || !page->has_body() || name_pos(*page, key) >= 0) return std::string();
    return nearest_ancestor(
        *page, [&](const pdf_obj& r) { return cached_parent(*this, r); },
        [&](const pdf_obj& r) {
            inherited_node& n = nodes[&r];
            for (const auto& [k, v] : n.values)
                if (k == key) return v;
            n.values.emplace_back(key, plain_value(r, key));
            return n.values.back().second;
        });
}

namespace {

// Page indices reach ref_pages in ascending order within each pass (pages
// are walked in list order), so ref_pages is two sorted runs: the first
// pass's and the second's. Membership is a binary search in each; while a
// pass runs, the page being walked can only be the last entry of its run.
struct attribution {
    obj_list& objects;
    bool second_pass = false;
    std::vector<size_t> first_pass_count;  // by table position

    bool reached(const pdf_obj& rec, int32_t pos, int32_t page) const {
        const std::vector<int32_t>& r = rec.ref_pages;
        if (!r.empty() && r.back() == page) return true;
        if (!second_pass) return false;
        return std::binary_search(r.begin(), split(r, pos), page);
    }

    // After both passes: did this page's own walk reach the record?
    bool reached_by(const pdf_obj& rec, int32_t pos, int32_t page) const {
        const std::vector<int32_t>& r = rec.ref_pages;
        auto mid = split(r, pos);
        return std::binary_search(r.begin(), mid, page) || std::binary_search(mid, r.end(), page);
    }

    std::vector<int32_t>::const_iterator split(const std::vector<int32_t>& r, int32_t pos) const {
        return r.begin() + static_cast<std::ptrdiff_t>(first_pass_count[static_cast<size_t>(pos)]);
    }

    void end_first_pass() {
        first_pass_count.resize(objects.items.size());
        for (size_t i = 0; i < objects.items.size(); i++) first_pass_count[i] = objects.items[i].ref_pages.size();
        second_pass = true;
    }

    void mark(int32_t num, int32_t page, int32_t depth);
    void mark_inherited(const std::string& value, int32_t page);
};

// Where the walk must not follow the /Length reference: the writer puts the
// data length there directly, so nothing will point at the length object.
int32_t replaced_length_ref(const obj_list& objects, const pdf_obj& rec) {
    length_fix fix = stream_length_fix(objects, rec);
    if (fix.kind != length_fix::REPLACE || !fix.value_is_ref) return -1;
    return rec.body[static_cast<size_t>(fix.value_start)] == '-' ? fix.value_start + 1 : fix.value_start;
}

// Offset of the reference after the first /key of rec (white space
// skipped), or -1 when the value is no reference; its number in *num.
int32_t ref_after_name(const pdf_obj& rec, const char* key, int32_t* num) {
    return key_reference(rec.body.data(), rec.body_len(), key, num);
}

// The references a walk follows from a record's body.
std::vector<int32_t> body_references(const obj_list& objects, const pdf_obj& rec, int32_t skip_also = -1) {
    std::vector<int32_t> nums;
    const int32_t skips[] = {replaced_length_ref(objects, rec), skip_also};
    collect_references(rec.body.data(), rec.body_len(), nums, static_cast<size_t>(rec.body_len() / 4) + 1, skips);
    return nums;
}

// A page's thumbnail image is not part of the page (viewers fetch it for
// navigation): the page's own walk passes its /Thumb over.
void attribution::mark(int32_t num, int32_t page, int32_t depth) {
    if (depth >= MAX_WALK_DEPTH) return;
    int32_t pos = objects.position(num);
    if (pos < 0) return;
    pdf_obj& rec = objects.items[static_cast<size_t>(pos)];
    if (!rec.has_body() || (rec.is_page && depth > 0) || rec.is_pages || rec.is_catalog) return;
    if (reached(rec, pos, page)) {
        if (depth > 0) return;
    } else {
        rec.ref_pages.push_back(page);
    }
    int32_t thumb = 0;
    int32_t thumb_at = depth == 0 ? ref_after_name(rec, "Thumb", &thumb) : -1;
    for (int32_t n : body_references(objects, rec, thumb_at)) mark(n, page, depth + 1);
}

void attribution::mark_inherited(const std::string& value, int32_t page) {
    if (value.empty()) return;
    std::vector<int32_t> nums;
    collect_references(value.data(), static_cast<int32_t>(value.size()), nums, value.size());
    for (int32_t n : nums) mark(n, page, 1);
}

}  // namespace

// ---- Users other than the pages --------------------------------------

namespace {

uint8_t entry_user(const std::string& key) {
    if (key == "Outlines") return USER_OUTLINES;
    for (const char* k : {"AcroForm", "OpenAction", "ViewerPreferences", "Threads", "PageMode"})
        if (key == k) return USER_DOCUMENT;
    return USER_OTHER;
}

// Walks from catalog entries, thumbnails and /Info: depth first in
// reference order, through Pages nodes and the catalog, never into a page.
// A walk with a given flag reaches the same objects from an object whoever
// started it, so one visited set per flag serves all walks of that flag; a
// thumbnail walk also avoids what its own page reached, so it has its own.
struct user_walk {
    obj_list& objects;
    const attribution& pages;
    std::vector<uint8_t>& users;
    std::vector<uint8_t> done;          // by table position: flags walked through here
    std::vector<int32_t> thumb_walked;  // by table position: 1 + the page whose thumbnail walk came here
    std::vector<std::vector<int32_t>> stack;
    std::vector<size_t> next;

    user_walk(obj_list& o, const attribution& a, std::vector<uint8_t>& u)
        : objects(o), pages(a), users(u), done(o.items.size(), 0), thumb_walked(o.items.size(), 0) {
        users.assign(o.items.size(), 0);
    }

    void enter(int32_t num, uint8_t flag, int32_t page) {
        int32_t pos = objects.position(num);
        if (pos < 0) return;
        const pdf_obj& rec = objects.items[static_cast<size_t>(pos)];
        if (!rec.has_body() || rec.is_page) return;
        size_t at = static_cast<size_t>(pos);
        if (page >= 0) {
            if (thumb_walked[at] == page + 1 || pages.reached_by(rec, pos, page)) return;
            thumb_walked[at] = page + 1;
        } else {
            if (done[at] & flag) return;
            done[at] = static_cast<uint8_t>(done[at] | flag);
        }
        users[at] = static_cast<uint8_t>(users[at] | flag);
        stack.push_back(body_references(objects, rec));
        next.push_back(0);
    }

    // page >= 0 for the walk from that page's thumbnail.
    void run(const std::vector<int32_t>& starts, uint8_t flag, int32_t page = -1) {
        for (int32_t s : starts) {
            enter(s, flag, page);
            while (!stack.empty()) {
                if (next.back() == stack.back().size()) {
                    stack.pop_back();
                    next.pop_back();
                    continue;
                }
                int32_t n = stack.back()[next.back()++];
                enter(n, flag, page);
            }
        }
    }
};

void catalog_users(user_walk& walk, page_layout& layout) {
    if (layout.catalog < 0) return;
    const std::string& body = walk.objects.items[static_cast<size_t>(layout.catalog)].body;
    bool seen_outlines = false, seen_mode = false;
    for (const dict_entry& e : dict_entries(body)) {
        const char* v = body.data() + e.value_start;
        int32_t v_len = e.value_end - e.value_start;
        if (e.key == "Outlines" && !seen_outlines) {
            seen_outlines = true;
            int32_t num = 0, gen = 0;
            if (reference_at(v, v_len, 0, &num, &gen) >= 0) layout.outline_root = num;
        }
        if (e.key == "PageMode" && !seen_mode) {
            seen_mode = true;
            layout.use_outlines = std::string_view(v, static_cast<size_t>(v_len)) == "/UseOutlines";
        }
        if (e.key == "Pages") continue;
        std::vector<int32_t> nums;
        collect_references(v, v_len, nums, static_cast<size_t>(v_len));
        walk.run(nums, entry_user(e.key));
    }
}

void thumbnail_users(user_walk& walk, const std::vector<int32_t>& page_list) {
    for (size_t i = 0; i < page_list.size(); i++) {
        const pdf_obj* page = walk.objects.find(page_list[i]);
        int32_t thumb = 0;
        if (!page || !page->has_body() || ref_after_name(*page, "Thumb", &thumb) < 0) continue;
        walk.run({thumb}, USER_THUMBNAIL, static_cast<int32_t>(i));
    }
}

}  // namespace

void attribute_pages(obj_list& objects, page_layout& layout) {
    const std::vector<int32_t>& page_list = layout.page_list;
    attribution walk{objects, false, {}};
    int32_t count = static_cast<int32_t>(page_list.size());
    for (int32_t i = 0; i < count; i++) walk.mark(page_list[static_cast<size_t>(i)], i, 0);
    walk.end_first_pass();
    inheritance_cache inherited(objects);
    for (int32_t i = 0; i < count; i++) {
        const pdf_obj* page = objects.find(page_list[static_cast<size_t>(i)]);
        if (!page || !page->has_body()) continue;
        if (name_pos(*page, "Resources") < 0) walk.mark_inherited(inherited.resources(page), i);
        for (const char* key : {"MediaBox", "CropBox", "Rotate"}) walk.mark_inherited(inherited.value(page, key), i);
    }

    layout.outline_root = 0;
    layout.use_outlines = false;
    user_walk users(objects, walk, layout.users);
    catalog_users(users, layout);
    thumbnail_users(users, page_list);
    if (layout.info_ref > 0) users.run({layout.info_ref}, USER_OTHER);
}
