/*
 * The linearized writer: serialises every renumbered object, builds the
 * hint stream, both cross-reference sections, both trailers and the
 * linearization dictionary with exact offsets, then writes the file.
 */
#ifndef MORVEL_WRITER_H
#define MORVEL_WRITER_H

#include "load.h"
#include "pages.h"

// Phases 8 to 11. Creates the output only once every byte is in memory.
bool write_linearized(const input_file& input, const obj_list& objects, const page_layout& layout,
                      const char* input_path, const char* output_path);

#endif
