/*
 * Reading the header line's version.
 */
#include "load/file_header.h"

#include <algorithm>
#include <cstring>

#include "pdf/bytes.h"

namespace {

constexpr int32_t HEADER_WINDOW = 1024;

}  // namespace

std::string header_version(const input_file& input) {
    const char* b = input.data.get();
    int32_t window = std::min(input.len, HEADER_WINDOW);
    const void* hit = memmem(b, static_cast<size_t>(window), "%PDF-", 5);
    if (!hit) return std::string();
    int32_t v = static_cast<int32_t>(static_cast<const char*>(hit) - b) + 5;
    if (input.len - v < 3 || !is_digit(byte_at(b, v)) || b[v + 1] != '.' || !is_digit(byte_at(b, v + 2)))
        return std::string();
    if (v + 3 < input.len && is_digit(byte_at(b, v + 3))) return std::string();
    return std::string(b + v, 3);
}
