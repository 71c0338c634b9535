/*
 * Encrypted files are refused: their strings and streams cannot be copied
 * as they are into a file with other object numbers. Encryption is
 * recognised textually, by "/Encrypt" near a trailer or a cross-reference
 * stream dictionary; no object is parsed for it.
 */
#ifndef MORVEL_LOAD_ENCRYPTION_H
#define MORVEL_LOAD_ENCRYPTION_H

#include <cstdint>

#include "load/landmarks.h"

// 1 when the raw bytes "/Encrypt" stand in a trailer (from "trailer" up to
// the next "startxref") or within 2048 bytes around a "/XRef" (up to the
// first "stream" keyword after it).
// The words' places come from marks, found over the same bytes.
bool mentions_encryption(const char* buf, int32_t len, const landmarks& marks);
bool mentions_encryption(const char* buf, int32_t len);

#endif
