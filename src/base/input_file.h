/*
 * The whole input file in one heap buffer, read once at the start of a call.
 * Everything later (object texts, stream views) is cut from or points into
 * this buffer, which therefore lives for the whole call.
 */
#ifndef MORVEL_BASE_INPUT_FILE_H
#define MORVEL_BASE_INPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "base/status.h"

struct free_deleter {
    void operator()(void* p) const { std::free(p); }
};

// The file's bytes followed by one NUL byte.
struct input_file {
    std::unique_ptr<char[], free_deleter> data;
    int32_t len = 0;
};

// Offsets are 32-bit throughout, so an input must stay below 2 GiB.
inline constexpr int64_t INPUT_LIMIT = 0x80000000LL;

// Reads the whole file at path. An empty file is not a failure here.
status read_input_file(const char* path, input_file& input);

// The same from len bytes in memory, copied.
status copy_input(const void* data, size_t len, input_file& input);

#endif
