/*
 * Reading dictionaries out of object texts: the value of a key, the entries
 * of a dictionary in order, copies of a dictionary's text, and the /Type
 * tests.
 *
 * A key is found by a flat search for its slash and name over the whole
 * text, and the first occurrence wins, so a key of a nested dictionary that
 * comes first is the one taken, as everywhere in the library.
 */
#ifndef MORVEL_PDF_DICT_H
#define MORVEL_PDF_DICT_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Offset just past the first key /name of the text, or -1 without one.
int32_t after_key(const char* text, int32_t len, const char* name);

// Offset of the first byte of the first /name's value (white space after
// the key skipped; len when nothing follows), or -1 without the key.
int32_t key_value(const char* text, int32_t len, const char* name);

// Integer after the first key /name (white space skipped), or -1.
int32_t dict_int(const char* text, int32_t len, const char* key);

// Offset of the reference "N G R" that is the value of the first /name
// (its number in *num), or -1 when the key is absent or its value is no
// reference.
int32_t key_reference(const char* text, int32_t len, const char* name, int32_t* num);

// One entry of a dictionary: its key (without the slash) and the byte range
// of its value within the text it was read from.
struct dict_entry {
    std::string key;
    int32_t value_start = 0;
    int32_t value_end = 0;
};
// The entries of the dictionary at the first "<<" of text, in order, only
// the outermost level: a value is a reference, a balanced dictionary or
// array, a string, or a run of bytes up to white space or a delimiter.
std::vector<dict_entry> dict_entries(std::string_view text);

// The slice [start, end) of src; empty when it is empty or reversed.
std::string_view extract_dict_text(const char* src, int32_t start, int32_t end);
// The dictionary opening with "<<" at pos, through its matching ">>"
// (brackets counted as dict_brackets does).
std::string extract_dict_at(const char* text, int32_t len, int32_t pos);

// /Type classification: the first /Type key whose value is one of these
// decides. A value ends at a byte that is no letter or digit, so /Page_2
// counts as /Page while /PageLabel and /Pagesx count as nothing.
enum obj_type : uint8_t { TYPE_NONE = 0, TYPE_PAGE = 1, TYPE_PAGES = 2, TYPE_CATALOG = 3 };
obj_type check_dict_type(const char* text, int32_t len);
// 1 when some /Type entry has the value /type_name.
int has_type(const char* text, int32_t len, const char* type_name);

#endif
