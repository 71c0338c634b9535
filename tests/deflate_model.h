// Test-side DEFLATE helpers: a bit writer to hand-craft streams, and a plain
// bit-at-a-time reference decoder of zlib streams whose results (including
// where input runs out) the library's table-driven decoder must reproduce. The
// reference can also report every symbol it decodes, to check the encoder's
// choices.
#ifndef MORVEL_TEST_DEFLATE_MODEL_H
#define MORVEL_TEST_DEFLATE_MODEL_H

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace deflate_model {

// Writes bits least significant first, Huffman codes most significant first.
struct bit_writer {
    std::vector<uint8_t> bytes;
    uint32_t acc = 0;
    int n = 0;

    bit_writer& put(uint32_t v, int bits) {
        for (int i = 0; i < bits; i++) {
            acc |= ((v >> i) & 1u) << n;
            if (++n == 8) flush();
        }
        return *this;
    }
    bit_writer& code(uint32_t c, int len) {
        for (int i = len - 1; i >= 0; i--) put((c >> i) & 1u, 1);
        return *this;
    }
    bit_writer& raw(const std::vector<uint8_t>& b) {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    void flush() {
        bytes.push_back(static_cast<uint8_t>(acc));
        acc = 0;
        n = 0;
    }
    std::vector<uint8_t> done() {
        if (n) flush();
        return bytes;
    }
};

// Canonical codes (code, length) for a list of code lengths.
inline std::vector<std::pair<uint32_t, int>> canonical(const std::vector<int>& lengths) {
    int count[16] = {};
    for (int l : lengths) count[l]++;
    count[0] = 0;
    uint32_t next[16] = {};
    for (int b = 1; b < 16; b++) next[b] = (next[b - 1] + static_cast<uint32_t>(count[b - 1])) << 1;
    std::vector<std::pair<uint32_t, int>> out;
    for (int l : lengths) out.emplace_back(l ? next[l]++ : 0, l);
    return out;
}

inline std::vector<int> fixed_lit_lengths() {
    std::vector<int> l(288);
    for (int i = 0; i < 288; i++) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return l;
}

constexpr int len_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                              31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int dist_base[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                               33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                               1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Fixed-code block content: literals, matches and the end of block.
struct fixed_block {
    bit_writer& w;
    std::vector<std::pair<uint32_t, int>> lit = canonical(fixed_lit_lengths());

    fixed_block(bit_writer& out, bool final) : w(out) { w.put(final, 1).put(1, 2); }
    fixed_block& sym(int s) {
        w.code(lit[s].first, lit[s].second);
        return *this;
    }
    fixed_block& bytes(const char* s) {
        while (*s) sym(static_cast<uint8_t>(*s++));
        return *this;
    }
    fixed_block& match(int len, int dist) {
        int i = 28;
        while (len_base[i] > len) i--;
        sym(257 + i).w.put(static_cast<uint32_t>(len - len_base[i]), len_extra[i]);
        int j = 29;
        while (dist_base[j] > dist) j--;
        w.code(static_cast<uint32_t>(j), 5).put(static_cast<uint32_t>(dist - dist_base[j]), dist_extra[j]);
        return *this;
    }
    void end() { sym(256); }
};

inline void stored_block(bit_writer& w, bool final, const std::vector<uint8_t>& data) {
    w.put(final, 1).put(0, 2);
    if (w.n) w.flush();
    auto len = static_cast<uint32_t>(data.size());
    w.put(len, 16).put(~len & 0xFFFF, 16).raw(data);
}

// A dynamic block header with raw HLIT/HDIST/HCLEN fields, the code-length
// code's lengths (by symbol, 19 entries) and the code-length symbols to send,
// each with the value of its extra bits.
inline void dynamic_header(bit_writer& w, bool final, int hlit, int hdist, int hclen, const std::vector<int>& cl_lens,
                           const std::vector<std::pair<int, int>>& syms) {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.put(final, 1).put(2, 2).put(static_cast<uint32_t>(hlit), 5).put(static_cast<uint32_t>(hdist), 5);
    w.put(static_cast<uint32_t>(hclen), 4);
    for (int i = 0; i < hclen + 4; i++) w.put(static_cast<uint32_t>(cl_lens[order[i]]), 3);
    auto cl = canonical(cl_lens);
    for (auto [s, extra] : syms) {
        w.code(cl[s].first, cl[s].second);
        if (s >= 16) w.put(static_cast<uint32_t>(extra), s == 16 ? 2 : s == 17 ? 3 : 7);
    }
}

// A dynamic block header sending the given lengths one by one (all sixteen
// length symbols 4 bits long); returns the literal/length and distance codes.
inline std::pair<std::vector<std::pair<uint32_t, int>>, std::vector<std::pair<uint32_t, int>>> dynamic_block(
    bit_writer& w, bool final, const std::vector<int>& lit, const std::vector<int>& dist) {
    std::vector<int> cl(19, 0);
    for (int i = 0; i < 16; i++) cl[i] = 4;
    std::vector<std::pair<int, int>> syms;
    for (int l : lit) syms.emplace_back(l, 0);
    for (int l : dist) syms.emplace_back(l, 0);
    dynamic_header(w, final, static_cast<int>(lit.size()) - 257, static_cast<int>(dist.size()) - 1, 15, cl, syms);
    return {canonical(lit), canonical(dist)};
}

// One decoded symbol: a literal (len 0), a match, or a block boundary.
struct trace_item {
    enum kind_t { literal, match, block } kind;
    int a;  // the byte, the match length, or the final bit
    int b;  // the match distance, or the block type
    bool operator==(const trace_item&) const = default;
};

// The reference: reads one bit at a time, fails the call when it must fetch a
// byte past the end, and otherwise stops at the first structural fault.
class reference {
   public:
    std::function<void(const trace_item&)> trace;
    // The code lengths of each dynamic block: literal/length, then distance.
    std::function<void(const std::vector<int>&, const std::vector<int>&)> lengths_seen;

    // The library's contract: 0 with the bytes produced, or -1 with 0.
    int run(const uint8_t* src, size_t srclen, uint8_t* dst, size_t dstcap, size_t* dstlen) {
        *dstlen = 0;
        if (srclen < 2 || dstcap > 0x40000000 || (src[0] & 0x0F) != 8 || (src[1] & 0x20)) return -1;
        in_ = src + 2;
        inlen_ = srclen - 2;
        incnt_ = 0;
        bitbuf_ = bitcnt_ = 0;
        out_ = dst;
        outlen_ = dstcap;
        outcnt_ = 0;
        try {
            int err = blocks();
            if (err > 0) return -1;
        } catch (const exhausted&) {
            return -1;
        }
        *dstlen = outcnt_;
        return 0;
    }

   private:
    struct exhausted {};
    struct code {
        int count[16];
        int symbol[288];
    };

    const uint8_t* in_ = nullptr;
    size_t inlen_ = 0, incnt_ = 0;
    int bitbuf_ = 0, bitcnt_ = 0;
    uint8_t* out_ = nullptr;
    size_t outlen_ = 0, outcnt_ = 0;

    int bits(int need) {
        long val = bitbuf_;
        while (bitcnt_ < need) {
            if (incnt_ == inlen_) throw exhausted{};
            val |= static_cast<long>(in_[incnt_++]) << bitcnt_;
            bitcnt_ += 8;
        }
        bitbuf_ = static_cast<int>(val >> need);
        bitcnt_ -= need;
        return static_cast<int>(val & ((1L << need) - 1));
    }
    int decode(const code& h) {
        int c = 0, first = 0, index = 0;
        for (int len = 1; len <= 15; len++) {
            c |= bits(1);
            int count = h.count[len];
            if (c - count < first) return h.symbol[index + (c - first)];
            index += count;
            first = (first + count) << 1;
            c <<= 1;
        }
        return -10;
    }
    static int construct(code& h, const int* length, int n) {
        for (int& c : h.count) c = 0;
        for (int i = 0; i < n; i++) h.count[length[i]]++;
        if (h.count[0] == n) return 0;
        int left = 1;
        for (int len = 1; len <= 15; len++) {
            left = left * 2 - h.count[len];
            if (left < 0) return left;
        }
        int offs[16] = {};
        for (int len = 1; len < 15; len++) offs[len + 1] = offs[len] + h.count[len];
        for (int i = 0; i < n; i++)
            if (length[i]) h.symbol[offs[length[i]]++] = i;
        return left;
    }
    void emit(trace_item::kind_t k, int a, int b) {
        if (trace) trace({k, a, b});
    }
    int codes(const code& lc, const code& dc) {
        for (;;) {
            int sym = decode(lc);
            if (sym < 0) return sym;
            if (sym < 256) {
                if (outcnt_ == outlen_) return 1;
                out_[outcnt_++] = static_cast<uint8_t>(sym);
                emit(trace_item::literal, sym, 0);
                continue;
            }
            if (sym == 256) return 0;
            if (sym > 285) return -10;
            int len = len_base[sym - 257] + bits(len_extra[sym - 257]);
            int d = decode(dc);
            if (d < 0) return d;
            size_t dist = static_cast<size_t>(dist_base[d] + bits(dist_extra[d]));
            if (dist > outcnt_) return -11;
            if (outcnt_ + static_cast<size_t>(len) > outlen_) return 1;
            emit(trace_item::match, len, static_cast<int>(dist));
            for (int i = 0; i < len; i++, outcnt_++) out_[outcnt_] = out_[outcnt_ - dist];
        }
    }
    int stored() {
        bitbuf_ = bitcnt_ = 0;
        if (inlen_ - incnt_ < 4) throw exhausted{};
        unsigned len = in_[incnt_] | in_[incnt_ + 1] << 8;
        if (in_[incnt_ + 2] != (~len & 0xFF) || in_[incnt_ + 3] != ((~len >> 8) & 0xFF)) return -2;
        incnt_ += 4;
        if (inlen_ - incnt_ < len) throw exhausted{};
        if (outlen_ - outcnt_ < len) return 1;
        for (unsigned i = 0; i < len; i++) out_[outcnt_++] = in_[incnt_++];
        return 0;
    }
    int fixed() {
        code lc, dc;
        std::vector<int> l = fixed_lit_lengths();
        construct(lc, l.data(), 288);
        int d[30];
        for (int& x : d) x = 5;
        construct(dc, d, 30);
        return codes(lc, dc);
    }
    int lengths(const code& cl, int* lens, int total) {
        int index = 0;
        while (index < total) {
            int sym = decode(cl);
            if (sym < 0) return sym;
            if (sym < 16) {
                lens[index++] = sym;
                continue;
            }
            int len = 0, rep;
            if (sym == 16) {
                if (index == 0) return -5;
                len = lens[index - 1];
                rep = 3 + bits(2);
            } else if (sym == 17) {
                rep = 3 + bits(3);
            } else {
                rep = 11 + bits(7);
            }
            if (index + rep > total) return -6;
            while (rep--) lens[index++] = len;
        }
        return 0;
    }
    int dynamic() {
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        int nlen = bits(5) + 257, ndist = bits(5) + 1, ncode = bits(4) + 4;
        if (nlen > 286 || ndist > 30) return -3;
        int lens[320] = {};
        for (int i = 0; i < ncode; i++) lens[order[i]] = bits(3);
        code cl, lc, dc;
        if (construct(cl, lens, 19) != 0) return -4;
        int err = lengths(cl, lens, nlen + ndist);
        if (err) return err;
        if (lens[256] == 0) return -9;
        if (lengths_seen) lengths_seen(std::vector<int>(lens, lens + nlen), std::vector<int>(lens + nlen, lens + nlen + ndist));
        err = construct(lc, lens, nlen);
        if (err && (err < 0 || nlen != lc.count[0] + lc.count[1])) return -7;
        err = construct(dc, lens + nlen, ndist);
        if (err && (err < 0 || ndist != dc.count[0] + dc.count[1])) return -8;
        return codes(lc, dc);
    }
    int blocks() {
        for (;;) {
            int last = bits(1), type = bits(2);
            emit(trace_item::block, last, type);
            int err = type == 0 ? stored() : type == 1 ? fixed() : type == 2 ? dynamic() : -1;
            if (err != 0 || last) return err;
        }
    }
};

}  // namespace deflate_model

#endif
