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

#include "base/parallel.h"
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

// Where one record's body lies in the decoded data.
struct record_slice {
    int32_t num;
    int32_t start;
    int32_t end;
};

// The slice of entry k: it runs to where the next entry begins (to the end
// of the data for the last), trimmed of white space.
static bool slice_entry(const decoded_stream& d, int32_t first, const std::vector<objstm_entry>& entries,
                        size_t k, record_slice& r) {
    int64_t start = static_cast<int64_t>(first) + entries[k].offset;
    int64_t end = k + 1 < entries.size() ? static_cast<int64_t>(first) + entries[k + 1].offset : d.len;
    if (entries[k].num <= 0 || start < first || start >= d.len || end > d.len || start >= end) return false;
    start = skip_space(d.bytes, static_cast<int32_t>(end), static_cast<int32_t>(start));
    // A form feed stays at the end of a slice.
    while (end > start && d.bytes[end - 1] != '\f' && is_pdf_space(byte_at(d.bytes, static_cast<int32_t>(end - 1))))
        end--;
    if (start >= end) return false;
    r = {entries[k].num, static_cast<int32_t>(start), static_cast<int32_t>(end)};
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

// Trims decoded data, which is kept for the bodies that view it, to its
// length (the decoder's buffer has room to spare).
static void trim_decoded(decoded_stream& d) {
    if (!d.owned) return;
    if (void* trimmed = realloc(d.owned.get(), static_cast<size_t>(d.len > 0 ? d.len : 1))) {
        (void)d.owned.release();
        d.owned.reset(static_cast<uint8_t*>(trimmed));
        d.bytes = static_cast<const char*>(trimmed);
    }
}

// An object stream decoded, with the records it holds: expanded when the
// stream leaves the table (its records, if any, take its place);
// unreadable when it stays as it is.
struct opened_stream {
    unpacked how = unpacked::unreadable;
    decoded_stream data;
    std::vector<record_slice> records;
};

static void open_stream(const pdf_obj& stm, opened_stream& out) {
    const char* b = stm.body.data();
    int32_t n = dict_int(b, stm.body_len(), "N");
    int32_t first = dict_int(b, stm.body_len(), "First");
    if (n <= 0 || first <= 0 || !stm.stream || stm.stream_len == 0) return;
    decoded_stream& d = out.data;
    switch (decode_stream(stm, d)) {
        case decode_result::decoded:
            break;
        case decode_result::too_large:
            out.how = unpacked::too_large;
            return;
        case decode_result::undecodable:
            return;
    }
    if (first >= d.len || n > d.len) return;
    trim_decoded(d);
    out.how = unpacked::expanded;

    // Slices run to the next entry in header order, so they are cut from
    // the whole header before the duplicates are dropped.
    std::vector<objstm_entry> entries = read_header(d, n, first);
    std::vector<char> last = last_of_number(entries);
    for (size_t k = 0; k < entries.size(); k++) {
        record_slice r;
        if (last[k] && slice_entry(d, first, entries, k, r)) out.records.push_back(r);
    }
}

// How many records a table item becomes.
static size_t records_of(fate f, const opened_stream* opened) {
    switch (f) {
        case fate::drop_xref:
            return 0;
        case fate::unpack:
            return opened->how == unpacked::expanded ? opened->records.size() : 1;
        case fate::keep:
            break;
    }
    return 1;
}

// Decoding, the bulk of the work, runs on threads once there is this much
// compressed data per thread.
constexpr size_t DECODE_BYTES_PER_THREAD = size_t{64} << 10;

status expand_object_streams(std::vector<pdf_obj>& table, std::vector<pdf_obj>& xref_streams,
                             std::vector<owned_bytes>& kept) {
    std::vector<fate> fates(table.size());
    std::vector<size_t> streams;  // the positions of object streams in the table
    size_t compressed = 0;
    for (size_t i = 0; i < table.size(); i++) {
        fates[i] = fate_of(table[i]);
        if (fates[i] != fate::unpack) continue;
        streams.push_back(i);
        compressed += static_cast<size_t>(table[i].stream_len);
    }
    if (std::all_of(fates.begin(), fates.end(), [](fate f) { return f == fate::keep; })) return {};

    std::vector<opened_stream> opened(streams.size());
    const size_t threads = threads_for(compressed, DECODE_BYTES_PER_THREAD);
    for_each_item(streams.size(), threads, 1, [&](size_t k, size_t) { open_stream(table[streams[k]], opened[k]); });
    for (size_t k = 0; k < streams.size(); k++)
        if (opened[k].how == unpacked::too_large) return failure(problem::objstm_too_large, table[streams[k]].num);

    // Every item's first record in the new table, which is made at its
    // final size: the old and the new are held together only once.
    std::vector<size_t> at(table.size() + 1, 0);
    for (size_t i = 0, k = 0; i < table.size(); i++) {
        const opened_stream* o = fates[i] == fate::unpack ? &opened[k++] : nullptr;
        at[i + 1] = at[i] + records_of(fates[i], o);
    }
    std::vector<pdf_obj> out(at[table.size()]);
    for_each_item(streams.size(), threads, 1, [&](size_t k, size_t) {
        const pdf_obj& stm = table[streams[k]];
        const opened_stream& o = opened[k];
        if (o.how != unpacked::expanded) return;
        pdf_obj* next = &out[at[streams[k]]];
        for (const record_slice& r : o.records) {
            pdf_obj& rec = *next++;
            rec.num = r.num;
            rec.hdr_pos = -1;
            rec.body_pos = -1;
            rec.stream_kw_pos = -1;
            rec.body = std::string_view(o.data.bytes + r.start, static_cast<size_t>(r.end - r.start));
            rec.objstm_num = stm.num;
            classify_object(rec);
        }
    });
    for (size_t i = 0, k = 0; i < table.size(); i++) {
        if (fates[i] == fate::drop_xref) xref_streams.push_back(std::move(table[i]));
        if (fates[i] == fate::keep) out[at[i]] = std::move(table[i]);
        if (fates[i] != fate::unpack) continue;
        opened_stream& o = opened[k++];
        if (o.how == unpacked::expanded && o.data.owned) kept.push_back(std::move(o.data.owned));
        if (o.how == unpacked::unreadable) out[at[i]] = std::move(table[i]);
    }
    table = std::move(out);
    return {};
}
