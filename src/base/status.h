/*
 * What a stage of the pipeline reports when it cannot go on: which problem,
 * the number its message shows, and the errno of the system call that
 * failed. Stages know neither the paths nor the wording; the API layer turns
 * a status into the one message of the call.
 */
#ifndef MORVEL_BASE_STATUS_H
#define MORVEL_BASE_STATUS_H

#include <cstdint>

enum class problem : uint8_t {
    none,
    unknown_flags,  // value: the flags
    // reading the input
    input_unopenable,
    input_not_regular,
    input_too_large,  // value: the size
    input_no_memory,
    input_short_read,
    // loading
    encrypted,
    no_objects,
    objstm_too_large,  // value: the object stream's number
    // analysis
    signed_document,
    no_pages,              // value: the pages found
    numbers_out_of_range,  // value: the largest object number
    // writing
    hint_compression,
    output_too_large,
    output_unopenable,
    output_unwritable,
    input_changed,
};

struct status {
    problem what = problem::none;
    int64_t value = 0;
    int sys_errno = 0;

    bool ok() const { return what == problem::none; }
};

inline status failure(problem what, int64_t value = 0, int sys_errno = 0) { return {what, value, sys_errno}; }

#endif
