/*
 * The error text and its writer. The buffer is reached only through these
 * functions, so no other unit depends on how thread-local storage is laid
 * out.
 */
#include "base/error.h"

#include <cstdarg>
#include <cstdio>

namespace {

thread_local char text[ERR_CAP];

}  // namespace

void set_error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, ERR_CAP, fmt, ap);
    va_end(ap);
}

void clear_error() { text[0] = '\0'; }

const char* error_text() { return text; }
