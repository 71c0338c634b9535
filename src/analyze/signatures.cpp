/*
 * Finding signature dictionaries among the objects: every body is looked
 * at, so a large document looks at blocks of them on a few threads.
 */
#include "analyze/signatures.h"

#include <algorithm>
#include <atomic>

#include "base/parallel.h"
#include "pdf/lexer.h"

namespace {

constexpr size_t BLOCK = 1024;
constexpr size_t RECORDS_PER_THREAD = 8192;

bool is_signature(const pdf_obj& o) {
    const char* b = o.body.data();
    int32_t n = o.body_len();
    return find_name(b, n, 0, n, "ByteRange") >= 0 && find_name(b, n, 0, n, "Contents") >= 0;
}

}  // namespace

bool has_signatures(const document& doc) {
    const std::vector<pdf_obj>& items = doc.objects.items;
    size_t blocks = (items.size() + BLOCK - 1) / BLOCK;
    std::atomic<bool> found{false};
    for_each_item(blocks, threads_for(items.size(), RECORDS_PER_THREAD), 1, [&](size_t b, size_t) {
        for (size_t i = b * BLOCK; i < std::min(items.size(), (b + 1) * BLOCK) && !found; i++)
            if (is_signature(items[i])) found = true;
    });
    return found;
}
