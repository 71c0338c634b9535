/*
 * A forward search remembered, so that searches from increasing positions
 * pass over a buffer once in all.
 */
#ifndef MORVEL_PDF_SEARCH_MEMO_H
#define MORVEL_PDF_SEARCH_MEMO_H

#include <cstdint>

// The first hit of find(buf, len, x, kw) at or after x; a later x up to the
// last hit is answered without searching again.
struct search_memo {
    const char* buf;
    int32_t len;
    const char* kw;
    int32_t (*find)(const char* buf, int32_t len, int32_t from, const char* kw);
    int32_t from = -1;
    int32_t hit = -1;

    int32_t next(int32_t x) {
        if (from >= 0 && x >= from && (hit < 0 || x <= hit)) return hit;
        from = x;
        hit = find(buf, len, x, kw);
        return hit;
    }
};

#endif
