/*
 * The object scanner: every "N G obj" of the input becomes one record.
 *
 * The cross-reference data is never read; objects are found by their
 * headers. An object's text runs to its "endobj", or to the next object
 * header when that comes first, so bodies never overlap and a damaged file
 * costs linear time. A stream's data ends where a direct /Length says when
 * "endstream" stands there (then nothing inside the data is taken for a
 * header); otherwise at the "endstream" keyword, less one line end.
 */
#include <algorithm>
#include <cstring>

#include "load/load.h"
#include "pdf/scan.h"

void classify_object(pdf_obj& obj) {
    int t = obj.has_body() ? check_dict_type(obj.body.data(), obj.body_len()) : TYPE_NONE;
    obj.is_page = t == TYPE_PAGE;
    obj.is_pages = t == TYPE_PAGES;
    obj.is_catalog = t == TYPE_CATALOG;
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

// The "obj" keyword of the first object header (object number above 0)
// whose "obj" lies in [from, below], or -1. Candidates are found by their
// rarer last letter.
static int32_t find_header_below(const char* buf, int32_t len, int32_t from, int32_t below) {
    const int32_t last = std::min(len - 4, below);  // the scan stops at len - 4
    for (int32_t j = from + 2; j <= last + 2;) {
        const void* hit = memchr(buf + j, 'j', static_cast<size_t>(last + 3 - j));
        if (!hit) return -1;
        j = static_cast<int32_t>(static_cast<const char*>(hit) - buf);
        int32_t p = j - 2;
        int32_t num, gen;
        if (buf[p] == 'o' && buf[p + 1] == 'b' && kw_at(buf, p, len, "obj") &&
            parse_obj_head(buf, p, &num, &gen) >= 0 && num > 0)
            return p;
        j++;
    }
    return -1;
}

static int32_t find_header(const char* buf, int32_t len, int32_t from, const char*) {
    return find_header_below(buf, len, from, len);
}

// Offset of the first digit of the header whose "obj" is at p.
static int32_t header_start(const char* buf, int32_t p) {
    int32_t num, gen;
    return parse_obj_head(buf, p, &num, &gen);
}

// Whether a reference "a g R" starts at the digit at i.
static bool reference_at(const char* t, int32_t len, int32_t i) {
    int32_t p = i;
    while (p < len && is_digit(static_cast<unsigned char>(t[p]))) p++;
    while (p < len && is_pdf_space(static_cast<unsigned char>(t[p]))) p++;
    if (p >= len || !is_digit(static_cast<unsigned char>(t[p]))) return false;
    while (p < len && is_digit(static_cast<unsigned char>(t[p]))) p++;
    while (p < len && is_pdf_space(static_cast<unsigned char>(t[p]))) p++;
    if (p >= len || t[p] != 'R') return false;
    return p + 1 == len || !is_alnum(static_cast<unsigned char>(t[p + 1]));
}

namespace {

// The value of the first /Length key of a stream dictionary.
struct length_value {
    int32_t value = -1;        // as parse_int_at reads it; -1 when unreadable
    int32_t first_digit = -1;  // where a reference would start
    bool is_ref = false;
};

// Walks the input from header to header and fills the scan table.
struct scanner {
    const char* buf;
    int32_t len;
    search_memo headers{buf, len, "obj", find_header};
    search_memo endobjs{buf, len, "endobj", find_kw};
    search_memo streams{buf, len, "stream", find_kw};
};

}  // namespace

static length_value stream_length(const char* t, int32_t n) {
    length_value v;
    int32_t k = find_name(t, n, 0, n, "Length");
    if (k < 0) return v;
    int32_t cursor = k + 7;
    v.value = parse_int_at(t, n, &cursor);
    if (v.value == -1) return v;
    int32_t i = k + 7;
    while (is_pdf_space(static_cast<unsigned char>(t[i]))) i++;
    if (t[i] == '-') i++;
    v.first_digit = i;
    v.is_ref = reference_at(t, n, i);
    return v;
}

// First data byte after the "stream" keyword at s: after the line end that
// follows it (spaces and tabs allowed before), else one byte after it.
static int32_t data_start(const char* buf, int32_t len, int32_t s) {
    int32_t k = s + 6;
    while (k < len && (buf[k] == ' ' || buf[k] == '\t')) k++;
    if (!(k < len && (buf[k] == '\r' || buf[k] == '\n'))) k = s + 6;
    return buf[k] == '\r' && k + 1 < len && buf[k + 1] == '\n' ? k + 2 : k + 1;
}

// Data end by keywords: the "endstream" below e (or e), less one line end.
static int32_t keyword_data_end(const char* buf, int32_t data_pos, int32_t e) {
    int32_t d = find_kw(buf, e, data_pos, "endstream");
    if (d < 0) d = e;
    if (data_pos < d && buf[d - 1] == '\n') d--;
    if (data_pos < d && buf[d - 1] == '\r') d--;
    return d < data_pos ? data_pos : d;
}

// The dictionary's closing ">" stands right before the "stream" at s,
// with only white space between.
static bool stream_follows_dict(const char* buf, int32_t q, int32_t s) {
    if (s <= q + 1) return false;
    int32_t i = s - 1;
    while (i > q && is_loc_space(static_cast<unsigned char>(buf[i]))) i--;
    return i > q && buf[i] == '>';
}

static void set_data(pdf_obj& o, const char* buf, int32_t data_end) {
    o.data_end = data_end;
    o.data_len = data_end - o.data_pos;
    o.stream = buf + o.data_pos;
    o.stream_len = static_cast<uint64_t>(o.data_len);
}

// The end of an object whose "endobj" is e: the next header's first digit
// when that comes first.
static int32_t bounded_end(const char* buf, int32_t e, int32_t next_header) {
    if (next_header < 0) return e;
    int32_t h = header_start(buf, next_header);
    return h < e ? h : e;
}

// Fills a stream object whose data a direct /Length gives exactly, without
// searching the data; false when the object needs the general rules.
static bool scan_exact_stream(scanner& sc, int32_t pos, int32_t q, pdf_obj& o, bool& keep, int32_t& next) {
    const char* buf = sc.buf;
    int32_t s = sc.streams.next(q);
    if (s < 0 || !stream_follows_dict(buf, q, s)) return false;
    // Neither an "endobj" nor another header may come first.
    if (find_kw(buf, s, pos + 3, "endobj") >= 0 || find_header_below(buf, sc.len, pos + 1, s - 1) >= 0)
        return false;
    length_value lv = stream_length(buf + q, s - q);
    if (lv.value < 0 || lv.is_ref) return false;
    int32_t data_pos = data_start(buf, sc.len, s);
    int32_t es = endstream_after(buf, sc.len, static_cast<int64_t>(data_pos) + lv.value);
    if (es < 0) return false;

    int32_t e = sc.endobjs.next(es + 9);
    if (e < 0) {
        keep = false;
        next = sc.headers.next(pos + 1);
        return true;
    }
    int32_t data_end = data_pos + lv.value;
    // Headers inside the data are not headers.
    next = sc.headers.next(data_end);
    e = bounded_end(buf, e, next);
    o.body_pos = q;
    o.stream_kw_pos = s;
    o.has_stream = 1;
    o.data_pos = data_pos;
    set_data(o, buf, data_end);
    o.body = extract_dict_text(buf, q, s);
    o.endobj_pos = e;
    o.end_pos = e + 6;
    classify_object(o);
    keep = true;
    return true;
}

// The general rules: the object ends at its "endobj" or the next header,
// whichever comes first, and the stream keyword and data lie before that.
static int32_t scan_bounded_object(scanner& sc, int32_t pos, int32_t q, pdf_obj& o, bool& keep) {
    const char* buf = sc.buf;
    int32_t next = sc.headers.next(pos + 1);
    int32_t a = pos + 3;
    int32_t e = sc.endobjs.next(a);
    if (e < 0) return next;
    e = bounded_end(buf, e, next);

    o.stream_kw_pos = -1;
    if (!(q + 1 < sc.len && buf[q] == '<' && buf[q + 1] == '<')) {
        o.body_pos = -1;
        o.body = extract_dict_text(buf, a, e);
    } else {
        o.body_pos = q;
        int32_t s = find_kw(buf, e, q, "stream");
        if (s < 0 || !stream_follows_dict(buf, q, s)) {
            o.body = extract_dict_text(buf, q, e);
        } else {
            o.stream_kw_pos = s;
            o.has_stream = 1;
            o.data_pos = data_start(buf, sc.len, s);
            o.body = extract_dict_text(buf, q, s);
            length_value lv = stream_length(o.body.data(), o.body_len());
            int32_t es = lv.value >= 0 && !lv.is_ref
                             ? endstream_after(buf, sc.len, static_cast<int64_t>(o.data_pos) + lv.value)
                             : -1;
            if (es < 0) {
                set_data(o, buf, keyword_data_end(buf, o.data_pos, e));
            } else {
                // The data is known exactly: its "endobj" follows "endstream",
                // and headers inside it are not headers.
                set_data(o, buf, o.data_pos + lv.value);
                e = sc.endobjs.next(es + 9);
                if (e < 0) return next;
                if (next >= 0 && next < o.data_end) next = sc.headers.next(o.data_end);
                e = bounded_end(buf, e, next);
            }
        }
    }
    o.endobj_pos = e;
    o.end_pos = e + 6;
    classify_object(o);
    keep = true;
    return next;
}

// Fills a record for the header whose "obj" is at pos. Returns the "obj" of
// the header to look at next, and whether the record is to be kept.
static int32_t scan_object(scanner& sc, int32_t pos, pdf_obj& o, bool& keep) {
    const char* buf = sc.buf;
    keep = false;
    o.hdr_pos = parse_obj_head(buf, pos, &o.num, &o.gen);
    int32_t q = pos + 3;
    while (q < sc.len && is_pdf_space(static_cast<unsigned char>(buf[q]))) q++;
    int32_t next;
    if (q + 1 < sc.len && buf[q] == '<' && buf[q + 1] == '<' && scan_exact_stream(sc, pos, q, o, keep, next))
        return next;
    return scan_bounded_object(sc, pos, q, o, keep);
}

void scan_objects(const input_file& input, std::vector<pdf_obj>& table) {
    scanner sc{input.data.get(), input.len};
    int32_t pos = sc.headers.next(0);
    while (pos >= 0) {
        pdf_obj o;
        bool keep;
        pos = scan_object(sc, pos, o, keep);
        if (keep) table.push_back(std::move(o));
    }
}

void fix_referenced_lengths(const input_file& input, obj_list& objects) {
    for (pdf_obj& o : objects.items) {
        if (!o.has_stream || !o.has_body()) continue;
        length_value lv = stream_length(o.body.data(), o.body_len());
        if (!lv.is_ref) continue;
        int32_t cursor = lv.first_digit;
        const pdf_obj* len_obj = objects.find(parse_int_at(o.body.data(), o.body_len(), &cursor));
        if (!len_obj || !len_obj->has_body()) continue;
        const char* t = len_obj->body.data();
        int32_t n = len_obj->body_len();
        cursor = 0;
        int32_t value = parse_int_at(t, n, &cursor);
        if (value < 0) continue;
        while (cursor < n && is_pdf_space(static_cast<unsigned char>(t[cursor]))) cursor++;
        if (cursor != n) continue;
        if (endstream_after(input.data.get(), input.len, static_cast<int64_t>(o.data_pos) + value) < 0) continue;
        set_data(o, input.data.get(), o.data_pos + value);
    }
}
