/*
 * The version the input's header line declares ("%PDF-1.7"). The output
 * keeps every feature of the input, so it keeps a version above the 1.4 of
 * its own form as well.
 */
#ifndef MORVEL_LOAD_FILE_HEADER_H
#define MORVEL_LOAD_FILE_HEADER_H

#include <string>

#include "base/input_file.h"

// "d.d" from the first "%PDF-d.d" within the first 1024 bytes (where readers
// look for it), or empty when there is none of that form.
std::string header_version(const input_file& input);

#endif
