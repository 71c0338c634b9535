/*
 * Loading a document from its bytes: every indirect object found by
 * scanning, object streams unpacked, one definition kept per number.
 */
#ifndef MORVEL_LOAD_LOADER_H
#define MORVEL_LOAD_LOADER_H

#include "base/status.h"
#include "load/document.h"

// Fills doc from doc.input: encryption refusal, object scan, object-stream
// expansion, duplicate resolution, stream lengths given by reference, the
// empty check and the trailer facts. Leaves the table indexed.
status load_document(document& doc);

// Releases the input buffer's copies of the stream data that the writer
// copies from the input file: most of a large file. Nothing may read that
// data from the buffer afterwards.
void release_copied_stream_data(document& doc);

#endif
