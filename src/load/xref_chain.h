/*
 * The input's cross-reference chain, read only to decide which of several
 * definitions of an object number is the live one, and where the objects
 * that stream lengths refer to are written.
 *
 * The loader finds objects by scanning, so an incremental update or a tool
 * that leaves stale object streams behind can give one number two or more
 * definitions. The newest cross-reference section that names the number
 * says which one a reader of the input uses. A chain that is missing or
 * damaged anywhere is not used at all.
 */
#ifndef MORVEL_LOAD_XREF_CHAIN_H
#define MORVEL_LOAD_XREF_CHAIN_H

#include <cstdint>
#include <vector>

#include "load/document.h"

// For each entry of `numbers` (numbers defined more than once in `table`),
// stores in `winner` (same index) the table position of the definition the
// chain names, or -1 when the chain does not settle that number. Returns
// false, settling nothing, when the chain is missing or damaged.
// `xref_streams` are the scanned cross-reference stream records.
bool chain_live_definitions(const input_file& input, const std::vector<pdf_obj>& table,
                            const std::vector<pdf_obj>& xref_streams,
                            const std::vector<int32_t>& numbers, std::vector<int32_t>& winner);

// For each entry of `numbers`, the file offset at which the chain says the
// object is written, or -1 when the chain does not name it, names it free
// or inside an object stream. Works on the table as the object scan leaves
// it, cross-reference streams still in it. False, with every offset -1,
// when the chain is missing or damaged.
bool chain_offsets(const input_file& input, const std::vector<pdf_obj>& table, const std::vector<int32_t>& numbers,
                   std::vector<int64_t>& offsets);

#endif
