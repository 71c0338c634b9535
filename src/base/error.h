/*
 * The library's error text: one message, replaced by each failing call and
 * emptied by each successful one. set_error is its only writer besides
 * clear_error; the exported morvel_last_error hands out a pointer to it.
 */
#ifndef MORVEL_BASE_ERROR_H
#define MORVEL_BASE_ERROR_H

#include <cstddef>

inline constexpr size_t ERR_CAP = 1024;

extern char g_err[ERR_CAP];

// Formats the message into g_err, replacing what was there; a text longer
// than 1023 bytes is cut there and stays NUL-terminated.
void set_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

inline void clear_error() { g_err[0] = '\0'; }

#endif
