/*
 * Building object streams from serialised objects.
 *
 * A member's slot holds "N 0 obj\n", its body and "\nendobj\n"; the stream
 * keeps only the body. The header lists "number offset" pairs, offsets
 * counted from /First; bodies are separated by a line feed.
 */
#include "write/object_streams.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <string_view>

#include "base/buffer.h"
#include "base/input_file.h"
#include "base/parallel.h"
#include "deflate/flate.h"

namespace {

// Each thread needs this much text to pay for itself.
constexpr size_t PARALLEL_BYTES = 256u << 10;

struct compressed_text {
    std::unique_ptr<uint8_t, free_deleter> data;
    size_t len = 0;
};

std::string_view body_of(const out_slot& slot) {
    std::string_view text = slot.text();
    size_t start = text.find('\n');
    size_t tail = text.rfind("\nendobj\n");
    if (start == std::string_view::npos || tail == std::string_view::npos || tail < start + 1) return {};
    return text.substr(start + 1, tail - start - 1);
}

std::string stream_text(const packed_stream& s, const std::vector<out_slot>& slots, size_t& first) {
    out_buf header, bodies;
    for (int32_t n : s.members) {
        buf_int(header, n);
        buf_bytes(header, " ", 1);
        buf_int(header, static_cast<int64_t>(bodies.len()));
        buf_bytes(header, " ", 1);
        std::string_view body = body_of(slots[static_cast<size_t>(n)]);
        buf_bytes(bodies, body.data(), body.size());
        buf_bytes(bodies, "\n", 1);
    }
    first = header.len();
    return header.data + bodies.data;
}

}  // namespace

void pack_object_streams(const plan& order, std::vector<out_slot>& slots) {
    size_t count = order.packed.size();
    std::vector<std::string> texts(count);
    std::vector<size_t> firsts(count);
    size_t total = 0;
    for (size_t i = 0; i < count; i++) {
        texts[i] = stream_text(order.packed[i], slots, firsts[i]);
        total += texts[i].size();
    }
    // Compressing is most of the form's extra cost; the streams are
    // independent, so large documents spread them over a few threads.
    std::vector<compressed_text> packed(count);
    for_each_item(count, threads_for(total, PARALLEL_BYTES), 1, [&](size_t i, size_t) {
        uint8_t* data = nullptr;
        size_t len = 0;
        if (sx_deflate(reinterpret_cast<const uint8_t*>(texts[i].data()), texts[i].size(), &data, &len,
                       deflate_effort::fast) != 0)
            throw std::bad_alloc();
        packed[i].data.reset(data);
        packed[i].len = len;
    });

    for (size_t i = 0; i < count; i++) {
        const packed_stream& s = order.packed[i];
        out_buf obj;
        buf_printf(obj, "%d 0 obj\n<</Type/ObjStm/N %zu/First %zu/Filter/FlateDecode/Length %zu>>\nstream\n", s.num,
                   s.members.size(), firsts[i], packed[i].len);
        buf_bytes(obj, packed[i].data.get(), packed[i].len);
        buf_bytes(obj, STREAM_TAIL, STREAM_TAIL_LEN);
        out_slot& slot = slots[static_cast<size_t>(s.num)];
        slot = out_slot();
        slot.head = std::move(obj.data);
        for (int32_t n : s.members) slots[static_cast<size_t>(n)] = out_slot();
    }
}
