/*
 * The layout of a linearized file and every offset in it, computed before
 * a byte is written.
 *
 * File order: header, linearization block (object K at 15), first-page
 * cross-reference section (at 271), catalog, the objects opening the
 * document needs, hint stream, the first page's objects, the other pages'
 * objects, shared objects, the page tree and every other object, the main
 * cross-reference section and the final trailer. The first-page section's length does not depend on the offsets
 * it holds (ten-digit fields), so the catalog's offset is known before
 * anything else is placed, and every later offset follows by running sums.
 *
 * The compact form keeps that order; its two sections are cross-reference
 * streams, the main one at the end of the file and the first-page one in
 * a space reserved for it after the linearization dictionary.
 */
#ifndef MORVEL_WRITE_FILE_IMAGE_H
#define MORVEL_WRITE_FILE_IMAGE_H

#include <sys/uio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analyze/page_tree.h"
#include "analyze/plan.h"
#include "base/status.h"
#include "write/serialize.h"
#include "write/xref_sections.h"

// Where the catalog and the hint stream stand: known from the bytes of the
// catalog and of the objects opening needs, before the hint stream exists. Fails when the file would
// reach 2 GiB.
struct front_offsets {
    int64_t catalog_pos = 0;
    int32_t hint_pos = 0;
};
status place_front(const plan& order, const std::vector<out_slot>& slots, const trailer_extras& extras,
                   front_offsets& front);

// The whole output as pieces in file order, with its total length.
struct file_image {
    std::vector<iovec> pieces;
    uint64_t total = 0;
    // Texts the pieces point into besides the slots.
    std::string front;  // file header, linearization block, first-page section
    std::string back;   // main cross-reference section and final trailer
};

// Places every object after the hint stream and builds the texts that hold
// offsets. The header says the input's version where that is above 1.4.
// Fails when the file would reach 2 GiB.
status lay_out_file(const page_tree& tree, const plan& order, const std::vector<out_slot>& slots,
                    const trailer_extras& extras, const front_offsets& front, const std::string& version,
                    file_image& image);

// The compact form. Its first-page section is a cross-reference stream,
// whose length depends on the offsets it holds: the layout reserves
// `reserved` bytes for it, and when the stream turns out longer, reports
// the length it needs in *needed and must be redone with that much.
status place_front_packed(const plan& order, const std::vector<out_slot>& slots, int64_t reserved,
                          front_offsets& front);
status lay_out_packed(const page_tree& tree, const plan& order, const std::vector<out_slot>& slots,
                      const trailer_extras& extras, const front_offsets& front, const std::string& version,
                      int64_t reserved, file_image& image, int64_t* needed);

#endif
