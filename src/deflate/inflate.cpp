/*
 * zlib stream decoder used to expand object streams, and the PNG row
 * predictors that undo filtered rows in place.
 *
 * The decoder looks codes up in tables, but its outcome is defined as that of
 * reading the stream one bit at a time: a code is taken only when all of its
 * bits are in the input, a bit pattern that matches no code is only refused
 * once 15 bits of it are there, and running out of input anywhere makes the
 * whole call fail. It therefore keeps an exact count of the bits it holds and
 * never lets a look-ahead past the end of the input decide anything.
 */
#include "inflate.h"

#include "deflate_tables.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t max_capacity = 0x40000000;
constexpr unsigned max_bits = 15;
constexpr unsigned lit_root = 10;
constexpr unsigned dist_root = 9;
constexpr unsigned cl_root = 7;
// The most bits one literal/length symbol and its distance can take.
constexpr unsigned symbol_bits = 48;

using deflate_tables::code_length_order;
using deflate_tables::dist_base;
using deflate_tables::dist_extra;
using deflate_tables::len_base;
using deflate_tables::len_extra;

// Why decoding stopped; the first reason found sticks.
enum class stop : uint8_t { none, fault, full, short_input, no_memory };

enum class kind : uint8_t {
    literal,      // value is the byte (or the code-length symbol)
    base,         // value plus extra bits: a match length or a distance
    end,          // end of block
    bad,          // literal/length symbol 286 or 287
    longer,       // no code of up to the table's bits: walk the code bit by bit
    none,         // 15 bits matched no code
    short_input,  // the input ended inside the code
};

struct entry {
    uint16_t value;
    uint8_t length;  // bits of the code itself
    uint8_t op;      // kind in the low 4 bits, extra bits in the high 4

    constexpr kind what() const { return static_cast<kind>(op & 0x0F); }
    constexpr unsigned extra() const { return op >> 4u; }
};

constexpr entry make_entry(kind k, unsigned value = 0, unsigned length = 0, unsigned extra = 0) {
    return {static_cast<uint16_t>(value), static_cast<uint8_t>(length),
            static_cast<uint8_t>(static_cast<unsigned>(k) | extra << 4)};
}

enum class alphabet : uint8_t { litlen, dist, lengths };

constexpr entry symbol_entry(alphabet a, unsigned sym, unsigned length) {
    if (a == alphabet::dist) return make_entry(kind::base, dist_base[sym], length, dist_extra[sym]);
    if (a == alphabet::lengths || sym < 256) return make_entry(kind::literal, sym, length);
    if (sym == 256) return make_entry(kind::end, 0, length);
    if (sym > 285) return make_entry(kind::bad, 0, length);
    return make_entry(kind::base, len_base[sym - 257], length, len_extra[sym - 257]);
}

// A canonical code as counts per length and symbols in code order, plus a
// table indexed by the next Root bits of the stream.
template <unsigned Root, unsigned Syms>
struct huffman {
    static constexpr uint64_t mask = (uint64_t{1} << Root) - 1;
    int16_t count[max_bits + 1];
    int16_t symbol[Syms];
    entry table[1u << Root];
};

using lit_huffman = huffman<lit_root, 288>;
using dist_huffman = huffman<dist_root, 30>;
using cl_huffman = huffman<cl_root, 19>;

