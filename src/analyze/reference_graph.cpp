/*
 * The graph in one array: each block of records is read on whichever
 * thread takes it, into a part of its own, and the parts are joined in
 * table order.
 */
#include "analyze/reference_graph.h"

#include "base/parallel.h"
#include "load/stream_lengths.h"
#include "pdf/refs.h"

namespace {

// Records per block handed to a thread, and per thread worth starting.
constexpr size_t BLOCK = 512;
constexpr size_t RECORDS_PER_THREAD = 8192;

// Where the walk must not follow the /Length reference: the writer puts the
// data length there directly, so nothing will point at the length object.
int32_t replaced_length_ref(const obj_list& objects, const pdf_obj& rec) {
    if (!rec.length_ref) return -1;
    length_fix fix = stream_length_fix(objects, rec);
    if (fix.kind != length_fix::REPLACE || !fix.value_is_ref) return -1;
    return rec.body[static_cast<size_t>(fix.value_start)] == '-' ? fix.value_start + 1 : fix.value_start;
}

struct block_part {
    std::vector<uint32_t> counts;  // by record of the block
    std::vector<int32_t> targets;
    std::vector<uint32_t> token_counts;
    std::vector<ref_token> tokens;
};

void read_block(const obj_list& objects, size_t from, size_t to, block_part& part) {
    part.counts.reserve(to - from);
    part.token_counts.reserve(to - from);
    for (size_t i = from; i < to; i++) {
        size_t before = part.targets.size(), tokens_before = part.tokens.size();
        for (int32_t n : body_references(objects, objects.items[i], -1, &part.tokens)) {
            int32_t p = objects.position(n);
            if (p >= 0) part.targets.push_back(p);
        }
        part.counts.push_back(static_cast<uint32_t>(part.targets.size() - before));
        part.token_counts.push_back(static_cast<uint32_t>(part.tokens.size() - tokens_before));
    }
}

// Appends a block's counts as running starts, and its items.
template <class T>
void join(std::vector<uint32_t>& starts, std::vector<T>& items, const std::vector<uint32_t>& counts,
          const std::vector<T>& part) {
    for (uint32_t c : counts) starts.push_back(starts.back() + c);
    items.insert(items.end(), part.begin(), part.end());
}

}  // namespace

std::vector<int32_t> body_references(const obj_list& objects, const pdf_obj& rec, int32_t skip_also,
                                     std::vector<ref_token>* all_tokens) {
    std::vector<int32_t> nums;
    const int32_t skips[] = {replaced_length_ref(objects, rec), skip_also};
    collect_references(rec.body.data(), rec.body_len(), nums, static_cast<size_t>(rec.body_len() / 4) + 1, skips,
                       all_tokens);
    return nums;
}

reference_graph read_reference_graph(const obj_list& objects) {
    size_t count = objects.items.size();
    size_t blocks = (count + BLOCK - 1) / BLOCK;
    std::vector<block_part> parts(blocks);
    for_each_item(blocks, threads_for(count, RECORDS_PER_THREAD), 1,
                  [&](size_t b, size_t) { read_block(objects, b * BLOCK, std::min(count, (b + 1) * BLOCK), parts[b]); });

    reference_graph g;
    size_t targets = 0, tokens = 0;
    for (const block_part& p : parts) targets += p.targets.size(), tokens += p.tokens.size();
    g.start.reserve(count + 1);
    g.targets.reserve(targets);
    g.token_start.reserve(count + 1);
    g.tokens.reserve(tokens);
    g.start.push_back(0);
    g.token_start.push_back(0);
    for (block_part& p : parts) {
        join(g.start, g.targets, p.counts, p.targets);
        join(g.token_start, g.tokens, p.token_counts, p.tokens);
        p = block_part();
    }
    return g;
}
