/*
 * Object-stream expansion: the objects kept inside /Type /ObjStm streams
 * join the table where their stream stood, and cross-reference streams
 * leave it (the writer makes its own cross-reference sections).
 *
 * A stream that cannot be read (another filter, data that does not
 * inflate, a bad /N or /First) stays in the table as an ordinary stream
 * object. Only a stream too large to decode fails the call.
 *
 * A header may name one number many times; duplicate resolution would keep
 * only the last of them, so only the last becomes a record, and the records
 * of a stream never outnumber its distinct numbers.
 */
#include "load/object_streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

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
    o.body = std::string_view(d.bytes + start, static_cast<size_t>(end - start));
    classify_object(o);
    return true;
}

// For each header entry, whether it is the last one naming its number.
static std::vector<char> last_of_number(const std::vector<objstm_entry>& entries) {
    std::vector<char> last(entries.size(), 0);
    std::unordered_set<int32_t> later;
    for (size_t k = entries.size(); k-- > 0;)
        if (later.insert(entries[k].num).second) last[k] = 1;
    return last;
}

enum class unpacked { expanded, unreadable, too_large };

// Keeps decoded data for the bodies that view it, trimmed to its length
// (the decoder's buffer has room to spare).
static void keep_decoded(decoded_stream& d, std::vector<owned_bytes>& kept) {
    if (!d.owned) return;
    if (void* trimmed = realloc(d.owned.get(), static_cast<size_t>(d.len > 0 ? d.len : 1))) {
        (void)d.owned.release();
        d.owned.reset(static_cast<uint8_t*>(trimmed));
        d.bytes = static_cast<const char*>(trimmed);
    }
    kept.push_back(std::move(d.owned));
}

// Appends the objects of an object stream. expanded when the stream leaves
// the table (its objects, if any, took its place); unreadable when it stays
// as it is.
static unpacked unpack(const pdf_obj& stm, std::vector<pdf_obj>& out, std::vector<owned_bytes>& kept) {
    const char* b = stm.body.data();
    int32_t n = dict_int(b, stm.body_len(), "N");
    int32_t first = dict_int(b, stm.body_len(), "First");
    if (n <= 0 || first <= 0 || !stm.stream || stm.stream_len == 0) return unpacked::unreadable;
    decoded_stream d;
    switch (decode_stream(stm, d)) {
        case decode_result::decoded:
            break;
        case decode_result::too_large:
            return unpacked::too_large;
        case decode_result::undecodable:
            return unpacked::unreadable;
    }
    if (first >= d.len || n > d.len) return unpacked::unreadable;
    keep_decoded(d, kept);

    // Slices run to the next entry in header order, so they are cut from
    // the whole header before the duplicates are dropped.
    std::vector<objstm_entry> entries = read_header(d, n, first);
    std::vector<char> last = last_of_number(entries);
    for (size_t k = 0; k < entries.size(); k++) {
        pdf_obj o;
        if (!last[k] || !make_entry(d, first, entries, k, o)) continue;
        o.objstm_num = stm.num;
        out.push_back(std::move(o));
    }
    return unpacked::expanded;
}

status expand_object_streams(std::vector<pdf_obj>& table, std::vector<pdf_obj>& xref_streams,
                             std::vector<owned_bytes>& kept) {
    if (std::all_of(table.begin(), table.end(), [](const pdf_obj& o) { return fate_of(o) == fate::keep; }))
        return {};
    // Room for the objects the headers announce, so that the table is not
    // moved (both copies held) while it grows. A header's /N is only a
    // claim: no stream is counted for more objects than it has bytes.
    size_t announced = 0;
    for (const pdf_obj& o : table)
        if (fate_of(o) == fate::unpack)
            announced += std::min(static_cast<size_t>(std::max(0, dict_int(o.body.data(), o.body_len(), "N"))),
                                  static_cast<size_t>(o.stream_len));
    std::vector<pdf_obj> out;
    out.reserve(table.size() + announced);
    for (pdf_obj& o : table) {
        switch (fate_of(o)) {
            case fate::drop_xref:
                xref_streams.push_back(std::move(o));
                break;
            case fate::unpack:
                switch (unpack(o, out, kept)) {
                    case unpacked::expanded:
                        break;
                    case unpacked::unreadable:
                        out.push_back(std::move(o));
                        break;
                    case unpacked::too_large:
                        return failure(problem::objstm_too_large, o.num);
                }
                break;
            case fate::keep:
                out.push_back(std::move(o));
                break;
        }
    }
    table = std::move(out);
    return {};
}
