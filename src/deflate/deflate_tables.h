/*
 * The constant tables of the DEFLATE format (RFC 1951, sections 3.2.5 and
 * 3.2.7), shared by the encoder and both decoders.
 */
#ifndef MORVEL_DEFLATE_TABLES_H
#define MORVEL_DEFLATE_TABLES_H

#include <cstdint>

namespace deflate_tables {

// Length symbols 257..285: base length and extra bits.
inline constexpr int32_t len_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                         31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr int32_t len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance symbols 0..29: base distance and extra bits.
inline constexpr int32_t dist_base[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                          33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                          1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr int32_t dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                           6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block header lists the code-length code lengths.
inline constexpr int32_t code_length_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                                  11, 4,  12, 3, 13, 2, 14, 1, 15};

}  // namespace deflate_tables

#endif
