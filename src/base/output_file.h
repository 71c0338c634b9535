/*
 * Writing a finished output file in one go, without ever leaving a partial
 * file behind, safely over an existing one.
 */
#ifndef MORVEL_BASE_OUTPUT_FILE_H
#define MORVEL_BASE_OUTPUT_FILE_H

#include <sys/types.h>
#include <sys/uio.h>

#include <vector>

#include "base/input_file.h"
#include "base/status.h"

// Writes the pieces to output_path through a file that takes the output's
// name only when it is complete (directly when the path is an existing
// non-regular file). A failure leaves no partial file behind, and an
// existing output as it was. Long pieces that lie in source's buffer are
// copied from source's open file; an input that changed since it was read
// fails the call.
status write_output_file(const char* output_path, const std::vector<iovec>& pieces,
                         const input_file* source = nullptr);

#endif
