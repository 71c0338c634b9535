/*
 * The token rules. These run over every byte of an input file (the object
 * scan asks kw_at at each offset), so the searches jump between candidate
 * bytes with memchr instead of comparing at every position.
 */
#include "pdf/lexer.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int kw_at(const char* text, int32_t pos, int32_t len, const char* kw) {
    int32_t n = static_cast<int32_t>(strlen(kw));
    if (pos < 0 || pos > len - n) return 0;
    if (memcmp(text + pos, kw, static_cast<size_t>(n)) != 0) return 0;
    if (pos > 0 && is_alnum(byte_at(text, pos - 1))) return 0;
    if (pos + n < len && is_alnum(byte_at(text, pos + n))) return 0;
    return 1;
}

int32_t find_kw(const char* text, int32_t len, int32_t start, const char* kw) {
    int32_t n = static_cast<int32_t>(strlen(kw));
    if (start < 0) start = 0;
    // Candidates by the keyword's last byte, rarer in PDF text than the
    // first ("e" of "endobj"); most searches end within a few hundred
    // bytes, where a memchr beats setting up a memmem.
    const char last = kw[n - 1];
    for (int32_t j = start + n - 1; j < len; j++) {
        const void* hit = memchr(text + j, last, static_cast<size_t>(len - j));
        if (!hit) return -1;
        j = static_cast<int32_t>(static_cast<const char*>(hit) - text);
        int32_t i = j - n + 1;
        if (memcmp(text + i, kw, static_cast<size_t>(n - 1)) == 0 && kw_at(text, i, len, kw)) return i;
    }
    return -1;
}

static inline bool ends_name(unsigned char c) { return !(is_alnum(c) || c == '+' || c == '-' || c == '_'); }

// Whether the name at the slash at i is the one sought (its first letter
// already matches).
static inline bool name_at(const char* text, int32_t i, int32_t limit, const char* name, int32_t n) {
    return memcmp(text + i + 1, name, static_cast<size_t>(n)) == 0 &&
           (i + 1 + n == limit || ends_name(byte_at(text, i + 1 + n)));
}

int32_t find_name(const char* text, int32_t len, int32_t start, int32_t end, const char* name) {
    int32_t limit = len < end ? len : end;
    int32_t n = static_cast<int32_t>(strlen(name));
    if (start < 0) return -1;
    int32_t i = start;
    // The last slash that can still hold the whole name before the limit.
    int32_t last = limit - 1 - n;
#if defined(__SSE2__)
    // Dictionaries are short and full of slashes: sixteen positions are
    // tested at once for a slash followed by the name's first letter. A
    // block's pairs all lie before the limit, so its loads stay in the text.
    if (n > 0) {
        const __m128i slash = _mm_set1_epi8('/'), first = _mm_set1_epi8(name[0]);
        for (; i + 15 <= last; i += 16) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 1));
            unsigned mask = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, slash), _mm_cmpeq_epi8(b, first))));
            for (; mask; mask &= mask - 1)
                if (int32_t at = i + __builtin_ctz(mask); name_at(text, at, limit, name, n)) return at;
        }
    }
#endif
    while (i <= last) {
        const void* hit = memchr(text + i, '/', static_cast<size_t>(last - i + 1));
        if (!hit) return -1;
        i = static_cast<int32_t>(static_cast<const char*>(hit) - text);
        // Most slashes start another name: its first letter tells, without a call.
        if ((n == 0 || text[i + 1] == name[0]) && name_at(text, i, limit, name, n)) return i;
        i++;
    }
    return -1;
}

int32_t parse_int_at(const char* text, int32_t end, int32_t* cursor) {
    int32_t i = *cursor;
    if (i < 0 || i >= end) return -1;
    while (is_pdf_space(byte_at(text, i))) {
        if (++i >= end) return -1;
    }
    bool neg = false;
    if (text[i] == '-') {
        neg = true;
        if (++i >= end) return -1;
    }
    // Saturates past 32 bits, so the test below sees any overflow.
    int64_t value = 0;
    int32_t first = i;
    while (i < end && is_digit(byte_at(text, i))) {
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), INT64_C(1) << 32);
        i++;
    }
    if (i == first || value > (neg ? INT64_C(1) << 31 : INT32_MAX)) return -1;
    *cursor = i;
    return static_cast<int32_t>(neg ? -value : value);
}

// Decimal value of the digits text[from..to], or -1 when it does not fit.
static int32_t digits_value(const char* text, int32_t from, int32_t to) {
    int64_t v = 0;
    for (int32_t k = from; k <= to; k++) {
        v = v * 10 + (text[k] - '0');
        if (v > INT32_MAX) return -1;
    }
    return static_cast<int32_t>(v);
}

