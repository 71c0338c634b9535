/*
 * Decoding object streams and cross-reference streams.
 */
#include "load/stream_decode.h"

#include <algorithm>
#include <cstdlib>

#include "deflate/inflate.h"
#include "pdf/dict.h"
#include "pdf/lexer.h"

namespace {

// Inflate's first guess at the decoded size, and the largest destination
// tried before giving up.
constexpr size_t CAPACITY_LIMIT = 0x10000000;
constexpr size_t CAPACITY_LAST_TRY = 0x0FFFFFFF;
// Inflate refuses destinations above this; trying one is a lost attempt.
constexpr size_t INFLATE_MAX_CAPACITY = 0x40000000;

}  // namespace

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

// Inflates the stream, retrying with four times the room until 256 MiB.
static bool inflate_stream(const pdf_obj& stm, decoded_stream& out) {
    const auto* src = reinterpret_cast<const uint8_t*>(stm.stream);
    size_t capacity = 8 * stm.stream_len + 65536;
    for (;;) {
        if (capacity <= INFLATE_MAX_CAPACITY) {
            // A failed allocation leaves the stream as it is, like bad data.
            std::unique_ptr<uint8_t[], free_deleter> buf(static_cast<uint8_t*>(malloc(capacity + 1)));
            if (!buf) return false;
            size_t produced = 0;
            if (inflate_decompress(src, stm.stream_len, buf.get(), capacity, &produced) == 0) {
                if (!unpredict(stm, buf.get(), produced)) return false;
                out.bytes = reinterpret_cast<const char*>(buf.get());
                out.len = static_cast<int32_t>(produced);
                out.owned = std::move(buf);
                return true;
            }
        }
        if (capacity > CAPACITY_LAST_TRY) return false;
        capacity = std::min(capacity * 4, CAPACITY_LIMIT);
    }
}

bool decode_stream(const pdf_obj& stm, decoded_stream& out) {
    const char* b = stm.body.data();
    int32_t n = stm.body_len();
    if (find_name(b, n, 0, n, "FlateDecode") >= 0) return inflate_stream(stm, out);
    if (find_name(b, n, 0, n, "Filter") >= 0) return false;
    out.bytes = stm.stream;
    out.len = static_cast<int32_t>(stm.stream_len);
    return true;
}

