/*
 * Which file an output path finally names, and whether this process may
 * replace it.
 *
 * A symbolic link is resolved once, here: the new file is created in the
 * directory of the link's target and renamed over the target, so the link
 * stays and keeps pointing at the output. A link that the kernel's
 * protected-symlinks rule would refuse to follow (one in a sticky,
 * world-writable directory, owned by neither this process nor the
 * directory's owner) is refused as well: a shared /tmp must not let another
 * user redirect our output.
 */
#ifndef MORVEL_BASE_OUTPUT_TARGET_H
#define MORVEL_BASE_OUTPUT_TARGET_H

#include <sys/stat.h>

#include <string>

#include "base/status.h"

struct output_target {
    std::string path;  // the file the output path names, links resolved
    std::string dir;   // the directory that holds it
    bool exists = false;
    struct stat st = {};  // the existing file, when it exists
};

// Resolves output_path. Fails (output_unopenable) for a refused link, a
// chain of links that does not end, or an existing regular file that this
// process could not open for writing.
status find_output_target(const char* output_path, output_target& target);

#endif
