/*
 * Keyword, name and number scanning, dictionary copies and /Type tests.
 *
 * These run over every byte of an input file (the object scan asks kw_at at
 * each offset), so the searches jump between candidate bytes with memchr and
 * memmem instead of comparing at every position.
 */
#include "scan.h"

#include <cstring>

static constexpr byte_classes make_classes() {
    byte_classes t{};
    for (int c = 0; c < 256; c++) {
        t.pdf_space[c] = c == 0x00 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
        t.loc_space[c] = (c >= 0x09 && c <= 0x0D) || c == 0x20;
        t.alnum[c] = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    }
    return t;
}
constinit const byte_classes g_bytes = make_classes();

static inline unsigned char at(const char* text, int32_t i) {
    return static_cast<unsigned char>(text[i]);
}

int kw_at(const char* text, int32_t pos, int32_t len, const char* kw) {
    int32_t n = static_cast<int32_t>(strlen(kw));
    if (pos < 0 || pos > len - n) return 0;
    if (memcmp(text + pos, kw, static_cast<size_t>(n)) != 0) return 0;
    if (pos > 0 && is_alnum(at(text, pos - 1))) return 0;
    if (pos + n < len && is_alnum(at(text, pos + n))) return 0;
    return 1;
}

int32_t find_kw(const char* text, int32_t len, int32_t start, const char* kw) {
    size_t n = strlen(kw);
    if (start < 0) start = 0;
    int32_t i = start;
    while (i <= len - static_cast<int32_t>(n)) {
        const void* hit = memmem(text + i, static_cast<size_t>(len - i), kw, n);
        if (!hit) return -1;
        i = static_cast<int32_t>(static_cast<const char*>(hit) - text);
        if (kw_at(text, i, len, kw)) return i;
        i++;
    }
    return -1;
}

static inline bool ends_name(unsigned char c) {
    return !(is_alnum(c) || c == '+' || c == '-' || c == '_');
}

int32_t find_name(const char* text, int32_t len, int32_t start, int32_t end, const char* name) {
    int32_t limit = len < end ? len : end;
    int32_t n = static_cast<int32_t>(strlen(name));
    if (start < 0) return -1;
    int32_t i = start;
    // The last slash that can still hold the whole name before the limit.
    int32_t last = limit - 1 - n;
    while (i <= last) {
        const void* hit = memchr(text + i, '/', static_cast<size_t>(last - i + 1));
        if (!hit) return -1;
        i = static_cast<int32_t>(static_cast<const char*>(hit) - text);
        if (memcmp(text + i + 1, name, static_cast<size_t>(n)) == 0 &&
            (i + 1 + n == limit || ends_name(at(text, i + 1 + n))))
            return i;
        i++;
    }
    return -1;
}

int32_t parse_int_at(const char* text, int32_t end, int32_t* cursor) {
    int32_t i = *cursor;
    if (i < 0 || i >= end) return -1;
    while (is_pdf_space(at(text, i))) {
        if (++i >= end) return -1;
    }
    bool neg = false;
    if (text[i] == '-') {
        neg = true;
        if (++i >= end) return -1;
    }
    uint32_t value = 0;
    int32_t first = i;
    while (i < end && is_digit(at(text, i))) {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
        i++;
    }
    if (i == first) return -1;
    *cursor = i;
    return static_cast<int32_t>(neg ? 0u - value : value);
}

int32_t dict_int(const char* text, int32_t len, const char* key) {
    int32_t p = find_name(text, len, 0, len, key);
    if (p < 0) return -1;
    int32_t cursor = p + 1 + static_cast<int32_t>(strlen(key));
    return parse_int_at(text, len, &cursor);
}

// Decimal value of the digits text[from..to], wrapping at 32 bits.
static int32_t digits_value(const char* text, int32_t from, int32_t to) {
    uint32_t v = 0;
    for (int32_t k = from; k <= to; k++) v = v * 10u + static_cast<uint32_t>(text[k] - '0');
    return static_cast<int32_t>(v);
}

int32_t parse_obj_head(const char* text, int32_t obj_pos, int32_t* num, int32_t* gen) {
    if (obj_pos <= 1) return -1;
    int32_t i = obj_pos - 1;
    while (i >= 0 && is_loc_space(at(text, i))) i--;
    if (i < 1 || !is_digit(at(text, i))) return -1;

    int32_t gen_end = i;
    while (i >= 0 && is_digit(at(text, i))) i--;
    if (i < 0) return -1;  // no room left for the object number
    int32_t gen_start = i + 1;

    // The generation must be separated from the number by white space.
    if (i < 1 || !is_loc_space(at(text, i))) return -1;
    while (i > 0 && is_loc_space(at(text, i))) i--;
    if (!is_digit(at(text, i))) return -1;

    int32_t num_end = i;
    while (i >= 0 && is_digit(at(text, i))) i--;
    int32_t num_start = i + 1;

    *num = digits_value(text, num_start, num_end);
    *gen = digits_value(text, gen_start, gen_end);
    return num_start;
}

std::string extract_dict_text(const char* src, int32_t start, int32_t end) {
    if (start < 0 || start >= end) return std::string();
    return std::string(src + start, static_cast<size_t>(end - start));
}

std::string extract_dict_at(const char* text, int32_t len, int32_t pos) {
    if (pos < 0 || pos + 1 >= len || text[pos] != '<' || text[pos + 1] != '<') return std::string();
    int32_t depth = 0;
    int32_t i = pos;
    while (i < len) {
        char c = text[i];
        if (c == '<') {
            if (i + 1 >= len) return std::string();
            if (text[i + 1] == '<') {
                depth++;
                i += 2;
            } else {
                i++;
            }
        } else if (c == '>') {
            if (i + 1 >= len) return std::string();
            if (text[i + 1] == '>') {
                i += 2;
                if (--depth == 0) return std::string(text + pos, static_cast<size_t>(i - pos));
            } else {
                i++;
            }
        } else {
            i++;
        }
    }
    return std::string();
}

// Offset of the "/" that starts the value of the /Type key at slash, or -1.
static int32_t type_value_at(const char* text, int32_t len, int32_t slash) {
    int32_t i = slash + 5;
    if (i >= len) return -1;
    while (i < len && is_pdf_space(at(text, i))) i++;
    if (i + 1 >= len || text[i] != '/') return -1;
    return i;
}

// The value /name at s (slash offset) ends there: end of text or a byte
// that is not a letter or digit.
static bool value_is(const char* text, int32_t len, int32_t s, const char* name) {
    int32_t n = static_cast<int32_t>(strlen(name));
    if (s + n >= len || memcmp(text + s + 1, name, static_cast<size_t>(n)) != 0) return false;
    return s + n + 1 == len || !is_alnum(at(text, s + n + 1));
}

int check_dict_type(const char* text, int32_t len) {
    for (int32_t k = find_name(text, len, 0, len, "Type"); k >= 0;
         k = find_name(text, len, k + 1, len, "Type")) {
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
    for (int32_t k = find_name(text, len, 0, len, "Type"); k >= 0;
         k = find_name(text, len, k + 1, len, "Type")) {
        int32_t i = k + 5;
        while (i < len && is_pdf_space(at(text, i))) i++;
        if (i >= len || text[i] != '/') continue;
        if (i + 1 + n > len || memcmp(text + i + 1, type_name, static_cast<size_t>(n)) != 0)
            continue;
        if (i + 1 + n == len || !is_alnum(at(text, i + 1 + n))) return 1;
    }
    return 0;
}
