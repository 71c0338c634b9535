/*
 * The exported functions and the optimize pipeline.
 *
 * morvel_optimize is one straight pipeline: read the input, find and
 * resolve its objects, work out the page structure, serialise everything
 * into memory, and only then create the output. Each stage either succeeds
 * or says what went wrong; containers own everything, so an early return
 * releases it all. Running out of memory anywhere surfaces as
 * std::bad_alloc and is turned into a message here: no exception ever
 * leaves the library.
 */
#include <new>

#include "analyze/attribution.h"
#include "analyze/doc_users.h"
#include "analyze/page_tree.h"
#include "analyze/plan.h"
#include "analyze/signatures.h"
#include "api/messages.h"
#include "base/error.h"
#include "base/input_file.h"
#include "base/output_file.h"
#include "load/loader.h"
#include "morvel.h"
#include "write/file_image.h"
#include "write/hints.h"
#include "write/serialize.h"
#include "write/xref_sections.h"

extern "C" int morvel_init(void) {
    clear_error();
    return 1;
}

extern "C" void morvel_cleanup(void) { clear_error(); }

extern "C" const char* morvel_last_error(void) { return g_err; }

static status optimize(const char* input_path, const char* output_path) {
    document doc;
    if (status s = read_input_file(input_path, doc.input); !s.ok()) return s;
    if (status s = load_document(doc); !s.ok()) return s;
    if (has_signatures(doc)) return failure(problem::signed_document);

    page_tree tree;
    if (status s = find_page_tree(doc, tree); !s.ok()) return s;
    attribution reach = attribute_pages(doc, tree);
    doc_users users = find_doc_users(doc, tree, reach);
    plan order;
    if (status s = make_plan(doc, tree, reach, users, order); !s.ok()) return s;

    std::vector<out_slot> slots = serialize_objects(doc, tree, order);
    trailer_extras extras = find_trailer_extras(doc, order);
    front_offsets front;
    if (status s = place_front(order, slots, extras, front); !s.ok()) return s;
    if (status s = build_hint_stream(doc, reach, order, slots, front.hint_pos); !s.ok()) return s;
    file_image image;
    if (status s = lay_out_file(tree, order, slots, extras, front, doc.version, image); !s.ok()) return s;

    return write_output_file(output_path, image.pieces);
}

extern "C" int morvel_optimize(const char* input_path, const char* output_path) {
    if (!input_path || !*input_path || !output_path || !*output_path) {
        set_error("input_path or output_path is NULL/empty");
        return 0;
    }
    try {
        status s = optimize(input_path, output_path);
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
