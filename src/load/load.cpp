/*
 * Document loading: refusing encrypted files, the order of the loading steps, duplicate resolution and the table's number index.
 *
 * The object scanner and the stream-extent rules live in objscan.cpp, the
 * unpacking of object streams in objstm.cpp.
 */
#include "load/load.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "load/stream_lengths.h"
#include "pdf/lexer.h"
#include "load/xref.h"

// A flat array by number is the fast index, but only while the numbers are
// dense enough that it stays small next to the table itself.
static bool dense_numbers(int32_t max, size_t count) {
    return max <= MAX_OBJ_NUM && static_cast<size_t>(max) <= 4 * count + 4096;
}

void obj_list::build_index() {
    flat_.clear();
    sparse_.clear();
    int32_t max = 0;
    for (const pdf_obj& o : items) max = std::max(max, o.num);
    if (dense_numbers(max, items.size())) flat_.assign(static_cast<size_t>(max) + 1, -1);
    for (size_t i = 0; i < items.size(); i++) {
        int32_t n = items[i].num;
        if (n <= 0) continue;
        if (static_cast<size_t>(n) < flat_.size()) {
            if (flat_[static_cast<size_t>(n)] < 0) flat_[static_cast<size_t>(n)] = static_cast<int32_t>(i);
        } else {
            sparse_.emplace(n, static_cast<int32_t>(i));
        }
    }
}

int32_t obj_list::position(int32_t num) const {
    if (num <= 0) return -1;
    if (static_cast<size_t>(num) < flat_.size()) return flat_[static_cast<size_t>(num)];
    auto it = sparse_.find(num);
    return it == sparse_.end() ? -1 : it->second;
}

pdf_obj* obj_list::find(int32_t num) {
    int32_t p = position(num);
    return p < 0 ? nullptr : &items[static_cast<size_t>(p)];
}

const pdf_obj* obj_list::find(int32_t num) const {
    int32_t p = position(num);
    return p < 0 ? nullptr : &items[static_cast<size_t>(p)];
}

namespace {

// The raw "/Encrypt" occurrences and the windows they are looked for in.
struct encrypt_finder {
    const char* buf;
    int32_t len;
    std::vector<int32_t> hits;  // ascending

    // Whether "/Encrypt" lies wholly inside [lo, hi).
    bool in_window(int32_t lo, int32_t hi) const {
        auto it = std::lower_bound(hits.begin(), hits.end(), lo);
        return it != hits.end() && static_cast<int64_t>(*it) + 8 <= hi;
    }
};

}  // namespace

static std::vector<int32_t> raw_occurrences(const char* buf, int32_t len, const char* what) {
    std::vector<int32_t> at;
    size_t n = strlen(what);
    const char* p = buf;
    const char* end = buf + len;
    while (static_cast<size_t>(end - p) >= n) {
        const void* hit = memmem(p, static_cast<size_t>(end - p), what, n);
        if (!hit) break;
        p = static_cast<const char*>(hit);
        at.push_back(static_cast<int32_t>(p - buf));
        p++;
    }
    return at;
}

// Each file trailer, from "trailer" up to the next "startxref" (or the end).
static bool trailer_mentions_encryption(const encrypt_finder& ef) {
    search_memo startxref{ef.buf, ef.len, "startxref", find_kw};
    for (int32_t t = find_kw(ef.buf, ef.len, 0, "trailer"); t >= 0;
         t = find_kw(ef.buf, ef.len, t + 7, "trailer")) {
        int32_t s = startxref.next(t);
        if (ef.in_window(t, s >= 0 ? s : ef.len)) return true;
    }
    return false;
}

// Each "/XRef" (raw bytes), from 2048 bytes before it up to the first
// "stream" keyword within 2048 bytes after it.
static bool xref_mentions_encryption(const encrypt_finder& ef) {
    if (ef.len < 5) return false;
    search_memo streams{ef.buf, ef.len, "stream", find_kw};
    for (int32_t k : raw_occurrences(ef.buf, ef.len, "/XRef")) {
        int32_t lo = std::max(k - 2048, 0);
        int32_t lim = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(k) + 2048, ef.len));
        if (!ef.in_window(lo, lim)) continue;
        // A keyword that only counts because it ends exactly at lim would
        // leave fewer than 8 bytes before lim: it cannot change the answer.
        int32_t s = streams.next(k);
        if (ef.in_window(lo, s >= 0 && s <= lim - 6 ? s : lim)) return true;
    }
    return false;
}

bool mentions_encryption(const char* buf, int32_t len) {
    encrypt_finder ef{buf, len, raw_occurrences(buf, len, "/Encrypt")};
    if (ef.hits.empty()) return false;
    return trailer_mentions_encryption(ef) || xref_mentions_encryption(ef);
}

void resolve_duplicates(const input_file& input, obj_list& objects) {
    std::vector<pdf_obj>& t = objects.items;
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
    if (chain_live_definitions(input, t, objects.xref_streams, dups, winner))
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

status load_objects(const input_file& input, obj_list& objects) {
    if (mentions_encryption(input.data.get(), input.len)) return failure(problem::encrypted);
    objects.items.clear();
    objects.xref_streams.clear();
    scan_objects(input, objects.items);
    expand_object_streams(objects.items, objects.xref_streams);
    resolve_duplicates(input, objects);
    objects.build_index();
    fix_referenced_lengths(input, objects);
    if (objects.items.empty()) return failure(problem::no_objects);
    return {};
}
