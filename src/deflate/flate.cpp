/*
 * DEFLATE encoder (zlib-wrapped, dynamic Huffman blocks only, greedy hash-chain
 * matching over 128 candidates, or 8 for the fast effort) and a small
 * bit-serial decoder for raw DEFLATE data.
 *
 * The encoder's output is fixed to the last bit: the match finder, the
 * Huffman builder's heap order and tie-breaks and the length-limit fix-up
 * all follow one exact recipe, so equal inputs always give equal streams.
 * All working state lives in the call; nothing is shared between calls.
 */
#include "flate.h"

#include "deflate_tables.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t first_cap = 0x100000;
constexpr size_t block_max = 65536;
constexpr int hash_size = 32768;
constexpr uint32_t hash_mask = 0x7FFF;
constexpr uint32_t window = 32768;
constexpr uint32_t window_mask = window - 1;
constexpr uint32_t min_match = 3;
constexpr uint32_t max_match = 258;

constexpr int lit_leaves = 286;
constexpr int dist_leaves = 30;
constexpr int bl_leaves = 19;
constexpr int heap_slots = 575;

using deflate_tables::code_length_order;
using deflate_tables::dist_base;
using deflate_tables::dist_extra;
using deflate_tables::len_base;
using deflate_tables::len_extra;

// ---------------------------------------------------------------- encoder

struct ds_buf {
    uint32_t bitbuf;
    int32_t bitcnt;
    uint8_t* data;  // null once a growth failed: the call is then lost
    size_t len;
    size_t cap;
};

struct d_sym {
    uint16_t len;  // 0 for a literal
    uint16_t val;  // the literal byte or the match distance
};

struct d_node {
    uint32_t freq;
    int16_t len;
    uint16_t code;
    int16_t dad;
};

struct d_heap {
    int32_t heap[heap_slots];
    int16_t depth[heap_slots];
    int32_t heap_len;
    int32_t heap_max;
    int32_t max_code;
};

struct d_trees {
    d_node lit[2 * lit_leaves];
    d_node dist[2 * dist_leaves + 1];
    d_node bl[2 * bl_leaves + 1];
    d_heap work;
};

// Chain heads and links, and the symbols of one block (stored right behind
// the struct in the same allocation).
struct d_tables {
    int32_t head[hash_size];
    int32_t prev[window];
    d_sym* syms;
};

void ds_store(ds_buf* s, uint8_t byte) {
    if (s->len == s->cap) {
        size_t cap = s->cap ? s->cap * 2 : first_cap;
        auto* grown = static_cast<uint8_t*>(realloc(s->data, cap));
        if (!grown) {
            free(s->data);
            s->data = nullptr;
            return;
        }
        s->data = grown;
        s->cap = cap;
    }
    s->data[s->len++] = byte;
}

void ds_put(ds_buf* s, uint32_t value, int nbits) {
    s->bitbuf |= value << s->bitcnt;
    s->bitcnt += nbits;
    // Whole bytes go straight into the buffer while it has room for them.
    if (s->bitcnt > 7 && s->data && s->len + 4 <= s->cap) {
        do {
            s->data[s->len++] = static_cast<uint8_t>(s->bitbuf);
            s->bitbuf >>= 8;
            s->bitcnt -= 8;
        } while (s->bitcnt > 7);
        return;
    }
    while (s->bitcnt > 7) {
        if (s->data) ds_store(s, static_cast<uint8_t>(s->bitbuf));
        s->bitbuf >>= 8;
        s->bitcnt -= 8;
    }
}

void ds_code(ds_buf* s, const d_node& n) { ds_put(s, n.code, n.len); }

uint32_t d_hash(const uint8_t* p) { return (p[0] * 961u + p[1] * 31u + p[2]) & hash_mask; }

struct d_match {
    uint32_t len;
    uint32_t dist;
};

