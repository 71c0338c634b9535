/*
 * Writing a finished output file in one go, without ever leaving a partial
 * file behind.
 */
#ifndef MORVEL_BASE_OUTPUT_FILE_H
#define MORVEL_BASE_OUTPUT_FILE_H

#include <sys/uio.h>

#include <vector>

#include "base/status.h"

// Writes the pieces to output_path through a temporary file renamed over
// it (directly when the path is an existing non-regular file). A failure
// leaves no partial file behind.
status write_output_file(const char* output_path, const std::vector<iovec>& pieces);

#endif
