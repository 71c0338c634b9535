// The DEFLATE encoder and the raw DEFLATE decoder: exact streams for small
// inputs, the encoder's parse (greedy matches, block limits) read back through
// a reference decoder, and round trips through the system zlib.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "deflate_model.h"
#include "flate.h"

namespace {

using bytes = std::vector<uint8_t>;
using deflate_model::trace_item;

bytes deflate(const bytes& data) {
    uint8_t* out = nullptr;
    size_t len = 0;
    EXPECT_EQ(sx_deflate(data.data(), data.size(), &out, &len), 0);
    bytes z(out, out + len);
    free(out);
    return z;
}

bytes of(const std::string& s) { return bytes(s.begin(), s.end()); }

std::vector<trace_item> parse_of(const bytes& data) {
    bytes z = deflate(data);
    std::vector<trace_item> items;
    deflate_model::reference ref;
    ref.trace = [&](const trace_item& t) { items.push_back(t); };
    bytes back(data.size());
    size_t n = 0;
    EXPECT_EQ(ref.run(z.data(), z.size(), back.data(), back.size(), &n), 0);
    EXPECT_EQ(n, data.size());
    return items;
}

trace_item lit(char c) { return {trace_item::literal, static_cast<uint8_t>(c), 0}; }
trace_item match(int len, int dist) { return {trace_item::match, len, dist}; }
trace_item block(bool final) { return {trace_item::block, final, 2}; }

bytes sample(const std::string& kind, size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    bytes d(n);
    if (kind == "text") {
        static const std::string words[] = {"/Type ", "/Page ", "/Font ", "0 R ", "<< ", ">> ", "obj\n", "[0 0 612 792] "};
        std::string text;
        while (text.size() < n) text += rng() % 4 ? words[rng() % 8] : std::to_string(rng() % 1000) + " ";
        return bytes(text.begin(), text.begin() + static_cast<long>(n));
    }
    for (size_t i = 0; i < n; i++) {
        if (kind == "random") d[i] = static_cast<uint8_t>(rng());
        if (kind == "runs") d[i] = static_cast<uint8_t>((i / 3000) % 4 == 3 ? rng() : (i / 3000) % 4);
        // Geometric symbol counts: with seed 10 and 65536 bytes both the
        // 15-bit and the 7-bit length limits are exceeded and fixed up.
        if (kind == "skewed") {
            unsigned k = 0;
            while (k < 40 && rng() % 100 < 85) k++;
            d[i] = static_cast<uint8_t>(k * 6 + rng() % 3);
        }
    }
    return d;
}

TEST(Deflate, KnownStreams) {
    EXPECT_EQ(deflate({}), (bytes{0x78, 0x01, 0x05, 0xC1, 0x81, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0xFF, 0xD5, 0x08,
                                  0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(deflate(of("abc")), (bytes{0x78, 0x01, 0x05, 0xC1, 0x01, 0x01, 0x00, 0x00, 0x00, 0x40, 0xA0, 0xAD, 0xF8,
                                        0xFF, 0x41, 0x61, 0x03, 0x02, 0x4D, 0x01, 0x27}));
}

TEST(Deflate, ParsesGreedily) {
    struct example { std::string in; std::vector<trace_item> want; };
    const example examples[] = {
        {"a", {block(true), lit('a')}},
        {"aa", {block(true), lit('a'), lit('a')}},
        {"abcabcabc", {block(true), lit('a'), lit('b'), lit('c'), lit('a'), match(5, 3)}},
        {"aaaaaaa", {block(true), lit('a'), lit('a'), match(5, 1)}},
        {"xabcyabcz", {block(true), lit('x'), lit('a'), lit('b'), lit('c'), lit('y'), match(3, 4), lit('z')}},
        {"abcdab", {block(true), lit('a'), lit('b'), lit('c'), lit('d'), lit('a'), lit('b')}},
    };
    for (const auto& e : examples) EXPECT_EQ(parse_of(of(e.in)), e.want) << e.in;
}

// Code lengths of the first block's literal/length and distance codes.
std::pair<std::vector<int>, std::vector<int>> lengths_of(const std::string& in) {
    bytes z = deflate(of(in));
    std::pair<std::vector<int>, std::vector<int>> seen;
    deflate_model::reference ref;
    ref.lengths_seen = [&](const std::vector<int>& l, const std::vector<int>& d) {
        if (seen.first.empty()) seen = {l, d};
    };
    bytes back(in.size());
    size_t n = 0;
    EXPECT_EQ(ref.run(z.data(), z.size(), back.data(), back.size(), &n), 0);
    return seen;
}

std::vector<int> lengths(size_t count, std::vector<std::pair<int, int>> set) {
    std::vector<int> l(count, 0);
    for (auto [s, len] : set) l[static_cast<size_t>(s)] = len;
    return l;
}

TEST(Deflate, BuildsCodesByItsTieBreaks) {
    struct example { std::string in; std::vector<int> lit; std::vector<int> dist; };
    const example examples[] = {
        // Two codes are always sent: the end of block gets a partner, and so
        // does a distance code: the next index while the highest is below 2,
        // else index 0.
        {"", lengths(257, {{0, 1}, {256, 1}}), lengths(2, {{0, 1}, {1, 1}})},
        {"abababab", lengths(260, {{'a', 2}, {'b', 2}, {256, 2}, {259, 2}}), lengths(3, {{1, 1}, {2, 1}})},
        {"abcabcabc", lengths(260, {{'a', 2}, {'b', 3}, {'c', 2}, {256, 2}, {259, 3}}), lengths(3, {{0, 1}, {2, 1}})},
        // Five equally rare symbols: the heap order decides which two get 3 bits.
        {"abcd", lengths(257, {{'a', 2}, {'b', 3}, {'c', 2}, {'d', 3}, {256, 2}}), lengths(2, {{0, 1}, {1, 1}})},
    };
    for (const auto& e : examples) {
        auto [lit, dist] = lengths_of(e.in);
        EXPECT_EQ(lit, e.lit) << e.in;
        EXPECT_EQ(dist, e.dist) << e.in;
    }
}

// 128 candidates are examined at most: a long match behind 127 short ones is
// found, behind 128 it is not.
TEST(Deflate, ExaminesAtMost128Candidates) {
    for (int decoys : {127, 128}) {
        std::string in = "QXYZabcdefghijklmnop";
        for (int i = 0; i < decoys; i++) in += std::string("XYZ") + static_cast<char>(0x80 + i);
        in += "XYZabcdefghijklmnop";
        std::vector<trace_item> items = parse_of(of(in));
        int target = static_cast<int>(in.size()) - 19;
        if (decoys == 127) {
            EXPECT_EQ(items.back(), match(19, target - 1));
        } else {
            std::vector<trace_item> tail(items.end() - 2, items.end());
            EXPECT_EQ(tail, (std::vector<trace_item>{match(3, 4), match(16, target - 1)}));
        }
    }
}

// The longest match at each position, the nearest one among equals; position
// 0 never serves as a source. Short inputs stay below the chain limit.
std::vector<trace_item> greedy(const bytes& d) {
    std::vector<trace_item> want{block(true)};
    size_t n = d.size();
    for (size_t k = 0; k < n;) {
        size_t best = 0, dist = 0;
        for (size_t p = k - 1; k + 3 <= n && p >= 1 && p < k; p--) {
            size_t len = 0;
            while (k + len < n && len < 258 && d[p + len] == d[k + len]) len++;
            if (len >= 3 && len > best) best = len, dist = k - p;
        }
        if (best) {
            want.push_back(match(static_cast<int>(best), static_cast<int>(dist)));
            k += best;
        } else {
            want.push_back({trace_item::literal, d[k++], 0});
        }
    }
    return want;
}

TEST(Deflate, MatchesBruteForceGreedyParse) {
    std::mt19937 rng(11);
    for (int i = 0; i < 500; i++) {
        bytes d(rng() % 120);
        unsigned alphabet = 2 + rng() % 4;
        for (auto& x : d) x = static_cast<uint8_t>('a' + rng() % alphabet);
        ASSERT_EQ(parse_of(d), greedy(d)) << std::string(d.begin(), d.end());
    }
}

// Block limits: 64 KiB per block, no match into an earlier block, no match
// from a block's first position or starting in its last two bytes.
TEST(Deflate, BlocksStandAlone) {
    for (size_t n : {65535, 65536, 65537, 65538, 70000, 200000}) {
        bytes d = sample("text", n, 3);
        std::vector<size_t> starts;
        size_t pos = 0, block_start = 0;
        int finals = 0;
        for (const auto& t : parse_of(d)) {
            if (t.kind == trace_item::block) {
                EXPECT_EQ(t.b, 2);
                finals += t.a;
                block_start = pos;
                starts.push_back(pos);
            } else if (t.kind == trace_item::literal) {
                pos++;
            } else {
                EXPECT_GE(pos - block_start, 3u);
                EXPECT_LE(static_cast<size_t>(t.b), pos - block_start - 1);
                EXPECT_LE(t.b, 32767);
                EXPECT_LE(pos + static_cast<size_t>(t.a), std::min(n, block_start + 65536));
                pos += static_cast<size_t>(t.a);
            }
        }
        EXPECT_EQ(finals, 1);
        ASSERT_EQ(starts.size(), (n + 65535) / 65536) << n;
        for (size_t i = 0; i < starts.size(); i++) EXPECT_EQ(starts[i], i * 65536);
    }
    std::vector<trace_item> two = parse_of(bytes(65537, 'q'));
    ASSERT_GE(two.size(), 2u);
    EXPECT_EQ(two.front(), block(false));
    EXPECT_EQ(std::vector<trace_item>(two.end() - 2, two.end()), (std::vector<trace_item>{block(true), lit('q')}));
}

void expect_round_trip(const bytes& d, const std::string& what) {
    bytes z = deflate(d);
    bytes back(d.size() + 1);
    uLongf back_len = back.size();
    ASSERT_EQ(uncompress(back.data(), &back_len, z.data(), z.size()), Z_OK) << what;
    back.resize(back_len);
    EXPECT_TRUE(back == d) << what;
    auto adler = static_cast<uint32_t>(adler32(1, d.data(), static_cast<uInt>(d.size())));
    bytes tail = {static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16), static_cast<uint8_t>(adler >> 8),
                  static_cast<uint8_t>(adler)};
    EXPECT_EQ(bytes(z.end() - 4, z.end()), tail) << what;
    bytes raw(d.size() + 1);
    EXPECT_EQ(sx_inflate(z.data() + 2, z.size() - 2, raw.data(), d.size()), static_cast<int>(d.size())) << what;
    EXPECT_TRUE(bytes(raw.begin(), raw.end() - 1) == d) << what;
}

TEST(Deflate, RoundTripsThroughZlib) {
    for (const char* kind : {"random", "text", "runs", "skewed"}) {
        for (size_t n : {0, 1, 2, 3, 4, 5, 100, 65535, 65536, 65537, 131072, 131073, 300000})
            expect_round_trip(sample(kind, n, static_cast<uint32_t>(n)), std::string(kind) + " " + std::to_string(n));
    }
    for (uint32_t seed : {0, 2, 10}) expect_round_trip(sample("skewed", 65536, seed), "skewed seed " + std::to_string(seed));
}

bytes zlib_raw(const bytes& data, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, strategy), Z_OK);
    bytes out(deflateBound(&z, data.size()));
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(::deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

int raw_inflate(const bytes& src, size_t cap) {
    bytes dst(cap + 1);
    return sx_inflate(src.data(), src.size(), dst.data(), cap);
}

TEST(RawInflate, SmallStreams) {
    deflate_model::bit_writer incomplete;
    std::vector<int> lit(257, 0);
    lit['x'] = 2;
    lit[256] = 2;
    auto codes = deflate_model::dynamic_block(incomplete, true, lit, {0});
    incomplete.code(codes.first['x'].first, 2).code(codes.first[256].first, 2);
    struct example { const char* name; bytes src; size_t cap; int want; };
    const example examples[] = {
        {"empty fixed block", {0x03, 0x00}, 10, 0},
        {"empty stored block", {0x01, 0x00, 0x00, 0xFF, 0xFF}, 10, 0},
        {"no input", {}, 10, -1},
        {"no final block", {0x00, 0x00, 0x00, 0xFF, 0xFF}, 10, -1},
        {"stored complement mismatch", {0x01, 0x01, 0x00, 0xFF, 0xFF, 'a'}, 10, -1},
        {"stored data cut", {0x01, 0x02, 0x00, 0xFD, 0xFF, 'a'}, 10, -1},
        {"stored data too long", {0x01, 0x02, 0x00, 0xFD, 0xFF, 'a', 'b'}, 1, -1},
        {"stored data", {0x01, 0x02, 0x00, 0xFD, 0xFF, 'a', 'b', 'z'}, 2, 2},
        {"block type 3", {0x07, 0x00}, 10, -1},
        {"incomplete code taken", incomplete.done(), 10, 1},
    };
    for (const auto& e : examples) EXPECT_EQ(raw_inflate(e.src, e.cap), e.want) << e.name;
}

TEST(RawInflate, DecodesZlibOutput) {
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
        for (const char* kind : {"random", "text", "runs"}) {
            bytes d = sample(kind, 100000, 9);
            bytes z = zlib_raw(d, strategy);
            bytes out(d.size());
            EXPECT_EQ(sx_inflate(z.data(), z.size(), out.data(), out.size()), static_cast<int>(d.size())) << kind;
            EXPECT_TRUE(out == d) << kind;
            EXPECT_EQ(raw_inflate(z, d.size() - 1), -1) << kind;
            EXPECT_EQ(raw_inflate(bytes(z.begin(), z.end() - 1), d.size()), -1) << kind;
        }
    }
}

TEST(RawInflate, SurvivesDamagedAndRandomInput) {
    std::mt19937 rng(21);
    bytes z = zlib_raw(sample("text", 5000, 1), Z_DEFAULT_STRATEGY);
    for (int i = 0; i < 3000; i++) {
        bytes src = z;
        if (i % 2) {
            src.resize(rng() % 300);
            for (auto& x : src) x = static_cast<uint8_t>(rng());
        } else {
            for (int k = 0; k < 3; k++) src[rng() % src.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        }
        size_t cap = rng() % 6000;
        int r = raw_inflate(src, cap);
        ASSERT_GE(r, -1);
        ASSERT_LE(r, static_cast<int>(cap));
    }
}

}  // namespace
