/*
 * Lengths for streams whose /Length is a reference, worked out before the
 * final object scan.
 *
 * Stream data may hold anything, text that looks like "7 0 obj ... endobj"
 * included. With a direct /Length the scanner skips such look-alikes; a
 * length given by reference can only be read once the length object is
 * found, so a first scan finds the objects, these rules find the lengths,
 * and a second scan (only when some length changes an extent) skips what
 * lies inside the data. In order: a length object the cross-reference
 * chain locates (when it is readable), then one that has exactly one
 * definition outside every data range known from the steps before. Without
 * a usable length the keyword rules stay.
 */
#ifndef MORVEL_LOAD_STREAM_BOUNDS_H
#define MORVEL_LOAD_STREAM_BOUNDS_H

#include <vector>

#include "load/document.h"
#include "load/object_scan.h"

// The lengths that bound a stream of the first scan's table differently
// from how that scan ended it, ascending by header offset; empty when the
// first scan stands.
std::vector<known_length> referenced_stream_lengths(const input_file& input, const std::vector<pdf_obj>& table);

#endif