// How far a and b agree, from min_match up to limit; eight bytes at a time
// while eight remain below limit.
uint32_t d_extend(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = min_match;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    while (n + 8 <= limit) {
        uint64_t x, y;
        memcpy(&x, a + n, 8);
        memcpy(&y, b + n, 8);
        if (x != y) return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
#endif
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

// Greedy longest match at k over at most `chain` candidates, nearest first;
// a later candidate must be strictly longer to win.
d_match d_search(const uint8_t* data, uint32_t n, uint32_t k, uint32_t hash, const d_tables* t, int chain) {
    int32_t limit = k >= window ? static_cast<int32_t>(k - window) : 0;
    uint32_t longest = n - k < max_match ? n - k : max_match;
    const uint8_t* here = data + k;
    d_match best{2, 0};
    int32_t cand = t->head[hash];
    for (int examined = 0; cand > limit && examined < chain && best.len < longest; examined++) {
        const uint8_t* there = data + cand;
        // Only a candidate that also matches at best.len can be longer.
        if (there[best.len] == here[best.len] && there[0] == here[0] && there[1] == here[1] &&
            there[2] == here[2]) {
            uint32_t len = d_extend(there, here, longest);
            if (len > best.len) {
                best = {len, k - static_cast<uint32_t>(cand)};
            }
        }
        cand = t->prev[static_cast<uint32_t>(cand) & window_mask];
    }
    return best.len >= min_match ? best : d_match{0, 0};
}

// The symbol of a match length (3..258) and of a distance (1..32768): the
// last base at or below the value. Distances above 256 change symbol only
// at multiples of 128 (plus one), so they are looked up by (d - 1) >> 7.
struct d_code_tables {
    uint8_t len[max_match + 1];
    uint8_t dist_low[257];
    uint8_t dist_high[256];
};

constexpr int d_last_base(const int32_t* base, int top, uint32_t value) {
    int i = 0;
    while (i < top && static_cast<uint32_t>(base[i + 1]) <= value) i++;
    return i;
}

constexpr d_code_tables make_code_tables() {
    d_code_tables c{};
    for (uint32_t v = min_match; v <= max_match; v++) c.len[v] = static_cast<uint8_t>(d_last_base(len_base, 28, v));
    for (uint32_t d = 1; d <= 256; d++) c.dist_low[d] = static_cast<uint8_t>(d_last_base(dist_base, 29, d));
    for (uint32_t h = 2; h < 256; h++) c.dist_high[h] = static_cast<uint8_t>(d_last_base(dist_base, 29, (h << 7) + 1));
    return c;
}
constexpr d_code_tables code_tables = make_code_tables();

int d_length_code(uint32_t len) { return code_tables.len[len]; }
int d_distance_code(uint32_t dist) {
    return dist <= 256 ? code_tables.dist_low[dist] : code_tables.dist_high[(dist - 1) >> 7];
}

// Splits a block into literals and matches, counting symbol frequencies.
size_t d_find_symbols(const uint8_t* data, uint32_t n, d_tables* t, d_trees* tr, int chain) {
    size_t count = 0;
    uint32_t k = 0;
    while (k < n) {
        // The hash at k serves the search and the insertion of k alike.
        uint32_t hash_k = k + min_match <= n ? d_hash(data + k) : 0;
        d_match m = k + min_match <= n ? d_search(data, n, k, hash_k, t, chain) : d_match{0, 0};
        uint32_t next;
        if (m.len) {
            tr->lit[257 + d_length_code(m.len)].freq++;
            tr->dist[d_distance_code(m.dist)].freq++;
            t->syms[count++] = {static_cast<uint16_t>(m.len), static_cast<uint16_t>(m.dist)};
            next = k + m.len;
        } else {
            tr->lit[data[k]].freq++;
            t->syms[count++] = {0, data[k]};
            next = k + 1;
        }
        for (uint32_t p = k; p < next && p + min_match <= n; p++) {
            uint32_t h = p == k ? hash_k : d_hash(data + p);
            t->prev[p & window_mask] = t->head[h];
            t->head[h] = static_cast<int32_t>(p);
        }
        k = next;
    }
    return count;
}

// a sorts before b: rarer, or as rare and no taller.
bool d_smaller(const d_node* tree, const d_heap* w, int a, int b) {
    return tree[a].freq < tree[b].freq || (tree[a].freq == tree[b].freq && w->depth[a] <= w->depth[b]);
}

void d_pqdown(d_heap* w, const d_node* tree, int k) {
    int v = w->heap[k];
    while (k <= w->heap_len / 2) {
        int j = 2 * k;
        if (j < w->heap_len) {
            int l = w->heap[j];
            int r = w->heap[j + 1];
            if (tree[r].freq < tree[l].freq || (tree[r].freq == tree[l].freq && w->depth[r] < w->depth[l])) j++;
        }
        if (d_smaller(tree, w, v, w->heap[j])) break;
        w->heap[k] = w->heap[j];
        k = j;
    }
    w->heap[k] = v;
}

void d_fill_heap(d_heap* w, d_node* tree, int elems) {
    memset(w, 0, sizeof *w);
    w->heap_max = heap_slots;
    w->max_code = -1;
    for (int n = 0; n < elems; n++) {
        if (tree[n].freq != 0) {
            w->heap[++w->heap_len] = n;
            w->max_code = n;
        } else {
            tree[n].len = 0;
        }
    }
    // A code needs two symbols; the extra one is a cheap low index.
    while (w->heap_len < 2) {
        int node = w->max_code < 2 ? ++w->max_code : 0;
        w->heap[++w->heap_len] = node;
        tree[node].freq = 1;
    }
    for (int k = w->heap_len / 2; k >= 1; k--) d_pqdown(w, tree, k);
}

// Pairs the two rarest nodes until one is left; the removed-node area ends up
// holding every node, parents above their children.
void d_combine(d_heap* w, d_node* tree, int elems) {
    int node = elems;
    while (w->heap_len > 1) {
        int n = w->heap[1];
        w->heap[1] = w->heap[w->heap_len--];
        d_pqdown(w, tree, 1);
        int m = w->heap[1];
        w->heap[--w->heap_max] = n;
        w->heap[--w->heap_max] = m;
        tree[node].freq = tree[n].freq + tree[m].freq;
        int16_t deeper = w->depth[n] >= w->depth[m] ? w->depth[n] : w->depth[m];
        w->depth[node] = static_cast<int16_t>(deeper + 1);
        tree[n].dad = tree[m].dad = static_cast<int16_t>(node);
        w->heap[1] = node++;
        d_pqdown(w, tree, 1);
    }
    w->heap[--w->heap_max] = w->heap[1];
}

// Moves leaves down from too-long lengths and hands the lengths out again,
// the longest ones to the leaves that left the heap first.
void d_fix_overflow(d_heap* w, d_node* tree, int max_length, int* bl_count, int overflow) {
    do {
        int bits = max_length - 1;
        while (bits >= 1 && bl_count[bits] == 0) bits--;
        if (bits < 1) break;
        bl_count[bits]--;
        bl_count[bits + 1] += 2;
        bl_count[max_length]--;
        overflow -= 2;
    } while (overflow > 0);
    int h = heap_slots;
    for (int bits = max_length; bits != 0; bits--) {
        for (int n = bl_count[bits]; n != 0;) {
            int m = w->heap[--h];
            if (m > w->max_code) continue;
            tree[m].len = static_cast<int16_t>(bits);
            n--;
        }
    }
}

void d_gen_lengths(d_heap* w, d_node* tree, int max_length) {
    int bl_count[16] = {};
    int overflow = 0;
    tree[w->heap[w->heap_max]].len = 0;
    for (int h = w->heap_max + 1; h < heap_slots; h++) {
        int n = w->heap[h];
        int bits = tree[tree[n].dad].len + 1;
        if (bits > max_length) {
            bits = max_length;
            overflow++;
        }
        tree[n].len = static_cast<int16_t>(bits);
        if (n <= w->max_code) bl_count[bits]++;
    }
    if (overflow) d_fix_overflow(w, tree, max_length, bl_count, overflow);
}

uint16_t d_reverse(uint32_t code, int len) {
    uint32_t r = 0;
    for (int i = 0; i < len; i++, code >>= 1) r = (r << 1) | (code & 1);
    return static_cast<uint16_t>(r);
}

void d_gen_codes(d_node* tree, int max_code) {
    uint32_t count[16] = {};
    uint32_t next[16] = {};
    for (int n = 0; n <= max_code; n++)
        if (tree[n].len) count[tree[n].len]++;
    for (int b = 1; b <= 15; b++) next[b] = (next[b - 1] + count[b - 1]) << 1;
    for (int n = 0; n <= max_code; n++) {
        int len = tree[n].len;
        tree[n].code = len ? d_reverse(next[len]++, len) : 0;
    }
}

int d_build(d_heap* w, d_node* tree, int elems, int max_length) {
    d_fill_heap(w, tree, elems);
    d_combine(w, tree, elems);
    d_gen_lengths(w, tree, max_length);
    d_gen_codes(tree, w->max_code);
    return w->max_code;
}

// One run of equal code lengths, as d_scan_tree and d_send_tree see it.
struct d_run {
    int len;
    int count;
    bool lead;  // the run starts with the length's own code
    int symbol; // 16, 17 or 18; -1 when the length is repeated literally
};

struct d_run_walk {
    int prevlen;
    int max_count;
    int min_count;
};

d_run_walk d_walk_start(const d_node* tree) {
    return tree[0].len == 0 ? d_run_walk{-1, 138, 3} : d_run_walk{-1, 7, 4};
}

// Classifies the run just ended and sets the walk up for the next one.
d_run d_close_run(d_run_walk* w, int curlen, int count, int nextlen) {
    d_run r{curlen, count, false, -1};
    if (count >= w->min_count) {
        if (curlen != 0) {
            r.lead = curlen != w->prevlen;
            if (r.lead) r.count--;
            r.symbol = 16;
        } else {
            r.symbol = count <= 10 ? 17 : 18;
        }
    }
    if (nextlen == 0) {
        *w = {curlen, 138, 3};
    } else if (curlen == nextlen) {
        *w = {curlen, 6, 3};
    } else {
        *w = {curlen, 7, 4};
    }
    return r;
}

template <class Visit>
void d_walk_runs(const d_node* tree, int max_code, Visit visit) {
    d_run_walk w = d_walk_start(tree);
    int nextlen = tree[0].len;
    int count = 0;
    for (int n = 0; n <= max_code; n++) {
        int curlen = nextlen;
        nextlen = tree[n + 1].len;
        if (++count < w.max_count && curlen == nextlen) continue;
        visit(d_close_run(&w, curlen, count, nextlen));
        count = 0;
    }
}

void d_scan_tree(const d_node* tree, int max_code, d_node* bl_tree) {
    d_walk_runs(tree, max_code, [&](const d_run& r) {
        if (r.symbol < 0) {
            bl_tree[r.len].freq += static_cast<uint32_t>(r.count);
            return;
        }
        if (r.lead) bl_tree[r.len].freq++;
        bl_tree[r.symbol].freq++;
    });
}

void d_send_tree(ds_buf* s, const d_node* tree, int max_code, const d_node* bl_tree) {
    d_walk_runs(tree, max_code, [&](const d_run& r) {
        if (r.symbol < 0) {
            for (int i = 0; i < r.count; i++) ds_code(s, bl_tree[r.len]);
            return;
        }
        if (r.lead) ds_code(s, bl_tree[r.len]);
        ds_code(s, bl_tree[r.symbol]);
        if (r.symbol == 16) ds_put(s, static_cast<uint32_t>(r.count - 3), 2);
        if (r.symbol == 17) ds_put(s, static_cast<uint32_t>(r.count - 3), 3);
        if (r.symbol == 18) ds_put(s, static_cast<uint32_t>(r.count - 11), 7);
    });
}

struct d_shape {
    int lmax;
    int dmax;
    int mb;  // index into code_length_order of the last code-length length sent
};

d_shape d_build_trees(d_trees* tr) {
    d_shape sh{};
    sh.lmax = d_build(&tr->work, tr->lit, lit_leaves, 15);
    sh.dmax = d_build(&tr->work, tr->dist, dist_leaves, 15);
    memset(tr->bl, 0, sizeof tr->bl);
    tr->lit[sh.lmax + 1].len = -1;
    tr->dist[sh.dmax + 1].len = -1;
    d_scan_tree(tr->lit, sh.lmax, tr->bl);
    d_scan_tree(tr->dist, sh.dmax, tr->bl);
    d_build(&tr->work, tr->bl, bl_leaves, 7);
    sh.mb = 18;
    while (sh.mb >= 4 && tr->bl[code_length_order[sh.mb]].len == 0) sh.mb--;
    return sh;
}

void d_send_header(ds_buf* s, const d_trees* tr, const d_shape& sh, bool final) {
    ds_put(s, final ? 1 : 0, 1);
    ds_put(s, 2, 2);
    ds_put(s, static_cast<uint32_t>(sh.lmax - 256), 5);
    ds_put(s, static_cast<uint32_t>(sh.dmax), 5);
    ds_put(s, static_cast<uint32_t>(sh.mb - 3), 4);
    for (int i = 0; i <= sh.mb; i++) ds_put(s, static_cast<uint32_t>(tr->bl[code_length_order[i]].len), 3);
    d_send_tree(s, tr->lit, sh.lmax, tr->bl);
    d_send_tree(s, tr->dist, sh.dmax, tr->bl);
}

void d_send_symbols(ds_buf* s, const d_trees* tr, const d_sym* syms, size_t count) {
    for (size_t i = 0; i < count; i++) {
        const d_sym& sym = syms[i];
        if (sym.len == 0) {
            ds_code(s, tr->lit[sym.val]);
            continue;
        }
        int li = d_length_code(sym.len);
        ds_code(s, tr->lit[257 + li]);
        if (len_extra[li]) ds_put(s, sym.len - static_cast<uint32_t>(len_base[li]), len_extra[li]);
        int di = d_distance_code(sym.val);
        ds_code(s, tr->dist[di]);
        if (dist_extra[di]) ds_put(s, sym.val - static_cast<uint32_t>(dist_base[di]), dist_extra[di]);
    }
    ds_code(s, tr->lit[256]);
}

// Empties the hash heads a block filled, so that the next block starts
// with none (head 0 ends a chain). prev needs no clearing: a chain reads
// prev only at positions inserted in its own block and within the window.
// A short block is cleared through its own hashes, cheaper than the table.
void d_clear_heads(const uint8_t* data, uint32_t n, d_tables* t) {
    if (n >= hash_size / 4) {
        memset(t->head, 0, sizeof t->head);
        return;
    }
    for (uint32_t p = 0; p + min_match <= n; p++) t->head[d_hash(data + p)] = 0;
}

// Codes n bytes as one dynamic block; no match reaches into an earlier block.
void d_emit_block(ds_buf* s, const uint8_t* data, uint32_t n, bool final, d_tables* t, d_trees* tr, int chain) {
    memset(tr, 0, sizeof *tr);
    tr->lit[256].freq = 1;
    size_t count = d_find_symbols(data, n, t, tr, chain);
    d_clear_heads(data, n, t);
    d_shape sh = d_build_trees(tr);
    d_send_header(s, tr, sh, final);
    d_send_symbols(s, tr, t->syms, count);
}

void ds_adler(ds_buf* s, const uint8_t* data, size_t len) {
    uint32_t s1 = 1;
    uint32_t s2 = 0;
    while (len > 0) {
        size_t run = len < 5552 ? len : 5552;
        for (size_t i = 0; i < run; i++) {
            s1 += data[i];
            s2 += s1;
        }
        s1 %= 65521;
        s2 %= 65521;
        data += run;
        len -= run;
    }
    ds_put(s, s2 >> 8, 8);
    ds_put(s, s2 & 0xFF, 8);
    ds_put(s, s1 >> 8, 8);
    ds_put(s, s1 & 0xFF, 8);
}

void ds_finish(ds_buf* s, const uint8_t* data, size_t len) {
    if (s->bitcnt > 0) ds_put(s, 0, 8);
    s->bitbuf = 0;
    s->bitcnt = 0;
    ds_adler(s, data, len);
}

d_tables* d_alloc_tables(size_t len) {
    size_t block = len < block_max ? len : block_max;
    size_t syms = block ? block : 1;
    auto* t = static_cast<d_tables*>(malloc(sizeof(d_tables) + syms * sizeof(d_sym)));
    if (!t) return nullptr;
    memset(t->head, 0, sizeof t->head);
    t->syms = reinterpret_cast<d_sym*>(t + 1);
    return t;
}

// ---------------------------------------------------------------- decoder

// The cursor also carries the pending bits; error is sticky for the call.
struct sx_in {
    const uint8_t* data;
    size_t pos;
    size_t len;
    int32_t error;
    uint64_t bitbuf;
    int32_t bitcnt;
};

struct sx_huff {
    int32_t count[16];
    int32_t first[16];
    int32_t index[16];
    uint16_t symbol[288];
};

struct sx_out {
    uint8_t* data;
    size_t pos;
    size_t cap;
};

int in_bits(sx_in* in, int n) {
    while (in->bitcnt < n) {
        if (in->pos >= in->len) {
            in->error = 1;
            return 0;
        }
        in->bitbuf |= static_cast<uint64_t>(in->data[in->pos++]) << in->bitcnt;
        in->bitcnt += 8;
    }
    int v = static_cast<int>(in->bitbuf & ((uint64_t{1} << n) - 1));
    in->bitbuf >>= n;
    in->bitcnt -= n;
    return v;
}

int huff_decode(sx_in* in, const sx_huff* t) {
    int code = 0;
    for (int len = 1; len <= 15; len++) {
        code = (code << 1) | in_bits(in, 1);
        if (in->error) return -1;
        if (t->first[len] <= code && code < t->first[len] + t->count[len])
            return t->symbol[t->index[len] + code - t->first[len]];
    }
    in->error = 1;
    return -1;
}

int huff_build(sx_in* in, sx_huff* t, const int32_t* lengths, int n) {
    memset(t, 0, sizeof *t);
    for (int i = 0; i < n; i++) t->count[lengths[i]]++;
    t->count[0] = 0;
    int left = 1;
    for (int len = 1; len <= 15; len++) {
        left = left * 2 - t->count[len];
        if (left < 0) {
            in->error = 1;
            return 0;
        }
    }
    for (int len = 2; len <= 15; len++) {
        t->first[len] = (t->first[len - 1] + t->count[len - 1]) * 2;
        t->index[len] = t->index[len - 1] + t->count[len - 1];
    }
    int32_t next[16];
    memcpy(next, t->index, sizeof next);
    for (int i = 0; i < n; i++)
        if (lengths[i]) t->symbol[next[lengths[i]]++] = static_cast<uint16_t>(i);
    return 1;
}

int inflate_block_body(sx_in* in, const sx_huff* lit, const sx_huff* dist, sx_out* out) {
    for (;;) {
        int sym = huff_decode(in, lit);
        if (in->error) return 0;
        if (sym < 256) {
            if (out->pos >= out->cap) return 0;
            out->data[out->pos++] = static_cast<uint8_t>(sym);
            continue;
        }
        if (sym == 256) return 1;
        if (sym > 285) return 0;
        size_t len = static_cast<size_t>(len_base[sym - 257] + in_bits(in, len_extra[sym - 257]));
        int d = huff_decode(in, dist);
        if (in->error) return 0;
        size_t distance = static_cast<size_t>(dist_base[d] + in_bits(in, dist_extra[d]));
        if (in->error || distance > out->pos || len > out->cap - out->pos) return 0;
        for (size_t i = 0; i < len; i++, out->pos++) out->data[out->pos] = out->data[out->pos - distance];
    }
}

int inflate_block_fixed(sx_in* in, sx_out* out) {
    int32_t lit_lens[288];
    int32_t dist_lens[30];
    for (int i = 0; i < 288; i++) lit_lens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    for (int i = 0; i < 30; i++) dist_lens[i] = 5;
    sx_huff lit;
    sx_huff dist;
    huff_build(in, &lit, lit_lens, 288);
    huff_build(in, &dist, dist_lens, 30);
    return inflate_block_body(in, &lit, &dist, out);
}

// Reads the run-length coded code lengths of a dynamic block into all_lens.
int read_lengths(sx_in* in, const sx_huff* cl, int32_t* all_lens, int total) {
    int i = 0;
    while (i < total) {
        int sym = huff_decode(in, cl);
        if (in->error) return 0;
        if (sym < 16) {
            all_lens[i++] = sym;
            continue;
        }
        int32_t len = 0;
        int repeat;
        if (sym == 16) {
            if (i == 0) return 0;
            len = all_lens[i - 1];
            repeat = 3 + in_bits(in, 2);
        } else if (sym == 17) {
            repeat = 3 + in_bits(in, 3);
        } else {
            repeat = 11 + in_bits(in, 7);
        }
        if (in->error || i + repeat > total) return 0;
        while (repeat--) all_lens[i++] = len;
    }
    return 1;
}

int inflate_block_dynamic(sx_in* in, sx_out* out) {
    int nlen = in_bits(in, 5) + 257;
    int ndist = in_bits(in, 5) + 1;
    int ncode = in_bits(in, 4) + 4;
    if (in->error || nlen > 286 || ndist > 30) return 0;
    int32_t cl_lens[19] = {};
    for (int i = 0; i < ncode; i++) cl_lens[code_length_order[i]] = in_bits(in, 3);
    if (in->error) return 0;
    sx_huff cl;
    if (!huff_build(in, &cl, cl_lens, 19)) return 0;
    int32_t all_lens[320];
    if (!read_lengths(in, &cl, all_lens, nlen + ndist)) return 0;
    sx_huff lit;
    sx_huff dist;
    if (!huff_build(in, &lit, all_lens, nlen) || !huff_build(in, &dist, all_lens + nlen, ndist)) return 0;
    return inflate_block_body(in, &lit, &dist, out);
}

int inflate_block_stored(sx_in* in, sx_out* out) {
    in->bitbuf = 0;
    in->bitcnt = 0;
    if (in->len - in->pos < 4) return 0;
    const uint8_t* p = in->data + in->pos;
    size_t len = p[0] | static_cast<size_t>(p[1]) << 8;
    size_t nlen = p[2] | static_cast<size_t>(p[3]) << 8;
    in->pos += 4;
    if (nlen != (~len & 0xFFFF) || len > in->len - in->pos || len > out->cap - out->pos) return 0;
    if (len) memcpy(out->data + out->pos, in->data + in->pos, len);
    in->pos += len;
    out->pos += len;
    return 1;
}

}  // namespace

int sx_deflate(const uint8_t* data, size_t len, uint8_t** out, size_t* out_len, deflate_effort effort) {
    const int chain = effort == deflate_effort::fast ? 8 : 128;
    // Many small streams are compressed one after another: start with room
    // for about what stored blocks would take, not a fixed megabyte.
    size_t cap = len / 2 + 1024 < first_cap ? len / 2 + 1024 : first_cap;
    ds_buf s{0, 0, static_cast<uint8_t*>(malloc(cap)), 0, cap};
    if (!s.data) return -1;
    ds_put(&s, 0x78, 8);
    ds_put(&s, 0x01, 8);
    d_tables* t = d_alloc_tables(len);
    if (t) {
        d_trees tr;
        size_t done = 0;
        do {
            size_t n = len - done < block_max ? len - done : block_max;
            d_emit_block(&s, data + done, static_cast<uint32_t>(n), done + n == len, t, &tr, chain);
            done += n;
        } while (done < len && s.data);
        ds_finish(&s, data, len);
    }
    free(t);
    if (!t || !s.data) {
        free(s.data);
        return -1;
    }
    *out = s.data;
    *out_len = s.len;
    return 0;
}

int sx_inflate(const uint8_t* src, size_t srclen, uint8_t* dst, size_t dstcap) {
    sx_in in{src, 0, srclen, 0, 0, 0};
    sx_out out{dst, 0, dstcap};
    for (;;) {
        int final = in_bits(&in, 1);
        int type = in_bits(&in, 2);
        if (in.error) return -1;
        int ok = type == 0   ? inflate_block_stored(&in, &out)
                 : type == 1 ? inflate_block_fixed(&in, &out)
                 : type == 2 ? inflate_block_dynamic(&in, &out)
                             : 0;
        if (!ok) return -1;
        if (final) return out.pos > INT_MAX ? -1 : static_cast<int>(out.pos);
    }
}
