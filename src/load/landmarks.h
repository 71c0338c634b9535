/*
 * The few words that loading looks for anywhere in a file, found in one
 * pass over its bytes: "/Encrypt" and "/XRef" for the encryption refusal,
 * the "trailer" keyword for it and for the trailer entries. Each is a raw
 * search (text inside strings and stream data counts too), so one pass
 * serves every later question about where these words stand.
 */
#ifndef MORVEL_LOAD_LANDMARKS_H
#define MORVEL_LOAD_LANDMARKS_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct landmarks {
    std::vector<int32_t> encrypt;  // raw "/Encrypt", ascending
    std::vector<int32_t> xref;     // raw "/XRef" ("/XRefStm" too), ascending
    std::vector<int32_t> trailer;  // "trailer" as a whole word, ascending
};

// On as many threads as the size pays for.
landmarks find_landmarks(const char* buf, int32_t len);

#endif
