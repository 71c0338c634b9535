/*
 * Object streams (ISO 32000-1, 7.5.7) hold most objects of many files where
 * the object scan cannot see them.
 */
#ifndef MORVEL_LOAD_OBJECT_STREAMS_H
#define MORVEL_LOAD_OBJECT_STREAMS_H

#include <vector>

#include "base/status.h"
#include "load/document.h"

// Replaces each readable object stream by the objects inside it (standing
// where the stream stood, in the order of its header) and moves
// cross-reference streams out of the table into xref_streams. A stream
// that decodes to more than the decoding limit fails the call: its objects
// would otherwise be lost without a word. The decoded data that the new
// records' bodies view joins kept.
status expand_object_streams(std::vector<pdf_obj>& table, std::vector<pdf_obj>& xref_streams,
                             std::vector<owned_bytes>& kept);

#endif
