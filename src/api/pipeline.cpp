/*
 * The stages in order. Each one either succeeds or says what went wrong;
 * containers own everything, so an early return releases it all.
 */
#include "api/pipeline.h"

#include "analyze/attribution.h"
#include "analyze/doc_users.h"
#include "analyze/page_tree.h"
#include "analyze/plan.h"
#include "analyze/signatures.h"
#include "load/loader.h"
#include "write/hints.h"
#include "write/xref_sections.h"

std::string linearized_file::bytes() const {
    std::string out;
    out.reserve(image.total);
    for (const iovec& piece : image.pieces) out.append(static_cast<const char*>(piece.iov_base), piece.iov_len);
    return out;
}

status linearize(document& doc, linearized_file& out) {
    if (status s = load_document(doc); !s.ok()) return s;
    if (has_signatures(doc)) return failure(problem::signed_document);

    page_tree tree;
    if (status s = find_page_tree(doc, tree); !s.ok()) return s;
    attribution reach = attribute_pages(doc, tree);
    doc_users users = find_doc_users(doc, tree, reach);
    plan order;
    if (status s = make_plan(doc, tree, reach, users, order); !s.ok()) return s;

    out.slots = serialize_objects(doc, tree, order);
    trailer_extras extras = find_trailer_extras(doc, order);
    front_offsets front;
    if (status s = place_front(order, out.slots, extras, front); !s.ok()) return s;
    if (status s = build_hint_stream(doc, reach, order, out.slots, front.hint_pos); !s.ok()) return s;
    return lay_out_file(tree, order, out.slots, extras, front, doc.version, out.image);
}
