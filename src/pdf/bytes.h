/*
 * Byte classes of PDF text.
 *
 * The "locale" classes are fixed tables equal to the C locale's isspace and
 * isalnum, so that a host's setlocale never changes how a file is read.
 */
#ifndef MORVEL_PDF_BYTES_H
#define MORVEL_PDF_BYTES_H

#include <cstdint>

struct byte_classes {
    bool pdf_space[256];  // NUL TAB LF FF CR SP (ISO 32000-1 white space)
    bool loc_space[256];  // TAB LF VT FF CR SP
    bool alnum[256];      // ASCII letters and digits
};

constexpr byte_classes make_byte_classes() {
    byte_classes t{};
    for (int c = 0; c < 256; c++) {
        t.pdf_space[c] = c == 0x00 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
        t.loc_space[c] = (c >= 0x09 && c <= 0x0D) || c == 0x20;
        t.alnum[c] = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    }
    return t;
}

inline constexpr byte_classes g_bytes = make_byte_classes();

inline bool is_pdf_space(unsigned char c) { return g_bytes.pdf_space[c]; }
inline bool is_loc_space(unsigned char c) { return g_bytes.loc_space[c]; }
inline bool is_alnum(unsigned char c) { return g_bytes.alnum[c]; }
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// The byte at i of a text, as the classes above take it.
inline unsigned char byte_at(const char* text, int32_t i) { return static_cast<unsigned char>(text[i]); }

#endif