int32_t parse_obj_head(const char* text, int32_t obj_pos, int32_t* num, int32_t* gen) {
    if (obj_pos <= 1) return -1;
    int32_t i = obj_pos - 1;
    while (i >= 0 && is_loc_space(byte_at(text, i))) i--;
    if (i < 1 || !is_digit(byte_at(text, i))) return -1;

    int32_t gen_end = i;
    while (i >= 0 && is_digit(byte_at(text, i))) i--;
    if (i < 0) return -1;  // no room left for the object number
    int32_t gen_start = i + 1;

    // The generation must be separated from the number by white space.
    if (i < 1 || !is_loc_space(byte_at(text, i))) return -1;
    while (i > 0 && is_loc_space(byte_at(text, i))) i--;
    if (!is_digit(byte_at(text, i))) return -1;

    int32_t num_end = i;
    while (i >= 0 && is_digit(byte_at(text, i))) i--;
    int32_t num_start = i + 1;

    int32_t n = digits_value(text, num_start, num_end);
    int32_t g = digits_value(text, gen_start, gen_end);
    if (n < 0 || g < 0) return -1;
    *num = n;
    *gen = g;
    return num_start;
}

int32_t number_token_end(const char* text, int32_t len, int32_t pos) {
    bool digit = false;
    int32_t j = pos;
    for (; j < len; j++) {
        char c = text[j];
        if (is_digit(static_cast<unsigned char>(c)))
            digit = true;
        else if (c != '+' && c != '-' && c != '.')
            break;
    }
    return digit ? j : -1;
}

// Value of the digit run at *i, advancing past it; -1 when it does not fit.
static int32_t digit_run(const char* text, int32_t len, int32_t* i) {
    int64_t v = 0;
    int32_t k = *i;
    for (; k < len && is_digit(byte_at(text, k)); k++)
        if (v <= INT32_MAX) v = v * 10 + (text[k] - '0');
    *i = k;
    return v > INT32_MAX ? -1 : static_cast<int32_t>(v);
}

int32_t reference_at(const char* text, int32_t len, int32_t pos, int32_t* num, int32_t* gen) {
    if (pos < 0 || pos >= len || !is_digit(byte_at(text, pos))) return -1;
    int32_t i = pos;
    int32_t a = digit_run(text, len, &i);
    // A generation must follow after white space, so a non-digit must come
    // after the skip.
    i = skip_space(text, len, i);
    if (i >= len || !is_digit(byte_at(text, i))) return -1;
    int32_t g = digit_run(text, len, &i);
    i = skip_space(text, len, i);
    if (i >= len || text[i] != 'R') return -1;
    if (i + 1 < len && is_alnum(byte_at(text, i + 1))) return -1;
    *num = a;
    *gen = g;
    return i + 1;
}

int32_t literal_string_close(const char* text, int32_t len, int32_t pos) {
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
    return -1;
}

int32_t hex_string_close(const char* text, int32_t len, int32_t pos) {
    if (pos + 1 >= len) return -1;
    const void* gt = memchr(text + pos + 1, '>', static_cast<size_t>(len - pos - 1));
    return gt ? static_cast<int32_t>(static_cast<const char*>(gt) - text) + 1 : -1;
}

int32_t string_token_end(const char* text, int32_t len, int32_t pos) {
    if (pos < 0 || pos >= len) return -1;
    if (text[pos] == '(') return literal_string_close(text, len, pos);
    if (text[pos] != '<' || (pos + 1 < len && text[pos + 1] == '<')) return -1;
    return hex_string_close(text, len, pos);
}

int32_t comment_end(const char* text, int32_t len, int32_t pos) {
    int32_t i = pos;
    while (i < len && text[i] != '\r' && text[i] != '\n') i++;
    return i;
}

bracket_span dict_brackets(const char* text, int32_t len, int32_t pos) {
    int32_t depth = 0;
    int32_t i = pos;
    while (i + 1 < len) {
        if (text[i] == '<' && text[i + 1] == '<') {
            depth++;
            i += 2;
        } else if (text[i] == '>' && text[i + 1] == '>') {
            i += 2;
            if (--depth == 0) return {i, true};
        } else {
            i++;
        }
    }
    return {i, false};
}

int32_t array_close(const char* text, int32_t len, int32_t pos) {
    int32_t depth = 0;
    for (int32_t j = pos; j < len; j++) {
        if (text[j] == '[') depth++;
        if (text[j] == ']' && --depth == 0) return j + 1;
    }
    return -1;
}

int32_t balanced_end(const char* text, int32_t len, int32_t pos) {
    int32_t depth = 0;
    int32_t i = pos;
    while (i < len) {
        char c = text[i];
        bool pair = i + 1 < len && text[i + 1] == c;
        if (c == '<' && pair) {
            depth++;
            i += 2;
        } else if (c == '>' && pair) {
            i += 2;
            if (--depth == 0) return i;
        } else if (c == '[') {
            depth++;
            i++;
        } else if (c == ']') {
            i++;
            if (--depth == 0) return i;
        } else if (c == '(') {
            i = literal_string_end(text, len, i);
        } else if (c == '<') {
            i = hex_string_end(text, len, i);
        } else {
            i++;
        }
    }
    return len;
}
