/*
 * The primary hint stream of a linearized file (ISO 32000-1, F.4): the page
 * offset hint table, the shared object hint table and, when the outline
 * hierarchy is one run of objects, the outline hint table.
 */
#ifndef MORVEL_WRITE_HINTS_H
#define MORVEL_WRITE_HINTS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analyze/attribution.h"
#include "analyze/plan.h"
#include "base/status.h"
#include "load/document.h"
#include "write/serialize.h"

// The uncompressed hint tables for a hint stream at offset hint_pos; *s_value
// receives the offset of the shared object hint table within them, *o_value
// (when given) that of the outline hint table, or 0 when there is none.
std::vector<uint8_t> hint_table_bytes(const document& doc, const attribution& pages, const plan& order,
                                      const std::vector<out_slot>& slots, int32_t hint_pos, size_t* s_value,
                                      size_t* o_value = nullptr);

// Compresses the hint tables into the hint stream's slot. Fails when
// compression fails.
status build_hint_stream(const document& doc, const attribution& pages, const plan& order,
                         std::vector<out_slot>& slots, int32_t hint_pos);

#endif
