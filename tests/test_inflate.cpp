// The zlib stream decoder for object streams and the PNG row predictors:
// hand-made streams for every way decoding can stop, round trips through the
// system zlib, and cut, damaged and random streams compared with a plain
// bit-at-a-time reference decoder.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "deflate_model.h"
#include "inflate.h"

namespace {

using bytes = std::vector<uint8_t>;
using deflate_model::bit_writer;
using deflate_model::fixed_block;

struct outcome {
    int result;
    size_t dstlen;
    bytes out;  // the first dstlen bytes of the destination
    bool operator==(const outcome&) const = default;
};

outcome ours(const bytes& src, size_t cap) {
    bytes dst(cap + 1, 0xEE);
    size_t n = 12345;
    int r = inflate_decompress(src.data(), src.size(), dst.data(), cap, &n);
    return {r, n, bytes(dst.begin(), dst.begin() + static_cast<long>(n))};
}

outcome theirs(const bytes& src, size_t cap) {
    bytes dst(cap + 1, 0xEE);
    size_t n = 12345;
    int r = deflate_model::reference{}.run(src.data(), src.size(), dst.data(), cap, &n);
    return {r, n, bytes(dst.begin(), dst.begin() + static_cast<long>(n))};
}

bytes zlib_compress(const bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy), Z_OK);
    bytes out(deflateBound(&z, data.size()));
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bytes sample(const std::string& kind, size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    bytes d(n);
    static const std::string text =
        "12 0 obj\n<< /Type /Page /Parent 3 0 R /MediaBox [0 0 612 792] /Contents 14 0 R >>\nendobj\n";
    for (size_t i = 0; i < n; i++) {
        if (kind == "random") d[i] = static_cast<uint8_t>(rng());
        if (kind == "text") {
            d[i] = static_cast<uint8_t>(rng() % 8 ? text[(i + rng() % 2) % text.size()] : '0' + rng() % 10);
        }
        if (kind == "runs") d[i] = static_cast<uint8_t>((i / 5000) % 3);
    }
    return d;
}

// A zlib header and a stored, non-final block holding "abc".
bit_writer abc_prefix() {
    bit_writer w;
    w.raw({0x78, 0x9C});
    deflate_model::stored_block(w, false, {'a', 'b', 'c'});
    return w;
}

// "abc", then a final fixed block written by more, closed with the end of
// block when more returns true.
bytes fixed_then(bool (*more)(fixed_block&)) {
    bit_writer w = abc_prefix();
    fixed_block f(w, true);
    if (more(f)) f.end();
    return w.done();
}

bytes dynamic_then(int hlit, int hdist, std::vector<int> cl, std::vector<std::pair<int, int>> syms) {
    bit_writer w = abc_prefix();
    deflate_model::dynamic_header(w, true, hlit, hdist, 0, cl, syms);
    w.put(0, 24);
    return w.done();
}

// A dynamic block with the given literal/length and distance lengths that
// sends the given literal/length symbols, then tail_bits bits of 1.
bytes dynamic_codes(std::vector<std::pair<int, int>> lit_set, std::vector<int> dist, std::vector<int> send,
                    int tail_bits = 0) {
    bit_writer w = abc_prefix();
    std::vector<int> lit(257, 0);
    for (auto [s, l] : lit_set) lit[s] = l;
    auto codes = deflate_model::dynamic_block(w, true, lit, dist);
    for (int s : send) w.code(codes.first[s].first, codes.first[s].second);
    for (int i = 0; i < tail_bits; i++) w.put(1, 1);
    return w.done();
}

std::vector<int> cl_lengths(std::vector<std::pair<int, int>> set) {
    std::vector<int> cl(19, 0);
    for (auto [s, l] : set) cl[s] = l;
    return cl;
}

bytes cut(bytes b, size_t drop) {
    b.resize(b.size() - drop);
    return b;
}

struct stop_case {
    const char* name;
    bytes src;
    size_t cap;
    int result;
    size_t dstlen;
};

