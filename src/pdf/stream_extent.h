/*
 * Where a stream's data lies: after the "stream" keyword and its line end,
 * up to the "endstream" keyword less one line end, or exactly as long as
 * its /Length says when "endstream" follows there.
 */
#ifndef MORVEL_PDF_STREAM_EXTENT_H
#define MORVEL_PDF_STREAM_EXTENT_H

#include <cstdint>

// The dictionary's closing ">" stands right before the "stream" at s, with
// only white space between (q is the dictionary's "<<").
bool stream_follows_dict(const char* buf, int32_t q, int32_t s);

// First data byte after the "stream" keyword at s: after the line end that
// follows it (spaces and tabs allowed before), else one byte after it.
int32_t data_start(const char* buf, int32_t len, int32_t s);

// Data end by keywords: the "endstream" below e (or e), less one line end.
int32_t keyword_data_end(const char* buf, int32_t data_pos, int32_t e);

// The offset of the "endstream" that follows the stream data ending at
// data_end (after an optional CR LF, LF or CR), or -1.
int32_t endstream_after(const char* buf, int32_t len, int64_t data_end);

// The first /Length entry of a stream dictionary as written.
struct length_entry {
    int32_t key = -1;          // offset of "/Length", -1 when there is none
    int32_t value_start = -1;  // first byte of its value (white space skipped)
    int32_t int_end = -1;      // end of the integer read there (a sign included), -1 when none
    int32_t value = -1;        // that integer (32-bit wrap-around)
    int32_t ref_end = -1;      // end of a reference "N G R" there (a sign before it passed over), or -1
    int32_t ref_num = 0;       // the reference's object number
};
length_entry read_length_entry(const char* dict, int32_t n);

// The value of a text that is one non-negative integer with only white
// space around it (an integer object's body), or -1.
int32_t plain_integer(const char* text, int32_t n);

#endif
