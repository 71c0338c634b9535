/*
 * Decoding object streams and cross-reference streams.
 */
#include "load/stream_decode.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "deflate/inflate.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"

// Undoes a PNG predictor given in /DecodeParms; false when the rows are bad.
static bool unpredict(const pdf_obj& stm, uint8_t* data, size_t& len) {
    const char* b = stm.body.data();
    int32_t n = stm.body_len();
    if (find_name(b, n, 0, n, "DecodeParms") < 0 || dict_int(b, n, "Predictor") < 10) return true;
    int32_t columns = dict_int(b, n, "Columns");
    int width = columns >= 1 ? columns : 1;
    if (inflate_png_unfilter(data, len, width) != 0) return false;
    len = len / (static_cast<size_t>(width) + 1) * static_cast<size_t>(width);
    return true;
}

// The first buffer for a stream's data: room for a typical ratio, so most
// streams never grow it.
static size_t first_guess(const pdf_obj& stm) { return std::min<size_t>(8 * stm.stream_len + 65536, DECODE_LIMIT); }

static decode_result inflate_stream(const pdf_obj& stm, decoded_stream& out) {
    const auto* src = reinterpret_cast<const uint8_t*>(stm.stream);
    uint8_t* data = nullptr;
    size_t produced = 0;
    switch (inflate_growing(src, stm.stream_len, first_guess(stm), DECODE_LIMIT, &data, &produced)) {
        case INFLATE_DONE:
            break;
        case INFLATE_OVER_LIMIT:
            return decode_result::too_large;
        case INFLATE_NO_MEMORY:
            throw std::bad_alloc();
        default:
            return decode_result::undecodable;
    }
    std::unique_ptr<uint8_t[], free_deleter> buf(data);
    if (!unpredict(stm, buf.get(), produced)) return decode_result::undecodable;
    out.bytes = reinterpret_cast<const char*>(buf.get());
    out.len = static_cast<int32_t>(produced);
    out.owned = std::move(buf);
    return decode_result::decoded;
}

decode_result decode_stream(const pdf_obj& stm, decoded_stream& out) {
    const char* b = stm.body.data();
    int32_t n = stm.body_len();
    if (find_name(b, n, 0, n, "FlateDecode") >= 0) return inflate_stream(stm, out);
    if (find_name(b, n, 0, n, "Filter") >= 0) return decode_result::undecodable;
    out.bytes = stm.stream;
    out.len = static_cast<int32_t>(stm.stream_len);
    return decode_result::decoded;
}
