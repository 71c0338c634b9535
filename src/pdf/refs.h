/*
 * Finding and renumbering the indirect references of an object's text.
 *
 * Both operations walk the text with one tokenizer, so that comments and
 * strings never yield references, and judge a reference by the one rule of
 * reference_at.
 */
#ifndef MORVEL_PDF_REFS_H
#define MORVEL_PDF_REFS_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/buffer.h"

// A reference token of a text: [start, end) and the number it names (-1
// for a number too large).
struct ref_token {
    int32_t start;
    int32_t end;
    int32_t num;
};

// Appends each distinct object number above 0 referenced by "N G R" in text
// (outside strings and comments), in order of first occurrence, while fewer
// than limit numbers are held. The reference tokens starting at the offsets
// in skip_refs_at are passed over. With all_tokens, every reference token
// of the text is appended there too, in order, whatever the limit and the
// skips: what rewrite_references would rewrite.
void collect_references(const char* text, int32_t text_len, std::vector<int32_t>& nums, size_t limit,
                        std::span<const int32_t> skip_refs_at, std::vector<ref_token>* all_tokens = nullptr);
inline void collect_references(const char* text, int32_t text_len, std::vector<int32_t>& nums, size_t limit,
                               int32_t skip_ref_at = -1) {
    collect_references(text, text_len, nums, limit, std::span<const int32_t>(&skip_ref_at, 1));
}

// What collect_references keeps, from the text's reference tokens (as its
// all_tokens gave them).
void collect_from_tokens(std::span<const ref_token> tokens, std::vector<int32_t>& nums, size_t limit,
                         std::span<const int32_t> skip_refs_at);

// Copies text into out with every reference rewritten through new_num
// (indexed by old number, 0..max_num; an entry <= 0 means no new number, and
// such a reference becomes "null").
void rewrite_references(const char* text, int32_t text_len, const int32_t* new_num, int32_t max_num, out_buf& out);
// The same with the text's reference tokens known (from collect_references
// over the same whole text): no second tokenising.
void rewrite_tokens(const char* text, int32_t text_len, std::span<const ref_token> tokens, const int32_t* new_num,
                    int32_t max_num, out_buf& out);

#endif
