/*
 * The linearized writer: serialises every renumbered object, builds the
 * hint stream, both cross-reference sections, both trailers and the
 * linearization dictionary with exact offsets, then writes the file.
 *
 * The pieces are declared here so that each can be exercised on its own:
 * serialisation (writer.cpp), hint tables (hints.cpp), cross-reference
 * texts and layout (output.cpp), and the file itself (outfile.cpp).
 */
#ifndef MORVEL_WRITER_H
#define MORVEL_WRITER_H

#include <sys/uio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "load/document.h"
#include "base/buffer.h"
#include "base/output_file.h"
#include "analyze/pages.h"

// Phases 8 to 11. Creates the output only once every byte is in memory.
status write_linearized(const document& doc, const page_layout& layout, const char* output_path);

// One object's bytes in the output. Stream data is not copied: it is
// written straight from the input buffer, between head and tail.
struct out_slot {
    std::string head;             // header and body, then "\nstream\n" or "\nendobj\n"
    const char* data = nullptr;   // stream data inside the input buffer
    size_t data_len = 0;
    bool has_data = false;        // followed by data and "\nendstream\nendobj\n"

    uint64_t len() const;
    // Appends this object's one to three pieces to an I/O vector.
    void gather(std::vector<iovec>& out) const;
};

inline constexpr char STREAM_TAIL[] = "\nendstream\nendobj\n";
inline constexpr size_t STREAM_TAIL_LEN = sizeof STREAM_TAIL - 1;

// The new number of the page-tree root, found or created.
int32_t root_new_num(const page_layout& layout);

// Fills slots (M = lin_num + 3 + F entries) with every written object except
// the linearization dictionary and the hint stream.
void serialize_objects(const obj_list& objects, const page_layout& layout,
                       std::vector<out_slot>& slots);

// The uncompressed hint tables for a hint stream at offset hint_pos; *s_value
// receives the offset of the shared object hint table within them, *o_value
// (when given) that of the outline hint table, or 0 when there is none.
std::vector<uint8_t> hint_table_bytes(const obj_list& objects, const page_layout& layout,
                                      const std::vector<out_slot>& slots, int32_t hint_pos,
                                      size_t* s_value, size_t* o_value = nullptr);

// Compresses the hint tables into slot lin_num + 2. False when compression fails.
bool build_hint_stream(const obj_list& objects, const page_layout& layout,
                       std::vector<out_slot>& slots, int32_t hint_pos);

// What both trailers carry over from the input: the information
// dictionary's new number (0 for none) and the /ID array text.
struct trailer_extras {
    int32_t info = 0;
    std::string id;
};
trailer_extras find_trailer_extras(const document& doc, const page_layout& layout);

// The whole output as pieces in file order, with its total length.
struct output_image {
    std::vector<iovec> pieces;
    uint64_t total = 0;
    // Texts the pieces point into besides the slots.
    std::string front;  // file header, linearization block, first-page section
    std::string back;   // main cross-reference section and final trailer
};

// Lays the file out and builds every text. Fails when the hint stream
// cannot be compressed or the file would reach 2 GiB.
status build_output(const document& doc, const page_layout& layout, std::vector<out_slot>& slots,
                    output_image& image);

#endif
