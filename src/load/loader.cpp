/*
 * The order of the loading steps. Each step only shrinks or refines what
 * the one before it found; only an encrypted input, an object stream too
 * large to decode and an input without any object stop the call.
 */
#include "load/loader.h"

#include "base/piece_writer.h"
#include "load/duplicates.h"
#include "load/encryption.h"
#include "load/file_header.h"
#include "load/landmarks.h"
#include "load/object_scan.h"
#include "load/object_streams.h"
#include "load/stream_bounds.h"
#include "load/stream_lengths.h"
#include "load/trailer_facts.h"

status load_document(document& doc) {
    const char* buf = doc.input.data.get();
    int32_t len = doc.input.len;
    doc.objects.items.clear();
    doc.xref_streams.clear();
    doc.unpacked.clear();
    landmarks marks = find_landmarks(buf, len);
    scan_objects(doc.input, doc.objects.items);
    // An encrypted file is refused before anything reads what the scan found.
    if (mentions_encryption(buf, len, marks)) return failure(problem::encrypted);
    std::vector<known_length> lengths = referenced_stream_lengths(doc.input, doc.objects.items);
    if (!lengths.empty()) {
        doc.objects.items.clear();
        scan_objects(doc.input, doc.objects.items, lengths);
    }
    if (status s = expand_object_streams(doc.objects.items, doc.xref_streams, doc.unpacked); !s.ok()) return s;
    resolve_duplicates(doc);
    doc.objects.build_index();
    fix_referenced_lengths(doc.input, doc.objects);
    if (doc.objects.items.empty()) return failure(problem::no_objects);
    doc.trailer = find_trailer_facts(doc.input, doc.xref_streams, marks);
    doc.version = header_version(doc.input);
    return {};
}

void release_copied_stream_data(document& doc) {
    for (const pdf_obj& o : doc.objects.items)
        if (o.has_stream && o.stream && o.stream_len >= FROM_FILE_MIN)
            release_input_range(doc.input, o.stream, static_cast<size_t>(o.stream_len));
}
