/*
 * The token rules of PDF text, read at positions of raw bytes.
 *
 * Nothing here builds a syntax tree: every stage asks small questions of the
 * bytes at an offset (is a keyword here, where is the next key name, what
 * integer starts here, where does this string or bracket end, which object
 * header ends at this "obj"). Texts are byte arrays with an explicit length
 * and may contain NUL bytes; no rule reads at or past the length it is
 * given. Failure is -1 (or 0 for yes/no tests); nothing allocates.
 *
 * Where two readers need the same bytes read differently (a delimiter set,
 * whether strings are recognised inside brackets), both rules are here,
 * each named for what it serves.
 */
#ifndef MORVEL_PDF_LEXER_H
#define MORVEL_PDF_LEXER_H

#include <cstdint>

#include "pdf/bytes.h"

// ---- Keywords, names, numbers

// 1 when kw stands at pos as a whole word (no letter or digit touching it).
int kw_at(const char* text, int32_t pos, int32_t len, const char* kw);

// Offset of the first whole-word kw at or after start, or -1.
int32_t find_kw(const char* text, int32_t len, int32_t start, const char* kw);

// Offset of the "/" of the first key /name (a complete name: not followed by
// a letter, digit, "+", "-" or "_") in [start, min(len, end)), or -1.
int32_t find_name(const char* text, int32_t len, int32_t start, int32_t end, const char* name);

// Skips PDF white space from *cursor and reads an optionally negative decimal
// integer ending before end. On success advances *cursor past the digits; on
// failure returns -1 and leaves it. Digits whose value does not fit in 32 bits
// are no number of this kind: they fail too.
int32_t parse_int_at(const char* text, int32_t end, int32_t* cursor);

// Reads "N G obj" backwards from the offset of an "obj" keyword. Returns the
// offset of N's first digit and stores N and G, or returns -1 (also when N or
// G does not fit in 32 bits).
int32_t parse_obj_head(const char* text, int32_t obj_pos, int32_t* num, int32_t* gen);

// The first offset at or after i that is not PDF white space (or len).
inline int32_t skip_space(const char* text, int32_t len, int32_t i) {
    while (i < len && is_pdf_space(byte_at(text, i))) i++;
    return i;
}

// End of the run of digits, signs and decimal points at pos, or -1 when the
// run holds no digit: a number as a page attribute's value is read.
int32_t number_token_end(const char* text, int32_t len, int32_t pos);

// ---- Indirect references

// The reference "N G R" whose first digit is at pos: white space between the
// integers, optional white space before the R, and no letter or digit right
// after it ("1 0 RG" is two integers and an operator). Returns the offset
// just past the R and stores N and G, or returns -1. A number too large for
// 32 bits is stored as -1: the token is a reference to no object.
int32_t reference_at(const char* text, int32_t len, int32_t pos, int32_t* num, int32_t* gen);

// ---- Strings, comments, brackets

// Ends (just past the closing byte) of the literal string "(...)" (nested
// parentheses, backslash escapes) and of the hexadecimal string "<...>"
// opening at pos; -1 when the text ends first.
int32_t literal_string_close(const char* text, int32_t len, int32_t pos);
int32_t hex_string_close(const char* text, int32_t len, int32_t pos);
// The same, with an unterminated string running to the end of the text: how
// a tokenizer walks past a string.
inline int32_t literal_string_end(const char* text, int32_t len, int32_t pos) {
    int32_t e = literal_string_close(text, len, pos);
    return e < 0 ? len : e;
}
inline int32_t hex_string_end(const char* text, int32_t len, int32_t pos) {
    int32_t e = hex_string_close(text, len, pos);
    return e < 0 ? len : e;
}
// End of the string token (literal or hexadecimal, not "<<") at pos, or -1
// when there is none or it is unterminated.
int32_t string_token_end(const char* text, int32_t len, int32_t pos);

// End of the comment at pos: the next CR or LF (not included), or len.
int32_t comment_end(const char* text, int32_t len, int32_t pos);

// The dictionary opening with "<<" at pos, its brackets counted in greedy
// pairs ("<<<" is an opening pair and a lone "<"); strings and comments are
// not recognised, every "<<" and ">>" counts. This is how dictionaries are
// cut out of object texts and file heads. closed: the matching ">>" was
// found and end is just past it; otherwise end is where the pairs ran out.
struct bracket_span {
    int32_t end;
    bool closed;
};
bracket_span dict_brackets(const char* text, int32_t len, int32_t pos);

// End (just past the matching "]") of the array opening at pos, counting
// only "[" and "]", or -1 when it does not close: how a page attribute's
// array value is taken.
int32_t array_close(const char* text, int32_t len, int32_t pos);

// End of the "<<" or "[" at pos through the bracket that balances it; both
// kinds count on one depth and strings are passed over whole; len when it
// does not close. How a dictionary entry's value is delimited.
int32_t balanced_end(const char* text, int32_t len, int32_t pos);

// ---- Delimiters

// The delimiters of ISO 32000-1 (7.2.2): where a /Length token that is
// neither an integer nor a reference ends.
inline bool is_delimiter(char c) {
    switch (c) {
        case '(': case ')': case '<': case '>': case '[': case ']': case '{': case '}': case '/': case '%':
            return true;
        default:
            return false;
    }
}

// End of the run of regular bytes (neither white space nor a delimiter) at
// pos: a /Length token that is neither an integer nor a reference.
inline int32_t regular_run_end(const char* text, int32_t len, int32_t pos) {
    while (pos < len && !is_pdf_space(byte_at(text, pos)) && !is_delimiter(text[pos])) pos++;
    return pos;
}

// Where a key or a plain value of a dictionary entry ends: PDF white space or
// one of "/<>[]()%" (braces do not occur in the dictionaries read this way).
inline bool ends_entry_token(char c) {
    return is_pdf_space(static_cast<unsigned char>(c)) || (c != '{' && c != '}' && is_delimiter(c));
}

#endif
