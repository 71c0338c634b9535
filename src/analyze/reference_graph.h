/*
 * Where each record's references lead, read once for the page walks and
 * the document-level walks alike: tokenising every body is most of what
 * those walks cost, and the bodies are independent, so a large document
 * reads them on a few threads.
 */
#ifndef MORVEL_ANALYZE_REFERENCE_GRAPH_H
#define MORVEL_ANALYZE_REFERENCE_GRAPH_H

#include <cstdint>
#include <span>
#include <vector>

#include "load/document.h"
#include "pdf/refs.h"

struct reference_graph {
    std::vector<uint32_t> start;   // by table position, into targets; one more at the end
    std::vector<int32_t> targets;  // table positions
    // Every reference token of each body, for the writer's renumbering.
    std::vector<uint32_t> token_start;  // by table position, into tokens; one more at the end
    std::vector<ref_token> tokens;

    // The positions of the records that pos's body refers to, in the order
    // of body_references, numbers without a record left out (none for a
    // position the graph was not read for).
    std::span<const int32_t> of(int32_t pos) const {
        size_t at = static_cast<size_t>(pos);
        if (at + 1 >= start.size()) return {};
        return {targets.data() + start[at], targets.data() + start[at + 1]};
    }
    std::span<const ref_token> tokens_of(int32_t pos) const {
        size_t at = static_cast<size_t>(pos);
        if (at + 1 >= token_start.size()) return {};
        return {tokens.data() + token_start[at], tokens.data() + token_start[at + 1]};
    }
};

reference_graph read_reference_graph(const obj_list& objects);

// The references a walk follows from a record's body: all but a /Length
// reference the writer replaces (nothing will point at that length object)
// and the one at skip_also. With all_tokens, every reference token of the
// body is appended there.
std::vector<int32_t> body_references(const obj_list& objects, const pdf_obj& rec, int32_t skip_also = -1,
                                     std::vector<ref_token>* all_tokens = nullptr);

#endif
