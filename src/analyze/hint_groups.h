/*
 * The entries of the shared object hint table (ISO 32000-1, F.4.2): one
 * per object of the first page and per unit of the shared objects' section,
 * or groups of consecutive ones that exactly the same pages reach.
 */
#ifndef MORVEL_ANALYZE_HINT_GROUPS_H
#define MORVEL_ANALYZE_HINT_GROUPS_H

#include "analyze/attribution.h"
#include "analyze/output_order.h"
#include "load/document.h"

// Sets first_groups and shared_groups.
void group_hint_entries(const obj_list& objects, const attribution& pages, plan& out);

#endif
