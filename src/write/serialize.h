/*
 * The exact bytes of every renumbered object, one slot per new number.
 */
#ifndef MORVEL_WRITE_SERIALIZE_H
#define MORVEL_WRITE_SERIALIZE_H

#include <sys/uio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analyze/page_tree.h"
#include "analyze/reference_graph.h"
#include "analyze/plan.h"
#include "load/document.h"

// One object's bytes in the output. Stream data is not copied: it is
// written straight from the input buffer, between head and tail.
struct out_slot {
    std::string head;            // header and body, then "\nstream\n" or "\nendobj\n"
    const char* data = nullptr;  // stream data inside the input buffer
    size_t data_len = 0;
    bool has_data = false;  // followed by data and "\nendstream\nendobj\n"

    uint64_t len() const;
    // Appends this object's one to three pieces to an I/O vector.
    void gather(std::vector<iovec>& out) const;
};

inline constexpr char STREAM_TAIL[] = "\nendstream\nendobj\n";
inline constexpr size_t STREAM_TAIL_LEN = sizeof STREAM_TAIL - 1;

// Slots for every number below M (the plan's number_count), filled with
// every written object except the linearization dictionary and the hint
// stream. With refs (read from the same table), bodies are renumbered from
// the reference tokens it holds instead of being tokenised again.
std::vector<out_slot> serialize_objects(const document& doc, const page_tree& tree, const plan& order,
                                        const reference_graph* refs = nullptr);

#endif
