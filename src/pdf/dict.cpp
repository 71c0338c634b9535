/*
 * Keys, values and entries of dictionaries; /Type tests.
 */
#include "pdf/dict.h"

#include <cstring>

#include "pdf/lexer.h"

int32_t after_key(const char* text, int32_t len, const char* name) {
    int32_t k = find_name(text, len, 0, len, name);
    return k < 0 ? -1 : k + 1 + static_cast<int32_t>(strlen(name));
}

int32_t key_value(const char* text, int32_t len, const char* name) {
    int32_t i = after_key(text, len, name);
    return i < 0 ? -1 : skip_space(text, len, i);
}

int32_t dict_int(const char* text, int32_t len, const char* key) {
    int32_t cursor = after_key(text, len, key);
    return cursor < 0 ? -1 : parse_int_at(text, len, &cursor);
}

int32_t key_reference(const char* text, int32_t len, const char* name, int32_t* num) {
    int32_t v = key_value(text, len, name);
    int32_t gen = 0;
    return v >= 0 && reference_at(text, len, v, num, &gen) >= 0 ? v : -1;
}

// End of the value starting at i: a reference, a balanced dictionary or
// array, a string, or a plain token (a name keeps its slash).
static int32_t value_end(const char* d, int32_t len, int32_t i) {
    if (i >= len) return i;
    int32_t num = 0, gen = 0;
    int32_t ref = reference_at(d, len, i, &num, &gen);
    if (ref >= 0) return ref;
    bool pair = i + 1 < len && d[i + 1] == '<';
    if ((d[i] == '<' && pair) || d[i] == '[') return balanced_end(d, len, i);
    if (d[i] == '(') return literal_string_end(d, len, i);
    if (d[i] == '<') return hex_string_end(d, len, i);
    int32_t j = d[i] == '/' ? i + 1 : i;
    while (j < len && !ends_entry_token(d[j])) j++;
    return j;
}

std::vector<dict_entry> dict_entries(std::string_view text) {
    std::vector<dict_entry> entries;
    const char* d = text.data();
    int32_t len = static_cast<int32_t>(text.size());
    const void* open = memmem(d, text.size(), "<<", 2);
    if (!open) return entries;
    int32_t i = static_cast<int32_t>(static_cast<const char*>(open) - d) + 2;
    while ((i = skip_space(d, len, i)) < len) {
        if (i + 1 < len && d[i] == '>' && d[i + 1] == '>') break;
        if (d[i] != '/') {
            i++;
            continue;
        }
        int32_t key_end = i + 1;
        while (key_end < len && !ends_entry_token(d[key_end])) key_end++;
        dict_entry e;
        e.key = std::string(text.substr(static_cast<size_t>(i) + 1, static_cast<size_t>(key_end - i - 1)));
        e.value_start = skip_space(d, len, key_end);
        e.value_end = value_end(d, len, e.value_start);
        i = e.value_end;
        entries.push_back(std::move(e));
    }
    return entries;
}

std::string_view extract_dict_text(const char* src, int32_t start, int32_t end) {
    if (start < 0 || start >= end) return std::string_view();
    return std::string_view(src + start, static_cast<size_t>(end - start));
}

std::string extract_dict_at(const char* text, int32_t len, int32_t pos) {
    if (pos < 0 || pos + 1 >= len || text[pos] != '<' || text[pos + 1] != '<') return std::string();
    bracket_span span = dict_brackets(text, len, pos);
    if (!span.closed) return std::string();
    return std::string(text + pos, static_cast<size_t>(span.end - pos));
}

// Offset of the "/" that starts the value of the /Type key at slash, or -1.
static int32_t type_value_at(const char* text, int32_t len, int32_t slash) {
    int32_t i = slash + 5;
    if (i >= len) return -1;
    i = skip_space(text, len, i);
    if (i + 1 >= len || text[i] != '/') return -1;
    return i;
}

// The value /name at s (slash offset) ends there: end of text or a byte
// that is not a letter or digit.
static bool value_is(const char* text, int32_t len, int32_t s, const char* name) {
    int32_t n = static_cast<int32_t>(strlen(name));
    if (s + n >= len || memcmp(text + s + 1, name, static_cast<size_t>(n)) != 0) return false;
    return s + n + 1 == len || !is_alnum(byte_at(text, s + n + 1));
}

obj_type check_dict_type(const char* text, int32_t len) {
    for (int32_t k = find_name(text, len, 0, len, "Type"); k >= 0; k = find_name(text, len, k + 1, len, "Type")) {
        int32_t s = type_value_at(text, len, k);
        if (s < 0) continue;
        if (value_is(text, len, s, "Catalog")) return TYPE_CATALOG;
        if (value_is(text, len, s, "Pages")) return TYPE_PAGES;
        if (value_is(text, len, s, "Page")) return TYPE_PAGE;
    }
    return TYPE_NONE;
}

int has_type(const char* text, int32_t len, const char* type_name) {
    int32_t n = static_cast<int32_t>(strlen(type_name));
    for (int32_t k = find_name(text, len, 0, len, "Type"); k >= 0; k = find_name(text, len, k + 1, len, "Type")) {
        int32_t i = skip_space(text, len, k + 5);
        if (i >= len || text[i] != '/') continue;
        if (i + 1 + n > len || memcmp(text + i + 1, type_name, static_cast<size_t>(n)) != 0) continue;
        if (i + 1 + n == len || !is_alnum(byte_at(text, i + 1 + n))) return 1;
    }
    return 0;
}
