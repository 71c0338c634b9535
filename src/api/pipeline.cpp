/*
 * The stages in order. Each one either succeeds or says what went wrong;
 * containers own everything, so an early return releases it all.
 */
#include "api/pipeline.h"

#include <algorithm>

#include "analyze/attribution.h"
#include "analyze/conformance.h"
#include "analyze/doc_users.h"
#include "analyze/page_tree.h"
#include "analyze/plan.h"
#include "analyze/signatures.h"
#include "load/loader.h"
#include "write/hints.h"
#include "write/object_streams.h"
#include "write/xref_sections.h"

std::string linearized_file::bytes() const {
    std::string out;
    out.reserve(image.total);
    for (const iovec& piece : image.pieces) out.append(static_cast<const char*>(piece.iov_base), piece.iov_len);
    return out;
}

// The compact form's layout: the object streams, then the layout as often
// as the first-page cross-reference stream outgrows the room reserved for
// it (rarely more than twice: the room only grows, the stream barely).
static status lay_out_compact(const document& doc, const page_tree& tree, const attribution& reach, const plan& order,
                              const trailer_extras& extras, linearized_file& out) {
    pack_object_streams(order, out.slots);
    int64_t reserved = 0;
    for (;;) {
        front_offsets front;
        if (status s = place_front_packed(order, out.slots, reserved, front); !s.ok()) return s;
        if (status s = build_hint_stream(doc, reach, order, out.slots, front.hint_pos); !s.ok()) return s;
        int64_t needed = 0;
        status s = lay_out_packed(tree, order, out.slots, extras, front, doc.version, reserved, out.image, &needed);
        if (!s.ok() || needed <= reserved) return s;
        reserved = std::max(needed + 16, reserved + 64);
    }
}

status linearize(document& doc, const output_options& options, linearized_file& out) {
    if (status s = load_document(doc); !s.ok()) return s;
    if (!options.allow_signed && has_signatures(doc)) return failure(problem::signed_document);

    page_tree tree;
    if (status s = find_page_tree(doc, tree); !s.ok()) return s;
    plan_options form;
    form.compact = options.object_streams && !declares_pdfa1(doc, tree);
    // The last look at stream data was the metadata's, just now.
    if (options.release_input) release_copied_stream_data(doc);
    attribution reach = attribute_pages(doc, tree);
    doc_users users = find_doc_users(doc, tree, reach);
    plan order;
    if (status s = make_plan(doc, tree, reach, users, form, order); !s.ok()) return s;

    out.slots = serialize_objects(doc, tree, order, out.texts, &reach.refs);
    trailer_extras extras = find_trailer_extras(doc, order);
    if (order.compact) return lay_out_compact(doc, tree, reach, order, extras, out);
    front_offsets front;
    if (status s = place_front(order, out.slots, extras, front); !s.ok()) return s;
    if (status s = build_hint_stream(doc, reach, order, out.slots, front.hint_pos); !s.ok()) return s;
    return lay_out_file(tree, order, out.slots, extras, front, doc.version, out.image);
}
