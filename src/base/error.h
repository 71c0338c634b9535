/*
 * The library's error text: one message per thread, replaced by each
 * failing call and emptied by each successful one, so calls from different
 * threads may overlap and each thread sees the message of its own last
 * call. set_error is its only writer besides clear_error; the exported
 * morvel_last_error hands out error_text(), the calling thread's buffer.
 * Beside the text, the errno of the system call that failed, if one did.
 */
#ifndef MORVEL_BASE_ERROR_H
#define MORVEL_BASE_ERROR_H

#include <cstddef>

inline constexpr size_t ERR_CAP = 1024;

// Formats the message into the calling thread's text, replacing what was
// there; a text longer than 1023 bytes is cut there and stays
// NUL-terminated. The thread's errno of the failure becomes 0.
void set_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The errno of the system call behind the message just set.
void set_error_errno(int err);

// Empties the text; the errno becomes 0.
void clear_error();

int error_errno();

// The calling thread's text; the same pointer for the thread's lifetime.
const char* error_text();

#endif
