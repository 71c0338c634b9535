/*
 * Which pages reach each object, and the page attributes a page inherits.
 *
 * A page reaches everything its dictionary leads to (contents, annotations,
 * its own resources and all they reference), but the walk never crosses into
 * another page, a Pages node or the catalog. What a page inherits from its
 * ancestors (/Resources, /MediaBox, /CropBox, /Rotate) the writer copies into
 * the page, so a second pass walks the references of those inherited values
 * for the page. The same lookups serve the writer.
 */
#include <algorithm>
#include <cstring>

#include "pages.h"
#include "scan.h"

namespace {

// Deeper reference chains are recorded but not followed.
constexpr int32_t MAX_WALK_DEPTH = 201;
// Ancestors examined through /Parent.
constexpr int ANCESTOR_LIMIT = 32;
// References followed from one inherited value.
constexpr size_t INHERITED_REF_LIMIT = 64;

bool at_space(const std::string& s, int32_t i) {
    return is_pdf_space(static_cast<unsigned char>(s[static_cast<size_t>(i)]));
}

int32_t skip_space(const std::string& s, int32_t i) {
    while (i < static_cast<int32_t>(s.size()) && at_space(s, i)) i++;
    return i;
}

int32_t name_pos(const pdf_obj& rec, const char* name) {
    return find_name(rec.body.data(), rec.body_len(), 0, rec.body_len(), name);
}

// The record named by rec's /Parent, or null.
const pdf_obj* parent_of(const obj_list& objects, const pdf_obj& rec) {
    if (!rec.has_body()) return nullptr;
    int32_t p = name_pos(rec, "Parent");
    if (p < 0) return nullptr;
    int32_t cursor = p + 7;
    int32_t n = parse_int_at(rec.body.data(), rec.body_len(), &cursor);
    return n > 0 ? objects.find(n) : nullptr;
}

// The value of /key in rec as written, when it is a reference, a balanced
// array or a number; empty otherwise.
std::string plain_value(const pdf_obj& rec, const char* key) {
    int32_t p = name_pos(rec, key);
    if (p < 0) return std::string();
    const std::string& b = rec.body;
    int32_t len = rec.body_len();
    int32_t i = skip_space(b, p + 1 + static_cast<int32_t>(strlen(key)));
    if (i >= len) return std::string();
    int32_t num = 0, gen = 0;
    int32_t end = reference_at(b.data(), len, i, &num, &gen);
    if (end >= 0) return b.substr(static_cast<size_t>(i), static_cast<size_t>(end - i));
    if (b[static_cast<size_t>(i)] == '[') {
        int32_t depth = 0;
        for (int32_t j = i; j < len; j++) {
            char c = b[static_cast<size_t>(j)];
            if (c == '[') depth++;
            if (c == ']' && --depth == 0) return b.substr(static_cast<size_t>(i), static_cast<size_t>(j + 1 - i));
        }
        return std::string();
    }
    int32_t j = i;
    bool digit = false;
    for (; j < len; j++) {
        char c = b[static_cast<size_t>(j)];
        if (is_digit(static_cast<unsigned char>(c))) digit = true;
        else if (c != '+' && c != '-' && c != '.') break;
    }
    return digit ? b.substr(static_cast<size_t>(i), static_cast<size_t>(j - i)) : std::string();
}

// A length object is usable as written when its text is one non-negative
// integer, surrounded by white space only, equal to the data length.
bool length_object_matches(const pdf_obj* target, uint64_t stream_len) {
    if (!target || !target->has_body()) return false;
    int32_t cursor = 0;
    int32_t v = parse_int_at(target->body.data(), target->body_len(), &cursor);
    if (cursor == 0) return false;
    if (skip_space(target->body, cursor) != target->body_len()) return false;
    return v >= 0 && static_cast<uint64_t>(v) == stream_len;
}

bool is_delimiter(char c) { return c != '\0' && strchr("()<>[]{}/%", c) != nullptr; }

}  // namespace

