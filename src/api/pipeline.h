/*
 * The rewrite itself, from an input in memory to the output's pieces in
 * memory: every stage between reading the input and writing the output.
 * The exported calls wrap it with their input and output; the fuzz targets
 * call it directly.
 */
#ifndef MORVEL_API_PIPELINE_H
#define MORVEL_API_PIPELINE_H

#include <string>
#include <vector>

#include "base/status.h"
#include "load/document.h"
#include "write/file_image.h"
#include "write/serialize.h"

// The output as the writer leaves it: the file image's pieces point into
// the slots, the stores that keep their texts, the image's own texts and
// the document's input buffer.
struct linearized_file {
    std::vector<text_store> texts;
    std::vector<out_slot> slots;
    file_image image;

    // The whole output as one string (for callers without a file).
    std::string bytes() const;
};

// How the output is written.
struct output_options {
    bool object_streams = false;  // the compact form
    bool allow_signed = false;    // rewrite a signed document anyway
    // Release the input buffer's copies of the long stream data once the
    // analysis no longer needs them: the pieces must then go to
    // write_output_file, which copies those from the input file.
    bool release_input = false;
};

// Loads doc.input and lays out its linearized form.
status linearize(document& doc, const output_options& options, linearized_file& out);

#endif
