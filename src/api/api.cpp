/*
 * The exported functions.
 *
 * morvel_optimize is one straight pipeline: read the input, rewrite it in
 * memory, and only then create the output; the in-memory calls take the
 * same pipeline between a copy of the caller's bytes and a buffer of ours. Running out of memory anywhere
 * surfaces as std::bad_alloc and is turned into a message here: no
 * exception ever leaves the library.
 */
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

extern "C" int morvel_last_errno(void) { return error_errno(); }

extern "C" const char* morvel_version(void) { return MORVEL_VERSION; }

extern "C" void morvel_free(void* p) { free(p); }

namespace {

constexpr unsigned KNOWN_FLAGS = MORVEL_OBJECT_STREAMS | MORVEL_ALLOW_SIGNED;

status options_of(unsigned flags, output_options& options) {
    if (flags & ~KNOWN_FLAGS) return failure(problem::unknown_flags, flags & ~KNOWN_FLAGS);
    options.object_streams = (flags & MORVEL_OBJECT_STREAMS) != 0;
    options.allow_signed = (flags & MORVEL_ALLOW_SIGNED) != 0;
    return {};
}

status optimize(const char* input_path, const char* output_path, unsigned flags) {
    output_options options;
    if (status s = options_of(flags, options); !s.ok()) return s;
    options.release_input = true;
    document doc;
    if (status s = read_input_file(input_path, doc.input); !s.ok()) return s;
    linearized_file out;
    if (status s = linearize(doc, options, out); !s.ok()) return s;
    return write_output_file(output_path, out.image.pieces, &doc.input);
}

status optimize_mem(const void* input, size_t input_len, void** output, size_t* output_len, unsigned flags) {
    output_options options;
    if (status s = options_of(flags, options); !s.ok()) return s;
    document doc;
    if (status s = copy_input(input, input_len, doc.input); !s.ok()) return s;
    linearized_file out;
    if (status s = linearize(doc, options, out); !s.ok()) return s;
    auto* bytes = static_cast<char*>(malloc(out.image.total ? out.image.total : 1));
    if (!bytes) throw std::bad_alloc();
    size_t at = 0;
    for (const iovec& piece : out.image.pieces) {
        memcpy(bytes + at, piece.iov_base, piece.iov_len);
        at += piece.iov_len;
    }
    *output = bytes;
    *output_len = at;
    return {};
}

// The call's outcome as the exported functions give it; no exception
// gets past this.
template <class Call>
int run_call(const char* input_name, const char* output_name, Call call) {
    try {
        status s = call();
        if (s.ok()) {
            clear_error();
            return 1;
        }
        report(s, input_name, output_name);
    } catch (const std::bad_alloc&) {
        set_error("out of memory optimizing '%s'", input_name);
        set_error_errno(ENOMEM);
    } catch (...) {
        set_error("internal error optimizing '%s'", input_name);
    }
    return 0;
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
    return run_call(input_path, output_path, [&] { return optimize(input_path, output_path, flags); });
}

extern "C" int morvel_optimize_mem(const void* input, size_t input_len, void** output, size_t* output_len,
                                   unsigned flags) {
    if (output) *output = nullptr;
    if (output_len) *output_len = 0;
    if (!input || !output || !output_len) {
        set_error("input, output or output_len is NULL");
        return 0;
    }
    return run_call("<memory>", "<memory>",
                    [&] { return optimize_mem(input, input_len, output, output_len, flags); });
}
