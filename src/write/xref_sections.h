/*
 * The texts of a linearized file that hold offsets: both cross-reference
 * sections with their trailers, and the linearization dictionary (ISO
 * 32000-1, F.3). Every offset is written in a fixed width, so each text's
 * length is known before the offsets are.
 */
#ifndef MORVEL_WRITE_XREF_SECTIONS_H
#define MORVEL_WRITE_XREF_SECTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "analyze/plan.h"
#include "load/document.h"

// What both trailers carry over from the input: the information
// dictionary's new number (0 for none) and the /ID array text.
struct trailer_extras {
    int32_t info = 0;
    std::string id;
};
trailer_extras find_trailer_extras(const document& doc, const plan& order);

// The first-page section: its header for objects K to M - 1, their entries,
// the trailer pointing at the main section, and "%%EOF".
std::string first_section_header(int32_t k, int32_t m);
std::string first_page_trailer(int32_t k, int32_t m, int64_t main_pos, const trailer_extras& extras);
std::string first_section(int32_t k, int32_t m, const std::vector<int64_t>& offsets, int64_t main_pos,
                          const trailer_extras& extras);

// The main section: objects 0 to K - 1; its header's length places /T.
std::string main_section_header(int32_t k);
std::string main_section(int32_t k, const std::vector<int64_t>& offsets);
// The final trailer, pointing at the first-page section at first_pos.
std::string final_trailer(int32_t k, int64_t first_pos, const trailer_extras& extras);

// What the linearization dictionary states.
struct linearization_values {
    int32_t number;      // K
    int64_t file_len;    // /L
    int64_t hint_pos;    // /H, with the hint stream's length
    uint64_t hint_len;
    int32_t first_page;  // /O
    int64_t first_end;   // /E
    int32_t pages;       // /N
    int64_t main_first_entry;  // /T
};
// The 256-byte block holding the linearization dictionary: the object's
// text, then spaces, then a line feed.
inline constexpr int64_t LIN_BLOCK_LEN = 256;
std::string linearization_block(const linearization_values& v);

#endif
