/*
 * The whole input file in one heap buffer, read once at the start of a call.
 * Everything later (object texts, stream views) is cut from or points into
 * this buffer, which therefore lives for the whole call.
 */
#ifndef MORVEL_BASE_INPUT_FILE_H
#define MORVEL_BASE_INPUT_FILE_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "base/status.h"

struct free_deleter {
    void operator()(void* p) const { std::free(p); }
};

// Releases an input's bytes however they were had: a mapping of their own
// (`mapped` bytes, a large file) or malloc.
struct input_release {
    size_t mapped = 0;
    void operator()(char* p) const;
};

// An open file descriptor, closed with its owner.
struct unique_fd {
    int fd = -1;
    unique_fd() = default;
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    unique_fd(unique_fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
    unique_fd& operator=(unique_fd&& other) noexcept {
        if (this != &other) reset(other.fd), other.fd = -1;
        return *this;
    }
    ~unique_fd();
    void reset(int new_fd);
};

// What identifies the input's contents when it was read: the same file,
// the same size, not modified or changed since.
struct file_identity {
    uint64_t dev = 0, ino = 0;
    int64_t size = 0;
    int64_t mtime_ns = 0, ctime_ns = 0;
    bool operator==(const file_identity&) const = default;
};

// The file's bytes followed by one NUL byte. A file read from disk stays
// open, so that the writer can copy its unchanged bytes inside the kernel.
struct input_file {
    std::unique_ptr<char[], input_release> data;
    int32_t len = 0;
    unique_fd file;           // -1 for bytes from memory
    file_identity identity;  // when it was read
};

// Whether the open input still is what was read (false also when it
// cannot be looked at).
bool input_unchanged(const input_file& input);

// Offsets are 32-bit throughout, so an input must stay below 2 GiB.
inline constexpr int64_t INPUT_LIMIT = 0x80000000LL;

// Reads the whole file at path. An empty file is not a failure here.
status read_input_file(const char* path, input_file& input);

// What two megabytes of small pages cost to clear and fill: a large input
// is read into huge pages while they cost less (tests make it negative, to
// see the rest of a part go to small pages).
extern std::chrono::microseconds small_pages_per_huge_page;

// Gives back to the system the whole pages of the input's copy of
// [from, from + len), bytes that will only be read from the file again
// (see FROM_FILE_MIN): a large file's stream data need not stay in memory
// while the output is built. Reading them from the buffer afterwards gives
// zeros. Nothing happens for a small input or one from memory.
void release_input_range(input_file& input, const char* from, size_t len);

// The same from len bytes in memory, copied.
status copy_input(const void* data, size_t len, input_file& input);

#endif
