/*
 * The /Length of each stream: where a length given by reference bounds the
 * data, and whether the written /Length must change to equal the data.
 */
#ifndef MORVEL_LOAD_STREAM_LENGTHS_H
#define MORVEL_LOAD_STREAM_LENGTHS_H

#include <cstdint>

#include "load/document.h"

// Streams whose /Length refers to an integer object take their data extent
// from it when "endstream" follows there. Needs the table indexed.
void fix_referenced_lengths(const input_file& input, obj_list& objects);

// Where a stream's /Length must change so that it equals the data length
// written. The writer rewrites it; the page walk skips a reference that the
// writer replaces (nothing will point at that length object any more).
struct length_fix {
    enum kind_t { KEEP, REPLACE, INSERT } kind = KEEP;
    int32_t value_start = -1;  // REPLACE: body offsets of the old value (an integer or "N G R")
    int32_t value_end = -1;
    bool value_is_ref = false;  // REPLACE: the old value is a reference
};
length_fix stream_length_fix(const obj_list& objects, const pdf_obj& obj);

#endif
