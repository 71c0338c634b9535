/*
 * Writing cross-reference streams.
 *
 * Each row holds the type in one byte and the two other fields in as few
 * bytes as the largest value needs, most significant byte first. Offsets
 * grow from row to row, so the PNG "Up" predictor, which codes each byte as
 * its difference from the byte above, turns most of them into small
 * numbers; the rows are compressed both ways and the smaller one is kept.
 */
#include "write/xref_streams.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "base/buffer.h"
#include "base/input_file.h"
#include "deflate/flate.h"

namespace {

int bytes_for(int64_t v) {
    int n = 0;
    for (; v > 0; v >>= 8) n++;
    return n;
}

void put_field(std::string& out, int64_t v, int width) {
    for (int b = width - 1; b >= 0; b--) out += static_cast<char>((v >> (8 * b)) & 0xFF);
}

std::string compressed(const std::string& data) {
    uint8_t* packed = nullptr;
    size_t len = 0;
    if (sx_deflate(reinterpret_cast<const uint8_t*>(data.data()), data.size(), &packed, &len, deflate_effort::fast) != 0)
        throw std::bad_alloc();
    std::unique_ptr<uint8_t, free_deleter> owned(packed);
    return std::string(reinterpret_cast<const char*>(packed), len);
}

// Each row preceded by the filter byte 2 ("Up") and coded against the row
// above (zeros above the first).
std::string up_rows(const std::string& rows, size_t width) {
    std::string out;
    out.reserve(rows.size() + rows.size() / width);
    for (size_t at = 0; at < rows.size(); at += width) {
        out += '\x02';
        for (size_t k = 0; k < width; k++) {
            unsigned char above = at ? static_cast<unsigned char>(rows[at - width + k]) : 0;
            out += static_cast<char>(static_cast<unsigned char>(rows[at + k]) - above);
        }
    }
    return out;
}

}  // namespace

std::string xref_stream_object(const std::vector<xref_row>& rows, const xref_stream_dict& dict,
                               const trailer_extras& extras) {
    int64_t max2 = 0, max3 = 0;
    for (const xref_row& r : rows) {
        max2 = r.field2 > max2 ? r.field2 : max2;
        max3 = r.field3 > max3 ? r.field3 : max3;
    }
    int w2 = bytes_for(max2), w3 = bytes_for(max3);
    if (w2 == 0) w2 = 1;
    std::string data;
    data.reserve(rows.size() * static_cast<size_t>(1 + w2 + w3));
    for (const xref_row& r : rows) {
        data += static_cast<char>(r.type);
        put_field(data, r.field2, w2);
        put_field(data, r.field3, w3);
    }
    size_t width = static_cast<size_t>(1 + w2 + w3);
    std::string plain = compressed(data);
    std::string predicted = compressed(up_rows(data, width));
    bool predict = predicted.size() < plain.size();
    const std::string& stream = predict ? predicted : plain;

    out_buf t;
    buf_printf(t, "%d 0 obj\n<</Type/XRef/Size %d", dict.number, dict.size);
    if (dict.first != 0 || static_cast<int64_t>(rows.size()) != dict.size)
        buf_printf(t, "/Index[%d %zu]", dict.first, rows.size());
    buf_printf(t, "/W[1 %d %d]/Root %d 0 R", w2, w3, dict.root);
    if (extras.info > 0) buf_printf(t, "/Info %d 0 R", extras.info);
    buf_bytes(t, "/ID", 3);
    buf_bytes(t, extras.id.data(), extras.id.size());
    if (dict.prev >= 0) buf_printf(t, "/Prev %lld", static_cast<long long>(dict.prev));
    buf_printf(t, "/Filter/FlateDecode");
    if (predict) buf_printf(t, "/DecodeParms<</Columns %zu/Predictor 12>>", width);
    buf_printf(t, "/Length %zu>>\nstream\n", stream.size());
    buf_bytes(t, stream.data(), stream.size());
    buf_bytes(t, "\nendstream\nendobj\n", 18);
    return std::move(t.data);
}
