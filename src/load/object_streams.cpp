/*
 * Object-stream expansion: the objects kept inside /Type /ObjStm streams
 * join the table where their stream stood, and cross-reference streams
 * leave it (the writer makes its own cross-reference sections).
 *
 * Nothing here fails the call: a stream that cannot be read (another
 * filter, data that does not inflate, a bad /N or /First) stays in the table
 * as an ordinary stream object.
 */
#include "load/object_streams.h"

#include <algorithm>
#include <cstring>

#include "load/stream_decode.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"

namespace {

enum class fate { keep, drop_xref, unpack };

// One entry of an object stream's header: object number and offset.
struct objstm_entry {
    int32_t num;
    int32_t offset;
};

}  // namespace

static fate fate_of(const pdf_obj& o) {
    if (!o.has_stream || !o.has_body()) return fate::keep;
    if (has_type(o.body.data(), o.body_len(), "XRef")) return fate::drop_xref;
    if (has_type(o.body.data(), o.body_len(), "ObjStm")) return fate::unpack;
    return fate::keep;
}

// Up to n pairs "number offset" before offset first; stops at the first
// pair that does not read.
static std::vector<objstm_entry> read_header(const decoded_stream& d, int32_t n, int32_t first) {
    std::vector<objstm_entry> entries;
    int32_t cursor = 0;
    for (int32_t k = 0; k < n; k++) {
        int32_t num = parse_int_at(d.bytes, first, &cursor);
        if (num < 0) break;
        int32_t offset = parse_int_at(d.bytes, first, &cursor);
        if (offset < 0) break;
        entries.push_back({num, offset});
    }
    return entries;
}

// The record of entry k: its slice runs to where the next entry begins (to
// the end of the data for the last), trimmed of white space.
static bool make_entry(const decoded_stream& d, int32_t first, const std::vector<objstm_entry>& entries,
                       size_t k, pdf_obj& o) {
    int64_t start = static_cast<int64_t>(first) + entries[k].offset;
    int64_t end = k + 1 < entries.size() ? static_cast<int64_t>(first) + entries[k + 1].offset : d.len;
    if (entries[k].num <= 0 || start < first || start >= d.len || end > d.len || start >= end) return false;
    start = skip_space(d.bytes, static_cast<int32_t>(end), static_cast<int32_t>(start));
    // A form feed stays at the end of a slice.
    while (end > start && d.bytes[end - 1] != '\f' && is_pdf_space(byte_at(d.bytes, static_cast<int32_t>(end - 1))))
        end--;
    if (start >= end) return false;
    o.num = entries[k].num;
    o.hdr_pos = -1;
    o.body_pos = -1;
    o.stream_kw_pos = -1;
    o.body.assign(d.bytes + start, static_cast<size_t>(end - start));
    classify_object(o);
    return true;
}

// Appends the objects of an object stream. False when the stream cannot be
// read and stays in the table as it is; true when it leaves the table (its
// objects, if any, took its place).
static bool unpack(const pdf_obj& stm, std::vector<pdf_obj>& out) {
    const char* b = stm.body.data();
    int32_t n = dict_int(b, stm.body_len(), "N");
    int32_t first = dict_int(b, stm.body_len(), "First");
    if (n <= 0 || first <= 0 || !stm.stream || stm.stream_len == 0) return false;
    decoded_stream d;
    if (!decode_stream(stm, d)) return false;
    if (first >= d.len || n > d.len) return false;

    std::vector<objstm_entry> entries = read_header(d, n, first);
    for (size_t k = 0; k < entries.size(); k++) {
        pdf_obj o;
        if (!make_entry(d, first, entries, k, o)) continue;
        o.objstm_num = stm.num;
        out.push_back(std::move(o));
    }
    return true;
}

void expand_object_streams(std::vector<pdf_obj>& table, std::vector<pdf_obj>& xref_streams) {
    if (std::all_of(table.begin(), table.end(), [](const pdf_obj& o) { return fate_of(o) == fate::keep; }))
        return;
    std::vector<pdf_obj> out;
    out.reserve(table.size());
    for (pdf_obj& o : table) {
        switch (fate_of(o)) {
            case fate::drop_xref:
                xref_streams.push_back(std::move(o));
                break;
            case fate::unpack:
                if (!unpack(o, out)) out.push_back(std::move(o));
                break;
            case fate::keep:
                out.push_back(std::move(o));
                break;
        }
    }
    table = std::move(out);
}
