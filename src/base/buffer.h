/*
 * Growable output containers: out_buf collects text and raw bytes (each
 * serialised object, cross-reference sections, trailers); bit_buf packs
 * unsigned values most significant bit first (the hint tables).
 *
 * Both grow by doubling and throw std::bad_alloc when memory runs out; the
 * driver turns that into the call's error message.
 */
#ifndef MORVEL_BUFFER_H
#define MORVEL_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The content is followed by a NUL byte at all times (std::string keeps one).
struct out_buf {
    std::string data;
    size_t len() const { return data.size(); }
};

void buf_bytes(out_buf& b, const void* src, size_t count);
// Appends a decimal integer (what "%lld" gives), without printf's cost:
// references and offsets are formatted by the hundred thousand.
void buf_int(out_buf& b, int64_t value);
// Writes the decimal digits of value at p, returns the end.
char* put_decimal(char* p, uint64_t value);
// Writes value as exactly ten digits, zero-padded ("%010ld" for offsets
// below 10^10).
void put_ten_digits(char* p, uint64_t value);
// printf-style append; one call formats at most 511 characters.
void buf_printf(out_buf& b, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

struct bit_buf {
    std::vector<uint8_t> data;  // completed bytes
    int32_t acc = 0;            // pending bits, right-aligned, earliest highest
    int32_t nbits = 0;          // 0..7 between calls
};

// Appends the low count (0..32) bits of value, highest first.
void bit_write(bit_buf& b, uint32_t value, int32_t count);
// Pads the pending byte with zero bits; afterwards the writer is byte-aligned.
void bit_flush(bit_buf& b);

#endif
