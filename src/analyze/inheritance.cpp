/*
 * Inherited page attributes, looked up through a cache of the ancestors.
 */
#include "analyze/inheritance.h"

#include "pdf/dict.h"
#include "pdf/lexer.h"

namespace {

// Ancestors examined through /Parent.
constexpr int ANCESTOR_LIMIT = 32;

bool has_key(const pdf_obj& rec, const char* name) {
    return find_name(rec.body.data(), rec.body_len(), 0, rec.body_len(), name) >= 0;
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

const pdf_obj* inheritance_cache::parent(const pdf_obj& rec) {
    node& n = nodes_[&rec];
    if (!n.parent_known) {
        n.parent = parent_of(objects_, rec);
        n.parent_known = true;
    }
    return n.parent;
}

std::string inheritance_cache::resources(const pdf_obj* page) {
    std::string text = own_resources_text(objects_, page);
    if (!text.empty() || !page) return text;
    return nearest_ancestor(
        *page, [&](const pdf_obj& r) { return parent(r); },
        [&](const pdf_obj& r) {
            node& n = nodes_[&r];
            if (!n.resources_known) {
                n.resources = own_resources_text(objects_, &r);
                n.resources_known = true;
            }
            return n.resources;
        });
}

std::string inheritance_cache::value(const pdf_obj* page, const char* key) {
    if (!page || !page->has_body() || has_key(*page, key)) return std::string();
    return nearest_ancestor(
        *page, [&](const pdf_obj& r) { return parent(r); },
        [&](const pdf_obj& r) {
            node& n = nodes_[&r];
            for (const auto& [k, v] : n.values)
                if (k == key) return v;
            n.values.emplace_back(key, plain_value(r, key));
            return n.values.back().second;
        });
}
