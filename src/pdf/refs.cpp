/*
 * The reference tokenizer and its two users.
 */
#include "pdf/refs.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pdf/lexer.h"

namespace {

enum class tok { plain, ref, digits };

struct token {
    tok kind;
    int32_t end;  // offset just past the token
    int32_t num;  // ref only
};

// Bytes that may start a token other than a single plain byte: a comment,
// a string, "<<" and a number. Runs of other bytes are passed over at once.
constexpr std::array<bool, 256> make_token_starts() {
    std::array<bool, 256> t{};
    for (int c = '0'; c <= '9'; c++) t[static_cast<size_t>(c)] = true;
    t['%'] = t['('] = t['<'] = true;
    return t;
}
constexpr std::array<bool, 256> TOKEN_STARTS = make_token_starts();

// The first token start at or after pos, or len. In dictionaries a token
// starts every few bytes at unforeseeable distances: sixteen bytes tested
// at once beat a loop whose exit the processor keeps mispredicting.
int32_t skip_plain(const char* text, int32_t len, int32_t pos) {
#if defined(__SSE2__)
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    const __m128i percent = _mm_set1_epi8('%'), paren = _mm_set1_epi8('('), angle = _mm_set1_epi8('<');
    for (; pos + 16 <= len; pos += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos));
        __m128i d = _mm_sub_epi8(v, zero);
        __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(d, nine), d);
        __m128i other = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, percent), _mm_cmpeq_epi8(v, paren)),
                                     _mm_cmpeq_epi8(v, angle));
        if (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(digit, other))))
            return pos + __builtin_ctz(mask);
    }
#endif
    while (pos < len && !TOKEN_STARTS[byte_at(text, pos)]) pos++;
    return pos;
}

// The token starting at pos (pos < len).
token next_token(const char* text, int32_t len, int32_t pos) {
    char c = text[pos];
    switch (c) {
        case '%':
            return {tok::plain, comment_end(text, len, pos), 0};
        case '(':
            return {tok::plain, literal_string_end(text, len, pos), 0};
        case '<':
            if (pos + 1 < len && text[pos + 1] == '<') return {tok::plain, pos + 2, 0};
            return {tok::plain, hex_string_end(text, len, pos), 0};
        case '>':
            return {tok::plain, pos + 1 < len && text[pos + 1] == '>' ? pos + 2 : pos + 1, 0};
        default:
            break;
    }
    if (!is_digit(static_cast<unsigned char>(c))) return {tok::plain, pos + 1, 0};
    int32_t num = 0, gen = 0;
    int32_t end = reference_at(text, len, pos, &num, &gen);
    if (end >= 0) return {tok::ref, end, num};
    int32_t i = pos;
    while (i < len && is_digit(byte_at(text, i))) i++;
    return {tok::digits, i, 0};
}

// Walks a text token by token; a token other than a plain byte comes from
// next(). Number-heavy texts (widths arrays, boxes, matrices) are the cost
// here: a reference "N G R" holds nothing but digits and white space before
// its R, so a number is only read as a reference when the run of digits and
// white space it starts ends at an "R". `stop`, the end of that run, is
// found once for all the numbers in it.
struct tokenizer {
    const char* text;
    int32_t len;
    int32_t pos = 0;
    int32_t stop = -1;

    bool next(token& t) {
        pos = skip_plain(text, len, pos);
        if (pos >= len) return false;
        t = is_digit(byte_at(text, pos)) ? number() : next_token(text, len, pos);
        return true;
    }

    token number() {
        if (pos > stop) {
            stop = pos;
            while (stop < len && (is_digit(byte_at(text, stop)) || is_pdf_space(byte_at(text, stop)))) stop++;
        }
        if (stop < len && text[stop] == 'R') return next_token(text, len, pos);
        int32_t i = pos;
        while (i < len && is_digit(byte_at(text, i))) i++;
        return {tok::digits, i, 0};
    }
};

