/*
 * The reference tokenizer and its two users.
 */
#include "pdf/refs.h"

#include <algorithm>
#include <unordered_set>

#include "pdf/lexer.h"

namespace {

enum class tok { plain, ref, digits };

struct token {
    tok kind;
    int32_t end;  // offset just past the token
    int32_t num;  // ref only
};

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

// Dictionaries hold few references, so a linear test is cheapest there; the
// long lists (a page tree's /Kids, a big /Annots) switch to a hash set.
constexpr size_t LINEAR_DEDUP_MAX = 32;

}  // namespace

void collect_references(const char* text, int32_t text_len, std::vector<int32_t>& nums, size_t limit,
                        std::span<const int32_t> skip_refs_at) {
    std::unordered_set<int32_t> seen;
    int32_t pos = 0;
    while (pos < text_len) {
        token t = next_token(text, text_len, pos);
        if (t.kind == tok::ref && t.num > 0 && nums.size() < limit &&
            std::find(skip_refs_at.begin(), skip_refs_at.end(), pos) == skip_refs_at.end()) {
            bool known;
            if (nums.size() <= LINEAR_DEDUP_MAX) {
                known = std::find(nums.begin(), nums.end(), t.num) != nums.end();
            } else {
                if (seen.empty()) seen.insert(nums.begin(), nums.end());
                known = seen.count(t.num) != 0;
            }
            if (!known) {
                nums.push_back(t.num);
                if (!seen.empty()) seen.insert(t.num);
            }
        }
        pos = t.end;
    }
}

void rewrite_references(const char* text, int32_t text_len, const int32_t* new_num, int32_t max_num, out_buf& out) {
    int32_t copied = 0;  // bytes before this are already in out
    int32_t pos = 0;
    while (pos < text_len) {
        token t = next_token(text, text_len, pos);
        if (t.kind == tok::ref) {
            buf_bytes(out, text + copied, static_cast<size_t>(pos - copied));
            int32_t a = t.num;
            if (a >= 1 && a <= max_num && new_num[a] > 0)
                buf_printf(out, "%d 0 R", new_num[a]);
            else
                buf_bytes(out, "null", 4);  // the object is not written: a dangling reference
            copied = t.end;
        }
        pos = t.end;
    }
    buf_bytes(out, text + copied, static_cast<size_t>(text_len - copied));
}
