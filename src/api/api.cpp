/*
 * The exported functions and the optimize pipeline.
 *
 * morvel_optimize is one straight pipeline: read the input, find and
 * resolve its objects, work out the page structure, serialise everything
 * into memory, and only then create the output. Each phase either succeeds
 * or has already written its message; containers own everything, so an
 * early return releases it all. Running out of memory anywhere surfaces as
 * std::bad_alloc and is turned into a message here: no exception ever
 * leaves the library.
 */
#include "base/error.h"

#include <new>

#include "load/load.h"
#include "morvel.h"
#include "analyze/pages.h"
#include "write/writer.h"

extern "C" int morvel_init(void) {
    clear_error();
    return 1;
}

extern "C" void morvel_cleanup(void) { clear_error(); }

extern "C" const char* morvel_last_error(void) { return g_err; }

static int optimize(const char* input_path, const char* output_path) {
    input_file input;
    if (!read_input(input_path, output_path, input)) return 0;

    obj_list objects;
    if (!load_objects(input, input_path, objects)) return 0;

    page_layout layout;
    if (!analyze_pages(input, objects, input_path, layout)) return 0;

    if (!write_linearized(input, objects, layout, input_path, output_path)) return 0;

    clear_error();
    return 1;
}

extern "C" int morvel_optimize(const char* input_path, const char* output_path) {
    try {
        return optimize(input_path, output_path);
    } catch (const std::bad_alloc&) {
        set_error("out of memory optimizing '%s'", input_path);
    } catch (...) {
        set_error("internal error optimizing '%s'", input_path);
    }
    return 0;
}
