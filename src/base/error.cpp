/*
 * The error text and its writer.
 */
#include "base/error.h"

#include <cstdarg>
#include <cstdio>

thread_local char g_err[ERR_CAP];

void set_error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(g_err, ERR_CAP, fmt, ap);
    va_end(ap);
}
