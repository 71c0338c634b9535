/*
 * Building object streams from serialised objects.
 *
 * A member's slot holds "N 0 obj\n", its body and "\nendobj\n"; the stream
 * keeps only the body. The header lists "number offset" pairs, offsets
 * counted from /First; bodies are separated by a line feed.
 */
#include "write/object_streams.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <string_view>

#include "base/buffer.h"
#include "base/input_file.h"
#include "deflate/flate.h"

namespace {

std::string_view body_of(const out_slot& slot) {
    std::string_view text(slot.head);
    size_t start = text.find('\n');
    size_t tail = text.rfind("\nendobj\n");
    if (start == std::string_view::npos || tail == std::string_view::npos || tail < start + 1) return {};
    return text.substr(start + 1, tail - start - 1);
}

std::string stream_text(const packed_stream& s, const std::vector<out_slot>& slots, size_t& first) {
    out_buf header, bodies;
    for (int32_t n : s.members) {
        buf_printf(header, "%d %zu ", n, bodies.len());
        std::string_view body = body_of(slots[static_cast<size_t>(n)]);
        buf_bytes(bodies, body.data(), body.size());
        buf_bytes(bodies, "\n", 1);
    }
    first = header.len();
    return header.data + bodies.data;
}

}  // namespace

void pack_object_streams(const plan& order, std::vector<out_slot>& slots) {
    for (const packed_stream& s : order.packed) {
        size_t first = 0;
        std::string text = stream_text(s, slots, first);
        uint8_t* packed = nullptr;
        size_t packed_len = 0;
        if (sx_deflate(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &packed, &packed_len,
                       deflate_effort::fast) != 0)
            throw std::bad_alloc();
        std::unique_ptr<uint8_t, free_deleter> owned(packed);
        out_buf obj;
        buf_printf(obj, "%d 0 obj\n<</Type/ObjStm/N %zu/First %zu/Filter/FlateDecode/Length %zu>>\nstream\n",
                   s.num, s.members.size(), first, packed_len);
        buf_bytes(obj, packed, packed_len);
        buf_bytes(obj, STREAM_TAIL, STREAM_TAIL_LEN);
        out_slot& slot = slots[static_cast<size_t>(s.num)];
        slot = out_slot();
        slot.head = std::move(obj.data);
        for (int32_t n : s.members) slots[static_cast<size_t>(n)] = out_slot();
    }
}
