// Throughput of the codecs on object-stream-like text: the zlib decoder
// against the system zlib's inflate on the same streams, and the encoder.
// Run: morvel_bench [--benchmark_filter=...]; bytes/s count uncompressed bytes.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "flate.h"
#include "inflate.h"

namespace {

using bytes = std::vector<uint8_t>;

struct prng {
    uint32_t s = 0x9E3779B9u;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

// Dictionaries, references, number arrays and strings in the mix an object
// stream of a typical document holds; compresses about 4:1 with zlib.
bytes object_text(size_t n) {
    static const char* keys[] = {"/Type",    "/Subtype", "/Parent",   "/Resources", "/Contents", "/MediaBox",
                                 "/Annots",  "/Font",    "/XObject",  "/BaseFont",  "/Encoding", "/Rect",
                                 "/Border",  "/A",       "/URI",      "/Dest",      "/Kids",     "/Count"};
    static const char* names[] = {"/Page", "/Annot", "/Link", "/Type1", "/WinAnsiEncoding", "/Helvetica", "/Fit"};
    prng r;
    std::string s;
    char buf[96];
    while (s.size() < n) {
        s += "<<";
        for (uint32_t k = 0, keys_n = 3 + r.below(6); k < keys_n; k++) {
            s += keys[r.below(18)];
            switch (r.below(4)) {
                case 0:
                    snprintf(buf, sizeof buf, " %u 0 R", 1 + r.below(20000));
                    break;
                case 1:
                    snprintf(buf, sizeof buf, " [%u.%02u %u.%02u %u %u]", r.below(600), r.below(100), r.below(800),
                             r.below(100), r.below(612), r.below(792));
                    break;
                case 2:
                    snprintf(buf, sizeof buf, " %s", names[r.below(7)]);
                    break;
                default:
                    snprintf(buf, sizeof buf, " (http://example.org/doc/%u.html)", r.below(100000));
                    break;
            }
            s += buf;
        }
        s += ">>\n";
    }
    s.resize(n);
    return bytes(s.begin(), s.end());
}

struct sample {
    bytes plain;
    bytes packed;  // zlib, default level, as most PDF producers write
};

const sample& sample_of(size_t n) {
    static std::map<size_t, sample> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    sample s{object_text(n), {}};
    uLongf len = compressBound(n);
    s.packed.resize(len);
    if (compress2(s.packed.data(), &len, s.plain.data(), n, Z_DEFAULT_COMPRESSION) != Z_OK) std::abort();
    s.packed.resize(len);
    return cache.emplace(n, std::move(s)).first->second;
}

void BM_inflate_decompress(benchmark::State& state) {
    const sample& s = sample_of(static_cast<size_t>(state.range(0)));
    bytes out(s.plain.size());
    for (auto _ : state) {
        size_t len = 0;
        if (inflate_decompress(s.packed.data(), s.packed.size(), out.data(), out.size(), &len) != 0) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.plain.size()));
    state.counters["ratio"] = static_cast<double>(s.plain.size()) / static_cast<double>(s.packed.size());
}

void BM_zlib_inflate(benchmark::State& state) {
    const sample& s = sample_of(static_cast<size_t>(state.range(0)));
    bytes out(s.plain.size());
    for (auto _ : state) {
        uLongf len = out.size();
        if (uncompress(out.data(), &len, s.packed.data(), s.packed.size()) != Z_OK) std::abort();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.plain.size()));
}

void BM_sx_deflate(benchmark::State& state) {
    const sample& s = sample_of(static_cast<size_t>(state.range(0)));
    size_t packed = 0;
    for (auto _ : state) {
        uint8_t* out = nullptr;
        if (sx_deflate(s.plain.data(), s.plain.size(), &out, &packed) != 0) std::abort();
        benchmark::DoNotOptimize(out);
        free(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.plain.size()));
    state.counters["ratio"] = static_cast<double>(s.plain.size()) / static_cast<double>(packed);
}

}  // namespace

BENCHMARK(BM_inflate_decompress)->RangeMultiplier(16)->Range(64 << 10, 64 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_zlib_inflate)->RangeMultiplier(16)->Range(64 << 10, 64 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_sx_deflate)->RangeMultiplier(16)->Range(64 << 10, 16 << 20)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
