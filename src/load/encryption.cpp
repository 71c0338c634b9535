/*
 * Finding "/Encrypt" in the windows around trailers and cross-reference
 * streams, in time linear in the file however many windows overlap.
 */
#include "load/encryption.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pdf/lexer.h"
#include "pdf/search_memo.h"

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

