/*
 * Packing parts into object streams.
 *
 * A part's objects that stay at offsets keep their order and numbers from
 * the part's start; its object streams follow them. The objects the
 * streams hold are numbered only once every part is placed, after the
 * main cross-reference stream, in the order of their streams.
 *
 * Among the other objects, one object stream holds only objects that the
 * same pages reach (or that no page reaches): a reader that attributes an
 * object stream to every page reaching one of its members would otherwise
 * see the stream shared by pages whose hint entries cannot name it.
 *
 * The outline hierarchy is one run where the hint stream describes it: its
 * root at an offset, then its own object streams, so that the outline hint
 * table counts the run's objects at offsets and its bytes in one range.
 *
 * An object stream costs its dictionary and the compressor's tables, so a
 * part whose loose objects are few and short keeps them as they are: the
 * estimate counts each object's header and "endobj" against the stream's
 * fixed cost and half of the text (what compression typically leaves of
 * short PDF text).
 */
#include "analyze/packing.h"

#include <unordered_map>
#include <unordered_set>

namespace {

// Object streams hold at most this many objects and about this much text,
// so that a reader needing one object decodes a bounded stream.
constexpr size_t PACK_MAX_OBJECTS = 256;
constexpr int64_t PACK_MAX_TEXT = 1 << 20;
constexpr int64_t PACK_FIXED_COST = 160;
constexpr int64_t PLAIN_OBJECT_COST = 20;   // "N 0 obj\n" and "\nendobj\n"
constexpr int64_t PACKED_OBJECT_COST = 12;  // its pair in the stream's header

// The form's fields array, an object the writer makes (no old number).
constexpr int32_t FIELDS = -1;

bool stays_at_offset(const obj_list& objects, const page_tree& tree, int32_t num) {
    int32_t pos = objects.position(num);
    if (pos < 0) return true;
    const pdf_obj& rec = objects.items[static_cast<size_t>(pos)];
    obj_type type = tree.type_of(objects, pos);
    return rec.has_stream || !rec.has_body() || type == TYPE_PAGE || type == TYPE_CATALOG;
}

struct numbering {
    const obj_list& objects;
    const page_tree& tree;
    const attribution& pages;
    plan& out;
    int32_t counter = 1;
    size_t packed_base = 0;  // streams of packed that earlier numberings made
    // The object streams' members until they are numbered: old numbers, or FIELDS.
    std::vector<std::vector<int32_t>> members;
    std::unordered_set<int32_t> also_at_offsets;

    bool at_offset(int32_t num) const {
        return stays_at_offset(objects, tree, num) || also_at_offsets.count(num) > 0;
    }

    int64_t text_of(int32_t num) const {
        if (num == FIELDS) return 64;
        return objects.find(num)->body_len();
    }

    bool packing_pays(const std::vector<int32_t>& loose) const {
        int64_t plain = 0, packed = PACK_FIXED_COST;
        for (int32_t num : loose) {
            plain += text_of(num) + PLAIN_OBJECT_COST;
            packed += (text_of(num) + PACKED_OBJECT_COST) / 2;
        }
        return loose.size() >= 2 && packed < plain;
    }

    void place_plain(int32_t num, std::vector<hint_unit>* units) {
        if (num == FIELDS) {
            out.fields_num = counter++;
            return;
        }
        out.new_num[static_cast<size_t>(num)] = counter;
        if (units) units->push_back({counter, {num}});
        counter++;
    }

    // The loose objects in runs of one page set each, sets in order of
    // first appearance; objects no page reaches join the first run.
    std::vector<std::vector<int32_t>> by_page_set(const std::vector<int32_t>& loose) const {
        std::vector<std::vector<int32_t>> runs;
        std::unordered_map<int32_t, size_t> run_of;
        int32_t first_set = 0;
        for (int32_t num : loose) {
            int32_t set = num == FIELDS ? 0 : pages.set_of[static_cast<size_t>(objects.position(num))];
            if (runs.empty()) first_set = set;
            if (set == 0) set = first_set;
            auto [it, added] = run_of.emplace(set, runs.size());
            if (added) runs.emplace_back();
            runs[it->second].push_back(num);
        }
        return runs;
    }

