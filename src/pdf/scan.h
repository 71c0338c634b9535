/*
 * Position-based scanning of raw PDF bytes.
 *
 * Nothing here parses PDF into a tree: every stage asks small questions of
 * the bytes at an offset (is a keyword here, where is the next key name,
 * what integer starts here, which object header ends at this "obj"). Texts
 * are byte arrays with an explicit length and may contain NUL bytes; no
 * primitive reads at or past the length it is given. Failure is -1 (or 0 for
 * yes/no tests); nothing allocates except the copying helpers at the end.
 */
#ifndef MORVEL_SCAN_H
#define MORVEL_SCAN_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/buffer.h"

// Byte classes. The "locale" classes are fixed tables equal to the C
// locale's isspace/isalnum, so a host's setlocale never changes a result.
struct byte_classes {
    bool pdf_space[256];  // NUL TAB LF FF CR SP (ISO 32000-1 white space)
    bool loc_space[256];  // TAB LF VT FF CR SP
    bool alnum[256];      // ASCII letters and digits
};
extern const byte_classes g_bytes;

inline bool is_pdf_space(unsigned char c) { return g_bytes.pdf_space[c]; }
inline bool is_loc_space(unsigned char c) { return g_bytes.loc_space[c]; }
inline bool is_alnum(unsigned char c) { return g_bytes.alnum[c]; }
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// 1 when kw stands at pos as a whole word (no letter or digit touching it).
int kw_at(const char* text, int32_t pos, int32_t len, const char* kw);

// Offset of the first whole-word kw at or after start, or -1.
int32_t find_kw(const char* text, int32_t len, int32_t start, const char* kw);

// Offset of the "/" of the first key /name (a complete name: not followed by
// a letter, digit, "+", "-" or "_") in [start, min(len, end)), or -1.
int32_t find_name(const char* text, int32_t len, int32_t start, int32_t end, const char* name);

// Skips PDF white space from *cursor and reads an optionally negative decimal
// integer (32-bit wrap-around) ending before end. On success advances *cursor
// past the digits; on failure returns -1 and leaves it.
int32_t parse_int_at(const char* text, int32_t end, int32_t* cursor);

// Integer after the first key /key anywhere in the text, or -1.
int32_t dict_int(const char* text, int32_t len, const char* key);

// Reads "N G obj" backwards from the offset of an "obj" keyword. Returns the
// offset of N's first digit and stores N and G, or returns -1.
int32_t parse_obj_head(const char* text, int32_t obj_pos, int32_t* num, int32_t* gen);

// Copies of slices; an empty string means that nothing was copied.
std::string extract_dict_text(const char* src, int32_t start, int32_t end);
// The dictionary opening with "<<" at pos, through its matching ">>".
std::string extract_dict_at(const char* text, int32_t len, int32_t pos);

// /Type classification: 0 none, 1 Page, 2 Pages, 3 Catalog.
enum { TYPE_NONE = 0, TYPE_PAGE = 1, TYPE_PAGES = 2, TYPE_CATALOG = 3 };
int check_dict_type(const char* text, int32_t len);
// 1 when some /Type entry has the value /type_name.
int has_type(const char* text, int32_t len, const char* type_name);

// The reference "N G R" whose first digit is at pos: white space between the
// integers, optional white space before the R, and no letter or digit right
// after it. Returns the offset just past the R and stores N and G, or -1.
int32_t reference_at(const char* text, int32_t len, int32_t pos, int32_t* num, int32_t* gen);

// Ends (just past the closing byte, or len when there is none) of the
// literal string "(...)" (nested parentheses, backslash escapes) and of the
// hexadecimal string "<...>" opening at pos.
int32_t literal_string_end(const char* text, int32_t len, int32_t pos);
int32_t hex_string_end(const char* text, int32_t len, int32_t pos);

// Appends each distinct object number above 0 referenced by "N G R" in text
// (outside strings and comments), in order of first occurrence, while fewer
// than limit numbers are held. The reference tokens starting at the offsets
// in skip_refs_at are passed over.
void collect_references(const char* text, int32_t text_len, std::vector<int32_t>& nums,
                        size_t limit, std::span<const int32_t> skip_refs_at);
inline void collect_references(const char* text, int32_t text_len, std::vector<int32_t>& nums,
                               size_t limit, int32_t skip_ref_at = -1) {
    collect_references(text, text_len, nums, limit, std::span<const int32_t>(&skip_ref_at, 1));
}

// Copies text into out with every reference rewritten through new_num
// (indexed by old number, 0..max_num; an entry <= 0 means no new number, and
// such a reference becomes "null").
void rewrite_references(const char* text, int32_t text_len, const int32_t* new_num,
                        int32_t max_num, out_buf& out);

#endif
