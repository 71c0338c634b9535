/*
 * The compact form's object streams (ISO 32000-1, 7.5.7): the objects a
 * stream holds leave their slots and become its compressed data.
 */
#ifndef MORVEL_WRITE_OBJECT_STREAMS_H
#define MORVEL_WRITE_OBJECT_STREAMS_H

#include <vector>

#include "analyze/plan.h"
#include "write/serialize.h"

// Fills each object stream's slot from its members' serialised objects and
// empties the members' slots. Throws std::bad_alloc when the compressor
// cannot have its memory.
void pack_object_streams(const plan& order, std::vector<out_slot>& slots);

#endif
