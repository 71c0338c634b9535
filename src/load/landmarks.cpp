/*
 * One pass for three words. Candidates are the byte pairs the words start
 * with ("/E", "/X", "tr"), tested thirty-two positions at a time where the
 * processor has AVX2, else sixteen where it has SSE2; the rare candidate is
 * then compared whole. Most of a file is compressed stream data, in which
 * such a pair turns up about once in 20,000 bytes, so the cost is the
 * block test itself.
 */
#include "load/landmarks.h"

#include <algorithm>
#include <cstring>

#include "base/parallel.h"
#include "pdf/lexer.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Bytes a thread searches at a time.
constexpr size_t PART = size_t{8} << 20;

constexpr char ENCRYPT[] = "/Encrypt";
constexpr char XREF[] = "/XRef";
constexpr char TRAILER[] = "trailer";

bool word_at(const char* buf, int32_t len, int32_t i, const char* word, int32_t n) {
    return i <= len - n && memcmp(buf + i, word, static_cast<size_t>(n)) == 0;
}

// Records whichever word starts at i.
void test_candidate(const char* buf, int32_t len, int32_t i, landmarks& out) {
    if (buf[i] == '/') {
        if (word_at(buf, len, i, ENCRYPT, 8)) out.encrypt.push_back(i);
        else if (word_at(buf, len, i, XREF, 5)) out.xref.push_back(i);
    } else if (word_at(buf, len, i, TRAILER, 7) && kw_at(buf, i, len, TRAILER)) {
        out.trailer.push_back(i);
    }
}

bool is_candidate(const char* p) { return (p[0] == '/' && (p[1] == 'E' || p[1] == 'X')) || (p[0] == 't' && p[1] == 'r'); }

#if defined(__x86_64__)
// Thirty-two positions at a time where the processor has AVX2: the pass is
// bound by the processor, not by memory, so twice the width is nearly
// twice the speed. Returns where it stopped.
__attribute__((target("avx2"))) int32_t find_in_avx2(const char* buf, int32_t len, int32_t i, int32_t to,
                                                    landmarks& out) {
    const __m256i slash = _mm256_set1_epi8('/'), e = _mm256_set1_epi8('E'), x = _mm256_set1_epi8('X');
    const __m256i t = _mm256_set1_epi8('t'), r = _mm256_set1_epi8('r');
    for (; i + 32 <= to && i + 33 <= len; i += 32) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(buf + i));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(buf + i + 1));
        __m256i hit = _mm256_or_si256(
            _mm256_and_si256(_mm256_cmpeq_epi8(a, slash),
                             _mm256_or_si256(_mm256_cmpeq_epi8(b, e), _mm256_cmpeq_epi8(b, x))),
            _mm256_and_si256(_mm256_cmpeq_epi8(a, t), _mm256_cmpeq_epi8(b, r)));
        for (unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(hit)); mask; mask &= mask - 1)
            test_candidate(buf, len, i + __builtin_ctz(mask), out);
    }
    return i;
}

// Asked once, after the processor's features have been read (a static
// initialiser could run before that).
bool has_avx2() {
    static const bool yes = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
    return yes;
}
#endif

// The words that start in [from, to); their bytes may run past to.
void find_in(const char* buf, int32_t len, int32_t from, int32_t to, landmarks& out) {
    int32_t i = from;
#if defined(__x86_64__)
    if (has_avx2()) i = find_in_avx2(buf, len, i, to, out);
#endif
#if defined(__SSE2__)
    // Each block reads 17 bytes: the pair at its last position needs one more.
    const __m128i slash = _mm_set1_epi8('/'), e = _mm_set1_epi8('E'), x = _mm_set1_epi8('X');
    const __m128i t = _mm_set1_epi8('t'), r = _mm_set1_epi8('r');
    for (; i + 16 <= to && i + 17 <= len; i += 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + i + 1));
        __m128i hit = _mm_or_si128(
            _mm_and_si128(_mm_cmpeq_epi8(a, slash), _mm_or_si128(_mm_cmpeq_epi8(b, e), _mm_cmpeq_epi8(b, x))),
            _mm_and_si128(_mm_cmpeq_epi8(a, t), _mm_cmpeq_epi8(b, r)));
        for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask; mask &= mask - 1)
            test_candidate(buf, len, i + __builtin_ctz(mask), out);
    }
#endif
    for (; i < to && i + 1 < len; i++)
        if (is_candidate(buf + i)) test_candidate(buf, len, i, out);
}

void append(std::vector<int32_t>& to, const std::vector<int32_t>& from) { to.insert(to.end(), from.begin(), from.end()); }

}  // namespace

landmarks find_landmarks(const char* buf, int32_t len) {
    // A large file is searched in parts on a few threads, the parts' finds
    // joined in order.
    size_t parts = (static_cast<size_t>(len) + PART - 1) / PART;
    if (parts <= 1) {
        landmarks out;
        find_in(buf, len, 0, len, out);
        return out;
    }
    std::vector<landmarks> found(parts);
    for_each_item(parts, threads_for(static_cast<size_t>(len), PART), 1, [&](size_t p, size_t) {
        int32_t from = static_cast<int32_t>(p * PART);
        find_in(buf, len, from, static_cast<int32_t>(std::min<size_t>(len, (p + 1) * PART)), found[p]);
    });
    landmarks out;
    for (const landmarks& f : found) append(out.encrypt, f.encrypt), append(out.xref, f.xref), append(out.trailer, f.trailer);
    return out;
}
