/*
 * The primary hint stream: the page offset hint table, the shared object
 * hint table and (when the outline hierarchy is one run of objects) the
 * outline hint table of a linearized file, packed most significant bit first
 * and compressed.
 *
 * Every location in the tables is the offset an object would have if the
 * hint stream were absent: the hint stream sits right before the first
 * page's objects, so its own offset is where the first page would begin.
 * Sums of lengths are 32-bit and wrap, like the fields they are written to.
 */
#include "write/hints.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

#include "base/buffer.h"
#include "deflate/flate.h"

namespace {

// Number of significant bits of d; 0 when d is 0 or less.
int32_t bits_for(int64_t d) {
    int32_t b = 0;
    for (; d > 0; d >>= 1) b++;
    return b;
}

struct hint_values {
    int32_t pages = 0;
    std::vector<int32_t> nobj, plen;  // per page: objects, bytes
    int32_t min_nobj = 0, bits_nobj = 0;
    int32_t min_plen = 0, bits_plen = 0;
    std::vector<page_group> ids;      // per page: shared object identifiers
    int32_t bits_nref = 0, bits_id = 0;
    std::vector<int32_t> slen;        // per shared object entry: its length
    int32_t min_slen = 0, bits_slen = 0;
    std::vector<int32_t> group_size;  // per shared object entry: its objects
    int32_t bits_group = 0;
    int32_t first_shared_num = 0, first_shared_pos = 0;
};

// The bytes of the object with new number n.
struct length_of {
    const std::vector<out_slot>& slots;