std::string own_resources_text(const obj_list& objects, const pdf_obj* obj) {
    if (!obj || !obj->has_body()) return std::string();
    int32_t p = name_pos(*obj, "Resources");
    if (p < 0) return std::string();
    const std::string& b = obj->body;
    int32_t len = obj->body_len();
    int32_t i = skip_space(b, p + 10);
    if (i >= len) return std::string();
    char c = b[static_cast<size_t>(i)];
    if (c == '<') return extract_dict_at(b.data(), len, i);
    if (!is_digit(static_cast<unsigned char>(c))) return std::string();
    int32_t n = parse_int_at(b.data(), len, &i);
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

// The first /Length key decides. A value that does not start with an
// integer (a name, null, something malformed) is replaced as one token: from
// its first byte (a name's slash included) up to the next white space or
// delimiter; the range is empty when a delimiter follows the key directly, so
// a value such as an array is left for the writer to put the integer before.
length_fix stream_length_fix(const obj_list& objects, const pdf_obj& obj) {
    length_fix fix;
    if (!obj.has_stream || !obj.stream) return fix;
    const std::string& b = obj.body;
    int32_t len = obj.body_len();
    int32_t p = name_pos(obj, "Length");
    if (p < 0) {
        fix.kind = length_fix::INSERT;
        return fix;
    }
    int32_t start = skip_space(b, p + 7);
    int32_t cursor = p + 7;
    int32_t v = parse_int_at(b.data(), len, &cursor);
    fix.kind = length_fix::REPLACE;
    fix.value_start = start;
    if (cursor == p + 7) {
        int32_t j = start;
        if (j < len && b[static_cast<size_t>(j)] == '/') j++;
        while (j < len && !at_space(b, j) && !is_delimiter(b[static_cast<size_t>(j)])) j++;
        fix.value_end = j;
        return fix;
    }
    // A "-" before a reference goes with it, so the replacement leaves no sign behind.
    int32_t first_digit = b[static_cast<size_t>(start)] == '-' ? start + 1 : start;
    int32_t num = 0, gen = 0;
    int32_t ref_end = reference_at(b.data(), len, first_digit, &num, &gen);
    if (ref_end >= 0) {
        if (length_object_matches(objects.find(num), obj.stream_len)) return length_fix();
        fix.value_end = ref_end;
        fix.value_is_ref = true;
        return fix;
    }
    if (v >= 0 && static_cast<uint64_t>(v) == obj.stream_len) return length_fix();
    fix.value_end = cursor;
    return fix;
}

namespace {

// Page indices reach ref_pages in ascending order within each pass (pages
// are walked in list order), so membership needs no scan: in the first pass
// only the last entry can equal the current page; in the second, the sorted
// first-pass prefix is searched and the last entry compared.
struct attribution {
    obj_list& objects;
    bool second_pass = false;
    std::vector<size_t> first_pass_count;  // by table position

    bool reached(const pdf_obj& rec, int32_t pos, int32_t page) const {
        const std::vector<int32_t>& r = rec.ref_pages;
        if (!r.empty() && r.back() == page) return true;
        if (!second_pass) return false;
        auto prefix_end = r.begin() + static_cast<std::ptrdiff_t>(first_pass_count[static_cast<size_t>(pos)]);
        return std::binary_search(r.begin(), prefix_end, page);
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
    std::vector<int32_t> nums;
    collect_references(rec.body.data(), rec.body_len(), nums, static_cast<size_t>(rec.body_len() / 4) + 1,
                       replaced_length_ref(objects, rec));
    for (int32_t n : nums) mark(n, page, depth + 1);
}

void attribution::mark_inherited(const std::string& value, int32_t page) {
    if (value.empty()) return;
    std::vector<int32_t> nums;
    collect_references(value.data(), static_cast<int32_t>(value.size()), nums, INHERITED_REF_LIMIT);
    for (int32_t n : nums) mark(n, page, 1);
}

}  // namespace

void attribute_pages(obj_list& objects, const std::vector<int32_t>& page_list) {
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
}
