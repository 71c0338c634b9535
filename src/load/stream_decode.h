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
// False for another filter, or data that does not decode.
bool decode_stream(const pdf_obj& stm, decoded_stream& out);

#endif
