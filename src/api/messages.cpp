/*
 * One table of morvel_optimize's messages. The texts are part of the
 * library's interface: callers match them, so each stays exactly as it is.
 */
#include "api/messages.h"

#include "base/error.h"

namespace {

void describe(const status& s, const char* in, const char* out) {
    long long v = static_cast<long long>(s.value);
    switch (s.what) {
        case problem::none:
            return;
        case problem::unknown_flags:
            return set_error("unknown flags 0x%x", static_cast<unsigned>(v));
        case problem::input_unopenable:
            return set_error("cannot open file '%s'", in);
        case problem::input_not_regular:
            return set_error("'%s' is not a regular file", in);
        case problem::input_too_large:
            return set_error("file '%s' is too large (%lld bytes)", in, v);
        case problem::input_no_memory:
            return set_error("out of memory reading '%s'", in);
        case problem::input_short_read:
            return set_error("read error on '%s'", in);
        case problem::encrypted:
            return set_error("encrypted PDFs are not supported \xE2\x80\x94 decrypt first: '%s'", in);
        case problem::no_objects:
            return set_error("no valid PDF objects found in '%s'", in);
        case problem::objstm_too_large:
            return set_error("object stream %d 0 is too large to decode in '%s'", static_cast<int>(v), in);
        case problem::signed_document:
            return set_error("'%s' is signed: linearizing would invalidate its signatures", in);
        case problem::no_pages:
            return set_error("failed to find valid pages in '%s' (found %d)", in, static_cast<int>(v));
        case problem::numbers_out_of_range:
            return set_error("object numbers out of range (max %ld) in '%s'", static_cast<long>(v), in);
        case problem::hint_compression:
            return set_error("failed to compress linearization hint stream");
        case problem::output_too_large:
            return set_error("linearized output of '%s' would exceed 2 GiB", in);
        case problem::output_unopenable:
            return set_error("cannot open '%s' for writing", out);
        case problem::output_unwritable:
            return set_error("cannot write '%s'", out);
        case problem::input_changed:
            return set_error("'%s' changed while it was being optimized", in);
    }
}

}  // namespace

void report(const status& s, const char* in, const char* out) {
    describe(s, in, out);
    set_error_errno(s.sys_errno);
}
