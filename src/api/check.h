/*
 * morvel_check: is a file already linearized? Only the file size and the
 * first 1023 bytes are examined (the exported function is declared in
 * morvel.h). The same check runs on a file held in memory.
 */
#ifndef MORVEL_CHECK_H
#define MORVEL_CHECK_H

#include <cstddef>
#include <cstdint>

// Bytes of the file head that the check reads (one fread into a stack buffer).
inline constexpr int32_t CHECK_HEAD_MAX = 1023;

// The check of len bytes at data; messages name the bytes `name` where a
// path would stand. 1, or 0 with the reason in the error text.
int check_bytes(const char* data, size_t len, const char* name);

#endif
