/*
 * Object-stream expansion: the objects kept inside /Type /ObjStm streams
 * join the table where their stream stood, and cross-reference streams
 * leave it (the writer makes its own cross-reference sections).
 *
 * Nothing here fails the call: a stream that cannot be read (another
 * filter, data that does not inflate, a bad /N or /First) stays in the table
 * as an ordinary stream object.
 */
#include <algorithm>
#include <cstring>

#include "deflate/inflate.h"
#include "load/load.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"

namespace {

enum class fate { keep, drop_xref, unpack };

// One entry of an object stream's header: object number and offset.
struct objstm_entry {
    int32_t num;
    int32_t offset;
};

// Inflate's first guess at the decoded size, and the largest destination
// tried before giving up.
constexpr size_t CAPACITY_LIMIT = 0x10000000;
constexpr size_t CAPACITY_LAST_TRY = 0x0FFFFFFF;
// Inflate refuses destinations above this; trying one is a lost attempt.
constexpr size_t INFLATE_MAX_CAPACITY = 0x40000000;

}  // namespace

static fate fate_of(const pdf_obj& o) {
    if (!o.has_stream || !o.has_body()) return fate::keep;
    if (has_type(o.body.data(), o.body_len(), "XRef")) return fate::drop_xref;
    if (has_type(o.body.data(), o.body_len(), "ObjStm")) return fate::unpack;
    return fate::keep;
}

// Undoes a PNG predictor given in /DecodeParms; false when the rows are bad.
static bool unpredict(const pdf_obj& stm, uint8_t* data, size_t& len) {
    const char* b = stm.body.data();
    int32_t n = stm.body_len();
    if (find_name(b, n, 0, n, "DecodeParms") < 0 || dict_int(b, n, "Predictor") < 10) return true;
    int32_t columns = dict_int(b, n, "Columns");
    int width = columns >= 1 ? columns : 1;
    if (inflate_png_unfilter(data, len, width) != 0) return false;
    len = len / (static_cast<size_t>(width) + 1) * static_cast<size_t>(width);
    return true;
}

// Inflates the stream, retrying with four times the room until 256 MiB.
static bool inflate_stream(const pdf_obj& stm, decoded_stream& out) {
    const auto* src = reinterpret_cast<const uint8_t*>(stm.stream);
    size_t capacity = 8 * stm.stream_len + 65536;
    for (;;) {
        if (capacity <= INFLATE_MAX_CAPACITY) {
            // A failed allocation leaves the stream as it is, like bad data.
            std::unique_ptr<uint8_t[], free_deleter> buf(static_cast<uint8_t*>(malloc(capacity + 1)));
            if (!buf) return false;
            size_t produced = 0;
            if (inflate_decompress(src, stm.stream_len, buf.get(), capacity, &produced) == 0) {
                if (!unpredict(stm, buf.get(), produced)) return false;
                out.bytes = reinterpret_cast<const char*>(buf.get());
                out.len = static_cast<int32_t>(produced);
                out.owned = std::move(buf);
                return true;
            }
        }
        if (capacity > CAPACITY_LAST_TRY) return false;
        capacity = std::min(capacity * 4, CAPACITY_LIMIT);
    }
}

bool decode_stream(const pdf_obj& stm, decoded_stream& out) {
    const char* b = stm.body.data();
    int32_t n = stm.body_len();
    if (find_name(b, n, 0, n, "FlateDecode") >= 0) return inflate_stream(stm, out);
    if (find_name(b, n, 0, n, "Filter") >= 0) return false;
    out.bytes = stm.stream;
    out.len = static_cast<int32_t>(stm.stream_len);
    return true;
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
