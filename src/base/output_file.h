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

// Pieces at least this long that lie in the input's buffer are read from
// the input file, never from the buffer (whose copies of them may have
// been released; see release_input_range).
inline constexpr size_t FROM_FILE_MIN = 16384;
// Those at least this long are copied inside the kernel where it allows.
inline constexpr size_t KERNEL_COPY_MIN = size_t{1} << 20;

// Writes the pieces to output_path through a file that takes the output's
// name only when it is complete (directly when the path is an existing
// non-regular file). A failure leaves no partial file behind, and an
// existing output as it was. Long pieces that lie in source's buffer are
// copied from source's open file; an input that changed since it was read
// fails the call.
status write_output_file(const char* output_path, const std::vector<iovec>& pieces,
                         const input_file* source = nullptr);

// The calls that copy inside the kernel (copy_file_range, sendfile), in
// variables so that tests can play a kernel that refuses them.
extern ssize_t (*copy_range_call)(int, off_t*, int, off_t*, size_t, unsigned);
extern ssize_t (*send_file_call)(int, int, off_t*, size_t);

#endif
