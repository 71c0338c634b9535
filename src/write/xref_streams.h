/*
 * Cross-reference streams (ISO 32000-1, 7.5.8) for the compact form: the
 * entries of a section as binary rows, compressed, with the trailer's
 * entries in the stream's dictionary.
 */
#ifndef MORVEL_WRITE_XREF_STREAMS_H
#define MORVEL_WRITE_XREF_STREAMS_H

#include <cstdint>
#include <string>
#include <vector>

#include "write/xref_sections.h"

// One row: type 0 (free), 1 (at an offset) or 2 (inside an object stream:
// the stream's number and the index in it).
struct xref_row {
    uint8_t type;
    int64_t field2;
    int64_t field3;
};

// What a section's dictionary says besides its rows.
struct xref_stream_dict {
    int32_t number;  // of the stream object itself
    int32_t first;   // number of the first row
    int32_t size;    // /Size
    int32_t root;    // the catalog's number
    int64_t prev = -1;  // /Prev, or -1 for none
};

// The whole object "N 0 obj ... endobj\n". Throws std::bad_alloc when the
// compressor cannot have its memory.
std::string xref_stream_object(const std::vector<xref_row>& rows, const xref_stream_dict& dict,
                               const trailer_extras& extras);

#endif
