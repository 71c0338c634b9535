/*
 * Keyword, name and number scanning, dictionary copies and /Type tests.
 *
 * These run over every byte of an input file (the object scan asks kw_at at
 * each offset), so the searches jump between candidate bytes with memchr and
 * memmem instead of comparing at every position.
 */
#include "pdf/scan.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

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

// ---------------------------------------------------------------------------
// Indirect references. Both operations below walk the text with the same
// tokenizer so that comments and strings never yield references, and judge a
// reference by the same rule.

int32_t reference_at(const char* text, int32_t len, int32_t pos, int32_t* num, int32_t* gen) {
    if (pos < 0 || pos >= len || !is_digit(at(text, pos))) return -1;
    int32_t cursor = pos;
    int32_t a = parse_int_at(text, len, &cursor);
    int32_t i = cursor;
    while (i < len && is_pdf_space(at(text, i))) i++;
    // The generation must be separated by white space: right after the
    // object number's digits stands a non-digit.
    if (i >= len || !is_digit(at(text, i))) return -1;
    int32_t g = parse_int_at(text, len, &i);
    while (i < len && is_pdf_space(at(text, i))) i++;
    if (i >= len || text[i] != 'R') return -1;
    // "1 0 RG" is two integers and an operator, not a reference.
    if (i + 1 < len && is_alnum(at(text, i + 1))) return -1;
    *num = a;
    *gen = g;
    return i + 1;
}

int32_t literal_string_end(const char* text, int32_t len, int32_t pos) {
    int32_t depth = 1;
    int32_t i = pos + 1;
    while (i < len) {
        char c = text[i];
        if (c == '\\') {
            i += 2;  // the escaped byte never opens or closes
            continue;
        }
        if (c == '(') depth++;
        if (c == ')' && --depth == 0) return i + 1;
        i++;
    }
    return len;
}

int32_t hex_string_end(const char* text, int32_t len, int32_t pos) {
    const void* gt = memchr(text + pos, '>', static_cast<size_t>(len - pos));
    return gt ? static_cast<int32_t>(static_cast<const char*>(gt) - text) + 1 : len;
}

namespace {

enum class tok { plain, ref, digits };

struct token {
    tok kind;
    int32_t end;  // offset just past the token
    int32_t num;  // ref only
};

int32_t line_end(const char* text, int32_t len, int32_t pos) {
    int32_t i = pos;
    while (i < len && text[i] != '\r' && text[i] != '\n') i++;
    return i;
}

// The token starting at pos (pos < len).
token next_token(const char* text, int32_t len, int32_t pos) {
    char c = text[pos];
    switch (c) {
        case '%':
            return {tok::plain, line_end(text, len, pos), 0};
        case '(':
            return {tok::plain, literal_string_end(text, len, pos), 0};
        case '<':
            if (pos + 1 < len && text[pos + 1] == '<') return {tok::plain, pos + 2, 0};
            return {tok::plain, hex_string_end(text, len, pos), 0};
        case '>':
            return {tok::plain, pos + 1 < len && text[pos + 1] == '>' ? pos + 2 : pos + 1, 0};
        default:
            break;
    }
    if (!is_digit(static_cast<unsigned char>(c))) return {tok::plain, pos + 1, 0};
    int32_t num = 0, gen = 0;
    int32_t end = reference_at(text, len, pos, &num, &gen);
    if (end >= 0) return {tok::ref, end, num};
    int32_t i = pos;
    while (i < len && is_digit(at(text, i))) i++;
    return {tok::digits, i, 0};
}

// Dictionaries hold few references, so a linear test is cheapest there; the
// long lists (a page tree's /Kids, a big /Annots) switch to a hash set.
constexpr size_t LINEAR_DEDUP_MAX = 32;

}  // namespace

void collect_references(const char* text, int32_t text_len, std::vector<int32_t>& nums,
                        size_t limit, std::span<const int32_t> skip_refs_at) {
    std::unordered_set<int32_t> seen;
    int32_t pos = 0;
    while (pos < text_len) {
        token t = next_token(text, text_len, pos);
        if (t.kind == tok::ref && t.num > 0 && nums.size() < limit &&
            std::find(skip_refs_at.begin(), skip_refs_at.end(), pos) == skip_refs_at.end()) {
            bool known;
            if (nums.size() <= LINEAR_DEDUP_MAX) {
                known = std::find(nums.begin(), nums.end(), t.num) != nums.end();
            } else {
                if (seen.empty()) seen.insert(nums.begin(), nums.end());
                known = seen.count(t.num) != 0;
            }
            if (!known) {
                nums.push_back(t.num);
                if (!seen.empty()) seen.insert(t.num);
            }
        }
        pos = t.end;
    }
}

void rewrite_references(const char* text, int32_t text_len, const int32_t* new_num,
                        int32_t max_num, out_buf& out) {
    int32_t copied = 0;  // bytes before this are already in out
    int32_t pos = 0;
    while (pos < text_len) {
        token t = next_token(text, text_len, pos);
        if (t.kind == tok::ref) {
            buf_bytes(out, text + copied, static_cast<size_t>(pos - copied));
            int32_t a = t.num;
            if (a >= 1 && a <= max_num && new_num[a] > 0)
                buf_printf(out, "%d 0 R", new_num[a]);
            else
                buf_bytes(out, "null", 4);  // the object is not written: a dangling reference
            copied = t.end;
        }
        pos = t.end;
    }
    buf_bytes(out, text + copied, static_cast<size_t>(text_len - copied));
}
