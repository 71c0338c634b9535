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

struct length_of {
    const plan& order;
    const std::vector<out_slot>& slots;

    uint32_t operator()(int32_t old_num) const {
        int32_t n = order.number_of(old_num);
        if (n <= 0 || static_cast<size_t>(n) >= slots.size()) return 0;
        return static_cast<uint32_t>(slots[static_cast<size_t>(n)].len());
    }
    uint32_t sum(const std::vector<int32_t>& list) const {
        uint32_t total = 0;
        for (int32_t o : list) total += (*this)(o);
        return total;
    }
};

// Smallest value and the bits needed for the differences from it.
void spread(const std::vector<int32_t>& v, int32_t& min, int32_t& bits) {
    int32_t lo = v.empty() ? 0 : v[0], hi = lo;
    for (int32_t x : v) lo = x < lo ? x : lo, hi = x > hi ? x : hi;
    min = lo;
    bits = bits_for(static_cast<int64_t>(hi) - lo);
}

// Visits the entries of the shared object hint table in order: each
// entry's index, its objects and how many there are.
template <class Visit>
void for_each_entry(const plan& order, Visit visit) {
    int32_t index = 0;
    auto walk = [&](const std::vector<int32_t>& objs, const std::vector<int32_t>& sizes) {
        size_t at = 0;
        for (int32_t size : sizes) {
            visit(index++, &objs[at], size);
            at += static_cast<size_t>(size);
        }
    };
    walk(order.page_groups[0], order.first_groups);
    walk(order.shared_objs, order.shared_groups);
}

// For every later page, the identifiers of the entries it reaches, in table
// order of their first objects: one pass over the table, with each entry's
// identifier looked up by the number of its first object (the pages that
// reach an entry reach each of its objects).
void shared_references(const obj_list& objects, const attribution& pages, const plan& order, hint_values& v) {
    std::vector<int32_t> id_of(static_cast<size_t>(order.max_num) + 1, -1);
    int32_t entries = 0;
    for_each_entry(order, [&](int32_t index, const int32_t* objs, int32_t) {
        if (objs[0] >= 0 && objs[0] <= order.max_num && id_of[static_cast<size_t>(objs[0])] < 0)
            id_of[static_cast<size_t>(objs[0])] = index;
        entries = index + 1;
    });

    v.ids.assign(static_cast<size_t>(v.pages), page_group());
    for (size_t i = 0; i < objects.items.size(); i++) {
        const pdf_obj& rec = objects.items[i];
        if (rec.num < 0 || rec.num > order.max_num) continue;
        int32_t id = id_of[static_cast<size_t>(rec.num)];
        if (id < 0) continue;
        for (int32_t k : pages.pages_of(static_cast<int32_t>(i)))
            if (k >= 1 && k < v.pages) pg_push(v.ids[static_cast<size_t>(k)], id);
    }
    int32_t max_nref = 0;
    for (const page_group& g : v.ids)
        if (static_cast<int32_t>(g.size()) > max_nref) max_nref = static_cast<int32_t>(g.size());
    v.bits_nref = bits_for(max_nref);
    v.bits_id = bits_for(entries);
}

void shared_entries(const plan& order, const length_of& len, hint_values& v) {
    int32_t largest = 1;
    for_each_entry(order, [&](int32_t, const int32_t* objs, int32_t size) {
        uint32_t total = 0;
        for (int32_t k = 0; k < size; k++) total += len(objs[k]);
        v.slen.push_back(static_cast<int32_t>(total));
        v.group_size.push_back(size);
        largest = size > largest ? size : largest;
    });
    spread(v.slen, v.min_slen, v.bits_slen);
    v.bits_group = bits_for(largest - 1);
}

hint_values compute(const obj_list& objects, const attribution& pages, const plan& order,
                    const std::vector<out_slot>& slots, int32_t hint_pos) {
    length_of len{order, slots};
    hint_values v;
    v.pages = static_cast<int32_t>(order.page_groups.size());
    for (const page_group& g : order.page_groups) {
        v.nobj.push_back(static_cast<int32_t>(g.size()));
        v.plen.push_back(static_cast<int32_t>(len.sum(g)));
    }
    spread(v.nobj, v.min_nobj, v.bits_nobj);
    spread(v.plen, v.min_plen, v.bits_plen);
    shared_entries(order, len, v);
    shared_references(objects, pages, order, v);
    if (!order.shared_objs.empty()) {
        v.first_shared_num = order.number_of(order.shared_objs[0]);
        v.first_shared_pos = static_cast<int32_t>(static_cast<uint32_t>(hint_pos) + len.sum(order.page_groups[0]) +
                                                  len.sum(order.rest_objs));
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
    length_of len{order, slots};
    int32_t root = order.number_of(order.outline_root);
    uint32_t before = 0;  // written between the hint stream and the root
    bool found = false;
    for_each_after_hints(order, [&](int32_t n) {
        if (n == root) found = true;
        if (!found) before += static_cast<uint32_t>(slots[static_cast<size_t>(n)].len());
    });
    put(b, root, 32);
    put(b, static_cast<uint32_t>(hint_pos) + before, 32);
    put(b, static_cast<int64_t>(order.outline_run.size()) + order.outline_elsewhere, 32);
    put(b, len.sum(order.outline_run), 32);
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