std::vector<stop_case> stop_cases() {
    bit_writer three = abc_prefix();
    fixed_block(three, false).bytes("de").end();
    three.put(1, 1).put(3, 2).put(0, 16);
    bit_writer nlen = abc_prefix();
    nlen.put(1, 1).put(0, 2).flush();
    nlen.put(3, 16).put(0x1234, 16).raw({'x', 'y', 'z'});
    bit_writer shortlen = abc_prefix();
    shortlen.put(1, 1).put(0, 2).flush();
    shortlen.raw({3, 0, 0xFC});
    bit_writer shortdata = abc_prefix();
    deflate_model::stored_block(shortdata, true, {'x', 'y', 'z'});
    bit_writer empty_stored = abc_prefix();
    deflate_model::stored_block(empty_stored, true, {});
    auto zeros = cl_lengths({{18, 1}, {0, 1}});
    return {
        {"empty fixed block", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}, 10, 0, 0},
        {"final stored block", cut(shortdata.done(), 0), 10, 0, 6},
        {"empty stored block", empty_stored.done(), 10, 0, 3},
        {"raw data taken as a header", {0x08, 0x00, 0x03, 0x00}, 10, 0, 0},
        {"block type 3", three.done(), 10, 0, 5},
        {"cut inside the second block", cut(three.done(), 4), 10, -1, 0},
        {"stored complement mismatch", nlen.done(), 10, 0, 3},
        {"287 length codes", dynamic_then(30, 0, cl_lengths({}), {}), 10, 0, 3},
        {"31 distance codes", dynamic_then(0, 30, cl_lengths({}), {}), 10, 0, 3},
        {"code-length code incomplete", dynamic_then(0, 0, cl_lengths({{0, 1}}), {}), 10, 0, 3},
        {"code-length code over-subscribed", dynamic_then(0, 0, cl_lengths({{0, 1}, {16, 1}, {17, 1}}), {}), 10, 0, 3},
        {"code-length code empty", dynamic_then(0, 0, cl_lengths({}), {}), 10, 0, 3},
        {"code-length code empty at the end", cut(dynamic_then(0, 0, cl_lengths({}), {}), 3), 10, -1, 0},
        {"repeat as the first length", dynamic_then(0, 0, cl_lengths({{16, 1}, {0, 1}}), {{16, 0}}), 10, 0, 3},
        {"repeat past the count", dynamic_then(0, 0, zeros, {{18, 127}, {18, 127}}), 10, 0, 3},
        {"no end-of-block code", dynamic_then(0, 0, zeros, {{18, 127}, {18, 109}}), 10, 0, 3},
        {"length code over-subscribed", dynamic_codes({{0, 1}, {1, 1}, {256, 1}}, {1}, {}), 10, 0, 3},
        {"length code incomplete", dynamic_codes({{0, 2}, {256, 2}}, {1}, {}), 10, 0, 3},
        {"distance code incomplete", dynamic_codes({{0, 1}, {256, 1}}, {2, 2}, {}), 10, 0, 3},
        {"distance code over-subscribed", dynamic_codes({{0, 1}, {256, 1}}, {1, 1, 1}, {}), 10, 0, 3},
        {"one-bit codes and no distances", dynamic_codes({{256, 1}}, {0}, {256}), 10, 0, 3},
        {"one-bit distance code", dynamic_codes({{'x', 1}, {256, 1}}, {1}, {'x', 'x', 256}), 10, 0, 5},
        {"unused one-bit pattern", dynamic_codes({{256, 1}}, {0}, {}, 16), 10, 0, 3},
        {"unused one-bit pattern at the end", dynamic_codes({{256, 1}}, {0}, {}, 1), 10, -1, 0},
        {"symbol 286", fixed_then([](fixed_block& f) { f.sym(286).w.put(0, 8); return false; }), 10, 0, 3},
        {"symbol 287", fixed_then([](fixed_block& f) { f.sym(287); return false; }), 10, 0, 3},
        {"distance code 30",
         fixed_then([](fixed_block& f) { f.bytes("a").sym(257).w.code(30, 5).put(0, 10); return false; }), 10, 0, 4},
        {"distance code 31 near the end",
         fixed_then([](fixed_block& f) { f.bytes("a").sym(257).w.code(31, 5); return false; }), 10, -1, 0},
        {"distance too far", fixed_then([](fixed_block& f) { f.bytes("a").match(3, 5); return true; }), 10, 0, 4},
        {"distance too far before full", fixed_then([](fixed_block& f) { f.bytes("a").match(3, 5); return true; }), 4, 0, 4},
        {"overlapping match", fixed_then([](fixed_block& f) { f.match(10, 2); return true; }), 13, 0, 13},
        {"literal fills the destination", fixed_then([](fixed_block& f) { f.bytes("de"); return true; }), 4, -1, 0},
        {"match fills the destination", fixed_then([](fixed_block& f) { f.match(3, 3); return true; }), 5, -1, 0},
        {"stored data fills the destination", shortdata.done(), 5, -1, 0},
        {"exact destination", fixed_then([](fixed_block& f) { f.match(3, 3); return true; }), 6, 0, 6},
        {"stored length cut", shortlen.done(), 10, -1, 0},
        {"stored data cut", cut(shortdata.done(), 1), 10, -1, 0},
        {"match cut short", fixed_then([](fixed_block& f) { f.sym(284); return false; }), 10, -1, 0},
        {"no final block", cut(abc_prefix().done(), 0), 10, -1, 0},
        {"no input", {}, 10, -1, 0},
        {"one byte", {0x78}, 10, -1, 0},
        {"method not 8", {0x77, 0x9C, 0x03, 0x00}, 10, -1, 0},
        {"preset dictionary", {0x78, 0xBB, 0x03, 0x00}, 10, -1, 0},
    };
}