// Dictionaries hold few references, so a linear test is cheapest there; the
// long lists (a page tree's /Kids, a big /Annots) switch to a hash set.
constexpr size_t LINEAR_DEDUP_MAX = 32;

// What collect_references keeps of the reference tokens it is offered.
struct collector {
    std::vector<int32_t>& nums;
    size_t limit;
    std::span<const int32_t> skip_refs_at;
    std::unordered_set<int32_t> seen;

    void offer(int32_t at, int32_t num) {
        if (num <= 0 || nums.size() >= limit ||
            std::find(skip_refs_at.begin(), skip_refs_at.end(), at) != skip_refs_at.end())
            return;
        bool known;
        if (nums.size() <= LINEAR_DEDUP_MAX) {
            known = std::find(nums.begin(), nums.end(), num) != nums.end();
        } else {
            if (seen.empty()) seen.insert(nums.begin(), nums.end());
            known = seen.count(num) != 0;
        }
        if (!known) {
            nums.push_back(num);
            if (!seen.empty()) seen.insert(num);
        }
    }
};

}  // namespace

void collect_references(const char* text, int32_t text_len, std::vector<int32_t>& nums, size_t limit,
                        std::span<const int32_t> skip_refs_at, std::vector<ref_token>* all_tokens) {
    // A reference ends in "R": half the bodies of a file have none.
    if (text_len <= 0 || !memchr(text, 'R', static_cast<size_t>(text_len))) return;
    collector keep{nums, limit, skip_refs_at, {}};
    tokenizer walk{text, text_len};
    for (token t; walk.next(t); walk.pos = t.end) {
        if (t.kind != tok::ref) continue;
        if (all_tokens) all_tokens->push_back({walk.pos, t.end, t.num});
        keep.offer(walk.pos, t.num);
    }
}

void collect_from_tokens(std::span<const ref_token> tokens, std::vector<int32_t>& nums, size_t limit,
                         std::span<const int32_t> skip_refs_at) {
    collector keep{nums, limit, skip_refs_at, {}};
    for (const ref_token& t : tokens) keep.offer(t.start, t.num);
}

// One reference of the output: its new number, or "null" for an object
// that is not written (what a reader makes of a dangling reference).
static void put_reference(int32_t old_num, const int32_t* new_num, int32_t max_num, out_buf& out) {
    if (old_num >= 1 && old_num <= max_num && new_num[old_num] > 0) {
        buf_int(out, new_num[old_num]);
        buf_bytes(out, " 0 R", 4);
    } else {
        buf_bytes(out, "null", 4);
    }
}

void rewrite_references(const char* text, int32_t text_len, const int32_t* new_num, int32_t max_num, out_buf& out) {
    if (text_len <= 0 || !memchr(text, 'R', static_cast<size_t>(text_len))) {
        buf_bytes(out, text, static_cast<size_t>(std::max(text_len, 0)));
        return;
    }
    int32_t copied = 0;  // bytes before this are already in out
    tokenizer walk{text, text_len};
    for (token t; walk.next(t); walk.pos = t.end) {
        if (t.kind != tok::ref) continue;
        buf_bytes(out, text + copied, static_cast<size_t>(walk.pos - copied));
        put_reference(t.num, new_num, max_num, out);
        copied = t.end;
    }
    buf_bytes(out, text + copied, static_cast<size_t>(text_len - copied));
}

void rewrite_tokens(const char* text, int32_t text_len, std::span<const ref_token> tokens, const int32_t* new_num,
                    int32_t max_num, out_buf& out) {
    int32_t copied = 0;
    for (const ref_token& t : tokens) {
        buf_bytes(out, text + copied, static_cast<size_t>(t.start - copied));
        put_reference(t.num, new_num, max_num, out);
        copied = t.end;
    }
    buf_bytes(out, text + copied, static_cast<size_t>(text_len - copied));
}
