/*
 * Which objects a reader of the output can reach at all. The compact form
 * leaves out the others: nothing refers to them, so no reader ever sees
 * them (an incremental update's leftovers, length objects once the lengths
 * are written directly, unused fonts).
 */
#ifndef MORVEL_ANALYZE_REACHABLE_H
#define MORVEL_ANALYZE_REACHABLE_H

#include <vector>

#include "analyze/page_tree.h"
#include "analyze/reference_graph.h"
#include "load/document.h"

// By table position: 1 for a record reachable from the catalog, the
// document information dictionary or a page (through its body and the
// values it inherits). A stream's /Length does not count (the compact form
// writes every length directly), nor do the input's page-tree nodes (the
// output has a tree of its own).
// With refs (read from the same table), bodies are not tokenised again.
std::vector<char> reachable_records(const document& doc, const page_tree& tree,
                                    const reference_graph* refs = nullptr);

#endif
