/*
 * The library's error text and the driver of morvel_optimize.
 *
 * Every failure of an exported call leaves exactly one message in g_err;
 * every success empties it. set_error is the only writer besides the
 * successes and morvel_init/morvel_cleanup.
 */
#ifndef MORVEL_API_INTERNAL_H
#define MORVEL_API_INTERNAL_H

#include <cstddef>

inline constexpr size_t ERR_CAP = 1024;

extern char g_err[ERR_CAP];

// Formats the message into g_err, replacing what was there; a text longer
// than 1023 bytes is cut there and stays NUL-terminated.
void set_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

inline void clear_error() { g_err[0] = '\0'; }

#endif
