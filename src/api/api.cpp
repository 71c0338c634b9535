/*
 * The exported functions.
 *
 * morvel_optimize is one straight pipeline: read the input, rewrite it in
 * memory, and only then create the output. Running out of memory anywhere
 * surfaces as std::bad_alloc and is turned into a message here: no
 * exception ever leaves the library.
 */
#include <new>

#include "api/messages.h"
#include "api/pipeline.h"
#include "base/error.h"
#include "base/input_file.h"
#include "base/output_file.h"
#include "morvel.h"

extern "C" int morvel_init(void) {
    clear_error();
    return 1;
}

extern "C" void morvel_cleanup(void) { clear_error(); }

extern "C" const char* morvel_last_error(void) { return error_text(); }

namespace {

constexpr unsigned KNOWN_FLAGS = MORVEL_OBJECT_STREAMS | MORVEL_ALLOW_SIGNED;

status optimize(const char* input_path, const char* output_path, unsigned flags) {
    if (flags & ~KNOWN_FLAGS) return failure(problem::unknown_flags, flags & ~KNOWN_FLAGS);
    output_options options;
    options.object_streams = (flags & MORVEL_OBJECT_STREAMS) != 0;
    options.allow_signed = (flags & MORVEL_ALLOW_SIGNED) != 0;
    document doc;
    if (status s = read_input_file(input_path, doc.input); !s.ok()) return s;
    linearized_file out;
    if (status s = linearize(doc, options, out); !s.ok()) return s;
    return write_output_file(output_path, out.image.pieces);
}

}  // namespace

extern "C" int morvel_optimize(const char* input_path, const char* output_path) {
    return morvel_optimize_ex(input_path, output_path, 0);
}

extern "C" int morvel_optimize_ex(const char* input_path, const char* output_path, unsigned flags) {
    if (!input_path || !*input_path || !output_path || !*output_path) {
        set_error("input_path or output_path is NULL/empty");
        return 0;
    }
    try {
        status s = optimize(input_path, output_path, flags);
        if (s.ok()) {
            clear_error();
            return 1;
        }
        report(s, input_path, output_path);
    } catch (const std::bad_alloc&) {
        set_error("out of memory optimizing '%s'", input_path);
    } catch (...) {
        set_error("internal error optimizing '%s'", input_path);
    }
    return 0;
}