TEST(Inflate, EveryWayToStop) {
    for (const auto& c : stop_cases()) {
        outcome got = ours(c.src, c.cap);
        EXPECT_EQ(got.result, c.result) << c.name;
        EXPECT_EQ(got.dstlen, c.dstlen) << c.name;
        EXPECT_EQ(got, theirs(c.src, c.cap)) << c.name;
    }
}

TEST(Inflate, KeepsTheBytesBeforeAFault) {
    bytes src = stop_cases()[4].src;  // stored "abc", fixed "de", then type 3
    outcome got = ours(src, 10);
    EXPECT_EQ(got.out, (bytes{'a', 'b', 'c', 'd', 'e'}));
}

TEST(Inflate, RefusesTooLargeACapacity) {
    bytes src = {0x78, 0x9C, 0x03, 0x00};
    uint8_t dst[1];
    size_t n = 7;
    EXPECT_EQ(inflate_decompress(src.data(), src.size(), dst, 0x40000001, &n), -1);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(inflate_decompress(src.data(), src.size(), nullptr, 0, &n), 0);
}

TEST(Inflate, RoundTripsThroughZlib) {
    struct mode { int level; int strategy; };
    const mode modes[] = {{0, Z_DEFAULT_STRATEGY}, {1, Z_DEFAULT_STRATEGY}, {6, Z_DEFAULT_STRATEGY}, {9, Z_DEFAULT_STRATEGY},
                          {6, Z_FIXED},            {6, Z_HUFFMAN_ONLY},     {6, Z_RLE}};
    for (const char* kind : {"random", "text", "runs"}) {
        for (size_t n : {0, 1, 2, 300, 65535, 65536, 65537, 300000}) {
            bytes data = sample(kind, n, static_cast<uint32_t>(n));
            for (const mode& m : modes) {
                bytes z = zlib_compress(data, m.level, m.strategy);
                std::string what = std::string(kind) + " " + std::to_string(n) + " level " + std::to_string(m.level) +
                                   " strategy " + std::to_string(m.strategy);
                outcome exact = ours(z, n);
                EXPECT_EQ(exact.result, 0) << what;
                EXPECT_TRUE(exact.out == data) << what;
                EXPECT_EQ(ours(z, n + 100).dstlen, n) << what;
                if (n) {
                    EXPECT_EQ(ours(z, n - 1), (outcome{-1, 0, {}})) << what;
                }
            }
        }
    }
}

