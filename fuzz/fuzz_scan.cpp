// libFuzzer target: the object scanner and the referenced-length rules on
// any bytes. Records must come in file order, stay inside the input and
// never overlap; the second scan with the lengths found must hold too.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/input_file.h"
#include "load/object_scan.h"
#include "load/stream_bounds.h"

static void check_table(const input_file& input, const std::vector<pdf_obj>& table) {
    int32_t last_end = 0;
    for (const pdf_obj& o : table) {
        if (o.hdr_pos < last_end || o.end_pos > input.len + 6 || o.hdr_pos > o.endobj_pos) abort();
        if (o.has_stream && (o.data_pos < o.hdr_pos || o.data_end < o.data_pos || o.data_end > input.len ||
                             o.stream != input.data.get() + o.data_pos || o.stream_len != static_cast<uint64_t>(o.data_len)))
            abort();
        last_end = o.endobj_pos;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    input_file input;
    if (!copy_input(data, size, input).ok()) return 0;
    std::vector<pdf_obj> table;
    scan_objects(input, table);
    check_table(input, table);
    std::vector<known_length> lengths = referenced_stream_lengths(input, table);
    for (size_t k = 1; k < lengths.size(); k++)
        if (lengths[k].hdr_pos <= lengths[k - 1].hdr_pos) abort();
    if (!lengths.empty()) {
        std::vector<pdf_obj> again;
        scan_objects(input, again, lengths);
        check_table(input, again);
    }
    return 0;
}
