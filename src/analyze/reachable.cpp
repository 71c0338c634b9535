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

// The references of a record's body, but not the one of a stream's /Length:
// the compact form writes every length directly (the attribution's
// body_references skips only the lengths the default form replaces).
std::vector<int32_t> references_of(const pdf_obj& rec) {
    std::vector<int32_t> nums;
    int32_t skip = -1;
    if (rec.has_stream) {
        length_entry e = read_length_entry(rec.body.data(), rec.body_len());
        if (e.ref_end >= 0) skip = rec.body[static_cast<size_t>(e.value_start)] == '-' ? e.value_start + 1 : e.value_start;
    }
    const int32_t skips[] = {skip};
    collect_references(rec.body.data(), rec.body_len(), nums, static_cast<size_t>(rec.body_len() / 4) + 1, skips);
    return nums;
}

void add_inherited(const std::string& value, std::vector<int32_t>& starts) {
    collect_references(value.data(), static_cast<int32_t>(value.size()), starts, value.size());
}

}  // namespace

std::vector<char> reachable_records(const document& doc, const page_tree& tree) {
    const obj_list& objects = doc.objects;
    std::vector<char> reached(objects.items.size(), 0);
    std::vector<int32_t> starts;
    if (tree.catalog >= 0) starts.push_back(objects.items[static_cast<size_t>(tree.catalog)].num);
    if (doc.trailer.info > 0) starts.push_back(doc.trailer.info);
    inheritance_cache inherited(objects);
    for (int32_t num : tree.page_list) {
        starts.push_back(num);
        const pdf_obj* page = objects.find(num);
        add_inherited(inherited.resources(page), starts);
        for (const char* key : {"MediaBox", "CropBox", "Rotate"}) add_inherited(inherited.value(page, key), starts);
    }

    walk_stack stack;
    stack.push(std::move(starts));
    for (int32_t num; stack.next(num);) {
        int32_t pos = objects.position(num);
        if (pos < 0 || reached[static_cast<size_t>(pos)]) continue;
        reached[static_cast<size_t>(pos)] = 1;
        const pdf_obj& rec = objects.items[static_cast<size_t>(pos)];
        if (tree.type_of(objects, pos) == TYPE_PAGES || pos == tree.root) continue;
        stack.push(references_of(rec));
    }
    return reached;
}
