/*
 * Finding "/Encrypt" in the windows around trailers and cross-reference
 * streams, in time linear in the file however many windows overlap.
 */
#include "load/encryption.h"

#include <algorithm>

#include "pdf/lexer.h"
#include "pdf/search_memo.h"

namespace {

// The raw "/Encrypt" occurrences and the windows they are looked for in.
struct encrypt_finder {
    const char* buf;
    int32_t len;
    const landmarks& marks;

    // Whether "/Encrypt" lies wholly inside [lo, hi).
    bool in_window(int32_t lo, int32_t hi) const {
        auto it = std::lower_bound(marks.encrypt.begin(), marks.encrypt.end(), lo);
        return it != marks.encrypt.end() && static_cast<int64_t>(*it) + 8 <= hi;
    }
};

}  // namespace

// Each file trailer, from "trailer" up to the next "startxref" (or the end).
static bool trailer_mentions_encryption(const encrypt_finder& ef) {
    search_memo startxref{ef.buf, ef.len, "startxref", find_kw};
    for (int32_t t : ef.marks.trailer) {
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
    for (int32_t k : ef.marks.xref) {
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

bool mentions_encryption(const char* buf, int32_t len, const landmarks& marks) {
    if (marks.encrypt.empty()) return false;
    encrypt_finder ef{buf, len, marks};
    return trailer_mentions_encryption(ef) || xref_mentions_encryption(ef);
}

bool mentions_encryption(const char* buf, int32_t len) { return mentions_encryption(buf, len, find_landmarks(buf, len)); }
