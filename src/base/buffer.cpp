/*
 * out_buf and bit_buf: the two containers every producer of output bytes
 * appends to.
 */
#include "base/buffer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

void buf_bytes(out_buf& b, const void* src, size_t count) {
    b.data.append(static_cast<const char*>(src), count);
}

char* put_decimal(char* p, uint64_t value) {
    char tmp[20];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (n) *p++ = tmp[--n];
    return p;
}

void put_ten_digits(char* p, uint64_t value) {
    for (int i = 9; i >= 0; i--) {
        p[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

void buf_int(out_buf& b, int64_t value) {
    char tmp[21];
    char* p = tmp;
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) {
        *p++ = '-';
        magnitude = 0 - magnitude;
    }
    p = put_decimal(p, magnitude);
    b.data.append(tmp, static_cast<size_t>(p - tmp));
}

void buf_printf(out_buf& b, const char* fmt, ...) {
    char tmp[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(tmp, sizeof tmp, fmt, ap);
    va_end(ap);
    if (n <= 0) return;
    if (n > static_cast<int>(sizeof tmp) - 1) n = sizeof tmp - 1;
    b.data.append(tmp, static_cast<size_t>(n));
}

static void bit_push_byte(bit_buf& b) {
    b.data.push_back(static_cast<uint8_t>(b.acc & 0xFF));
    b.acc = 0;
    b.nbits = 0;
}

// Hint tables are many fields of a few bits: each goes in as many bits at a
// time as the pending byte has room for.
void bit_write(bit_buf& b, uint32_t value, int32_t count) {
    while (count > 0) {
        int32_t take = std::min(count, 8 - b.nbits);
        count -= take;
        uint32_t bits = (value >> count) & ((1u << take) - 1);
        b.acc = (b.acc << take) | static_cast<int32_t>(bits);
        b.nbits += take;
        if (b.nbits == 8) bit_push_byte(b);
    }
}

void bit_flush(bit_buf& b) {
    if (b.nbits == 0) return;
    b.acc <<= 8 - b.nbits;
    bit_push_byte(b);
}
