/*
 * Stream lengths given by reference, and the /Length the output writes.
 *
 * The scanner bounds a stream by a direct /Length alone; a length given by
 * reference can only be read once the table is complete. The writer keeps
 * a /Length that already equals the data and replaces any other.
 */
#include "load/stream_lengths.h"

#include "pdf/lexer.h"
#include "pdf/stream_extent.h"

void fix_referenced_lengths(const input_file& input, obj_list& objects) {
    for (pdf_obj& o : objects.items) {
        if (!o.has_stream || !o.has_body() || !o.length_ref) continue;
        length_entry e = read_length_entry(o.body.data(), o.body_len());
        // "-1 0 R" reads as the integer -1 first and is no length reference here.
        if (e.value == -1 || e.ref_end < 0) continue;
        const pdf_obj* len_obj = objects.find(e.ref_num);
        if (!len_obj || !len_obj->has_body()) continue;
        int32_t value = plain_integer(len_obj->body.data(), len_obj->body_len());
        if (value < 0) continue;
        if (endstream_after(input.data.get(), input.len, static_cast<int64_t>(o.data_pos) + value) < 0) continue;
        o.data_end = o.data_pos + value;
        o.data_len = value;
        o.stream = input.data.get() + o.data_pos;
        o.stream_len = static_cast<uint64_t>(value);
    }
}

// A length object is usable as written when its text is one non-negative
// integer, surrounded by white space only, equal to the data length.
static bool length_object_matches(const pdf_obj* target, uint64_t stream_len) {
    if (!target || !target->has_body()) return false;
    int32_t v = plain_integer(target->body.data(), target->body_len());
    return v >= 0 && static_cast<uint64_t>(v) == stream_len;
}

// The first /Length key decides. A value that does not start with an
// integer (a name, null, something malformed) is replaced as one token: from
// its first byte (a name's slash included) up to the next white space or
// delimiter; the range is empty when a delimiter follows the key directly, so
// a value such as an array is left for the writer to put the integer before.
length_fix stream_length_fix(const obj_list& objects, const pdf_obj& obj) {
    length_fix fix;
    if (!obj.has_stream || !obj.stream) return fix;
    const char* b = obj.body.data();
    int32_t len = obj.body_len();
    length_entry e = read_length_entry(b, len);
    if (e.key < 0) {
        fix.kind = length_fix::INSERT;
        return fix;
    }
    fix.kind = length_fix::REPLACE;
    fix.value_start = e.value_start;
    if (e.int_end < 0) {
        int32_t j = e.value_start;
        if (j < len && b[j] == '/') j++;
        fix.value_end = regular_run_end(b, len, j);
        return fix;
    }
    if (e.ref_end >= 0) {
        if (length_object_matches(objects.find(e.ref_num), obj.stream_len)) return length_fix();
        fix.value_end = e.ref_end;
        fix.value_is_ref = true;
        return fix;
    }
    if (e.value >= 0 && static_cast<uint64_t>(e.value) == obj.stream_len) return length_fix();
    fix.value_end = e.int_end;
    return fix;
}
