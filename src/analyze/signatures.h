/*
 * Digital signatures (ISO 32000-1, 12.8). A signature covers the byte
 * ranges its /ByteRange lists; any rewriting of the file moves those bytes,
 * so every signature of a rewritten document fails to verify.
 */
#ifndef MORVEL_ANALYZE_SIGNATURES_H
#define MORVEL_ANALYZE_SIGNATURES_H

#include "load/document.h"

// Whether an object holds a signature dictionary: one with both /ByteRange
// and /Contents, as the value of a signed field has (written inline or as
// an object of its own).
bool has_signatures(const document& doc);

#endif