constexpr unsigned reverse_bits(unsigned code, unsigned len) {
    unsigned r = 0;
    for (unsigned i = 0; i < len; i++, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

template <unsigned Root, unsigned Syms>
constexpr void fill_table(huffman<Root, Syms>& h, alphabet a) {
    for (auto& e : h.table) e = make_entry(kind::longer);
    unsigned code = 0;
    unsigned index = 0;
    for (unsigned len = 1; len <= Root; len++) {
        for (int c = 0; c < h.count[len]; c++, code++) {
            entry e = symbol_entry(a, static_cast<unsigned>(h.symbol[index + static_cast<unsigned>(c)]), len);
            for (unsigned r = reverse_bits(code, len); r < (1u << Root); r += 1u << len) h.table[r] = e;
        }
        index += static_cast<unsigned>(h.count[len]);
        code <<= 1;
    }
}

// 0 for a complete code (or no code at all), above 0 for an incomplete one,
// below 0 for an over-subscribed one (left unfinished).
template <unsigned Root, unsigned Syms>
constexpr int construct(huffman<Root, Syms>& h, const int16_t* length, unsigned n, alphabet a) {
    for (auto& c : h.count) c = 0;
    for (unsigned i = 0; i < n; i++) h.count[length[i]]++;
    int left = 1;
    if (h.count[0] != static_cast<int>(n)) {
        for (unsigned len = 1; len <= max_bits; len++) {
            left = left * 2 - h.count[len];
            if (left < 0) return left;
        }
        int16_t offs[max_bits + 1] = {};
        for (unsigned len = 1; len < max_bits; len++) offs[len + 1] = static_cast<int16_t>(offs[len] + h.count[len]);
        for (unsigned i = 0; i < n; i++)
            if (length[i]) h.symbol[offs[length[i]]++] = static_cast<int16_t>(i);
    }
    fill_table(h, a);
    return h.count[0] == static_cast<int>(n) ? 0 : left;
}

constexpr lit_huffman make_fixed_lit() {
    lit_huffman h{};
    int16_t l[288] = {};
    for (unsigned i = 0; i < 288; i++) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    construct(h, l, 288, alphabet::litlen);
    return h;
}

constexpr dist_huffman make_fixed_dist() {
    dist_huffman h{};
    int16_t l[30] = {};
    for (auto& x : l) x = 5;
    construct(h, l, 30, alphabet::dist);
    return h;
}

constexpr lit_huffman fixed_lit = make_fixed_lit();
constexpr dist_huffman fixed_dist = make_fixed_dist();

struct inf_state {
    uint8_t* out;
    size_t outlen;
    size_t outcnt;
    size_t limit;  // the output may grow to this (malloc'ed out); outlen when it may not
    const uint8_t* in;
    size_t inlen;
    size_t incnt;     // bytes moved into bitbuf so far
    uint64_t bitbuf;  // least significant bit first; bits above bitcnt may be ahead-read input
    unsigned bitcnt;
    stop status;
};

uint64_t load_le64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

// Afterwards bitcnt is at least 56, or all of the input is in bitbuf.
inline void refill(inf_state& s) {
    if (s.inlen - s.incnt >= 8) {
        s.bitbuf |= load_le64(s.in + s.incnt) << s.bitcnt;
        s.incnt += (63 - s.bitcnt) >> 3;
        s.bitcnt |= 56;
        return;
    }
    while (s.bitcnt <= 56 && s.incnt < s.inlen) {
        s.bitbuf |= uint64_t{s.in[s.incnt++]} << s.bitcnt;
        s.bitcnt += 8;
    }
}

inline unsigned take(inf_state& s, unsigned n) {
    auto v = static_cast<unsigned>(s.bitbuf & ((uint64_t{1} << n) - 1));
    s.bitbuf >>= n;
    s.bitcnt -= n;
    return v;
}

unsigned bits(inf_state& s, unsigned need) {
    if (s.bitcnt < need) refill(s);
    if (s.bitcnt < need) {
        s.status = stop::short_input;
        return 0;
    }
    return take(s, need);
}

// The code walked one bit at a time, for patterns longer than the table.
template <unsigned Root, unsigned Syms>
[[gnu::noinline]] entry walk(inf_state& s, const huffman<Root, Syms>& h, alphabet a) {
    int code = 0;
    int first = 0;
    int index = 0;
    uint64_t buf = s.bitbuf;
    for (unsigned len = 1; len <= max_bits; len++) {
        if (len > s.bitcnt) return make_entry(kind::short_input);
        code |= static_cast<int>(buf & 1);
        buf >>= 1;
        int count = h.count[len];
        if (code - count < first) {
            take(s, len);
            return symbol_entry(a, static_cast<unsigned>(h.symbol[index + (code - first)]), 0);
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return make_entry(kind::none);
}

// One symbol; the caller has made sure that 15 bits are held, or all input.
template <unsigned Root, unsigned Syms>
inline entry decode(inf_state& s, const huffman<Root, Syms>& h, alphabet a) {
    entry e = h.table[s.bitbuf & h.mask];
    if (e.what() == kind::longer) return walk(s, h, a);
    if (e.length > s.bitcnt) return make_entry(kind::short_input);
    take(s, e.length);
    return e;
}

// Makes room for need more output bytes, growing the buffer when that is
// allowed: stop::none, or why there is no room.
[[gnu::noinline]] stop grow(inf_state& s, size_t need) {
    if (need > s.limit - s.outcnt) return stop::full;
    size_t cap = std::max(s.outcnt + need, s.outlen > s.limit / 2 ? s.limit : 2 * s.outlen);
    void* bigger = realloc(s.out, cap);
    if (!bigger) return stop::no_memory;
    s.out = static_cast<uint8_t*>(bigger);
    s.outlen = cap;
    return stop::none;
}

inline stop room(inf_state& s, size_t need) { return need <= s.outlen - s.outcnt ? stop::none : grow(s, need); }

stop failed(const entry& e) { return e.what() == kind::short_input ? stop::short_input : stop::fault; }

// Copies a match whose source lies wholly before the destination position,
// repeating the recent bytes when the two overlap.
inline void copy_match(uint8_t* out, size_t dist, size_t len) {
    const uint8_t* from = out - dist;
    if (dist >= len) {
        memcpy(out, from, len);
    } else if (dist >= 8) {
        size_t i = 0;
        for (; i + 8 <= len; i += 8) memcpy(out + i, from + i, 8);
        if (i < len) memcpy(out + len - 8, from + len - 8, 8);
    } else if (dist == 1) {
        memset(out, *from, len);
    } else {
        for (size_t i = 0; i < len; i++) out[i] = from[i];
    }
}

// The same with room for 16 bytes past the match: whole words, the last
// one running over the end, where the bytes that follow overwrite it. A
// word never reads bytes not yet written when the distance is its size or
// more.
inline void copy_match_over(uint8_t* out, size_t dist, size_t len) {
    const uint8_t* from = out - dist;
    if (dist >= 16) {
        for (size_t i = 0; i < len; i += 16) memcpy(out + i, from + i, 16);
    } else if (dist >= 8) {
        for (size_t i = 0; i < len; i += 8) memcpy(out + i, from + i, 8);
    } else {
        copy_match(out, dist, len);
    }
}

// Room for the longest match and a word past it.
constexpr size_t fast_room = 258 + 16;

// The common case in a loop of its own: with eight bytes of input left
// after a refill and room for the longest match, no symbol can run out of
// either, so only the codes themselves are checked. The state lives in
// locals, where a store through the output pointer cannot change it (as
// far as the compiler knows, one could change s). A code longer than the
// table, the end of the block, a bad symbol or a distance too far back is
// left unread to the careful loop.
void fast_codes(inf_state& s, const lit_huffman& lc, const dist_huffman& dc) {
    const uint8_t* in = s.in;
    uint8_t* out = s.out;
    uint64_t buf = s.bitbuf;
    unsigned cnt = s.bitcnt;
    size_t incnt = s.incnt, outcnt = s.outcnt;
    const size_t inlen = s.inlen, outlen = s.outlen;
    while (inlen - incnt >= 8 && outlen - outcnt >= fast_room) {
        buf |= load_le64(in + incnt) << cnt;
        incnt += (63 - cnt) >> 3;
        cnt |= 56;
        entry e = lc.table[buf & lit_huffman::mask];
        if (e.what() == kind::literal) {
            buf >>= e.length;
            cnt -= e.length;
            out[outcnt++] = static_cast<uint8_t>(e.value);
            continue;
        }
        if (e.what() != kind::base) break;
        unsigned used = e.length + e.extra();
        size_t len = e.value + ((buf >> e.length) & ((uint64_t{1} << e.extra()) - 1));
        entry d = dc.table[(buf >> used) & dist_huffman::mask];
        if (d.what() != kind::base) break;
        size_t dist = d.value + ((buf >> (used + d.length)) & ((uint64_t{1} << d.extra()) - 1));
        if (dist > outcnt) break;
        used += d.length + d.extra();
        buf >>= used;
        cnt -= used;
        copy_match_over(out + outcnt, dist, len);
        outcnt += len;
    }
    s.bitbuf = buf;
    s.bitcnt = cnt;
    s.incnt = incnt;
    s.outcnt = outcnt;
}

stop codes(inf_state& s, const lit_huffman& lc, const dist_huffman& dc) {
    for (;;) {
        fast_codes(s, lc, dc);
        if (s.bitcnt < symbol_bits) refill(s);
        entry e = decode(s, lc, alphabet::litlen);
        if (e.what() == kind::literal) {
            if (s.outcnt == s.outlen)
                if (stop r = grow(s, 1); r != stop::none) return r;
            s.out[s.outcnt++] = static_cast<uint8_t>(e.value);
            continue;
        }
        if (e.what() == kind::end) return stop::none;
        if (e.what() != kind::base) return failed(e);
        if (e.extra() > s.bitcnt) return stop::short_input;
        size_t len = e.value + take(s, e.extra());
        entry d = decode(s, dc, alphabet::dist);
        if (d.what() != kind::base) return failed(d);
        if (d.extra() > s.bitcnt) return stop::short_input;
        size_t dist = d.value + take(s, d.extra());
        if (dist > s.outcnt) return stop::fault;
        if (stop r = room(s, len); r != stop::none) return r;
        if (s.outlen - s.outcnt >= len + 16) copy_match_over(s.out + s.outcnt, dist, len);
        else copy_match(s.out + s.outcnt, dist, len);
        s.outcnt += len;
    }
}

stop stored(inf_state& s) {
    s.incnt -= s.bitcnt / 8;
    s.bitbuf = 0;
    s.bitcnt = 0;
    if (s.inlen - s.incnt < 4) return stop::short_input;
    const uint8_t* p = s.in + s.incnt;
    unsigned len = p[0] | unsigned{p[1]} << 8;
    if (p[2] != (~len & 0xFF) || p[3] != ((~len >> 8) & 0xFF)) return stop::fault;
    s.incnt += 4;
    if (len > s.inlen - s.incnt) return stop::short_input;
    if (stop r = room(s, len); r != stop::none) return r;
    if (len) memcpy(s.out + s.outcnt, s.in + s.incnt, len);
    s.incnt += len;
    s.outcnt += len;
    return stop::none;
}

// The run-length coded lengths of a dynamic block's two codes.
stop read_lengths(inf_state& s, const cl_huffman& cl, int16_t* lengths, unsigned total) {
    unsigned index = 0;
    while (index < total) {
        if (s.bitcnt < max_bits) refill(s);
        entry e = decode(s, cl, alphabet::lengths);
        if (e.what() != kind::literal) return failed(e);
        if (e.value < 16) {
            lengths[index++] = static_cast<int16_t>(e.value);
            continue;
        }
        int16_t len = 0;
        unsigned repeat;
        if (e.value == 16) {
            if (index == 0) return stop::fault;
            len = lengths[index - 1];
            repeat = 3 + bits(s, 2);
        } else if (e.value == 17) {
            repeat = 3 + bits(s, 3);
        } else {
            repeat = 11 + bits(s, 7);
        }
        if (s.status != stop::none) return s.status;
        if (index + repeat > total) return stop::fault;
        while (repeat--) lengths[index++] = len;
    }
    return stop::none;
}

// An incomplete code is only taken when it is one code of one bit.
bool usable(int err, const int16_t* count, unsigned n) {
    return err == 0 || (err > 0 && static_cast<int>(n) == count[0] + count[1]);
}

stop dynamic(inf_state& s) {
    unsigned nlen = bits(s, 5) + 257;
    unsigned ndist = bits(s, 5) + 1;
    unsigned ncode = bits(s, 4) + 4;
    if (s.status != stop::none) return s.status;
    if (nlen > 286 || ndist > 30) return stop::fault;
    int16_t lengths[286 + 30] = {};
    for (unsigned i = 0; i < ncode; i++) lengths[code_length_order[i]] = static_cast<int16_t>(bits(s, 3));
    if (s.status != stop::none) return s.status;
    cl_huffman cl;
    if (construct(cl, lengths, 19, alphabet::lengths) != 0) return stop::fault;
    stop r = read_lengths(s, cl, lengths, nlen + ndist);
    if (r != stop::none) return r;
    if (lengths[256] == 0) return stop::fault;
    lit_huffman lc;
    if (!usable(construct(lc, lengths, nlen, alphabet::litlen), lc.count, nlen)) return stop::fault;
    dist_huffman dc;
    if (!usable(construct(dc, lengths + nlen, ndist, alphabet::dist), dc.count, ndist)) return stop::fault;
    return codes(s, lc, dc);
}

stop blocks(inf_state& s) {
    for (;;) {
        unsigned last = bits(s, 1);
        unsigned type = bits(s, 2);
        if (s.status != stop::none) return s.status;
        stop r = type == 0   ? stored(s)
                 : type == 1 ? codes(s, fixed_lit, fixed_dist)
                 : type == 2 ? dynamic(s)
                             : stop::fault;
        if (r != stop::none || last) return r;
    }
}

// ---------------------------------------------------------------- PNG rows

uint8_t paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = p > a ? p - a : a - p;
    int pb = p > b ? p - b : b - p;
    int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

int predict(uint8_t type, int left, int above, int corner) {
    switch (type) {
        case 1: return left;
        case 2: return above;
        case 3: return (left + above) / 2;
        case 4: return paeth(left, above, corner);
        default: return 0;
    }
}

// Writes the plain row to dst from the filtered bytes at src, which lie
// further on in the same buffer; up is the previous plain row or null.
void unfilter_row(uint8_t* dst, const uint8_t* src, const uint8_t* up, size_t w, uint8_t type) {
    for (size_t j = 0; j < w; j++) {
        int left = j ? dst[j - 1] : 0;
        int above = up ? up[j] : 0;
        int corner = up && j ? up[j - 1] : 0;
        dst[j] = static_cast<uint8_t>(src[j] + predict(type, left, above, corner));
    }
}

}  // namespace

static bool header_refused(const uint8_t* src, size_t srclen) {
    return srclen < 2 || (src[0] & 0x0F) != 8 || (src[1] & 0x20) != 0;
}

int inflate_decompress(const uint8_t* src, size_t srclen, uint8_t* dst, size_t dstcap, size_t* dstlen) {
    *dstlen = 0;
    if (dstcap > max_capacity || header_refused(src, srclen)) return -1;
    inf_state s{dst, dstcap, 0, dstcap, src + 2, srclen - 2, 0, 0, 0, stop::none};
    stop r = blocks(s);
    if (r == stop::full || r == stop::short_input) return -1;
    *dstlen = s.outcnt;
    return 0;
}

int inflate_growing(const uint8_t* src, size_t srclen, size_t first_guess, size_t limit, uint8_t** dst,
                    size_t* dstlen) {
    *dst = nullptr;
    *dstlen = 0;
    limit = std::min(limit, max_capacity);
    if (header_refused(src, srclen)) return INFLATE_REFUSED;
    size_t cap = std::clamp<size_t>(first_guess, 1, limit > 0 ? limit : 1);
    auto* out = static_cast<uint8_t*>(malloc(cap));
    if (!out) return INFLATE_NO_MEMORY;
    inf_state s{out, cap, 0, limit, src + 2, srclen - 2, 0, 0, 0, stop::none};
    stop r = blocks(s);
    if (r == stop::full || r == stop::short_input || r == stop::no_memory) {
        free(s.out);
        return r == stop::full ? INFLATE_OVER_LIMIT : r == stop::no_memory ? INFLATE_NO_MEMORY : INFLATE_REFUSED;
    }
    *dst = s.out;
    *dstlen = s.outcnt;
    return INFLATE_DONE;
}

int inflate_png_unfilter(uint8_t* buf, size_t len, int row_bytes) {
    if (row_bytes < 1) return -1;
    size_t w = static_cast<size_t>(row_bytes);
    size_t rows = len / (w + 1);
    if (rows == 0) return 0;
    uint8_t last = buf[len - 1];
    int result = 0;
    size_t done = 0;
    for (; done < rows; done++) {
        uint8_t type = buf[done * (w + 1)];
        if (type > 4) {
            result = -1;
            break;
        }
        unfilter_row(buf + done * w, buf + done * (w + 1) + 1, done ? buf + (done - 1) * w : nullptr, w, type);
    }
    // The unprocessed input follows the plain rows, and each row given up
    // leaves a copy of the final byte at the end: exactly what shifting the
    // input down one byte per row leaves behind.
    memmove(buf + done * w, buf + done * (w + 1), len - done * (w + 1));
    memset(buf + len - done, last, done);
    return result;
}
