/*
 * zlib stream decoder for object streams, and PNG row predictors.
 */
#ifndef MORVEL_INFLATE_H
#define MORVEL_INFLATE_H

#include <cstddef>
#include <cstdint>

// Decodes a zlib stream into dst (capacity dstcap, at most 1 GiB). 0 when
// decoding stopped without running out of input or room: the final block was
// decoded, or the data turned out corrupt part-way; *dstlen holds the bytes
// produced. -1 (and *dstlen 0) when the header is refused, the input ends
// early or dst is too small.
int inflate_decompress(const uint8_t* src, size_t srclen, uint8_t* dst, size_t dstcap,
                       size_t* dstlen);

// The results of inflate_growing.
enum {
    INFLATE_DONE = 0,         // as inflate_decompress's 0: complete, or corrupt part-way
    INFLATE_REFUSED = -1,     // the header is refused or the input ends early
    INFLATE_OVER_LIMIT = -2,  // the data decodes to more than limit bytes
    INFLATE_NO_MEMORY = -3,   // the buffer could not grow
};

// Decodes a zlib stream into a buffer of its own, allocated with malloc:
// first_guess bytes at first, doubled whenever it fills, never more than
// limit (at most 1 GiB), so each stream is decoded once whatever its size.
// On INFLATE_DONE the caller frees *dst; otherwise *dst is null.
int inflate_growing(const uint8_t* src, size_t srclen, size_t first_guess, size_t limit, uint8_t** dst,
                    size_t* dstlen);

// Undoes PNG row filters in place: rows of 1 + row_bytes bytes become rows
// of row_bytes at the front of buf. 0, or -1 for row_bytes < 1 or a filter
// type above 4.
int inflate_png_unfilter(uint8_t* buf, size_t len, int row_bytes);

#endif
