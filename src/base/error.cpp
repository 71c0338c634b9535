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
thread_local int sys_errno = 0;

}  // namespace

void set_error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, ERR_CAP, fmt, ap);
    va_end(ap);
    sys_errno = 0;
}

void set_error_errno(int err) { sys_errno = err; }

void clear_error() {
    text[0] = '\0';
    sys_errno = 0;
}

int error_errno() { return sys_errno; }

const char* error_text() { return text; }
