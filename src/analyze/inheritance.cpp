/*
 * Inherited page attributes, looked up through a cache of the ancestors.
 */
#include "analyze/inheritance.h"

#include <unordered_set>

#include "pdf/dict.h"
#include "pdf/lexer.h"

namespace {

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
    return end < 0 ? std::string() : std::string(rec.body.substr(static_cast<size_t>(i), static_cast<size_t>(end - i)));
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

inheritance_cache::for_key& inheritance_cache::entry(const pdf_obj& rec, const char* key) {
    std::vector<for_key>& keys = nodes_[&rec].keys;
    for (for_key& k : keys)
        if (k.key == key) return k;
    keys.push_back(for_key{key, false, nullptr, false, std::string()});
    return keys.back();
}

template <class Own>
const std::string& inheritance_cache::own(const pdf_obj& rec, const char* key, Own read) {
    for_key& k = entry(rec, key);
    if (!k.own_known) {
        k.own = read(rec);
        k.own_known = true;
    }
    return k.own;
}

// What the node `from` passes down for key. The chain is climbed until a
// node has its own value, already knows its source, has no parent, or
// repeats (a loop); every node climbed then learns the source, so no node
// is climbed twice for the same key.
template <class Own>
std::string inheritance_cache::passed_down(const pdf_obj* from, const char* key, Own read) {
    std::vector<const pdf_obj*> climbed;
    std::unordered_set<const pdf_obj*> on_chain;
    const pdf_obj* source = nullptr;
    for (const pdf_obj* cur = from; cur && on_chain.insert(cur).second; cur = parent(*cur)) {
        const for_key& k = entry(*cur, key);
        if (k.source_known) {
            source = k.source;
            break;
        }
        climbed.push_back(cur);
        if (!own(*cur, key, read).empty()) {
            source = cur;
            break;
        }
    }
    for (const pdf_obj* n : climbed) {
        for_key& k = entry(*n, key);
        k.source_known = true;
        k.source = source;
    }
    return source ? own(*source, key, read) : std::string();
}

std::string inheritance_cache::resources(const pdf_obj* page) {
    std::string text = own_resources_text(objects_, page);
    if (!text.empty() || !page) return text;
    return passed_down(parent(*page), "Resources", [&](const pdf_obj& r) { return own_resources_text(objects_, &r); });
}

std::string inheritance_cache::value(const pdf_obj* page, const char* key) {
    if (!page || !page->has_body() || has_key(*page, key)) return std::string();
    return passed_down(parent(*page), key, [&](const pdf_obj& r) { return plain_value(r, key); });
}