    uint32_t operator()(int32_t n) const {
        if (n <= 0 || static_cast<size_t>(n) >= slots.size()) return 0;
        return static_cast<uint32_t>(slots[static_cast<size_t>(n)].len());
    }
    uint32_t range(int32_t from, int32_t to) const {
        uint32_t total = 0;
        for (int32_t n = from; n < to; n++) total += (*this)(n);
        return total;
    }
};

// One entry of the shared object hint table: the objects written at
// offsets that it covers (new numbers, consecutive), and the input objects
// they hold.
struct hint_entry {
    std::vector<int32_t> units;
    std::vector<int32_t> members;
};

std::vector<hint_entry> shared_object_entries(const plan& order) {
    std::vector<hint_entry> entries;
    const page_group& first = order.page_groups[0];
    size_t at = 0;
    for (int32_t size : order.first_groups) {
        hint_entry e;
        for (int32_t k = 0; k < size; k++, at++) {
            e.units.push_back(order.number_of(first[at]));
            e.members.push_back(first[at]);
        }
        entries.push_back(std::move(e));
    }
    at = 0;
    for (int32_t size : order.shared_groups) {
        hint_entry e;
        for (int32_t k = 0; k < size; k++, at++) {
            const hint_unit& u = order.shared_units[at];
            e.units.push_back(u.num);
            e.members.insert(e.members.end(), u.members.begin(), u.members.end());
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

// Smallest value and the bits needed for the differences from it.
void spread(const std::vector<int32_t>& v, int32_t& min, int32_t& bits) {
    int32_t lo = v.empty() ? 0 : v[0], hi = lo;
    for (int32_t x : v) lo = x < lo ? x : lo, hi = x > hi ? x : hi;
    min = lo;
    bits = bits_for(static_cast<int64_t>(hi) - lo);
}

// For every later page, the identifiers of the entries it reaches, in table
// order of each entry's first input object. The pages reaching an entry are
// those reaching any of its members; members that share a page set (all of
// a group's do) are looked at once.
void shared_references(const obj_list& objects, const attribution& pages, const std::vector<hint_entry>& entries,
                       hint_values& v) {
    struct ref {
        int32_t position;  // the entry's first input object in the table
        int32_t id;
    };
    std::vector<std::vector<ref>> refs(static_cast<size_t>(v.pages));
    std::vector<int32_t> stamp(static_cast<size_t>(v.pages), -1);
    for (size_t id = 0; id < entries.size(); id++) {
        int32_t first_pos = INT32_MAX;
        for (int32_t num : entries[id].members) first_pos = std::min(first_pos, objects.position(num));
        int32_t last_set = -1;
        for (int32_t num : entries[id].members) {
            int32_t set = pages.set_of[static_cast<size_t>(objects.position(num))];
            if (set == last_set) continue;
            last_set = set;
            for (int32_t k : pages.sets[static_cast<size_t>(set)]) {
                if (k < 1 || k >= v.pages || stamp[static_cast<size_t>(k)] == static_cast<int32_t>(id)) continue;
                stamp[static_cast<size_t>(k)] = static_cast<int32_t>(id);
                refs[static_cast<size_t>(k)].push_back({first_pos, static_cast<int32_t>(id)});
            }
        }
    }
    v.ids.assign(static_cast<size_t>(v.pages), page_group());
    int32_t max_nref = 0;
    for (size_t k = 0; k < refs.size(); k++) {
        std::sort(refs[k].begin(), refs[k].end(), [](const ref& a, const ref& b) { return a.position < b.position; });
        for (const ref& r : refs[k]) pg_push(v.ids[k], r.id);
        max_nref = std::max(max_nref, static_cast<int32_t>(refs[k].size()));
    }
    v.bits_nref = bits_for(max_nref);
    v.bits_id = bits_for(static_cast<int64_t>(entries.size()));
}

void shared_entry_sizes(const std::vector<hint_entry>& entries, const length_of& len, hint_values& v) {
    int32_t largest = 1;
    for (const hint_entry& e : entries) {
        uint32_t total = 0;
        for (int32_t n : e.units) total += len(n);
        int32_t size = static_cast<int32_t>(e.units.size());
        v.slen.push_back(static_cast<int32_t>(total));
        v.group_size.push_back(size);
        largest = size > largest ? size : largest;
    }
    spread(v.slen, v.min_slen, v.bits_slen);
    v.bits_group = bits_for(largest - 1);
}

// Where the object n would start if the hint stream were absent.
uint32_t position_without_hints(const plan& order, const length_of& len, int32_t hint_pos, int32_t n) {
    uint32_t at = static_cast<uint32_t>(hint_pos);
    bool found = false;
    for_each_after_hints(order, [&](int32_t m) {
        if (m == n) found = true;
        if (!found) at += len(m);
    });
    return at;
}

hint_values compute(const obj_list& objects, const attribution& pages, const plan& order,
                    const std::vector<out_slot>& slots, int32_t hint_pos) {
    length_of len{slots};
    hint_values v;
    v.pages = static_cast<int32_t>(order.page_groups.size());
    v.nobj.push_back(static_cast<int32_t>(order.page_groups[0].size()));
    v.plen.push_back(static_cast<int32_t>(len.range(order.first_page_num(), order.number_count())));
    for (int32_t k = 1; k < v.pages; k++) {
        int32_t from = order.page_start[static_cast<size_t>(k)], to = order.page_start[static_cast<size_t>(k) + 1];
        v.nobj.push_back(to - from);
        v.plen.push_back(static_cast<int32_t>(len.range(from, to)));
    }
    spread(v.nobj, v.min_nobj, v.bits_nobj);
    spread(v.plen, v.min_plen, v.bits_plen);
    std::vector<hint_entry> entries = shared_object_entries(order);
    shared_entry_sizes(entries, len, v);
    shared_references(objects, pages, entries, v);
    if (!order.shared_units.empty()) {
        v.first_shared_num = order.shared_units[0].num;
        v.first_shared_pos = static_cast<int32_t>(position_without_hints(order, len, hint_pos, v.first_shared_num));
    }
    return v;
}

void put(bit_buf& b, int64_t value, int32_t bits) {
    bit_write(b, static_cast<uint32_t>(value), bits);
}

// One item of a per-entry table: every entry's value, then a byte boundary.
void put_column(bit_buf& b, const std::vector<int32_t>& values, int32_t base, int32_t bits) {
    for (int32_t x : values) put(b, static_cast<int64_t>(x) - base, bits);
    bit_flush(b);
}

void page_offset_table(bit_buf& b, const hint_values& v, int32_t hint_pos) {
    put(b, v.min_nobj, 32);
    put(b, hint_pos, 32);
    put(b, v.bits_nobj, 16);
    put(b, v.min_plen, 32);
    put(b, v.bits_plen, 16);
    put(b, 0, 32);  // content streams are described as whole pages
    put(b, 0, 16);
    put(b, v.min_plen, 32);
    put(b, v.bits_plen, 16);
    put(b, v.bits_nref, 16);
    put(b, v.bits_id, 16);
    put(b, 0, 16);
    put(b, 4, 16);

    put_column(b, v.nobj, v.min_nobj, v.bits_nobj);
    put_column(b, v.plen, v.min_plen, v.bits_plen);
    for (const page_group& g : v.ids) put(b, static_cast<int64_t>(g.size()), v.bits_nref);
    bit_flush(b);
    for (const page_group& g : v.ids)
        for (int32_t id : g) put(b, id, v.bits_id);
    bit_flush(b);
    put_column(b, v.plen, v.min_plen, v.bits_plen);
}

void shared_object_table(bit_buf& b, const hint_values& v, const plan& order) {
    put(b, v.first_shared_num, 32);
    put(b, v.first_shared_pos, 32);
    put(b, static_cast<int64_t>(order.first_groups.size()), 32);
    put(b, static_cast<int64_t>(v.slen.size()), 32);
    put(b, v.bits_group, 16);
    put(b, v.min_slen, 32);
    put(b, v.bits_slen, 16);
    put_column(b, v.slen, v.min_slen, v.bits_slen);
    for (size_t i = 0; i < v.slen.size(); i++) put(b, 0, 1);  // no signatures
    bit_flush(b);
    put_column(b, v.group_size, 1, v.bits_group);
}

// The outline hint table (ISO 32000-1 generic hint table): the outline
// root's number and location, the number of objects of the outline run and
// their total length. The root leads the run, so the run's objects follow it.
void outline_table(bit_buf& b, const plan& order, const std::vector<out_slot>& slots, int32_t hint_pos) {
    length_of len{slots};
    int32_t root = order.number_of(order.outline_root);
    put(b, root, 32);
    put(b, position_without_hints(order, len, hint_pos, root), 32);
    uint32_t run = 0;
    if (order.outline_to > order.outline_from) {
        put(b, order.outline_to - order.outline_from + order.outline_elsewhere, 32);
        for (int32_t n = order.outline_from; n < order.outline_to; n++) run += len(n);
    } else {
        put(b, static_cast<int64_t>(order.outline_run.size()) + order.outline_elsewhere, 32);
        for (int32_t old : order.outline_run) run += len(order.number_of(old));
    }
    put(b, run, 32);
}

}  // namespace

std::vector<uint8_t> hint_table_bytes(const document& doc, const attribution& pages, const plan& order,
                                      const std::vector<out_slot>& slots, int32_t hint_pos, size_t* s_value,
                                      size_t* o_value) {
    hint_values v = compute(doc.objects, pages, order, slots, hint_pos);
    bit_buf b;
    b.data.reserve(4096);
    page_offset_table(b, v, hint_pos);
    *s_value = b.data.size();
    shared_object_table(b, v, order);
    if (o_value) *o_value = 0;
    if (order.outline_root_in_run()) {
        if (o_value) *o_value = b.data.size();
        outline_table(b, order, slots, hint_pos);
    }
    return std::move(b.data);
}

status build_hint_stream(const document& doc, const attribution& pages, const plan& order,
                         std::vector<out_slot>& slots, int32_t hint_pos) {
    size_t s_value = 0, o_value = 0;
    std::vector<uint8_t> tables = hint_table_bytes(doc, pages, order, slots, hint_pos, &s_value, &o_value);
    uint8_t* packed = nullptr;
    size_t packed_len = 0;
    if (sx_deflate(tables.data(), tables.size(), &packed, &packed_len) != 0 || !packed)
        return failure(problem::hint_compression);
    std::unique_ptr<uint8_t, free_deleter> owned(packed);
    out_buf text;
    int32_t n = order.hint_num();
    if (o_value > 0)
        buf_printf(text, "%d 0 obj\n<< /Filter /FlateDecode /S %zu /O %zu /Length %zu >>\nstream\n", n, s_value,
                   o_value, packed_len);
    else
        buf_printf(text, "%d 0 obj\n<< /Filter /FlateDecode /S %zu /Length %zu >>\nstream\n", n, s_value, packed_len);
    buf_bytes(text, packed, packed_len);
    buf_bytes(text, STREAM_TAIL, STREAM_TAIL_LEN);
    out_slot& slot = slots[static_cast<size_t>(n)];
    slot = out_slot();
    slot.head = std::move(text.data);
    return {};
}
