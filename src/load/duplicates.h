/*
 * One definition per object number.
 */
#ifndef MORVEL_LOAD_DUPLICATES_H
#define MORVEL_LOAD_DUPLICATES_H

#include "load/document.h"

// Keeps one record per object number: the one the input's cross-reference
// chain names as live, else the last one in table order (so that an
// incremental update overrides what it replaces). Survivors keep their
// order. Nothing is resolved when a number exceeds MAX_OBJ_NUM: the
// renumbering refuses such files later.
void resolve_duplicates(document& doc);

#endif