    void place_streams(const std::vector<int32_t>& loose, std::vector<hint_unit>* units) {
        for (size_t at = 0; at < loose.size();) {
            std::vector<int32_t> chunk;
            int64_t text = 0;
            while (at < loose.size() && chunk.size() < PACK_MAX_OBJECTS && (chunk.empty() || text < PACK_MAX_TEXT)) {
                text += text_of(loose[at]);
                chunk.push_back(loose[at++]);
            }
            if (units) {
                hint_unit u{counter, {}};
                for (int32_t num : chunk)
                    if (num != FIELDS) u.members.push_back(num);
                units->push_back(std::move(u));
            }
            out.packed.push_back({counter++, {}});
            members.push_back(std::move(chunk));
        }
    }

    // One part: what stays at offsets in order, then its object streams.
    void place_part(const std::vector<int32_t>& objs, bool with_fields, std::vector<hint_unit>* units,
                    bool split_by_pages = false) {
        std::vector<int32_t> loose;
        for (int32_t num : objs)
            if (!at_offset(num)) loose.push_back(num);
        if (with_fields) loose.push_back(FIELDS);
        bool pack = packing_pays(loose);
        for (int32_t num : objs)
            if (!pack || at_offset(num)) place_plain(num, units);
        if (!pack) {
            if (with_fields) place_plain(FIELDS, units);
            return;
        }
        if (!split_by_pages) {
            place_streams(loose, units);
            return;
        }
        for (const std::vector<int32_t>& run : by_page_set(loose)) place_streams(run, units);
    }

    // The packed objects' numbers, after everything at an offset.
    void number_members() {
        for (size_t s = 0; s < members.size(); s++) {
            for (int32_t num : members[s]) {
                int32_t n = counter++;
                if (num == FIELDS)
                    out.fields_num = n;
                else
                    out.new_num[static_cast<size_t>(num)] = n;
                out.packed[packed_base + s].members.push_back(n);
            }
        }
    }
};

}  // namespace

void number_packed(const obj_list& objects, const page_tree& tree, const attribution& pages, plan& out) {
    numbering n{objects, tree, pages, out, 1, 0, {}, {}};
    size_t page_count = out.page_groups.size();
    out.page_start.assign(page_count + 1, 0);
    for (size_t k = 1; k < page_count; k++) {
        out.page_start[k] = n.counter;
        n.place_part(out.page_groups[k], false, nullptr);
    }
    out.page_start[page_count] = n.counter;
    n.place_part(out.shared_objs, false, &out.shared_units);
    // Unless it travels with the first page, the outline run leads the
    // other objects.
    size_t run = out.outlines_first ? 0 : out.outline_run.size();
    if (run > 0) {
        out.outline_from = n.counter;
        n.place_plain(out.other_objs[0], nullptr);
        n.place_part(std::vector<int32_t>(out.other_objs.begin() + 1, out.other_objs.begin() + static_cast<std::ptrdiff_t>(run)),
                     false, nullptr, true);
        out.outline_to = n.counter;
    }
    n.place_part(std::vector<int32_t>(out.other_objs.begin() + static_cast<std::ptrdiff_t>(run), out.other_objs.end()),
                 out.form_old > 0, nullptr, true);
    // The page tree's nodes stay at offsets, together, the root last.
    n.counter += static_cast<int32_t>(out.tree.nodes.size());
    out.root_num = n.counter - 1;
    out.main_xref_num = n.counter++;
    n.number_members();
    out.lin_num = n.counter;
}

void pack_open_objects(const obj_list& objects, const page_tree& tree, const attribution& pages, plan& out) {
    numbering n{objects, tree, pages, out, out.first_open_num(), out.packed.size(), {},
                std::unordered_set<int32_t>(out.outline_open.begin(), out.outline_open.end())};
    std::vector<int32_t> open = std::move(out.open_objs);
    out.open_objs.clear();
    n.place_part(open, false, nullptr, true);
    for (int32_t num : open)
        if (out.new_num[static_cast<size_t>(num)] != 0) out.open_objs.push_back(num);
    out.open_streams = static_cast<int32_t>(out.packed.size() - n.packed_base);
    for (int32_t num : out.open_objs) out.new_num[static_cast<size_t>(num)] = 0;
    n.counter = out.first_page_num() + static_cast<int32_t>(out.page_groups[0].size());
    n.number_members();
    out.open_members = n.counter - out.first_page_num() - static_cast<int32_t>(out.page_groups[0].size());
}
