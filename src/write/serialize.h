/*
 * The exact bytes of every renumbered object, one slot per new number.
 */
#ifndef MORVEL_WRITE_SERIALIZE_H
#define MORVEL_WRITE_SERIALIZE_H

#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analyze/page_tree.h"
#include "analyze/reference_graph.h"
#include "analyze/plan.h"
#include "load/document.h"

// One object's bytes in the output. Stream data is not copied: it is
// written straight from the input buffer, between head and tail.
struct out_slot {
    // Header and body, then "\nstream\n" or "\nendobj\n": kept in a
    // text_store, or held here (texts made after serialisation).
    std::string head;
    std::string_view kept;
    const char* data = nullptr;  // stream data inside the input buffer
    size_t data_len = 0;
    bool has_data = false;  // followed by data and "\nendstream\nendobj\n"

    std::string_view text() const { return head.empty() ? kept : std::string_view(head); }
    uint64_t len() const;
    // Appends this object's one to three pieces to an I/O vector.
    void gather(std::vector<iovec>& out) const;
};

// Texts of many slots packed together in large blocks, one store per
// thread that serialises: a large document has a slot per object, and
// allocating and freeing each slot's text on its own costs more than
// making it.
class text_store {
   public:
    std::string_view keep(std::string_view text);

   private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* at_ = nullptr;
    size_t left_ = 0;
};

inline constexpr char STREAM_TAIL[] = "\nendstream\nendobj\n";
inline constexpr size_t STREAM_TAIL_LEN = sizeof STREAM_TAIL - 1;

// Slots for every number below M (the plan's number_count), filled with
// every written object except the linearization dictionary and the hint
// stream. With refs (read from the same table), bodies are renumbered from
// the reference tokens it holds instead of being tokenised again. The
// objects' texts are kept in `texts` (a store per thread), which must
// outlive the slots.
std::vector<out_slot> serialize_objects(const document& doc, const page_tree& tree, const plan& order,
                                        std::vector<text_store>& texts, const reference_graph* refs = nullptr);

#endif
