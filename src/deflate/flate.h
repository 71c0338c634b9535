/*
 * DEFLATE encoder (zlib-wrapped) and raw DEFLATE decoder.
 */
#ifndef MORVEL_FLATE_H
#define MORVEL_FLATE_H

#include <cstddef>
#include <cstdint>

// How long the match finder looks: thorough for small outputs whose every
// byte counts (the hint stream), fast for bulk text (object streams).
enum class deflate_effort { thorough, fast };

// Compresses len bytes into a complete zlib stream (header 78 01, dynamic
// Huffman blocks of at most 65536 input bytes, Adler-32). The caller frees
// *out with free(). 0 on success, -1 on failure (nothing to free).
int sx_deflate(const uint8_t* data, size_t len, uint8_t** out, size_t* out_len,
               deflate_effort effort = deflate_effort::thorough);

// Decodes raw DEFLATE data (no zlib header); the number of bytes written to
// dst once a final block has been decoded, or -1.
int sx_inflate(const uint8_t* src, size_t srclen, uint8_t* dst, size_t dstcap);

#endif
