/*
 * The data of a stream as object streams and cross-reference streams are
 * read: FlateDecode (with PNG predictors) or no filter at all.
 */
#ifndef MORVEL_LOAD_STREAM_DECODE_H
#define MORVEL_LOAD_STREAM_DECODE_H

#include <cstdint>
#include <memory>

#include "load/document.h"

// Either a view of the input or an owned inflated buffer.
struct decoded_stream {
    std::unique_ptr<uint8_t[], free_deleter> owned;
    const char* bytes = nullptr;
    int32_t len = 0;
};
// The largest decoded size: past it a stream is not decoded at all.
inline constexpr size_t DECODE_LIMIT = size_t{256} << 20;

enum class decode_result {
    decoded,
    undecodable,  // another filter, or data that does not decode
    too_large,    // more than DECODE_LIMIT bytes
};
// Decodes each stream once, into a buffer that grows with the data; throws
// std::bad_alloc when that buffer cannot be had.
decode_result decode_stream(const pdf_obj& stm, decoded_stream& out);

#endif
