/*
 * The compact form's numbers after the first page: each part's objects
 * that may live in an object stream (neither streams nor pages) are packed
 * into object streams of that part, where that makes the part smaller.
 */
#ifndef MORVEL_ANALYZE_PACKING_H
#define MORVEL_ANALYZE_PACKING_H

#include "analyze/attribution.h"
#include "analyze/output_order.h"
#include "analyze/page_tree.h"
#include "load/document.h"

// Numbers the parts after the first page (page_start, shared_units,
// packed, main_xref_num, root_num, lin_num and the compressed objects'
// numbers after the main cross-reference stream).
void number_packed(const obj_list& objects, const page_tree& tree, const attribution& pages, plan& out);

// Packs the document-level objects that opening needs (open_objs keeps
// those at offsets; open_streams, open_members), once the main section is
// numbered.
void pack_open_objects(const obj_list& objects, const page_tree& tree, const attribution& pages, plan& out);

#endif
