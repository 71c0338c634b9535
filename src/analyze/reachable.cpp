/*
 * One walk over the reference graph, with an explicit stack.
 */
#include "analyze/reachable.h"

#include <string>

#include "analyze/inheritance.h"
#include "analyze/walk_stack.h"
#include "pdf/refs.h"
#include "pdf/stream_extent.h"

namespace {

// The positions of the records whose numbers are in nums (none for a
// number without a record).
std::vector<int32_t> positions_of(const obj_list& objects, const std::vector<int32_t>& nums) {
    std::vector<int32_t> out;
    out.reserve(nums.size());
    for (int32_t n : nums)
        if (int32_t p = objects.position(n); p >= 0) out.push_back(p);
    return out;
}

// Where a record's body leads, but not through a stream's /Length: the
// compact form writes every length directly. The reference graph already
// holds that list unless the body gives its /Length by reference (the
// graph keeps such a reference when the writer keeps it); those are read
// from the body's tokens, as are all bodies without a graph.
struct body_walk {
    const obj_list& objects;
    const reference_graph* refs;

    void push(walk_stack& stack, const pdf_obj& rec, int32_t pos) const {
        int32_t skip = -1;
        if (rec.has_stream) {
            length_entry e = read_length_entry(rec.body.data(), rec.body_len());
            if (e.ref_end >= 0)
                skip = rec.body[static_cast<size_t>(e.value_start)] == '-' ? e.value_start + 1 : e.value_start;
        }
        bool graph = refs && refs->start.size() == objects.items.size() + 1;
        if (graph && skip < 0) return stack.push(refs->of(pos));
        std::vector<int32_t> nums;
        const int32_t skips[] = {skip};
        size_t limit = static_cast<size_t>(rec.body_len() / 4) + 1;
        if (graph)
            collect_from_tokens(refs->tokens_of(pos), nums, limit, skips);
        else
            collect_references(rec.body.data(), rec.body_len(), nums, limit, skips);
        stack.push(positions_of(objects, nums));
    }
};

// Appends the positions of what an inherited value refers to. Each value
// is read on its own: its references are not limited by what the walk
// starts from already.
void add_inherited(const obj_list& objects, const std::string& value, std::vector<int32_t>& starts) {
    std::vector<int32_t> nums;
    collect_references(value.data(), static_cast<int32_t>(value.size()), nums, value.size());
    for (int32_t p : positions_of(objects, nums)) starts.push_back(p);
}

}  // namespace

std::vector<char> reachable_records(const document& doc, const page_tree& tree, const reference_graph* refs) {
    const obj_list& objects = doc.objects;
    std::vector<char> reached(objects.items.size(), 0);
    std::vector<int32_t> starts;  // table positions
    auto start_at = [&](int32_t num) {
        if (int32_t p = objects.position(num); p >= 0) starts.push_back(p);
    };
    if (tree.catalog >= 0) start_at(objects.items[static_cast<size_t>(tree.catalog)].num);
    if (doc.trailer.info > 0) start_at(doc.trailer.info);
    inheritance_cache inherited(objects);
    for (int32_t num : tree.page_list) {
        start_at(num);
        const pdf_obj* page = objects.find(num);
        add_inherited(objects, inherited.resources(page), starts);
        for (const char* key : {"MediaBox", "CropBox", "Rotate"}) add_inherited(objects, inherited.value(page, key), starts);
    }

    body_walk bodies{objects, refs};
    walk_stack stack;
    stack.push(std::move(starts));
    for (int32_t pos; stack.next(pos);) {
        if (reached[static_cast<size_t>(pos)]) continue;
        reached[static_cast<size_t>(pos)] = 1;
        if (tree.type_of(objects, pos) == TYPE_PAGES || pos == tree.root) continue;
        bodies.push(stack, objects.items[static_cast<size_t>(pos)], pos);
    }
    return reached;
}
