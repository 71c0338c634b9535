// libFuzzer target: the two DEFLATE decoders and the PNG predictor on
// arbitrary bytes, and the encoder's output decoded back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "flate.h"
#include "inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> dst(size * 4 + 1024);
    size_t dstlen = 0;
    inflate_decompress(data, size, dst.data(), dst.size(), &dstlen);
    if (dstlen > dst.size()) abort();
    sx_inflate(data, size, dst.data(), dst.size());

    std::vector<uint8_t> rows(data, data + size);
    inflate_png_unfilter(rows.data(), rows.size(), size ? data[0] % 17 + 1 : 1);

    uint8_t* packed = nullptr;
    size_t packed_len = 0;
    if (sx_deflate(data, size, &packed, &packed_len) != 0) abort();
    std::vector<uint8_t> back(size + 1);
    if (inflate_decompress(packed, packed_len, back.data(), back.size(), &dstlen) != 0 ||
        dstlen != size || memcmp(back.data(), data, size) != 0)
        abort();
    free(packed);
    return 0;
}
