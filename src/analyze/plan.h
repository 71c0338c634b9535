/*
 * Planning the output: which part of the file each object goes to, and
 * its new number (the plan itself is described in output_order.h).
 */
#ifndef MORVEL_ANALYZE_PLAN_H
#define MORVEL_ANALYZE_PLAN_H

#include "analyze/attribution.h"
#include "analyze/doc_users.h"
#include "analyze/output_order.h"
#include "analyze/page_tree.h"
#include "base/status.h"
#include "load/document.h"

// Sorts every record into one place (a page group, the shared objects, the
// outline run, the other objects, or the catalog and root) and numbers
// them. Fails when an object number exceeds MAX_OBJ_NUM.
status make_plan(const document& doc, const page_tree& tree, const attribution& pages, const doc_users& users,
                 const plan_options& options, plan& out);

#endif
