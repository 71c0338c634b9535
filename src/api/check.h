/*
 * morvel_check: is a file already linearized? Only the file size and the
 * first 1023 bytes are examined (the exported function is declared in
 * morvel.h; this module has no other entry point).
 */
#ifndef MORVEL_CHECK_H
#define MORVEL_CHECK_H

#include <cstdint>

// Bytes of the file head that the check reads (one fread into a stack buffer).
inline constexpr int32_t CHECK_HEAD_MAX = 1023;

#endif