// Every cut before the end of the DEFLATE data is an early end of input.
TEST(Inflate, CutStreams) {
    for (int level : {0, 6}) {
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
            bytes data = sample("text", 3000, 7);
            bytes z = zlib_compress(data, level, strategy);
            for (size_t len = 0; len < z.size(); len++) {
                bytes part(z.begin(), z.begin() + static_cast<long>(len));
                outcome got = ours(part, data.size());
                EXPECT_EQ(got.result, len >= z.size() - 4 ? 0 : -1) << len;
                EXPECT_EQ(got, theirs(part, data.size())) << len;
            }
        }
    }
}

// Damaged and random streams stop exactly where and how the reference stops.
TEST(Inflate, DamagedStreamsMatchTheReference) {
    std::mt19937 rng(99);
    std::vector<bytes> streams;
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE})
        for (const char* kind : {"text", "random", "runs"}) streams.push_back(zlib_compress(sample(kind, 2000, 3), 6, strategy));
    for (int i = 0; i < 4000; i++) {
        bytes src = streams[rng() % streams.size()];
        switch (i % 4) {
            case 0:
                src[2 + rng() % (src.size() - 2)] ^= static_cast<uint8_t>(1u << (rng() % 8));
                break;
            case 1:
                for (int k = 0; k < 4; k++) src[2 + rng() % (src.size() - 2)] = static_cast<uint8_t>(rng());
                break;
            case 2:
                src.resize(2 + rng() % 200);
                for (size_t k = 2; k < src.size(); k++) src[k] = static_cast<uint8_t>(rng());
                break;
            default:
                src.resize(rng() % src.size());
                break;
        }
        size_t cap = rng() % 2500;
        ASSERT_EQ(ours(src, cap), theirs(src, cap)) << "case " << i;
    }
}

outcome growing(const bytes& src, size_t first_guess, size_t limit) {
    uint8_t* dst = nullptr;
    size_t n = 12345;
    int r = inflate_growing(src.data(), src.size(), first_guess, limit, &dst, &n);
    outcome o{r, n, dst ? bytes(dst, dst + n) : bytes{}};
    free(dst);
    return o;
}

TEST(InflateGrowing, LimitsAndEarlyEnds) {
    bytes data = sample("text", 300000, 5);
    bytes z = zlib_compress(data, 6);
    for (size_t guess : {1, 1000, 300000, 1 << 22}) {
        EXPECT_EQ(growing(z, guess, data.size()), (outcome{INFLATE_DONE, data.size(), data})) << guess;
        EXPECT_EQ(growing(z, guess, data.size() - 1).result, INFLATE_OVER_LIMIT) << guess;
    }
    EXPECT_EQ(growing(bytes(z.begin(), z.end() - 10), 64, 1 << 20), (outcome{INFLATE_REFUSED, 0, {}}));
    EXPECT_EQ(growing({0x77, 0x9C, 0x03, 0x00}, 64, 1 << 20), (outcome{INFLATE_REFUSED, 0, {}}));
    EXPECT_EQ(growing(zlib_compress({}, 6), 1, 1 << 20), (outcome{INFLATE_DONE, 0, {}}));
}

// Growing as it goes gives what one buffer of the limit's size gives.
TEST(InflateGrowing, MatchesOneBufferOfTheLimit) {
    std::mt19937 rng(17);
    bytes base = zlib_compress(sample("runs", 5000, 3), 6);
    for (int i = 0; i < 2000; i++) {
        bytes src = base;
        if (i % 2) src[2 + rng() % (src.size() - 2)] ^= static_cast<uint8_t>(1u << (rng() % 8));
        size_t limit = rng() % 6000;
        outcome fixed = ours(src, limit);
        outcome grown = growing(src, 1 + rng() % 100, limit);
        if (fixed.result == 0)
            ASSERT_EQ(grown, (outcome{INFLATE_DONE, fixed.dstlen, fixed.out})) << i;
        else
            ASSERT_NE(grown.result, INFLATE_DONE) << i;
    }
}

