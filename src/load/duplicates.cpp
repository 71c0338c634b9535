/*
 * Duplicate resolution. Scanning finds every definition of a number: the
 * versions an incremental update replaced, stale object streams, copies
 * inside damaged data. The cross-reference chain says which one a reader of
 * the input uses; without a usable chain the last one in the file wins.
 */
#include "load/duplicates.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "load/xref_chain.h"

void resolve_duplicates(document& doc) {
    std::vector<pdf_obj>& t = doc.objects.items;
    if (t.empty()) return;
    int32_t max = 0;
    for (const pdf_obj& o : t) max = std::max(max, o.num);
    // Larger numbers are refused later, when the objects are renumbered.
    if (max > MAX_OBJ_NUM) return;

    std::vector<int32_t> last_flat;
    std::unordered_map<int32_t, int32_t> last_sparse;
    if (dense_numbers(max, t.size())) last_flat.assign(static_cast<size_t>(max) + 1, -1);
    auto last = [&](int32_t num) -> int32_t& {
        return last_flat.empty() ? last_sparse[num] : last_flat[static_cast<size_t>(num)];
    };
    for (size_t i = 0; i < t.size(); i++) last(t[i].num) = static_cast<int32_t>(i);

    // The last definition in table order wins, unless the input's
    // cross-reference chain names another one as live.
    std::vector<int32_t> dups;
    for (size_t i = 0; i < t.size(); i++)
        if (last(t[i].num) != static_cast<int32_t>(i)) dups.push_back(t[i].num);
    std::sort(dups.begin(), dups.end());
    dups.erase(std::unique(dups.begin(), dups.end()), dups.end());
    std::vector<int32_t> winner;
    if (chain_live_definitions(doc.input, t, doc.xref_streams, dups, winner))
        for (size_t k = 0; k < dups.size(); k++)
            if (winner[k] >= 0) last(dups[k]) = winner[k];

    size_t kept = 0;
    for (size_t i = 0; i < t.size(); i++) {
        if (last(t[i].num) != static_cast<int32_t>(i)) continue;
        if (kept != i) t[kept] = std::move(t[i]);
        kept++;
    }
    t.erase(t.begin() + static_cast<ptrdiff_t>(kept), t.end());
}

