/*
 * The stream-extent rules.
 */
#include "pdf/stream_extent.h"

#include <cstring>

#include "pdf/lexer.h"

bool stream_follows_dict(const char* buf, int32_t q, int32_t s) {
    if (s <= q + 1) return false;
    int32_t i = s - 1;
    while (i > q && is_loc_space(byte_at(buf, i))) i--;
    return i > q && buf[i] == '>';
}

int32_t data_start(const char* buf, int32_t len, int32_t s) {
    int32_t k = s + 6;
    while (k < len && (buf[k] == ' ' || buf[k] == '\t')) k++;
    if (!(k < len && (buf[k] == '\r' || buf[k] == '\n'))) k = s + 6;
    return buf[k] == '\r' && k + 1 < len && buf[k + 1] == '\n' ? k + 2 : k + 1;
}

int32_t keyword_data_end(const char* buf, int32_t data_pos, int32_t e) {
    int32_t d = find_kw(buf, e, data_pos, "endstream");
    if (d < 0) d = e;
    if (data_pos < d && buf[d - 1] == '\n') d--;
    if (data_pos < d && buf[d - 1] == '\r') d--;
    return d < data_pos ? data_pos : d;
}

int32_t endstream_after(const char* buf, int32_t len, int64_t data_end) {
    if (data_end < 0 || data_end > len) return -1;
    int32_t i = static_cast<int32_t>(data_end);
    if (i + 1 < len && buf[i] == '\r' && buf[i + 1] == '\n')
        i += 2;
    else if (i < len && (buf[i] == '\r' || buf[i] == '\n'))
        i++;
    if (static_cast<int64_t>(i) + 9 <= len && memcmp(buf + i, "endstream", 9) == 0) return i;
    return -1;
}

length_entry read_length_entry(const char* t, int32_t n) {
    length_entry e;
    e.key = find_name(t, n, 0, n, "Length");
    if (e.key < 0) return e;
    int32_t after = e.key + 7;
    e.value_start = skip_space(t, n, after);
    int32_t cursor = after;
    e.value = parse_int_at(t, n, &cursor);
    if (cursor == after) return e;
    e.int_end = cursor;
    int32_t first_digit = t[e.value_start] == '-' ? e.value_start + 1 : e.value_start;
    int32_t gen = 0;
    e.ref_end = reference_at(t, n, first_digit, &e.ref_num, &gen);
    return e;
}

int32_t plain_integer(const char* text, int32_t n) {
    int32_t cursor = 0;
    int32_t v = parse_int_at(text, n, &cursor);
    if (cursor == 0 || v < 0) return -1;
    return skip_space(text, n, cursor) == n ? v : -1;
}
