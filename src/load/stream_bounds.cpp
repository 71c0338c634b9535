/*
 * Working out referenced stream lengths.
 */
#include "load/stream_bounds.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "load/xref_chain.h"
#include "pdf/lexer.h"
#include "pdf/stream_extent.h"

namespace {

// A stream of the first scan whose /Length refers to object ref.
struct referring {
    size_t pos;  // table position
    int32_t ref;
};

using range = std::pair<int32_t, int32_t>;  // data [first, second)

// Data ranges, sorted, answering whether an offset lies inside one.
struct ranges {
    std::vector<range> sorted;

    void finish() { std::sort(sorted.begin(), sorted.end()); }
    bool holds(int32_t at) const {
        auto it = std::upper_bound(sorted.begin(), sorted.end(), range{at, INT32_MAX});
        // Ranges never overlap, so only the last one starting at or before
        // the offset can hold it.
        return it != sorted.begin() && at < std::prev(it)->second;
    }
};

std::vector<referring> referring_streams(const std::vector<pdf_obj>& table) {
    std::vector<referring> out;
    for (size_t i = 0; i < table.size(); i++) {
        const pdf_obj& o = table[i];
        if (!o.has_stream || !o.has_body() || !o.length_ref) continue;
        length_entry e = read_length_entry(o.body.data(), o.body_len());
        // "-1 0 R" reads as the integer -1 first and is no length reference here.
        if (e.value != -1 && e.ref_end >= 0 && e.ref_num > 0) out.push_back({i, e.ref_num});
    }
    return out;
}

// The data of streams whose direct /Length the first scan used exactly.
ranges direct_ranges(const std::vector<pdf_obj>& table) {
    ranges r;
    for (const pdf_obj& o : table) {
        if (!o.has_stream || !o.has_body()) continue;
        length_entry e = read_length_entry(o.body.data(), o.body_len());
        if (e.value >= 0 && e.ref_end < 0 && e.value == o.data_len) r.sorted.push_back({o.data_pos, o.data_end});
    }
    r.finish();
    return r;
}

// The integer written as the object "N G obj <integer> endobj" whose header
// starts at offset, or -1.
int32_t length_object_at(const input_file& input, int64_t offset, int32_t num) {
    const char* b = input.data.get();
    if (offset < 0 || offset >= input.len) return -1;
    int32_t i = static_cast<int32_t>(offset);
    if (parse_int_at(b, input.len, &i) != num) return -1;
    if (parse_int_at(b, input.len, &i) < 0) return -1;
    i = skip_space(b, input.len, i);
    if (!kw_at(b, i, input.len, "obj")) return -1;
    i += 3;
    int32_t value = parse_int_at(b, input.len, &i);
    if (value < 0) return -1;
    i = skip_space(b, input.len, i);
    return kw_at(b, i, input.len, "endobj") ? value : -1;
}

// Whether length bounds the stream: "endstream" follows its data there.
bool bounds(const input_file& input, const pdf_obj& stm, int32_t length) {
    return length >= 0 && endstream_after(input.data.get(), input.len, static_cast<int64_t>(stm.data_pos) + length) >= 0;
}

}  // namespace

std::vector<known_length> referenced_stream_lengths(const input_file& input, const std::vector<pdf_obj>& table) {
    std::vector<referring> streams = referring_streams(table);
    if (streams.empty()) return {};

    std::unordered_map<int32_t, std::vector<size_t>> defs;  // referenced number -> table positions
    for (const referring& s : streams) defs.emplace(s.ref, std::vector<size_t>());
    for (size_t i = 0; i < table.size(); i++) {
        auto it = defs.find(table[i].num);
        if (it != defs.end()) it->second.push_back(i);
    }
    // The common case costs nothing more: every length object is defined
    // once and agrees with the data the first scan found.
    bool all_agree = std::all_of(streams.begin(), streams.end(), [&](const referring& s) {
        const std::vector<size_t>& d = defs[s.ref];
        const pdf_obj& len_obj = table[d.empty() ? 0 : d[0]];
        return d.size() == 1 && plain_integer(len_obj.body.data(), len_obj.body_len()) == table[s.pos].data_len;
    });
    if (all_agree) return {};

    ranges known = direct_ranges(table);
    std::vector<int32_t> length(streams.size(), -1);

    std::vector<int32_t> numbers;
    for (const referring& s : streams) numbers.push_back(s.ref);
    std::vector<int64_t> offsets;
    chain_offsets(input, table, numbers, offsets);
    ranges found = known;
    for (size_t k = 0; k < streams.size(); k++) {
        const pdf_obj& stm = table[streams[k].pos];
        if (known.holds(stm.hdr_pos)) continue;  // itself inside another stream's data
        int32_t v = length_object_at(input, offsets[k], streams[k].ref);
        if (bounds(input, stm, v)) {
            length[k] = v;
            found.sorted.push_back({stm.data_pos, stm.data_pos + v});
        }
    }
    found.finish();

    for (size_t k = 0; k < streams.size(); k++) {
        const pdf_obj& stm = table[streams[k].pos];
        if (length[k] >= 0 || found.holds(stm.hdr_pos)) continue;
        const pdf_obj* only = nullptr;
        int outside = 0;
        for (size_t d : defs[streams[k].ref])
            if (!found.holds(table[d].hdr_pos)) only = &table[d], outside++;
        if (outside != 1) continue;
        int32_t v = plain_integer(only->body.data(), only->body_len());
        if (bounds(input, stm, v)) length[k] = v;
    }

    std::vector<known_length> out;
    for (size_t k = 0; k < streams.size(); k++) {
        const pdf_obj& stm = table[streams[k].pos];
        if (length[k] >= 0 && length[k] != stm.data_len) out.push_back({stm.hdr_pos, length[k]});
    }
    std::sort(out.begin(), out.end(), [](const known_length& a, const known_length& b) { return a.hdr_pos < b.hdr_pos; });
    return out;
}