// The byte-at-a-time shifting that the predictor's result is defined by.
int unfilter_by_shifting(bytes& b, int w) {
    if (w < 1) return -1;
    size_t W = static_cast<size_t>(w);
    if (b.size() < W + 1) return 0;
    size_t start = 0;
    for (size_t i = 0; b.size() - start - i >= W + 1; i++, start += W) {
        uint8_t type = b[start];
        if (type > 4) return -1;
        std::memmove(&b[start], &b[start + 1], b.size() - i - start - 1);
        for (size_t j = 0; j < W; j++) {
            int a = j ? b[start + j - 1] : 0;
            int up = i ? b[start - W + j] : 0;
            int c = i && j ? b[start - W + j - 1] : 0;
            int p = a + up - c, pa = std::abs(p - a), pb = std::abs(p - up), pc = std::abs(p - c);
            int pred = type == 1 ? a : type == 2 ? up : type == 3 ? (a + up) / 2
                     : type == 4 ? (pa <= pb && pa <= pc ? a : pb <= pc ? up : c) : 0;
            b[start + j] = static_cast<uint8_t>(b[start + j] + pred);
        }
    }
    return 0;
}

TEST(PngUnfilter, Examples) {
    struct example { int w; bytes in; int result; bytes front; };
    const example examples[] = {
        {3, {1, 1, 2, 3, 2, 1, 1, 1, 4, 0, 0, 0, 3, 4, 4, 4}, 0, {1, 3, 6, 2, 4, 7, 2, 4, 7, 5, 8, 11}},
        {2, {0, 10, 20, 1, 1, 1}, 0, {10, 20, 1, 2}},
        {2, {2, 5, 6, 3, 4, 4}, 0, {5, 6, 6, 10}},  // Up sees zeros above the first row
        {2, {3, 5, 6, 2, 4, 4}, 0, {5, 8, 9, 12}},  // and so does Average
        {3, {1, 1, 1}, 0, {1, 1, 1}},              // shorter than a row: untouched
        {2, {0, 1, 2, 0, 3}, 0, {1, 2}},           // the trailing part is not a row
        {2, {0, 7, 8, 5, 1, 1, 0, 9, 9}, -1, {7, 8, 5, 1, 1}},  // row 1 keeps its filter byte
        {1, {9, 1}, -1, {9, 1}},
        {0, {0, 1}, -1, {0, 1}},
        {-3, {0, 1}, -1, {0, 1}},
    };
    for (const auto& e : examples) {
        bytes b = e.in;
        EXPECT_EQ(inflate_png_unfilter(b.data(), b.size(), e.w), e.result) << e.w;
        EXPECT_EQ(bytes(b.begin(), b.begin() + static_cast<long>(e.front.size())), e.front) << e.w;
    }
    EXPECT_EQ(inflate_png_unfilter(nullptr, 0, 4), 0);
}

TEST(PngUnfilter, MatchesShiftingOnRandomRows) {
    std::mt19937 rng(5);
    for (int i = 0; i < 2000; i++) {
        int w = 1 + static_cast<int>(rng() % 9);
        bytes b(rng() % 80);
        for (auto& x : b) x = static_cast<uint8_t>(rng() % 7 == 0 ? rng() % 6 : rng());
        for (size_t r = 0; r < b.size(); r += static_cast<size_t>(w) + 1)
            if (rng() % 5) b[r] = static_cast<uint8_t>(rng() % 5);
        bytes want = b;
        int want_result = unfilter_by_shifting(want, w);
        ASSERT_EQ(inflate_png_unfilter(b.data(), b.size(), w), want_result) << i;
        ASSERT_EQ(b, want) << i;
    }
}

}  // namespace
